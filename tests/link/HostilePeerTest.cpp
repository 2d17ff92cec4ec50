// The link against small scripted TCP receivers that misbehave: stray and stale replies, late continuations,
// replies that never end, garbage, odd greetings. Each fault is one a review reproduced.

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

#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// A receiver on a TCP port of its own thread. It greets with `greeting`, then hands every line it reads to the
// handler, which answers with Send (now or later). By default it answers like a receiver that echoes tags.
class CScriptedPeer
{
public:
    using Handler = std::function<void(CScriptedPeer& peer, const QByteArray& line)>;

    // `later` follows the greeting after 50 ms.
    explicit CScriptedPeer(QByteArray greeting = {}, QByteArray later = {})
        : m_greeting(std::move(greeting)), m_later(std::move(later))
    {
        m_handler = [](CScriptedPeer& peer, const QByteArray& line) {
            for (const Statement& s : SplitChain(QString::fromLatin1(line))) {
                peer.Send(Answer(s, "RE", s.text.startsWith(QLatin1String("print,")) ? "v" : ""));
            }
        };
        m_thread.start();
        m_context = new QObject;
        m_context->moveToThread(&m_thread);
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
        QMetaObject::invokeMethod(m_context, [this] { delete m_context; }, Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }

    QString Name() const { return QStringLiteral("127.0.0.1:%1").arg(m_server->serverPort()); }
    void SetHandler(Handler handler)
    {
        std::lock_guard lock(m_mutex);
        m_handler = std::move(handler);
    }
    // Bytes to the link after `delayMs`.
    void Send(const QByteArray& bytes, int delayMs = 0)
    {
        QMetaObject::invokeMethod(m_context, [this, bytes, delayMs] {
            QTimer::singleShot(delayMs, m_context, [this, bytes] {
                if (m_client) {
                    m_client->write(bytes);
                }
            });
        });
    }
    // Sends `bytes` every `periodMs` until the peer is destroyed.
    void Repeat(const QByteArray& bytes, int periodMs)
    {
        QMetaObject::invokeMethod(m_context, [this, bytes, periodMs] {
            auto* timer = new QTimer(m_context);
            QObject::connect(timer, &QTimer::timeout, m_context, [this, bytes] {
                if (m_client) {
                    m_client->write(bytes);
                }
            });
            timer->start(periodMs);
        });
    }
    QByteArrayList Lines() const
    {
        std::lock_guard lock(m_mutex);
        return m_lines;
    }

    // The reply frame a receiver gives statement `s`, with its tag, and the line end.
    static QByteArray Answer(const Statement& s, const char* id, const QByteArray& text)
    {
        return BuildFrame(id, (s.tagged ? '%' + s.tag.toLatin1() + '%' : QByteArray()) + text) + "\r\n";
    }

private:
    void Accept()
    {
        m_client = m_server->nextPendingConnection();
        if (!m_greeting.isEmpty()) {
            m_client->write(m_greeting);
        }
        if (!m_later.isEmpty()) {
            Send(m_later, 50);
        }
        QObject::connect(m_client, &QTcpSocket::readyRead, m_context, [this] {
            m_pending += m_client->readAll();
            int lf;
            while ((lf = int(m_pending.indexOf('\n'))) >= 0) {
                const QByteArray line = m_pending.left(lf).trimmed();
                m_pending.remove(0, lf + 1);
                Handler handler;
                {
                    std::lock_guard lock(m_mutex);
                    m_lines << line;
                    handler = m_handler;
                }
                handler(*this, line);
            }
        });
    }

    QThread m_thread;
    QObject* m_context = nullptr;
    QTcpServer* m_server = nullptr;
    QTcpSocket* m_client = nullptr;
    QByteArray m_greeting;
    QByteArray m_later;
    QByteArray m_pending;
    mutable std::mutex m_mutex;
    Handler m_handler;
    QByteArrayList m_lines;
};

// The one statement of a line (the tests send single statements unless they say otherwise).
Statement Only(const QByteArray& line)
{
    return SplitChain(QString::fromLatin1(line)).front();
}

class HostilePeerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_connection.Open(QString(), QString(), QStringLiteral("pw"), QStringLiteral("Nemola-M"));
        m_connection.SetTimeout(10);  // 200 ms of silence
    }
    void Open()
    {
        ASSERT_TRUE(m_receiver.Open(&m_connection, m_peer.Name())) << m_receiver.GetReplyString().toStdString();
    }
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
    struct Case
    {
        const char* before;  // what the receiver sends ahead of the real answer
        const char* id;
        const char* answer;
        const char* reply;  // what the caller sees
        CReceiver::Failure failure;
    };
    const Case cases[] = {
        {"RE000\r\n", "ER", "{4,value out of range}", "ER016{4,value out of range}\r\n",
         CReceiver::Failure::ErrorReply},
        {"RE00A%Peer-1%xy\r\nRE012untaggednm2%Peer-1\r\n", "RE", "v", "RE001v\r\n", CReceiver::Failure::None},
        {"RE005 tail\r\n", "RE", "w", "RE001w\r\n", CReceiver::Failure::None},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.before);
        m_peer.SetHandler([&](CScriptedPeer& peer, const QByteArray& line) {
            peer.Send(c.before + CScriptedPeer::Answer(Only(line), c.id, c.answer));
        });
        int ok = -1;
        EXPECT_EQ(Ask(QStringLiteral("set,/par/x,1"), &ok), QString::fromLatin1(c.reply));
        EXPECT_EQ(ok, c.failure == CReceiver::Failure::None ? 1 : 0);
        EXPECT_EQ(m_receiver.LastFailure(), c.failure);
    }
    // Untagged replies are the receiver's own output: they reach the raw output, also with nothing waiting.
    m_peer.Send("RE005hello\r\n");
    m_peer.SetHandler([](CScriptedPeer& peer, const QByteArray& line) {
        peer.Send(CScriptedPeer::Answer(Only(line), "RE", "sync"));
    });
    EXPECT_EQ(Ask(QStringLiteral("print,sync")), QStringLiteral("RE004sync\r\n"));
    std::lock_guard lock(m_rawMutex);
    EXPECT_TRUE(m_raw.contains("RE000\r\n")) << m_raw.constData();
    EXPECT_TRUE(m_raw.contains("RE012untaggednm2%Peer-1\r\n"));
    EXPECT_TRUE(m_raw.contains("RE005hello\r\n"));
    EXPECT_FALSE(m_raw.contains("%nm")) << "a private tag reached the raw output";
}

TEST_F(HostilePeerTest, AReceiverThatDoesNotEchoTagsIsNotTakenAtItsWord)
{
    m_peer.SetHandler([](CScriptedPeer& peer, const QByteArray& line) {
        Statement s = Only(line);
        s.tagged = false;
        peer.Send(CScriptedPeer::Answer(s, "RE", "Model"));
    });
    EXPECT_FALSE(m_receiver.Open(&m_connection, m_peer.Name()));
    EXPECT_TRUE(m_receiver.GetReplyString().contains(QLatin1String("answers without identifier tags")))
        << m_receiver.GetReplyString().toStdString();
    EXPECT_EQ(m_receiver.LastFailure(), CReceiver::Failure::TimedOut);
}

TEST_F(HostilePeerTest, ALateContinuationNeverBecomesTheNextCommandsAnswer)
{
    Open();
    int line = 0;
    m_peer.SetHandler([&](CScriptedPeer& peer, const QByteArray& text) {
        const Statement s = Only(text);
        if (++line == 1) {
            const int room = 0xFFF - (s.tag.size() + 2);
            peer.Send(CScriptedPeer::Answer(s, "RE", QByteArray(room, 'a')));
            peer.Send("RE004 end\r\n", 800);
        } else {
            peer.Send(CScriptedPeer::Answer(s, "ER", "{2,,wrong 1st parameter}"), 450);
        }
    });
    // With 500 ms of silence the first reply is taken as it is, and its continuation comes while the next
    // command waits.
    m_connection.SetTimeout(25);
    int ok = 0;
    const QString first = Ask(QStringLiteral("print,/log/"), &ok);
    EXPECT_EQ(ok, 1);
    EXPECT_TRUE(first.startsWith(QLatin1String("REFF")) && first.endsWith(QLatin1String("aaa\r\n")));
    EXPECT_EQ(Ask(QStringLiteral("print,next"), &ok), QStringLiteral("ER018{2,,wrong 1st parameter}\r\n"));
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(m_receiver.LastFailure(), CReceiver::Failure::ErrorReply);

    // With the usual 1.5 s the continuation still belongs to its reply.
    m_connection.SetTimeout(CConnection::kDefaultTimeout);
    line = 0;
    EXPECT_TRUE(Ask(QStringLiteral("print,/log/"), &ok).endsWith(QLatin1String("aend\r\n")));
    EXPECT_EQ(ok, 1);
}

TEST_F(HostilePeerTest, RepliesThatNeverEndFailWithinTheCaps)
{
    struct Case
    {
        const char* name;
        std::function<void(CScriptedPeer&, const Statement&)> misbehave;
        const char* why;
    };
    const QByteArray continuation = BuildFrame("RE", ' ' + QByteArray(0xFFE, 'b')) + "\r\n";
    auto full = [](const Statement& s) {
        return CScriptedPeer::Answer(s, "RE", QByteArray(0xFFF - int(s.tag.size() + 2), 'a'));
    };
    const Case cases[] = {
        {"a trickle",
         [](CScriptedPeer& peer, const Statement& s) {
             peer.Send("RE0FF%" + s.tag.toLatin1() + "%");
             peer.Repeat("x", 100);
         },
         "took too long"},
        {"endless continuations",
         [&](CScriptedPeer& peer, const Statement& s) {
             peer.Send(full(s));
             peer.Repeat(continuation, 50);
         },
         "took too long"},
        {"a flood of continuations",
         [&](CScriptedPeer& peer, const Statement& s) {
             QByteArray flood = full(s);
             for (int i = 0; i < 300; ++i) {
                 flood += continuation;
             }
             peer.Send(flood);
         },
         "reply is too long"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CScriptedPeer peer;
        CReceiver receiver;
        ASSERT_TRUE(receiver.Open(&m_connection, peer.Name()));
        peer.SetHandler([&](CScriptedPeer& p, const QByteArray& line) { c.misbehave(p, Only(line)); });
        const auto start = Clock::now();
        EXPECT_EQ(receiver.SendCommand(QStringLiteral("print,/par/")), 0);
        EXPECT_LT(Seconds(start), 0.2 * CReplyPairing::kMaxReplySilences + 1.0);
        EXPECT_TRUE(receiver.GetReplyString().contains(QLatin1String(c.why)))
            << receiver.GetReplyString().left(80).toStdString();
        EXPECT_EQ(receiver.LastFailure(), CReceiver::Failure::TimedOut);
    }
}

TEST_F(HostilePeerTest, ChainsPairAcrossWritesAndSkippedStatements)
{
    Open();
    m_connection.SetTimeout(100);  // 2 s: a wait for a reply that never comes would show
    m_peer.SetHandler([](CScriptedPeer& peer, const QByteArray& line) {
        bool skipping = false;
        int delay = 0;
        for (const Statement& s : SplitChain(QString::fromLatin1(line))) {
            if (!skipping) {
                const bool fail = s.text == QLatin1String("fail");
                peer.Send(CScriptedPeer::Answer(s, fail ? "ER" : "RE", s.text.toLatin1()), delay);
                delay += 100;  // each statement's answer in a write of its own
                skipping = fail && s.separator == QLatin1String("&&");
            } else {
                skipping = s.separator == QLatin1String("&&");
            }
        }
    });
    int ok = 0;
    auto start = Clock::now();
    EXPECT_EQ(Ask(QStringLiteral("fail&&b&&c;d"), &ok), QStringLiteral("ER004fail\r\nRE001d\r\n"));
    EXPECT_LT(Seconds(start), 1.5);
    EXPECT_EQ(m_receiver.LastFailure(), CReceiver::Failure::ErrorReply);
    start = Clock::now();
    EXPECT_EQ(Ask(QStringLiteral("a;b ; c"), &ok), QStringLiteral("RE001a\r\nRE001b\r\nRE001c\r\n"));
    EXPECT_EQ(ok, 1);
    EXPECT_LT(Seconds(start), 1.5);
    // The receiver sees the blanks gone and its own tags on every statement.
    EXPECT_TRUE(m_peer.Lines().last().contains(";%nm")) << m_peer.Lines().last().constData();
}

TEST_F(HostilePeerTest, GarbageBeforeAReplyCostsLittle)
{
    Open();
    m_connection.SetTimeout(100);
    for (char junk : {'A', 'F'}) {
        SCOPED_TRACE(junk);
        m_peer.SetHandler([&](CScriptedPeer& peer, const QByteArray& line) {
            peer.Send(QByteArray(1 << 20, junk));
            peer.Send(CScriptedPeer::Answer(Only(line), "RE", "behind"), 150);
        });
        const auto start = Clock::now();
        int ok = 0;
        EXPECT_EQ(Ask(QStringLiteral("print,x"), &ok), QStringLiteral("RE006behind\r\n"));
        EXPECT_LT(Seconds(start), 1.0);
    }
}

TEST_F(HostilePeerTest, CancelEndsTheWaitAtOnceAndLaterCommandsWork)
{
    m_connection.SetTimeout(500);  // 10 s
    m_peer.SetHandler([](CScriptedPeer& peer, const QByteArray& line) {
        const Statement s = Only(line);
        peer.Send(CScriptedPeer::Answer(s, "RE", "late"), s.text == QLatin1String("print,slow") ? 600 : 0);
    });
    CReceiverHolder holder;
    std::shared_ptr<CReceiver> receiver = holder.GetReceiver();
    ASSERT_TRUE(receiver->Open(&m_connection, m_peer.Name()));
    std::thread watcher([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        holder.Cancel();
    });
    const auto start = Clock::now();
    EXPECT_FALSE(holder.Send(QStringLiteral("print,slow")));
    EXPECT_LT(Seconds(start), 0.5);
    watcher.join();
    EXPECT_EQ(holder.Reply(), QStringLiteral("Cancelled by the user"));
    EXPECT_EQ(holder.LastFailure(), CReceiver::Failure::Cancelled);
    // The cancelled command's late answer is not the next one's.
    m_peer.SetHandler([](CScriptedPeer& peer, const QByteArray& line) {
        peer.Send(CScriptedPeer::Answer(Only(line), "RE", "fresh"), 700);
    });
    EXPECT_TRUE(holder.Send(QStringLiteral("print,next")));
    EXPECT_EQ(holder.Reply(), QStringLiteral("RE005fresh\r\n"));
    EXPECT_EQ(holder.LastFailure(), CReceiver::Failure::None);
    holder.CloseReceiver();
}

TEST_F(HostilePeerTest, TheTimeOutAppliesFromTheNextCommandWithoutACap)
{
    Open();
    m_peer.SetHandler([](CScriptedPeer& peer, const QByteArray& line) {
        peer.Send(CScriptedPeer::Answer(Only(line), "RE", "slow"), 1600);
    });
    m_connection.SetTimeout(100);  // 2 s
    int ok = 0;
    EXPECT_EQ(Ask(QStringLiteral("init,/par/"), &ok), QStringLiteral("RE004slow\r\n"));
    EXPECT_EQ(ok, 1);
    m_connection.SetTimeout(10);
    EXPECT_EQ(Ask(QStringLiteral("init,/par/"), &ok), QStringLiteral("No reply from the receiver"));
    EXPECT_EQ(m_receiver.LastFailure(), CReceiver::Failure::TimedOut);
}

namespace {

// A receiver that logs in the client: greeting, "login:", port answer, "password:", verdict.
void Login(CScriptedPeer& peer, const QByteArray& line, int* step, const QByteArray& chatter = {})
{
    if (++*step == 1) {
        peer.Send("password: ");
    } else if (*step == 2) {
        peer.Send(chatter + (line == "pw" ? BuildFrame("RE", "%Logged in on /dev/tcp/a%") + "\r\n"
                                          : BuildFrame("ER", "{3,,wrong password}") + "\r\n"));
    } else {
        peer.Send(CScriptedPeer::Answer(Only(line), "RE", "v"));
    }
}

}  // namespace

TEST(TcpGreeting, OpensWhateverTheReceiverSaysFirst)
{
    struct Case
    {
        const char* name;
        QByteArray greeting;
        QByteArray later;       // sent 50 ms after the greeting
        QByteArray chatter;     // sent before the login verdict
        bool login;
        double maxSeconds;
    };
    const Case cases[] = {
        {"silence", {}, {}, {}, false, 0.3},
        {"greeting lines and no login", "#Receiver\r\n#Ready\r\n", {}, {}, false, 1.0},
        {"a login prompt split in two", "#Receiver\r\nlog", "in: ", {}, true, 1.0},
        {"chatter with ER in it", "# RECEIVER ERROR LOG EMPTY\r\nlogin: ", {}, "# ERASE DONE\r\n", true, 1.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CScriptedPeer peer(c.greeting, c.later);
        int step = c.login ? 0 : 2;
        peer.SetHandler([&](CScriptedPeer& p, const QByteArray& line) { Login(p, line, &step, c.chatter); });
        CConnection connection;
        connection.Open(QString(), QString(), QStringLiteral("pw"), QStringLiteral("Nemola-M"));
        CReceiver receiver;
        const auto start = Clock::now();
        ASSERT_TRUE(receiver.Open(&connection, peer.Name())) << receiver.GetReplyString().toStdString();
        EXPECT_LT(Seconds(start), c.maxSeconds);
        EXPECT_EQ(receiver.SendCommand(QStringLiteral("print,x")), 1);
        EXPECT_EQ(receiver.GetReplyString(), QStringLiteral("RE001v\r\n"));
    }
}

TEST(TcpGreeting, RefusedOrEndlessGreetingsFailTheOpenWithAReason)
{
    CConnection connection;
    connection.Open(QString(), QString(), QStringLiteral("wrong"), QStringLiteral("Nemola-M"));
    {
        CScriptedPeer peer("#Receiver\r\nlogin: ");
        int step = 0;
        peer.SetHandler([&](CScriptedPeer& p, const QByteArray& line) { Login(p, line, &step); });
        CReceiver receiver;
        EXPECT_FALSE(receiver.Open(&connection, peer.Name()));
        EXPECT_TRUE(receiver.GetReplyString().contains(QLatin1String("refused"))) << receiver.GetReplyString().toStdString();
    }
    CScriptedPeer endless("#");
    endless.Repeat(QByteArray(1000, '#') + "\r\n", 5);
    CReceiver receiver;
    const auto start = Clock::now();
    EXPECT_FALSE(receiver.Open(&connection, endless.Name()));
    EXPECT_LT(Seconds(start), 6.0);
    EXPECT_TRUE(receiver.GetReplyString().contains(QLatin1String("greeting does not end")))
        << receiver.GetReplyString().toStdString();
}
