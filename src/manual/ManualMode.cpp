#include "manual/ManualMode.h"

#include "files/FileCore.h"
#include "link/Connection.h"
#include "link/Profile.h"
#include "link/Receiver.h"
#include "link/ReceiverHolder.h"
#include "manual/LinkFailure.h"
#include "manual/RawOutputGate.h"
#include "manual/ScriptHost.h"
#include "manual/ScriptInterpreter.h"
#include "manual/ScriptText.h"
#include "ui/ElidedLabel.h"
#include "ui/Prompts.h"
#include "ui/TimeServices.h"
#include "ui/WindowFit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCompleter>
#include <QCoreApplication>
#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QThread>
#include <QVBoxLayout>

namespace {

const QString kScriptChooserTitle = QStringLiteral("Script file");

}  // namespace

// The terminal as the interpreter sees it.
class CManualMode::Host : public IScriptHost
{
public:
    explicit Host(CManualMode& terminal) : m_t(terminal) {}

    void PrintOutput(const QString& text) override { m_t.Show(m_t.m_output.AppendPrint(text)); }
    void SetStatus(const QString& text) override { m_t.m_status->setText(text); }
    void ClearOutput() override
    {
        m_t.m_output.Clear();
        m_t.m_window->clear();
    }
    void SetControlsEnabled(bool enabled) override { m_t.SetControlsEnabled(enabled); }
    void SetScriptButton(const QString& caption, bool enabled) override
    {
        m_t.m_script->setText(caption);
        m_t.m_script->setEnabled(enabled);
    }
    void ProcessPendingInput() override { QCoreApplication::processEvents(QEventLoop::AllEvents); }
    bool StopRequested() const override { return m_t.m_stopRequest; }
    void ClearStopRequest() override { m_t.m_stopRequest = false; }
    QString ScriptFolder() const override { return m_t.m_settings.pathScript; }
    bool Send(const QString& text) override { return m_t.m_holder->Send(text); }
    QString Reply() override { return m_t.m_holder->Reply(); }
    QString LinkFailure() override { return LinkFailureText(*m_t.m_holder->GetReceiver()); }
    void SetReplyTimeout(int ms) override
    {
        if (m_t.m_context.connection) {
            m_t.m_context.connection->SetTimeout(ReplyTimeoutUnits(ms));
        }
    }
    int64_t TickMs() override
    {
        return m_t.m_context.tick ? m_t.m_context.tick->TickMs() : TimeServices::System().tick->TickMs();
    }
    void Wait(int ms) override
    {
        if (m_t.m_context.wait) {
            m_t.m_context.wait(ms);
        } else {
            QThread::msleep(static_cast<unsigned long>(ms));
        }
    }

private:
    CManualMode& m_t;
};

bool RunManualMode(const ManualModeContext& context, QWidget* parent)
{
    CManualMode terminal(context, parent);
    terminal.exec();
    return terminal.DisconnectChosen();
}

CManualMode::CManualMode(const ManualModeContext& context, QWidget* parent)
    : QDialog(parent),
      m_context(context),
      m_holder(context.holder ? context.holder : &CReceiverHolder::Shared()),
      m_gate(std::make_shared<CRawOutputGate>()),
      m_host(std::make_unique<Host>(*this))
{
    setObjectName(QStringLiteral("manualMode"));
    setWindowTitle(QStringLiteral("Manual Mode"));

    m_commandLine = new QComboBox(this);
    m_commandLine->setObjectName(QStringLiteral("commandLine"));
    // These fields have no label beside them: their names are given here for screen readers.
    m_commandLine->setAccessibleName(QStringLiteral("Command"));
    m_commandLine->setEditable(true);
    m_commandLine->setInsertPolicy(QComboBox::NoInsert);  // the history has its own rules
    m_commandLine->setMaxVisibleItems(CCommandHistory::kMaxEntries);
    // A long history entry must not widen the terminal past a handheld's screen; the list pops up wide enough.
    m_commandLine->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_commandLine->setMinimumContentsLength(kCommandLineChars);
    // History entries are offered in a list the user picks from; never completed into the line unasked, where
    // Enter would send an older command than the one typed.
    m_commandLine->completer()->setCompletionMode(QCompleter::PopupCompletion);
    m_commandLine->completer()->setCaseSensitivity(Qt::CaseSensitive);

    m_window = new QPlainTextEdit(this);
    m_window->setObjectName(QStringLiteral("output"));
    m_window->setReadOnly(true);
    m_window->setUndoRedoEnabled(false);
    m_status = new CElidedLabel(this);
    m_status->setObjectName(QStringLiteral("status"));
    for (QWidget* w : {static_cast<QWidget*>(m_window), static_cast<QWidget*>(m_status)}) {
        QPalette p = w->palette();
        p.setColor(QPalette::Base, Qt::white);
        p.setColor(QPalette::Window, Qt::white);
        w->setPalette(p);
    }
    m_status->setAutoFillBackground(true);

    m_scriptPath = new QLineEdit(this);
    m_scriptPath->setObjectName(QStringLiteral("scriptPath"));
    m_scriptPath->setReadOnly(true);
    m_scriptPath->setAccessibleName(QStringLiteral("Script folder"));
    m_horizontalScroll = new QCheckBox(this);
    m_horizontalScroll->setObjectName(QStringLiteral("horizontalScroll"));
    m_horizontalScroll->setToolTip(QStringLiteral("Scroll sideways instead of wrapping lines"));
    m_horizontalScroll->setAccessibleName(QStringLiteral("Scroll sideways"));

    auto button = [this](const char* name, const QString& caption) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(QLatin1String(name));
        b->setAutoDefault(false);
        return b;
    };
    m_send = button("sendButton", QStringLiteral("Send"));
    m_send->setDefault(true);
    m_stopMsg = button("stopMsgButton", QStringLiteral("Stop MSG"));
    m_clear = button("clearButton", QStringLiteral("Clear"));
    m_log = button("logButton", QStringLiteral("Start log"));
    m_exit = button("exitButton", QStringLiteral("Exit"));
    m_discon = button("disconButton", QStringLiteral("Discon"));
    m_edit = button("editButton", QStringLiteral("Edit script"));
    m_script = button("scriptButton", QStringLiteral("Load script"));

    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(m_scriptPath, 1);
    pathRow->addWidget(m_horizontalScroll);
    auto* buttons = new QGridLayout;
    buttons->addWidget(m_send, 0, 0);
    buttons->addWidget(m_stopMsg, 0, 1);
    buttons->addWidget(m_clear, 0, 2);
    buttons->addWidget(m_log, 0, 3);
    buttons->addWidget(m_script, 1, 0);
    buttons->addWidget(m_edit, 1, 1);
    buttons->addWidget(m_exit, 1, 2);
    buttons->addWidget(m_discon, 1, 3);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_commandLine);
    layout->addWidget(m_window, 1);
    layout->addWidget(m_status);
    layout->addLayout(pathRow);
    layout->addLayout(buttons);
    FitToScreen(this, QSize(480, 600));

    connect(m_send, &QPushButton::clicked, this, &CManualMode::SendCommandLine);
    connect(m_stopMsg, &QPushButton::clicked, this, &CManualMode::StopMessages);
    connect(m_clear, &QPushButton::clicked, this, &CManualMode::ClearWindow);
    connect(m_log, &QPushButton::clicked, this, &CManualMode::ToggleLog);
    connect(m_exit, &QPushButton::clicked, this, &CManualMode::ExitOrCloseEditor);
    connect(m_discon, &QPushButton::clicked, this, &CManualMode::Disconnect);
    connect(m_edit, &QPushButton::clicked, this, &CManualMode::EditOrSaveScript);
    connect(m_script, &QPushButton::clicked, this, &CManualMode::LoadOrStopScript);
    connect(m_horizontalScroll, &QCheckBox::toggled, this, &CManualMode::SetHorizontalScroll);
    connect(m_window, &QPlainTextEdit::textChanged, this, [this] {
        if (m_editorOpen && !m_loadingEditor) {
            m_modified = true;
        }
    });

    Start();
}

CManualMode::~CManualMode()
{
    m_stopRequest = true;
    // After this no chunk of raw output is handed to the window any more.
    m_gate->SetTarget(nullptr, {});
    CloseLog();
}

void CManualMode::Start()
{
    m_gate->SetTarget(this, [this](const QByteArray& bytes, const QString& display) { ShowRawOutput(bytes, display); });
    m_stopRequest = false;
    m_status->setText(m_context.receiverName);

    m_receiver = m_holder->GetReceiver();
    m_opened = m_receiver->Open(m_context.connection, m_context.receiverName, m_context.manualOnly ? 1 : 0) != 0;
    if (!m_opened) {
        m_status->setText(m_receiver->GetReplyString());
        SetControlsEnabled(false);
        m_commandLine->setEnabled(false);
        m_exit->setEnabled(true);
        return;
    }

    const QString defaultFolder = m_context.defaultFolder.isEmpty() ? DefaultDownloadFolder() : m_context.defaultFolder;
    CProfile* profile = CProfile::Instance();
    m_settings = ManualSettings::Read(*profile, defaultFolder);
    CProfile::Release();
    // The program's own folder was once the default, stored without the user choosing it; once the program is
    // installed nothing can be saved there.
    if (QDir::cleanPath(m_settings.pathScript) == QDir::cleanPath(QCoreApplication::applicationDirPath())) {
        m_settings.pathScript = defaultFolder;
    }
    m_settingsRead = true;
    m_history.SetLimit(m_settings.commands);
    for (const QString& entry : m_settings.history) {
        m_history.Append(entry);
    }
    m_output.SetLineLimit(m_settings.replies);
    ShowHistory();
    m_scriptPath->setText(m_settings.pathScript);

    ArmRawOutput();
    m_horizontalScroll->setChecked(true);
}

QStringList CManualMode::History() const
{
    return m_history.Entries();
}

IPrompts& CManualMode::Prompts() const
{
    return m_context.prompts ? *m_context.prompts : ::Prompts();
}

void CManualMode::ArmRawOutput()
{
    if (m_receiver) {
        m_receiver->SendCommand(QString(), m_gate->Callback());
    }
}

void CManualMode::SendCommandLine()
{
    const QString text = m_commandLine->currentText().trimmed();
    if (text.isEmpty() || !m_opened) {
        return;
    }
    m_history.Add(text);
    ShowHistory();
    if (text.startsWith(QLatin1Char('@'))) {
        RunTopLevelScript(text.mid(1));
        ArmRawOutput();
        if (m_exitAfterScript) {
            Exit();
        }
        return;
    }
    // Echoed as script lines are: shown, not logged, and before anything the receiver says to it.
    Show(m_output.AppendPrint(QLatin1Char('>') + text));
    m_receiver->SendCommand(text, m_gate->Callback());
    Show(m_output.AppendReply(m_receiver->GetReplyString()));
}

void CManualMode::RunTopLevelScript(const QString& invocation)
{
    m_scriptRunning = true;
    // "@timeout" holds for the run; the connection is the whole program's.
    CConnection* connection = m_context.connection;
    const unsigned timeout = connection ? connection->GetTimeout() : 0;
    CScriptInterpreter interpreter(*m_host);
    interpreter.RunScript(invocation, 0);
    if (connection) {
        connection->SetTimeout(timeout);
    }
    m_scriptRunning = false;
}

void CManualMode::StopMessages()
{
    m_holder->Send(QStringLiteral("dm"));
    // A command without callback disarms it; text the receiver still sends should keep showing.
    ArmRawOutput();
}

void CManualMode::ClearWindow()
{
    m_output.Clear();
    m_window->clear();
    m_status->clear();
}

void CManualMode::ToggleLog()
{
    if (m_logFile.isOpen()) {
        CloseLog();
        return;
    }
    FileChooserOptions options;
    options.title = QStringLiteral("Log file");
    options.folder = ChooserFolder(m_settings.pathLog);
    options.filters = QStringList{QStringLiteral("Log files(*.log)"), QStringLiteral("All Files (*)")};
    options.defaultSuffix = QStringLiteral("log");
    options.confirmOverwrite = true;
    const FileChoice choice = Prompts().SaveFile(options);
    if (choice.Accepted()) {
        m_logFile.setFileName(choice.path);
        if (m_logFile.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            m_settings.pathLog = FolderOf(choice.path);
            m_output.SetLog(&m_logFile);
            m_log->setText(QStringLiteral("Stop log"));
            return;
        }
    }
    m_status->setText(QStringLiteral("Can't open file!"));
}

void CManualMode::CloseLog()
{
    m_output.SetLog(nullptr);
    if (m_logFile.isOpen()) {
        m_logFile.close();
    }
    m_log->setText(QStringLiteral("Start log"));
}

void CManualMode::ExitOrCloseEditor()
{
    if (m_editorOpen) {
        CloseEditor();
    } else {
        Exit();
    }
}

void CManualMode::Exit()
{
    if (m_ended) {
        return;
    }
    m_ended = true;
    m_holder->Send(QStringLiteral("dm"));
    m_stopRequest = true;
    CloseLog();
    WriteSettings();
    accept();
}

void CManualMode::Disconnect()
{
    if (m_ended) {
        return;
    }
    m_ended = true;
    m_disconnectChosen = true;
    m_stopRequest = true;
    CloseLog();
    WriteSettings();
    if (m_receiver) {
        m_receiver->Close(true);
    }
    m_holder->CloseReceiver();
    m_receiver.reset();
    accept();
}

void CManualMode::reject()
{
    // Escape or the window's close box: never leave a script running or discard an edited script unasked.
    if (m_scriptRunning) {
        m_stopRequest = true;
        m_exitAfterScript = true;
    } else if (m_editorOpen) {
        CloseEditor();
    } else {
        Exit();
    }
}

void CManualMode::WriteSettings()
{
    // A terminal whose receiver did not open never read the settings; writing would wipe the stored history.
    if (!m_settingsRead) {
        return;
    }
    m_settings.history = m_history.Entries();
    CProfile* profile = CProfile::Instance();
    m_settings.Write(*profile);
    profile->Sync();
    CProfile::Release();
}

QString CManualMode::ChooseScript()
{
    FileChooserOptions options;
    options.title = kScriptChooserTitle;
    options.folder = ChooserFolder(m_settings.pathScript);
    options.filters = QStringList{QStringLiteral("Script file(*.kvc)"), QStringLiteral("All Files (*)")};
    options.selectedFilter = 1;
    options.confirmOverwrite = false;
    return Prompts().OpenFile(options).path;
}

void CManualMode::LoadOrStopScript()
{
    if (m_scriptRunning) {
        m_stopRequest = true;
    } else {
        LoadScript();
    }
}

void CManualMode::LoadScript()
{
    const QString path = ChooseScript();
    if (path.isEmpty()) {
        return;
    }
    m_editedPath = path;
    QByteArray bytes;
    if (ReadScriptFile(path, &bytes) != ScriptFileRead::Ok) {
        m_status->setText(QStringLiteral("Can't open file!"));
        return;
    }
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    m_settings.pathScript = slash < 0 ? QString() : path.left(slash);
    const QString name = path.mid(slash + 1);
    m_scriptPath->setText(m_settings.pathScript);
    // A name with blanks would be cut into a name and arguments unless quoted.
    const bool quote = name.contains(QLatin1Char(' ')) || name.contains(QLatin1Char('\t'));
    m_history.PutOnTop(QLatin1Char('@') + (quote ? QLatin1Char('"') + name + QLatin1Char('"') : name));
    ShowHistory();
}

void CManualMode::EditOrSaveScript()
{
    if (m_editorOpen) {
        SaveEditor();
    } else {
        OpenEditor();
    }
}

void CManualMode::OpenEditor()
{
    m_modified = false;
    const QString path = ChooseScript();
    if (path.isEmpty()) {
        return;
    }
    m_editedPath = path;
    m_scriptPath->setText(path);
    QByteArray bytes;
    if (ReadScriptFile(path, &bytes) != ScriptFileRead::Ok) {
        m_status->setText(QStringLiteral("Can't open file!"));
        return;
    }
    const QString text = UnifyLineEnds(DecodeScriptFile(bytes));

    m_gate->SetAccepting(false);  // receiver output must not end up in the script
    m_editorOpen = true;
    m_output.Clear();
    // Loading the file is not an edit: "Close" right after it asks nothing.
    m_loadingEditor = true;
    m_window->setPlainText(text);
    m_loadingEditor = false;
    m_window->setReadOnly(false);
    SetControlsEnabled(false);
    m_exit->setEnabled(true);
    m_exit->setText(QStringLiteral("Close"));
    m_edit->setEnabled(true);
    m_edit->setText(QStringLiteral("Save script"));
    m_commandLine->hide();
}

void CManualMode::SaveEditor()
{
    QSaveFile file(m_editedPath);
    file.setDirectWriteFallback(true);
    const QString text = m_window->toPlainText().replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    const bool ok = file.open(QIODevice::WriteOnly) && file.write(EncodeScriptFile(text)) >= 0 && file.commit();
    if (!ok) {
        // The changes are still only on screen: "Close" must keep asking.
        m_status->setText(QStringLiteral("Unable to write ") + m_editedPath);
        return;
    }
    m_modified = false;
}

void CManualMode::CloseEditor()
{
    if (m_modified && AskDestructive(QStringLiteral("Close the editor and discard changes?"),
                                     QStringLiteral("Script editor")) != PromptButton::Yes) {
        return;
    }
    SetControlsEnabled(true);
    m_editorOpen = false;
    m_modified = false;
    m_output.Clear();
    m_window->clear();
    m_window->setReadOnly(true);
    m_exit->setText(QStringLiteral("Exit"));
    m_edit->setText(QStringLiteral("Edit script"));
    m_status->clear();
    m_scriptPath->setText(m_settings.pathScript);
    m_commandLine->show();
    m_gate->SetAccepting(true);
}

void CManualMode::SetHorizontalScroll(bool on)
{
    m_window->setLineWrapMode(on ? QPlainTextEdit::NoWrap : QPlainTextEdit::WidgetWidth);
    m_window->setHorizontalScrollBarPolicy(on ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    ScrollToEnd();
}

void CManualMode::ShowRawOutput(const QByteArray& bytes, const QString& display)
{
    if (m_editorOpen) {
        return;
    }
    Show(m_output.AppendRaw(bytes, display));
}

void CManualMode::Show(const CTerminalOutput::Change& change)
{
    if (change.IsEmpty()) {
        return;
    }
    QTextDocument* document = m_window->document();
    QTextCursor cursor(document);
    if (change.droppedLines > 0) {
        if (change.droppedLines >= document->blockCount()) {
            m_window->clear();
            cursor = QTextCursor(document);
        } else {
            cursor.movePosition(QTextCursor::Start);
            cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, change.droppedLines);
            cursor.removeSelectedText();
        }
    }
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(change.appended);
    ScrollToEnd();
}

void CManualMode::ScrollToEnd()
{
    m_window->verticalScrollBar()->setValue(m_window->verticalScrollBar()->maximum());
}

void CManualMode::SetControlsEnabled(bool enabled)
{
    for (QPushButton* b : {m_send, m_clear, m_log, m_script, m_edit, m_exit, m_stopMsg, m_discon}) {
        b->setEnabled(enabled);
    }
}

void CManualMode::ShowHistory()
{
    m_commandLine->clear();
    m_commandLine->addItems(m_history.Entries());
    if (m_commandLine->count() > 0) {
        m_commandLine->setCurrentIndex(0);
        // Selected, so that the next command typed replaces the last one instead of being glued to it.
        m_commandLine->lineEdit()->selectAll();
    }
}
