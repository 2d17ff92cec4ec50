#include "app/AboutDialog.h"
#include "app/AboutReport.h"
#include "app/AppTestSupport.h"
#include "app/CommandIds.h"
#include "app/Connector.h"
#include "app/MainFrame.h"
#include "app/NemolaApp.h"
#include "link/Connection.h"
#include "link/InProcessDevice.h"
#include "link/ReceiverHolder.h"
#include "support/FakeTime.h"
#include "support/ScriptedPrompts.h"
#include "support/SimHarness.h"

#include <QAction>
#include <QCoreApplication>
#include <QSignalSpy>

#include <gtest/gtest.h>

namespace {

// The local message set as the link asks for it.
const QString kLocalStream = QStringLiteral(
    "/PG:1,/PV:1,/DP:1,/MS:1,/RT:1,/RD:1,/OO:1,/TT:1,/XA:1,/XB:1,/SG:1,/SI:1,/SE:1,/NN:1,/EL:1,/DO:1,/GA:1,/NA:1,"
    "/DC:1,/AZ:1,/EC:1,/E1:1,/E2:1,/E3:1,/E5:1,/TC:1,/SS:1,/EE:1");

SimOptions Profile(const char* name)
{
    SimOptions options = CSimHarness::VirtualClock();
    options.profile = QLatin1String(name);
    return options;
}

// The program started with a receiver name on its command line, connected to a simulator of its own.
class AppWithSim : public FreshSettings
{
protected:
    void Connect(const SimOptions& options = CSimHarness::VirtualClock())
    {
        // The harness registers the simulator; the program opens it itself on the shared receiver.
        m_sim = std::make_unique<CSimHarness>(options, nullptr, false);
        ConfigureSim(m_sim->Sim());
        m_app = std::make_unique<CNemolaApp>(m_time.Services());
        ASSERT_TRUE(m_app->Start({QStringLiteral("nemola-m"), QStringLiteral("--receiver"), m_sim->Name()}));
        QCoreApplication::processEvents();  // the "Connection" command posted at start-up
        m_app->Connector().WaitFinished();
    }
    void TearDown() override
    {
        m_app.reset();
        m_sim.reset();
        FreshSettings::TearDown();
    }

    virtual void ConfigureSim(CSimReceiver&) {}

    CMainFrame& Frame() { return *m_app->MainFrame(); }

    FakeTime m_time;
    CScriptedPrompts m_prompts;
    std::unique_ptr<CSimHarness> m_sim;
    std::unique_ptr<CNemolaApp> m_app;
};

TEST_F(AppWithSim, ConnectIdentifiesTheReceiverAndSetsTheTitle)
{
    Connect();
    const ConnectionState& state = m_app->State();
    ASSERT_TRUE(state.running) << Frame().StatusText(0).toStdString();
    EXPECT_FALSE(state.connecting);
    EXPECT_NE(state.connection, nullptr);
    EXPECT_TRUE(CReceiverHolder::Shared().HasReceiver());

    CSimReceiver& sim = m_sim->Sim();
    EXPECT_EQ(state.model, sim.Param(QStringLiteral("/par/rcv/model")));
    EXPECT_FALSE(state.model.isEmpty());
    EXPECT_EQ(state.receiverId, sim.Param(QStringLiteral("/par/rcvid")));
    EXPECT_FALSE(state.currentPort.isEmpty());
    int major = -1;
    int minor = -1;
    ASSERT_EQ(
        std::sscanf(sim.Param(QStringLiteral("/par/rcv/ver/main")).toLatin1().constData(), "%d.%d", &major, &minor), 2);
    EXPECT_EQ(state.firmwareMajor, major);
    EXPECT_EQ(state.firmwareMinor, minor);
    EXPECT_EQ(state.connectTick, m_time.tick.TickMs());

    EXPECT_EQ(Frame().windowTitle(), QStringLiteral("Nemola-M to ") + state.model + QStringLiteral(":SIM"));
    EXPECT_EQ(Frame().StatusText(0), m_sim->Name());
    EXPECT_TRUE(Frame().Action(cmd::kDisconnect)->isEnabled());
    EXPECT_FALSE(Frame().Action(cmd::kConnection)->isEnabled());

    // The link tags each statement ("%tag%print,..."); what matters is what was asked, in order.
    QStringList asked;
    for (const QString& command : sim.ReceivedCommands()) {
        asked << (command.startsWith(QLatin1Char('%')) ? command.section(QLatin1Char('%'), 2) : command);
    }
    // Identification, the message stream, then the modes for the title.
    const QStringList identification = {"print,/par/rcv/ver/main",
                                        "print,/par/rcv/model",
                                        "print,/cur/term",
                                        "print,/par/rcvid",
                                        QStringLiteral("em,,kvs{") + kLocalStream + QLatin1Char('}'),
                                        "print,/par/base/mode",
                                        "print,/par/rover/mode"};
    ASSERT_GE(asked.size(), identification.size());
    EXPECT_EQ(asked.mid(asked.size() - identification.size()), identification) << asked.join(';').toStdString();
}

TEST_F(AppWithSim, DisconnectResetsTitleAndPaneAndClosesTheReceiver)
{
    Connect();
    ASSERT_TRUE(m_app->State().running);
    Frame().Action(cmd::kDisconnect)->trigger();

    EXPECT_FALSE(m_app->State().running);
    EXPECT_EQ(m_app->State().connection, nullptr);
    EXPECT_FALSE(CReceiverHolder::Shared().HasReceiver());
    EXPECT_EQ(Frame().windowTitle(), QStringLiteral("Nemola-M(idle)"));
    EXPECT_EQ(Frame().StatusText(0), QStringLiteral("Disconnected"));
    EXPECT_TRUE(Frame().Action(cmd::kConnection)->isEnabled());

    // And back again with a new connection object.
    Frame().Action(cmd::kConnection)->trigger();
    m_app->Connector().WaitFinished();
    EXPECT_TRUE(m_app->State().running);
}

TEST_F(AppWithSim, ClosingWhileConnectedDisconnectsFirst)
{
    Connect();
    ASSERT_TRUE(m_app->State().running);
    Frame().close();
    EXPECT_FALSE(m_app->State().running);
    EXPECT_FALSE(CReceiverHolder::Shared().HasReceiver());
}

class BaseReceiver : public AppWithSim
{
    void ConfigureSim(CSimReceiver& sim) override { sim.SetParamValue(QStringLiteral("/par/base/mode"), "on"); }
};

TEST_F(BaseReceiver, TitleShowsTheBaseMode)
{
    Connect();
    EXPECT_TRUE(Frame().windowTitle().endsWith(QStringLiteral(":SIM(base)"))) << Frame().windowTitle().toStdString();
}

class RoverReceiver : public AppWithSim
{
    void ConfigureSim(CSimReceiver& sim) override { sim.SetParamValue(QStringLiteral("/par/rover/mode"), "on"); }
};

TEST_F(RoverReceiver, TitleShowsTheRoverMode)
{
    Connect();
    EXPECT_TRUE(Frame().windowTitle().endsWith(QStringLiteral(":SIM(rover)"))) << Frame().windowTitle().toStdString();
}

TEST_F(AppWithSim, ReceiverWithoutRoverModeIsNoRover)
{
    // The basic receiver has no rover parameter: the error reply must not count as "on".
    Connect(Profile("basic"));
    ASSERT_TRUE(m_app->State().running);
    EXPECT_FALSE(Frame().windowTitle().contains(QStringLiteral("(rover)"))) << Frame().windowTitle().toStdString();
}

// The value shown after each label, in report order, with the print that produced it.
std::vector<std::pair<QString, QString>> ReportValues(const QString& report)
{
    std::vector<std::pair<QString, QString>> values;
    QStringList lines = report.split(QStringLiteral("\r\n"));
    lines.removeLast();
    int line = 0;
    for (const AboutReportLine& entry : AboutReportLines()) {
        const QString label = QString::fromUtf16(entry.label);
        EXPECT_TRUE(lines.value(line).startsWith(label)) << lines.value(line).toStdString();
        if (entry.command) {
            values.emplace_back(QLatin1String(entry.command).mid(6), lines.value(line).mid(label.size()));
        }
        ++line;
    }
    EXPECT_EQ(line, lines.size());
    return values;
}

TEST_F(AppWithSim, AboutReportOfAFullReceiverHasEveryValue)
{
    Connect();
    ASSERT_TRUE(m_app->State().running);
    CAboutDialog dialog(&CReceiverHolder::Shared());
    ASSERT_FALSE(dialog.Report().isEmpty());
    EXPECT_FALSE(dialog.Report().contains(QStringLiteral("<unknown>"))) << dialog.Report().toStdString();
    for (const auto& [path, value] : ReportValues(dialog.Report())) {
        if (path != QLatin1String("/cur/term") && path != QLatin1String("/par/rcv/uptime")) {
            EXPECT_EQ(value, m_sim->Sim().Param(path)) << path.toStdString();
        }
    }
}

TEST_F(AppWithSim, AboutReportOfABasicReceiverLacksOnlyWhatItLacks)
{
    Connect(Profile("basic"));
    ASSERT_TRUE(m_app->State().running);
    CAboutDialog dialog(&CReceiverHolder::Shared());
    const auto values = ReportValues(dialog.Report());
    ASSERT_EQ(values.size(), 46u);
    for (size_t i = 38; i < 46; ++i) {
        EXPECT_EQ(values[i].second, QStringLiteral("<unknown>")) << values[i].first.toStdString();
    }
    // Every other line holds its own print's value: an error reply shifts nothing.
    for (const auto& [path, value] : values) {
        if (path == QLatin1String("/cur/term") || path == QLatin1String("/par/rcv/uptime")) {
            EXPECT_NE(value, QStringLiteral("<unknown>"));
            continue;
        }
        const QString expected = m_sim->Sim().Param(path);
        EXPECT_EQ(value, expected.isEmpty() ? QStringLiteral("<unknown>") : expected) << path.toStdString();
    }
    EXPECT_EQ(values[0].second, QStringLiteral("Vireo-B1"));
}

TEST_F(AppWithSim, AboutCommandWithoutAReceiverShowsNoReport)
{
    m_app = std::make_unique<CNemolaApp>(m_time.Services());
    ASSERT_TRUE(m_app->Start({QStringLiteral("nemola-m")}));
    // The About box of a program that is not running has nothing to ask.
    CAboutDialog dialog(m_app->State().running ? &CReceiverHolder::Shared() : nullptr);
    EXPECT_TRUE(dialog.Report().isEmpty());
}

}  // namespace

namespace {

TEST_F(AppWithSim, SimulatorOptionConnectsToABuiltInReceiverWithoutAsking)
{
    m_app = std::make_unique<CNemolaApp>(m_time.Services());
    ASSERT_TRUE(m_app->Start({QStringLiteral("nemola-m"), QStringLiteral("--simulator"), QStringLiteral("--profile"),
                              QStringLiteral("basic"), QStringLiteral("--seed"), QStringLiteral("7")}));
    QCoreApplication::processEvents();
    m_app->Connector().WaitFinished();
    ASSERT_TRUE(m_app->State().running) << Frame().StatusText(0).toStdString();
    EXPECT_EQ(m_app->State().receiverName, QStringLiteral("SIM:"));
    EXPECT_EQ(Frame().windowTitle(), QStringLiteral("Nemola-M to Vireo-B1:SIM"));
    m_app.reset();
    EXPECT_EQ(FindInProcessDevice(QString()), nullptr);
}

}  // namespace

namespace {

TEST_F(AppWithSim, LostLinkDisconnectsAndShowsWhy)
{
    Connect();
    ASSERT_TRUE(m_app->State().running);
    QSignalSpy lost(&m_app->Connector(), &CConnector::LinkLost);
    m_sim->Sim().DropSessions(QStringLiteral("receiver powered off"));
    ASSERT_TRUE(lost.count() > 0 || lost.wait(10000));
    QCoreApplication::processEvents();

    EXPECT_FALSE(m_app->State().running);
    EXPECT_EQ(m_app->State().connection, nullptr);
    EXPECT_FALSE(CReceiverHolder::Shared().HasReceiver());
    EXPECT_EQ(Frame().windowTitle(), QStringLiteral("Nemola-M(idle)"));
    EXPECT_FALSE(Frame().StatusText(0).isEmpty());
    EXPECT_EQ(Frame().StatusText(0), m_app->State().lastError);
    EXPECT_TRUE(Frame().Action(cmd::kConnection)->isEnabled());
}

TEST_F(AppWithSim, ExitBeforeThePostedConnectRunsStartsNoConnect)
{
    m_sim = std::make_unique<CSimHarness>(CSimHarness::VirtualClock(), nullptr, false);
    m_app = std::make_unique<CNemolaApp>(m_time.Services());
    ASSERT_TRUE(m_app->Start({QStringLiteral("nemola-m"), QStringLiteral("--receiver"), m_sim->Name()}));
    m_app.reset();
    EXPECT_FALSE(CReceiverHolder::Shared().HasReceiver());
}

}  // namespace
