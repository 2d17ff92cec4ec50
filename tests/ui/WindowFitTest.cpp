#include "ui/ElidedLabel.h"
#include "ui/WindowFit.h"

#include <QApplication>
#include <QDialog>
#include <QHelpEvent>
#include <QLabel>
#include <QScreen>
#include <QToolTip>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace {

QRect Area()
{
    return QGuiApplication::primaryScreen()->availableGeometry();
}

void Show(QWidget& window)
{
    window.show();
    // The fit after showing, once the frame is known.
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

// A window asked larger than the screen and one the window manager puts partly off it both end within the screen
// with their frames.
TEST(WindowFitTest, WindowsEndWithinTheScreenFrameIncluded)
{
    QWidget large;
    FitToScreen(&large, Area().size());
    Show(large);
    EXPECT_TRUE(Area().contains(large.frameGeometry()));
    EXPECT_EQ(large.frameGeometry().height(), Area().height());

    QWidget small;
    FitToScreen(&small, QSize(200, 100));
    Show(small);
    EXPECT_EQ(small.size(), QSize(200, 100));
    small.move(Area().right() - 50, Area().bottom() - 50);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_TRUE(Area().contains(small.frameGeometry()));
    EXPECT_EQ(small.size(), QSize(200, 100));
}

// A long status never widens its window; its middle gives way, and the tooltip holds it whole.
TEST(ElidedLabelTest, ALongTextElidesInTheMiddleAndKeepsTheWindowsWidth)
{
    QDialog dialog;
    auto* label = new CElidedLabel(&dialog);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(label);
    dialog.resize(300, 80);
    dialog.show();
    QCoreApplication::processEvents();
    label->setText(QStringLiteral("Short"));
    EXPECT_FALSE(label->IsElided());

    const QString path = QStringLiteral("Download file : /log/") + QString(200, QLatin1Char('x')) +
                         QStringLiteral(" to /home/surveyor/jobs/end.kvs");
    label->setText(path);
    layout->activate();
    QCoreApplication::processEvents();
    EXPECT_EQ(dialog.width(), 300);
    EXPECT_LE(dialog.minimumSizeHint().width(), 300);
    EXPECT_EQ(label->text(), path);
    const QString shown = label->ShownText();
    EXPECT_TRUE(shown.startsWith(QLatin1String("Download file"))) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith(QLatin1String("end.kvs"))) << shown.toStdString();
    EXPECT_TRUE(shown.contains(QChar(0x2026)));

    QHelpEvent help(QEvent::ToolTip, QPoint(5, 5), label->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(label, &help);
    EXPECT_EQ(QToolTip::text(), path);
    QToolTip::hideText();
}

}  // namespace
