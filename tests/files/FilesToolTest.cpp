#include "files/FileTransfer.h"
#include "link/Connection.h"
#include "link/Receiver.h"
#include "sim/SimFiles.h"
#include "sim/SimTcpServer.h"
#include "sim/Simulator.h"

#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct ToolRun
{
    int code = -1;
    QString out;
    QString err;
};

ToolRun Tool(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral(NEMOLA_FILES_EXECUTABLE), args);
    p.waitForFinished(30000);
    return {p.exitCode(), QString::fromLocal8Bit(p.readAllStandardOutput()),
            QString::fromLocal8Bit(p.readAllStandardError())};
}

}  // namespace

TEST(FilesToolTest, ExitCodesListingAndAResumedDownload)
{
    QTemporaryDir dir;
    const ToolRun list = Tool({"--simulator", "list"});
    EXPECT_EQ(list.code, 0) << list.err.toStdString();
    // name, size, date and time in UTC, one file a line
    EXPECT_TRUE(list.out.startsWith("LOG0001\t151234\t01.06.2024 09:00:00\n")) << list.out.toStdString();

    // A download cut after 50000 bytes left its partial file: the tool goes on from there.
    const QByteArray content = SimLogContent(151234, 2);
    QFile part(dir.filePath("LOG0001.kvs.part"));
    ASSERT_TRUE(part.open(QIODevice::WriteOnly));
    part.write(content.left(50000));
    part.close();
    QFile source(dir.filePath("LOG0001.kvs.part.src"));
    ASSERT_TRUE(source.open(QIODevice::WriteOnly));
    source.write("LOG0001\n151234\n" + QByteArray::number(1717228800LL - 567993600LL + 3600) + "\n");
    source.close();
    ToolRun get = Tool({"--simulator", "get", "LOG0001", "--to", dir.path(), "--block", "512"});
    EXPECT_EQ(get.code, 0) << get.err.toStdString();
    EXPECT_TRUE(get.out.contains("151234 bytes (resumed after 50000)")) << get.out.toStdString();
    QFile done(dir.filePath("LOG0001.kvs"));
    ASSERT_TRUE(done.open(QIODevice::ReadOnly));
    EXPECT_TRUE(done.readAll() == content);
    EXPECT_FALSE(QFile::exists(part.fileName()));

    struct Case
    {
        QStringList args;
        int code;
    };
    const Case cases[] = {
        {{"--simulator", "get", "LOG0001", "--to", dir.path()}, 1},  // never over an existing file
        {{"--simulator", "get", "../LOG0002", "--to", dir.path()}, 1},
        {{"--simulator", "rm", "NOSUCH"}, 1},
        {{"--simulator", "rm", "LOG0003"}, 0},
        {{"--simulator", "get"}, 2},
        {{"--simulator", "list", "x"}, 2},
        {{"--block", "100", "get", "LOG0001"}, 2},
        {{"--tcp", "127.0.0.1:1", "list"}, 2},
    };
    for (const Case& c : cases) {
        const ToolRun r = Tool(c.args);
        EXPECT_EQ(r.code, c.code) << c.args.join(' ').toStdString() << ": " << r.err.toStdString();
    }
}

// A receiver on TCP whose port goes away in the middle of a file: the tool says so (2), and the next run resumes.
TEST(FilesToolTest, LinkCutOverTcpAndResumed)
{
    SimOptions options;
    options.virtualClock = true;
    auto sim = std::make_shared<CSimReceiver>(options);
    const QByteArray content = SimLogContent(300000, 21);
    sim->AddFile("CUT", content, 4242);
    sim->InjectTransferFault(SimTransferFault::DropLink, 7);
    CSimTcpServer server(sim, false);
    QString error;
    ASSERT_TRUE(server.Listen(QHostAddress::LocalHost, 0, &error)) << error.toStdString();
    QTemporaryDir dir;
    const QStringList args = {"--tcp", QStringLiteral("127.0.0.1:%1").arg(server.Port()), "get", "CUT", "--to",
                              dir.path(), "--block", "4096"};
    ToolRun first = Tool(args);
    EXPECT_EQ(first.code, 2) << first.err.toStdString();
    EXPECT_TRUE(first.err.contains("link lost")) << first.err.toStdString();
    EXPECT_EQ(QFileInfo(dir.filePath("CUT.kvs.part")).size(), 7 * 4096);
    EXPECT_FALSE(QFile::exists(dir.filePath("CUT.kvs")));

    ToolRun second = Tool(args);
    EXPECT_EQ(second.code, 0) << second.err.toStdString();
    EXPECT_TRUE(second.out.contains("(resumed after 28672)")) << second.out.toStdString();
    QFile done(dir.filePath("CUT.kvs"));
    ASSERT_TRUE(done.open(QIODevice::ReadOnly));
    EXPECT_TRUE(done.readAll() == content);
}

// Over TCP a block arrives in pieces and a corrupted one is asked for again.
TEST(FilesToolTest, TcpDownloadAtEveryBlockSizeWithACorruptBlock)
{
    SimOptions options;
    options.virtualClock = true;
    auto sim = std::make_shared<CSimReceiver>(options);
    const QByteArray content = SimLogContent(100003, 5);
    sim->AddFile("F", content);
    CSimTcpServer server(sim, false);
    QString error;
    ASSERT_TRUE(server.Listen(QHostAddress::LocalHost, 0, &error));
    CConnection connection;
    connection.Open(QString(), QString(), QString(), "test");
    CReceiver receiver;
    ASSERT_TRUE(receiver.Open(&connection, QStringLiteral("127.0.0.1:%1").arg(server.Port())));
    QTemporaryDir dir;
    CFileTransfer transfer(receiver);
    for (int bs = 512; bs <= 16384; bs *= 2) {
        sim->InjectTransferFault(SimTransferFault::CorruptBlock, 2);
        const QString path = dir.filePath(QString::number(bs));
        const auto r = transfer.Download("F", path, bs);
        ASSERT_TRUE(r.ok) << bs << r.text.toStdString();
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_TRUE(f.readAll() == content) << bs;
    }
}
