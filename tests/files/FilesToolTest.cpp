#include "files/FileTransfer.h"
#include "link/Connection.h"
#include "link/Receiver.h"
#include "sim/SimFiles.h"
#include "sim/SimTcpServer.h"
#include "sim/Simulator.h"
#include "support/SimHarness.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

ProgramRun Tool(const QStringList& args)
{
    return RunProgram(QStringLiteral(NEMOLA_FILES_EXECUTABLE), args);
}

}  // namespace

TEST(FilesToolTest, ExitCodesAndListing)
{
    QTemporaryDir dir;
    const ProgramRun list = Tool({"--simulator", "list"});
    EXPECT_EQ(list.code, 0) << list.err.toStdString();
    // name, size, date and time in UTC, one file a line
    EXPECT_TRUE(list.out.startsWith("LOG0001\t151234\t01.06.2024 09:00:00\n")) << list.out.toStdString();

    ASSERT_TRUE(WriteFile(dir.filePath("LOG0001.kvs"), "mine"));
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
        const ProgramRun r = Tool(c.args);
        EXPECT_EQ(r.code, c.code) << c.args.join(' ').toStdString() << ": " << r.err.toStdString();
    }
    EXPECT_EQ(ReadFile(dir.filePath("LOG0001.kvs")), QByteArray("mine"));
}

// A listing with a record that cannot be read and a name that would steer a terminal: the other files are listed,
// the name escaped, and the exit status tells that the listing was incomplete.
TEST(FilesToolTest, UnreadableRecordsAndControlBytesInTheListing)
{
    SimOptions options;
    options.virtualClock = true;
    auto sim = std::make_shared<CSimReceiver>(options);
    sim->AddFile("A", "x", 0);
    sim->AddFile(QString(300, QLatin1Char('L')), "x", 0);
    sim->AddFile(QString(QChar(0x9B)) + "2J", "x", 0);
    sim->AddFile("Z", "x", 0);
    CSimTcpServer server(sim, false);
    QString error;
    ASSERT_TRUE(server.Listen(QHostAddress::LocalHost, 0, &error)) << error.toStdString();
    const ProgramRun r = Tool({"--tcp", QStringLiteral("127.0.0.1:%1").arg(server.Port()), "list"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains("1 record")) << r.err.toStdString();
    EXPECT_EQ(r.out, QStringLiteral("A\t1\t01.01.1988 00:00:00\nZ\t1\t01.01.1988 00:00:00\n"
                                    "\\x9B2J\t1\t01.01.1988 00:00:00\n"));
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
    const QStringList args = {
        "--tcp", QStringLiteral("127.0.0.1:%1").arg(server.Port()), "get", "CUT", "--to", dir.path(), "--block",
        "4096"};
    ProgramRun first = Tool(args);
    EXPECT_EQ(first.code, 2) << first.err.toStdString();
    EXPECT_TRUE(first.err.contains("link lost")) << first.err.toStdString();
    EXPECT_EQ(QFileInfo(dir.filePath("CUT.kvs.part")).size(), 7 * 4096);
    EXPECT_FALSE(QFile::exists(dir.filePath("CUT.kvs")));

    ProgramRun second = Tool(args);
    EXPECT_EQ(second.code, 0) << second.err.toStdString();
    EXPECT_TRUE(second.out.contains("300000 bytes (resumed after 28672)")) << second.out.toStdString();
    EXPECT_FALSE(QFile::exists(dir.filePath("CUT.kvs.part")));
    EXPECT_TRUE(ReadFile(dir.filePath("CUT.kvs")) == content);
}

// Over TCP a block arrives in pieces: every block size, for an empty file, a whole number of blocks and a
// remainder, byte-identical with a corrupted block asked for again and no partial file left.
TEST(FilesToolTest, TcpDownloadAtEveryBlockSizeWithACorruptBlock)
{
    SimOptions options;
    options.virtualClock = true;
    auto sim = std::make_shared<CSimReceiver>(options);
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
        for (const int size : {0, 3 * bs, 40013}) {
            const QString name = QStringLiteral("f%1_%2").arg(bs).arg(size);
            const QByteArray content = SimLogContent(size, uint32_t(bs + size));
            sim->AddFile(name, content);
            if (size > 0) {
                sim->InjectTransferFault(SimTransferFault::CorruptBlock, 2);
            }
            const auto r = transfer.Download(name, dir.filePath(name), bs);
            ASSERT_TRUE(r.ok) << bs << " " << size << " " << r.text.toStdString();
            EXPECT_TRUE(ReadFile(dir.filePath(name)) == content) << bs << " " << size;
            EXPECT_FALSE(QFile::exists(dir.filePath(name) + ".part"));
        }
    }
}
