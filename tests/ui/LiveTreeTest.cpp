#include "ui/LiveTree.h"

#include <QApplication>
#include <QScreen>
#include <QStyledItemDelegate>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

// New values in every cell, or only in `column` of every third row.
void Fill(QTreeWidget& tree, int epoch, int column = -1)
{
    for (int r = 0; r < tree.topLevelItemCount(); r += column < 0 ? 1 : 3) {
        for (int c = std::max(column, 0); c < (column < 0 ? tree.columnCount() : column + 1); ++c) {
            tree.topLevelItem(r)->setText(c, QString::number((r * 7 + c * 3 + epoch) % 40 + 10) + "+-"[epoch % 2]);
        }
    }
}

// The tree as a plain delegate paints it whole.
QImage Reference(QTreeWidget& tree)
{
    QAbstractItemDelegate* live = tree.itemDelegate();
    QStyledItemDelegate plain;
    tree.setItemDelegate(&plain);
    const QImage image = tree.grab().toImage();
    tree.setItemDelegate(live);
    return image;
}

// A satellite list looks exactly as a plain tree widget does: painted whole or only where cells changed, with a
// selected and current row, with texts cut short by a narrow column, and with values seen before.
TEST(LiveTree, PaintsThePixelsOfThePlainTreeWidget)
{
    CLiveTree tree;
    tree.setRootIsDecorated(false);
    tree.setUniformRowHeights(true);
    tree.setHeaderLabels({"#", "EL", "AZ", "CA", "TC"});
    for (int r = 0; r < 12; ++r) {
        tree.addTopLevelItem(new QTreeWidgetItem());
    }
    tree.setColumnWidth(4, 14);  // "10+" does not fit: cut short with an ellipsis
    tree.resize(260, 240);
    tree.show();
    QApplication::setActiveWindow(&tree);
    tree.setFocus();
    const struct
    {
        const char* what;
        int epoch;
        int column;    // the only column changed, or -1
        int selected;  // row, or -1
    } cases[] = {
        {"first paint", 0, -1, -1},       {"every value new", 1, -1, -1},
        {"a few cells new", 2, 2, -1},    {"a row selected and current", 3, -1, 4},
        {"values seen before", 0, -1, 4}, {"selection gone", 5, 1, -1},
    };
    for (const auto& c : cases) {
        QApplication::processEvents();  // the whole repaint after the last reference done
        Fill(tree, c.epoch, c.column);
        if (QTreeWidgetItem* current = c.selected >= 0 ? tree.topLevelItem(c.selected) : nullptr;
            tree.currentItem() != current) {
            tree.setCurrentItem(current);
        }
        QApplication::processEvents();
        // What reached the window after the repaints of the changed cells alone, and a whole fresh paint.
        const QImage shown = tree.screen()->grabWindow(tree.winId()).toImage();
        const QImage expected = Reference(tree);
        EXPECT_TRUE(shown.convertToFormat(expected.format()) == expected) << c.what;
        EXPECT_TRUE(tree.grab().toImage() == expected) << c.what;
    }
}

}  // namespace
