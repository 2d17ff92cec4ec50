// The link against small scripted TCP receivers that misbehave: stray and stale replies, late continuations,
// replies that never end, garbage, odd greetings. Each fault is one a review reproduced.

#include "link/AutoResetEvent.h"
#include "link/CommandText.h"
#include "link/Connection.h"
#include "link/Receiver.h"
#include "link/ReceiverHolder.h"
#include "link/ReplyPairing.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
using Failure = CReceiver::Failure;

double Seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// The reply frame to the (first) statement of `line`, with its tag, and the line end.
QByteArray Answer(const QByteArray& line, const char* id, const QByteArray& text)
{
    const Statement s = SplitChain(QString::fromLatin1(line)).front();
    return BuildFrame(id, (s.tagged ? '%' + s.tag.toLatin1() + '%' : QByteArray()) + text) + "\r\n";
}

// A receiver on a TCP port of its own thread: it sends the greeting pieces 50 ms apart, then hands every line it
// reads to the handler, which answers with Send. By default it answers "v" with the tag.
class CScriptedPeer
{
public:
    using Handler = std::function<void(CScriptedPeer& peer, const QByteArray& line)>;

    explicit CScriptedPeer(QByteArrayList greeting = {}) : m_greeting(std::move(greeting))
    {
        m_handler = [](CScriptedPeer& peer, const QByteArray& line) { peer.Send(Answer(line, "RE", "v")); };
        m_context->moveToThread(&m_thread);
        m_thread.start();
        QMetaObject::invokeMethod(
            m_context,
            [this] {
                m_server = new QTcpServer(m_context);
                m_server->listen(QHostAddress::LocalHost, 0);
                QObject::connect(m_server, &QTcpServer::newConnection, m_context, [this] { Accept(); });
            },
            Qt::BlockingQueuedConnection);
    }
    ~CScriptedPeer()
    {
        QMetaObject::invokeMethod(
            m_context, [this] { delete m_context; }, Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }
    QString Name() const { return QStringLiteral("127.0.0.1:%1").arg(m_server->serverPort()); }
    void SetHandler(Handler handler)
    {
        std::lock_guard lock(m_mutex);
        m_handler = std::move(handler);
    }
    // Bytes to the link after `delayMs`, and again every `periodMs` if that is not 0.
    void Send(const QByteArray& bytes, int delayMs = 0, int periodMs = 0)
    {
        QMetaObject::invokeMethod(m_context, [this, bytes, delayMs, periodMs] {
            auto* timer = new QTimer(m_context);
            timer->setSingleShot(periodMs == 0);
            QObject::connect(timer, &QTimer::timeout, m_context, [this, bytes, timer, periodMs] {
                m_client->write(bytes);
                timer->setInterval(periodMs);
            });
            timer->start(delayMs);
        });
    }

    // Closes the connection after `delayMs`.
    void Hangup(int delayMs)
    {
        QMetaObject::invokeMethod(m_context, [this, delayMs] {
            QTimer::singleShot(delayMs, m_context, [this] { m_client->disconnectFromHost(); });
        });
    }

private:
    void Accept()
    {
        m_client = m_server->nextPendingConnection();
        for (int i = 0; i < m_greeting.size(); ++i) {
            Send(m_greeting[i], 50 * i);
        }
        QObject::connect(m_client, &QTcpSocket::readyRead, m_context, [this] {
            m_pending += m_client->readAll();
            for (int lf; (lf = int(m_pending.indexOf('\n'))) >= 0;) {
                const QByteArray line = m_pending.left(lf).trimmed();
                m_pending.remove(0, lf + 1);
                Handler handler;
                {
                    std::lock_guard lock(m_mutex);
                    handler = m_handler;
                }
                handler(*this, line);
            }
        });
    }

    QThread m_thread;
    QObject* m_context = new QObject;
    QTcpServer* m_server = nullptr;
    QTcpSocket* m_client = nullptr;
    QByteArrayList m_greeting;
    QByteArray m_pending;
    std::mutex m_mutex;
    Handler m_handler;
};

class HostilePeerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_connection.Open(QString(), QString(), QStringLiteral("pw"), QStringLiteral("Nemola-M"));
        m_connection.SetTimeout(10);  // 200 ms of silence
    }
    void Open() { ASSERT_TRUE(m_receiver.Open(&m_connection, m_peer.Name())) << Ask({}).toStdString(); }
    // Sends `command` with the raw output going to m_raw; `ok` gets the result.
    QString Ask(const QString& command, int* ok = nullptr)
    {
        const int result = m_receiver.SendCommand(command, [this](const char* data, int length) {
            std::lock_guard lock(m_rawMutex);
            m_raw.append(data, length);
        });
        if (ok) {
            *ok = result;
        }
        return m_receiver.GetReplyString();
    }

    CConnection m_connection;
    CScriptedPeer m_peer;
    std::mutex m_rawMutex;  // before the receiver: its raw output may come until it closes
    QByteArray m_raw;
    CReceiver m_receiver;
};

}  // namespace

TEST_F(HostilePeerTest, StrayStaleAndOrphanFramesNeverAnswerACommand)
{
    Open();
    const struct
    {
        const char* before;  // what the receiver sends ahead of the real answer
        const char* id;
        const char* reply;  // what the caller sees
    } cases[] = {
        {"RE000\r\n", "ER", "ER001v\r\n"},
        {"RE00A%Peer-1%xy\r\nRE012untaggednm2%Peer-1\r\n", "RE", "RE001v\r\n"},
        {"RE005 tail\r\n", "RE", "RE001v\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.before);
        m_peer.SetHandler(
            [&](CScriptedPeer& peer, const QByteArray& line) { peer.Send(c.before + Answer(line, c.id, "v")); });
        int ok = -1;
        EXPECT_EQ(Ask(QStringLiteral("set,/par/x,1"), &ok), QString::fromLatin1(c.reply));
        EXPECT_EQ(m_receiver.LastFailure(), ok ? Failure::None : Failure::ErrorReply);
        EXPECT_EQ(ok, c.id[0] == 'R');
    }
    // Untagged replies are the receiver's own output: they reach the raw output, also with nothing waiting.
    m_peer.Send("$GPGGA,1\r\n||001\x46\nRE005hello\r\n");
    m_peer.SetHandler([](CScriptedPeer& peer, const QByteArray& line) { peer.Send(Answer(line, "RE", "v"), 50); });
    Ask(QStringLiteral("print,sync"));
    std::lock_guard lock(m_rawMutex);
    for (const char* raw : {"RE000\r\n", "RE012untaggednm2%Peer-1\r\n", "$GPGGA,1\r\n||001\x46\nRE005hello\r\n"}) {
        EXPECT_TRUE(m_raw.contains(raw)) << raw;
    }
    EXPECT_FALSE(m_raw.contains("%nm")) << "a private tag reached the raw output";
}

TEST_F(HostilePeerTest, AReceiverThatDoesNotEchoTagsDoesNotOpen)
{
    m_peer.SetHandler([](CScriptedPeer& peer, const QByteArray&) { peer.Send("RE005Model\r\n"); });
    EXPECT_FALSE(m_receiver.Open(&m_connection, m_peer.Name()));
    EXPECT_TRUE(m_receiver.GetReplyString().endsWith(QLatin1String("answers without identifier tags")));
    EXPECT_EQ(m_receiver.LastFailure(), Failure::TimedOut);
}

TEST_F(HostilePeerTest, ALateContinuationNeverBecomesTheNextCommandsAnswer)
{
    Open();
    m_peer.SetHandler([&](CScriptedPeer& peer, const QByteArray& line) {
        if (line.endsWith("print,/log/")) {
            peer.Send(Answer(line, "RE", QByteArray(0xFFF - (line.indexOf('%', 1) + 1), 'a')));
            peer.Send("RE004 end\r\n", 1300);
        } else {
            peer.Send(Answer(line, "ER", "{2,,wrong 1st parameter}"), 450);
        }
    });
    // With 1 s of silence the first reply is whole without it; the continuation comes while the next command
    // waits, and is dropped.
    m_connection.SetTimeout(50);
    int ok = 0;
    EXPECT_TRUE(Ask(QStringLiteral("print,/log/"), &ok).endsWith(QLatin1String("aaa\r\n")));
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(Ask(QStringLiteral("print,next"), &ok), QStringLiteral("ER018{2,,wrong 1st parameter}\r\n"));
    EXPECT_EQ(m_receiver.LastFailure(), Failure::ErrorReply);
    // With the usual 1.5 s it still belongs to its reply.
    m_connection.SetTimeout(CConnection::kDefaultTimeout);
    EXPECT_TRUE(Ask(QStringLiteral("print,/log/"), &ok).endsWith(QLatin1String("aend\r\n")));
}

TEST_F(HostilePeerTest, RepliesThatNeverEndFailWithinTheCaps)
{
    const QByteArray more = BuildFrame("RE", ' ' + QByteArray(0xFFE, 'b')) + "\r\n";
    const auto full = [](const QByteArray& line) {
        return Answer(line, "RE", QByteArray(0xFFF - (line.indexOf('%', 1) + 1), 'a'));
    };
    const struct
    {
        const char* why;
        std::function<void(CScriptedPeer&, const QByteArray&)> misbehave;
    } cases[] = {
        {"took too long",  // a trickle
         [](CScriptedPeer& peer, const QByteArray& line) {
             peer.Send("RE0FF" + line.left(line.indexOf('%', 1) + 1));
             peer.Send("x", 0, 100);
         }},
        {"took too long",  // continuations without end
         [&](CScriptedPeer& peer, const QByteArray& line) {
             peer.Send(full(line));
             peer.Send(more, 0, 50);
         }},
        {"reply is too long",  // a flood of continuations
         [&](CScriptedPeer& peer, const QByteArray& line) { peer.Send(full(line) + more.repeated(300)); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        CScriptedPeer peer;
        CReceiver receiver;
        ASSERT_TRUE(receiver.Open(&m_connection, peer.Name()));
        peer.SetHandler(c.misbehave);
        const auto start = Clock::now();
        EXPECT_EQ(receiver.SendCommand(QStringLiteral("print,/par/")), 0);
        EXPECT_LT(Seconds(start), 0.2 * CReplyPairing::kMaxReplySilences + 1.0);
        EXPECT_TRUE(receiver.GetReplyString().endsWith(QLatin1String(c.why)));
        EXPECT_EQ(receiver.LastFailure(), Failure::TimedOut);
    }
}

TEST_F(HostilePeerTest, GarbageBeforeAReplyCostsLittle)
{
    Open();
    m_connection.SetTimeout(100);
    for (char junk : {'A', 'F'}) {
        m_peer.SetHandler([&](CScriptedPeer& peer, const QByteArray& line) {
            peer.Send(QByteArray(1 << 20, junk));
            peer.Send(Answer(line, "RE", "behind"), 150);
        });
        const auto start = Clock::now();
        EXPECT_EQ(Ask(QStringLiteral("print,x")), QStringLiteral("RE006behind\r\n"));
        // A scan that went back over the junk for every byte read would take minutes; the bound leaves room for a
        // sanitizer build on a loaded machine.
        EXPECT_LT(Seconds(start), 5.0) << junk;
    }
}

TEST_F(HostilePeerTest, CancelEndsTheWaitAtOnceAndLaterCommandsWork)
{
    m_connection.SetTimeout(500);  // 10 s
    m_peer.SetHandler([](CScriptedPeer& peer, const QByteArray& line) {
        peer.Send(Answer(line, "RE", line.endsWith("slow") ? "late" : "fresh"), line.endsWith("slow") ? 600 : 700);
    });
    CReceiverHolder holder;
    ASSERT_TRUE(holder.GetReceiver()->Open(&m_connection, m_peer.Name()));
    std::thread watcher([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        holder.Cancel();
    });
    const auto start = Clock::now();
    EXPECT_FALSE(holder.Send(QStringLiteral("print,slow")));
    EXPECT_LT(Seconds(start), 0.5);
    watcher.join();
    EXPECT_EQ(holder.Reply(), QStringLiteral("Cancelled by the user"));
    EXPECT_EQ(holder.LastFailure(), Failure::Cancelled);
    // The cancelled command's late answer comes while the next one waits, and is not taken for its answer.
    EXPECT_TRUE(holder.Send(QStringLiteral("print,next")));
    EXPECT_EQ(holder.Reply(), QStringLiteral("RE005fresh\r\n"));
    EXPECT_EQ(holder.LastFailure(), Failure::None);
    holder.CloseReceiver();
}

TEST_F(HostilePeerTest, TheTimeOutAppliesFromTheNextCommandWithoutACap)
{
    Open();
    m_peer.SetHandler([](CScriptedPeer& peer, const QByteArray& line) { peer.Send(Answer(line, "RE", "v"), 1600); });
    m_connection.SetTimeout(100);  // 2 s
    EXPECT_EQ(Ask(QStringLiteral("init,/par/")), QStringLiteral("RE001v\r\n"));
    m_connection.SetTimeout(10);
    EXPECT_EQ(Ask(QStringLiteral("init,/par/")), QStringLiteral("No reply from the receiver"));
    EXPECT_EQ(m_receiver.LastFailure(), Failure::TimedOut);
}

// The waiting callback (a script runner writes out its record there) may take longer than the time-out: the reply
// that came meanwhile still answers the command.
TEST_F(HostilePeerTest, AWaitingCallbackRunsOnceAndASlowOneDoesNotMakeTheReplyLate)
{
    Open();
    m_peer.SetHandler([](CScriptedPeer& peer, const QByteArray& line) { peer.Send(Answer(line, "RE", "v"), 50); });
    int calls = 0;
    m_receiver.SetWaitingCallback([&] {
        ++calls;
        std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the time-out is 200 ms
    });
    EXPECT_EQ(Ask(QStringLiteral("print,x")), QStringLiteral("RE001v\r\n"));
    EXPECT_EQ(calls, 1);
    m_receiver.SetWaitingCallback(nullptr);
    EXPECT_EQ(Ask(QStringLiteral("print,y")), QStringLiteral("RE001v\r\n"));
    EXPECT_EQ(calls, 1);
}

// A command's thread reads the socket itself while it waits; between commands the link's own thread does. The
// receiver's output around the replies must reach the raw output whole and in order whoever read it.
TEST_F(HostilePeerTest, OutputAroundRepliesReachesTheRawOutputInOrderWhoeverReadsIt)
{
    Open();
    int next = 0;  // on the peer's thread
    m_peer.SetHandler([&](CScriptedPeer& peer, const QByteArray& line) {
        const auto out = [&] { return "$OUT," + QByteArray::number(next++) + "\r\n"; };
        QByteArray bytes = out();
        bytes += out();
        bytes += Answer(line, "RE", "v");
        bytes += out();
        peer.Send(bytes);
        peer.Send(out());  // often read by the link's thread
    });
    constexpr int kCommands = 300;
    for (int i = 0; i < kCommands; ++i) {
        ASSERT_EQ(Ask(QStringLiteral("print,x")), QStringLiteral("RE001v\r\n")) << i;
    }
    Ask(QStringLiteral("print,sync"));  // what the link's thread still had to hand on has been handed on
    std::lock_guard lock(m_rawMutex);
    QByteArray expected;
    for (int k = 0; k < 4 * kCommands; ++k) {
        expected += "$OUT," + QByteArray::number(k) + "\r\n";
    }
    qsizetype same = 0;
    while (same < expected.size() && same < m_raw.size() && expected[same] == m_raw[same]) {
        ++same;
    }
    EXPECT_EQ(same, expected.size()) << m_raw.mid(same - 40, 120).toStdString();
}

// Closing from another thread and a receiver that hangs up mid-reply both end a command that reads the socket
// itself at once, not after its time-out.
TEST_F(HostilePeerTest, CloseOrAHangUpEndsAWaitingCommandAtOnce)
{
    m_connection.SetTimeout(500);  // 10 s
    std::atomic<int> lost{0};
    m_connection.SetSysMsgCallback([&](CConnection* c) {
        lost += c->GetMsgCode() == CConnection::kMsgLinkLost;
        return 0UL;
    });
    Open();
    m_peer.SetHandler([](CScriptedPeer&, const QByteArray&) {});
    std::thread closer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        m_receiver.Close();
    });
    auto start = Clock::now();
    EXPECT_EQ(m_receiver.SendCommand(QStringLiteral("print,never")), 0);
    EXPECT_LT(Seconds(start), 1.0);
    closer.join();
    EXPECT_EQ(m_receiver.LastFailure(), Failure::LinkLost);
    EXPECT_EQ(lost.load(), 0) << "closing is no lost link";

    CScriptedPeer peer;
    ASSERT_TRUE(m_receiver.Open(&m_connection, peer.Name()));
    peer.SetHandler([](CScriptedPeer& p, const QByteArray& line) {
        p.Send(Answer(line, "RE", "half").left(8));
        p.Hangup(100);
    });
    start = Clock::now();
    EXPECT_EQ(m_receiver.SendCommand(QStringLiteral("print,x")), 0);
    EXPECT_LT(Seconds(start), 1.0);
    EXPECT_EQ(m_receiver.LastFailure(), Failure::LinkLost);
    EXPECT_TRUE(m_receiver.GetReplyString().endsWith(QLatin1String("connection closed by the receiver")))
        << m_receiver.GetReplyString().toStdString();
    for (int i = 0; i < 100 && lost.load() == 0; ++i) {  // reported from the link's thread, right after
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(lost.load(), 1);
    EXPECT_EQ(m_receiver.SendCommand(QStringLiteral("print,x")), 0);
}

// A thread waiting for a table's event reads the stream itself: epochs wake it, a command of another thread gets
// its reply meanwhile, an epoch the I/O thread routes (a callback is attached too) and a wake from another thread
// end its wait at once.
TEST_F(HostilePeerTest, AThreadWaitingForATableEventSeesEveryWayItIsWoken)
{
    m_connection.SetTimeout(500);  // 10 s
    Open();
    CAutoResetEvent epoch;
    GpsDataTable table(2);
    table[0].id = MsgId('|', '|');
    table[0].event = &epoch;
    ASSERT_TRUE(m_receiver.Attach(0, nullptr, QStringLiteral("EE"), &table));
    const QByteArray epochEnd("||001\x46\n");
    m_peer.Send(epochEnd, 0, 40);
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(m_receiver.WaitTableEvent(epoch, 10'000));
    }
    std::thread asker([&] { EXPECT_EQ(Ask(QStringLiteral("print,x")), QStringLiteral("RE001v\r\n")); });
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(m_receiver.WaitTableEvent(epoch, 10'000));
    }
    asker.join();
    {
        std::lock_guard lock(m_connection.GetLock());
        EXPECT_EQ(table[0].buffer, epochEnd.left(6));
    }

    CAutoResetEvent stop;
    auto start = Clock::now();
    EXPECT_FALSE(m_receiver.WaitTableEvent(stop, 150));
    EXPECT_GE(Seconds(start), 0.14);
    std::thread waker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        stop.Set();
        m_receiver.WakeTableWaiter();
    });
    start = Clock::now();
    EXPECT_TRUE(m_receiver.WaitTableEvent(stop, 10'000));
    EXPECT_LT(Seconds(start), 1.0);
    waker.join();

    // With a callback attached the I/O thread routes what the waiting thread read, and must wake it.
    CScriptedPeer quiet;
    ASSERT_TRUE(m_receiver.Open(&m_connection, quiet.Name()));
    ASSERT_TRUE(m_receiver.Attach(0, nullptr, QStringLiteral("EE"), &table));
    ASSERT_TRUE(m_receiver.Attach(1, [](CReceiver*) {}, QStringLiteral("TT"), nullptr));
    epoch.TryTake();
    quiet.Send(epochEnd, 200);
    start = Clock::now();
    EXPECT_TRUE(m_receiver.WaitTableEvent(epoch, 10'000));
    EXPECT_LT(Seconds(start), 1.0);
}

TEST(TcpGreeting, OpensWhateverTheReceiverSaysFirstAndFailsWithAReason)
{
    const QByteArray loggedIn = BuildFrame("RE", "%Logged in on /dev/tcp/a%") + "\r\n";
    const struct
    {
        const char* name;
        QByteArrayList greeting;  // pieces 50 ms apart
        QByteArray verdict;       // sent after the password; empty: no login
        const char* password;
        double maxSeconds;    // with room for a loaded machine
        const char* failure;  // empty: opens
    } cases[] = {
        {"silence", {}, {}, "pw", 1.0, ""},
        {"greeting lines and no login", {"#Receiver\r\n#Ready\r\n"}, {}, "pw", 2.0, ""},
        {"a login prompt 50 ms late", {"", "login: "}, loggedIn, "pw", 2.0, ""},
        {"a login prompt split in two", {"#Receiver\r\nlog", "in: "}, loggedIn, "pw", 2.0, ""},
        {"chatter with ER in it",
         {"# RECEIVER ERROR LOG EMPTY\r\nlogin: "},
         "# ERASE DONE\r\n" + loggedIn,
         "pw",
         2.0,
         ""},
        {"a wrong password", {"login: "}, BuildFrame("ER", "{3,,wrong password}") + "\r\n", "guess", 2.0, "refused"},
        // A port that already outputs: its messages end the greeting at once, however many come in one read.
        {"messages from the first byte",
         {(BuildFrame("KV", QByteArray(90, 'k')) + "\r\n").repeated(400)},
         {},
         "pw",
         2.0,
         ""},
        {"a greeting without end",
         QByteArrayList(200, QByteArray(1000, '#') + "\r\n"),
         {},
         "pw",
         6.0,
         "greeting does not end"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CScriptedPeer peer(c.greeting);
        int step = c.verdict.isEmpty() ? 2 : 0;
        peer.SetHandler([&](CScriptedPeer& p, const QByteArray& line) {
            ++step;
            p.Send(step == 1 ? QByteArray("password: ") : step == 2 ? c.verdict : Answer(line, "RE", "v"));
        });
        CConnection connection;
        connection.Open(QString(), QString(), QString::fromLatin1(c.password), QStringLiteral("Nemola-M"));
        CReceiver receiver;
        const auto start = Clock::now();
        const bool opened = receiver.Open(&connection, peer.Name());
        EXPECT_LT(Seconds(start), c.maxSeconds);
        EXPECT_TRUE(receiver.GetReplyString().contains(QLatin1String(c.failure)));
        EXPECT_EQ(opened, !*c.failure) << receiver.GetReplyString().toStdString();
        if (opened) {
            EXPECT_EQ(receiver.SendCommand(QStringLiteral("print,x")), 1);
            EXPECT_EQ(receiver.GetReplyString(), QStringLiteral("RE001v\r\n"));
        }
    }
}

TEST(TcpGreeting, ANameThatSaysNoGreetingSendsAtOnceAndFailsOnALoginPromptAfterAll)
{
    const struct
    {
        const char* name;
        QByteArrayList greeting;  // pieces 50 ms apart
        const char* failure;      // empty: opens
    } cases[] = {
        {"silence", {}, ""},
        {"chatter before the first reply", {"#Receiver\r\n# Ready\r\n"}, ""},
        {"a login prompt 50 ms late", {"", "#Receiver\r\nlog", "in: "}, "asks for a login"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CScriptedPeer peer(c.greeting);
        QByteArrayList lines;
        std::mutex linesMutex;
        peer.SetHandler([&](CScriptedPeer& p, const QByteArray& line) {
            std::lock_guard lock(linesMutex);
            lines += line;
            // A receiver that greets takes the first line for the login answer and asks for the password.
            p.Send(c.greeting.size() > 1 ? QByteArray("password: ") : Answer(line, "RE", "v"));
        });
        CConnection connection;
        connection.Open(QString(), QString(), QStringLiteral("pw"), QStringLiteral("Nemola-M"));
        CReceiver receiver;
        const auto start = Clock::now();
        const bool opened = receiver.Open(&connection, peer.Name() + QStringLiteral(",nogreeting"));
        EXPECT_LT(Seconds(start), 5.0);
        EXPECT_EQ(opened, !*c.failure) << receiver.GetReplyString().toStdString();
        EXPECT_TRUE(receiver.GetReplyString().contains(QLatin1String(c.failure)));
        if (opened) {
            EXPECT_EQ(receiver.SendCommand(QStringLiteral("print,x")), 1);
            EXPECT_TRUE(receiver.GetReplyString().endsWith(QStringLiteral("v\r\n")));
        }
        std::lock_guard lock(linesMutex);
        // Nothing waited for a greeting: the receiver's first line is a command, never an empty login answer.
        ASSERT_FALSE(lines.isEmpty());
        EXPECT_FALSE(lines.front().isEmpty());
    }
}
