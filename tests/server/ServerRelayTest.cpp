// A receiver relayed by an in-process server core: file downloads, misbehaving holders, a garbled stream; and a
// server that answers a request too late.

#include "ServerProcess.h"

#include "files/FileTransfer.h"
#include "link/BlockReceiver.h"
#include "link/InProcessDevice.h"
#include "link/Receiver.h"
#include "link/ServerClient.h"
#include "server/ReceiverServer.h"
#include "server/UserStore.h"
#include "sim/SimFiles.h"
#include "sim/Simulator.h"

#include <QTcpServer>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

using namespace ServerWire;

namespace {

class ServerDownloadTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        RegisterInProcessDevice("dl", m_sim);
        m_server = std::make_unique<CInProcessServer>("dl", "SIM:dl");
        ASSERT_TRUE(m_alice.Open(m_server->Address(), "alice"));
    }
    void TearDown() override
    {
        m_server.reset();
        UnregisterInProcessDevice("dl");
    }

    std::shared_ptr<CSimReceiver> m_sim = std::make_shared<CSimReceiver>();
    std::unique_ptr<CInProcessServer> m_server;
    ServerClient m_alice;
    QTemporaryDir m_dir;
};

TEST_F(ServerDownloadTest, FilesComeThroughByteIdenticalAlsoAfterALostAck)
{
    CReceiver receiver;
    ASSERT_TRUE(receiver.Open(&m_alice.connection, "dl")) << receiver.GetReplyString().toStdString();
    // Runs of line ends inside the blocks, an empty file, and a block sent twice because its ACK was lost.
    for (const auto& [name, size, blockSize, loseAck] :
         {std::tuple{"plain", 40013, 1024, false}, {"empty", 0, 512, false}, {"lostack", 3 * 4096, 4096, true}}) {
        const QByteArray content = SimLogContent(size, uint32_t(size + 1)) + QByteArray(size ? 64 : 0, '\n');
        m_sim->AddFile(QLatin1String(name), content);
        if (loseAck) {
            m_sim->InjectTransferFault(SimTransferFault::LoseAck, 2);
        }
        const auto r = CFileTransfer(receiver).Download(QLatin1String(name), m_dir.filePath(QLatin1String(name)),
                                                        blockSize, {}, {}, 20);
        ASSERT_TRUE(r.ok) << name << " " << r.text.toStdString();
        EXPECT_EQ(ReadFile(m_dir.filePath(QLatin1String(name))), content) << name;
    }
    // Framed again afterwards.
    EXPECT_TRUE(receiver.SendCommand("print,/par/rcv/model", nullptr));
}

TEST_F(ServerDownloadTest, AHolderThatAcknowledgesUnreadBlocksIsDroppedAndItsGetEnded)
{
    m_sim->AddFile("big", SimLogContent(2 * 1024 * 1024, 4));
    CPeer holder;
    ASSERT_TRUE(holder.Open(m_server->Address(), "alice", "alice-pw", "dl"));
    holder.Send(kData, "%1%get,/log/big:{10,16384}\r\n");
    const QByteArray first = holder.Relayed([](const QByteArray& r) { return r.size() > 16384; },
                                            [&](const QByteArray& data) {
                                                if (data.contains("%1%")) {
                                                    holder.Send(kData, QByteArray(1, CBlockReceiver::kNak));
                                                }
                                            });
    ASSERT_GT(first.size(), 16384);
    // The server's queue for it is bounded: it is dropped, however fast the receiver sends.
    holder.socket.setReadBufferSize(256);
    for (int i = 0; i < 100 && holder.socket.state() == QAbstractSocket::ConnectedState; ++i) {
        holder.Send(kData, QByteArray(1, CBlockReceiver::kAck));
        holder.socket.waitForBytesWritten(100);
        QThread::msleep(20);
    }
    EXPECT_NE(holder.socket.state(), QAbstractSocket::ConnectedState);
    // The receiver is out of the get: the next holder's first command that goes out is run.
    CReceiver next;
    ASSERT_TRUE(next.Open(&m_alice.connection, "dl")) << next.GetReplyString().toStdString();
    int answered = 0;
    for (int i = 0; i < 50; ++i) {  // refused (409) while the get is being ended
        answered = next.SendCommand("%%set,/par/pos/elm,7", nullptr);
        if (!next.GetReplyString().contains("{409,")) {
            break;
        }
        QThread::msleep(50);
    }
    EXPECT_TRUE(answered) << next.GetReplyString().toStdString();
    EXPECT_EQ(m_sim->Param("/par/pos/elm"), "7");
}

TEST_F(ServerDownloadTest, AWatchersRelayCarriesOnlyItsAnswerAndEveryRefusedStatementIsAnswered)
{
    CPeer holder;
    CPeer watcher;
    ASSERT_TRUE(holder.Open(m_server->Address(), "alice", "alice-pw", "dl"));
    ASSERT_TRUE(watcher.Open(m_server->Address(), "bob", "bob-pw", "dl"));
    // The status text about the holder goes to the user's control sessions, not ahead of the relay's answer.
    EXPECT_FALSE(watcher.seen.contains(kNotice)) << watcher.seen.toStdString();
    watcher.Send(kData, "set,/par/pos/elm,17\r\n%w%set,/par/pos/elm,18;print,/par/pos/elm\r\n");
    const QByteArray expected =
        "ER02C{403,the receiver is held by another client}\r\n"
        "ER02F%w%{403,the receiver is held by another client}\r\n"
        "ER02C{403,the receiver is held by another client}\r\n";
    EXPECT_EQ(watcher.Relayed([&](const QByteArray& r) { return r.size() >= expected.size(); }), expected);
    EXPECT_NE(m_sim->Param("/par/pos/elm"), "17");
    EXPECT_NE(m_sim->Param("/par/pos/elm"), "18");
}

TEST(ServerResyncTest, AGuessedFrameFollowedBySilenceDoesNotSwallowTheStream)
{
    QTcpServer fakeReceiver;
    ASSERT_TRUE(fakeReceiver.listen(QHostAddress::LocalHost));
    CInProcessServer server("far", QStringLiteral("127.0.0.1:%1").arg(fakeReceiver.serverPort()));
    ASSERT_TRUE(fakeReceiver.waitForNewConnection(5000));
    QTcpSocket* port = fakeReceiver.nextPendingConnection();
    auto client = std::make_unique<CPeer>();
    for (int i = 0; i < 20 && !client->Open(server.Address(), "alice", "alice-pw", "far"); ++i) {
        client = std::make_unique<CPeer>();  // the server hears a moment later that the port is up
        QThread::msleep(100);
    }
    // A stray byte, what looks like the header of a 255-byte frame, silence, then a real frame.
    port->write("\x01PG0FF");
    port->waitForBytesWritten(1000);
    QThread::msleep(300);
    port->write("RE005hello\r\n");
    port->waitForBytesWritten(1000);
    const QByteArray relayed = client->Relayed([](const QByteArray& r) { return r.contains("RE005hello\r\n"); });
    EXPECT_TRUE(relayed.contains("RE005hello\r\n")) << relayed.toStdString();
}

TEST(ServerLateAnswerTest, AnAnswerAfterTheTimeOutIsDroppedAndTheNextRequestGetsItsOwn)
{
    CServerProcess server;
    ASSERT_TRUE(server.Start());
    CServerClient client(ServerLogin{server.Address(), "alice", "alice-pw"}, nullptr);
    QString why;
    ASSERT_TRUE(client.Open(why)) << why.toStdString();
    client.SetRequestTimeout(300);
    server.Signal(SIGSTOP);
    EXPECT_FALSE(client.Request({"USRLIST"}).ok);
    server.Signal(SIGCONT);
    QThread::msleep(500);  // the answer comes now
    EXPECT_EQ(client.HeldAnswers(), 0u);
    client.SetRequestTimeout(5000);
    EXPECT_EQ(client.Request({"RCVLIST"}).body, QByteArray("sim"));
}

}  // namespace
