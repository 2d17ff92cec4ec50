#include "ScriptTestHost.h"

#include "link/Connection.h"
#include "link/Profile.h"
#include "link/Receiver.h"
#include "manual/ManualMode.h"
#include "manual/RawOutputGate.h"
#include "support/FakeTime.h"
#include "support/ScriptedPrompts.h"
#include "support/SimHarness.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <thread>

#include <sys/stat.h>

namespace {

const QString kSection = "ManualMode";

class ManualModeTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        CProfile::SetFileName(m_dir.filePath("settings.ini"));
        m_profile = CProfile::Instance();
        ASSERT_TRUE(m_sim.IsOpen());
    }
    void TearDown() override { CProfile::Release(); }

    std::unique_ptr<CManualMode> Open(CConnection* connection)
    {
        ManualModeContext context;
        context.connection = connection;
        context.receiverName = m_sim.Name();
        context.holder = &m_sim.Holder();
        context.defaultFolder = m_dir.path();
        context.prompts = &m_prompts;
        context.tick = &m_tick;
        context.wait = [this](int ms) {
            m_tick.Advance(ms);
            if (m_onWait) {
                m_onWait();
            }
        };
        return std::make_unique<CManualMode>(context);
    }
    std::unique_ptr<CManualMode> Open() { return Open(&m_sim.Connection()); }

    static QPushButton* Button(CManualMode& m, const char* name) { return m.findChild<QPushButton*>(name); }
    static QComboBox* CommandLine(CManualMode& m) { return m.findChild<QComboBox*>("commandLine"); }
    static QPlainTextEdit* WindowWidget(CManualMode& m) { return m.findChild<QPlainTextEdit*>("output"); }
    static QString Window(CManualMode& m) { return WindowWidget(m)->toPlainText(); }
    static QString Status(CManualMode& m) { return m.findChild<QLabel*>("status")->text(); }
    static void Send(CManualMode& m, const QString& text)
    {
        CommandLine(m)->setEditText(text);
        Button(m, "sendButton")->click();
    }
    static void Type(CManualMode& m, const QString& text)
    {
        WindowWidget(m)->moveCursor(QTextCursor::End);
        WindowWidget(m)->insertPlainText(text);
    }
    // A chunk of raw output handed over by the link's thread, then the GUI thread's events.
    static void FromLinkThread(const std::function<void(const char*, int)>& callback, const QByteArray& chunk)
    {
        std::thread([&] { callback(chunk.constData(), int(chunk.size())); }).join();
        QCoreApplication::processEvents();
    }
    QString Stored(const QString& key) const { return m_profile->ReadString(kSection, key, "<none>"); }
    // "dm" reached the receiver (statements carry the link's private tag in front).
    bool SimReceivedDm() { return !m_sim.Sim().ReceivedCommands().filter(QRegularExpression("(^|%)dm$")).isEmpty(); }
    void ExpectCloseQuestion(PromptButton answer)
    {
        m_prompts.ExpectMessage("Script editor", "Close the editor and discard changes?", PromptButtons::YesNo, answer)
            .WithDefault(PromptButton::No);
    }

    QTemporaryDir m_dir;
    CSimHarness m_sim;
    CScriptedPrompts m_prompts;
    CFakeTickSource m_tick;
    std::function<void()> m_onWait;
    CProfile* m_profile = nullptr;
};

TEST_F(ManualModeTest, HistoryMovesSentCommandToTopAndKeepsItsLimit)
{
    for (int i = 0; i < 20; ++i) {
        m_profile->WriteString(kSection, QString("Command%1").arg(i), QString("cmd%1").arg(i));
    }
    auto m = Open();
    ASSERT_TRUE(m->ReceiverOpened());
    EXPECT_EQ(Status(*m), m_sim.Name());
    EXPECT_EQ(m->History().size(), 20);
    EXPECT_EQ(CommandLine(*m)->currentText(), "cmd0");

    Send(*m, "  print,/par/rcv/model ");
    EXPECT_TRUE(Window(*m).contains(m_sim.Sim().Param("/par/rcv/model")));
    EXPECT_FALSE(m->History().contains("cmd19"));
    Send(*m, "cmd5");
    EXPECT_EQ(m->History().mid(0, 3), (QStringList{"cmd5", "print,/par/rcv/model", "cmd0"}));
    EXPECT_EQ(m->History().count("cmd5"), 1);
    EXPECT_EQ(m->History().size(), 20);

    Button(*m, "clearButton")->click();
    EXPECT_EQ(Window(*m), QString());
    EXPECT_EQ(Status(*m), QString());
    EXPECT_EQ(m->Output().Text(), QString());

    // A loaded script is offered on top, beyond the limit, and takes the script folder along; sent, it is limited.
    ASSERT_TRUE(QDir(m_dir.path()).mkdir("other"));
    const QString folder = m_dir.filePath("other");
    // A name with a blank is quoted, so that it runs as one name.
    WriteLatin1Script(folder + "/my run.kvc", "@echo from other\n");
    m_prompts.ExpectOpenFile("Script file", folder + "/my run.kvc");
    Button(*m, "scriptButton")->click();
    EXPECT_EQ(m_prompts.Records().back().file.folder, m_dir.path());
    EXPECT_EQ(m->History().mid(0, 2), (QStringList{"@\"my run.kvc\"", "cmd5"}));
    EXPECT_EQ(m->History().size(), 21);
    EXPECT_EQ(CommandLine(*m)->currentText(), "@\"my run.kvc\"");
    EXPECT_EQ(m->findChild<QLineEdit*>("scriptPath")->text(), folder);
    Button(*m, "sendButton")->click();
    EXPECT_TRUE(Window(*m).contains("> from other"));
    EXPECT_EQ(m->History().size(), 20);

    // A FIFO would block the window.
    ASSERT_EQ(mkfifo((folder + "/fifo.kvc").toLocal8Bit().constData(), 0600), 0);
    m_prompts.ExpectOpenFile("Script file", folder + "/fifo.kvc");
    Button(*m, "scriptButton")->click();
    EXPECT_EQ(Status(*m), "Can't open file!");

    Button(*m, "exitButton")->click();
    EXPECT_EQ(Stored("Command0"), "@\"my run.kvc\"");
    EXPECT_EQ(Stored("Command1"), "cmd5");
    EXPECT_EQ(Stored("PathScript"), folder);
}

// A long history entry once sized the terminal past a handheld's screen, pushing buttons off its right edge.
TEST_F(ManualModeTest, LongHistoryEntryKeepsTheTerminalWithinTheHandheldScreen)
{
    m_profile->WriteString(kSection, "Command0", "print," + QString(120, 'x'));
    auto m = Open();
    m->show();
    QCoreApplication::processEvents();
    EXPECT_LE(m->minimumSizeHint().width(), 480);
    EXPECT_LE(m->sizeHint().width(), 480);
    m->resize(480, 640);
    QCoreApplication::processEvents();
    const QRect screen(0, 0, 480, 640);
    for (const char* name : {"logButton", "disconButton", "commandLine", "horizontalScroll"}) {
        auto* w = m->findChild<QWidget*>(name);
        ASSERT_NE(w, nullptr) << name;
        EXPECT_TRUE(screen.contains(QRect(w->mapTo(m.get(), QPoint(0, 0)), w->size()))) << name;
    }
    m->hide();
}

TEST_F(ManualModeTest, LogHoldsRepliesAndRawOutputButNotEchoOrEmptyAnswers)
{
    const QString logPath = m_dir.filePath("terminal.log");
    WriteLatin1Script(m_dir.filePath("show.kvc"), "@echo hello\n%t%print,/cur/term\n");
    auto m = Open();
    const auto callback = m->RawOutput().Callback();
    m_prompts.ExpectSaveFile("Log file", logPath);
    Button(*m, "logButton")->click();
    EXPECT_EQ(Button(*m, "logButton")->text(), "Stop log");
    const auto& chooser = m_prompts.Records().back().file;
    EXPECT_EQ(chooser.folder, m_dir.path());
    EXPECT_TRUE(chooser.confirmOverwrite);

    Send(*m, "set,/par/dev/ser/b/rate,57600");  // answers "RE000": only the echo shows
    EXPECT_EQ(Window(*m), ">set,/par/dev/ser/b/rate,57600\n");
    Send(*m, "print,/cur/term");
    Send(*m, "@show.kvc");
    FromLinkThread(callback, QByteArray("$GP\x07\xB0\n"));
    Button(*m, "logButton")->click();
    EXPECT_EQ(Button(*m, "logButton")->text(), "Start log");
    Send(*m, "print,/par/rcv/model");  // after the log was closed

    EXPECT_EQ(ReadFile(logPath), QByteArray("RE00A/dev/ser/a\r\nRE00D%t%/dev/ser/a\r\n$GP\x07\xB0\n"));
    EXPECT_EQ(Window(*m).count("> hello"), 1);
    EXPECT_TRUE(Window(*m).contains(">%t%print,/cur/term"));
    EXPECT_TRUE(Window(*m).contains("$GP..\n"));

    // A chunk arriving while the output lock is held is dropped.
    {
        std::lock_guard lock(m->RawOutput().OutputLock());
        FromLinkThread(callback, QByteArray("lost"));
    }
    EXPECT_EQ(m->RawOutput().DroppedChunks(), 1);
    EXPECT_FALSE(Window(*m).contains("lost"));

    // A log that can't be created, and a cancelled choice.
    m_prompts.ExpectSaveFile("Log file", m_dir.filePath("no/such/dir/x.log"));
    Button(*m, "logButton")->click();
    EXPECT_EQ(Status(*m), "Can't open file!");
    m_prompts.ExpectSaveFile("Log file", QString());
    Button(*m, "logButton")->click();
    EXPECT_EQ(Button(*m, "logButton")->text(), "Start log");

    // Once the terminal is gone, a chunk still arriving from the link goes nowhere.
    m.reset();
    FromLinkThread(callback, QByteArray("late"));
}

TEST_F(ManualModeTest, StopMsgAndExitSendDmAndKeepReceiverDisconClosesItSilently)
{
    {
        auto m = Open();
        m_sim.Sim().ClearReceivedCommands();
        Button(*m, "stopMsgButton")->click();
        EXPECT_TRUE(SimReceivedDm());
        m_sim.Sim().ClearReceivedCommands();
        Button(*m, "exitButton")->click();
        EXPECT_EQ(m->result(), QDialog::Accepted);
        EXPECT_FALSE(m->DisconnectChosen());
        EXPECT_TRUE(SimReceivedDm());
        EXPECT_TRUE(m_sim.IsOpen());
    }
    auto m = Open();
    m_sim.Sim().ClearReceivedCommands();
    Button(*m, "disconButton")->click();
    EXPECT_EQ(m->result(), QDialog::Accepted);
    EXPECT_TRUE(m->DisconnectChosen());
    EXPECT_FALSE(SimReceivedDm());
    EXPECT_FALSE(m_sim.Holder().HasReceiver());
}

TEST_F(ManualModeTest, EditorSavesUtf16AndAsksOnCloseOnlyWhenModified)
{
    ASSERT_TRUE(QDir(m_dir.path()).mkdir("sub"));
    const QString path = m_dir.filePath("sub/edit.kvc");
    WriteLatin1Script(path, QStringLiteral("@echo 25\xB0\nprint,/par/rcv/model"));
    auto m = Open();
    const auto expectEditor = [&m](bool open) {
        EXPECT_EQ(m->EditorOpen(), open);
        EXPECT_EQ(WindowWidget(*m)->isReadOnly(), !open);
        EXPECT_EQ(Button(*m, "exitButton")->text(), open ? "Close" : "Exit");
        EXPECT_EQ(Button(*m, "editButton")->text(), open ? "Save script" : "Edit script");
        EXPECT_TRUE(Button(*m, "exitButton")->isEnabled());
        EXPECT_EQ(Button(*m, "sendButton")->isEnabled(), !open);
        EXPECT_EQ(Button(*m, "scriptButton")->isEnabled(), !open);
        EXPECT_EQ(CommandLine(*m)->isHidden(), open);
    };

    m_prompts.ExpectOpenFile("Script file", path);
    Button(*m, "editButton")->click();
    expectEditor(true);
    EXPECT_EQ(Window(*m), QString::fromUtf16(u"@echo 25\u00b0\nprint,/par/rcv/model\n"));
    EXPECT_EQ(m->findChild<QLineEdit*>("scriptPath")->text(), path);
    EXPECT_FALSE(m->EditorModified());

    // Receiver output does not end up in the script.
    FromLinkThread(m->RawOutput().Callback(), QByteArray("noise"));
    EXPECT_FALSE(Window(*m).contains("noise"));

    Type(*m, QString::fromUtf16(u"@echo \u20ac"));
    EXPECT_TRUE(m->EditorModified());
    Button(*m, "editButton")->click();
    EXPECT_FALSE(m->EditorModified());
    EXPECT_TRUE(m->EditorOpen());
    const QByteArray saved = Utf16File(QString::fromUtf16(u"@echo 25\u00b0\r\nprint,/par/rcv/model\r\n@echo \u20ac"));
    EXPECT_EQ(ReadFile(path), saved);

    // Unchanged since the save: closes without a question.
    Button(*m, "exitButton")->click();
    expectEditor(false);
    EXPECT_EQ(Window(*m), QString());
    EXPECT_EQ(m_prompts.PendingCount(), 0);

    // Modified: "No" keeps the editor, also after a save that failed; "Yes" discards without writing.
    m_prompts.ExpectOpenFile("Script file", path);
    Button(*m, "editButton")->click();
    EXPECT_EQ(Window(*m),
              QString::fromUtf16(u"@echo 25\u00b0\nprint,/par/rcv/model\n@echo \u20ac\n"));  // line end added
    Type(*m, "@stop");
    ExpectCloseQuestion(PromptButton::No);
    Button(*m, "exitButton")->click();
    EXPECT_TRUE(m->EditorOpen());
    EXPECT_EQ(ReadFile(path), saved);

    ASSERT_TRUE(QDir(m_dir.filePath("sub")).removeRecursively());
    Button(*m, "editButton")->click();
    EXPECT_EQ(Status(*m), "Unable to write " + path);
    EXPECT_TRUE(m->EditorModified());
    ExpectCloseQuestion(PromptButton::No);
    Button(*m, "exitButton")->click();
    EXPECT_TRUE(m->EditorOpen());

    ASSERT_TRUE(QDir(m_dir.path()).mkdir("sub"));
    ExpectCloseQuestion(PromptButton::Yes);
    Button(*m, "exitButton")->click();
    expectEditor(false);
    EXPECT_FALSE(QFile::exists(path));
}

TEST_F(ManualModeTest, ScriptRunDisablesControlsAndStopsOnTheScriptButton)
{
    WriteLatin1Script(m_dir.filePath("wait.kvc"), "@echo start\n@timeout 10000\n@sleep 5000\n@echo not reached\n");
    auto m = Open();
    const unsigned timeout = m_sim.Connection().GetTimeout();
    int waits = 0;
    bool sendEnabledDuringRun = true;
    QString captionDuringRun;
    unsigned timeoutDuringRun = 0;
    m_onWait = [&] {
        if (++waits == 3) {
            timeoutDuringRun = m_sim.Connection().GetTimeout();
            sendEnabledDuringRun = Button(*m, "sendButton")->isEnabled();
            captionDuringRun = Button(*m, "scriptButton")->text();
            Button(*m, "scriptButton")->click();  // "Stop script"
        }
    };
    Send(*m, "@wait.kvc");
    EXPECT_FALSE(sendEnabledDuringRun);
    EXPECT_EQ(captionDuringRun, "Stop script");
    EXPECT_EQ(waits, 3);
    // "@timeout" holds for the run only: the connection belongs to the whole program.
    EXPECT_EQ(timeoutDuringRun, 10000u / CConnection::kTimeoutUnitMs);
    EXPECT_EQ(m_sim.Connection().GetTimeout(), timeout);
    EXPECT_EQ(Status(*m), "Aborted by user!");
    EXPECT_TRUE(Window(*m).contains("> start"));
    EXPECT_FALSE(Window(*m).contains("not reached"));
    EXPECT_EQ(Button(*m, "scriptButton")->text(), "Load script");
    EXPECT_TRUE(Button(*m, "sendButton")->isEnabled());
    EXPECT_FALSE(m->ScriptRunning());

    // Closing the window during a run stops the script first, then leaves like "Exit".
    waits = 0;
    m_onWait = [&] {
        if (++waits == 2) {
            m->reject();
            EXPECT_NE(m->result(), QDialog::Accepted);
        }
    };
    m_sim.Sim().ClearReceivedCommands();
    Send(*m, "@wait.kvc");
    EXPECT_EQ(m->result(), QDialog::Accepted);
    EXPECT_TRUE(SimReceivedDm());
}

// The program's own folder, stored as the script folder by earlier versions, gives way to the user's; "Start log"
// opens where the last log was written.
TEST_F(ManualModeTest, ChoosersOpenInTheUsersFoldersNotTheProgramsOwn)
{
    m_profile->WriteString(kSection, "PathScript", QCoreApplication::applicationDirPath() + "/");
    auto m = Open();
    m_prompts.ExpectOpenFile("Script file", QString());
    Button(*m, "scriptButton")->click();
    EXPECT_EQ(m_prompts.Records().back().file.folder, m_dir.path());

    ASSERT_TRUE(QDir(m_dir.path()).mkdir("logs"));
    const QString logs = m_dir.filePath("logs");
    m_prompts.ExpectSaveFile("Log file", logs + "/a.log");
    Button(*m, "logButton")->click();
    Button(*m, "logButton")->click();
    m_prompts.ExpectSaveFile("Log file", QString());
    Button(*m, "logButton")->click();
    EXPECT_EQ(m_prompts.Records().back().file.folder, logs);
    Button(*m, "exitButton")->click();
    EXPECT_EQ(Stored("PathLog"), logs);
    EXPECT_EQ(Stored("PathScript"), m_dir.path());
}

TEST_F(ManualModeTest, ReceiverThatDoesNotOpenLeavesOnlyExitAndKeepsSettings)
{
    m_profile->WriteString(kSection, "Command0", "keep me");
    m_profile->WriteString(kSection, "PathScript", "/kept");
    auto m = Open(nullptr);
    EXPECT_FALSE(m->ReceiverOpened());
    EXPECT_EQ(Status(*m), "No connection");
    for (const char* name :
         {"sendButton", "stopMsgButton", "clearButton", "logButton", "disconButton", "editButton", "scriptButton"}) {
        EXPECT_FALSE(Button(*m, name)->isEnabled()) << name;
    }
    EXPECT_FALSE(CommandLine(*m)->isEnabled());
    EXPECT_TRUE(Button(*m, "exitButton")->isEnabled());
    Button(*m, "exitButton")->click();
    EXPECT_EQ(m->result(), QDialog::Accepted);
    EXPECT_EQ(Stored("Command0"), "keep me");
    EXPECT_EQ(Stored("PathScript"), "/kept");
}

}  // namespace
