// A setup compared with a receiver: notation-only value comparison, the dry run that changes nothing, and the
// apply that proves itself by reading back, against the simulator and against replies it never gives.

#include "../link/FakeDevice.h"
#include "ScriptTestHost.h"

#include "config/ScriptWriter.h"
#include "link/Connection.h"
#include "link/InProcessDevice.h"
#include "manual/SetupCheck.h"
#include "manual/SetupValues.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct ValueCase
{
    const char* setup;
    const char* receiver;
    bool same;
};

TEST(SetupValuesTest, OnlyNotationIsNormalised)
{
    const ValueCase cases[] = {
        // numbers as decimal values
        {"1.00", "1", true},
        {"+5", "5", true},
        {"-0.0", "0", true},
        {"007.50", "7.5", true},
        {".5", "0.5", true},
        {"0.333", "0.33", false},
        {"5", "-5", false},
        {"1e3", "1000", false},  // no exponents: a text, compared as such
        // keywords without regard to case, everything else exactly
        {"ON", "on", true},
        {"W84", "w84", true},
        {"/dev/ser/A", "/dev/ser/a", true},
        {"on", "off", false},
        {"N50d05m13.2s", "N50d05m13.20000s", false},
        // quoted texts exactly, the quotes being notation
        {"\"LOG\"", "\"LOG\"", true},
        {"\"LOG\"", "LOG", true},
        {"\"Log\"", "\"LOG\"", false},
        {"\"a,b\"", "a,b", false},  // a quoted comma is text, a bare one separates items
        {"\"\"", "", true},
        // lists item by item, braces and blanks being notation
        {"{y, n,y}", "{y,n,y}", true},
        {"y,n", "{y,n}", true},
        {"{on}", "on", true},
        {"{}", "", true},
        {"{1.0,{2,+3}}", "{1,{2.00,3}}", true},
        {"{y,n}", "{y,n,n}", false},
        {"{y,n}", "{n,y}", false},
        {"{{a},{b}}", "{a},{b}", true},
        {"{a},{b}", "{a,b}", false},
        // unbalanced text is compared as it stands
        {"{a,b", "{a,b", true},
        {"{a,b", "{a,c", false},
    };
    for (const ValueCase& c : cases) {
        EXPECT_EQ(SameSetupValue(c.setup, c.receiver), c.same) << c.setup << " vs " << c.receiver;
        EXPECT_EQ(SameSetupValue(c.receiver, c.setup), c.same) << c.receiver << " vs " << c.setup;
    }
    // Hostile nesting does not recurse without end.
    const QString deep = QString(5000, '{') + "x" + QString(5000, '}');
    EXPECT_TRUE(SameSetupValue(deep, deep));
    EXPECT_EQ(CanonicalDecimal("+01.50"), "1.5");
    EXPECT_TRUE(CanonicalDecimal("1.2.3").isNull());
    EXPECT_TRUE(CanonicalDecimal("-").isNull());
}

TEST(SetupValuesTest, PortMessagesReadLikeThePortsPageAndCompareAsSets)
{
    QStringList items;
    EXPECT_TRUE(ReadPortMessageItems("{kvs/PG={1.00,0.00,-1,0},kvs/RT={1.00,0.00,-1,0}}", &items));
    EXPECT_EQ(items, (QStringList{"kvs/PG:{1.00,0.00,-1,0}", "kvs/RT:{1.00,0.00,-1,0}"}));
    EXPECT_TRUE(ReadPortMessageItems("{}", &items));
    EXPECT_TRUE(items.isEmpty());
    // Anything but one whole list is no port that outputs nothing.
    for (const char* garbled : {"", "no brace", "{A={1},junk}", "{A={1},}", "{A={1}"}) {
        EXPECT_FALSE(ReadPortMessageItems(garbled, &items)) << garbled;
        EXPECT_TRUE(items.isEmpty()) << garbled;
    }

    const QStringList receiver{"kvs/PG:{1.00,0.00,-1,0}", "kvs/RT:{1.00,0.00,-1,0}"};
    struct
    {
        QStringList setup;
        bool exact;
        bool same;
    } cases[] = {
        {{"kvs/RT:{1.00,0.00,-1,0}", "kvs/PG:{1.00,0.00,-1,0}"}, true, true},  // order is no setting
        {{"/msg/kvs/~~:{1,0,-1,0}", "kvs/pg:{1}"}, true, true},                // names and options as written by hand
        {{"kvs/PG:1.00"}, false, true},                                        // a setup that only adds
        {{"kvs/PG:1.00"}, true, false},                                        // one that disables the others first
        {{"kvs/PG:{2.00}", "kvs/RT:{1.00}"}, true, false},
        {{"kvs/PG:{1.00}", "kvs/PG:{1.00}"}, false, false},  // one output can't match twice
        {{}, true, false},
        {{}, false, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SameMessages(c.setup, receiver, c.exact), c.same) << c.setup.join(' ').toStdString();
    }
}

TEST(SetupPlanTest, LastSetWinsPortsGroupAndActionsStayUncompared)
{
    const auto statement = [](const QString& line) {
        const QString command = line.startsWith('%') ? line.section('%', 2) : line;
        return SetupStatement{line, command};
    };
    std::vector<SetupStatement> statements;
    for (const char* line : {"%init%init,/par/", "%a%set,/par/pos/elm,5", "%b%set,pos/pdop,6.5",
                             "%dm,/dev/ser/b%dm,/dev/ser/b", "%em,/dev/ser/b,kvs/PG:{1}%em,/dev/ser/b,kvs/PG:{1}",
                             "%a%set,/par/pos/elm,7", "set,/par/reset,yes", "set,/par/x,1&&set,/par/y,2",
                             "em,,def:{1.00}", "init,/dev/nvm/a", "create,\"/log/a\"", "set,/par/lpm,{a,b}"}) {
        statements.push_back(statement(QString::fromLatin1(line)));
    }
    const SetupPlan plan = PlanSetup(statements);
    ASSERT_EQ(plan.items.size(), 4u);
    EXPECT_EQ(plan.items[0].path, "/par/pos/pdop");  // relative paths are the receiver's /par/ ones
    EXPECT_EQ(plan.items[1].path, "/par/out/dev/ser/b");
    EXPECT_TRUE(plan.items[1].isPort);
    EXPECT_TRUE(plan.items[1].exact);
    EXPECT_EQ(plan.items[1].lines.size(), 2);
    EXPECT_EQ(plan.items[1].value, "kvs/PG:{1}");
    EXPECT_EQ(plan.items[2].path, "/par/pos/elm");  // at its last set, with that set's line only
    EXPECT_EQ(plan.items[2].value, "7");
    EXPECT_EQ(plan.items[2].lines, QStringList{"%a%set,/par/pos/elm,7"});
    EXPECT_EQ(plan.items[3].value, "{a,b}");
    EXPECT_EQ(plan.resetTrees, QStringList{"/par/"});
    EXPECT_EQ(plan.uncompared, (QStringList{"set,/par/reset,yes", "set,/par/x,1&&set,/par/y,2", "em,,def:{1.00}",
                                            "init,/dev/nvm/a", "create,\"/log/a\""}));
}

// A setup as the configuration sheet writes it: the header, then page lines.
QString SetupText(const QString& model, const QStringList& page)
{
    return (SetupScriptHeader("Version 0.1.0 ", "(test)", model) + QStringList{"@echo General parameters"} + page +
            QStringList{"@echo Done!", "# End of script", ""})
        .join("\r\n");
}

class SetupCheckTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(m_sim.IsOpen());
        m_model = m_sim.Sim().Param("/par/rcv/model");
    }
    QString Write(const QString& text, const QString& name = "setup.kvc")
    {
        WriteLatin1Script(m_dir.filePath(name), text);
        return m_dir.filePath(name);
    }
    SetupComparison Compare(const QStringList& page, std::function<bool()> stop = {})
    {
        const QString path = Write(SetupText(m_model, page));
        m_sim.Sim().ClearReceivedCommands();
        return CSetupCheck(m_sim.Holder(), std::move(stop)).Compare(path);
    }
    // Statements the receiver got that are not reads.
    QStringList Changes()
    {
        QStringList changes;
        for (const QString& s : m_sim.Sim().ReceivedCommands()) {
            const QString command = s.startsWith('%') ? s.section('%', 2) : s;
            if (!command.startsWith("print,") && !command.startsWith("list,")) {
                changes << command;
            }
        }
        return changes;
    }
    static const CompareRow& Row(const SetupComparison& c, const QString& path)
    {
        for (const CompareRow& row : c.rows) {
            if (row.item.path == path) {
                return row;
            }
        }
        static const CompareRow none;
        ADD_FAILURE() << "no row " << path.toStdString();
        return none;
    }

    QTemporaryDir m_dir;
    CSimHarness m_sim;
    QString m_model;
};

TEST_F(SetupCheckTest, DryRunChangesNothingFollowsTheHeaderAndFindsWhatDiffers)
{
    m_sim.Sim().SetParamValue("/par/pos/elm", "12");
    Write("%/par/pos/pdop%set,/par/pos/pdop,30.00\n", "more.kvc");
    const SetupComparison c = Compare({"%/par/pos/elm%set,/par/pos/elm,+5", "@call more.kvc",
                                       "%/par/ant/inp%set,/par/ant/inp,AUTO", "@:loop", "@sleep 100000"});
    EXPECT_EQ(c.end, CheckEnd::Done) << c.endText.toStdString();
    // Nothing set, nothing reset, no output stopped: only reads went out.
    EXPECT_EQ(Changes(), QStringList());
    // On its serial port the header keeps the port's rate and flow control: those are set, and match.
    QStringList paths;
    for (const CompareRow& row : c.rows) {
        paths << row.item.path;
    }
    EXPECT_EQ(paths, (QStringList{"/par/cur/term/rate", "/par/cur/term/rtscts", "/par/pos/elm", "/par/pos/pdop",
                                  "/par/ant/inp"}));
    EXPECT_EQ(Row(c, "/par/pos/elm").state, RowState::Differs);
    EXPECT_EQ(Row(c, "/par/pos/elm").receiver, "12");
    EXPECT_TRUE(Row(c, "/par/pos/elm").selected);
    for (const char* same : {"/par/cur/term/rate", "/par/cur/term/rtscts", "/par/pos/pdop", "/par/ant/inp"}) {
        EXPECT_EQ(Row(c, same).state, RowState::Same) << same;
        EXPECT_FALSE(Row(c, same).selected);
    }
    // The other ports' branches were skipped; the reset was seen and what it alone covers counted.
    EXPECT_TRUE(c.dryRun.skipped.contains("%init parameters%init,/par/"));
    EXPECT_FALSE(c.dryRun.skipped.contains("%/par/pos/elm%set,/par/pos/elm,+5"));
    EXPECT_EQ(c.plan.resetTrees, QStringList{"/par/"});
    EXPECT_GT(c.resetOnly, 100);
    EXPECT_TRUE(ComparisonSummary(c).contains(QString::number(c.resetOnly) + " it does not set are not compared"));
    EXPECT_EQ(MismatchLine(Row(c, "/par/pos/elm")), "/par/pos/elm: setup +5, receiver 12");

    // Applied with the script's own line, and proved by reading back.
    SetupComparison applied = c;
    m_sim.Sim().ClearReceivedCommands();
    CSetupCheck(m_sim.Holder()).Apply(&applied);
    EXPECT_EQ(Changes(), QStringList{"set,/par/pos/elm,+5"});
    EXPECT_EQ(Row(applied, "/par/pos/elm").state, RowState::Verified);
    EXPECT_EQ(m_sim.Sim().Param("/par/pos/elm"), "5");
}

TEST_F(SetupCheckTest, HeaderStopsLoopsAndUnreadableScriptsEndHonestly)
{
    WriteLatin1Script(m_dir.filePath("other.kvc"), SetupText("Other-Model", {"%/par/lpm%set,/par/lpm,on"}));
    SetupComparison c = CSetupCheck(m_sim.Holder()).Compare(m_dir.filePath("other.kvc"));
    EXPECT_EQ(c.end, CheckEnd::HeaderStopped);
    EXPECT_TRUE(c.endText.contains("This script was generated for Other-Model receiver")) << c.endText.toStdString();
    EXPECT_TRUE(c.rows.empty());

    const QString loop = Write(SetupText(m_model, {"@:again", "%/par/lpm%set,/par/lpm,on", "@goto again"}));
    CSetupCheck check(m_sim.Holder());
    check.maxDryRunSteps = 1000;
    c = check.Compare(loop);
    EXPECT_EQ(c.end, CheckEnd::ScriptFailed);
    EXPECT_TRUE(c.dryRun.tooManySteps);

    c = CSetupCheck(m_sim.Holder()).Compare(m_dir.filePath("absent.kvc"));
    EXPECT_EQ(c.end, CheckEnd::ScriptFailed);
    EXPECT_TRUE(c.endText.startsWith("Unable to open")) << c.endText.toStdString();

    c = Compare({"%/par/lpm%set,/par/lpm,on"}, [] { return true; });
    EXPECT_EQ(c.end, CheckEnd::Stopped);
    EXPECT_EQ(Changes(), QStringList());
}

// A receiver whose answers the simulator never gives: values split over frames, odd errors, silence.
class SetupCheckFakeTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_device->SetResponder([this](const Statement& s) -> std::optional<std::vector<CFakeDevice::Reply>> {
            const QString text = s.text;
            if (text == "print,/par/rcv/model") {
                return std::vector<CFakeDevice::Reply>{{"RE", "M1"}};
            }
            if (text == "print,/cur/term") {
                return std::vector<CFakeDevice::Reply>{{"RE", "/dev/usb/a"}};
            }
            if (text.startsWith("print,/par/silent") && silent) {
                return std::nullopt;
            }
            if (text == "print,/par/long") {
                return std::vector<CFakeDevice::Reply>{{"RE", " {a, b} "}};
            }
            if (text == "print,/par/out/dev/ser/b:on") {
                return std::vector<CFakeDevice::Reply>{{"RE", "garbled"}};
            }
            if (text == "print,/par/odd") {
                return std::vector<CFakeDevice::Reply>{{"ER", "{9,,busy}"}};
            }
            if (text.startsWith("print,")) {
                return std::vector<CFakeDevice::Reply>{{"RE", "1"}};
            }
            if (text.startsWith("list,")) {
                return std::vector<CFakeDevice::Reply>{{"RE", "{x,y,../../etc,long}"}};
            }
            return std::vector<CFakeDevice::Reply>{{"RE", ""}};
        });
        RegisterInProcessDevice(m_device->Key(), m_device);
        m_connection.Open(QString(), QString(), QString(), QStringLiteral("test"));
        m_connection.SetTimeout(3);
        ASSERT_TRUE(m_holder.GetReceiver()->Open(&m_connection, m_device->Name(), 0));
    }
    void TearDown() override
    {
        m_holder.CloseReceiver();
        UnregisterInProcessDevice(m_device->Key());
    }

    QTemporaryDir m_dir;
    std::shared_ptr<CFakeDevice> m_device = std::make_shared<CFakeDevice>("setup-check");
    CConnection m_connection;
    CReceiverHolder m_holder;
    bool silent = false;
};

TEST_F(SetupCheckFakeTest, OddValuesOddErrorsAndASilentReceiver)
{
    const QString path = m_dir.filePath("s.kvc");
    WriteLatin1Script(path, SetupText("M1", {"%a%set,/par/long,{a,b}", "%b%set,/par/odd,1", "%c%set,/par/n,1.0",
                                             "%d%set,/par/silent,1", "%e%dm,/dev/ser/b"}));
    SetupComparison c = CSetupCheck(m_holder).Compare(path);
    ASSERT_EQ(c.end, CheckEnd::Done) << c.endText.toStdString();
    ASSERT_EQ(c.rows.size(), 5u);
    EXPECT_EQ(c.rows[0].state, RowState::Same) << c.rows[0].receiver.toStdString();
    EXPECT_EQ(c.rows[1].state, RowState::Unreadable);
    EXPECT_EQ(RowStateText(c.rows[1]), "unreadable: {9,,busy}");
    EXPECT_EQ(c.rows[2].state, RowState::Same);
    // A garbled message list is not taken for a port that outputs nothing, as the setup wants it.
    EXPECT_EQ(RowStateText(c.rows[4]), "unreadable: not a message list: garbled");
    // A listing that never ends in parameters is capped, not followed for ever; odd names are not asked for.
    EXPECT_EQ(c.resetOnly, -1);
    EXPECT_TRUE(m_device->Received().filter("../").isEmpty());

    // The receiver goes silent during the read-back: the run ends as a link failure, nothing passes for verified.
    silent = true;
    c.rows[3].selected = true;
    CSetupCheck(m_holder).Apply(&c);
    EXPECT_EQ(c.end, CheckEnd::LinkFailed);
    EXPECT_EQ(c.rows[3].state, RowState::Unreadable);
    EXPECT_FALSE(c.endText.isEmpty());
}

}  // namespace
