// The Event and Advanced pages against the simulator: the PPS and event rules, the synchronisation, the range
// checks of the tracking sub-pages, the untagged frequency modes and the bounded external-frequency poll.

#include "PageTestSupport.h"

#include "config/EVent.h"
#include "config/Position.h"
#include "config/tracking/Advanced.h"
#include "config/tracking/ExternalFrequency.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace {

using EventTest = CPageTest<CEVent>;
using AdvancedTest = CPageTest<CAdvanced>;

}  // namespace

TEST_F(EventTest, DisabledOutputsSendOnlyTheirSwitch)
{
    Open();
    EXPECT_EQ(Enabled({W("ppsAPeriod"), W("ppsARise"), W("ppsATied"), W("eventALock"), W("eventARepeat")}),
              QStringLiteral("00000"));
    EXPECT_FALSE(page->m_bChanged);
    EXPECT_EQ(Sets(Applied()), QStringList({"set,/par/dev/pps/a/out,off", "set,/par/dev/pps/b/out,off",
                                            "set,/par/dev/event/a/in,off", "set,/par/dev/event/b/in,off"}));

    W<QCheckBox>("ppsAEnabled")->click();
    W<QRadioButton>("ppsAUTCsu")->click();
    Type(W<QLineEdit>("ppsAOffsetNs"), "250");
    const QStringList ppsA{"set,/par/dev/pps/a/out,on",    "set,/par/dev/pps/a/per/ms,1000",
                           "set,/par/dev/pps/a/offs/ms,0", "set,/par/dev/pps/a/offs/ns,250",
                           "set,/par/dev/pps/a/edge,rise", "set,/par/dev/pps/a/time,utcsu",
                           "set,/par/dev/pps/a/mper,0",    "set,/par/dev/pps/a/tied,on"};
    const QStringList sets = Sets(Applied());
    EXPECT_EQ(sets.mid(0, 8), ppsA);
    EXPECT_EQ(Script(), AsScript(sets));

    // Without marked pulses the receiver has no "mper": its edit stays disabled and is not sent.
    Open("basic", {{"/par/dev/pps/b/out", "on"}});
    EXPECT_FALSE(W("ppsBMarked")->isEnabled());
    EXPECT_TRUE(W("ppsBPeriod")->isEnabled());
    EXPECT_TRUE(Applied().filter("mper").isEmpty());
}

TEST_F(EventTest, RepeatButtonAndSynchronisation)
{
    Open("full", {{"/par/dev/event/a/in", "on"}, {"/par/dev/event/b/in", "on"}});
    auto* lock = W<QCheckBox>("eventALock");
    auto* repeat = W<QPushButton>("eventARepeat");
    const std::pair<const char*, bool> clicks[] = {
        {"eventALock", true}, {"eventALock", false}, {"eventALock", true}, {"eventAEnabled", false}};
    for (const auto& [box, enabled] : clicks) {
        W<QCheckBox>(box)->click();
        EXPECT_EQ(repeat->isEnabled(), enabled) << box;
    }
    W<QCheckBox>("eventAEnabled")->click();
    EXPECT_TRUE(lock->isChecked() && repeat->isEnabled());

    // The receiver's live lock status, whole: "yes", not a cut "y".
    sim->Sim().ClearReceivedCommands();
    repeat->click();
    EXPECT_EQ(W<QLineEdit>("eventAStatus")->text(), QStringLiteral("yes"));
    EXPECT_TRUE(repeat->isEnabled());
    EXPECT_EQ(sheet.status, QString());

    sim->Sim().RefuseParam("/par/dev/event/b/lock");
    W<QCheckBox>("eventBLock")->click();
    sim->ClearSentStatements();
    W<QPushButton>("eventBRepeat")->click();
    EXPECT_EQ(sheet.status, QStringLiteral("Can't set clock synchronization with Event B"));
    EXPECT_FALSE(W("eventBRepeat")->isEnabled());
    EXPECT_EQ(sim->SentStatements(), QStringList{"%%set,/par/dev/event/b/lock,on"});
}

TEST_F(AdvancedTest, RangeChecksOfTheSubPages)
{
    const struct
    {
        int sub;
        const char* edit;
        const char* path;
        const char* text;
        const char* result;  // empty: accepted and sent as typed
    } cases[] = {
        {2, "pllBand", "/raw/pll/band", "1.9", "Value out of range (2 .. 50) for PLL bandwidth"},
        {2, "pllBand", "/raw/pll/band", "2", ""},
        {2, "pllBand", "/raw/pll/band", "50", ""},
        {2, "pllBand", "/raw/pll/band", "50.5", "Value out of range (2 .. 50) for PLL bandwidth"},
        {2, "pllBand", "/raw/pll/band", "wide", "Invalid value for PLL bandwidth"},
        {2, "pllOrder", "/raw/pll/order", "4", "Invalid value for PLL order"},
        {2, "pllOrder", "/raw/pll/order", "2x", "Invalid value for PLL order"},
        {2, "gdlBand", "/raw/cagdl/band", "0.1", ""},
        {3, "inFrequency", "/frq/in/frq", "4", "Value out of range (5...40) for external frequency"},
        {3, "inFrequency", "/frq/in/frq", "5", ""},
        {3, "inFrequency", "/frq/in/frq", "40", ""},
        {3, "inFrequency", "/frq/in/frq", "41", "Value out of range (5...40) for external frequency"},
        {3, "inFrequency", "/frq/in/frq", "10.5", "Value out of range (5...40) for external frequency"},
        {4, "rawRate", "/raw/msint", "9", "Value out of range [10,5000] for raw measurements update rate"},
        {4, "rawRate", "/raw/msint", "5000", ""},
        {4, "rawRate", "/raw/msint", "5001", "Value out of range [10,5000] for raw measurements update rate"},
        {4, "posRate", "/pos/msint", "fast", "Value out of range [10,5000] for position update rate"},
        {4, "codeSmoothing", "/raw/smi", "abc", "Value out of range [0,900] for code smooth interval"},
        {4, "dopplerSmoothing", "/raw/dopp/smi", "0.05", "Value out of range [0.1,100] for doppler smoothing method"},
        {4, "dopplerSmoothing", "/raw/dopp/smi", "0.1", ""},
        {4, "dopplerSmoothing", "/raw/dopp/smi", "100", ""},
        {4, "dopplerSmoothing", "/raw/dopp/smi", "100.5", "Value out of range [0.1,100] for doppler smoothing method"},
    };
    Open("full", {{"/par/frq/mode", "use"}});
    for (const auto& c : cases) {
        CTrackingPage* sub = page->SubPage(c.sub);
        page->QuerySettings();
        auto* edit = Child<QLineEdit>(sub, c.edit);
        ASSERT_NE(edit, nullptr) << c.edit;
        Type(edit, QString::fromLatin1(c.text));
        const QString result = sub->ApplySettings();
        const QString sent = QStringLiteral("set,/par%1,%2").arg(QLatin1String(c.path), QLatin1String(c.text));
        EXPECT_EQ(result, QString::fromLatin1(c.result)) << c.edit << " " << c.text;
        EXPECT_EQ(sim->TakeCommands().contains(sent), *c.result == 0) << c.edit << " " << c.text;
        sim->TakeCommands();
    }
}

TEST_F(AdvancedTest, FrequencyModeUntaggedThenFrequencyThenOscillator)
{
    Open("full", {{"/par/frq/mode", "use"}, {"/par/osc/mode", "locked"}});
    auto* ext = static_cast<CExternalFrequency*>(page->SubPage(3));
    // The mode decides the frequency typed in; the readings stay readable in every mode.
    EXPECT_EQ(Enabled({W("inFrequency"), W("inStatus"), W("outFrequency")}), QStringLiteral("111"));
    sim->ClearSentStatements();
    EXPECT_EQ(ext->ApplySettings(), QString());
    EXPECT_EQ(sim->SentStatements(),
              QStringList({"set,/par/frq/mode,use", "%%set,/par/frq/in/frq,10", "%%set,/par/osc/mode,locked"}));
    sheet.lines.clear();
    ext->WriteScript();
    EXPECT_EQ(sheet.lines,
              QStringList({"%/par/frq/mode%set,/par/frq/mode,use", "%/par/frq/in/frq%set,/par/frq/in/frq,10", "%Wait%",
                           "%/par/osc/mode%set,/par/osc/mode,locked"}));

    W<QRadioButton>("frqOutput")->click();
    EXPECT_EQ(Enabled({W("inFrequency"), W("inStatus"), W("outFrequency")}), QStringLiteral("011"));
    sim->Sim().RefuseParam("/par/frq/mode");
    EXPECT_EQ(ext->ApplySettings(), QStringLiteral("Can't set output frequency"));
    sim->Sim().RefuseParam("/par/frq/mode", false);
    sim->ClearSentStatements();
    EXPECT_EQ(ext->ApplySettings(), QString());
    EXPECT_EQ(sim->SentStatements().first(), QStringLiteral("set,/par/frq/mode,gen"));
}

TEST_F(AdvancedTest, ExternalFrequencyPollIsBounded)
{
    enum class Then { Nothing, HideOutput, LoseLink, CloseSheet };
    const struct
    {
        const char* profile;
        const char* mode;
        Then then;
        bool starts;
        int polls;     // ticks until it stops
        int readings;  // good readings counted
    } cases[] = {
        {"full", "use", Then::Nothing, true, 6, 6},
        {"full", "off", Then::Nothing, false, 0, 0},
        {"basic", "use", Then::Nothing, false, 0, 0},  // no output frequency to read
        {"full", "gen", Then::HideOutput, true, CExternalFrequency::kMaxPollAttempts, 0},
        {"full", "use", Then::LoseLink, true, 1, 0},
        {"full", "use", Then::CloseSheet, true, 0, 0},
    };
    for (const auto& c : cases) {
        Open(c.profile, {{"/par/frq/mode", c.mode}});
        auto* ext = static_cast<CExternalFrequency*>(page->SubPage(3));
        ASSERT_EQ(ext->ApplySettings(), QString());
        EXPECT_EQ(ext->IsPolling(), c.starts) << c.profile << " " << c.mode;
        if (c.then == Then::HideOutput) {
            sim->Sim().HideParam("/par/frq/out/frq");
        } else if (c.then == Then::LoseLink) {
            CReceiverHolder::Shared().CloseReceiver();
        } else if (c.then == Then::CloseSheet) {
            page->SheetClosing();
        }
        int polls = 0;
        while (ext->IsPolling() && polls < 100) {
            ext->PollOnce();
            ++polls;
        }
        EXPECT_EQ(polls, c.polls) << c.mode;
        EXPECT_EQ(c.starts ? ext->GoodReadings() : 0, c.readings) << c.mode;
    }
}

TEST_F(AdvancedTest, BandsMultipathAndThePcodeSwitch)
{
    Open("full", {{"/par/ajm/band", "{y,n,y,n,n}"}});
    EXPECT_EQ(Checked(CheckList{W<QCheckBox>("bandGpsL1"), W<QCheckBox>("bandGpsL2"), W<QCheckBox>("bandGpsL5"),
                                W<QCheckBox>("bandGloL1"), W<QCheckBox>("bandGloL2")}),
              QStringLiteral("10100"));
    W<QCheckBox>("bandGloL2")->click();
    W<QCheckBox>("carrierMultipath")->click();
    EXPECT_TRUE(page->m_bChanged && page->SubPage(0)->m_bChanged && !page->SubPage(2)->m_bChanged);

    // Turning P-code tracking off re-reads the Positioning page, which then offers no P-code measurements.
    CPosition position;
    position.QuerySettings();
    position.m_bQueried = true;
    EXPECT_TRUE(Child<QRadioButton>(&position, "measP1")->isEnabled());
    W<QCheckBox>("pcodeTracking")->click();
    const QStringList sets = Sets(Applied());
    EXPECT_EQ(
        sets,
        QStringList({"set,/par/ajm/mode,n", "set,/par/ajm/band,{y,n,y,n,y}", "set,/par/raw/corr/ca/code,mpnew",
                     "set,/par/raw/corr/ca/carrier,normal", "set,/par/raw/pll/band,25.0", "set,/par/raw/pll/order,3",
                     "set,/par/raw/cagdl/band,1.0", "set,/par/raw/gdl/adapt,on", "set,/par/lock/pcode,off"}));
    EXPECT_FALSE(Child<QRadioButton>(&position, "measP1")->isEnabled());
    EXPECT_FALSE(page->SubPage(0)->m_bChanged || page->SubPage(1)->m_bChanged);
}

// OK applies the Advanced page before the Tovel page, whose recording interval is checked against the update
// rate being set; the saved script sets the rates before the interval.
TEST(AdvancedSheetTest, UpdateRatesGoBeforeThePeriodsTheyLimit)
{
    CSharedSim sim;
    CScriptedPrompts prompts;
    CReceiverCfgDlg sheet(SheetContext(sim));
    ASSERT_TRUE(sheet.Open());
    sheet.SelectPage(1);
    Type(Child<QLineEdit>(sheet.Page(1), "recInterval"), "0.05");
    sheet.SelectPage(7);
    Type(Child<QLineEdit>(sheet.Page(7), "rawRate"), "50");
    Type(Child<QLineEdit>(sheet.Page(7), "posRate"), "50");
    sheet.Ok();
    EXPECT_EQ(sheet.StatusText(), QString());
    EXPECT_EQ(sheet.result(), QDialog::Accepted);
    EXPECT_EQ(sim.Sim().Param("/par/log/sc/period"), QStringLiteral("0.05"));
}

// Every tab has its page; Exit ends a running poll; a synchronisation answered with an empty status
// shows nothing and is no failure.
TEST(PagesSheetTest, PagesOfTheSheetAndTheirEnding)
{
    CSharedSim sim;
    CScriptedPrompts prompts;
    CReceiverCfgDlg sheet(SheetContext(sim));
    ASSERT_TRUE(sheet.Open());
    for (int i = 0; i < sheet.PageCount(); ++i) {
        EXPECT_EQ(Child<QWidget>(sheet.Page(i), "pendingText"), nullptr) << i;
    }
    sim.Sim().SetParamValue("/par/frq/mode", "use");
    sheet.SelectPage(7);
    auto* ext = static_cast<CExternalFrequency*>(static_cast<CAdvanced*>(sheet.Page(7))->SubPage(3));
    Type(Child<QLineEdit>(ext, "inFrequency"), "12");
    sheet.Apply();
    EXPECT_TRUE(ext->IsPolling());
    sheet.Exit();
    EXPECT_FALSE(ext->IsPolling());
}

TEST(PagesSheetTest, ShortSynchronisationReply)
{
    CScriptedReceiver receiver(
        {{"/par/dev/event/a/in", "on"}, {"/par/dev/event/a/lock", "on"}, {"/par/dev/event/a/locked", ""}});
    CFakeSheet sheet;
    CConfigSheetScope scope(&sheet);
    CEVent page;
    page.QuerySettings();
    auto* repeat = Child<QPushButton>(&page, "eventARepeat");
    ASSERT_TRUE(repeat->isEnabled());
    repeat->click();
    EXPECT_EQ(Child<QLineEdit>(&page, "eventAStatus")->text(), QString());
    EXPECT_TRUE(repeat->isEnabled());
    EXPECT_EQ(sheet.status, QString());
}
