#include "app/NemolaApp.h"

#include "app/AboutDialog.h"
#include "app/CommandIds.h"
#include "app/Connector.h"
#include "app/MainFrame.h"
#include "link/Connection.h"
#include "link/ConnectionInfo.h"
#include "link/InProcessDevice.h"
#include "link/Profile.h"
#include "link/ReceiverHolder.h"

#ifdef NEMOLA_HAVE_SIM
#include "sim/Simulator.h"
#endif

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QTimer>

#include <cstdio>

Q_DECLARE_LOGGING_CATEGORY(lcApp)

CNemolaApp::CNemolaApp(TimeServices time, QObject* parent)
    : QObject(parent),
      m_time(time),
      m_profile(CProfile::Instance()),
      m_connector(std::make_unique<CConnector>(m_state, CReceiverHolder::Shared(), *m_time.tick))
{
    m_chooser = [this](CONNECTION_INFO& info) { return ChooseFromCommandLine(info); };
    connect(m_connector.get(), &CConnector::StatusText, this, &CNemolaApp::SetStatus);
    connect(m_connector.get(), &CConnector::LinkLost, this, &CNemolaApp::OnLinkLost);
    connect(m_connector.get(), &CConnector::Finished, this, [this](bool ok) {
        if (m_frame) {
            m_frame->UpdateCommandStates();
        }
        emit ConnectFinished(ok);
    });
    connect(m_connector.get(), &CConnector::TitleChanged, this, [this](const QString& title) {
        if (m_frame) {
            m_frame->setWindowTitle(title);
        }
    });
    connect(m_connector.get(), &CConnector::NewUserMessage, this, [this] {
        if (m_frame) {
            m_frame->SetNewMessage(true);
            m_frame->OnMessage();
        }
    });
    connect(m_connector.get(), &CConnector::ManualModeRequested, this, [this] {
        if (m_frame) {
            m_frame->OnManualMode();
        }
    });
}

CNemolaApp::~CNemolaApp()
{
    // A connect under way uses the connection and the receiver: let it end first, and start no other.
    m_exiting = true;
    m_state.cancelTrying = true;
    m_connector->WaitFinished();
    m_state.running = false;
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

bool CNemolaApp::Start(const QStringList& arguments)
{
    m_frame = std::make_unique<CMainFrame>(*this);

    m_options = ParseCommandLine(arguments);
    if (m_options.help) {
        std::fputs(qPrintable(m_options.helpText), stdout);
        m_exitCode = 0;
        return false;
    }
    if (!m_options.error.isEmpty()) {
        std::fprintf(stderr, "nemola-m: %s\n", qPrintable(m_options.error));
        m_exitCode = 2;
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
        m_simulator = std::make_shared<CSimReceiver>(sim);
        RegisterInProcessDevice(QString(), m_simulator);
#else
        std::fprintf(stderr, "nemola-m: this build has no receiver simulator\n");
        m_exitCode = 2;
        return false;
#endif
    }

    m_frame->show();
    // Runs once the event loop runs, after the window is on screen.
    QTimer::singleShot(0, m_frame.get(), [this] { m_frame->OnConnection(); });

    m_settings = ReadAppSettings(*m_profile);
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

void CNemolaApp::ConnectCommand()
{
    if (m_exiting || m_state.connecting || m_state.running) {
        return;
    }
    m_state.connecting = true;
    CONNECTION_INFO info;
    if (!m_chooser || !m_chooser(info) || info.receivers.isEmpty()) {
        SetStatus(QStringLiteral("Select receiver!"));
        m_state.connecting = false;
        if (m_frame) {
            m_frame->UpdateCommandStates();
        }
        return;
    }
    m_state.receiverName = info.receivers.constFirst();
    m_state.server = info.server;
    m_state.user = info.user;
    m_state.password = info.password;
    m_state.manualOnly = info.manualOnly;
    if (m_frame) {
        m_frame->UpdateCommandStates();
    }
    m_connector->Start();
}

void CNemolaApp::Disconnect()
{
    if (!m_state.running || !m_state.connection) {
        return;
    }
    m_connector->Stop();
    if (m_frame) {
        m_frame->SetStatusText(0, QStringLiteral("Disconnected"));
        m_frame->SetIdleTitle();
        m_frame->SetStatusText(2, QString());
        m_frame->UpdateCommandStates();
    }
}

void CNemolaApp::DisconnectCommand()
{
    Disconnect();
    if (!m_connector->IsBusy()) {
        m_state.connection.reset();
    }
    if (m_frame) {
        m_frame->UpdateCommandStates();
    }
}

void CNemolaApp::OnLinkLost(const QString& why, int generation)
{
    // A late report about a connection already dropped or replaced changes nothing.
    if (generation != m_connector->Generation() || !m_state.connection) {
        return;
    }
    m_state.lastError = why;
    // A connect under way finds out by itself and drops the connection when it fails.
    if (m_connector->IsBusy()) {
        return;
    }
    Disconnect();
    CReceiverHolder::Shared().CloseReceiver();
    m_state.connection.reset();
    SetStatus(why);
    if (m_frame) {
        m_frame->UpdateCommandStates();
    }
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
    WriteAppSettings(*m_profile, m_settings);
}
