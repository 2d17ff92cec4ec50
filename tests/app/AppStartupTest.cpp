#include "app/AppSettings.h"
#include "app/AppTestSupport.h"
#include "app/CommandLine.h"
#include "app/Connector.h"
#include "app/MainFrame.h"
#include "app/NemolaApp.h"
#include "link/Connection.h"
#include "link/ConnectionInfo.h"
#include "link/Profile.h"
#include "support/FakeTime.h"
#include "support/ScriptedPrompts.h"

#include <QCoreApplication>
#include <QFile>
#include <QSettings>

#include <sys/stat.h>

#include <gtest/gtest.h>

namespace {

const QString kProgram = QStringLiteral("nemola-m");

// The command line of the program with the blank-separated `options`.
QStringList Args(const char* options)
{
    return QStringList{kProgram} + QString::fromLatin1(options).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

class AppStartup : public FreshSettings
{
protected:
    FakeTime m_time;
    CScriptedPrompts m_prompts;
};

TEST_F(AppStartup, WithNothingStoredTheDefaultsApplyAndTheReceiverIsAskedFor)
{
    CNemolaApp app(m_time.Services());
    ASSERT_TRUE(app.Start({kProgram}));
    // Keys missing from the file read as the settings' own defaults.
    EXPECT_EQ(app.Settings(), AppSettings());
    EXPECT_FALSE(app.State().running);
    EXPECT_EQ(app.StartTick(), m_time.tick.TickMs());

    ASSERT_NE(app.MainFrame(), nullptr);
    EXPECT_TRUE(app.MainFrame()->isVisible());
    EXPECT_EQ(app.MainFrame()->windowTitle(), QStringLiteral("Nemola-M(idle)"));

    // The connection command posted at start-up runs once the loop runs and asks for a receiver.
    int asked = 0;
    app.SetReceiverChooser([&asked](CONNECTION_INFO&) {
        ++asked;
        return false;
    });
    EXPECT_EQ(app.MainFrame()->StatusText(0), QStringLiteral("Disconnected"));
    QCoreApplication::processEvents();
    EXPECT_EQ(asked, 1);
    // The user cancelled the connection dialog.
    EXPECT_EQ(app.MainFrame()->StatusText(0), QStringLiteral("Select receiver!"));
    EXPECT_FALSE(app.State().connecting);
}

TEST_F(AppStartup, SettingsWrittenOnExitAreReadAtTheNextStart)
{
    AppSettings changed;
    changed.slantHeight = true;
    changed.antennaHeight = QStringLiteral("1.534");
    changed.antennaStatus = true;
    changed.siteName = QStringLiteral("Hill \u00fc 7, north");
    changed.antennaType = QStringLiteral("ANT=X;2");
    changed.targetLat = 0.87412345678901234;
    changed.targetLon = -2.0000000000000004;
    changed.recordingInterval = QStringLiteral("0.2");
    changed.elevationMask = QStringLiteral("15");
    {
        CNemolaApp app(m_time.Services());
        ASSERT_TRUE(app.Start({kProgram}));
        app.Settings() = changed;
        app.MainFrame()->OnExit();
        EXPECT_FALSE(app.MainFrame()->isVisible());
        EXPECT_TRUE(app.State().cancelTrying);
    }
    QSettings ini(SettingsPath(), QSettings::IniFormat);
    EXPECT_EQ(ini.value(QStringLiteral("Site/AntenaHeight")).toString(), QStringLiteral("1.534"));
    {
        CNemolaApp app(m_time.Services());
        ASSERT_TRUE(app.Start({kProgram}));
        EXPECT_EQ(app.Settings(), changed);
    }
}

// Reading a FIFO would block the start for ever: a file that is no regular file is not read.
TEST_F(AppStartup, SettingsFileFromTheCommandLineIsTheOneReadUnlessItIsNoRegularFile)
{
    const QString other = SettingsPath() + QStringLiteral(".other");
    {
        QSettings ini(other, QSettings::IniFormat);
        ini.setValue(QStringLiteral("Site/SiteName"), QStringLiteral("From file"));
        ini.setValue(QStringLiteral("Receiver/ElvMask"), QStringLiteral("10"));
    }
    {
        CNemolaApp app(m_time.Services());
        ASSERT_TRUE(app.Start({kProgram, QStringLiteral("--settings"), other}));
        EXPECT_EQ(app.Settings().siteName, QStringLiteral("From file"));
        EXPECT_EQ(app.Settings().elevationMask, QStringLiteral("10"));
        EXPECT_EQ(CProfile::FileName(), other);
    }
    const QString fifo = SettingsPath() + QStringLiteral(".fifo");
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    m_prompts.ExpectMessage(QStringLiteral("Nemola-M"),
                            QStringLiteral("The settings file ") + fifo +
                                QStringLiteral(" is not a regular file: the defaults apply and no settings are kept."),
                            PromptButtons::Ok, PromptButton::Ok);
    CNemolaApp app(m_time.Services());
    ASSERT_TRUE(app.Start({kProgram, QStringLiteral("--settings"), fifo}));
    EXPECT_EQ(app.Settings(), AppSettings());
    app.MainFrame()->close();  // writes the settings, into memory only
}

TEST_F(AppStartup, BadCommandLineEndsStartUpWithoutShowingTheWindow)
{
    CNemolaApp app(m_time.Services());
    EXPECT_FALSE(app.Start(Args("--no-such-option")));
    EXPECT_NE(app.ExitCode(), 0);
    EXPECT_FALSE(app.MainFrame()->isVisible());
}

TEST(CommandLine, ReadsEveryOptionAndRefusesBadValues)
{
    const AppOptions plain = ParseCommandLine(Args(""));
    EXPECT_TRUE(plain.error.isEmpty());
    EXPECT_FALSE(plain.simulator);
    EXPECT_EQ(plain.simProfile, QStringLiteral("full"));
    EXPECT_TRUE(plain.receiver.isEmpty());

    const AppOptions sim = ParseCommandLine(Args("--simulator --profile basic --seed 4000000000"));
    EXPECT_TRUE(sim.error.isEmpty()) << sim.error.toStdString();
    EXPECT_TRUE(sim.simulator);
    EXPECT_EQ(sim.simProfile, QStringLiteral("basic"));
    EXPECT_EQ(sim.simSeed, 4000000000u);

    EXPECT_EQ(ParseCommandLine(Args("--receiver ttyUSB0:115200,rtscts")).receiver,
              QStringLiteral("ttyUSB0:115200,rtscts"));
    EXPECT_TRUE(ParseCommandLine(Args("--receiver=192.168.1.5:8002")).error.isEmpty());
    EXPECT_TRUE(ParseCommandLine(Args("--help")).help);
    EXPECT_TRUE(ParseCommandLine(Args("--version")).version);
    // Every simulated receiver there is, and the help names each.
    const QString help = ParseCommandLine(Args("--help")).helpText;
    ASSERT_GE(SimulatorProfiles().size(), 8);
    for (const QString& profile : SimulatorProfiles()) {
        EXPECT_TRUE(ParseCommandLine(Args("--simulator --profile") << profile).error.isEmpty());
        EXPECT_TRUE(help.contains(profile)) << profile.toStdString();
    }
    for (const char* bad : {"--receiver nonsense", "--seed -1", "--seed 99999999999", "--profile gold",
                            "--simulator --receiver SIM:", "stray"}) {
        EXPECT_FALSE(ParseCommandLine(Args(bad)).error.isEmpty()) << bad;
    }
}

TEST_F(AppStartup, FailedConnectsReportInPaneZeroAndDropTheConnection)
{
    CNemolaApp app(m_time.Services());
    // Nothing is registered under this key, so the receiver cannot be opened.
    ASSERT_TRUE(app.Start(Args("--receiver SIM:absent")));
    QCoreApplication::processEvents();  // the "Connection" command posted at start-up
    app.Connector().WaitFinished();

    const ConnectionState& state = app.State();
    EXPECT_FALSE(state.running);
    EXPECT_FALSE(state.connecting);
    EXPECT_EQ(state.connection, nullptr);
    EXPECT_FALSE(state.lastError.isEmpty());
    EXPECT_EQ(app.MainFrame()->StatusText(0), state.lastError);
    EXPECT_EQ(app.MainFrame()->windowTitle(), QStringLiteral("Nemola-M(idle)"));
    EXPECT_TRUE(app.MainFrame()->Action(32771)->isEnabled());

    // Another try fails the same way (a second try while one is under way: in AppSimTest, where one can stay so).
    app.ConnectCommand();
    app.Connector().WaitFinished();
    EXPECT_FALSE(app.State().connecting);
    EXPECT_EQ(app.State().connection, nullptr);

    // A server that cannot be reached: the connection's own text.
    app.SetReceiverChooser([](CONNECTION_INFO& info) {
        info.receivers = {QStringLiteral("COM3:")};
        info.server = QStringLiteral("far.example:2000");
        return true;
    });
    app.ConnectCommand();
    app.Connector().WaitFinished();
    EXPECT_EQ(app.State().connection, nullptr);
    EXPECT_TRUE(app.MainFrame()->StatusText(0).startsWith(QStringLiteral("Can't connect to server")))
        << app.MainFrame()->StatusText(0).toStdString();
}

}  // namespace
