#pragma once

#include "app/AppSettings.h"
#include "app/CommandLine.h"
#include "app/ConnectionState.h"
#include "ui/TimeServices.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

class CConnector;
class CMainFrame;
class CProfile;
class CReceiverHolder;
class IInProcessDevice;
struct CONNECTION_INFO;

// The application object: the settings store, the main frame, the shared receiver and the connection state, for
// the whole run. Not a QApplication: main() makes that and hands the command line to Start().
class CNemolaApp : public QObject
{
    Q_OBJECT

public:
    // Chooses the receiver for the "Connection" command; false when the user picked none. Stands in for the
    // connection dialog until there is one.
    using ReceiverChooser = std::function<bool(CONNECTION_INFO& info)>;

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

    void SetReceiverChooser(ReceiverChooser chooser) { m_chooser = std::move(chooser); }

    // Commands.
    void ConnectCommand();
    // Stops the connection and resets the displays; the connection object stays for a quick restart.
    void Disconnect();
    // The "Disconnect" menu command: Disconnect, then drop the connection object.
    void DisconnectCommand();
    void ShowAbout();
    // The main frame's first close request.
    void OnFrameClosing();

signals:
    void ConnectFinished(bool ok);

private:
    bool ChooseFromCommandLine(CONNECTION_INFO& info) const;
    void OnLinkLost(const QString& why, int generation);
    void SetStatus(const QString& text);

    TimeServices m_time;
    CProfile* m_profile = nullptr;
    AppOptions m_options;
    AppSettings m_settings;
    ConnectionState m_state;
    std::unique_ptr<CConnector> m_connector;
    std::unique_ptr<CMainFrame> m_frame;
    std::shared_ptr<IInProcessDevice> m_simulator;
    ReceiverChooser m_chooser;
    int64_t m_startTick = 0;
    QString m_exeDir;
    int m_exitCode = 0;
    bool m_exiting = false;
};
