#include "support/SimHarness.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/resource.h>

namespace {

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
// file just before midnight, exit status 3 and every file whole.
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
    EXPECT_EQ(files[1], "Site240601 235959.kvs");  // opened by the last epoch before midnight
    const QByteArray nextDay = QByteArray("RD006") + char(0xE8) + char(0x07) + char(6) + char(2);
    for (const QString& f : files) {
        const QByteArray b = ReadFile(dir.filePath(f));
        EXPECT_TRUE(b.startsWith("MF009KV01010BF\nRD006")) << f.toStdString();
        EXPECT_TRUE(b.endsWith("\n")) << f.toStdString();
        EXPECT_EQ(b.count("~~005"), b.count("||001")) << f.toStdString();
    }
    EXPECT_TRUE(ReadFile(dir.filePath(files[1])).contains(nextDay));
}

}  // namespace
