#include "sim/SimMessages.h"
#include "support/SimHarness.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A receiver port that already outputs: it streams `log` to its first client from the first byte, in pieces of
// `piece` bytes `gapMs` apart (all at once when 0), keeps the connection open and counts what the client sends.
class CStreamingPort
{
public:
    CStreamingPort(QByteArray log, int piece = 0, int gapMs = 0)
        : m_log(std::move(log)), m_piece(piece > 0 ? piece : int(m_log.size())), m_gapMs(gapMs)
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(m_listener, reinterpret_cast<sockaddr*>(&a), len) == 0 && ::listen(m_listener, 1) == 0 &&
            ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
            m_port = ntohs(a.sin_port);
        }
        m_thread = std::thread([this] { Run(); });
    }
    ~CStreamingPort()
    {
        m_stop = true;
        m_thread.join();
        ::close(m_listener);
    }
    QString Address() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }
    bool AllSent() const { return m_sent; }
    int64_t Received() const { return m_received; }

private:
    void Run()
    {
        pollfd p{m_listener, POLLIN, 0};
        while (!m_stop && ::poll(&p, 1, 50) <= 0) {
        }
        const int client = m_stop ? -1 : ::accept(m_listener, nullptr, nullptr);
        if (client < 0) {
            return;
        }
        for (qsizetype at = 0; at < m_log.size() && !m_stop; at += m_piece) {
            const qsizetype n = std::min<qsizetype>(m_piece, m_log.size() - at);
            if (::send(client, m_log.constData() + at, size_t(n), MSG_NOSIGNAL) != n) {
                break;
            }
            if (m_gapMs > 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(m_gapMs));
            }
        }
        m_sent = true;
        pollfd c{client, POLLIN, 0};
        char buffer[4096];
        while (!m_stop) {
            if (::poll(&c, 1, 50) > 0) {
                const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
                if (n <= 0) {
                    break;
                }
                m_received += n;
            }
        }
        ::close(client);
    }

    QByteArray m_log;
    int m_piece;
    int m_gapMs;
    int m_listener = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_sent{false};
    std::atomic<int64_t> m_received{0};
    std::thread m_thread;
};

QByteArray U32(uint32_t v)
{
    return QByteArray(reinterpret_cast<const char*>(&v), 4);
}

// A recorded log of `epochs` one-second epochs from `fromSeconds` (receiver time of day, 2024-06-01).
QByteArray Log(int fromSeconds, int epochs, int stepSeconds = 1)
{
    QByteArray log = "MF009KV01010BF\n";
    for (int k = 0; k < epochs; ++k) {
        const uint32_t ms = uint32_t(fromSeconds + k * stepSeconds) * 1000u;
        log += BinaryFrame("~~", U32(ms)) + BinaryFrame("RD", QByteArray::fromHex("e807060100")) +
               BinaryFrame("PG", QByteArray(28, char(k)) + char(1)) + BinaryFrame("RC", QByteArray(64, char(k % 7))) +
               BinaryFrame("||", QByteArray());
    }
    return log;
}

// The records of a recording (frames with their line end); `whole` is false when the last one is cut.
QByteArrayList Records(const QByteArray& file, bool* whole = nullptr)
{
    QByteArrayList out;
    qsizetype at = 0;
    while (at + 5 <= file.size()) {
        const qsizetype end = at + 5 + file.mid(at + 2, 3).toInt(nullptr, 16) + 1;
        if (end > file.size() || file[end - 1] != '\n') {
            break;
        }
        out << file.mid(at, end - at);
        at = end;
    }
    if (whole) {
        *whole = at == file.size();
    }
    return out;
}

// The records that are neither file headers nor dates, which the recorder repeats at the start of each file.
QByteArrayList Messages(const QByteArrayList& records)
{
    QByteArrayList out;
    for (const QByteArray& r : records) {
        if (!r.startsWith("MF") && !r.startsWith("RD")) {
            out << r;
        }
    }
    return out;
}

QByteArrayList FolderRecords(const QString& folder, QStringList* names = nullptr)
{
    QByteArrayList all;
    const QStringList files = QDir(folder).entryList(QDir::Files, QDir::Name);
    for (const QString& f : files) {
        all += Records(ReadFile(QDir(folder).filePath(f)));
    }
    if (names) {
        *names = files;
    }
    return all;
}

// Runs the recorder; `fileLimit` > 0 caps the size of any file it writes (a full medium).
ProgramRun Rec(const QStringList& args, int64_t fileLimit = 0, int stopAfterMs = 0)
{
    return RunProgram(QStringLiteral(NEMOLA_REC_EXECUTABLE), args, stopAfterMs, [fileLimit] {
        const rlimit limit{rlim_t(fileLimit), rlim_t(fileLimit)};
        if (fileLimit > 0) {
            setrlimit(RLIMIT_FSIZE, &limit);
        }
    });
}

TEST(RecToolTest, StopsCleanlyOnSignalAndExitsNonZeroOnAFullMedium)
{
    QTemporaryDir dir;
    // Default set, stopped by SIGTERM: one whole file that starts with its own header.
    const ProgramRun ok = Rec({"--simulator", "--folder", dir.filePath("a"), "--split", "1h"}, 0, 2500);
    EXPECT_EQ(ok.code, 0) << ok.err.toStdString();
    const QByteArray a = ReadFile(dir.filePath("a/Site001.kvs"));
    EXPECT_TRUE(a.startsWith("MF009KV01010BF\n~~005")) << a.left(20).toStdString();
    EXPECT_TRUE(a.endsWith('\n'));

    // A medium that fills: exit 1 with the system's text and the loss, every earlier record kept whole. The list is
    // longer than one statement a receiver takes.
    const ProgramRun full =
        Rec({"--simulator", "--folder", dir.filePath("b"), "--messages",
             "PG,PO,VE,PV,SG,DP,DO,SI,NN,EL,AZ,EC,E1,E2,SS,DC,RC,R1,PC,P1", "--interval", "0.05", "--duration", "20"},
            16384);
    EXPECT_EQ(full.code, 1);
    EXPECT_TRUE(full.err.contains("write error: File too large; lost ")) << full.err.toStdString();
    const QByteArray b = ReadFile(dir.filePath("b/Site001.kvs"));
    EXPECT_LE(b.size(), 16384);
    EXPECT_TRUE(b.contains("\nP1")) << "the second statement's messages";
    EXPECT_TRUE(b.endsWith("\n"));

    struct Case
    {
        QStringList args;
        int code;
    } cases[] = {
        {{"--simulator"}, 2},                                                   // no folder
        {{"--folder", "x", "--split", "5s"}, 2},                                // no such unit
        {{"--folder", "x", "--listen-only", "--messages", "PG"}, 2},            // listening sends nothing
        {{"--folder", "x", "--messages", QStringList(46, "PG").join(',')}, 2},  // more than the receiver holds
        {{"--tcp", "127.0.0.1:1", "--folder", dir.filePath("c")}, 2},           // nobody there
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Rec(c.args).code, c.code) << c.args.join(' ').toStdString();
    }
}

// A recording across midnight whose receiver goes away: date-and-time names from the receiver's clock, a new
// file with the first epoch of the new day (its date, although that day's date message comes after its time),
// exit status 3 and every file whole.
TEST(RecToolTest, MidnightThenLostLinkExitsThreeWithWholeFiles)
{
    QTemporaryDir dir;
    QProcess sim;
    // The receiver's time is GPS time, 18 s ahead of UTC: it starts at 23:59:53.
    const quint16 port =
        StartTcpSim(sim, NEMOLA_SIM_EXECUTABLE, {"--start-time", "2024-06-01T23:59:35", "--drop-after", "9"});
    ASSERT_NE(port, 0);
    const ProgramRun lost = Rec(
        {"--tcp", "127.0.0.1:" + QString::number(port), "--folder", dir.path(), "--split", "1d", "--names", "time"});
    sim.terminate();
    sim.waitForFinished(5000);
    EXPECT_EQ(lost.code, 3) << lost.err.toStdString();
    EXPECT_TRUE(lost.err.contains("lost")) << lost.err.toStdString();
    const QStringList files = QDir(dir.path()).entryList(QDir::Files, QDir::Name);
    ASSERT_EQ(files.size(), 2) << files.join(',').toStdString();
    EXPECT_TRUE(files[0].startsWith("Site240601 23595")) << files[0].toStdString();  // the first epoch's time
    EXPECT_EQ(files[1], "Site240602 000000.kvs");
    for (const QString& f : files) {
        const QByteArray b = ReadFile(dir.filePath(f));
        EXPECT_TRUE(b.startsWith("MF009KV01010BF\nRD006")) << f.toStdString();
        EXPECT_TRUE(b.endsWith("\n")) << f.toStdString();
        EXPECT_EQ(b.count("~~005"), b.count("||001")) << f.toStdString();
    }
    const QByteArrayList first = Records(ReadFile(dir.filePath(files[0])));
    const QByteArrayList next = Records(ReadFile(dir.filePath(files[1])));
    ASSERT_GE(next.size(), 3);
    EXPECT_EQ(next[1].left(9), QByteArray("RD006") + char(0xE8) + char(0x07) + char(6) + char(2));
    EXPECT_EQ(next[2], BinaryFrame("~~", U32(0)));
    QByteArray lastTime;
    for (const QByteArray& r : first) {
        lastTime = r.startsWith("~~") ? r : lastTime;
    }
    EXPECT_EQ(lastTime, BinaryFrame("~~", U32(86399000)));
}

// A port that outputs from the first byte is recorded as it comes, whether it streams faster than any greeting
// or slowly enough to be taken for a silent receiver, and whether the recording joins it mid-message: nothing is
// sent to it, and every message from the first epoch on is written once, in order, the file changing at the
// epoch on the boundary.
TEST(RecToolTest, ListensToAPortThatAlreadyStreams)
{
    const struct
    {
        const char* name;
        QByteArray log;
        int piece, gapMs;
        qsizetype from;  // where the stream starts in the log
    } cases[] = {
        {"full speed across a boundary", Log(10 * 3600 + 5 * 60, 1000), 0, 0, 0},
        {"1 KiB every 50 ms, joined mid-message", Log(10 * 3600 + 30 * 60, 150), 1024, 50, 40},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        CStreamingPort port(c.log.mid(c.from), c.piece, c.gapMs);
        // From the first epoch that arrives whole.
        const QByteArrayList log = Records(c.log);
        qsizetype first = 0;
        for (qsizetype offset = 0; offset < c.from || !log[first].startsWith("~~"); offset += log[first++].size()) {
        }
        const QByteArrayList expected = Messages(log.mid(first));
        QProcess rec;
        rec.start(QStringLiteral(NEMOLA_REC_EXECUTABLE),
                  {"--tcp", port.Address(), "--listen-only", "--folder", dir.path(), "--split", "15m"});
        EXPECT_TRUE(PumpUntil([&] { return Messages(FolderRecords(dir.path())).size() >= expected.size(); }, 20000));
        ::kill(pid_t(rec.processId()), SIGTERM);
        ASSERT_TRUE(rec.waitForFinished(10000));
        EXPECT_EQ(rec.exitCode(), 0) << rec.readAllStandardError().toStdString();
        EXPECT_EQ(port.Received(), 0);
        QStringList files;
        const QByteArrayList got = Messages(FolderRecords(dir.path(), &files));
        EXPECT_TRUE(got == expected) << got.size() << " of " << expected.size();
        if (c.from == 0) {
            ASSERT_EQ(files, (QStringList{"Site001.kvs", "Site002.kvs"}));
            const QByteArrayList second = Records(ReadFile(dir.filePath(files[1])));
            ASSERT_GE(second.size(), 3);
            EXPECT_EQ(second[2], BinaryFrame("~~", U32((10 * 3600 + 15 * 60) * 1000))) << "the epoch on the boundary";
        }
    }
}

// Buffered bytes reach the file within about a second, whatever the interval: a recorder killed 1.5 s after two
// epochs of a 5 s stream has both on the medium.
TEST(RecToolTest, AKilledRecorderKeepsTheEpochsOfTheLastSecond)
{
    QTemporaryDir dir;
    const QByteArray log = Log(8 * 3600, 2, 5);
    CStreamingPort port(log);
    QProcess rec;
    rec.start(QStringLiteral(NEMOLA_REC_EXECUTABLE),
              {"--tcp", port.Address(), "--listen-only", "--folder", dir.path()});
    ASSERT_TRUE(PumpUntil([&] { return port.AllSent(); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    rec.kill();
    rec.waitForFinished(5000);
    EXPECT_EQ(Messages(FolderRecords(dir.path())), Messages(Records(log)));
}

// Every way a recording fails tells what is on the medium and what was lost, and leaves whole records: a medium
// that is full at the last flush (at Stop), and a receiver that refuses a message (no file left behind).
TEST(RecToolTest, FailuresSayWhatIsOnTheMedium)
{
    QTemporaryDir dir;
    const ProgramRun full =
        Rec({"--simulator", "--folder", dir.filePath("a"), "--messages",
             "PG,PO,VE,PV,SG,DP,DO,SI,NN,EL,AZ,EC,E1,E2,SS,DC,RC,R1,PC,P1", "--interval", "0.05", "--duration", "0.6"},
            1000);
    EXPECT_EQ(full.code, 1) << full.err.toStdString();
    const QByteArray file = ReadFile(dir.filePath("a/Site001.kvs"));
    bool whole = false;
    const QByteArrayList records = Records(file, &whole);
    EXPECT_TRUE(whole) << file.size();
    EXPECT_TRUE(full.out.contains(
        QStringLiteral("%1 messages, %2 bytes in 1 files; lost ").arg(records.size()).arg(file.size())))
        << full.out.toStdString();

    const ProgramRun refused = Rec({"--simulator", "--folder", dir.filePath("b"), "--messages", "PG,Q7"});
    EXPECT_EQ(refused.code, 2);
    EXPECT_TRUE(refused.err.contains("Q7")) << refused.err.toStdString();
    EXPECT_TRUE(QDir(dir.filePath("b")).entryList(QDir::Files).isEmpty());
}

}  // namespace
