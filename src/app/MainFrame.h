#pragma once

#include "app/MenuTable.h"

#include <QMainWindow>
#include <QPointer>

#include <array>
#include <cstdint>
#include <map>
#include <optional>

class CMainView;
class CMessageDlg;
class CNemolaApp;
class CTickingLabel;
class QLabel;
class QMenu;
class QTimer;

// The main window: the "Menu" menu with its accelerators, the live view, a three-pane status bar (0: status text,
// 1: controller clock, 2: time since connecting) and the title. Commands run in its handler slots; those that
// later tools implement do nothing yet.
class CMainFrame : public QMainWindow
{
    Q_OBJECT

public:
    static constexpr int kStatusTimerMs = 1000;

    explicit CMainFrame(CNemolaApp& app, QWidget* parent = nullptr);

    QAction* Action(int commandId) const;
    CMainView* View() const { return m_view; }
    // Recomputes every entry's enabled state from the application's connection state.
    void UpdateCommandStates();

    void SetStatusText(int pane, const QString& text);
    QString StatusText(int pane) const;
    void SetIdleTitle();

    bool NewMessage() const { return m_newMessage; }
    void SetNewMessage(bool on);

    // One tick of the status-bar timer: the clock and the time since connecting while running.
    void UpdateClockPanes();
    // An epoch was put on the view: the clock panes and the menu entries' states change along with it, and the
    // status timer waits for epochs to stop.
    void OnEpochShown();

public slots:
    void OnConnection();
    void OnDisconnect();
    void OnFileManager();
    void OnRealTimeLogging();
    void OnManualMode();
    void OnExit();
    void OnReceiverConfig();
    void OnCompareSetup();
    void OnSite();
    void OnSetTargetPosition();
    void OnSetSatelliteTime();
    void OnInitFileSystem();
    void OnClearNvram();
    void OnResetReceiver();
    void OnMessage();
    // A transfer notice of the server for the "Message" window.
    void OnTransferNotice(const QString& notice);
    void OnFirmwareLoader();
    void OnScatterPlot();
    void OnSatellitesPlot();
    void OnPositionPlot();
    void OnAbout();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildMenu();
    void AddLegendEntry();
    void BuildStatusBar();
    void Dispatch(int commandId);
    MenuContext Context() const;

    CNemolaApp& m_app;
    CMainView* m_view = nullptr;
    std::map<int, QAction*> m_actions;
    QLabel* m_panes[3] = {};
    std::array<CTickingLabel*, 2> m_clockPanes{};  // panes 1 and 2: controller clock, time since connecting
    QTimer* m_timer = nullptr;
    int64_t m_lastSeconds = -1;
    int64_t m_lastWallSeconds = -1;
    std::optional<int64_t> m_lastEpochTick;
    int64_t m_statesTick = 0;  // when the menu entries' states were last brought up to date
    bool m_newMessage = false;
    QPointer<CMessageDlg> m_messageDlg;
    int m_closeCount = 0;
};
