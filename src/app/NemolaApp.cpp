#include "app/NemolaApp.h"

#include "app/AboutDialog.h"
#include "app/CommandIds.h"
#include "app/ConnectionDialog.h"
#include "app/Connector.h"
#include "app/ExitSignals.h"
#include "app/MainFrame.h"
#include "app/MainView.h"
#include "link/Connection.h"
#include "link/ConnectionInfo.h"
#include "link/InProcessDevice.h"
#include "link/Profile.h"
#include "link/ReceiverHolder.h"
#include "link/ReceiverName.h"
#include "manual/ManualMode.h"
#include "ui/FieldNames.h"
#include "ui/Prompts.h"
#include "ui/Waiter.h"

#ifdef NEMOLA_HAVE_SIM
#include "sim/Simulator.h"
#endif

#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QTimer>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>

Q_DECLARE_LOGGING_CATEGORY(lcApp)

CNemolaApp::CNemolaApp(TimeServices time, QObject* parent)
    : QObject(parent),
      m_time(time),
      m_profile(CProfile::Instance()),
      m_connector(std::make_unique<CConnector>(m_state, CReceiverHolder::Shared(), *m_time.tick)),
      m_waiter(&CEventPumpWaiter::Instance())
{
    m_chooser = [this](CONNECTION_INFO& info) {
        // "--simulator" chooses the first connect only: afterwards the user may pick a real receiver, which is
        // why the program was disconnected. A receiver named with "--receiver" is tried again and again.
        const bool simulatorChosen = m_options.simulator && m_simulatorChosen;
        m_simulatorChosen = m_simulatorChosen || m_options.simulator;
        return (!simulatorChosen && ChooseFromCommandLine(info)) ||
               ChooseReceiverWithDialog(*m_profile, info, m_frame.get(), m_options.simulator);
    };
    m_manualRunner = [](const ManualModeContext& context, QWidget* parent) { return RunManualMode(context, parent); };
    InstallFieldNames(QCoreApplication::instance());

    CConnector* c = m_connector.get();
    connect(c, &CConnector::StatusText, this, &CNemolaApp::SetStatus);
    connect(c, &CConnector::LastError, this, [this](const QString& text) { m_state.lastError = text; });
    connect(c, &CConnector::LinkLost, this, &CNemolaApp::OnLinkLost);
    connect(c, &CConnector::DropConnection, this, &CNemolaApp::OnDropConnection);
    connect(c, &CConnector::Finished, this, &CNemolaApp::OnConnectFinished);
    connect(c, &CConnector::TitleChanged, this, [this](const QString& title) {
        if (m_frame && m_state.running) {
            m_frame->setWindowTitle(title);
        }
    });
    connect(c, &CConnector::StopButtonVisible, this, [this](bool visible) {
        if (CMainView* view = View()) {
            view->SetStopVisible(visible);
        }
    });
    connect(c, &CConnector::SnapshotReady, this, [this](const StatusSnapshot& snapshot, int session) {
        // A snapshot still queued from a stopped run would undo the reset that followed it.
        CMainView* view = View();
        if (view && m_state.running && session == m_connector->Session()) {
            view->ApplySnapshot(snapshot);
            if (m_frame) {
                m_frame->OnEpochShown();
            }
        }
    });
    connect(c, &CConnector::NewUserMessage, this, [this] {
        if (m_frame && !m_exiting) {
            m_frame->SetNewMessage(true);
            m_frame->OnMessage();
        }
    });
    connect(c, &CConnector::TransferNotice, this, [this](const QString& notice) {
        if (m_frame && !m_exiting) {
            m_frame->OnTransferNotice(notice);
        }
    });
    connect(c, &CConnector::ManualModeRequested, this, [this] {
        if (m_frame && !m_exiting) {
            m_frame->OnManualMode();
        }
    });
}

CNemolaApp::~CNemolaApp()
{
    // A connect under way uses the connection and the receiver: let it end first, and start no other.
    m_exiting = true;
    m_state.cancelTrying = true;
    m_state.running = false;
    m_connector->Stop(false);
    CReceiverHolder::Shared().CloseReceiver();
    m_state.connection.reset();
    if (m_simulator) {
        UnregisterInProcessDevice(QString());
    }
    m_frame.reset();
    CProfile::Release();
}

CReceiverHolder& CNemolaApp::Receiver() const
{
    return CReceiverHolder::Shared();
}

CMainView* CNemolaApp::View() const
{
    return m_frame ? m_frame->View() : nullptr;
}

void CNemolaApp::SetWaiter(IWaiter* waiter)
{
    m_waiter = waiter ? waiter : &CEventPumpWaiter::Instance();
}

bool CNemolaApp::Start(const QStringList& arguments)
{
    m_frame = std::make_unique<CMainFrame>(*this);
    connect(m_frame->View(), &CMainView::StopClicked, this, [this] { m_state.cancelTrying = true; });

    m_options = ParseCommandLine(arguments);
    if (const std::optional<int> code = AnswerCommandLine(m_options)) {
        m_exitCode = *code;
        return false;
    }
    if (!m_options.settingsFile.isEmpty()) {
        // Switches the store already in use too.
        CProfile::SetFileName(m_options.settingsFile);
    }
    if (m_options.simulator) {
#ifdef NEMOLA_HAVE_SIM
        SimOptions sim;
        sim.profile = m_options.simProfile;
        sim.seed = m_options.simSeed;
        sim.virtualClock = false;
        sim.sampleFiles = 3;
        m_simulator = std::make_shared<CSimReceiver>(sim);
        RegisterInProcessDevice(QString(), m_simulator);
#else
        std::fprintf(stderr, "nemola-m: this build has no receiver simulator\n");
        m_exitCode = 2;
        return false;
#endif
    }

    // Tools hide the frame while their own windows come and go; Qt's rule of ending with the last visible window
    // would end the program when one of those closes. The program ends only through the frame (see closeEvent).
    if (auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        gui->setQuitOnLastWindowClosed(false);
    }
    m_exitSignals = std::make_unique<CExitSignals>();
    connect(m_exitSignals.get(), &CExitSignals::Requested, this, &CNemolaApp::OnExitSignal);
    m_frame->show();
    // Runs once the event loop runs, after the window is on screen.
    QTimer::singleShot(0, m_frame.get(), [this] { m_frame->OnConnection(); });

    m_settings = ReadAppSettings(*m_profile);
    if (const QString problem = m_profile->Problem(); !problem.isEmpty()) {
        Prompts().Message(problem, QStringLiteral("Nemola-M"), PromptButtons::Ok, PromptIcon::Warning);
    }
    m_startTick = m_time.tick->TickMs();
    m_state.ClearFlags();
    m_exeDir = QCoreApplication::applicationDirPath();
    if (!m_exeDir.endsWith(QLatin1Char('/'))) {
        m_exeDir += QLatin1Char('/');
    }
    return true;
}

bool CNemolaApp::ChooseFromCommandLine(CONNECTION_INFO& info) const
{
    if (m_options.simulator) {
        info.receivers = {QStringLiteral("SIM:")};
    } else if (!m_options.receiver.isEmpty()) {
        info.receivers = {m_options.receiver};
    }
    return !info.receivers.isEmpty();
}

void CNemolaApp::SetStatus(const QString& text)
{
    if (m_frame) {
        m_frame->SetStatusText(0, text);
    }
}

void CNemolaApp::UpdateCommandStates()
{
    if (m_frame) {
        m_frame->UpdateCommandStates();
    }
}

void CNemolaApp::ConnectCommand()
{
    if (m_exiting || m_state.connecting || m_state.running) {
        return;
    }
    m_state.connecting = true;
    UpdateCommandStates();
    CONNECTION_INFO info;
    if (!m_chooser || !m_chooser(info) || info.receivers.isEmpty() || m_exiting) {
        SetStatus(QStringLiteral("Select receiver!"));
        m_state.connecting = false;
        UpdateCommandStates();
        return;
    }
    m_state.receiverName = info.receivers.constFirst();
    m_state.server = info.server;
    m_state.user = info.user;
    m_state.password = info.password;
    m_state.manualOnly = info.manualOnly;
    StartConnection();
}

void CNemolaApp::StartConnection()
{
    if (m_exiting) {
        m_state.connecting = false;
        return;
    }
    // Only a serial port makes the user wait through attempts worth cancelling.
    if (CMainView* view = View(); view && IsSerialReceiverName(m_state.receiverName)) {
        view->SetStopVisible(true);
    }
    m_connector->SetTarget(m_settings.targetLat, m_settings.targetLon);
    m_pendingLoss.reset();
    m_connector->Start();
    UpdateCommandStates();
}

void CNemolaApp::Restart()
{
    m_state.running = false;
    m_state.connecting = true;
    StartConnection();
}

void CNemolaApp::OnConnectFinished(bool ok)
{
    // A failed or manual-only connect ends its thread right after reporting.
    if (!ok || m_state.manualOnly) {
        m_connector->CollectEndedThread(true);
    }
    if (CMainView* view = View(); view && !ok) {
        view->SetStopVisible(false);
    }
    UpdateCommandStates();
    emit ConnectFinished(ok);
    if (m_pendingLoss) {
        const PendingLoss loss = *m_pendingLoss;
        m_pendingLoss.reset();
        if (ok && loss.generation == m_connector->Generation() && loss.session == m_connector->Session()) {
            OnLinkLost(loss.why, loss.generation);
        }
    }
}

void CNemolaApp::Disconnect()
{
    if (!m_state.running || !m_state.connection) {
        return;
    }
    m_state.running = false;
    m_state.connecting = true;
    m_disconnecting = true;
    m_connector->Stop();
    m_disconnecting = false;
    m_pendingLoss.reset();
    if (CMainView* view = View()) {
        view->ResetStatus();
    }
    SetStatus(QStringLiteral("Disconnected"));
    if (m_frame) {
        m_frame->SetIdleTitle();
        m_frame->SetStatusText(2, QString());
    }
    m_state.connecting = false;
    if (CMainView* view = View()) {
        view->ClearEvents();
    }
    UpdateCommandStates();
}

void CNemolaApp::DisconnectCommand()
{
    Disconnect();
    if (!m_connector->IsBusy()) {
        m_state.connection.reset();
    }
    UpdateCommandStates();
}

void CNemolaApp::DropConnectionNow()
{
    if (!m_connector->CollectEndedThread(true)) {
        return;
    }
    CReceiverHolder::Shared().CloseReceiver();
    m_state.connection.reset();
}

void CNemolaApp::OnDropConnection(int generation)
{
    // Only a connect that failed asks for this; its thread ends right after.
    if (generation != m_connector->Generation() || !m_state.connection || m_state.running) {
        return;
    }
    DropConnectionNow();
    UpdateCommandStates();
}

void CNemolaApp::OnLinkLost(const QString& why, int generation)
{
    // A late report about a connection already dropped or replaced changes nothing.
    if (m_exiting || generation != m_connector->Generation() || !m_state.connection) {
        return;
    }
    m_state.lastError = why;
    SetStatus(why);
    // A tool holds the receiver and finds out by itself; the connection it works on must stay.
    if (ToolActive()) {
        return;
    }
    // A disconnect under way ends this connection anyway. A connect under way ends by itself; if it still got
    // through, the loss is handled then. Either way the loss is this connection's, never the next one's.
    if (m_state.connecting) {
        if (!m_disconnecting) {
            m_pendingLoss = PendingLoss{why, generation, m_connector->Session()};
        }
        return;
    }
    Disconnect();
    QCoreApplication::processEvents();
    DropConnectionNow();
    SetStatus(why);
    UpdateCommandStates();
}

void CNemolaApp::ShowAbout()
{
    CAboutDialog dialog(m_state.running ? &CReceiverHolder::Shared() : nullptr, m_frame.get());
    dialog.exec();
}

void CNemolaApp::OnFrameClosing()
{
    m_state.cancelTrying = true;
    if (m_state.running) {
        DisconnectCommand();
    }
    WriteSettings();
}

void CNemolaApp::WriteSettings()
{
    WriteAppSettings(*m_profile, m_settings);
}

void CNemolaApp::OnExitSignal()
{
    // Whatever happens next, nothing set in this run is lost.
    WriteSettings();
    if (m_exitTimer) {
        std::fprintf(stderr, "nemola-m: second signal, ending at once\n");
        std::_Exit(1);
    }
    m_exitWatchdog = std::jthread([limit = m_signalExitMs](std::stop_token stop) {
        std::mutex mutex;
        std::condition_variable_any wake;
        std::unique_lock lock(mutex);
        wake.wait_for(lock, stop, std::chrono::milliseconds(limit), [] { return false; });
        if (!stop.stop_requested()) {
            std::fprintf(stderr, "nemola-m: did not end in time after a signal; ending at once\n");
            std::_Exit(1);
        }
    });
    m_state.cancelTrying = true;
    m_exitTimer = new QTimer(this);
    m_exitTimer->setInterval(20);
    connect(m_exitTimer, &QTimer::timeout, this, &CNemolaApp::ExitStep);
    m_exitTimer->start();
    ExitStep();
}

void CNemolaApp::ExitStep()
{
    if (QWidget* popup = QApplication::activePopupWidget()) {
        popup->close();
        return;
    }
    // A window that stays open (a script that ends at its next statement) is asked again at the next step.
    if (QWidget* modal = QApplication::activeModalWidget()) {
        if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            dialog->reject();
        } else {
            modal->close();
        }
        return;
    }
    m_exitTimer->stop();
    m_frame->close();
}
