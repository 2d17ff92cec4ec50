#include "ScriptTestHost.h"

#include "manual/ScriptInterpreter.h"
#include "support/SimHarness.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class ScriptInterpreterTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(m_sim.IsOpen());
    }

    QString Folder() const { return m_dir.path(); }
    QString PathOf(const QString& name) const { return m_dir.filePath(name); }
    void Write(const QString& name, const QString& text) { WriteLatin1Script(PathOf(name), text); }

    // Runs `invocation` at the top level; returns the end-all flag.
    bool Run(const QString& invocation)
    {
        m_sim.Sim().ClearReceivedCommands();
        return m_interpreter.RunScript(invocation, 0);
    }
    QString Model() const { return m_sim.Sim().Param(QStringLiteral("/par/rcv/model")); }

    QTemporaryDir m_dir;
    mutable CSimHarness m_sim;
    CScriptTestHost m_host{&m_sim.Holder(), m_dir.path()};
    CScriptInterpreter m_interpreter{m_host};
};

TEST_F(ScriptInterpreterTest, TaggedAndUntaggedRepliesFillAtZero)
{
    Write(QStringLiteral("tags.kvc"), QStringLiteral("%Receiver model%print,/par/rcv/model\n"
                                                     "@echo tagged=[@0]\n"
                                                     "print,/par/rcv/model\n"
                                                     "@echo untagged=[@0]\n"));
    EXPECT_FALSE(Run(QStringLiteral("tags.kvc")));
    ASSERT_FALSE(Model().isEmpty());
    EXPECT_TRUE(m_host.output.contains(QStringLiteral(">%Receiver model%print,/par/rcv/model")));
    EXPECT_TRUE(m_host.output.contains(QStringLiteral("> tagged=[%1]").arg(Model())));
    EXPECT_TRUE(m_host.output.contains(QStringLiteral("> untagged=[%1]").arg(Model())));
    // The whole reply is printed, header and tag included.
    EXPECT_TRUE(m_host.output.filter(QStringLiteral("%Receiver model%") + Model()).size() == 1);
    EXPECT_EQ(m_host.LastStatus(), QString());
    EXPECT_EQ(m_interpreter.LastOutcome(), CScriptInterpreter::Outcome::Completed);
}

TEST_F(ScriptInterpreterTest, TopLevelRunDrivesControlsButtonAndStatus)
{
    Write(QStringLiteral("plain.kvs"), QStringLiteral("# nothing\n"));
    EXPECT_FALSE(Run(QStringLiteral("plain")));
    EXPECT_EQ(m_host.controls, (QList<bool>{false, true}));
    EXPECT_EQ(m_host.buttonCaptions, (QStringList{"Stop script", "Load script"}));
    EXPECT_TRUE(m_host.buttonEnabled);
    EXPECT_EQ(m_host.statuses.first(), QStringLiteral("Executing %1...").arg(PathOf("plain.kvs")));
    EXPECT_TRUE(m_host.statuses.contains(QStringLiteral("# nothing")));
    EXPECT_EQ(m_host.LastStatus(), QString());

    // A file that can't be opened changes no control and ends every caller.
    m_host.controls.clear();
    m_host.buttonCaptions.clear();
    EXPECT_TRUE(Run(QStringLiteral("missing")));
    EXPECT_EQ(m_host.LastStatus(), QStringLiteral("Unable to open ") + PathOf("missing.kvs"));
    EXPECT_TRUE(m_host.controls.isEmpty());
    EXPECT_TRUE(m_host.buttonCaptions.isEmpty());
    EXPECT_EQ(m_interpreter.LastOutcome(), CScriptInterpreter::Outcome::OpenFailed);
}

TEST_F(ScriptInterpreterTest, SetAndDefaultChangeOnlyArgumentSlots)
{
    Write(QStringLiteral("vars.kvc"), QStringLiteral("@set @3 \"a@0b\"\n"
                                                     "print,/par/rcv/model\n"
                                                     "@echo quoted=@3\n"
                                                     "@default @1 never\n"
                                                     "@default @4 given\n"
                                                     "@default @5 \"kept\"\n"
                                                     "@set @0 changed\n"
                                                     "@set speed 5\n"
                                                     "@set @6 x y\n"
                                                     "@echo @1|@2|@4|@5|@6\n"
                                                     "@echo zero=@0\n"));
    EXPECT_FALSE(Run(QStringLiteral("vars.kvc first")));
    // The reference inside the quotes was stored, and expands when used.
    EXPECT_TRUE(m_host.output.contains(QStringLiteral("> quoted=a%1b").arg(Model())));
    EXPECT_TRUE(m_host.output.contains(QStringLiteral("> first||given|\"kept\"|")));
    EXPECT_TRUE(m_host.output.contains(QStringLiteral("> zero=") + Model()));
}

TEST_F(ScriptInterpreterTest, GotoFindsLabelsWithoutRegardToCaseAlsoInComments)
{
    Write(QStringLiteral("jump.kvc"), QStringLiteral("@goto Done\n"
                                                     "@echo skipped 1\n"
                                                     "# a comment that ends with @:Done\n"
                                                     "@echo after comment\n"
                                                     "@goto AGAIN\n"
                                                     "@echo skipped 2\n"
                                                     "@:again\n"
                                                     "@echo after label\n"
                                                     "@goto nowhere\n"
                                                     "@echo after unknown label\n"
                                                     "%m%print,/par/rcv/model\n"
                                                     "@goto Is@0\n"
                                                     "@echo skipped 3\n"
                                                     "@:Is%1\n"
                                                     "@echo model label\n"
                                                     "@goto Done extra\n"
                                                     "@echo wrong count ignored\n")
                                          .arg(Model().toUpper()));
    EXPECT_FALSE(Run(QStringLiteral("jump.kvc")));
    const QStringList printed = m_host.Printed();
    EXPECT_TRUE(printed.filter(QStringLiteral("skipped")).isEmpty()) << printed.join('\n').toStdString();
    for (const char* line :
         {"> after comment", "> after label", "> after unknown label", "> model label", "> wrong count ignored"}) {
        EXPECT_TRUE(printed.contains(QString::fromLatin1(line))) << line;
    }
}

TEST_F(ScriptInterpreterTest, GotoCanJumpBackwards)
{
    // A loop that the script leaves through a label reached by a later value of @1.
    Write(QStringLiteral("loop.kvc"), QStringLiteral("@:top\n"
                                                     "@echo pass @1\n"
                                                     "@goto next@1\n"
                                                     "@:next\n"
                                                     "@set @1 2\n"
                                                     "@goto top\n"
                                                     "@:next2\n"
                                                     "@echo out\n"));
    EXPECT_FALSE(Run(QStringLiteral("loop.kvc")));
    EXPECT_EQ(m_host.Printed().filter(QStringLiteral("> ")), (QStringList{"> pass ", "> pass 2", "> out"}));
}

TEST_F(ScriptInterpreterTest, CallResolvesNamesAndGivesEachLevelItsOwnSlots)
{
    Write(QStringLiteral("main.kvc"), QStringLiteral("@call setup\n"
                                                     "@call setup.kvc 115200 on\n"
                                                     "@echo main @0 @1\n"));
    Write(QStringLiteral("setup.kvs"), QStringLiteral("@echo kvs [@0] [@1]\n@set @1 changed\n"));
    Write(QStringLiteral("setup.kvc"), QStringLiteral("@echo kvc [@0] [@1] [@2]\n@stop\n@echo not reached\n"));
    EXPECT_FALSE(Run(QStringLiteral("main.kvc mine")));
    EXPECT_EQ(m_host.Printed().filter(QStringLiteral("> ")),
              (QStringList{"> kvs [setup] []", "> kvc [setup.kvc] [115200] [on]", "> main main.kvc mine"}));
    // Only the top level enables and disables the controls.
    EXPECT_EQ(m_host.controls, (QList<bool>{false, true}));
    EXPECT_EQ(m_host.buttonCaptions.count(QStringLiteral("Stop script")), 3);
}

TEST_F(ScriptInterpreterTest, FailureInCalledScriptEndsCallersAndStaysOnStatusLine)
{
    Write(QStringLiteral("outer.kvc"), QStringLiteral("@call inner.kvc\n@echo outer goes on\n"));
    Write(QStringLiteral("inner.kvc"), QStringLiteral("@call absent\n@echo inner goes on\n"));
    EXPECT_TRUE(Run(QStringLiteral("outer.kvc")));
    EXPECT_TRUE(m_host.Printed().filter(QStringLiteral("goes on")).isEmpty());
    EXPECT_EQ(m_host.LastStatus(), QStringLiteral("Unable to open ") + PathOf("absent.kvs"));

    Write(QStringLiteral("exit.kvc"), QStringLiteral("@call bye.kvc\n@echo not after exit\n"));
    Write(QStringLiteral("bye.kvc"), QStringLiteral("@exit\n"));
    EXPECT_TRUE(Run(QStringLiteral("exit.kvc")));
    EXPECT_TRUE(m_host.Printed().filter(QStringLiteral("not after exit")).isEmpty());
    EXPECT_EQ(m_interpreter.LastOutcome(), CScriptInterpreter::Outcome::Completed);
}

TEST_F(ScriptInterpreterTest, SelfCallStopsAboveDepth200)
{
    Write(QStringLiteral("self.kvs"), QStringLiteral("@call self\n"));
    EXPECT_TRUE(Run(QStringLiteral("self")));
    EXPECT_EQ(m_host.statuses.filter(QStringLiteral("Executing ")).size(), 201);
    EXPECT_EQ(m_host.LastStatus(), QStringLiteral("Too deep call level (200)!"));
    EXPECT_EQ(m_interpreter.LastOutcome(), CScriptInterpreter::Outcome::TooDeep);
    EXPECT_EQ(m_host.controls, (QList<bool>{false, true}));
}

TEST_F(ScriptInterpreterTest, ErrorReplyStopsOnlyWithStopOnErrorsOn)
{
    Write(QStringLiteral("errors.kvc"), QStringLiteral("print,/par/rcv/model\n"
                                                       "@stoponerrors off\n"
                                                       "print,/par/no/such\n"
                                                       "@echo after=[@0]\n"
                                                       "@stoponerrors ON\n"
                                                       "print,/par/no/such\n"
                                                       "@echo not reached\n"));
    EXPECT_TRUE(Run(QStringLiteral("errors.kvc")));
    const QStringList errors = m_host.output.filter(QStringLiteral("ER"));
    EXPECT_EQ(errors.size(), 2) << m_host.output.join('|').toStdString();
    EXPECT_TRUE(m_host.output.contains(QStringLiteral("> after=[]")));
    EXPECT_FALSE(m_host.output.contains(QStringLiteral("> not reached")));
    EXPECT_EQ(m_host.output.last(), QStringLiteral(">Stop receiver reply : An error reply from the receiver"));
    EXPECT_EQ(m_host.LastStatus(), QStringLiteral("An error reply from the receiver"));
    EXPECT_EQ(m_interpreter.LastOutcome(), CScriptInterpreter::Outcome::ErrorReply);
}

TEST_F(ScriptInterpreterTest, SleepWaitsOnTheTickAndEndsOnStopRequest)
{
    Write(QStringLiteral("nap.kvc"), QStringLiteral("@sleep\n@sleep 250ms\n@sleep soon\n@echo woke\n"));
    EXPECT_FALSE(Run(QStringLiteral("nap.kvc")));
    EXPECT_EQ(m_host.waited, 1000 + 250 + 1000);
    EXPECT_TRUE(m_host.statuses.contains(QStringLiteral("Sleeping: 1000 ms left")));
    EXPECT_TRUE(m_host.statuses.contains(QStringLiteral("Sleeping: 10 ms left")));
    EXPECT_TRUE(m_host.output.contains(QStringLiteral("> woke")));

    Write(QStringLiteral("long.kvc"), QStringLiteral("@sleep 5000\n@echo not reached\n"));
    m_host.waited = 0;
    int calls = 0;
    m_host.onPendingInput = [&calls](CScriptTestHost& host) {
        if (++calls == 4) {
            host.stop = true;  // "Stop script" pressed during the wait
        }
    };
    m_host.output.clear();
    EXPECT_FALSE(Run(QStringLiteral("long.kvc")));
    EXPECT_LE(m_host.waited, 30);
    EXPECT_FALSE(m_host.output.contains(QStringLiteral("> not reached")));
    EXPECT_EQ(m_host.LastStatus(), QStringLiteral("Aborted by user!"));
    EXPECT_EQ(m_interpreter.LastOutcome(), CScriptInterpreter::Outcome::Aborted);
}

TEST_F(ScriptInterpreterTest, StopRequestIsClearedAtStartAndEndsCalledAndCallingLevels)
{
    Write(QStringLiteral("top.kvc"), QStringLiteral("@call sub.kvc\n@echo top goes on\n"));
    Write(QStringLiteral("sub.kvc"), QStringLiteral("@echo one\n@echo two\n@echo three\n"));
    m_host.stop = true;  // left over from an earlier run
    int calls = 0;
    m_host.onPendingInput = [&calls](CScriptTestHost& host) {
        if (++calls == 3) {
            host.stop = true;
        }
    };
    EXPECT_FALSE(Run(QStringLiteral("top.kvc")));
    EXPECT_EQ(m_host.Printed().filter(QStringLiteral("> ")), QStringList{"> one"});
    EXPECT_EQ(m_host.LastStatus(), QStringLiteral("Aborted by user!"));
}

TEST_F(ScriptInterpreterTest, EchoRules)
{
    Write(QStringLiteral("echo.kvc"), QStringLiteral("# shown with its mark\n"
                                                     "@:label\n"
                                                     "@echo on\n"
                                                     "@echo\n"
                                                     "@ECHO Upper case\n"
                                                     "@clear\n"
                                                     "@echo off\n"
                                                     "print,/par/rcv/model\n"
                                                     "# hidden\n"
                                                     "@echo still printed\n"
                                                     "@Echo On\n"
                                                     "@timeout 10000\n"));
    EXPECT_FALSE(Run(QStringLiteral("echo.kvc")));
    EXPECT_EQ(m_host.Printed(), (QStringList{"># shown with its mark", ">@:label", ">", "> Upper case", ">@clear",
                                             "> still printed", ">@timeout 10000"}));
    EXPECT_TRUE(m_host.output.contains(QStringLiteral("<clear>")));
    // With echo off the command is not echoed, but its reply is printed.
    EXPECT_EQ(m_host.output.filter(Model()).size(), 1);
}

TEST_F(ScriptInterpreterTest, FileFormsAndLineEnds)
{
    QByteArray utf16("\xFF\xFE", 2);
    for (const char16_t c : u"@echo Gr\u00fc\u00dfe \u20ac\r\n@echo last without line end") {
        if (c) {
            utf16.append(char(c & 0xFF));
            utf16.append(char(c >> 8));
        }
    }
    WriteBytes(PathOf(QStringLiteral("wide.kvc")), utf16);
    EXPECT_FALSE(Run(QStringLiteral("wide.kvc")));
    EXPECT_EQ(m_host.Printed(),
              (QStringList{QString::fromUtf16(u"> Gr\u00fc\u00dfe \u20ac"), "> last without line end"}));

    m_host.output.clear();
    WriteBytes(PathOf(QStringLiteral("narrow.kvc")), QByteArray("@echo 25\xB0\n\n   \r\n  @echo mixed  \r\n@echo end"));
    EXPECT_FALSE(Run(QStringLiteral("narrow.kvc")));
    EXPECT_EQ(m_host.Printed(), (QStringList{QString::fromUtf16(u"> 25\u00b0"), "> mixed", "> end"}));
}

TEST_F(ScriptInterpreterTest, OverlongLinesAndEndlessExpansionAreRefused)
{
    const QString longCommand = QStringLiteral("print,/par/") + QString(520, QLatin1Char('x'));
    Write(QStringLiteral("long.kvc"), QStringLiteral("@echo before\n%1\n@echo after\n").arg(longCommand));
    EXPECT_TRUE(Run(QStringLiteral("long.kvc")));
    EXPECT_TRUE(m_host.sent.isEmpty());
    EXPECT_FALSE(m_host.output.contains(QStringLiteral("> after")));
    EXPECT_EQ(m_host.LastStatus(), CScriptInterpreter::LineTooLongText());
    EXPECT_EQ(m_host.output.last(), QStringLiteral(">Stop script line : ") + CScriptInterpreter::LineTooLongText());
    EXPECT_EQ(m_interpreter.LastOutcome(), CScriptInterpreter::Outcome::LineRefused);

    // 511 characters are fine; growing past them by substitution is not.
    const QString wide(300, QLatin1Char('w'));
    Write(QStringLiteral("grow.kvc"),
          QStringLiteral("@echo %1\n@set @1 %2\n@echo @1@1\n@echo after\n").arg(QString(505, QLatin1Char('e')), wide));
    m_host.output.clear();
    EXPECT_TRUE(Run(QStringLiteral("grow.kvc")));
    EXPECT_EQ(m_host.Printed().first(), QStringLiteral("> ") + QString(505, QLatin1Char('e')));
    EXPECT_FALSE(m_host.output.contains(QStringLiteral("> after")));
    EXPECT_EQ(m_host.LastStatus(), CScriptInterpreter::LineTooLongText());

    // A value holding its own reference.
    Write(QStringLiteral("self.kvc"), QStringLiteral("@set @1 \"@1\"\nprint,@1\n@echo after\n"));
    m_host.output.clear();
    m_host.sent.clear();
    EXPECT_TRUE(Run(QStringLiteral("self.kvc")));
    EXPECT_TRUE(m_host.sent.isEmpty());
    EXPECT_EQ(m_host.LastStatus(), CScriptInterpreter::EndlessExpansionText());

    // A label that never ends its expansion cannot hang a jump: it just does not match.
    Write(QStringLiteral("label.kvc"),
          QStringLiteral("@set @1 \"@1\"\n@goto x\n@echo reached\n@stop\n@:x@1\n@echo jumped\n"));
    m_host.output.clear();
    EXPECT_FALSE(Run(QStringLiteral("label.kvc")));
    EXPECT_TRUE(m_host.output.contains(QStringLiteral("> reached")));
    EXPECT_FALSE(m_host.output.contains(QStringLiteral("> jumped")));
}

}  // namespace
