// The relay of a receiver through an in-process server core: file downloads, a garbled stream, the receiver
// going away; and a server that answers a request too late.

#include "ServerProcess.h"

#include "files/FileTransfer.h"
#include "link/BlockReceiver.h"
#include "link/InProcessDevice.h"
#include "link/Receiver.h"
#include "link/ServerClient.h"
#include "link/ServerWire.h"
#include "server/ReceiverServer.h"
#include "server/UserStore.h"
#include "sim/SimFiles.h"
#include "sim/Simulator.h"

#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

using namespace ServerWire;

namespace {

// A server core with users alice and bob on a thread of its own, so that the test's thread may block in
// client calls.
class CInProcessServer
{
public:
    explicit CInProcessServer(const QList<QPair<QString, QString>>& receivers, qint64 maxQueueBytes = 0)
    {
        m_thread.start();
        m_context.moveToThread(&m_thread);
        QMetaObject::invokeMethod(
            &m_context,
            [&] {
                m_users = std::make_unique<CUserStore>(m_dir.filePath(QStringLiteral("users")));
                QString error;
                for (const char* name : {"alice", "bob"}) {
                    m_users->Add(QLatin1String(name), QLatin1String(name) + QStringLiteral("-pw"), kMinIterations,
                                 &error);
                }
                ServerConfig config;
                config.listenPort = 0;
                config.storeDir = m_dir.filePath(QStringLiteral("store"));
                config.receivers = receivers;
                if (maxQueueBytes > 0) {
                    config.maxQueueBytes = maxQueueBytes;
                    config.sendBufferBytes = 8192;
                }
                m_server = std::make_unique<CReceiverServer>(config, m_users.get());
                m_port = m_server->Start(&error) ? m_server->Port() : 0;
            },
            Qt::BlockingQueuedConnection);
    }
    ~CInProcessServer()
    {
        QMetaObject::invokeMethod(
            &m_context, [&] { m_server.reset(); }, Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }
    QString Address() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }

private:
    QTemporaryDir m_dir;
    QThread m_thread;
    QObject m_context;
    std::unique_ptr<CUserStore> m_users;
    std::unique_ptr<CReceiverServer> m_server;
    quint16 m_port = 0;
};

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

class ServerDownloadTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        RegisterInProcessDevice(QStringLiteral("dl"), m_sim);
        m_server = std::make_unique<CInProcessServer>(
            QList<QPair<QString, QString>>{{QStringLiteral("dl"), QStringLiteral("SIM:dl")}}, 65536);
        ASSERT_TRUE(m_alice.Open(m_server->Address(), QStringLiteral("alice")));
        ASSERT_TRUE(m_receiver.Open(&m_alice.connection, QStringLiteral("dl")))
            << m_receiver.GetReplyString().toStdString();
    }
    void TearDown() override
    {
        m_receiver.Close();
        m_server.reset();
        UnregisterInProcessDevice(QStringLiteral("dl"));
    }
    CFileTransfer::Result Get(const QString& name, int blockSize)
    {
        CFileTransfer transfer(m_receiver);
        return transfer.Download(name, m_dir.filePath(name), blockSize, {}, {}, 20);
    }

    std::shared_ptr<CSimReceiver> m_sim = std::make_shared<CSimReceiver>();
    std::unique_ptr<CInProcessServer> m_server;
    ServerClient m_alice;
    CReceiver m_receiver;
    QTemporaryDir m_dir;
};

TEST_F(ServerDownloadTest, FilesComeThroughByteIdenticalAlsoAfterALostAck)
{
    const struct
    {
        const char* name;
        int64_t size;
        int blockSize;
        bool loseAck;
    } cases[] = {
        {"plain", 40013, 1024, false},
        {"empty", 0, 512, false},
        // Every byte value and runs of line ends inside the blocks.
        {"lostack", 3 * 4096, 4096, true},
    };
    for (const auto& c : cases) {
        const QString name = QLatin1String(c.name);
        const QByteArray content = SimLogContent(c.size, uint32_t(c.size + 1)) + QByteArray(c.size ? 64 : 0, '\n');
        m_sim->AddFile(name, content);
        if (c.loseAck) {
            m_sim->InjectTransferFault(SimTransferFault::LoseAck, 2);
        }
        const auto r = Get(name, c.blockSize);
        ASSERT_TRUE(r.ok) << c.name << " " << r.text.toStdString();
        EXPECT_EQ(ReadAll(m_dir.filePath(name)), content) << c.name;
    }
    // Framed again afterwards: commands get their answers.
    EXPECT_TRUE(m_receiver.SendCommand(QStringLiteral("print,/par/rcv/model"), nullptr));
    EXPECT_FALSE(m_receiver.GetReplyString().isEmpty());
}

TEST_F(ServerDownloadTest, AReceiverLostInADownloadEndsItAndIsReportedAs247)
{
    m_sim->AddFile(QStringLiteral("big"), SimLogContent(64 * 1024, 3));
    m_sim->InjectTransferFault(SimTransferFault::DropLink, 3);
    const auto r = Get(QStringLiteral("big"), 1024);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(m_alice.WaitFor(CConnection::kMsgReceiverLost, 5000));
    EXPECT_FALSE(m_alice.WaitFor(CConnection::kMsgLinkLost, 100));
    EXPECT_TRUE(m_alice.connection.GetMsgText().contains(QStringLiteral("Receiver dl lost")))
        << m_alice.connection.GetMsgText().toStdString();
}

// Logs in as the holder of "dl" with a plain socket and starts a get of `file`; true once the first block came.
bool StartRawGet(QTcpSocket& holder, const QString& address, const QByteArray& file, int blockSize)
{
    if (!RawLogin(holder, address, QStringLiteral("alice"), QStringLiteral("alice-pw"), QStringLiteral("dl"))) {
        return false;
    }
    holder.write(Frame(kData, "%1%get,/log/" + file + ":{10," + QByteArray::number(blockSize) + "}\r\n"));
    QByteArray relayed;
    CFrameReader reader;
    for (int i = 0; i < 30 && relayed.size() < 600; ++i) {
        holder.waitForReadyRead(100);
        reader.Append(holder.readAll());
        char type = 0;
        QByteArray payload;
        while (reader.Next(type, payload) == CFrameReader::Result::Frame) {
            relayed += type == kData ? payload : QByteArray();
            if (type == kData && payload.contains("%1%")) {
                holder.write(Frame(kData, QByteArray(1, CBlockReceiver::kNak)));
            }
        }
    }
    return relayed.size() >= blockSize + 6;
}

TEST_F(ServerDownloadTest, AHolderVanishingMidDownloadLeavesTheReceiverUsable)
{
    m_receiver.Close();
    m_sim->AddFile(QStringLiteral("long"), SimLogContent(256 * 1024, 4));
    // A holder that starts a get, takes a block and is gone without a word.
    auto holder = std::make_unique<QTcpSocket>();
    ASSERT_TRUE(StartRawGet(*holder, m_server->Address(), "long", 512));
    holder->abort();
    ServerClient bob;
    ASSERT_TRUE(bob.Open(m_server->Address(), QStringLiteral("bob")));
    CReceiver next;
    ASSERT_TRUE(next.Open(&bob.connection, QStringLiteral("dl"))) << next.GetReplyString().toStdString();
    // Refused while the get is being ended; the first command that goes out works.
    int answered = 0;
    for (int i = 0; i < 50; ++i) {
        answered = next.SendCommand(QStringLiteral("%%set,/par/pos/elm,7"), nullptr);
        if (!next.GetReplyString().contains(QStringLiteral("{409,"))) {
            break;
        }
        QThread::msleep(50);
    }
    EXPECT_TRUE(answered) << next.GetReplyString().toStdString();
    EXPECT_EQ(m_sim->Param(QStringLiteral("/par/pos/elm")), QStringLiteral("7"));
}

TEST_F(ServerDownloadTest, AHolderThatAcksWithoutReadingIsDroppedAtTheQueueLimit)
{
    m_receiver.Close();
    m_sim->AddFile(QStringLiteral("huge"), SimLogContent(2 * 1024 * 1024, 5));
    QTcpSocket holder;
    holder.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
    ASSERT_TRUE(StartRawGet(holder, m_server->Address(), "huge", 16384));
    holder.setReadBufferSize(256);
    // Blocks pile up only as fast as the holder answers; one that answers unread is cut off at the limit.
    bool dropped = false;
    for (int i = 0; i < 100 && !dropped; ++i) {
        holder.write(Frame(kData, QByteArray(1, CBlockReceiver::kAck)));
        holder.waitForBytesWritten(100);
        QThread::msleep(20);
        dropped = holder.state() != QAbstractSocket::ConnectedState;
    }
    for (int i = 0; i < 100 && !dropped; ++i) {
        holder.waitForReadyRead(50);
        holder.readAll();
        dropped = holder.state() != QAbstractSocket::ConnectedState;
    }
    EXPECT_TRUE(dropped);
}

TEST(ServerResyncTest, AGuessedFrameFollowedBySilenceDoesNotSwallowTheStream)
{
    QTcpServer fakeReceiver;
    ASSERT_TRUE(fakeReceiver.listen(QHostAddress::LocalHost));
    CInProcessServer server({{QStringLiteral("far"), QStringLiteral("127.0.0.1:%1").arg(fakeReceiver.serverPort())}});
    ASSERT_TRUE(fakeReceiver.waitForNewConnection(5000));
    QTcpSocket* port = fakeReceiver.nextPendingConnection();
    std::unique_ptr<QTcpSocket> relay;
    for (int i = 0; i < 20 && !relay; ++i) {  // the server is told that the port is up a moment later
        relay = std::make_unique<QTcpSocket>();
        if (!RawLogin(*relay, server.Address(), QStringLiteral("alice"), QStringLiteral("alice-pw"),
                      QStringLiteral("far"))) {
            relay.reset();
            QThread::msleep(100);
        }
    }
    ASSERT_TRUE(relay);
    QTcpSocket& client = *relay;
    // A stray byte, then what looks like the header of a 255-byte frame, then silence.
    port->write("\x01PG0FF");
    port->waitForBytesWritten(1000);
    QThread::msleep(300);
    port->write("RE005hello\r\n");
    port->waitForBytesWritten(1000);
    QByteArray relayed;
    CFrameReader reader;
    for (int i = 0; i < 30 && !relayed.contains("RE005hello"); ++i) {
        client.waitForReadyRead(100);
        reader.Append(client.readAll());
        char type = 0;
        QByteArray payload;
        while (reader.Next(type, payload) == CFrameReader::Result::Frame) {
            relayed += type == kData ? payload : QByteArray();
        }
    }
    EXPECT_TRUE(relayed.contains("RE005hello\r\n")) << relayed.toStdString();
}

TEST(ServerLateAnswerTest, AnAnswerAfterTheTimeOutIsDroppedAndTheNextRequestGetsItsOwn)
{
    CServerProcess server;
    ASSERT_TRUE(server.Start());
    CServerClient client(ServerLogin{server.Address(), QStringLiteral("alice"), QStringLiteral("alice-pw")}, nullptr);
    QString why;
    ASSERT_TRUE(client.Open(why)) << why.toStdString();
    client.SetRequestTimeout(300);
    server.Signal(SIGSTOP);
    const auto late = client.Request({QStringLiteral("USRLIST")});
    EXPECT_FALSE(late.ok);
    server.Signal(SIGCONT);
    QThread::msleep(500);  // the stopped server answers now
    EXPECT_EQ(client.HeldAnswers(), 0u);
    client.SetRequestTimeout(5000);
    const auto next = client.Request({QStringLiteral("RCVLIST")});
    EXPECT_TRUE(next.ok);
    EXPECT_EQ(next.body, QByteArray("sim"));
}

}  // namespace
