#include "files/FileTransfer.h"
#include "link/BlockReceiver.h"
#include "link/Checksum.h"
#include "link/Connection.h"
#include "link/DownloadSession.h"
#include "link/FileListing.h"
#include "link/Receiver.h"
#include "link/Scan.h"
#include "sim/SimFiles.h"
#include "support/SimHarness.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class DownloadTest : public ::testing::Test
{
protected:
    CFileTransfer::Result Get(const QString& name, int blockSize, const CFileTransfer::Progress& progress = {})
    {
        CFileTransfer transfer(sim.Receiver());
        return transfer.Download(name, Local(name), blockSize, progress, {}, 20);
    }
    QString Local(const QString& name) const { return dir.filePath(name + ".kvs"); }
    bool SentGet(const QString& text) const { return sim.SentStatements().contains(text); }

    CSimHarness sim;
    QTemporaryDir dir;
};

// A block as the receiver builds it; `chain` carries the CRC from one block to the next.
QByteArray Block(char type, uint16_t field, const QByteArray& data, int size, uint16_t* chain = nullptr)
{
    QByteArray b;
    b.append(type)
        .append(char(field & 0xFF))
        .append(char(field >> 8))
        .append(data.left(size).leftJustified(size, '\0'));
    const uint16_t c = Crc16(b.constData(), size_t(b.size()), chain ? *chain : 0);
    if (chain) {
        *chain = c;
    }
    return b.append(char(c & 0xFF)).append(char(c >> 8)).append('\x03');
}

}  // namespace

TEST(BlockReceiverTest, ProtocolPageVectorRepeatedLostAndBadBlocksAndRetries)
{
    const QByteArray b0(
        "\x02\x00\x00"
        "ABCD"
        "\xD9\x5B\x03",
        10);
    const QByteArray b1(
        "\x04\x02\x00"
        "EF\x00\x00"
        "\xBC\x7A\x03",
        10);
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

    struct Case
    {
        const char* what;
        QByteArray block;
        QByteArray answer;
        CBlockReceiver::State state;
        const char* error;
    };
    QByteArray badTrailer = b0;
    badTrailer[9] = 0x04;
    const Case cases[] = {
        {"bad trailer", badTrailer, "\x15", CBlockReceiver::State::Running, nullptr},
        {"count above the block size", Block(0x04, 5, "ABCD", 4), "\x15", CBlockReceiver::State::Running, nullptr},
        {"error block", Block(0x04, 0xFFFF, QByteArray("disk gone\0", 10), 16), "", CBlockReceiver::State::Failed,
         "the receiver reports: disk gone"},
        {"receiver abort", "#", "", CBlockReceiver::State::Failed, nullptr},
        {"shorter than its size", Block(0x04, 2, "AB", 4), "\x06", CBlockReceiver::State::Failed, nullptr},
        // Block 1 where block 0 was due: blocks were lost, the host aborts.
        {"lost blocks", Block(0x02, 1, "ABCD", 4), "#", CBlockReceiver::State::Failed, nullptr},
    };
    for (const Case& c : cases) {
        const int size = c.block.size() == 22 ? 16 : 4;
        CBlockReceiver bad(size, 6);
        CBlockReceiver::Output o;
        bad.Feed(c.block.constData(), c.block.size(), o);
        if (bad.WantsQuiet()) {
            bad.OnTimeout(o);  // the line stayed quiet
        }
        EXPECT_EQ(o.answer, c.answer) << c.what;
        EXPECT_EQ(bad.GetState(), c.state) << c.what;
        EXPECT_EQ(o.data.isEmpty(), c.answer != "\x06") << c.what;  // only a checked block gives bytes
        if (c.error) {
            EXPECT_EQ(bad.Error(), QLatin1String(c.error)) << c.what;
        }
        if (c.answer == "#") {
            EXPECT_TRUE(bad.NeedsDrain()) << c.what;
        }
    }

    // Silence: NAK after NAK, then the host gives up with an abort.
    CBlockReceiver silent(4, 6);
    CBlockReceiver::Output s;
    for (int i = 0; i <= CBlockReceiver::kMaxRetries; ++i) {
        silent.OnTimeout(s);
    }
    EXPECT_EQ(s.answer, QByteArray(CBlockReceiver::kMaxRetries, '\x15') + '#');
    EXPECT_EQ(silent.GetState(), CBlockReceiver::State::Failed);

    // A file that grew: the bytes up to the limit, then an abort and a drain.
    CBlockReceiver grow(4, 3);
    CBlockReceiver::Output g;
    grow.Feed(b0.constData(), b0.size(), g);
    EXPECT_EQ(g.data, QByteArray("ABC"));
    EXPECT_EQ(g.answer, QByteArray("#"));
    EXPECT_EQ(grow.GetState(), CBlockReceiver::State::Done);
    EXPECT_TRUE(grow.Grew() && grow.NeedsDrain());
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
            EXPECT_EQ(ReadFile(Local(name)), content);
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
    EXPECT_EQ(ReadFile(Local("cut")), content);

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
    EXPECT_EQ(ReadFile(Local("cut")), other);
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
    EXPECT_EQ(ReadFile(Local("grow")), content);

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
    EXPECT_TRUE(ReadFile(Local("big")) == content);
}

TEST_F(DownloadTest, HostileNamesAndExistingFilesNeverReachTheReceiver)
{
    const char* names[] = {"",        "   ", "/etc/passwd", "a/b", "..",   "a\\b", "x\x01y",
                           "q\"uote", "CON", "nul.kvs",     "a,b", "a;dm", "C:x"};
    sim.ClearSentStatements();
    for (const char* n : names) {
        EXPECT_FALSE(FileNameProblem(QString::fromLatin1(n)).isEmpty()) << n;
        EXPECT_FALSE(sim.Receiver().DownloadFile(QString::fromLatin1(n), dir.filePath("t.kvs"), 512)) << n;
    }
    EXPECT_TRUE(FileNameProblem(QStringLiteral("LOG0001 a.kvs")).isEmpty());

    sim.Sim().AddFile(QStringLiteral("kept"), "new");
    ASSERT_TRUE(WriteFile(Local("kept"), "mine"));
    EXPECT_FALSE(Get(QStringLiteral("kept"), 512).ok);
    EXPECT_EQ(ReadFile(Local("kept")), QByteArray("mine"));
    EXPECT_TRUE(sim.SentStatements().isEmpty()) << sim.SentStatements().join('|').toStdString();
}

TEST_F(DownloadTest, PlantedLinksAndLongNamesNeverWriteOutsideTheFolder)
{
    QTemporaryDir outside;
    const QString victim = outside.filePath("victim");
    ASSERT_TRUE(WriteFile(victim, "victim"));
    const QByteArray content = SimLogContent(5 * 512 + 3, 8);
    for (const char* name : {"target", "dangling", "part"}) {
        sim.Sim().AddFile(name, content, 77);
    }
    // A link at the final name, to a file or to nothing, is an existing name: refused before the receiver is asked
    // anything, also when replacing was asked for.
    ASSERT_TRUE(QFile::link(victim, Local("target")));
    ASSERT_TRUE(QFile::link(outside.filePath("new"), Local("dangling")));
    sim.ClearSentStatements();
    for (const char* name : {"target", "dangling"}) {
        const auto r = Get(name, 512);
        EXPECT_FALSE(r.ok);
        EXPECT_TRUE(r.text.contains(QLatin1String("already exists"))) << r.text.toStdString();
    }
    EXPECT_FALSE(sim.Receiver().DownloadFile("dangling", Local("dangling"), 512, true));
    EXPECT_TRUE(sim.Receiver().GetReplyString().contains(QLatin1String("not a plain file")));
    EXPECT_TRUE(sim.SentStatements().isEmpty()) << sim.SentStatements().join('|').toStdString();
    EXPECT_FALSE(QFileInfo::exists(outside.filePath("new")));

    // A link as the partial file, with a note that would resume it, is not followed: the download starts afresh.
    ASSERT_TRUE(QFile::link(victim, Local("part") + ".part"));
    ASSERT_TRUE(WriteFile(Local("part") + ".part.src", "part\n2563\n77\n"));
    ASSERT_TRUE(Get("part", 512).ok);
    EXPECT_TRUE(SentGet("get,/log/part:{10,512}"));
    EXPECT_EQ(ReadFile(Local("part")), content);
    EXPECT_EQ(ReadFile(victim), QByteArray("victim"));

    // Every name the download makes must fit: the note of a 247-byte name would have 256.
    const QString longName(243, QLatin1Char('n'));
    sim.Sim().AddFile(longName, "x");
    sim.ClearSentStatements();
    const auto r = Get(longName, 512);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.text.contains(QLatin1String("too long"))) << r.text.toStdString();
    EXPECT_TRUE(sim.SentStatements().isEmpty());
}

TEST_F(DownloadTest, CancelKeepsThePartAndTheLineAndOtherCommandsWait)
{
    sim.Connection().SetTimeout(10);
    const QByteArray content = SimLogContent(40 * 512, 11);
    sim.Sim().AddFile(QStringLiteral("stop"), content);
    sim.Sim().InjectTransferFault(SimTransferFault::Silence, 6);
    EXPECT_FALSE(sim.Receiver().DownloadFile(QStringLiteral("stop"), Local("stop"), 511));
    EXPECT_FALSE(sim.Receiver().DownloadFile(QStringLiteral("stop"), Local("stop"), 16385));
    EXPECT_FALSE(sim.Receiver().DownloadFile(QStringLiteral("nosuch"), Local("nosuch"), 512));
    EXPECT_TRUE(sim.Receiver().GetReplyString().startsWith(QLatin1String("ER")))
        << sim.Receiver().GetReplyString().toStdString();

    bool checked = false;
    CFileTransfer transfer(sim.Receiver());
    const auto r = transfer.Download(
        QStringLiteral("stop"), Local("stop"), 512,
        [&](int64_t received, int64_t size) {
            if (!checked && received > 0) {
                checked = true;
                EXPECT_EQ(size, content.size());
                EXPECT_TRUE(sim.Receiver().IsDownloading());
                // The stream belongs to the download: a command now would be read as blocks.
                EXPECT_FALSE(sim.Receiver().SendCommand(QStringLiteral("print,/par/rcv/model")));
                EXPECT_TRUE(sim.Receiver().GetReplyString().contains(QLatin1String("download is running")));
                // Nor may a pipelined batch of print lines slip in.
                EXPECT_FALSE(sim.Receiver().SendCommand(
                    QStringLiteral("@scr stoperrors off\nprint,/par/rcv/model\nprint,/par/rcv/id\n@end")));
                EXPECT_TRUE(sim.Receiver().GetReplyString().contains(QLatin1String("download is running")));
            }
        },
        [&] { return checked; }, 5);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.text, QStringLiteral("Aborted: stopped by the user"));
    EXPECT_FALSE(sim.Receiver().IsDownloading());
    EXPECT_TRUE(QFile::exists(Local("stop") + ".part"));
    bool ok = false;
    sim.Send(QStringLiteral("print,/par/rcv/model"), &ok);
    EXPECT_TRUE(ok);
    ASSERT_TRUE(Get(QStringLiteral("stop"), 512).ok);
    EXPECT_EQ(ReadFile(Local("stop")), content);
}

TEST_F(DownloadTest, ReceiverMemoryCommandsListingFaultsAndLogging)
{
    auto value = [&](const QString& command) { return AnswerValue(sim.Send(command)); };
    sim.Sim().SetParamValue(QStringLiteral("/par/dev/blk/a/size"), QStringLiteral("3221225472"));  // 3 GiB
    for (int i = 0; i < 200; ++i) {
        sim.Sim().AddFile(QStringLiteral("FILE_WITH_A_LONG_NAME_%1").arg(i, 3, 10, QLatin1Char('0')), "x", 77);
    }
    // A listing longer than one frame is one reply; a leading blank and a wrong count change nothing.
    sim.Sim().SetListingFault(SimListingFault::LeadingBlank, -150);
    const auto records = ParseFileListing(sim.Send(QStringLiteral("print,/log/&[name,size,time]")));
    EXPECT_EQ(records.size(), 200u);
    EXPECT_EQ(records.back().name, QStringLiteral("FILE_WITH_A_LONG_NAME_199"));
    EXPECT_EQ(value(QStringLiteral("print,/par/dev/blk/a/files")), QStringLiteral("50"));
    EXPECT_EQ(value(QStringLiteral("print,/par/dev/blk/a/free")), QStringLiteral("3221225272"));

    bool ok = false;
    sim.Send(QStringLiteral("remove,/log/"), &ok);
    EXPECT_TRUE(ok && sim.Sim().FileNames().isEmpty());
    sim.Send(QStringLiteral("create,\"/log/rec\""), &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(value(QStringLiteral("print,/cur/log")), QStringLiteral("/log/rec"));
    EXPECT_TRUE(sim.Sim().FileContent(QStringLiteral("rec")).startsWith("KV055RLOGF"));
    sim.Send(QStringLiteral("em,/cur/log,/msg/def:{1.00,0}"), &ok);
    ASSERT_TRUE(ok);
    sim.Advance(2000);
    const qlonglong grown = value(QStringLiteral("print,/log/rec&size")).toLongLong();
    EXPECT_GT(grown, SimLogHeader().size());
    EXPECT_EQ(value(QStringLiteral("print,/cur/log&size")).toLongLong(), grown);
    // Removing the file being logged into ends the logging.
    sim.Send(QStringLiteral("remove,\"/log/rec\""), &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(value(QStringLiteral("print,/cur/log")), QString());
    sim.Send(QStringLiteral("remove,\"/log/rec\""), &ok);
    EXPECT_FALSE(ok);
}

// Blocks are written as they are checked, but through one large buffer: a block must not cost a write of its own
// (two system calls a block with the C library's default buffer), and every byte is there once the file is whole.
TEST(DownloadSessionTest, BuffersThePartialFileAcrossBlocksAndWritesItWhole)
{
    QTemporaryDir dir;
    constexpr int kBlock = 4096;
    const QByteArray content = SimLogContent(40 * kBlock + 100, 3);
    DownloadPlan plan;
    plan.name = QStringLiteral("BUF");
    plan.finalPath = dir.filePath(QStringLiteral("buf.kvs"));
    plan.size = content.size();
    plan.blockSize = kBlock;
    CDownloadFiles files;
    QString why;
    ASSERT_TRUE(files.Open(plan.finalPath, false, &why) && files.StartFresh(QByteArray(), &why)) << why.toStdString();
    CDownloadSession session(plan, std::move(files));
    session.Begin();
    uint16_t number = 0;
    uint16_t crc = 0;
    qsizetype pos = 0;
    for (; pos + kBlock < content.size(); pos += kBlock) {
        session.Feed(Block('\x02', number++, content.mid(pos, kBlock), kBlock, &crc));
    }
    EXPECT_EQ(QFileInfo(plan.finalPath + QStringLiteral(".part")).size(), 0) << "a write per block";
    session.Feed(Block('\x04', uint16_t(content.size() - pos), content.mid(pos), kBlock, &crc));
    ASSERT_TRUE(session.Finished());
    EXPECT_TRUE(session.FinalNotice().startsWith("RE")) << session.FinalNotice().constData();
    EXPECT_TRUE(ReadFile(plan.finalPath) == content);
}
