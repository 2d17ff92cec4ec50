#pragma once

#include "app/AppSettings.h"
#include "app/CommandLine.h"
#include "app/ConnectionState.h"
#include "ui/Prompts.h"
#include "ui/TimeServices.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

class CConnection;
class CExitSignals;
class CConnector;
class CMainFrame;
class CMainView;
class CProfile;
class CReceiverHolder;
class IInProcessDevice;
class IWaiter;
class QTimer;
class QWidget;
struct CONNECTION_INFO;
struct ManualModeContext;

// The application object: the settings store, the main frame, the shared receiver and the connection state, for
// the whole run. Not a QApplication: main() makes that and hands the command line to Start().
class CNemolaApp : public QObject
{
    Q_OBJECT

public:
    // Chooses the receiver for the "Connection" command; false when the user picked none. By default the receiver
    // named on the command line, else the connection dialog.
    using ReceiverChooser = std::function<bool(CONNECTION_INFO& info)>;
    // Runs the manual-mode terminal; true when the user left with "Discon".
    using ManualModeRunner = std::function<bool(const ManualModeContext& context, QWidget* parent)>;

    // Clear NVRAM and Reset Receiver.
    struct RestartSteps
    {
        QString question;
        QString title;
        QString command;
        int retries;
        QString successText;
    };
    static const RestartSteps kClearNvram;
    static const RestartSteps kResetReceiver;
    static constexpr int kRestartFirstWaitMs = 7999;
    static constexpr int kRestartRetryWaitMs = 899;
    static constexpr unsigned kRestartTimeout = 150;

    explicit CNemolaApp(TimeServices time = TimeServices::System(), QObject* parent = nullptr);
    // Exit: waits for a connect under way, closes the receiver and releases the settings store.
    ~CNemolaApp() override;
    CNemolaApp(const CNemolaApp&) = delete;
    CNemolaApp& operator=(const CNemolaApp&) = delete;

    // Start-up. `arguments` as QCoreApplication::arguments() gives them. Returns false when the program is to end
    // at once: a bad command line (the main window is then not shown) or a help request; ExitCode() says which.
    bool Start(const QStringList& arguments);
    int ExitCode() const { return m_exitCode; }

    CMainFrame* MainFrame() const { return m_frame.get(); }
    ConnectionState& State() { return m_state; }
    const ConnectionState& State() const { return m_state; }
    AppSettings& Settings() { return m_settings; }
    CReceiverHolder& Receiver() const;
    TimeServices Time() const { return m_time; }
    int64_t StartTick() const { return m_startTick; }
    // The running program's folder, with a trailing separator.
    QString ExeDir() const { return m_exeDir; }
    CConnector& Connector() const { return *m_connector; }
    CMainView* View() const;

    void SetReceiverChooser(ReceiverChooser chooser) { m_chooser = std::move(chooser); }
    void SetManualModeRunner(ManualModeRunner runner) { m_manualRunner = std::move(runner); }
    // The pauses of the reset and NVRAM commands (the caller keeps ownership; null restores the real one).
    void SetWaiter(IWaiter* waiter);
    // A tool holds the receiver (the dialog commands, manual mode, reset): the live view is stopped.
    bool ToolActive() const { return m_toolDepth > 0; }

    // Commands.
    void ConnectCommand();
    // Starts the connection thread on the chosen receiver (`connecting` set by the caller).
    void StartConnection();
    // Stops the connection thread and resets the displays; the connection object stays for a quick restart.
    void Disconnect();
    // The "Disconnect" menu command: Disconnect, then drop the connection object.
    void DisconnectCommand();
    void ShowAbout();
    // Runs a tool dialog that needs the receiver to itself: stops the live view and the receiver's output, hides
    // the frame while `dialog` runs, then starts the live view again (or closes the receiver after a manual-only
    // connect). The tool dialogs of the menu go through here.
    void RunDialogCommand(const std::function<void(QWidget* parent)>& dialog);
    void ManualModeCommand();
    void SetSatelliteTimeCommand();
    // Clear NVRAM or Reset Receiver: sends the command, waits for the receiver to come back, reports.
    void RestartReceiverCommand(const RestartSteps& steps);
    // The main frame's first close request.
    void OnFrameClosing();
    // Writes the settings now (Site and Target take effect in the file when their dialog's OK is pressed).
    void WriteSettings();
    // SIGTERM or SIGINT: the program ends as Exit ends it. Open tool windows are closed as their own close box
    // closes them (a recording, script or download ends as its Stop or Exit ends it), then the frame; past the
    // limit (1.8 s), or at a second signal, the process ends at once (exit status 1), the settings written first.
    void OnExitSignal();
    // Tests that end the application object themselves give the orderly way more time on a busy machine.
    void SetSignalExitLimit(int ms) { m_signalExitMs = ms; }

signals:
    void ConnectFinished(bool ok);

private:
    bool ChooseFromCommandLine(CONNECTION_INFO& info) const;
    void OnLinkLost(const QString& why, int generation);
    void OnDropConnection(int generation);
    void OnConnectFinished(bool ok);
    void DropConnectionNow();
    void SetStatus(const QString& text);
    void UpdateCommandStates();
    // Starts the live view again after a tool: clears `running`, sets `connecting`, Start.
    void Restart();
    // After an accepted reset or NVRAM clear: waits for the receiver to come back and says how it went.
    QString WaitForRestart(const RestartSteps& steps, CConnection& connection, PromptIcon* icon);
    // "%%dm" on the shared receiver when it is open.
    void StopReceiverOutput();
    // One step of a signalled exit: closes the top modal window, or the frame once none is left.
    void ExitStep();

    TimeServices m_time;
    CProfile* m_profile = nullptr;
    AppOptions m_options;
    AppSettings m_settings;
    ConnectionState m_state;
    std::unique_ptr<CConnector> m_connector;
    std::unique_ptr<CMainFrame> m_frame;
    std::shared_ptr<IInProcessDevice> m_simulator;
    ReceiverChooser m_chooser;
    ManualModeRunner m_manualRunner;
    IWaiter* m_waiter = nullptr;
    int m_toolDepth = 0;
    // A link loss reported while a connect was under way, with the connection and the run it happened on.
    struct PendingLoss
    {
        QString why;
        int generation = 0;
        int session = 0;
    };
    std::optional<PendingLoss> m_pendingLoss;
    bool m_disconnecting = false;
    int64_t m_startTick = 0;
    QString m_exeDir;
    int m_exitCode = 0;
    bool m_exiting = false;
    bool m_simulatorChosen = false;
    std::unique_ptr<CExitSignals> m_exitSignals;
    QTimer* m_exitTimer = nullptr;
    int m_signalExitMs = 1800;
    // Ends the process if a signalled exit has not ended it in time; stopped when the application object goes.
    std::jthread m_exitWatchdog;
};
