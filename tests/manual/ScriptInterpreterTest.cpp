#include "ScriptTestHost.h"

#include "config/ScriptWriter.h"
#include "link/Connection.h"
#include "link/InProcessDevice.h"
#include "link/Receiver.h"
#include "manual/ScriptInterpreter.h"
#include "support/SimHarness.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

using Outcome = CScriptInterpreter::Outcome;

class ScriptInterpreterTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(m_sim.IsOpen());
        m_model = m_sim.Sim().Param("/par/rcv/model");
        ASSERT_FALSE(m_model.isEmpty());
    }

    QString PathOf(const QString& name) const { return m_dir.filePath(name); }
    void Write(const QString& name, const QString& text) { WriteLatin1Script(PathOf(name), text); }
    // Runs `invocation` at the top level with fresh records; returns the end-all flag.
    bool Run(const QString& invocation)
    {
        m_host.Reset();
        m_sim.Sim().ClearReceivedCommands();
        return m_interpreter.RunScript(invocation, 0);
    }
    // Writes `text` as "run.kvc" and runs it.
    bool RunText(const QString& text, const QString& args = QString())
    {
        Write("run.kvc", text);
        return Run("run.kvc " + args);
    }
    bool Received(const QString& command) { return !m_sim.Sim().ReceivedCommands().filter(command).isEmpty(); }
    // Raises the stop request at the n-th look for user input, as "Stop script" would.
    void StopAtInputCall(int n)
    {
        m_host.onPendingInput = [this, n, calls = 0]() mutable {
            if (++calls == n) {
                m_host.stop = true;
            }
        };
    }
    // A setup script as the configuration sheet writes it, with one page line.
    void WriteSetup(const QString& model)
    {
        const QStringList page{"@echo Ports parameters", "%/par/dev/ser/b/rate%set,/par/dev/ser/b/rate,57600",
                               "@echo Done!", "# End of script", ""};
        Write("setup.kvc", (SetupScriptHeader("Version 0.1.0 ", "(test)", model) + page).join("\r\n"));
    }

    QTemporaryDir m_dir;
    CSimHarness m_sim;
    QString m_model;
    CScriptTestHost m_host{&m_sim.Holder(), m_dir.path()};
    CScriptInterpreter m_interpreter{m_host};
};

TEST_F(ScriptInterpreterTest, RepliesFillAtZeroAndTopLevelRunDrivesControlsAndStatus)
{
    EXPECT_FALSE(
        RunText("%Receiver model%print,/par/rcv/model\n@echo tagged=[@0]\n"
                "print,/par/rcv/model\n@echo untagged=[@0]\n"));
    EXPECT_EQ(m_host.Printed(), (QStringList{">%Receiver model%print,/par/rcv/model", "> tagged=[" + m_model + "]",
                                             ">print,/par/rcv/model", "> untagged=[" + m_model + "]"}));
    // The whole reply is printed, header and tag included.
    EXPECT_EQ(m_host.output.filter("%Receiver model%" + m_model).size(), 1);
    EXPECT_EQ(m_host.ui, (QStringList{"controls off", "Stop script", "controls on", "Load script"}));
    EXPECT_EQ(m_host.statuses.first(), "Executing " + PathOf("run.kvc") + "...");
    EXPECT_TRUE(m_host.statuses.contains("@echo tagged=[@0]"));  // the line before substitution
    EXPECT_EQ(m_host.LastStatus(), QString());
    EXPECT_EQ(m_interpreter.LastOutcome(), Outcome::Completed);

    // A file that can't be opened (a name without extension is a ".kvs") changes no control and ends every caller.
    EXPECT_TRUE(Run("missing"));
    EXPECT_EQ(m_host.LastStatus(), "Unable to open " + PathOf("missing.kvs"));
    EXPECT_TRUE(m_host.ui.isEmpty());
    EXPECT_EQ(m_interpreter.LastOutcome(), Outcome::OpenFailed);
}

TEST_F(ScriptInterpreterTest, SetAndDefaultChangeOnlyArgumentSlots)
{
    EXPECT_FALSE(
        RunText("@set @3 \"a@0b\"\nprint,/par/rcv/model\n@echo quoted=@3\n"
                "@default @1 never\n@default @4 given\n@default @5 \"kept\"\n"
                "@set @0 changed\n@set speed 5\n@set @6 x y\n"
                "@echo @1|@2|@4|@5|@6\n@echo zero=@0\n",
                "first"));
    // The reference inside the quotes was stored, and expands when used.
    EXPECT_EQ(m_host.Printed().filter("> "),
              (QStringList{"> quoted=a" + m_model + "b", "> first||given|\"kept\"|", "> zero=" + m_model}));
}

TEST_F(ScriptInterpreterTest, GotoFindsLabelsWithoutRegardToCaseAlsoInCommentsAndBackwards)
{
    EXPECT_FALSE(RunText(QString("@echo off\n"
                                 "@goto Done\n@echo skipped\n# a comment that ends with @:Done\n@echo after comment\n"
                                 "@goto AGAIN\n@echo skipped\n@:again\n"
                                 "@goto nowhere\n@echo after unknown label\n"
                                 "%m%print,/par/rcv/model\n@goto Is@0\n@echo skipped\n@:Is%1\n@echo model label\n"
                                 "@set @2 Mixed\n@goto MIXED\n@echo skipped\n@:@2\n@echo reference label\n"
                                 "@goto ahead extra\n@echo wrong count ignored\n@:ahead\n"
                                 // A loop left through a label reached by a later value of @1.
                                 "@:top\n@echo pass @1\n@goto next@1\n@:next\n@set @1 2\n@goto top\n"
                                 "@:next2\n@echo out\n")
                             .arg(m_model.toUpper())));
    EXPECT_EQ(m_host.Printed(),
              (QStringList{"> after comment", "> after unknown label", "> model label", "> reference label",
                           "> wrong count ignored", "> pass ", "> pass 2", "> out"}));
}

TEST_F(ScriptInterpreterTest, CallResolvesNamesAndGivesEachLevelItsOwnSlotsAndExitEndsCallers)
{
    Write("setup.kvs", "@echo kvs [@0] [@1]\n@set @1 changed\n");
    Write("setup.kvc", "@echo kvc [@0] [@1] [@2]\n@stop\n@echo not reached\n");
    Write("bye.kvc", "@exit\n@echo not after exit\n");
    EXPECT_TRUE(RunText(
        "@call setup\n@call setup.kvc 115200 on\n@echo main @0 @1\n@call bye.kvc\n@echo not after exit\n", "mine"));
    EXPECT_EQ(m_host.Printed().filter("> "),
              (QStringList{"> kvs [setup] []", "> kvc [setup.kvc] [115200] [on]", "> main run.kvc mine"}));
    EXPECT_EQ(m_interpreter.LastOutcome(), Outcome::Completed);
    // Only the top level enables and disables the controls and puts the caption back.
    EXPECT_EQ(m_host.ui, (QStringList{"controls off", "Stop script", "Stop script", "Stop script", "Stop script",
                                      "controls on", "Load script"}));
}

TEST_F(ScriptInterpreterTest, SelfCallStopsAboveDepth200AndTheFailureEndsEveryCaller)
{
    Write("self.kvs", "@call self\n@echo caller goes on\n");
    EXPECT_TRUE(Run("self"));
    EXPECT_EQ(m_host.statuses.filter("Executing ").size(), 201);
    EXPECT_TRUE(m_host.Printed().filter("> caller goes on").isEmpty());
    // The failure stays on the status line instead of the callers' empty end texts.
    EXPECT_EQ(m_host.LastStatus(), "Too deep call level (200)!");
    EXPECT_EQ(m_interpreter.LastOutcome(), Outcome::TooDeep);
    EXPECT_EQ(m_host.ui.filter("controls"), (QStringList{"controls off", "controls on"}));
}

TEST_F(ScriptInterpreterTest, ErrorReplyStopsOnlyWithStopOnErrorsOn)
{
    EXPECT_TRUE(
        RunText("print,/par/rcv/model\n"
                "@stoponerrors off\nprint,/par/no/such\n@echo after=[@0]\n"
                "@stoponerrors ON\nprint,/par/no/such\n@echo not reached\n"));
    EXPECT_EQ(m_host.output.filter("ER").size(), 2) << m_host.output.join('|').toStdString();
    EXPECT_TRUE(m_host.output.contains("> after=[]"));
    EXPECT_FALSE(m_host.output.contains("> not reached"));
    EXPECT_EQ(m_host.output.last(), ">Stop receiver reply : An error reply from the receiver");
    EXPECT_EQ(m_host.LastStatus(), "An error reply from the receiver");
    EXPECT_EQ(m_interpreter.LastOutcome(), Outcome::ErrorReply);
}

TEST_F(ScriptInterpreterTest, SleepWaitsOnTheTickAndStopRequestEndsSleepAndEveryLevel)
{
    EXPECT_FALSE(RunText("@sleep\n@sleep 250ms\n@sleep soon\n@echo woke\n"));
    EXPECT_EQ(m_host.waited, 1000 + 250 + 1000);
    EXPECT_TRUE(m_host.statuses.contains("Sleeping: 1000 ms left"));
    EXPECT_TRUE(m_host.statuses.contains("Sleeping: 10 ms left"));
    EXPECT_TRUE(m_host.output.contains("> woke"));

    StopAtInputCall(4);  // during the wait
    EXPECT_FALSE(RunText("@sleep 5000\n@echo not reached\n"));
    EXPECT_LE(m_host.waited, 30);
    EXPECT_FALSE(m_host.output.contains("> not reached"));
    EXPECT_EQ(m_host.LastStatus(), "Aborted by user!");
    EXPECT_EQ(m_interpreter.LastOutcome(), Outcome::Aborted);
    // Also when the wait was the last line.
    StopAtInputCall(3);
    EXPECT_FALSE(RunText("@sleep 5000\n"));
    EXPECT_EQ(m_host.LastStatus(), "Aborted by user!");
    EXPECT_EQ(m_interpreter.LastOutcome(), Outcome::Aborted);

    // A request left over from an earlier run is cleared at the start; a later one ends called and calling levels.
    Write("sub.kvc", "@echo one\n@echo two\n@echo three\n");
    m_host.stop = true;
    StopAtInputCall(3);
    EXPECT_FALSE(RunText("@call sub.kvc\n@echo top goes on\n"));
    EXPECT_EQ(m_host.Printed().filter("> "), QStringList{"> one"});
    EXPECT_EQ(m_host.LastStatus(), "Aborted by user!");
}

TEST_F(ScriptInterpreterTest, EchoRules)
{
    EXPECT_FALSE(
        RunText("# shown with its mark\n@:label\n@echo on\n@echo\n@ECHO Upper case\n@clear\n"
                "@echo off\nprint,/par/rcv/model\n# hidden\n@echo still printed\n"
                "@Echo On\n@timeout 10000\n"));
    EXPECT_EQ(m_host.Printed(), (QStringList{"># shown with its mark", ">@:label", ">", "> Upper case", ">@clear",
                                             "> still printed", ">@timeout 10000"}));
    EXPECT_TRUE(m_host.output.contains("<clear>"));
    // With echo off the command is not echoed, but its reply is printed.
    EXPECT_EQ(m_host.output.filter(m_model).size(), 1);
}

TEST_F(ScriptInterpreterTest, FileFormsAndLineEnds)
{
    WriteFile(PathOf("wide.kvc"), Utf16File(QString::fromUtf16(u"@echo Gr\u00fc\u00dfe \u20ac\r\n@echo last")));
    EXPECT_FALSE(Run("wide.kvc"));
    EXPECT_EQ(m_host.Printed(), (QStringList{QString::fromUtf16(u"> Gr\u00fc\u00dfe \u20ac"), "> last"}));

    WriteFile(PathOf("narrow.kvc"), QByteArray("@echo 25\xB0\n\n   \r\n  @echo mixed  \r\n@echo end"));
    EXPECT_FALSE(Run("narrow.kvc"));
    EXPECT_EQ(m_host.Printed(), (QStringList{QString::fromUtf16(u"> 25\u00b0"), "> mixed", "> end"}));

    // A CR alone ends a line; a tab separates like a blank.
    WriteFile(PathOf("cr.kvc"),
              "@echo\toff\r@set\t@1\tx\r@sleep\t250\r@goto\tend\r@echo skipped\r@:end\r@echo\t@1 done");
    EXPECT_FALSE(Run("cr.kvc"));
    EXPECT_EQ(m_host.Printed(), QStringList{"> x done"});
    EXPECT_EQ(m_host.waited, 250);
}

TEST_F(ScriptInterpreterTest, CalledNamesStayInsideTheScriptFolderAndFilesAreBounded)
{
    QTemporaryDir outside;
    WriteLatin1Script(outside.filePath("secret.kvc"), "@echo outside\n");
    const QString up = "../" + QFileInfo(outside.path()).fileName() + "/secret.kvc";
    ASSERT_TRUE(QFile::link(outside.filePath("secret.kvc"), PathOf("out.kvc")));
    Write("in.kvc", "@echo inside\n");
    ASSERT_TRUE(QFile::link(PathOf("in.kvc"), PathOf("alias.kvc")));
    ASSERT_EQ(mkfifo(PathOf("fifo.kvc").toLocal8Bit().constData(), 0600), 0);
    WriteFile(PathOf("big.kvc"), QByteArray(kMaxScriptFileBytes + 1, '#'));
    // Each copy of itself it calls holds another 700 000 characters.
    Write("self.kvc", "@call self.kvc\n" + QString("# padding\n").repeated(70000));

    const std::pair<QString, QString> cases[] = {
        {up, ""},
        {"out.kvc", ""},
        {"fifo.kvc", ""},
        {"big.kvc", " (more than 1 MiB)"},
        {"self.kvc", " (the calling scripts hold too much text)"},
    };
    for (const auto& [name, why] : cases) {
        SCOPED_TRACE(name.toStdString());
        EXPECT_TRUE(RunText("@call " + name + "\n@echo not reached\n"));
        EXPECT_EQ(m_host.LastStatus(), "Unable to open " + PathOf(name) + why);
        EXPECT_EQ(m_interpreter.LastOutcome(), Outcome::OpenFailed);
        EXPECT_TRUE(m_host.Printed().filter(QRegularExpression("^> (outside|not reached)")).isEmpty());
    }
    // A link that stays inside is fine, and so is the user's own choice of a script elsewhere.
    EXPECT_FALSE(RunText("@call alias.kvc\n"));
    EXPECT_TRUE(m_host.output.contains("> inside"));
    EXPECT_FALSE(Run(up));
    EXPECT_TRUE(m_host.output.contains("> outside"));
}

TEST_F(ScriptInterpreterTest, OverlongLinesAndEndlessExpansionAreRefused)
{
    // 511 characters are fine; more, as written or after substitution, and values that expand forever are not.
    const QString fits = "@echo " + QString(505, 'e');
    const QString tooLong = CScriptInterpreter::LineTooLongText();
    const QString endless = CScriptInterpreter::EndlessExpansionText();
    const std::pair<QString, QString> cases[] = {
        {"print,/par/" + QString(520, 'x'), tooLong},
        {"@set @1 " + QString(300, 'w') + "\nprint,@1@1", tooLong},
        {"@set @1 \"@1\"\nprint,@1", endless},
    };
    for (const auto& [lines, status] : cases) {
        SCOPED_TRACE(lines.left(20).toStdString());
        EXPECT_TRUE(RunText(fits + "\n" + lines + "\n@echo after\n"));
        EXPECT_EQ(m_host.Printed().value(0), "> " + QString(505, 'e'));
        EXPECT_TRUE(m_sim.Sim().ReceivedCommands().isEmpty());
        EXPECT_FALSE(m_host.output.contains("> after"));
        EXPECT_EQ(m_host.LastStatus(), status);
        EXPECT_EQ(m_host.output.last(), ">Stop script line : " + status);
        EXPECT_EQ(m_interpreter.LastOutcome(), Outcome::LineRefused);
    }

    // A label that never ends its expansion cannot hang a jump: it just does not match.
    EXPECT_FALSE(RunText("@set @1 \"@1\"\n@goto x\n@echo reached\n@stop\n@:x@1\n@echo jumped\n"));
    EXPECT_TRUE(m_host.output.contains("> reached"));
    EXPECT_FALSE(m_host.output.contains("> jumped"));
}

// The setup header as the configuration sheet writes it: model check, port branch, and on a serial port the
// rate and flow control kept across the parameter reset.
TEST_F(ScriptInterpreterTest, SetupHeaderOnSerialPortKeepsRateAndFlowControl)
{
    ASSERT_TRUE(m_sim.Sim().SetParamValue("/par/dev/ser/a/rate", "57600"));
    ASSERT_TRUE(m_sim.Sim().SetParamValue("/par/dev/ser/a/rtscts", "on"));
    ASSERT_TRUE(m_sim.Sim().SetParamValue("/par/dev/ser/c/rate", "9600"));
    WriteSetup(m_model);
    EXPECT_FALSE(Run("setup.kvc"));
    EXPECT_EQ(m_interpreter.LastOutcome(), Outcome::Completed) << m_host.LastStatus().toStdString();
    EXPECT_EQ(m_host.LastStatus(), QString());
    EXPECT_TRUE(m_host.output.contains("> Done!"));
    EXPECT_TRUE(Received("init,/par/"));
    EXPECT_EQ(m_sim.Sim().Param("/par/dev/ser/c/rate"), "115200");  // reset
    EXPECT_EQ(m_sim.Sim().Param("/par/dev/ser/a/rate"), "57600");   // kept
    EXPECT_EQ(m_sim.Sim().Param("/par/dev/ser/a/rtscts"), "on");    // kept
    EXPECT_EQ(m_sim.Sim().Param("/par/dev/ser/b/rate"), "57600");   // page line
    // 5 s of warning and three pauses of 300 ms on the fake clock.
    EXPECT_EQ(m_host.waited, 5000 + 3 * 300);

    // Another model stops before changing anything.
    WriteSetup("Other-Model");
    EXPECT_FALSE(Run("setup.kvc"));
    EXPECT_EQ(m_host.Printed(),
              (QStringList{"> This script was generated for Other-Model receiver and may not",
                           "> run correctly on other receiver models.", "> Script execution aborted."}));
    EXPECT_FALSE(Received("init"));
    EXPECT_EQ(m_host.waited, 0);
    EXPECT_EQ(m_interpreter.LastOutcome(), Outcome::Stopped);

    // A model name with a blank finds its label.
    ASSERT_TRUE(m_sim.Sim().SetParamValue("/par/rcv/model", "Vireo Z3 Pro"));
    WriteSetup("Vireo Z3 Pro");
    EXPECT_FALSE(Run("setup.kvc"));
    EXPECT_EQ(m_interpreter.LastOutcome(), Outcome::Completed) << m_host.LastStatus().toStdString();
    EXPECT_TRUE(m_host.output.contains("> Done!"));
}

TEST_F(ScriptInterpreterTest, SetupHeaderOnTcpPortOnlyResets)
{
    RegisterInProcessDevice("manual-tcp", SimPortDevice(m_sim.SimPtr(), "/dev/tcp/a"));
    {
        CConnection connection;
        ASSERT_TRUE(connection.Open(QString(), QString(), QString(), "Nemola-M"));
        CReceiverHolder holder;
        ASSERT_TRUE(holder.GetReceiver()->Open(&connection, "SIM:manual-tcp"));
        ASSERT_TRUE(holder.Send("print,/cur/term"));
        ASSERT_TRUE(holder.Reply().contains("/dev/tcp/a"));

        WriteSetup(m_model);
        m_sim.Sim().ClearReceivedCommands();
        CScriptTestHost host(&holder, m_dir.path());
        CScriptInterpreter interpreter(host);
        EXPECT_FALSE(interpreter.RunScript("setup.kvc", 0));
        EXPECT_EQ(interpreter.LastOutcome(), Outcome::Completed) << host.LastStatus().toStdString();
        EXPECT_TRUE(host.output.contains("> Done!"));
        EXPECT_TRUE(Received("init,/par/"));
        EXPECT_FALSE(Received("/par/cur/term/rate"));
        EXPECT_EQ(host.waited, 5000 + 300);
        holder.CloseReceiver();
    }
    UnregisterInProcessDevice("manual-tcp");
}

}  // namespace
