// Converting finished recordings: the converter's command line and its quoting, the exit-code words, the header
// file, DeleteKVS only after a clean exit with code 0, several conversions at once, and the settings dialog.

#include "rinex/KvsRecording.h"  // tests/rinex
#include "support/ScriptedPrompts.h"

#include "logging/Convert2RinexDlg.h"
#include "logging/RinexConversion.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

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
        {13, "KVS to RINEX : Terminated with error code 13 "},
        {255, "KVS to RINEX : Terminated with error code -1 (Invalid command line?)"},
    };
    for (const auto& [code, text] : cases) {
        EXPECT_EQ(ConverterExitMessage(code), QString::fromLatin1(text)) << code;
    }
}

class RinexConversionTest : public ::testing::Test
{
protected:
    QString Recording(const QString& name, bool damaged = false, int64_t fromMs = 60000)
    {
        CMessageGenerator g(50.087, 14.421, 245, 7, kStartUtcMs);
        QByteArray kvs = RecordKvs(g, fromMs, fromMs + 10000);
        if (damaged) {
            kvs[kvs.size() / 2] = char(kvs[kvs.size() / 2] ^ 0x20);
        }
        const QString path = QDir(m_dir.path()).filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(kvs);
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

    QTemporaryDir m_dir;
};

// DeleteKVS deletes only after a normal exit with code 0: not after skipped data (3), a crash or a converter that
// does not start.
TEST_F(RinexConversionTest, DeleteOnlyAfterCleanSuccess)
{
    const QString good = Recording(QStringLiteral("Site001.kvs"));
    EXPECT_EQ(RunRinexConversion(Job(good)), QString());
    EXPECT_FALSE(QFile::exists(good));
    EXPECT_EQ(Rinex().size(), 1);
    QFile profile(m_dir.filePath(QStringLiteral("profile.ini")));
    ASSERT_TRUE(profile.open(QIODevice::ReadOnly));
    EXPECT_EQ(profile.readAll(),
              QByteArray("[KVS2RIN]\nRUN BY= \nOBSERVER= \nAGENCY= \nANT #= \nANT TYPE= \nCOMMENT= \n"
                         "MARKER NAME= Site\nMARKER NUMBER= \nREC #= 0123\nREC TYPE= SIM\n"
                         "ANT DELTA H= 0\nANT DELTA E= 0\nANT DELTA N= 0\n"));

    const QString damaged = Recording(QStringLiteral("Site002.kvs"), true);
    EXPECT_EQ(RunRinexConversion(Job(damaged)),
              QStringLiteral("KVS to RINEX : Terminated with error code 3 (Inconsistent or corrupt data in KVS file)"));
    EXPECT_TRUE(QFile::exists(damaged));

    const QString crasher = m_dir.filePath(QStringLiteral("crash.sh"));
    QFile script(crasher);
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\nkill -SEGV $$\n");
    script.close();
    script.setPermissions(script.permissions() | QFileDevice::ExeOwner);
    RinexConversionJob job = Job(damaged);
    job.settings.application = crasher;
    EXPECT_FALSE(RunRinexConversion(job).isEmpty());
    job.settings.application = m_dir.filePath(QStringLiteral("no-such-converter"));
    EXPECT_FALSE(RunRinexConversion(job).isEmpty());
    EXPECT_TRUE(QFile::exists(damaged));
}

TEST_F(RinexConversionTest, SeveralAtOnce)
{
    CRinexConversion conversions;
    QSignalSpy finished(&conversions, &CRinexConversion::Finished);
    for (int i = 0; i < 3; ++i) {
        // Files of one recording run, one after the other; the header file is shared and replaced whole.
        conversions.Start(Job(Recording(QStringLiteral("Site00%1.kvs").arg(i), false, 60000 + 120000 * i)));
    }
    for (int k = 0; k < 100 && finished.size() < 3; ++k) {
        finished.wait(500);
    }
    ASSERT_EQ(finished.size(), 3);
    for (const auto& args : finished) {
        EXPECT_EQ(args[1].toString(), QString()) << args[0].toString().toStdString();
    }
    EXPECT_EQ(Rinex().size(), 3);
    EXPECT_EQ(conversions.Running(), 0);
}

TEST_F(RinexConversionTest, SettingsDialog)
{
    QSettings settings(m_dir.filePath(QStringLiteral("nemola.ini")), QSettings::IniFormat);
    CScriptedPrompts prompts;
    {
        CConvert2RINEX dlg(settings);
        prompts.ExpectOpenFile(QStringLiteral("Find Converter to RINEX"), QStringLiteral("/opt/kvs2rin"));
        dlg.Browse();
        EXPECT_EQ(dlg.findChild<QLineEdit*>(QStringLiteral("application"))->text(), QStringLiteral("/opt/kvs2rin"));
        dlg.findChild<QCheckBox*>(QStringLiteral("noGps"))->setChecked(true);
        dlg.findChild<QCheckBox*>(QStringLiteral("noGlonass"))->setChecked(true);
        prompts.ExpectMessage(QStringLiteral("RINEX Converter"),
                              QStringLiteral("At least one satellite system must be enabled!"), PromptButtons::Ok,
                              PromptButton::Ok);
        dlg.accept();
        EXPECT_NE(dlg.result(), QDialog::Accepted);
        EXPECT_FALSE(settings.contains(QStringLiteral("KVS2RIN/Application")));
        dlg.findChild<QCheckBox*>(QStringLiteral("noGps"))->setChecked(false);
        dlg.findChild<QLineEdit*>(QStringLiteral("markerName"))->setText(QStringLiteral("Roof"));
        dlg.accept();
        EXPECT_EQ(dlg.result(), QDialog::Accepted);
    }
    const RinexConverterSettings s = RinexConverterSettings::Load(settings);
    EXPECT_EQ(s.application, QStringLiteral("/opt/kvs2rin"));
    // Without a stored application, or with the maker's program that does not exist here: ours beside the program
    // when installed there.
    QSettings empty(m_dir.filePath(QStringLiteral("empty.ini")), QSettings::IniFormat);
    empty.setValue(QStringLiteral("KVS2RIN/Application"), QStringLiteral("KVS2RIN.EXE"));
    EXPECT_EQ(RinexConverterSettings::Load(empty).application, DefaultConverterApplication());
    EXPECT_EQ(s.markerName, QStringLiteral("Roof"));
    EXPECT_TRUE(s.noGlonass);
    EXPECT_FALSE(s.noGps);
}

}  // namespace
