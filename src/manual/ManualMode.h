#pragma once

#include "manual/ManualSettings.h"
#include "manual/TerminalOutput.h"

#include <QDialog>
#include <QFile>

#include <functional>
#include <memory>

class CConnection;
class CRawOutputGate;
class CReceiver;
class CReceiverHolder;
class IPrompts;
class ITickSource;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

// What the manual-mode terminal is started with.
struct ManualModeContext
{
    CConnection* connection = nullptr;
    QString receiverName;
    bool manualOnly = false;
    CReceiverHolder* holder = nullptr;  // null: the program's shared holder
    QString defaultFolder;              // scripts and logs until the user chose a folder; empty: the user's documents
    IPrompts* prompts = nullptr;        // null: the installed prompts
    ITickSource* tick = nullptr;        // null: the system's tick count
    std::function<void(int ms)> wait;   // the pause of "@sleep" steps; null: the thread sleeps
};

// Runs the manual-mode terminal modally. Returns true when the user left with "Discon" (the receiver is then
// closed and the connection must stay down); false after "Exit", with the receiver still open.
bool RunManualMode(const ManualModeContext& context, QWidget* parent = nullptr);

// The manual-mode terminal: a command line with history, the receiver's replies and raw output, a log file, script
// runs and a script editor in the same window.
class CManualMode : public QDialog
{
    Q_OBJECT

public:
    // The command line's width in characters, whatever the history holds.
    static constexpr int kCommandLineChars = 16;

    // Opens the shared receiver at once; when that fails only "Exit" is usable and the status line says why.
    explicit CManualMode(const ManualModeContext& context, QWidget* parent = nullptr);
    ~CManualMode() override;

    bool DisconnectChosen() const { return m_disconnectChosen; }
    bool ReceiverOpened() const { return m_opened; }
    bool ScriptRunning() const { return m_scriptRunning; }
    bool EditorOpen() const { return m_editorOpen; }
    bool EditorModified() const { return m_modified; }
    const CTerminalOutput& Output() const { return m_output; }
    const ManualSettings& Settings() const { return m_settings; }
    QStringList History() const;
    CRawOutputGate& RawOutput() { return *m_gate; }

    void reject() override;

private:
    class Host;

    void Start();
    void SendCommandLine();
    void StopMessages();
    void ClearWindow();
    void ToggleLog();
    void ExitOrCloseEditor();
    void Exit();
    void Disconnect();
    void EditOrSaveScript();
    void OpenEditor();
    void SaveEditor();
    void CloseEditor();
    void LoadOrStopScript();
    void LoadScript();
    void SetHorizontalScroll(bool on);

    void RunTopLevelScript(const QString& invocation);
    void ArmRawOutput();
    void ShowRawOutput(const QByteArray& bytes, const QString& display);
    void Show(const CTerminalOutput::Change& change);
    void ScrollToEnd();
    void SetControlsEnabled(bool enabled);
    void ShowHistory();
    void CloseLog();
    void WriteSettings();
    // Asks for a script file; empty when cancelled.
    QString ChooseScript();
    IPrompts& Prompts() const;

    ManualModeContext m_context;
    CReceiverHolder* m_holder;
    std::shared_ptr<CReceiver> m_receiver;
    std::shared_ptr<CRawOutputGate> m_gate;
    std::unique_ptr<Host> m_host;

    QComboBox* m_commandLine;
    QPlainTextEdit* m_window;
    QLabel* m_status;
    QLineEdit* m_scriptPath;
    QCheckBox* m_horizontalScroll;
    QPushButton* m_send;
    QPushButton* m_stopMsg;
    QPushButton* m_clear;
    QPushButton* m_log;
    QPushButton* m_exit;
    QPushButton* m_discon;
    QPushButton* m_edit;
    QPushButton* m_script;

    CTerminalOutput m_output;
    CCommandHistory m_history;
    ManualSettings m_settings;
    QFile m_logFile;
    QString m_editedPath;

    bool m_opened = false;
    bool m_settingsRead = false;
    bool m_stopRequest = false;
    bool m_scriptRunning = false;
    bool m_exitAfterScript = false;
    bool m_editorOpen = false;
    bool m_loadingEditor = false;
    bool m_modified = false;
    bool m_disconnectChosen = false;
    bool m_ended = false;
};
