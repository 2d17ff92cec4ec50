#include "files/FileTransfer.h"
#include "link/BlockReceiver.h"
#include "link/Checksum.h"
#include "link/Connection.h"
#include "link/FileListing.h"
#include "link/Receiver.h"
#include "sim/SimFiles.h"
#include "support/SimHarness.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

class DownloadTest : public ::testing::Test
{
protected:
    CFileTransfer::Result Get(const QString& name, int blockSize, const CFileTransfer::Progress& progress = {})
    {
        CFileTransfer transfer(sim.Receiver());
        return transfer.Download(name, Local(name), blockSize, progress, {}, 20);
    }
    QString Local(const QString& name) const { return dir.filePath(name + ".kvs"); }
    bool SentGet(const QString& text) const
    {
        return sim.SentStatements().contains(text);
    }

    CSimHarness sim;
    QTemporaryDir dir;
};

}  // namespace

TEST(BlockReceiverTest, ProtocolPageVectorRepeatedBlockAndLostBlocks)
{
    const QByteArray b0("\x02\x00\x00" "ABCD" "\xD9\x5B\x03", 10);
    const QByteArray b1("\x04\x02\x00" "EF\x00\x00" "\xBC\x7A\x03", 10);
    CBlockReceiver r(4, 6);
    CBlockReceiver::Output out;
    // Split anywhere, with the line end of the get's reply before it; the first block comes twice (lost ACK).
    r.Feed("\r\n", 2, out);
    r.Feed(b0.constData(), 3, out);
    r.Feed(b0.constData() + 3, 7, out);
    r.Feed(b0.constData(), b0.size(), out);
    r.Feed(b1.constData(), b1.size(), out);
    EXPECT_EQ(out.answer, QByteArray("\x06\x06\x06"));
    EXPECT_EQ(out.data, QByteArray("ABCDEF"));
    EXPECT_EQ(r.GetState(), CBlockReceiver::State::Done);

    // Block 1 where block 0 was due: blocks were lost, the host aborts.
    QByteArray skipped = b0;
    skipped[1] = 1;
    const uint16_t crc = Crc16(skipped.constData(), 7);
    skipped[7] = char(crc & 0xFF);
    skipped[8] = char(crc >> 8);
    CBlockReceiver lost(4, 6);
    CBlockReceiver::Output out2;
    lost.Feed(skipped.constData(), skipped.size(), out2);
    EXPECT_EQ(out2.answer, QByteArray("#"));
    EXPECT_EQ(lost.GetState(), CBlockReceiver::State::Failed);
    EXPECT_TRUE(lost.NeedsDrain());
}

TEST_F(DownloadTest, ByteIdenticalAtEveryBlockSize)
{
    for (int bs = 512; bs <= 16384; bs *= 2) {
        for (const int64_t size : {int64_t(0), int64_t(3) * bs, int64_t(40013)}) {
            const QString name = QStringLiteral("f%1_%2").arg(bs).arg(size);
            const QByteArray content = SimLogContent(size, uint32_t(bs + size));
            sim.Sim().AddFile(name, content);
            const auto r = Get(name, bs);
            ASSERT_TRUE(r.ok) << bs << " " << size << " " << r.text.toStdString();
            EXPECT_EQ(ReadAll(Local(name)), content) << bs << " " << size;
            EXPECT_FALSE(QFile::exists(Local(name) + ".part"));
        }
    }
}

TEST_F(DownloadTest, EachInjectedFaultIsRecoveredOrReported)
{
    struct Case
    {
        SimTransferFault fault;
        bool recovered;
        const char* text;
    };
    const Case cases[] = {
        {SimTransferFault::CorruptBlock, true, ""},
        {SimTransferFault::LoseAck, true, ""},
        {SimTransferFault::Silence, true, ""},
        {SimTransferFault::BadCount, true, ""},
        {SimTransferFault::Abort, false, "Aborted: the receiver aborted"},
        {SimTransferFault::ErrorBlock, false, "Aborted: the receiver reports: read error"},
    };
    sim.Connection().SetTimeout(10);  // 200 ms without a block
    const QByteArray content = SimLogContent(9 * 1024 + 5, 7);
    int n = 0;
    for (const Case& c : cases) {
        const QString name = QStringLiteral("fault%1").arg(n++);
        sim.Sim().AddFile(name, content);
        sim.Sim().InjectTransferFault(c.fault, 3);
        const auto r = Get(name, 1024);
        EXPECT_EQ(r.ok, c.recovered) << name.toStdString() << " " << r.text.toStdString();
        EXPECT_TRUE(r.text.startsWith(QLatin1String(c.text))) << r.text.toStdString();
        EXPECT_EQ(QFile::exists(Local(name)), c.recovered);
        if (c.recovered) {
            EXPECT_EQ(ReadAll(Local(name)), content);
        } else {
            EXPECT_EQ(QFileInfo(Local(name) + ".part").size(), 3 * 1024);  // only verified blocks
        }
        // The line is usable again at once.
        bool ok = false;
        sim.Send(QStringLiteral("print,/par/rcv/model"), &ok);
        EXPECT_TRUE(ok) << name.toStdString();
    }
}

TEST_F(DownloadTest, LinkCutMidFileResumesOnlyForTheSameFile)
{
    const QByteArray content = SimLogContent(20 * 512 + 1, 3);
    sim.Sim().AddFile(QStringLiteral("cut"), content, 1000);
    sim.Sim().InjectTransferFault(SimTransferFault::DropLink, 5);
    auto r = Get(QStringLiteral("cut"), 512);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.text.contains(QLatin1String("link lost"))) << r.text.toStdString();
    EXPECT_FALSE(QFile::exists(Local("cut")));
    EXPECT_EQ(QFileInfo(Local("cut") + ".part").size(), 5 * 512);

    ASSERT_TRUE(sim.Open());
    sim.ClearSentStatements();
    r = Get(QStringLiteral("cut"), 512);
    ASSERT_TRUE(r.ok) << r.text.toStdString();
    EXPECT_TRUE(SentGet("get,/log/cut,2560:{10,512}")) << sim.SentStatements().join('|').toStdString();
    EXPECT_EQ(ReadAll(Local("cut")), content);

    // A receiver that reused the name for another file (another time) gets a fresh download.
    QFile::remove(Local("cut"));
    sim.Sim().InjectTransferFault(SimTransferFault::DropLink, 5);
    EXPECT_FALSE(Get(QStringLiteral("cut"), 512).ok);
    ASSERT_TRUE(sim.Open());
    const QByteArray other = SimLogContent(20 * 512 + 1, 4);
    sim.Sim().AddFile(QStringLiteral("cut"), other, 2000);
    sim.ClearSentStatements();
    ASSERT_TRUE(Get(QStringLiteral("cut"), 512).ok);
    EXPECT_TRUE(SentGet("get,/log/cut:{10,512}"));
    EXPECT_EQ(ReadAll(Local("cut")), other);
}

TEST_F(DownloadTest, FileGrowingOrRemovedDuringTheTransfer)
{
    sim.Connection().SetTimeout(15);
    const QByteArray content = SimLogContent(12 * 512, 5);
    sim.Sim().AddFile(QStringLiteral("grow"), content);
    sim.Sim().InjectTransferFault(SimTransferFault::Silence, 4);
    bool grown = false;
    auto r = Get(QStringLiteral("grow"), 512, [&](int64_t, int64_t) {
        if (!grown) {
            sim.Sim().AppendToFile(QStringLiteral("grow"), QByteArray(3000, 'x'));
            grown = true;
        }
    });
    ASSERT_TRUE(r.ok) << r.text.toStdString();
    EXPECT_TRUE(r.text.contains(QLatin1String("logged into"))) << r.text.toStdString();
    EXPECT_EQ(ReadAll(Local("grow")), content);

    sim.Sim().AddFile(QStringLiteral("gone"), content);
    sim.Sim().InjectTransferFault(SimTransferFault::Silence, 4);
    r = Get(QStringLiteral("gone"), 512, [&](int64_t, int64_t) { sim.Sim().DeleteFile(QStringLiteral("gone")); });
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.text.contains(QLatin1String("file removed"))) << r.text.toStdString();
    EXPECT_FALSE(QFile::exists(Local("gone")));
}

TEST_F(DownloadTest, BlockNumbersWrapAfter65535)
{
    const QByteArray content = SimLogContent(65537LL * 512 + 100, 9);
    sim.Sim().AddFile(QStringLiteral("big"), content);
    const auto r = Get(QStringLiteral("big"), 512);
    ASSERT_TRUE(r.ok) << r.text.toStdString();
    EXPECT_TRUE(ReadAll(Local("big")) == content);
}

TEST_F(DownloadTest, HostileNamesAndExistingFilesNeverReachTheReceiver)
{
    const char* names[] = {"", "   ", "/etc/passwd", "a/b", "..", "a\\b", "x\x01y", "q\"uote", "CON", "nul.kvs",
                           "a,b", "a;dm", "C:x"};
    sim.ClearSentStatements();
    for (const char* n : names) {
        EXPECT_FALSE(FileNameProblem(QString::fromLatin1(n)).isEmpty()) << n;
        EXPECT_FALSE(sim.Receiver().DownloadFile(QString::fromLatin1(n), dir.filePath("t.kvs"), 512)) << n;
    }
    EXPECT_TRUE(FileNameProblem(QStringLiteral("LOG0001 a.jps")).isEmpty());

    sim.Sim().AddFile(QStringLiteral("kept"), "new");
    QFile keep(Local("kept"));
    ASSERT_TRUE(keep.open(QIODevice::WriteOnly));
    keep.write("mine");
    keep.close();
    EXPECT_FALSE(Get(QStringLiteral("kept"), 512).ok);
    EXPECT_EQ(ReadAll(Local("kept")), QByteArray("mine"));
    EXPECT_TRUE(sim.SentStatements().isEmpty()) << sim.SentStatements().join('|').toStdString();
}
