#include "files/DownloadPathDlg.h"
#include "link/Connection.h"
#include "link/Framer.h"
#include "link/Profile.h"
#include "link/ReceiverHolder.h"
#include "logging/ForeignSplitter.h"
#include "logging/ui/RealTimeLogging.h"
#include "support/ScriptedPrompts.h"
#include "support/SimHarness.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <cstdlib>

#include <map>

namespace {

class RealTimeLoggingTest : public ::testing::Test
{
protected:
    RealTimeLoggingTest() : sim(CSimHarness::VirtualClock(), &CReceiverHolder::Shared()) {}
    ~RealTimeLoggingTest() override { CReceiverHolder::Shared().CloseReceiver(); }

    std::unique_ptr<CRealTimeLogging> Open()
    {
        RealTimeLoggingContext c;
        c.connection = &sim.Connection();
        c.holder = &CReceiverHolder::Shared();
        c.receiverName = sim.Name();
        c.site = SiteInfo{QStringLiteral("Roof"), QStringLiteral("1.5"), false, false, QStringLiteral("UNKNOWN")};
        auto d = std::make_unique<CRealTimeLogging>(c);
        d->pathPage->tree->SelectFolder(dir.path());
        // Choices saved on Exit by an earlier case would carry over.
        d->filePage->overwrite->setChecked(false);
        d->filePage->prefix->setText("Site");
        return d;
    }
    // Receiver time passes; the link's thread delivers what it brought.
    void Run(int64_t ms)
    {
        for (int64_t t = 0; t < ms; t += 1000) {
            sim.Advance(1000);
            QElapsedTimer wait;
            wait.start();
            while (wait.elapsed() < 5) {
                QApplication::processEvents();
            }
        }
    }
    // Replies follow what the receiver sent before them: once this one is in, the recording has been handed all of
    // it, however far behind the link's thread was on a loaded machine.
    void Settle()
    {
        sim.Send(QStringLiteral("print,/par/rcv/model"));
        QApplication::processEvents();
    }
    QStringList Files() const { return QDir(dir.path()).entryList(QDir::Files, QDir::Name); }
    QByteArray Read(const QString& name) const { return ReadFile(QDir(dir.path()).filePath(name)); }

    CScriptedPrompts prompts;
    CSimHarness sim;
    QTemporaryDir dir;
};

QTreeWidgetItem* Row(QTreeWidget* list, const QString& id)
{
    return list->findItems(id, Qt::MatchExactly).value(0);
}

}  // namespace

// The table from the receiver's lists; a list-mode recording in one-minute files with the site events sent;
// Stop closes whole files; the choices are saved on Exit.
TEST_F(RealTimeLoggingTest, ListModeRecordingAcrossFilesAndSettingsOnExit)
{
    auto d = Open();
    QTreeWidget* list = d->messagePage->list;
    ASSERT_NE(Row(list, "PG"), nullptr);
    EXPECT_NE(Row(list, "RT"), nullptr);                     // names, not "~~"
    EXPECT_EQ(Row(list, "PG")->checkState(0), Qt::Checked);  // "ALL" by default
    EXPECT_FALSE(list->isEnabled());                         // "Def.Msg." mode
    d->DefMsg();
    EXPECT_EQ(d->defButton->text(), "List Msg.");
    EXPECT_TRUE(list->isEnabled());
    d->messagePage->allLock->click();
    Row(list, "PG")->setCheckState(0, Qt::Checked);
    Row(list, "SI")->setCheckState(0, Qt::Checked);
    d->filePage->every->setText("1");
    d->filePage->unit->setCurrentIndex(0);

    Run(2000);
    sim.ClearSentStatements();
    d->StartStop();
    EXPECT_TRUE(d->Running()) << d->Status().toStdString();
    EXPECT_EQ(d->startButton->text(), "Stop");
    EXPECT_FALSE(d->exitButton->isEnabled());
    EXPECT_TRUE(sim.SentStatements().join('\n').contains("_SIT=Roof")) << sim.SentStatements().join('\n').toStdString();
    Run(130000);
    d->StartStop();
    EXPECT_EQ(d->Status(), "Aborted by user!");
    EXPECT_FALSE(d->Running());
    const QStringList files = Files();
    ASSERT_GE(files.size(), 2) << files.join(',').toStdString();
    EXPECT_EQ(files[0], "Site001.kvs");
    // Later files start with the engine's own header; every file but the last ends with its epoch's end.
    for (int i = 0; i < files.size(); ++i) {
        const QByteArray bytes = Read(files[i]);
        EXPECT_TRUE(i == 0 || bytes.startsWith("MF009KV01010BF\nRD006")) << files[i].toStdString();
        EXPECT_EQ(bytes.count("MF009"), 1) << files[i].toStdString();
        if (i + 1 < files.size()) {
            EXPECT_EQ(bytes.mid(bytes.size() - 7, 5), QByteArray("||001")) << files[i].toStdString();
        }
    }
    EXPECT_TRUE(Read(files[0]).contains("PG01E"));
    d->Exit();
    CProfile* profile = CProfile::Instance();
    EXPECT_EQ(profile->ReadString("RealTime", "MsgKVS", "ALL"), ",PG,SI,");
    EXPECT_EQ(profile->ReadString("RealTime", "IntervalBetweenFiles", ""), "1");
    CProfile::Release();
}

// A closed window stops a default-set recording.
TEST_F(RealTimeLoggingTest, CloseStopsTheRecording)
{
    auto d = Open();
    Run(2000);
    d->StartStop();
    ASSERT_TRUE(d->Running()) << d->Status().toStdString();
    Run(5000);
    d->Tick();
    EXPECT_TRUE(d->Health().contains("B/s")) << d->Health().toStdString();
    d->close();
    EXPECT_FALSE(d->Running());
    ASSERT_EQ(Files(), QStringList{"Site001.kvs"});
    const QByteArray bytes = Read("Site001.kvs");
    EXPECT_TRUE(bytes.startsWith("MF009KV01010BF\n")) << bytes.left(16).toStdString();
    EXPECT_EQ(bytes.count("MF009"), 1);                     // the default set's own MF of every epoch is dropped
    EXPECT_EQ(bytes.count("~~005"), bytes.count("||001"));  // each epoch's time once
    EXPECT_TRUE(bytes.endsWith("\n"));
}

namespace {

// Whole NMEA sentences (CR LF, checksum right) or whole CRC-checked RTCM 3 frames, back to back: the count of
// each sentence or message number; "?" counts the bytes that are neither.
std::map<QByteArray, int> ForeignItems(const QByteArray& b)
{
    std::map<QByteArray, int> count;
    CForeignSplitter splitter;
    int taken = 0;
    splitter.Feed(b.constData(), int(b.size()), [&](const char* d, int n, CForeignSplitter::Kind kind) {
        taken += n;
        const QByteArray item(d, n);
        ++count[kind == CForeignSplitter::Kind::Nmea ? item.left(6)
                                                     : QByteArray::number(uint8_t(d[3]) << 4 | uint8_t(d[4]) >> 4)];
    });
    if (taken != b.size()) {
        count["?"] = int(b.size()) - taken;
    }
    return count;
}

}  // namespace

// Other formats reach their files exactly as the receiver sent them: no LF added, nothing of the receiver's own
// frames mixed in, every sentence and frame whole.
TEST_F(RealTimeLoggingTest, NmeaAndRtcm3RecordingsHoldEverySentenceAndFrameWhole)
{
    auto d = Open();
    Run(2000);
    d->messagePage->type->setCurrentIndex(2);
    d->StartStop();
    ASSERT_TRUE(d->Running()) << d->Status().toStdString();
    Run(10000);
    Settle();
    d->StartStop();
    ASSERT_EQ(Files(), QStringList{"Site001.nmea"});
    const auto nmea = ForeignItems(Read("Site001.nmea"));
    EXPECT_EQ(nmea.count("?"), 0u);
    EXPECT_GE(nmea.at("$GPGGA"), 9);
    EXPECT_LE(std::abs(nmea.at("$GPGGA") - nmea.at("$GPRMC")), 1);  // Start / Stop within an epoch
    EXPECT_GT(nmea.at("$GPGSV"), 0);

    d->messagePage->type->setCurrentIndex(3);
    auto& rtcm = d->messagePage->Entries(3);
    rtcm = {{"1004", true, {}}, {"1012", true, {}}, {"1005", true, {}}};
    d->StartStop();
    ASSERT_TRUE(d->Running()) << d->Status().toStdString();
    Run(5000);
    Settle();
    d->StartStop();
    ASSERT_TRUE(Files().contains("Site001.rtcm")) << Files().join(',').toStdString();
    const auto frames = ForeignItems(Read("Site001.rtcm"));
    EXPECT_EQ(frames.count("?"), 0u);
    EXPECT_GE(frames.at("1004"), 4);
    // Start and Stop may fall between the frames of one epoch: one more or fewer of a kind at the ends.
    EXPECT_LE(std::abs(frames.at("1004") - frames.at("1012")), 1);
    EXPECT_LE(std::abs(frames.at("1004") - frames.at("1005")), 1);
}

// A start count of 7 with the prefix A: A007, A008; an existing B007 is skipped, or replaced after "Yes".
TEST_F(RealTimeLoggingTest, CountedNamesWithAndWithoutOverwrite)
{
    auto d = Open();
    d->filePage->prefix->setText("A");
    d->filePage->startCount->setText("7");
    d->filePage->every->setText("1");
    d->filePage->unit->setCurrentIndex(0);
    auto record = [&] {
        d->StartStop();
        EXPECT_TRUE(d->Running()) << d->Status().toStdString();
        Run(60000);
        d->StartStop();
    };
    Run(2000);
    record();
    EXPECT_EQ(Files(), (QStringList{"A007.kvs", "A008.kvs"}));

    ASSERT_TRUE(WriteFile(QDir(dir.path()).filePath("B007.kvs"), "old"));
    d->filePage->prefix->setText("B");
    record();
    EXPECT_EQ(Files(), (QStringList{"A007.kvs", "A008.kvs", "B007.kvs", "B008.kvs", "B009.kvs"}));
    EXPECT_EQ(Read("B007.kvs"), "old");

    // "Overwrite files" asks first; "No" leaves the dialog idle.
    d->filePage->overwrite->setChecked(true);
    const QString question = "All the files with names like B000.kvs, B001.kvs etc. in the folder\n" +
                             d->OutputFolder() + "\nwill be overwritten without a warning. Continue?";
    prompts.ExpectMessage("Real-Time Logging", question, PromptButtons::YesNo, PromptButton::No)
        .WithDefault(PromptButton::No);
    d->StartStop();
    EXPECT_EQ(d->Status(), "Aborted by user!");
    EXPECT_EQ(d->startButton->text(), "Start");
    EXPECT_EQ(Read("B007.kvs"), "old");
    EXPECT_EQ(Files().size(), 5);  // nothing written
    prompts.ExpectMessage("Real-Time Logging", question, PromptButtons::YesNo, PromptButton::Yes);
    record();
    EXPECT_TRUE(Read("B007.kvs").startsWith("MF009")) << Read("B007.kvs").left(8).toStdString();
}

// 46 marked messages are refused before anything is sent; 45 start, in statements the receiver accepts. A link
// lost during that recording is shown within 2 s and the file written so far is closed whole.
TEST_F(RealTimeLoggingTest, FortySixRefusedFortyFiveRecordUntilTheLinkIsLost)
{
    auto d = Open();
    d->DefMsg();
    auto& entries = d->messagePage->Entries(0);
    std::vector<LogMessageEntry> picked;
    for (const LogMessageEntry& e : entries) {
        const LogMessageEntry marked{e.id, true, e.description};
        if (!SelectedMessages({marked}).isEmpty()) {
            picked.push_back(marked);
        }
    }
    ASSERT_GE(picked.size(), 40u);
    while (picked.size() < 46) {
        picked.push_back(picked[picked.size() % 10]);  // a name twice asks for it twice, which a receiver takes
    }
    picked.resize(46);
    entries = picked;
    Run(2000);
    sim.ClearSentStatements();
    d->StartStop();
    EXPECT_FALSE(d->Running());
    EXPECT_EQ(d->Status(), "Messages > 48!!!");
    EXPECT_EQ(d->startButton->text(), "Start");
    EXPECT_FALSE(sim.SentStatements().join('\n').contains("em,")) << sim.SentStatements().join('\n').toStdString();

    entries.pop_back();
    d->StartStop();
    ASSERT_TRUE(d->Running()) << d->Status().toStdString();
    int ems = 0;
    for (const QString& s : sim.SentStatements()) {
        ems += s.startsWith("em,") ? 1 : 0;
        EXPECT_LE(s.size(), kMaxEmLength) << s.toStdString();
    }
    EXPECT_GE(ems, 3);
    Run(5000);
    sim.Sim().DropSessions("The receiver's port went away");
    EXPECT_TRUE(PumpUntil([&] { return !d->Running(); }, 2000));
    EXPECT_TRUE(d->Status().contains("lost")) << d->Status().toStdString();
    EXPECT_EQ(d->startButton->text(), "Start");
    const QByteArray bytes = Read("Site001.kvs");
    ASSERT_GT(bytes.size(), 100);
    // Every byte belongs to a whole frame followed by its LF; each epoch's time is there once, besides the saved
    // time after MF.
    CFramer framer;
    int64_t framed = 0;
    framer.Feed(bytes.constData(), size_t(bytes.size()),
                [&](const CFramer::Event& e) { framed += e.kind == CFramer::EventKind::Frame ? e.size + 1 : 0; });
    EXPECT_EQ(framed, bytes.size());
    EXPECT_EQ(bytes.count("~~005"), bytes.count("||001") + 1);
}

// A selection is the user's only when its list loaded: a type the receiver refused to list, or a batch that got
// no answer at all, keeps what was saved when the dialog ends.
TEST_F(RealTimeLoggingTest, ExitKeepsTheSavedSelectionOfAListThatDidNotLoad)
{
    auto save = [](const char* key, const QString& value) {
        CProfile::Instance()->WriteString("RealTime", QLatin1String(key), value);
        CProfile::Release();
    };
    auto saved = [](const char* key) {
        const QString value = CProfile::Instance()->ReadString("RealTime", QLatin1String(key), "?");
        CProfile::Release();
        return value.toStdString();
    };
    save("MsgKVS", ",PG,");
    save("MsgCMR", "ALL");
    sim.Sim().HideParam("/msg/cmr");
    auto d = Open();
    EXPECT_TRUE(d->messagePage->HasRows(0));
    EXPECT_FALSE(d->messagePage->HasRows(1));
    d->DefMsg();
    d->messagePage->allUse->click();
    d->Exit();
    EXPECT_NE(saved("MsgKVS"), ",PG,");  // a list that loaded is saved as marked
    EXPECT_EQ(saved("MsgCMR"), "ALL");
    const std::string nmea = saved("MsgNMEA");

    save("MsgKVS", ",PG,");
    sim.Sim().WithholdReplies(true);
    sim.Connection().SetTimeout(2);
    d = Open();
    EXPECT_EQ(d->Status(), "Error reading MSG info.");
    d->Exit();
    sim.Sim().WithholdReplies(false);
    EXPECT_EQ(saved("MsgKVS"), ",PG,");
    EXPECT_EQ(saved("MsgCMR"), "ALL");
    EXPECT_EQ(saved("MsgNMEA"), nmea);
}
