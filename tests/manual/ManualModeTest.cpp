#include "ScriptTestHost.h"

#include "link/Profile.h"
#include "link/Receiver.h"
#include "manual/ManualMode.h"
#include "manual/RawOutputGate.h"
#include "support/FakeTime.h"
#include "support/ScriptedPrompts.h"
#include "support/SimHarness.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <thread>

namespace {

const QString kSection = QStringLiteral("ManualMode");

class ManualModeTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        CProfile::SetFileName(m_dir.filePath(QStringLiteral("settings.ini")));
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
        context.programDir = m_dir.path();
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
    static QString Window(CManualMode& m) { return m.findChild<QPlainTextEdit*>("output")->toPlainText(); }
    static QString Status(CManualMode& m) { return m.findChild<QLabel*>("status")->text(); }
    static void Send(CManualMode& m, const QString& text)
    {
        m.findChild<QComboBox*>("commandLine")->setEditText(text);
        Button(m, "sendButton")->click();
    }
    QString Stored(const QString& key) const { return m_profile->ReadString(kSection, key, QStringLiteral("<none>")); }
    // Statements reach the receiver with the link's private tag in front.
    bool SimReceived(const QString& command) const
    {
        for (const QString& received : m_sim.Sim().ReceivedCommands()) {
            if (received == command || received.endsWith(QLatin1Char('%') + command)) {
                return true;
            }
        }
        return false;
    }
    static void Type(QPlainTextEdit* window, const QString& text)
    {
        window->moveCursor(QTextCursor::End);
        window->insertPlainText(text);
    }

    QTemporaryDir m_dir;
    mutable CSimHarness m_sim;
    CScriptedPrompts m_prompts;
    CFakeTickSource m_tick;
    std::function<void()> m_onWait;
    CProfile* m_profile = nullptr;
};

TEST_F(ManualModeTest, HistoryMovesSentCommandToTopAndKeepsItsLimit)
{
    for (int i = 0; i < 20; ++i) {
        m_profile->WriteString(kSection, QStringLiteral("Command%1").arg(i), QStringLiteral("cmd%1").arg(i));
    }
    auto m = Open();
    ASSERT_TRUE(m->ReceiverOpened());
    EXPECT_EQ(Status(*m), m_sim.Name());
    EXPECT_EQ(m->History().size(), 20);
    EXPECT_EQ(m->findChild<QComboBox*>("commandLine")->currentText(), QStringLiteral("cmd0"));

    Send(*m, QStringLiteral("  print,/par/rcv/model "));
    EXPECT_EQ(m->History().size(), 20);
    EXPECT_EQ(m->History().first(), QStringLiteral("print,/par/rcv/model"));
    EXPECT_FALSE(m->History().contains(QStringLiteral("cmd19")));
    EXPECT_TRUE(Window(*m).contains(m_sim.Sim().Param(QStringLiteral("/par/rcv/model"))));

    Send(*m, QStringLiteral("cmd5"));
    EXPECT_EQ(m->History().first(), QStringLiteral("cmd5"));
    EXPECT_EQ(m->History().count(QStringLiteral("cmd5")), 1);
    EXPECT_EQ(m->History().size(), 20);

    Button(*m, "exitButton")->click();
    EXPECT_EQ(Stored(QStringLiteral("Command0")), QStringLiteral("cmd5"));
    EXPECT_EQ(Stored(QStringLiteral("Command1")), QStringLiteral("print,/par/rcv/model"));
}

TEST_F(ManualModeTest, LogHoldsRepliesAndRawOutputButNotEchoOrEmptyAnswers)
{
    const QString logPath = m_dir.filePath(QStringLiteral("terminal.log"));
    WriteLatin1Script(m_dir.filePath(QStringLiteral("show.kvc")), QStringLiteral("@echo hello\n%t%print,/cur/term\n"));
    auto m = Open();
    m_prompts.ExpectSaveFile(QStringLiteral("Log file"), logPath);
    Button(*m, "logButton")->click();
    EXPECT_EQ(Button(*m, "logButton")->text(), QStringLiteral("Stop log"));
    const auto& chooser = m_prompts.Records().back().file;
    EXPECT_EQ(chooser.defaultSuffix, QStringLiteral("log"));
    EXPECT_EQ(chooser.folder, m_dir.path());
    EXPECT_TRUE(chooser.confirmOverwrite);

    Send(*m, QStringLiteral("set,/par/dev/ser/b/rate,57600"));  // answers "RE000"
    EXPECT_EQ(Window(*m), QString());
    Send(*m, QStringLiteral("print,/cur/term"));
    Send(*m, QStringLiteral("@show.kvc"));
    std::thread link([gate = m->RawOutput().Callback()] { gate("$GP\xB0\n", 5); });
    link.join();
    QCoreApplication::processEvents();
    Button(*m, "logButton")->click();
    EXPECT_EQ(Button(*m, "logButton")->text(), QStringLiteral("Start log"));
    Send(*m, QStringLiteral("print,/par/rcv/model"));  // after the log was closed

    EXPECT_EQ(ReadBytes(logPath), QByteArray("RE00A/dev/ser/a\r\nRE00D%t%/dev/ser/a\r\n$GP\xB0\n"));
    EXPECT_EQ(Window(*m).count(QStringLiteral("> hello")), 1);
    EXPECT_TRUE(Window(*m).contains(QStringLiteral(">%t%print,/cur/term")));
    EXPECT_TRUE(Window(*m).contains(QStringLiteral("$GP.\n")));

    // A log that can't be created.
    m_prompts.ExpectSaveFile(QStringLiteral("Log file"), m_dir.filePath(QStringLiteral("no/such/dir/x.log")));
    Button(*m, "logButton")->click();
    EXPECT_EQ(Status(*m), QStringLiteral("Can't open file!"));
    m_prompts.ExpectSaveFile(QStringLiteral("Log file"), QString());
    Button(*m, "logButton")->click();
    EXPECT_EQ(Button(*m, "logButton")->text(), QStringLiteral("Start log"));
}

TEST_F(ManualModeTest, RawOutputIsFilteredAndDroppedWhileTheLockIsHeld)
{
    auto m = Open();
    auto callback = m->RawOutput().Callback();
    std::thread([callback] { callback("A\x07\xB0\nB", 5); }).join();
    QCoreApplication::processEvents();
    EXPECT_EQ(Window(*m), QStringLiteral("A..\nB"));
    {
        std::lock_guard lock(m->RawOutput().OutputLock());
        std::thread([callback] { callback("lost", 4); }).join();
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(m->RawOutput().DroppedChunks(), 1);
    EXPECT_EQ(Window(*m), QStringLiteral("A..\nB"));

    // Once the terminal is gone, a chunk still arriving from the link goes nowhere.
    m.reset();
    std::thread([callback] { callback("late", 4); }).join();
    QCoreApplication::processEvents();
}

TEST_F(ManualModeTest, ExitSendsDmAndKeepsReceiverDisconClosesItSilently)
{
    {
        auto m = Open();
        m_sim.Sim().ClearReceivedCommands();
        Button(*m, "exitButton")->click();
        EXPECT_EQ(m->result(), QDialog::Accepted);
        EXPECT_FALSE(m->DisconnectChosen());
        EXPECT_TRUE(SimReceived(QStringLiteral("dm")));
        EXPECT_TRUE(m_sim.IsOpen());
    }
    auto m = Open();
    m_sim.Sim().ClearReceivedCommands();
    Button(*m, "disconButton")->click();
    EXPECT_EQ(m->result(), QDialog::Accepted);
    EXPECT_TRUE(m->DisconnectChosen());
    EXPECT_FALSE(SimReceived(QStringLiteral("dm")));
    EXPECT_FALSE(m_sim.Holder().HasReceiver());
}

TEST_F(ManualModeTest, StopMsgSendsDm)
{
    auto m = Open();
    m_sim.Sim().ClearReceivedCommands();
    Button(*m, "stopMsgButton")->click();
    EXPECT_TRUE(SimReceived(QStringLiteral("dm")));
}

TEST_F(ManualModeTest, EditorSavesUtf16AndAsksOnCloseOnlyWhenModified)
{
    const QString path = m_dir.filePath(QStringLiteral("edit.kvc"));
    WriteLatin1Script(path, QStringLiteral("@echo 25\xB0\nprint,/par/rcv/model"));
    auto m = Open();
    auto* window = m->findChild<QPlainTextEdit*>("output");

    m_prompts.ExpectOpenFile(QStringLiteral("Script file"), path);
    Button(*m, "editButton")->click();
    ASSERT_TRUE(m->EditorOpen());
    EXPECT_EQ(Window(*m), QString::fromUtf16(u"@echo 25\u00b0\nprint,/par/rcv/model\n"));
    EXPECT_FALSE(window->isReadOnly());
    EXPECT_EQ(Button(*m, "exitButton")->text(), QStringLiteral("Close"));
    EXPECT_EQ(Button(*m, "editButton")->text(), QStringLiteral("Save script"));
    EXPECT_TRUE(Button(*m, "exitButton")->isEnabled());
    EXPECT_FALSE(Button(*m, "sendButton")->isEnabled());
    EXPECT_FALSE(Button(*m, "scriptButton")->isEnabled());
    EXPECT_TRUE(m->findChild<QComboBox*>("commandLine")->isHidden());
    EXPECT_EQ(m->findChild<QLineEdit*>("scriptPath")->text(), path);
    EXPECT_FALSE(m->EditorModified());

    // Receiver output does not end up in the script.
    auto callback = m->RawOutput().Callback();
    std::thread([callback] { callback("noise", 5); }).join();
    QCoreApplication::processEvents();
    EXPECT_FALSE(Window(*m).contains(QStringLiteral("noise")));

    Type(window, QString::fromUtf16(u"@echo \u20ac"));
    EXPECT_TRUE(m->EditorModified());
    Button(*m, "editButton")->click();
    EXPECT_FALSE(m->EditorModified());
    EXPECT_TRUE(m->EditorOpen());
    QByteArray expected("\xFF\xFE", 2);
    for (const char16_t c : u"@echo 25\u00b0\r\nprint,/par/rcv/model\r\n@echo \u20ac") {
        if (c) {
            expected.append(char(c & 0xFF));
            expected.append(char(c >> 8));
        }
    }
    EXPECT_EQ(ReadBytes(path), expected);

    // Unchanged since the save: closes without a question.
    Button(*m, "exitButton")->click();
    EXPECT_FALSE(m->EditorOpen());
    EXPECT_EQ(Window(*m), QString());
    EXPECT_TRUE(window->isReadOnly());
    EXPECT_EQ(Button(*m, "exitButton")->text(), QStringLiteral("Exit"));
    EXPECT_EQ(Button(*m, "editButton")->text(), QStringLiteral("Edit script"));
    EXPECT_TRUE(Button(*m, "sendButton")->isEnabled());
    EXPECT_FALSE(m->findChild<QComboBox*>("commandLine")->isHidden());
    EXPECT_EQ(m_prompts.PendingCount(), 0);

    // Modified: "No" keeps the editor, "Yes" discards.
    m_prompts.ExpectOpenFile(QStringLiteral("Script file"), path);
    Button(*m, "editButton")->click();
    EXPECT_EQ(Window(*m),
              QString::fromUtf16(u"@echo 25\u00b0\nprint,/par/rcv/model\n@echo \u20ac\n"));  // line end added
    Type(window, QStringLiteral("@stop"));
    m_prompts.ExpectMessage(QStringLiteral("Script editor"), QStringLiteral("Close the editor and discard changes?"),
                            PromptButtons::YesNo, PromptButton::No);
    Button(*m, "exitButton")->click();
    EXPECT_TRUE(m->EditorOpen());
    m_prompts.ExpectMessage(QStringLiteral("Script editor"), QStringLiteral("Close the editor and discard changes?"),
                            PromptButtons::YesNo, PromptButton::Yes);
    Button(*m, "exitButton")->click();
    EXPECT_FALSE(m->EditorOpen());
    EXPECT_EQ(ReadBytes(path), expected);
}

TEST_F(ManualModeTest, FailedSaveKeepsTheEditorModified)
{
    QDir(m_dir.path()).mkdir(QStringLiteral("gone"));
    const QString path = m_dir.filePath(QStringLiteral("gone/edit.kvc"));
    WriteLatin1Script(path, QStringLiteral("@echo x\r\n"));
    auto m = Open();
    m_prompts.ExpectOpenFile(QStringLiteral("Script file"), path);
    Button(*m, "editButton")->click();
    ASSERT_TRUE(m->EditorOpen());
    Type(m->findChild<QPlainTextEdit*>("output"), QStringLiteral("@echo y"));
    ASSERT_TRUE(QDir(m_dir.filePath(QStringLiteral("gone"))).removeRecursively());
    Button(*m, "editButton")->click();
    EXPECT_EQ(Status(*m), QStringLiteral("Unable to write ") + path);
    EXPECT_TRUE(m->EditorModified());
    m_prompts.ExpectMessage(QStringLiteral("Script editor"), QStringLiteral("Close the editor and discard changes?"),
                            PromptButtons::YesNo, PromptButton::No);
    Button(*m, "exitButton")->click();
    EXPECT_TRUE(m->EditorOpen());
}

TEST_F(ManualModeTest, LoadScriptChangesScriptFolderAndOffersTheScript)
{
    QDir(m_dir.path()).mkdir(QStringLiteral("other"));
    const QString folder = m_dir.filePath(QStringLiteral("other"));
    WriteLatin1Script(folder + QStringLiteral("/run.kvc"), QStringLiteral("@echo from other\n"));
    auto m = Open();
    m_prompts.ExpectOpenFile(QStringLiteral("Script file"), folder + QStringLiteral("/run.kvc"));
    Button(*m, "scriptButton")->click();
    const auto& chooser = m_prompts.Records().back().file;
    EXPECT_EQ(chooser.folder, m_dir.path());
    EXPECT_EQ(chooser.selectedFilter, 1);
    ASSERT_EQ(chooser.filters.size(), 2);
    EXPECT_EQ(chooser.filters[0], QStringLiteral("Script file(*.kvc)"));
    EXPECT_EQ(m->History().first(), QStringLiteral("@run.kvc"));
    EXPECT_EQ(m->findChild<QComboBox*>("commandLine")->currentText(), QStringLiteral("@run.kvc"));
    EXPECT_EQ(m->findChild<QLineEdit*>("scriptPath")->text(), folder);

    Button(*m, "sendButton")->click();
    EXPECT_TRUE(Window(*m).contains(QStringLiteral("> from other")));

    m_prompts.ExpectOpenFile(QStringLiteral("Script file"), folder + QStringLiteral("/absent.kvc"));
    Button(*m, "scriptButton")->click();
    EXPECT_EQ(Status(*m), QStringLiteral("Can't open file!"));

    Button(*m, "disconButton")->click();
    EXPECT_EQ(Stored(QStringLiteral("PathScript")), folder);
}

TEST_F(ManualModeTest, ScriptRunDisablesControlsAndStopsOnTheScriptButton)
{
    WriteLatin1Script(m_dir.filePath(QStringLiteral("wait.kvc")),
                      QStringLiteral("@echo start\n@sleep 5000\n@echo not reached\n"));
    auto m = Open();
    int waits = 0;
    bool sendEnabledDuringRun = true;
    QString captionDuringRun;
    m_onWait = [&] {
        if (++waits == 3) {
            sendEnabledDuringRun = Button(*m, "sendButton")->isEnabled();
            captionDuringRun = Button(*m, "scriptButton")->text();
            Button(*m, "scriptButton")->click();  // "Stop script"
        }
    };
    Send(*m, QStringLiteral("@wait.kvc"));
    EXPECT_FALSE(sendEnabledDuringRun);
    EXPECT_EQ(captionDuringRun, QStringLiteral("Stop script"));
    EXPECT_EQ(waits, 3);
    EXPECT_EQ(Status(*m), QStringLiteral("Aborted by user!"));
    EXPECT_TRUE(Window(*m).contains(QStringLiteral("> start")));
    EXPECT_FALSE(Window(*m).contains(QStringLiteral("not reached")));
    EXPECT_EQ(Button(*m, "scriptButton")->text(), QStringLiteral("Load script"));
    EXPECT_TRUE(Button(*m, "sendButton")->isEnabled());
    EXPECT_FALSE(m->ScriptRunning());

    // Closing the window during a run stops the script first, then leaves like "Exit".
    waits = 0;
    m_onWait = [&] {
        if (++waits == 2) {
            m->reject();
            EXPECT_TRUE(m->isVisible() || m->result() != QDialog::Accepted);
        }
    };
    m_sim.Sim().ClearReceivedCommands();
    Send(*m, QStringLiteral("@wait.kvc"));
    EXPECT_EQ(m->result(), QDialog::Accepted);
    EXPECT_TRUE(SimReceived(QStringLiteral("dm")));
}

TEST_F(ManualModeTest, ReceiverThatDoesNotOpenLeavesOnlyExitAndKeepsSettings)
{
    m_profile->WriteString(kSection, QStringLiteral("Command0"), QStringLiteral("keep me"));
    auto m = Open(nullptr);
    EXPECT_FALSE(m->ReceiverOpened());
    EXPECT_EQ(Status(*m), QStringLiteral("No connection"));
    for (const char* name :
         {"sendButton", "stopMsgButton", "clearButton", "logButton", "disconButton", "editButton", "scriptButton"}) {
        EXPECT_FALSE(Button(*m, name)->isEnabled()) << name;
    }
    EXPECT_FALSE(m->findChild<QComboBox*>("commandLine")->isEnabled());
    EXPECT_TRUE(Button(*m, "exitButton")->isEnabled());
    Button(*m, "exitButton")->click();
    EXPECT_EQ(m->result(), QDialog::Accepted);
    EXPECT_EQ(Stored(QStringLiteral("Command0")), QStringLiteral("keep me"));
}

TEST_F(ManualModeTest, ClearEmptiesWindowAndStatus)
{
    auto m = Open();
    Send(*m, QStringLiteral("print,/par/rcv/model"));
    ASSERT_FALSE(Window(*m).isEmpty());
    Button(*m, "clearButton")->click();
    EXPECT_EQ(Window(*m), QString());
    EXPECT_EQ(Status(*m), QString());
    EXPECT_EQ(m->Output().Text(), QString());
}

}  // namespace
