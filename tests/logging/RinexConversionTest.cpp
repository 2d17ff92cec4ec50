// Converting finished recordings: the converter's command line and its quoting, the exit-code words, the header
// file, DeleteKVS only after a clean exit with code 0, several conversions at once, and the settings dialog.

#include "rinex/KvsRecording.h"  // tests/rinex
#include "support/ScriptedPrompts.h"
#include "support/SimHarness.h"

#include "files/DownloadPathDlg.h"
#include "link/ReceiverHolder.h"
#include "logging/ui/RealTimeLogging.h"

#include "link/Profile.h"
#include "logging/Convert2RinexDlg.h"
#include "logging/RinexConversion.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimeZone>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <chrono>

namespace {

const int64_t kStartUtcMs = QDateTime(QDate(2024, 6, 1), QTime(12, 0), QTimeZone::utc()).toMSecsSinceEpoch();

TEST(RinexCommandTest, CommandLineAndQuoting)
{
    RinexConverterSettings s;
    s.application = QStringLiteral("KVS2RIN.EXE");
    const QString folder = QStringLiteral("/data/my logs/");
    RinexCommand c = BuildRinexCommand(s, folder + QStringLiteral("Site001.kvs"), folder);
    EXPECT_EQ(c.commandLine, QStringLiteral("KVS2RIN.EXE -i \"/data/my logs/Site001.kvs\" -o \"/data/my logs/\" -p "
                                            "\"/data/my logs/profile.ini\" "));
    EXPECT_EQ(c.arguments, (QStringList{"-i", "/data/my logs/Site001.kvs", "-o", "/data/my logs/", "-p",
                                        "/data/my logs/profile.ini"}));

    s.noGps = s.noL1 = s.noL2 = true;
    s.options = QStringLiteral("-p \"/etc/my header.ini\" --nav");
    c = BuildRinexCommand(s, QStringLiteral("/d/Site001.kvs"), QStringLiteral("/d"));
    EXPECT_TRUE(c.profilePath.isEmpty()) << "the options name their own header file";
    EXPECT_EQ(c.commandLine,
              QStringLiteral("KVS2RIN.EXE -i \"/d/Site001.kvs\" -o \"/d\" -G -L1 -L2 -p \"/etc/my header.ini\" --nav"));
    EXPECT_EQ(c.arguments, (QStringList{"-i", "/d/Site001.kvs", "-o", "/d", "-G", "-L1", "-L2", "-p",
                                        "/etc/my header.ini", "--nav"}));
}

TEST(RinexCommandTest, ExitCodeWords)
{
    const std::pair<int, const char*> cases[] = {
        {0, ""},
        {2, "KVS to RINEX : Terminated with error code 2 (Not a KVS file format)"},
        {3, "KVS to RINEX : Terminated with error code 3 (Inconsistent or corrupt data in KVS file)"},
        {12, "KVS to RINEX : Terminated with error code 12 (Error opening output file)"},
        {13, "KVS to RINEX : Terminated with error code 13 (No observations in the KVS file)"},
        {14, "KVS to RINEX : Terminated with error code 14 "},
        {255, "KVS to RINEX : Terminated with error code -1 (Invalid command line?)"},
    };
    for (const auto& [code, text] : cases) {
        EXPECT_EQ(ConverterExitMessage(code), QString::fromLatin1(text)) << code;
    }
}

class RinexConversionTest : public ::testing::Test
{
protected:
    // Each case has settings of its own.
    RinexConversionTest() : m_settings(CProfile::FileName())
    {
        CProfile::SetFileName(m_dir.filePath(QStringLiteral("nemola.ini")));
    }
    ~RinexConversionTest() override { CProfile::SetFileName(m_settings); }
    QString Recording(const QString& name, bool damaged = false, int64_t fromMs = 60000)
    {
        CMessageGenerator g(50.087, 14.421, 245, 7, kStartUtcMs);
        QByteArray kvs = RecordKvs(g, fromMs, fromMs + 10000);
        if (damaged) {
            kvs[kvs.size() / 2] = char(kvs[kvs.size() / 2] ^ 0x20);
        }
        const QString path = QDir(m_dir.path()).filePath(name);
        EXPECT_TRUE(WriteFile(path, kvs));
        return path;
    }
    RinexConversionJob Job(const QString& kvs)
    {
        RinexConversionJob j;
        j.settings.application = QStringLiteral(KVS2RIN_EXECUTABLE);
        j.settings.deleteKvs = true;
        j.settings.markerName = QStringLiteral("Site");
        j.receiver = {QStringLiteral("0123"), QStringLiteral("SIM")};
        j.kvsPath = kvs;
        j.folder = m_dir.path() + QLatin1Char('/');
        return j;
    }
    QStringList Rinex() const { return QDir(m_dir.path()).entryList({QStringLiteral("*.rnx")}); }
    QString Script(const QString& name, const char* body)
    {
        const QString path = m_dir.filePath(name);
        EXPECT_TRUE(WriteFile(path, QByteArray("#!/bin/sh\n") + body, true));
        return path;
    }

    QTemporaryDir m_dir;
    QString m_settings;
};

// DeleteKVS deletes only after a normal exit with code 0: not after skipped data (3), nothing to convert (13), a
// crash or a converter that does not start.
TEST_F(RinexConversionTest, DeleteOnlyAfterCleanSuccess)
{
    const QString good = Recording(QStringLiteral("Site001.kvs"));
    EXPECT_EQ(RunRinexConversion(Job(good)), QString());
    EXPECT_FALSE(QFile::exists(good));
    EXPECT_EQ(Rinex().size(), 1);
    EXPECT_EQ(ReadFile(m_dir.filePath(QStringLiteral("profile.ini"))),
              QByteArray("[KVS2RIN]\nRUN BY= \nOBSERVER= \nAGENCY= \nANT #= \nANT TYPE= \nCOMMENT= \n"
                         "MARKER NAME= Site\nMARKER NUMBER= \nREC #= 0123\nREC TYPE= SIM\n"
                         "ANT DELTA H= 0\nANT DELTA E= 0\nANT DELTA N= 0\n"));

    const QString damaged = Recording(QStringLiteral("Site002.kvs"), true, 180000);
    EXPECT_EQ(RunRinexConversion(Job(damaged)),
              QStringLiteral("KVS to RINEX : Terminated with error code 3 (Inconsistent or corrupt data in KVS file)"));
    EXPECT_TRUE(QFile::exists(damaged));

    const qsizetype converted = Rinex().size();
    RinexConversionJob job = Job(Recording(QStringLiteral("Site003.kvs"), false, 300000));
    job.settings.noL1 = job.settings.noL2 = true;
    EXPECT_EQ(RunRinexConversion(job),
              QStringLiteral("KVS to RINEX : Terminated with error code 13 (No observations in the KVS file)"));
    EXPECT_TRUE(QFile::exists(job.kvsPath));
    EXPECT_EQ(Rinex().size(), converted);

    job = Job(damaged);
    job.settings.application = Script(QStringLiteral("crash.sh"), "kill -SEGV $$\n");
    EXPECT_FALSE(RunRinexConversion(job).isEmpty());
    job.settings.application = m_dir.filePath(QStringLiteral("no-such-converter"));
    EXPECT_FALSE(RunRinexConversion(job).isEmpty());
    EXPECT_TRUE(QFile::exists(damaged));
}

// Conversions that overlap (several run at once) each read the header written for them, although the settings
// changed in between.
TEST_F(RinexConversionTest, OverlappingConversionsReadTheirOwnHeader)
{
    // Called as: -i KVS -o FOLDER -p PROFILE; keeps what the header said when the converter read it.
    const QString reader = Script(QStringLiteral("reader.sh"), "sleep 0.3\ncat \"$6\" > \"$2.header\"\n");
    CRinexConversion conversions;
    QSignalSpy finished(&conversions, &CRinexConversion::Finished);
    const QStringList markers{QStringLiteral("First"), QStringLiteral("Second")};
    for (const QString& marker : markers) {
        RinexConversionJob job = Job(m_dir.filePath(marker + QStringLiteral(".kvs")));
        job.settings.application = reader;
        job.settings.markerName = marker;
        conversions.Start(job);
    }
    for (int k = 0; k < 40 && finished.size() < 2; ++k) {
        finished.wait(250);
    }
    ASSERT_EQ(finished.size(), 2);
    for (const QString& marker : markers) {
        EXPECT_TRUE(ReadFile(m_dir.filePath(marker + QStringLiteral(".kvs.header")))
                        .contains("MARKER NAME= " + marker.toUtf8()))
            << marker.toStdString();
    }
}

// A converter that never ends does not keep the program from ending: past the grace time it is killed and its
// recording kept.
TEST_F(RinexConversionTest, AHungConverterIsKilledWhenTheProgramEnds)
{
    const QString kvs = Recording(QStringLiteral("Site001.kvs"));
    RinexConversionJob job = Job(kvs);
    job.settings.application = Script(QStringLiteral("hang.sh"), "exec sleep 600\n");
    const auto start = std::chrono::steady_clock::now();
    {
        CRinexConversion conversions(nullptr, 300);
        conversions.Start(job);
        QThread::msleep(100);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_TRUE(QFile::exists(kvs));
}

TEST_F(RinexConversionTest, SettingsDialogAndDefaultConverter)
{
    CScriptedPrompts prompts;
    {
        CConvert2RINEX dlg;
        prompts.ExpectOpenFile(QStringLiteral("Find Converter to RINEX"), QStringLiteral("/opt/kvs2rin"));
        dlg.Browse();
        ASSERT_FALSE(prompts.Records().empty());
        EXPECT_TRUE(prompts.Records().back().file.executablesOnly) << "programs have no suffix to filter on";
        EXPECT_EQ(dlg.findChild<QLineEdit*>(QStringLiteral("application"))->text(), QStringLiteral("/opt/kvs2rin"));
        dlg.findChild<QCheckBox*>(QStringLiteral("noGps"))->setChecked(true);
        dlg.findChild<QCheckBox*>(QStringLiteral("noGlonass"))->setChecked(true);
        prompts.ExpectMessage(QStringLiteral("RINEX Converter"),
                              QStringLiteral("At least one satellite system must be enabled!"), PromptButtons::Ok,
                              PromptButton::Ok);
        dlg.accept();
        EXPECT_NE(dlg.result(), QDialog::Accepted);
        dlg.findChild<QCheckBox*>(QStringLiteral("noGps"))->setChecked(false);
        dlg.findChild<QCheckBox*>(QStringLiteral("noL1"))->setChecked(true);
        dlg.findChild<QCheckBox*>(QStringLiteral("noL2"))->setChecked(true);
        prompts.ExpectMessage(QStringLiteral("RINEX Converter"),
                              QStringLiteral("At least one frequency must be enabled!"), PromptButtons::Ok,
                              PromptButton::Ok);
        dlg.accept();
        EXPECT_NE(dlg.result(), QDialog::Accepted);
        dlg.findChild<QCheckBox*>(QStringLiteral("noL2"))->setChecked(false);
        dlg.findChild<QLineEdit*>(QStringLiteral("markerName"))->setText(QStringLiteral("Roof"));
        dlg.accept();
        EXPECT_EQ(dlg.result(), QDialog::Accepted);
    }
    CProfile* profile = CProfile::Instance();
    const RinexConverterSettings s = RinexConverterSettings::Load(*profile);
    EXPECT_EQ(s.application, QStringLiteral("/opt/kvs2rin"));
    EXPECT_EQ(s.markerName, QStringLiteral("Roof"));
    EXPECT_TRUE(s.noGlonass);
    EXPECT_FALSE(s.noGps);
    EXPECT_TRUE(s.noL1);
    EXPECT_FALSE(s.noL2);
    // The maker's program, which does not exist here, gives way to ours.
    profile->WriteString("KVS2RIN", "Application", "KVS2RIN.EXE");
    EXPECT_EQ(RinexConverterSettings::Load(*profile).application, DefaultConverterApplication());
    CProfile::Release();

    // Ours is found beside the program (as built and as installed) only when it is an executable file.
    EXPECT_EQ(DefaultConverterApplication(QFileInfo(QStringLiteral(NEMOLA_M_EXECUTABLE)).path()),
              QFileInfo(QStringLiteral(KVS2RIN_EXECUTABLE)).absoluteFilePath());
    const QString beside = m_dir.filePath(QStringLiteral("kvs2rin"));
    EXPECT_EQ(DefaultConverterApplication(m_dir.path()), QStringLiteral("KVS2RIN.EXE"));
    ASSERT_TRUE(WriteFile(beside, {}));
    EXPECT_EQ(DefaultConverterApplication(m_dir.path()), QStringLiteral("KVS2RIN.EXE")) << "not executable";
    ASSERT_TRUE(WriteFile(beside, {}, true));
    EXPECT_EQ(DefaultConverterApplication(m_dir.path()), beside);
}

// The logging dialog converts every finished file of a recording in one-minute files against the simulator:
// one RINEX file per recording file, the result on the status line, the recordings deleted only after exit 0.
TEST_F(RinexConversionTest, LoggingDialogConvertsEachFinishedFile)
{
    CScriptedPrompts prompts;
    CSimHarness sim(CSimHarness::VirtualClock(), &CReceiverHolder::Shared());
    auto setting = [](const char* key, const QString& value) {
        CProfile::Instance()->WriteString(QStringLiteral("KVS2RIN"), QLatin1String(key), value);
        CProfile::Release();
    };
    setting("Application", QStringLiteral(KVS2RIN_EXECUTABLE));
    setting("DeleteKVS", QStringLiteral("true"));
    RealTimeLoggingContext context{&sim.Connection(), &CReceiverHolder::Shared(), sim.Name(), {}, {"0123", "SIM"}};
    auto d = std::make_unique<CRealTimeLogging>(context);
    d->pathPage->tree->SelectFolder(m_dir.path());
    auto record = [&](int64_t ms) {
        d->StartStop();
        ASSERT_TRUE(d->Running()) << d->Status().toStdString();
        EXPECT_FALSE(d->filePage->convert->isEnabled());
        for (int64_t t = 0; t < ms; t += 1000) {
            sim.Advance(1000);
            QTest::qWait(5);
        }
        d->StartStop();
        PumpUntil([&] { return d->ConversionsRunning() == 0; }, 30000);
    };
    auto files = [&](const char* pattern) { return QDir(m_dir.path()).entryList({QLatin1String(pattern)}); };
    d->DefMsg();  // the raw data, not the default set
    d->messagePage->allLock->click();
    for (const char* id : {"SI", "NN", "RC", "PC", "DC", "EC", "FC", "PO"}) {
        const auto rows = d->messagePage->list->findItems(QLatin1String(id), Qt::MatchExactly);
        ASSERT_EQ(rows.size(), 1) << id;
        rows[0]->setCheckState(0, Qt::Checked);
    }
    d->filePage->every->setText(QStringLiteral("1"));
    d->filePage->convert->setChecked(true);
    d->filePage->setupConvert->click();
    ASSERT_NE(d->findChild<CConvert2RINEX*>(), nullptr);
    d->findChild<CConvert2RINEX*>()->reject();

    record(150000);  // from the first epochs of a receiver that just came up, which track no satellite
    EXPECT_GE(files("*.rnx").size(), 3) << files("*.rnx").join(',').toStdString();
    EXPECT_TRUE(files("*.kvs").isEmpty()) << files("*.kvs").join(',').toStdString();
    EXPECT_TRUE(d->Status().startsWith("KVS to RINEX : Site00") && d->Status().endsWith(".kvs converted"))
        << d->Status().toStdString();

    // A converter that refuses the file: its words on the status line, the recording kept.
    setting("Application", Script(QStringLiteral("refuse.sh"), "exit 2\n"));
    d->filePage->every->setText(QStringLiteral("10"));
    record(5000);
    EXPECT_EQ(d->Status(), "KVS to RINEX : Terminated with error code 2 (Not a KVS file format)");
    EXPECT_EQ(files("*.kvs").size(), 1);
    d.reset();
    CReceiverHolder::Shared().CloseReceiver();
}

}  // namespace
