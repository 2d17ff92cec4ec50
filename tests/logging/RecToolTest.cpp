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

    // A medium that fills: exit 1 with the system's text and the loss, every earlier record kept whole.
    const RecRun full = Rec({"--simulator", "--folder", dir.filePath("b"), "--messages", "PG,SI,RC,PC", "--interval",
                             "0.05", "--duration", "20"},
                            2048);
    EXPECT_EQ(full.code, 1);
    EXPECT_TRUE(full.err.contains("write error: File too large; lost ")) << full.err.toStdString();
    const QByteArray b = Read(dir.filePath("b/Site001.kvs"));
    EXPECT_GT(b.size(), 0);
    EXPECT_LE(b.size(), 2048);
    EXPECT_TRUE(b.endsWith("\n"));

    struct Case
    {
        QStringList args;
        int code;
    } cases[] = {
        {{"--simulator"}, 2},                                          // no folder
        {{"--folder", "x", "--split", "5s"}, 2},                       // no such unit
        {{"--folder", "x", "--listen-only", "--messages", "PG"}, 2},   // listening sends nothing
        {{"--tcp", "127.0.0.1:1", "--folder", dir.filePath("c")}, 2},  // nobody there
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Rec(c.args).code, c.code) << c.args.join(' ').toStdString();
    }
}

}  // namespace
