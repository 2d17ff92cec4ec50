#include "ui/FolderTree.h"

#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <gtest/gtest.h>

TEST(FolderTree, NewFolderNamesAreChecked)
{
    for (const char* bad :
         {"", "  ", ".", "..", "a/b", "a\\b", "a\tb", "q\"q", "x:y", "a*", "CON", "nul.txt", "LPT1"}) {
        EXPECT_FALSE(CFolderTree::FolderNameProblem(QString::fromLatin1(bad)).isEmpty()) << bad;
    }
    EXPECT_FALSE(CFolderTree::FolderNameProblem(QString(300, QLatin1Char('a'))).isEmpty());
    for (const char* good : {"logs", " site 1 ", "2024.06.01", "console"}) {
        EXPECT_TRUE(CFolderTree::FolderNameProblem(QString::fromLatin1(good)).isEmpty()) << good;
    }
}

TEST(FolderTree, ChoosesCreatesAndSignalsFolders)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkpath("a/b"));
    CFolderTree tree(".kvs");
    QSignalSpy changed(&tree, &CFolderTree::PathChanged);
    tree.SetPath(dir.path() + "/a/b");
    EXPECT_EQ(tree.Path(), dir.path() + "/a/b/");
    EXPECT_EQ(changed.count(), 1);
    auto* view = tree.findChild<QTreeWidget*>("folderTreeView");
    EXPECT_EQ(view->topLevelItem(0)->text(0), QStringLiteral("My Device"));
    EXPECT_EQ(view->currentItem()->text(0), QStringLiteral("b"));

    // A missing folder is kept as chosen; the tree shows its nearest parent.
    tree.SetPath(dir.path() + "/a/missing");
    EXPECT_EQ(tree.Path(), dir.path() + "/a/missing/");
    EXPECT_EQ(view->currentItem()->text(0), QStringLiteral("a"));

    // Clicking a folder chooses it.
    view->setCurrentItem(view->currentItem()->child(0));
    EXPECT_EQ(tree.Path(), dir.path() + "/a/b/");

    auto* name = tree.findChild<QLineEdit*>("newFolderEdit");
    auto* create = tree.findChild<QPushButton*>("createFolderButton");
    EXPECT_FALSE(create->isEnabled());
    name->setText(" new ");
    ASSERT_TRUE(create->isEnabled());
    create->click();
    EXPECT_TRUE(QFileInfo(dir.path() + "/a/b/new").isDir());
    EXPECT_EQ(tree.Path(), dir.path() + "/a/b/new/");
    EXPECT_EQ(view->currentItem()->text(0), QStringLiteral("new"));
    EXPECT_TRUE(name->text().isEmpty());
    EXPECT_FALSE(create->isEnabled());

    tree.SetPath(dir.path() + "/a/b");
    for (const char* refused : {"../up", "new"}) {  // a path, then a folder that is there already
        name->setText(refused);
        QString status;
        EXPECT_FALSE(tree.CreateFolder(&status)) << refused;
        EXPECT_FALSE(status.isEmpty()) << refused;
    }
    EXPECT_FALSE(QFileInfo::exists(dir.path() + "/a/up"));
    EXPECT_EQ(tree.Path(), dir.path() + "/a/b/");
}
