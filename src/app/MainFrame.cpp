#include "app/MainFrame.h"

#include "app/CommandIds.h"
#include "app/ConnectionState.h"
#include "app/FrameTitle.h"
#include "app/LegendDialog.h"
#include "app/MainView.h"
#include "app/MessageDlg.h"
#include "app/NemolaApp.h"
#include "config/ReceiverCfgDlg.h"
#include "link/Profile.h"
#include "link/ReceiverHolder.h"
#include "manual/ManualSettings.h"
#include "manual/SetupCompareDlg.h"
#include "ui/ElidedLabel.h"
#include "ui/SteadyLabel.h"
#include "ui/TimeServices.h"
#include "ui/WindowFit.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTimer>

CMainFrame::CMainFrame(CNemolaApp& app, QWidget* parent) : QMainWindow(parent), m_app(app)
{
    setObjectName(QStringLiteral("mainFrame"));
    SetIdleTitle();
    BuildMenu();
    AddLegendEntry();
    BuildStatusBar();

    m_view = new CMainView(this);
    setCentralWidget(m_view);

    // The handheld's whole screen; a desktop gets the same portrait shape to start with.
    FitToScreen(this, QSize(480, 640));

    m_timer = new QTimer(this);
    m_timer->setObjectName(QStringLiteral("statusTimer"));
    // While epochs come at least once a second they do the timer's work (OnEpochShown) and hold the timer off: a
    // wake-up of its own, with the caches gone cold, costs about as much as an epoch's whole work. Precise, so
    // that it never fires early and finds the last epoch less than a second old.
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, [this] {
        if (!m_lastEpochTick || m_app.Time().tick->TickMs() - *m_lastEpochTick >= kStatusTimerMs) {
            UpdateClockPanes();
        }
        UpdateCommandStates();
    });
    m_timer->start(kStatusTimerMs);
    UpdateClockPanes();
    UpdateCommandStates();
}

void CMainFrame::BuildMenu()
{
    QMenu* top = menuBar()->addMenu(QStringLiteral("Menu"));
    top->setObjectName(QStringLiteral("menuMenu"));
    connect(top, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandStates);
    QMenu* popup = nullptr;
    QString popupName;
    for (const MenuEntry& entry : MenuEntries()) {
        if (!popup || popupName != QLatin1String(entry.popup)) {
            popupName = QLatin1String(entry.popup);
            popup = top->addMenu(popupName);
            popup->setObjectName(QStringLiteral("menu") + QString(popupName).remove(QLatin1Char(' ')));
            connect(popup, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandStates);
        }
        QAction* action = popup->addAction(QLatin1String(entry.caption));
        action->setObjectName(QLatin1String(entry.objectName));
        action->setData(entry.id);
        if (entry.key) {
            action->setShortcut(QKeySequence(QStringLiteral("Ctrl+") + QLatin1Char(entry.key)));
            // Accelerators work wherever the focus is in the frame.
            action->setShortcutContext(Qt::WindowShortcut);
            addAction(action);
        }
        const int id = entry.id;
        connect(action, &QAction::triggered, this, [this, id] { Dispatch(id); });
        m_actions[id] = action;
    }
}

void CMainFrame::AddLegendEntry()
{
    // An addition to the menu's own entries, so it has no command id.
    if (auto* help = findChild<QMenu*>(QStringLiteral("menuHelp"))) {
        QAction* legend = help->addAction(QStringLiteral("Status Legend"));
        legend->setObjectName(QStringLiteral("actionLegend"));
        connect(legend, &QAction::triggered, this, [this] {
            auto* dialog = new CLegendDialog(this);
            dialog->setAttribute(Qt::WA_DeleteOnClose);
            dialog->show();
        });
    }
}

void CMainFrame::BuildStatusBar()
{
    m_clockPanes = {new CTickingLabel(this), new CTickingLabel(this)};
    for (int i = 0; i < 3; ++i) {
        m_panes[i] = i == 0 ? new CElidedLabel(this) : static_cast<QLabel*>(m_clockPanes[size_t(i - 1)]);
        m_panes[i]->setObjectName(QStringLiteral("statusPane%1").arg(i));
        // Pane 0 takes what the clock panes leave.
        statusBar()->addWidget(m_panes[i], i == 0 ? 1 : 0);
    }
    m_panes[0]->setText(QStringLiteral("Disconnected"));
}

void CMainFrame::Dispatch(int commandId)
{
    // Keyboard accelerators reach here without a popup having refreshed the states.
    UpdateCommandStates();
    if (QAction* action = Action(commandId); action && !action->isEnabled()) {
        return;
    }
    switch (commandId) {
        case cmd::kConnection:
            return OnConnection();
        case cmd::kDisconnect:
            return OnDisconnect();
        case cmd::kFileManager:
            return OnFileManager();
        case cmd::kRealTimeLogging:
            return OnRealTimeLogging();
        case cmd::kManualMode:
            return OnManualMode();
        case cmd::kExit:
            return OnExit();
        case cmd::kReceiverConfig:
            return OnReceiverConfig();
        case cmd::kCompareSetup:
            return OnCompareSetup();
        case cmd::kSite:
            return OnSite();
        case cmd::kSetTargetPosition:
            return OnSetTargetPosition();
        case cmd::kSetSatelliteTime:
            return OnSetSatelliteTime();
        case cmd::kInitFileSystem:
            return OnInitFileSystem();
        case cmd::kClearNvram:
            return OnClearNvram();
        case cmd::kResetReceiver:
            return OnResetReceiver();
        case cmd::kMessage:
            return OnMessage();
        case cmd::kFirmwareLoader:
            return OnFirmwareLoader();
        case cmd::kScatterPlot:
            return OnScatterPlot();
        case cmd::kSatellitesPlot:
            return OnSatellitesPlot();
        case cmd::kPositionPlot:
            return OnPositionPlot();
        case cmd::kAbout:
            return OnAbout();
        default:
            return;
    }
}

QAction* CMainFrame::Action(int commandId) const
{
    const auto it = m_actions.find(commandId);
    return it == m_actions.end() ? nullptr : it->second;
}

MenuContext CMainFrame::Context() const
{
    const ConnectionState& state = m_app.State();
    MenuContext context;
    context.connecting = state.connecting;
    context.running = state.running;
    context.localServerConnection = state.IsLocalServerConnection();
    context.newMessage = m_newMessage;
    return context;
}

void CMainFrame::UpdateCommandStates()
{
    m_statesTick = m_app.Time().tick->TickMs();
    const MenuContext context = Context();
    for (const MenuEntry& entry : MenuEntries()) {
        if (QAction* action = Action(entry.id)) {
            action->setEnabled(IsEntryEnabled(entry.rule, context));
        }
    }
}

void CMainFrame::SetStatusText(int pane, const QString& text)
{
    if (pane >= 0 && pane < 3) {
        m_panes[pane]->setText(text);
    }
}

QString CMainFrame::StatusText(int pane) const
{
    return pane >= 0 && pane < 3 ? m_panes[pane]->text() : QString();
}

void CMainFrame::SetIdleTitle()
{
    setWindowTitle(IdleFrameTitle());
}

void CMainFrame::SetNewMessage(bool on)
{
    m_newMessage = on;
    UpdateCommandStates();
}

void CMainFrame::UpdateClockPanes()
{
    const ConnectionState& state = m_app.State();
    const TimeServices time = m_app.Time();
    if (!state.running) {
        m_lastSeconds = -1;
        m_lastEpochTick.reset();
    } else if (const int64_t seconds = (time.tick->TickMs() - state.connectTick) / 1000; seconds != m_lastSeconds) {
        // Within the same second the panes keep their texts (epochs call this many times a second).
        m_lastSeconds = seconds;
        m_clockPanes[1]->SetText(ConnectedTimeText(seconds));
    }
    // The controller's clock runs whether or not a receiver is connected. Local seconds change with UTC's: every
    // time zone is a whole number of seconds away.
    if (const int64_t wallSeconds = time.wallClock->UtcMs() / 1000; wallSeconds != m_lastWallSeconds) {
        m_lastWallSeconds = wallSeconds;
        m_clockPanes[0]->SetText(time.wallClock->LocalNow().toString(QStringLiteral("HH:mm:ss")));
    }
}

void CMainFrame::OnEpochShown()
{
    const int64_t now = m_app.Time().tick->TickMs();
    m_lastEpochTick = now;
    UpdateClockPanes();
    if (now - m_statesTick >= kStatusTimerMs) {
        UpdateCommandStates();
    }
    m_timer->start(kStatusTimerMs);
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    if (m_closeCount++ == 0) {
        m_app.OnFrameClosing();
    }
    event->accept();
    // The program ends here and through Exit only: the last window closing does not end it.
    QCoreApplication::quit();
}

void CMainFrame::OnConnection()
{
    m_app.ConnectCommand();
}

void CMainFrame::OnDisconnect()
{
    m_app.DisconnectCommand();
}

void CMainFrame::OnExit()
{
    close();
}

void CMainFrame::OnManualMode()
{
    m_app.ManualModeCommand();
}

void CMainFrame::OnSetSatelliteTime()
{
    m_app.SetSatelliteTimeCommand();
}

void CMainFrame::OnClearNvram()
{
    m_app.RestartReceiverCommand(CNemolaApp::kClearNvram);
}

void CMainFrame::OnResetReceiver()
{
    m_app.RestartReceiverCommand(CNemolaApp::kResetReceiver);
}

void CMainFrame::OnReceiverConfig()
{
    m_app.RunDialogCommand([this](QWidget* parent) {
        ConfigSheetContext context;
        context.connection = m_app.State().connection.get();
        context.receiverName = m_app.State().receiverName;
        context.model = m_app.State().model;
        context.firmwareVersion = m_app.State().firmwareMajor * 1000 + m_app.State().firmwareMinor;
        RunReceiverConfig(context, parent);
    });
}

void CMainFrame::OnCompareSetup()
{
    m_app.RunDialogCommand([this](QWidget* parent) {
        SetupCompareContext context;
        context.connection = m_app.State().connection.get();
        context.receiverName = m_app.State().receiverName;
        context.holder = &CReceiverHolder::Shared();
        // Setups are scripts: the chooser starts where the terminal keeps them.
        CProfile* profile = CProfile::Instance();
        context.scriptFolder = ManualSettings::Read(*profile, m_app.ExeDir()).pathScript;
        CProfile::Release();
        RunSetupCompare(context, parent);
    });
}

void CMainFrame::OnAbout()
{
    m_app.ShowAbout();
}

// Tools that arrive with later parts of the program.
void CMainFrame::OnFirmwareLoader() {}
void CMainFrame::OnScatterPlot() {}
void CMainFrame::OnPositionPlot() {}

void CMainFrame::OnMessage()
{
    if (m_messageDlg) {
        m_messageDlg->GetList();
        m_messageDlg->SetStatus(QStringLiteral("You have new message!!!"));
        m_messageDlg->raise();
        SetNewMessage(false);
        return;
    }
    const ConnectionState& state = m_app.State();
    if (!state.connection || state.IsLocalServerConnection()) {
        SetStatusText(0, QStringLiteral("Use with remote server"));
        return;
    }
    m_messageDlg = new CMessageDlg([&app = m_app]() { return app.State().connection.get(); }, this);
    m_messageDlg->show();
    m_messageDlg->Open();
    // The list now shows what is new.
    SetNewMessage(false);
}

void CMainFrame::OnTransferNotice(const QString& notice)
{
    if (m_messageDlg) {
        m_messageDlg->OnServerNotice(notice);
    }
}
