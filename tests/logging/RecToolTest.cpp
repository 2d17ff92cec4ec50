#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <csignal>

namespace {

struct RecRun
{
    int code = -1;
    QString out;
    QString err;
};

// Runs the recorder; `fileLimit` > 0 caps the size of any file it writes (a full medium).
RecRun Rec(const QStringList& args, int64_t fileLimit = 0, int stopAfterMs = 0)
{
    QProcess p;
    if (fileLimit > 0) {
        p.setChildProcessModifier([fileLimit] {
            const rlimit limit{rlim_t(fileLimit), rlim_t(fileLimit)};
            setrlimit(RLIMIT_FSIZE, &limit);
        });
    }
    p.start(QStringLiteral(NEMOLA_REC_EXECUTABLE), args);
    if (stopAfterMs > 0 && !p.waitForFinished(stopAfterMs)) {
        ::kill(pid_t(p.processId()), SIGTERM);
    }
    p.waitForFinished(30000);
    return {p.exitCode(), QString::fromLocal8Bit(p.readAllStandardOutput()),
            QString::fromLocal8Bit(p.readAllStandardError())};
}

QByteArray Read(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST(RecToolTest, StopsCleanlyOnSignalAndExitsNonZeroOnAFullMedium)
{
    QTemporaryDir dir;
    // Default set, stopped by SIGTERM: one whole file that starts with its own header.
    const RecRun ok = Rec({"--simulator", "--folder", dir.filePath("a"), "--split", "1h"}, 0, 2500);
    EXPECT_EQ(ok.code, 0) << ok.err.toStdString();
    const QByteArray a = Read(dir.filePath("a/Site001.kvs"));
    EXPECT_TRUE(a.startsWith("MF009KV01010BF\n~~005")) << a.left(20).toStdString();
    EXPECT_TRUE(a.endsWith('\n'));

    // A medium that fills: exit 1 with the system's text and the loss, every earlier record kept whole. The list is
    // longer than one statement a receiver takes.
    const RecRun full = Rec({"--simulator", "--folder", dir.filePath("b"), "--messages",
                             "PG,PO,VE,PV,SG,DP,DO,SI,NN,EL,AZ,EC,E1,E2,SS,DC,RC,R1,PC,P1", "--interval",
                             "0.05", "--duration", "20"},
                            16384);
    EXPECT_EQ(full.code, 1);
    EXPECT_TRUE(full.err.contains("write error: File too large; lost ")) << full.err.toStdString();
    const QByteArray b = Read(dir.filePath("b/Site001.kvs"));
    EXPECT_LE(b.size(), 16384);
    EXPECT_TRUE(b.contains("\nP1")) << "the second statement's messages";
    EXPECT_TRUE(b.endsWith("\n"));

    struct Case
    {
        QStringList args;
        int code;
    } cases[] = {
        {{"--simulator"}, 2},                                          // no folder
        {{"--folder", "x", "--split", "5s"}, 2},                       // no such unit
        {{"--folder", "x", "--listen-only", "--messages", "PG"}, 2},   // listening sends nothing
        {{"--folder", "x", "--messages", QStringList(46, "PG").join(',')}, 2},  // more than the receiver holds
        {{"--tcp", "127.0.0.1:1", "--folder", dir.filePath("c")}, 2},  // nobody there
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Rec(c.args).code, c.code) << c.args.join(' ').toStdString();
    }
}

}  // namespace

namespace {

// A recording across midnight whose receiver goes away: date-and-time names from the receiver's clock, a new
// file just before midnight, exit status 3 and every file whole.
TEST(RecToolTest, MidnightThenLostLinkExitsThreeWithWholeFiles)
{
    QTemporaryDir dir;
    QProcess sim;
    // The receiver's time is GPS time, 18 s ahead of UTC: it starts at 23:59:53.
    sim.start(QStringLiteral(NEMOLA_SIM_EXECUTABLE),
              {"--tcp", "0", "--start-time", "2024-06-01T23:59:35", "--drop-after", "9"});
    ASSERT_TRUE(sim.waitForReadyRead(10000));
    const QByteArray line = sim.readLine().trimmed();
    ASSERT_TRUE(line.startsWith("tcp port ")) << line.constData();
    const RecRun lost = Rec({"--tcp", "127.0.0.1:" + QString::fromLatin1(line.mid(9)), "--folder", dir.path(),
                             "--split", "1d", "--names", "time"});
    sim.terminate();
    sim.waitForFinished(5000);
    EXPECT_EQ(lost.code, 3) << lost.err.toStdString();
    EXPECT_TRUE(lost.err.contains("lost")) << lost.err.toStdString();
    const QStringList files = QDir(dir.path()).entryList(QDir::Files, QDir::Name);
    ASSERT_EQ(files.size(), 2) << files.join(',').toStdString();
    EXPECT_TRUE(files[0].startsWith("Site240601 23595")) << files[0].toStdString();  // the first epoch's time
    EXPECT_EQ(files[1], "Site240601 235959.kvs");  // opened by the last epoch before midnight
    const QByteArray nextDay = QByteArray("RD006") + char(0xE8) + char(0x07) + char(6) + char(2);
    for (const QString& f : files) {
        const QByteArray b = Read(dir.filePath(f));
        EXPECT_TRUE(b.startsWith("MF009KV01010BF\nRD006")) << f.toStdString();
        EXPECT_TRUE(b.endsWith("\n")) << f.toStdString();
        EXPECT_EQ(b.count("~~005"), b.count("||001")) << f.toStdString();
    }
    EXPECT_TRUE(Read(dir.filePath(files[1])).contains(nextDay));
}

}  // namespace
