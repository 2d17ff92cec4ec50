// Clients against a real nemola-server process.

#include "ServerProcess.h"

#include "link/GpsData.h"
#include "link/Receiver.h"
#include "link/ServerClient.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

namespace {

class ServerProcessTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_server.Start()) << m_server.Log().toStdString(); }
    CServerProcess m_server;
};

QString Find(const std::vector<REMOTE_MSG>& list, const QString& subject)
{
    for (const auto& m : list) {
        if (m.subject == subject) {
            return m.name;
        }
    }
    return {};
}

TEST_F(ServerProcessTest, TwoClientsExchangeTextsAndFilesThatSurviveARestart)
{
    ServerClient alice;
    ServerClient bob;
    ASSERT_TRUE(alice.Open(m_server.Address(), "alice")) << alice.connection.GetMsgText().toStdString();
    ASSERT_TRUE(bob.Open(m_server.Address(), "bob"));

    // Bob sees the others with "e" and himself with another letter, in the form the window reads.
    int users = 0;
    ASSERT_TRUE(bob.connection.GetUsrList(&users));
    EXPECT_EQ(bob.connection.GetReplyString(), "USRalice/e\nbob/m\ncarol/e\n");
    EXPECT_EQ(users, 3);

    // A text of exactly the inline limit keeps a multi-word subject and every byte, line breaks included.
    const QString text = QString(1000, QLatin1Char('x')) + "\nend of text, %% and \"quotes\"\n";
    ASSERT_TRUE(alice.connection.SetMsg("bob", "a subject of words", text));
    EXPECT_TRUE(bob.WaitFor(CConnection::kMsgNewUserMessage, 3000));

    QTemporaryDir files;
    QByteArray big(300 * 1024 + 1, '\0');
    for (int i = 0; i < big.size(); ++i) {
        big[i] = char(i * 7);
    }
    const QString src = files.filePath("track log.bin");
    ASSERT_TRUE(WriteFile(src, big));
    std::vector<qint64> progress;
    ASSERT_TRUE(alice.connection.SetMsg("bob", "file", src, [&](qint64 done, qint64 total) {
        EXPECT_EQ(total, big.size());
        progress.push_back(done);
        return true;
    })) << alice.connection.GetMsgText().toStdString();
    ASSERT_GE(progress.size(), 2u);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_EQ(progress.back(), big.size());
    EXPECT_TRUE(alice.WaitFor(CConnection::kMsgTransferProgress, 3000));

    // An empty file is a message too, not a division by zero.
    const QString empty = files.filePath("empty");
    ASSERT_TRUE(WriteFile(empty, {}));
    ASSERT_TRUE(alice.connection.SetMsg("bob", "nothing", empty, nullptr));
    ASSERT_TRUE(alice.connection.SetMsg("bob", "nothing", empty, nullptr));

    std::vector<REMOTE_MSG> list;
    ASSERT_TRUE(bob.connection.GetMsgList(list));
    ASSERT_EQ(list.size(), 4u);
    const QString textName = Find(list, "a subject of words");
    const QString fileName = Find(list, "file");
    EXPECT_EQ(list[0].from, "alice");
    EXPECT_EQ(list[1].name, fileName);
    EXPECT_EQ(list[1].size, QString::number(big.size()));
    EXPECT_FALSE(fileName.contains(QLatin1Char(' ')));
    // Two messages of the same name stay apart.
    EXPECT_NE(list[2].name, list[3].name);

    ASSERT_TRUE(bob.connection.GetMsg(textName, QString()));
    QString subject;
    QString body;
    ASSERT_TRUE(CConnection::SplitMsgText(bob.connection.GetMsgText(), subject, body));
    EXPECT_EQ(subject, "a subject of words");
    EXPECT_EQ(body, text);

    QTemporaryDir into;
    ASSERT_TRUE(bob.connection.GetMsg(fileName, into.path())) << bob.connection.GetMsgText().toStdString();
    EXPECT_EQ(ReadFile(into.filePath(fileName)), big);

    // Carol can neither read nor delete Bob's messages, also not by a path.
    ServerClient carol;
    ASSERT_TRUE(carol.Open(m_server.Address(), "carol"));
    for (const QString& name : {textName, "../bob/" + textName, QString("..")}) {
        EXPECT_FALSE(carol.connection.GetMsg(name, QString()));
        EXPECT_FALSE(carol.connection.DeleteMsg(name));
    }
    EXPECT_FALSE(bob.connection.GetMsg("../" + fileName, into.path()));

    // Persistence: the server goes down and comes back on another port.
    ASSERT_TRUE(bob.connection.DeleteMsg(list[3].name));
    m_server.Kill();
    ASSERT_TRUE(m_server.Start());
    ServerClient bob2;
    ASSERT_TRUE(bob2.Open(m_server.Address(), "bob"));
    std::vector<REMOTE_MSG> after;
    ASSERT_TRUE(bob2.connection.GetMsgList(after));
    ASSERT_EQ(after.size(), 3u);
    EXPECT_EQ(after[0].name, list[0].name);
    EXPECT_EQ(after[1].size, list[1].size);
}

TEST_F(ServerProcessTest, WrongPasswordsAreRefusedAndSlowedDown)
{
    std::vector<qint64> took;
    for (int i = 0; i < 3; ++i) {
        CConnection c;
        QElapsedTimer clock;
        clock.start();
        EXPECT_FALSE(c.Open(m_server.Address(), "alice", "guess", QString()));
        took.push_back(clock.elapsed());
        EXPECT_EQ(c.GetMsgText(), "Wrong user name or password");
    }
    EXPECT_GE(took[0], 200);
    EXPECT_GT(took[2], took[0] + 400);
    // An unknown user gets the same answer; the right password still works from another name-address pair.
    CConnection nobody;
    EXPECT_FALSE(nobody.Open(m_server.Address(), "nobody", "x", QString()));
    EXPECT_EQ(nobody.GetMsgText(), "Wrong user name or password");
    ServerClient bob;
    EXPECT_TRUE(bob.Open(m_server.Address(), "bob"));
    // Nothing on the server holds the password in clear.
    const QByteArray users = ReadFile(QDir(m_server.Dir()).filePath("users"));
    EXPECT_TRUE(users.contains("bob") && !users.contains("bob-pw"));
}

TEST_F(ServerProcessTest, AStoppedOrKilledServerIsSeenWithinFiveSeconds)
{
    for (int sig : {SIGSTOP, SIGKILL}) {
        ServerClient client;
        ASSERT_TRUE(client.Open(m_server.Address(), "alice"));
        CReceiver receiver;
        ASSERT_TRUE(receiver.Open(&client.connection, "sim")) << receiver.GetReplyString().toStdString();
        QElapsedTimer clock;
        clock.start();
        m_server.Signal(sig);
        EXPECT_TRUE(client.WaitFor(CConnection::kMsgServerLost, 5000)) << sig;
        EXPECT_LT(clock.elapsed(), 5000);
        EXPECT_FALSE(receiver.SendCommand("print,/par/rcv/model"));
        m_server.Kill();
        ASSERT_TRUE(m_server.Start());
    }
}

TEST_F(ServerProcessTest, AWatcherKeepsItsStreamWhenTheHolderStopsOutput)
{
    ServerClient alice;
    ServerClient bob;
    ASSERT_TRUE(alice.Open(m_server.Address(), "alice"));
    ASSERT_TRUE(bob.Open(m_server.Address(), "bob"));
    EXPECT_EQ(alice.connection.GetRcvList(), QStringList{"sim"});
    EXPECT_FALSE(alice.connection.isLocalServerConn());

    CReceiver holder;
    CReceiver watcher;
    ASSERT_TRUE(holder.Open(&alice.connection, "sim")) << holder.GetReplyString().toStdString();
    ASSERT_TRUE(watcher.Open(&bob.connection, "sim")) << watcher.GetReplyString().toStdString();
    // The watcher's connect sequence: identification reads and its message set.
    EXPECT_TRUE(watcher.SendCommand("@scr stoperrors off\nprint,/par/rcv/model\nprint,/cur/term\n@end\n"));
    std::atomic<int> epochs{0};
    ASSERT_TRUE(watcher.Attach(
        0, [&](CReceiver*) { ++epochs; }, "PG,EE", nullptr))
        << watcher.GetReplyString().toStdString();
    // The holder's tool "%%dm" does not cut the watcher's stream.
    EXPECT_TRUE(holder.SendCommand("%%dm"));
    const int before = epochs;
    QElapsedTimer clock;
    clock.start();
    while (epochs < before + 4 && clock.elapsed() < 6000) {
        QThread::msleep(50);
    }
    EXPECT_GE(epochs, before + 4);
    // The watcher may read but not change the receiver.
    EXPECT_FALSE(watcher.SendCommand("%%set,/par/pos/elm,10"));
    EXPECT_TRUE(watcher.GetReplyString().contains("held by another client"));
    EXPECT_TRUE(holder.SendCommand("%%set,/par/pos/elm,10")) << holder.GetReplyString().toStdString();
    EXPECT_TRUE(bob.WaitFor(CConnection::kMsgStatus, 3000));
    // When the holder goes, the watcher takes the command channel over.
    holder.Close();
    bool took = false;
    for (int i = 0; i < 40 && !took; ++i) {
        took = watcher.SendCommand("%%set,/par/pos/elm,5");
        if (!took) {
            QThread::msleep(50);
        }
    }
    EXPECT_TRUE(took) << watcher.GetReplyString().toStdString();
}

TEST(ServerReceiverLostTest, AReceiverLostBehindTheServerReachesTheClient)
{
    QProcess sim;
    const quint16 port = StartTcpSim(sim, QStringLiteral(NEMOLA_SIM_BIN));
    ASSERT_NE(port, 0);
    CServerProcess server(QStringLiteral("far=127.0.0.1:%1\n").arg(port));
    ASSERT_TRUE(server.Start());
    ServerClient client;
    ASSERT_TRUE(client.Open(server.Address(), "alice"));
    CReceiver receiver;
    bool opened = false;
    for (int i = 0; i < 20 && !opened; ++i) {  // the server connects to it in the background
        opened = receiver.Open(&client.connection, "far");
        if (!opened) {
            QThread::msleep(200);
        }
    }
    ASSERT_TRUE(opened) << receiver.GetReplyString().toStdString();
    sim.kill();
    sim.waitForFinished(5000);
    EXPECT_TRUE(client.WaitFor(CConnection::kMsgReceiverLost, 5000));
    EXPECT_TRUE(client.connection.GetMsgText().contains("far lost")) << client.connection.GetMsgText().toStdString();
}

}  // namespace
