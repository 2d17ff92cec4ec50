// The "Message" window against a real server.

#include "ServerProcess.h"

#include "app/MessageDlg.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <functional>

namespace {

TEST(MessageDlgTest, ReadsSendsDeletesAndStops)
{
    CServerProcess server;
    ASSERT_TRUE(server.Start());
    ServerClient alice;
    ServerClient bob;
    ASSERT_TRUE(alice.Open(server.Address(), "alice"));
    ASSERT_TRUE(bob.Open(server.Address(), "bob"));
    ASSERT_TRUE(alice.connection.SetMsg("bob", "short", QString(1024, QLatin1Char('a'))));
    ASSERT_TRUE(alice.connection.SetMsg("bob", "long", QString(1025, QLatin1Char('b'))));

    CConnection* connection = &bob.connection;
    CMessageDlg dlg([&] { return connection; });
    dlg.Open();
    auto* to = dlg.findChild<QComboBox*>("toUser");
    auto* list = dlg.findChild<QTreeWidget*>("messageList");
    auto* text = dlg.findChild<QPlainTextEdit*>("messageText");
    auto* subject = dlg.findChild<QLineEdit*>("subject");
    auto* path = dlg.findChild<QLineEdit*>("pathFile");
    // Only users with the letter "e" are offered: Bob himself is not.
    ASSERT_EQ(to->count(), 2);
    EXPECT_EQ(to->itemText(0), "alice");
    ASSERT_EQ(list->topLevelItemCount(), 2);

    dlg.Delete();
    EXPECT_EQ(dlg.Status(), "Select message to delete");
    EXPECT_EQ(list->topLevelItemCount(), 2);

    // 1024 bytes are shown, 1025 go to the folder of "Path/File:".
    QTemporaryDir folder;
    path->setText(folder.path());
    list->setCurrentItem(list->topLevelItem(0));
    dlg.Get();
    EXPECT_EQ(subject->text(), "short");
    EXPECT_EQ(text->toPlainText(), QString(1024, QLatin1Char('a')));
    list->setCurrentItem(list->topLevelItem(1));
    text->clear();
    dlg.Get();
    EXPECT_TRUE(text->toPlainText().isEmpty());
    EXPECT_EQ(ReadFile(folder.filePath(list->topLevelItem(1)->text(0))), QByteArray(1025, 'b'))
        << dlg.Status().toStdString();

    // A file goes out in the background: Send returns at once, and the window's commands (the main frame's
    // "Message" refreshes the list) work meanwhile, without an event loop inside the transfer.
    ASSERT_TRUE(WriteFile(folder.filePath("big.bin"), QByteArray(3 * 1024 * 1024, 'z')));
    path->setText(folder.filePath("big.bin"));
    subject->setText("big");
    auto* cancel = dlg.findChild<QPushButton*>("cancel");
    dlg.Send();
    EXPECT_TRUE(dlg.Busy());
    EXPECT_EQ(cancel->text(), "Stop");
    dlg.GetList();
    EXPECT_EQ(list->topLevelItemCount(), 2);
    ASSERT_TRUE(PumpUntil([&] { return !dlg.Busy(); }));
    EXPECT_EQ(dlg.Status(), "Message sent to alice");
    std::vector<REMOTE_MSG> aliceList;
    ASSERT_TRUE(alice.connection.GetMsgList(aliceList));
    ASSERT_EQ(aliceList.size(), 1u);
    EXPECT_EQ(aliceList[0].size, "3145728");

    // "Stop" ends the window's own transfer at once, and nothing more arrives.
    subject->setText("stopped");
    dlg.Send();
    cancel->click();
    EXPECT_EQ(dlg.Status(), "Aborted by user!");
    EXPECT_EQ(cancel->text(), "Cancel");
    PumpUntil([] { return false; }, 500);  // the abort reaches the server
    ASSERT_TRUE(alice.connection.GetMsgList(aliceList));
    EXPECT_EQ(aliceList.size(), 1u);
    EXPECT_EQ(dlg.Status(), "Aborted by user!");

    // A failed "Get list" says why instead of showing an empty list as if there were no messages.
    server.Kill();
    ASSERT_TRUE(bob.WaitFor(CConnection::kMsgServerLost, 5000));
    dlg.GetList();
    EXPECT_EQ(list->topLevelItemCount(), 0);
    EXPECT_FALSE(dlg.Status().isEmpty());
}

TEST(MessageDlgTest, PercentAndRecipientsStayInBounds)
{
    EXPECT_EQ(CMessageDlg::Percent(0, 0), 99);
    EXPECT_EQ(CMessageDlg::Percent(0, 1000), 0);
    EXPECT_EQ(CMessageDlg::Percent(1000, 1000), 99);
    EXPECT_EQ(CMessageDlg::Percent(500, 1000), 50);
    EXPECT_EQ(CMessageDlg::Recipients("USRa b/e\nme/m\nx/e\nbroken\ny/e\n"), (QStringList{"a b", "x"}));
}

}  // namespace
