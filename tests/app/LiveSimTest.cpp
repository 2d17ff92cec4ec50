#include "app/AppTestSupport.h"
#include "app/CommandIds.h"
#include "app/Connector.h"
#include "app/MainFrame.h"
#include "app/MainView.h"
#include "app/NemolaApp.h"
#include "link/Connection.h"
#include "link/ConnectionInfo.h"
#include "link/ReceiverHolder.h"
#include "link/ReceiverName.h"
#include "manual/ManualMode.h"
#include "sim/SimPty.h"
#include "support/FakeTime.h"
#include "support/ScriptedPrompts.h"
#include "support/SimHarness.h"
#include "ui/Waiter.h"

#include <QAction>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QThread>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace {

// Pumps events until `done` or the time runs out; false on time-out.
template <typename F>
bool PumpUntil(F done, int timeoutMs = 10000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

// The program's waits move the simulated receiver's clock instead of passing real time.
class CSimWaiter : public IWaiter
{
public:
    explicit CSimWaiter(CSimHarness*& sim) : m_sim(sim) {}
    void Wait(int ms) override
    {
        waits.push_back(ms);
        if (m_sim) {
            m_sim->Advance(ms);
        }
        QCoreApplication::processEvents();
    }
    std::vector<int> waits;

private:
    CSimHarness*& m_sim;
};

// The program connected through its connection command to a simulated receiver on the real link.
class LiveApp : public FreshSettings
{
protected:
    void Launch(const SimOptions& options = CSimHarness::VirtualClock())
    {
        m_sim = std::make_unique<CSimHarness>(options, nullptr, false);
        m_simPtr = m_sim.get();
        m_app = std::make_unique<CNemolaApp>(m_time.Services());
        ASSERT_TRUE(m_app->Start({QStringLiteral("nemola-m")}));
        m_app->SetReceiverChooser([this](CONNECTION_INFO& info) {
            info.receivers = {m_receiverName.isEmpty() ? m_sim->Name() : m_receiverName};
            info.manualOnly = m_manualOnly;
            return true;
        });
        m_app->SetWaiter(&m_waiter);
        m_app->SetManualModeRunner([this](const ManualModeContext& context, QWidget* parent) {
            m_manualRuns.push_back(context);
            m_frameHiddenDuringTool = parent && !parent->isVisible();
            return m_manualAnswer;
        });
        QObject::connect(&m_app->Connector(), &CConnector::SnapshotReady, &m_context,
                         [this](const StatusSnapshot& snapshot, int) {
                             ++m_snapshots;
                             m_last = snapshot;
                         });
    }
    void Connect(const SimOptions& options = CSimHarness::VirtualClock())
    {
        Launch(options);
        QCoreApplication::processEvents();  // the "Connection" command posted at start-up
        m_app->Connector().WaitFinished();
    }
    void TearDown() override
    {
        m_app.reset();
        m_simPtr = nullptr;
        m_sim.reset();
        FreshSettings::TearDown();
    }
    // Lets the receiver run for `ms` in epochs and waits for the snapshots they bring.
    void RunEpochs(int epochs)
    {
        const int before = m_snapshots;
        for (int i = 0; i < epochs; ++i) {
            m_sim->Advance(1000);
            ASSERT_TRUE(PumpUntil([&] { return m_snapshots > before + i; })) << "epoch " << i;
        }
    }

    CMainFrame& Frame() { return *m_app->MainFrame(); }
    CMainView& View() { return *m_app->View(); }
    ConnectionState& State() { return m_app->State(); }
    QStringList Commands()
    {
        QStringList asked;
        for (const QString& command : m_sim->Sim().ReceivedCommands()) {
            asked << (command.startsWith(QLatin1Char('%')) ? command.section(QLatin1Char('%'), 2) : command);
        }
        return asked;
    }

    FakeTime m_time;
    CScriptedPrompts m_prompts;
    std::unique_ptr<CSimHarness> m_sim;
    CSimHarness* m_simPtr = nullptr;
    CSimWaiter m_waiter{m_simPtr};
    std::unique_ptr<CNemolaApp> m_app;
    QObject m_context;
    int m_snapshots = 0;
    StatusSnapshot m_last;
    QString m_receiverName;
    bool m_manualOnly = false;
    bool m_manualAnswer = false;
    bool m_frameHiddenDuringTool = false;
    std::vector<ManualModeContext> m_manualRuns;
};

TEST_F(LiveApp, EpochsFlowIntoTheViewAndASparseEpochResetsIt)
{
    Connect();
    ASSERT_TRUE(State().running) << Frame().StatusText(0).toStdString();
    EXPECT_FALSE(View().StopVisible());  // not a serial receiver
    View().SetCurrentPage(kListGps);
    RunEpochs(3);
    ASSERT_GT(m_app->Connector().Dispatcher().LastCount(), CEpochDispatcher::kSparseTypes);
    EXPECT_TRUE(m_last.time.startsWith(QStringLiteral("Receiver time: ")));
    EXPECT_FALSE(View().Field(QStringLiteral("time")).isEmpty());
    EXPECT_GT(View().List(kListGps)->topLevelItemCount(), 0);
    EXPECT_TRUE(View().Field(QStringLiteral("summary")).startsWith(QStringLiteral("Satellites  ")));
    EXPECT_TRUE(View().List(kListGps)->updatesEnabled());
    EXPECT_FALSE(State().noData);

    // Most of the stream stopped: what is left is no data.
    ASSERT_TRUE(CReceiverHolder::Shared().Send(
        QStringLiteral("dm,,kvs{/PG,/PV,/DP,/MS,/OO,/TT,/XA,/XB,/SG,/SI,/SE,/NN,/EL,/DO,/GA,/NA,/DC,/AZ,/EC,/E1,/E2,"
                       "/E3,/E5,/TC,/SS}")));
    RunEpochs(2);
    EXPECT_EQ(View().List(kListGps)->topLevelItemCount(), 0);
    EXPECT_TRUE(View().Field(QStringLiteral("time")).isEmpty());
    EXPECT_TRUE(State().noData);
}

TEST_F(LiveApp, NoEpochEndInTimeResetsTheDisplayAndKeepsWaiting)
{
    Launch();
    m_app->Connector().SetEpochTimeoutMs(30);
    QCoreApplication::processEvents();
    m_app->Connector().WaitFinished();
    ASSERT_TRUE(State().running);
    // The receiver's clock stands still: no epoch ends.
    ASSERT_TRUE(PumpUntil([&] { return m_snapshots >= 3; }));
    EXPECT_TRUE(State().noData);
    EXPECT_TRUE(m_last.lists[kListGps].empty());
    EXPECT_TRUE(m_last.summary.isEmpty());
    EXPECT_TRUE(State().running);
}

TEST_F(LiveApp, DisconnectStopsTheThreadAndResetsTheView)
{
    Connect();
    ASSERT_TRUE(State().running);
    RunEpochs(1);
    Frame().Action(cmd::kDisconnect)->trigger();
    EXPECT_FALSE(m_app->Connector().IsBusy());
    EXPECT_FALSE(State().running);
    EXPECT_FALSE(State().connecting);
    EXPECT_EQ(Frame().StatusText(0), QStringLiteral("Disconnected"));
    EXPECT_TRUE(View().Field(QStringLiteral("eventA")).isEmpty());
    // The stream the thread asked for was stopped before the receiver was closed.
    EXPECT_TRUE(Commands().contains(QStringLiteral(
        "dm,,kvs{/PG,/PV,/DP,/MS,/RT,/RD,/OO,/TT,/XA,/XB,/SG,/SI,/SE,/NN,/EL,/DO,/GA,/NA,/DC,/AZ,/EC,/E1,/E2,/E3,/E5,"
        "/TC,/SS,/EE}")))
        << Commands().join(';').toStdString();
    // Epochs still queued from the stopped run do not reach the view.
    const int shown = View().List(kListGps)->topLevelItemCount();
    m_sim->Advance(3000);
    QCoreApplication::processEvents();
    EXPECT_EQ(View().List(kListGps)->topLevelItemCount(), shown);
}

TEST_F(LiveApp, LostLinkShowsWhyAndTheNextConnectStartsClean)
{
    Connect();
    ASSERT_TRUE(State().running);
    const int generation = m_app->Connector().Generation();
    m_sim->Sim().DropSessions(QStringLiteral("receiver powered off"));
    ASSERT_TRUE(PumpUntil([&] { return !State().running; }));
    ASSERT_TRUE(PumpUntil([&] { return State().connection == nullptr; }));
    EXPECT_FALSE(m_app->Connector().IsBusy());
    EXPECT_EQ(Frame().StatusText(0), State().lastError);
    EXPECT_FALSE(State().lastError.isEmpty());

    Frame().Action(cmd::kConnection)->trigger();
    m_app->Connector().WaitFinished();
    ASSERT_TRUE(State().running) << Frame().StatusText(0).toStdString();
    EXPECT_EQ(m_app->Connector().Generation(), generation + 1);
    RunEpochs(1);
}

TEST_F(LiveApp, ManualOnlyConnectGoesStraightToManualMode)
{
    m_manualOnly = true;
    Connect();
    ASSERT_TRUE(PumpUntil([&] { return !m_manualRuns.empty(); }));
    const ManualModeContext& context = m_manualRuns.front();
    EXPECT_TRUE(context.manualOnly);
    EXPECT_EQ(context.receiverName, m_sim->Name());
    EXPECT_EQ(context.connection, State().connection.get());
    EXPECT_EQ(context.holder, &CReceiverHolder::Shared());
    EXPECT_TRUE(m_frameHiddenDuringTool);
    // The identification and the stream were never asked for.
    EXPECT_FALSE(Commands().contains(QStringLiteral("print,/par/rcvid")));
    // Leaving with "Exit" closes the receiver and leaves the program idle.
    EXPECT_FALSE(State().running);
    EXPECT_FALSE(State().manualOnly);
    EXPECT_FALSE(CReceiverHolder::Shared().HasReceiver());
    EXPECT_TRUE(Frame().isVisible());
    EXPECT_TRUE(Frame().Action(cmd::kConnection)->isEnabled());
}

TEST_F(LiveApp, ManualModeRestartsTheLiveViewUnlessDisconnectWasChosen)
{
    Connect();
    ASSERT_TRUE(State().running);
    Frame().Action(cmd::kManualMode)->trigger();
    ASSERT_EQ(m_manualRuns.size(), 1u);
    EXPECT_FALSE(m_manualRuns.back().manualOnly);
    EXPECT_TRUE(m_frameHiddenDuringTool);
    m_app->Connector().WaitFinished();
    EXPECT_TRUE(State().running);

    m_manualAnswer = true;  // "Discon"
    Frame().Action(cmd::kManualMode)->trigger();
    ASSERT_EQ(m_manualRuns.size(), 2u);
    EXPECT_FALSE(State().running);
    EXPECT_FALSE(State().connecting);
    EXPECT_FALSE(m_app->Connector().IsBusy());
    EXPECT_TRUE(Frame().Action(cmd::kConnection)->isEnabled());
}

TEST_F(LiveApp, DialogCommandHidesTheFrameAndRestarts)
{
    Connect();
    ASSERT_TRUE(State().running);
    bool ran = false;
    m_app->RunDialogCommand([&](QWidget* parent) {
        ran = true;
        EXPECT_FALSE(parent->isVisible());
        EXPECT_FALSE(State().running);
        EXPECT_FALSE(m_app->Connector().IsBusy());
    });
    EXPECT_TRUE(ran);
    EXPECT_TRUE(Frame().isVisible());
    m_app->Connector().WaitFinished();
    EXPECT_TRUE(State().running);
}

TEST_F(LiveApp, SetSatelliteTimeSetsTheClockAndSaysSo)
{
    Connect();
    ASSERT_TRUE(State().running);
    m_prompts.ExpectMessage(QStringLiteral("Set time"), QStringLiteral("Satellite time is set\n2024-06-01,12:00:00"),
                            PromptButtons::Ok, PromptButton::Ok);
    Frame().Action(cmd::kSetSatelliteTime)->trigger();
    m_prompts.Verify();
    ASSERT_EQ(m_time.clockSetter.Calls().size(), 1u);
    const QDateTime set = m_time.clockSetter.Calls().front();
    EXPECT_EQ(set.timeSpec(), Qt::UTC);
    EXPECT_EQ(set.date(), QDate(2024, 6, 1));
    EXPECT_EQ(set.time().hour(), 12);

    // A clock that could not be set is reported as such.
    m_time.clockSetter.FailWith(QStringLiteral("not permitted"));
    m_prompts.ExpectMessage(QStringLiteral("Set time"),
                            QStringLiteral("The controller's clock could not be set: not permitted"), PromptButtons::Ok,
                            PromptButton::Ok);
    Frame().Action(cmd::kSetSatelliteTime)->trigger();
    m_prompts.Verify();

    // No answer at all: nothing is set and nothing is said.
    m_sim->Sim().WithholdReplies(true);
    m_app->State().connection->SetTimeout(2);
    Frame().Action(cmd::kSetSatelliteTime)->trigger();
    EXPECT_EQ(m_time.clockSetter.Calls().size(), 2u);
    m_sim->Sim().WithholdReplies(false);
}

TEST_F(LiveApp, ClearNvramWaitsForTheReceiverAndRestarts)
{
    Connect();
    ASSERT_TRUE(State().running);
    m_prompts.ExpectMessage(QStringLiteral("Clear NVRAM"), CNemolaApp::kClearNvram.question, PromptButtons::OkCancel,
                            PromptButton::Ok);
    m_prompts.ExpectMessage(QStringLiteral("Clear NVRAM"), QStringLiteral("The NVRAM has been cleared!"),
                            PromptButtons::Ok, PromptButton::Ok);
    Frame().Action(cmd::kClearNvram)->trigger();
    m_prompts.Verify();
    EXPECT_TRUE(Commands().contains(QStringLiteral("init,/dev/nvm/a"))) << Commands().join(';').toStdString();
    EXPECT_FALSE(m_sim->Sim().AlmanacValid());
    EXPECT_EQ(m_waiter.waits, (std::vector<int>{7999, 899}));
    EXPECT_EQ(State().connection->GetTimeout(), CConnection::kDefaultTimeout);
    EXPECT_TRUE(Frame().isVisible());
    m_app->Connector().WaitFinished();
    EXPECT_TRUE(State().running) << Frame().StatusText(0).toStdString();
}

TEST_F(LiveApp, CancelledResetSendsNothing)
{
    Connect();
    ASSERT_TRUE(State().running);
    m_sim->Sim().ClearReceivedCommands();
    m_prompts.ExpectMessage(QStringLiteral("Reset Receiver"), CNemolaApp::kResetReceiver.question,
                            PromptButtons::OkCancel, PromptButton::Cancel);
    Frame().Action(cmd::kResetReceiver)->trigger();
    EXPECT_TRUE(m_sim->Sim().ReceivedCommands().isEmpty());
    EXPECT_TRUE(State().running);
}

TEST_F(LiveApp, ResetOfAReceiverThatNeverComesBackSaysSo)
{
    SimOptions options = CSimHarness::VirtualClock();
    options.rebootMs = 24 * 3600 * 1000;
    Connect(options);
    ASSERT_TRUE(State().running);
    m_prompts.ExpectMessage(QStringLiteral("Reset Receiver"), CNemolaApp::kResetReceiver.question,
                            PromptButtons::OkCancel, PromptButton::Ok);
    m_prompts.ExpectMessage(QStringLiteral("Reset Receiver"), QStringLiteral("The receiver didn't reply!"),
                            PromptButtons::Ok, PromptButton::Ok);
    Frame().Action(cmd::kResetReceiver)->trigger();
    m_prompts.Verify();
    EXPECT_TRUE(Commands().contains(QStringLiteral("set,reset,yes")));
    EXPECT_EQ(m_waiter.waits.size(), 11u);
    EXPECT_TRUE(m_sim->Sim().IsAway());
    // The restart afterwards fails like any connect to a silent receiver.
    m_app->Connector().WaitFinished();
    EXPECT_FALSE(State().running);
    EXPECT_EQ(State().connection, nullptr);
    EXPECT_FALSE(Frame().StatusText(0).isEmpty());
}

TEST_F(LiveApp, StopEndsTheAttemptsOnASerialReceiver)
{
    Launch();
    CSimPty pty(m_sim->SimPtr());
    QString error;
    ASSERT_TRUE(pty.Open(&error)) << error.toStdString();
    m_sim->Sim().WithholdReplies(true);
    m_receiverName = SerialReceiverName(pty.SlavePath(), 115200, false);
    QCoreApplication::processEvents();  // the posted "Connection" command
    ASSERT_TRUE(State().connecting);
    auto* stop = View().findChild<QPushButton*>(QStringLiteral("stopButton"));
    ASSERT_NE(stop, nullptr);
    EXPECT_TRUE(View().StopVisible());
    ASSERT_TRUE(PumpUntil([&] { return Frame().StatusText(0) == QStringLiteral("Trying 1"); }));
    stop->click();
    m_app->Connector().WaitFinished();
    EXPECT_FALSE(State().running);
    EXPECT_FALSE(State().cancelTrying);
    EXPECT_FALSE(View().StopVisible());
    EXPECT_TRUE(Frame().StatusText(0).contains(QStringLiteral("cancelled"))) << Frame().StatusText(0).toStdString();
    EXPECT_EQ(State().connection, nullptr);
    m_app.reset();
    pty.Close();
}

}  // namespace
