#include "app/AboutDialog.h"
#include "app/AboutReport.h"
#include "app/AppTestSupport.h"
#include "app/CommandIds.h"
#include "app/ConnectionDialog.h"
#include "app/Connector.h"
#include "app/MainFrame.h"
#include "app/MainView.h"
#include "app/NemolaApp.h"
#include "app/TargetDlg.h"
#include "files/FileManager.h"
#include "link/Connection.h"
#include "link/ConnectionInfo.h"
#include "link/InProcessDevice.h"
#include "link/Profile.h"
#include "link/ReceiverHolder.h"
#include "link/ReceiverName.h"
#include "manual/ManualMode.h"
#include "plots/Satellites.h"
#include "sim/SimPty.h"
#include "sim/SimTcpServer.h"
#include "support/FakeTime.h"
#include "support/ScriptedPrompts.h"
#include "support/SimHarness.h"
#include "ui/Waiter.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <thread>
#include <tuple>

namespace {

// The whole stream of a connection to a server on this controller, as the link asks for it and stops it.
const QString kLocalStream = QStringLiteral(
    "/PG,/PV,/DP,/MS,/RT,/RD,/OO,/TT,/XA,/XB,/SG,/SI,/SE,/NN,/EL,/DO,/GA,/NA,/DC,/AZ,/EC,/E1,/E2,/E3,/E5,/TC,/SS,/EE");

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

SimOptions Profile(const char* name)
{
    SimOptions options = CSimHarness::VirtualClock();
    options.profile = QLatin1String(name);
    return options;
}

// The program and a simulated receiver on the real link; its "Connection" command picks the simulator.
class SimApp : public FreshSettings
{
protected:
    void Launch(const SimOptions& options = CSimHarness::VirtualClock(),
                const std::function<void(CSimReceiver&)>& configure = {})
    {
        m_sim = std::make_unique<CSimHarness>(options, nullptr, false);
        m_simPtr = m_sim.get();
        if (configure) {
            configure(m_sim->Sim());
        }
        StartApp({});
        m_app->SetReceiverChooser([this](CONNECTION_INFO& info) {
            info.receivers = {m_receiverName.isEmpty() ? m_sim->Name() : m_receiverName};
            info.manualOnly = m_manualOnly;
            return true;
        });
    }
    // With `arguments` after the program's name, and the command line choosing the receiver.
    void StartApp(const QStringList& arguments)
    {
        m_app = std::make_unique<CNemolaApp>(m_time.Services());
        ASSERT_TRUE(m_app->Start(QStringList{QStringLiteral("nemola-m")} + arguments));
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
    // True when the connect ended with the live view running.
    bool Connect(const SimOptions& options = CSimHarness::VirtualClock(),
                 const std::function<void(CSimReceiver&)>& configure = {})
    {
        Launch(options, configure);
        QCoreApplication::processEvents();  // the "Connection" command posted at start-up
        return Running();
    }
    // Whether the live view runs once the connection thread's work (a connect, a restart) is done.
    bool Running()
    {
        m_app->Connector().WaitFinished();
        return State().running;
    }
    std::string Status() { return Frame().StatusText(0).toStdString(); }
    // A message box with only "OK", answered.
    void ExpectSaid(const QString& title, const QString& text)
    {
        m_prompts.ExpectMessage(title, text, PromptButtons::Ok, PromptButton::Ok);
    }
    void Close()
    {
        m_app.reset();
        m_simPtr = nullptr;
        m_sim.reset();
    }
    void TearDown() override
    {
        Close();
        FreshSettings::TearDown();
    }
    // Lets the receiver run one epoch at a time and waits for the snapshot each brings.
    void RunEpochs(int epochs)
    {
        const int before = m_snapshots;
        for (int i = 0; i < epochs; ++i) {
            m_sim->Advance(1000);
            ASSERT_TRUE(PumpUntil([&] { return m_snapshots > before + i; })) << "epoch " << i;
        }
    }
    // The idle state after a disconnect or a lost link.
    void ExpectIdle()
    {
        EXPECT_FALSE(State().running);
        EXPECT_FALSE(State().connecting);
        EXPECT_EQ(State().connection, nullptr);
        EXPECT_FALSE(m_app->Connector().IsBusy());
        EXPECT_FALSE(CReceiverHolder::Shared().HasReceiver());
        EXPECT_EQ(Frame().windowTitle(), QStringLiteral("Nemola-M(idle)"));
        EXPECT_TRUE(Frame().Action(cmd::kConnection)->isEnabled());
        EXPECT_FALSE(Frame().Action(cmd::kDisconnect)->isEnabled());
    }

    CMainFrame& Frame() { return *m_app->MainFrame(); }
    CMainView& View() { return *m_app->View(); }
    ConnectionState& State() { return m_app->State(); }
    // What was asked, in order, without the tags the link puts before each statement ("%tag%print,...").
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

TEST_F(SimApp, ConnectIdentifiesTheReceiverThenEpochsFlowAndASparseEpochResetsTheView)
{
    ASSERT_TRUE(Connect()) << Status();
    const ConnectionState& state = State();
    EXPECT_FALSE(state.connecting);
    EXPECT_NE(state.connection, nullptr);
    EXPECT_TRUE(CReceiverHolder::Shared().HasReceiver());
    CSimReceiver& sim = m_sim->Sim();
    EXPECT_EQ(state.model, sim.Param(QStringLiteral("/par/rcv/model")));
    EXPECT_EQ(state.receiverId, sim.Param(QStringLiteral("/par/rcvid")));
    EXPECT_FALSE(state.currentPort.isEmpty());
    EXPECT_EQ(QStringLiteral("%1.%2").arg(state.firmwareMajor).arg(state.firmwareMinor),
              sim.Param(QStringLiteral("/par/rcv/ver/main")).section(QLatin1Char('.'), 0, 1));
    EXPECT_EQ(state.connectTick, m_time.tick.TickMs());
    EXPECT_EQ(Frame().windowTitle(), QStringLiteral("Nemola-M to ") + state.model + QStringLiteral(":SIM"));
    EXPECT_EQ(Frame().StatusText(0), m_sim->Name());
    EXPECT_TRUE(Frame().Action(cmd::kDisconnect)->isEnabled());
    EXPECT_FALSE(Frame().Action(cmd::kConnection)->isEnabled());
    // Identification, the message stream, then the modes for the title.
    const QString stream = QString(kLocalStream).replace(QLatin1Char(','), QStringLiteral(":1,"));
    const QStringList identification = {"print,/par/rcv/ver/main", "print,/par/rcv/model",      "print,/cur/term",
                                        "print,/par/rcvid",        "em,,kvs{" + stream + ":1}", "print,/par/base/mode",
                                        "print,/par/rover/mode"};
    const QStringList asked = Commands();
    ASSERT_GE(asked.size(), identification.size());
    EXPECT_EQ(asked.mid(asked.size() - identification.size()), identification) << asked.join(';').toStdString();

    EXPECT_FALSE(View().StopVisible());  // not a serial receiver
    View().SetCurrentPage(kListGps);
    RunEpochs(3);
    ASSERT_GT(m_app->Connector().Dispatcher().LastCount(), CEpochDispatcher::kSparseTypes);
    EXPECT_TRUE(View().Field(QStringLiteral("time")).startsWith(QStringLiteral("Receiver time: ")));
    EXPECT_GT(View().List(kListGps)->topLevelItemCount(), 0);
    EXPECT_TRUE(View().Field(QStringLiteral("summary")).startsWith(QStringLiteral("Satellites  ")));
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

// Over a receiver's TCP port the connection thread reads the stream while it waits for an epoch: a disconnect
// still ends its wait at once (not after the epoch time-out), and a lost link still reaches the program.
TEST_F(SimApp, OverTcpEpochsFlowAndTheThreadStopsAtOnce)
{
    Launch();
    CSimTcpServer server(m_sim->SimPtr(), false);
    QString error;
    ASSERT_TRUE(server.Listen(QHostAddress::LocalHost, 0, &error)) << error.toStdString();
    m_receiverName = QStringLiteral("127.0.0.1:%1").arg(server.Port());
    QCoreApplication::processEvents();
    ASSERT_TRUE(Running()) << Status();
    RunEpochs(3);
    EXPECT_TRUE(View().Field(QStringLiteral("time")).startsWith(QStringLiteral("Receiver time: ")));

    QElapsedTimer timer;
    timer.start();
    Frame().Action(cmd::kDisconnect)->trigger();
    ExpectIdle();
    EXPECT_LT(timer.elapsed(), CConnector::kEpochTimeoutMs / 2);

    Frame().Action(cmd::kConnection)->trigger();
    ASSERT_TRUE(Running());
    RunEpochs(1);
    server.Close();
    ASSERT_TRUE(PumpUntil([&] { return !State().running && State().connection == nullptr; }));
    ExpectIdle();
}

TEST_F(SimApp, TitleShowsTheReceiversModes)
{
    for (const char* mode : {"base", "rover"}) {
        SCOPED_TRACE(mode);
        Connect(CSimHarness::VirtualClock(), [mode](CSimReceiver& sim) {
            sim.SetParamValue(QStringLiteral("/par/%1/mode").arg(QLatin1String(mode)), "on");
        });
        EXPECT_TRUE(Frame().windowTitle().endsWith(QStringLiteral(":SIM(%1)").arg(QLatin1String(mode))))
            << Frame().windowTitle().toStdString();
        Close();
    }
}

// Either way the run ends cleanly and the next connect is a new run; closing the window disconnects first.
TEST_F(SimApp, DisconnectOrALostLinkEndsTheRunAndTheNextConnectStartsClean)
{
    ASSERT_TRUE(Connect());
    RunEpochs(1);
    Frame().UpdateClockPanes();
    ASSERT_FALSE(Frame().StatusText(2).isEmpty());
    Frame().Action(cmd::kDisconnect)->trigger();
    ExpectIdle();
    EXPECT_EQ(Frame().StatusText(0), QStringLiteral("Disconnected"));
    EXPECT_TRUE(Frame().StatusText(2).isEmpty());
    EXPECT_TRUE(View().Field(QStringLiteral("eventA")).isEmpty());
    // The stream the thread asked for was stopped before the receiver was closed.
    EXPECT_TRUE(Commands().contains(QStringLiteral("dm,,kvs{") + kLocalStream + QLatin1Char('}')))
        << Commands().join(';').toStdString();
    // Epochs still queued from the stopped run do not reach the view.
    const int shown = View().List(kListGps)->topLevelItemCount();
    m_sim->Advance(3000);
    QCoreApplication::processEvents();
    EXPECT_EQ(View().List(kListGps)->topLevelItemCount(), shown);

    Frame().Action(cmd::kConnection)->trigger();
    ASSERT_TRUE(Running());
    const int generation = m_app->Connector().Generation();
    m_sim->Sim().DropSessions(QStringLiteral("receiver powered off"));
    ASSERT_TRUE(PumpUntil([&] { return !State().running && State().connection == nullptr; }));
    ExpectIdle();
    EXPECT_FALSE(State().lastError.isEmpty());
    EXPECT_EQ(Frame().StatusText(0), State().lastError);

    Frame().Action(cmd::kConnection)->trigger();
    ASSERT_TRUE(Running()) << Status();
    EXPECT_EQ(m_app->Connector().Generation(), generation + 1);
    RunEpochs(1);
    Frame().close();
    EXPECT_FALSE(State().running);
    EXPECT_FALSE(CReceiverHolder::Shared().HasReceiver());
}

TEST_F(SimApp, ALossReportedDuringADisconnectStaysWithThatConnection)
{
    ASSERT_TRUE(Connect());
    // The thread's last command waits for a withheld reply, so the disconnect handles events while the loss of
    // the connection being stopped arrives.
    m_sim->Sim().WithholdReplies(true);
    State().connection->SetTimeout(50);
    std::thread reporter([&, generation = m_app->Connector().Generation()] {
        QThread::msleep(100);
        emit m_app->Connector().LinkLost(QStringLiteral("Link lost: gone"), generation);
    });
    m_app->DisconnectCommand();
    reporter.join();
    m_sim->Sim().WithholdReplies(false);
    Frame().Action(cmd::kConnection)->trigger();
    m_app->Connector().WaitFinished();
    QCoreApplication::processEvents();  // the loss, if it was still queued, must not end the new run
    EXPECT_TRUE(State().running) << Status();
}

TEST_F(SimApp, NoEpochEndInTimeResetsTheDisplayAndKeepsWaiting)
{
    Launch();
    m_app->Connector().SetEpochTimeoutMs(30);
    QCoreApplication::processEvents();
    ASSERT_TRUE(Running());
    // The receiver's clock stands still: no epoch ends. What came without one is not kept for ever.
    std::mutex& lock = State().connection->GetLock();
    {
        std::lock_guard guard(lock);
        m_app->Connector().Dispatcher().Feed(QByteArray("XA00A\0\0\0\0\0\0\0\0\0\x01", 15));
    }
    // Snapshots taken before the feed may still be queued, so the count alone proves nothing: wait for the
    // reset itself, then for a snapshot taken after it.
    ASSERT_TRUE(PumpUntil([&] {
        std::lock_guard guard(lock);
        const auto& table = m_app->Connector().Dispatcher().Table();
        return std::all_of(table.begin(), table.end(), [](const GPSDATA& entry) { return entry.buffer.isEmpty(); });
    }));
    const int afterReset = m_snapshots;
    ASSERT_TRUE(PumpUntil([&] { return m_snapshots > afterReset + 1; }));
    EXPECT_TRUE(State().noData);
    EXPECT_TRUE(m_last.lists[kListGps].empty());
    EXPECT_TRUE(m_last.summary.isEmpty());
    EXPECT_TRUE(State().running);
}

TEST_F(SimApp, SimulatorOptionConnectsToABuiltInReceiverWithoutAsking)
{
    StartApp({QStringLiteral("--simulator"), QStringLiteral("--profile"), QStringLiteral("basic"),
              QStringLiteral("--seed"), QStringLiteral("7")});
    QCoreApplication::processEvents();
    ASSERT_TRUE(Running()) << Status();
    EXPECT_EQ(State().receiverName, QStringLiteral("SIM:"));
    // The basic receiver has no rover parameter: the error reply does not count as "on".
    EXPECT_EQ(Frame().windowTitle(), QStringLiteral("Nemola-M to Vireo-B1:SIM"));

    // After a disconnect "Connection" asks, so that a real receiver can be reached; the simulator comes first even
    // when another kind was chosen last time.
    CProfile::Instance()->WriteString(QStringLiteral("Connection"), QStringLiteral("Kind"), QStringLiteral("tcp"));
    m_app->DisconnectCommand();
    bool asked = false;
    bool simulatorPreset = false;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<CConnectionDialog*>(QApplication::activeModalWidget());
        asked = dialog != nullptr;
        if (dialog) {
            simulatorPreset = dialog->Choice().kind == ConnectionChoice::Kind::Simulator;
            dialog->accept();
        }
    });
    Frame().OnConnection();
    EXPECT_TRUE(Running()) << Status();
    EXPECT_TRUE(asked);
    EXPECT_TRUE(simulatorPreset);
    m_app.reset();
    EXPECT_EQ(FindInProcessDevice(QString()), nullptr);
}

TEST_F(SimApp, ExitBeforeThePostedConnectRunsStartsNoConnect)
{
    m_sim = std::make_unique<CSimHarness>(CSimHarness::VirtualClock(), nullptr, false);
    StartApp({QStringLiteral("--receiver"), m_sim->Name()});
    m_app.reset();
    EXPECT_FALSE(CReceiverHolder::Shared().HasReceiver());
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

// The About box was once tiny, with both scroll bars and the firmware version cut.
void ExpectReportWholeInAlignedColumns(CAboutDialog& dialog, const CSimReceiver& sim)
{
    auto* view = dialog.findChild<QPlainTextEdit*>(QStringLiteral("receiverReport"));
    ASSERT_NE(view, nullptr);
    const QStringList lines = view->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 51);
    const qsizetype column = lines[0].indexOf(sim.Param("/par/rcv/model"));
    for (const QString& line : lines) {
        if (!line.startsWith(QLatin1Char('-'))) {
            EXPECT_FALSE(line.at(column).isSpace()) << line.toStdString();
            EXPECT_TRUE(line.at(column - 1).isSpace()) << line.toStdString();
        }
    }
    EXPECT_TRUE(view->toPlainText().contains(sim.Param("/par/version/main")));
    dialog.show();
    QCoreApplication::processEvents();
    const QSize screen = dialog.screen()->availableSize();
    const QSize window = dialog.frameGeometry().size();
    EXPECT_LE(window.width(), screen.width());
    EXPECT_LE(window.height(), screen.height());
    if (window.height() < screen.height()) {  // room for all of it: nothing hidden
        EXPECT_FALSE(view->verticalScrollBar()->isVisible());
    }
    EXPECT_FALSE(view->horizontalScrollBar()->isVisible());
    dialog.hide();
}

TEST_F(SimApp, AboutReportHoldsEachPrintsOwnValueOrUnknown)
{
    // The basic receiver lacks some values: their error replies shift nothing.
    for (const auto& [profile, lacksSome] : {std::pair{"full", false}, std::pair{"basic", true}}) {
        SCOPED_TRACE(profile);
        ASSERT_TRUE(Connect(Profile(profile)));
        CAboutDialog dialog(&CReceiverHolder::Shared());
        const auto values = ReportValues(dialog.Report());
        ASSERT_EQ(values.size(), 46u);
        const QString unknown = QStringLiteral("<unknown>");
        for (const auto& [path, value] : values) {
            const QString expected = m_sim->Sim().Param(path);
            if (path == QLatin1String("/cur/term") || path == QLatin1String("/par/rcv/uptime")) {
                EXPECT_NE(value, unknown);
            } else {
                EXPECT_EQ(value, expected.isEmpty() ? unknown : expected) << path.toStdString();
            }
        }
        EXPECT_EQ(dialog.Report().contains(unknown), lacksSome);
        if (!lacksSome) {
            ExpectReportWholeInAlignedColumns(dialog, m_sim->Sim());
        }
        Close();
    }
}

TEST_F(SimApp, ManualOnlyConnectGoesStraightToManualMode)
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

TEST_F(SimApp, ToolsHideTheFrameAndRestartTheLiveViewUnlessDisconnectWasChosen)
{
    ASSERT_TRUE(Connect());
    bool ran = false;
    m_app->RunDialogCommand([&](QWidget* parent) {
        ran = true;
        EXPECT_FALSE(parent->isVisible());
        EXPECT_FALSE(State().running);
        EXPECT_FALSE(m_app->Connector().IsBusy());
    });
    EXPECT_TRUE(ran);
    EXPECT_TRUE(Frame().isVisible());
    EXPECT_TRUE(Running());

    Frame().Action(cmd::kManualMode)->trigger();
    ASSERT_EQ(m_manualRuns.size(), 1u);
    EXPECT_FALSE(m_manualRuns.back().manualOnly);
    EXPECT_TRUE(m_frameHiddenDuringTool);
    EXPECT_TRUE(Running());

    m_manualAnswer = true;  // "Discon"
    Frame().Action(cmd::kManualMode)->trigger();
    ASSERT_EQ(m_manualRuns.size(), 2u);
    EXPECT_FALSE(State().running);
    EXPECT_FALSE(State().connecting);
    EXPECT_FALSE(m_app->Connector().IsBusy());
    EXPECT_TRUE(Frame().Action(cmd::kConnection)->isEnabled());
}

// A clock that could not be set is reported as such; no answer at all sets nothing and says nothing. (The clock set
// from the menu: the journeys.)
TEST_F(SimApp, SetSatelliteTimeReportsAClockNotSetAndIgnoresNoAnswer)
{
    ASSERT_TRUE(Connect());
    m_time.clockSetter.FailWith(QStringLiteral("not permitted"));
    ExpectSaid(QStringLiteral("Set time"), QStringLiteral("The controller's clock could not be set: not permitted"));
    Frame().Action(cmd::kSetSatelliteTime)->trigger();
    m_prompts.Verify();
    ASSERT_EQ(m_time.clockSetter.Calls().size(), 1u);
    EXPECT_EQ(m_time.clockSetter.Calls().front().timeSpec(), Qt::UTC);

    m_sim->Sim().WithholdReplies(true);
    State().connection->SetTimeout(2);
    Frame().Action(cmd::kSetSatelliteTime)->trigger();
    EXPECT_EQ(m_time.clockSetter.Calls().size(), 1u);
    m_sim->Sim().WithholdReplies(false);
}

// Only a receiver that took the command and came back with a new start is reported as done.
TEST_F(SimApp, ARestartIsReportedDoneOnlyWhenTheReceiverRestarted)
{
    // Up for ten minutes, so that a receiver that never restarted shows it.
    ASSERT_TRUE(Connect(CSimHarness::VirtualClock(), [](CSimReceiver& sim) { sim.AdvanceTime(600000); }));
    CNemolaApp::RestartSteps ignored = CNemolaApp::kResetReceiver;  // accepted, but restarts nothing
    ignored.command = QStringLiteral("%%dm");
    const QString refused = QStringLiteral("The receiver refused the command: ER017%%{7,,parameter locked}");
    const std::vector<int> none, firstTry = {7999, 899};
    // The steps run directly, or (0 for none) the menu entry.
    for (const auto& [steps, entry, refuse, result, waits] :
         {std::tuple{&CNemolaApp::kResetReceiver, 0, "/par/reset", refused, none},
          {&CNemolaApp::kClearNvram, 0, "/dev/nvm/a", refused, none},
          {&ignored, 0, "", QStringLiteral("The receiver did not restart!"), firstTry},
          {&CNemolaApp::kClearNvram, cmd::kClearNvram, "", QStringLiteral("The NVRAM has been cleared!"), firstTry}}) {
        m_waiter.waits.clear();
        m_sim->Sim().RefuseParam(QLatin1String(refuse));
        m_prompts.ExpectMessage(steps->title, steps->question, PromptButtons::OkCancel, PromptButton::Ok);
        ExpectSaid(steps->title, result);
        if (entry != 0) {
            Frame().Action(entry)->trigger();
        } else {
            m_app->RestartReceiverCommand(*steps);
        }
        m_prompts.Verify();
        EXPECT_EQ(m_waiter.waits, waits) << result.toStdString();
        EXPECT_EQ(m_sim->Sim().AlmanacValid(), entry == 0) << "only the cleared NVRAM loses the almanac";
        EXPECT_EQ(State().connection->GetTimeout(), CConnection::kDefaultTimeout);
        EXPECT_TRUE(Frame().isVisible());
        m_sim->Sim().RefuseParam(QLatin1String(refuse), false);
        EXPECT_TRUE(Running()) << Status();
    }
}

TEST_F(SimApp, ResetOfAReceiverThatNeverComesBackSaysSo)
{
    SimOptions options = CSimHarness::VirtualClock();
    options.rebootMs = 24 * 3600 * 1000;
    ASSERT_TRUE(Connect(options));
    // Cancelled, it sends nothing.
    m_sim->Sim().ClearReceivedCommands();
    m_prompts
        .ExpectMessage(QStringLiteral("Reset Receiver"), CNemolaApp::kResetReceiver.question, PromptButtons::OkCancel,
                       PromptButton::Cancel)
        .WithDefault(PromptButton::Cancel);
    Frame().Action(cmd::kResetReceiver)->trigger();
    EXPECT_TRUE(m_sim->Sim().ReceivedCommands().isEmpty());
    EXPECT_TRUE(State().running);

    m_prompts.ExpectMessage(QStringLiteral("Reset Receiver"), CNemolaApp::kResetReceiver.question,
                            PromptButtons::OkCancel, PromptButton::Ok);
    ExpectSaid(QStringLiteral("Reset Receiver"), QStringLiteral("The receiver didn't reply!"));
    Frame().Action(cmd::kResetReceiver)->trigger();
    m_prompts.Verify();
    EXPECT_TRUE(Commands().contains(QStringLiteral("set,reset,yes")));
    EXPECT_EQ(m_waiter.waits.size(), 11u);
    EXPECT_TRUE(m_sim->Sim().IsAway());
    // The restart afterwards fails like any connect to a silent receiver.
    EXPECT_FALSE(Running());
    EXPECT_EQ(State().connection, nullptr);
    EXPECT_FALSE(Frame().StatusText(0).isEmpty());
}

TEST_F(SimApp, StopEndsTheAttemptsOnASerialReceiver)
{
    Launch();
    CSimPty pty(m_sim->SimPtr());
    QString error;
    ASSERT_TRUE(pty.Open(&error)) << error.toStdString();
    m_sim->Sim().WithholdReplies(true);
    m_receiverName = SerialReceiverName(pty.SlavePath(), 115200, false);
    QCoreApplication::processEvents();  // the posted "Connection" command
    ASSERT_TRUE(State().connecting);
    // A second try while the first is under way is ignored.
    const QString trying = State().receiverName;
    m_receiverName = m_sim->Name();
    m_app->ConnectCommand();
    EXPECT_EQ(State().receiverName, trying);
    EXPECT_FALSE(Frame().Action(cmd::kConnection)->isEnabled());
    auto* stop = View().findChild<QPushButton*>(QStringLiteral("stopButton"));
    ASSERT_NE(stop, nullptr);
    EXPECT_TRUE(View().StopVisible());
    ASSERT_TRUE(PumpUntil([&] { return Frame().StatusText(0) == QStringLiteral("Trying 1"); }));
    stop->click();
    EXPECT_FALSE(Running());
    EXPECT_FALSE(State().cancelTrying);
    EXPECT_FALSE(View().StopVisible());
    EXPECT_TRUE(Frame().StatusText(0).contains(QStringLiteral("cancelled"))) << Frame().StatusText(0).toStdString();
    EXPECT_EQ(State().connection, nullptr);
    m_app.reset();
    pty.Close();
}

// Runs `handle` on the modal dialog `T` that the menu entry opens, then lets the entry's command finish.
template <typename T>
void OnModal(QAction* action, const std::function<void(T&)>& handle)
{
    bool seen = false;
    QTimer::singleShot(0, [&] {
        T* dialog = dynamic_cast<T*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        seen = true;
        handle(*dialog);
        static_cast<QDialog*>(dialog)->reject();
    });
    action->trigger();
    EXPECT_TRUE(seen);
}

TEST_F(SimApp, TargetFromTheLastPositionShowsWithTheNextEpoch)
{
    ASSERT_TRUE(Connect());
    RunEpochs(7);  // the simulated receiver has a position after five seconds
    ASSERT_FALSE(View().LastPg().isEmpty());
    OnModal<CTargetDlg>(Frame().Action(cmd::kSetTargetPosition), [](CTargetDlg& dialog) {
        dialog.findChild<QPushButton*>(QStringLiteral("getFromReceiver"))->click();
        EXPECT_EQ(dialog.Message(), QString());
    });
    EXPECT_NEAR(m_app->Settings().targetLat * CReceiverState::kRadToDeg, 50.087, 0.01);
    RunEpochs(1);
    // The target is where the receiver stands, give or take the noise of a standalone position.
    EXPECT_LT(m_last.target.section(QStringLiteral("DTT:"), 1).section(QStringLiteral(" m"), 0, 0).toDouble(), 50);
    EXPECT_TRUE(m_last.targetLat.startsWith(QStringLiteral("Lat:    50")));
}

// The plot subscribes to its messages itself and hands the stream back without them; a tool finds the live view's
// stream stopped. (Each tool's own job from the menu: the journeys.)
TEST_F(SimApp, ToolsFindTheStreamStoppedAndTheSatellitesPlotHandsItBackWithoutItsMessages)
{
    ASSERT_TRUE(Connect());
    OnModal<CSatellites>(Frame().Action(cmd::kSatellitesPlot), [this](CSatellites& plot) {
        EXPECT_TRUE(plot.Attached());
        EXPECT_FALSE(Frame().isVisible());
    });
    EXPECT_TRUE(Running());
    for (const QString& m : m_sim->Sim().EnabledMessages(QStringLiteral("/dev/ser/a"))) {
        EXPECT_FALSE(m.startsWith(QLatin1String("/msg/kvs/GS"))) << m.toStdString();
    }
    OnModal<CFileManager>(Frame().Action(cmd::kFileManager), [this](CFileManager&) {
        EXPECT_TRUE(m_sim->Sim().EnabledMessages(QStringLiteral("/dev/ser/a")).isEmpty());
    });
    EXPECT_TRUE(Running());
}

}  // namespace
