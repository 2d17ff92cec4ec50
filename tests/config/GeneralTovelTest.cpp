// The General and Tovel pages against the simulator: the model and board rules, the displays, the charger and
// power values the receiver takes, the AFRM and Occupation rules, number tests and quoted names.

#include "PageTestSupport.h"

#include "config/General.h"
#include "config/Tovel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

namespace {

using GeneralTest = CPageTest<CGeneral>;
using TovelTest = CPageTest<CTovel>;

}  // namespace

TEST_F(GeneralTest, ModelAndBoardRules)
{
    const struct
    {
        const char* profile;
        const char* model;  // null: the receiver does not report it
        const char* board;
        const char* labels;
        int choices;
        bool antenna;
        const char* sentPath;
    } cases[] = {
        {"korvan", "KORVAN", "KVS_3.1", "Ports:/Slots:", 3, false, "/par/pwr/ports"},
        {"korvan", "Peltis", "mbv-velta-2", "Ports:/Slots:", 3, false, "/par/pwr/slots"},
        {"korvan", "ARUNDE", "MBV-2.1", "Ports:/Slots:", 3, true, "/par/pwr/ports"},
        {"full", "Vireo-Z3", "MBV-2.1", "Ports A,B:/Port C:", 2, true, "/par/pwr/out/ab"},
        {"full", nullptr, "MBV-2.1", "Ports A,B:/Port C:", 2, true, "/par/pwr/out/c"},
    };
    for (const auto& c : cases) {
        Open(c.profile, {{"/par/rcv/ver/board", c.board}});
        if (c.model) {
            sim->Sim().SetParamValue("/par/rcv/model", c.model);
        } else {
            sim->Sim().HideParam("/par/rcv/model");
        }
        page->QuerySettings();  // a second reading takes the model's rules afresh
        EXPECT_EQ(W<QLabel>("powerPortsLabel")->text() + "/" + W<QLabel>("powerSlotsLabel")->text(),
                  QString::fromLatin1(c.labels))
            << c.model;
        EXPECT_EQ(W<QComboBox>("powerPorts")->count(), c.choices) << c.model;
        EXPECT_EQ(W("antInternal")->isEnabled(), c.antenna) << c.board;
        // What is loaded is what an unchanged apply sends back: the receiver's own value.
        EXPECT_TRUE(W("powerPorts")->isEnabled() && W("powerSlots")->isEnabled()) << c.model;
        const QString value = sim->Sim().Param(QString::fromLatin1(c.sentPath));
        EXPECT_TRUE(Applied().contains(QStringLiteral("set,%1,%2").arg(QLatin1String(c.sentPath), value))) << c.model;
    }
}

TEST_F(GeneralTest, DisplaysChargerAndApplyOrder)
{
    Open("full", {{"/par/pwr/chdc", "1200"}});
    EXPECT_EQ(W<QLineEdit>("chargerCurrent")->text(), QStringLiteral("1.200"));
    // Read-only and readable: enabled, not greyed out.
    EXPECT_TRUE(W<QLineEdit>("chargerCurrent")->isReadOnly());
    EXPECT_TRUE(W("chargerCurrent")->isEnabled());
    EXPECT_TRUE(W("chargerCurrentLabel")->isEnabled());

    // Read-only values move with time and are shown as the receiver has them now.
    const QString temperature = W<QLineEdit>("temperature")->text();
    sim->Advance(20000);
    page->QuerySettings();
    EXPECT_NE(W<QLineEdit>("temperature")->text(), temperature);

    // Every label pairs with the receiver value of its position, which the receiver takes.
    Choose(W<QComboBox>("powerMode"), "Mix");
    Choose(W<QComboBox>("chargerMode"), "Charge B");
    Choose(W<QComboBox>("chargerSpeed"), "Normal");
    W<QCheckBox>("lowPower")->click();
    W<QRadioButton>("antExternal")->click();
    QString result;
    const QStringList sets = Sets(Applied(&result));
    EXPECT_EQ(result, QString());
    const QStringList expected{"set,/par/out/elm/cur/term,5",
                               "set,/par/ant/inp,ext",
                               "set,/par/pwr/mode,mix",
                               "set,/par/pwr/charge/bat,b",
                               "set,/par/pwr/charge/speed,normal",
                               "set,/par/lpm,on",
                               "set,/par/pwr/out/ab,on",
                               "set,/par/pwr/out/c,off",
                               "set,/par/pwr/switch/2,on",
                               "set,/par/pwr/switch/3,on",
                               "set,/par/pwr/switch/4,off"};
    EXPECT_EQ(sets, expected);
    EXPECT_EQ(Script(), AsScript(expected));
    EXPECT_EQ(sim->Sim().Param("/par/pwr/charge/bat"), QStringLiteral("b"));

    // A value that is no number is shown as it came; an empty mask is never sent.
    Open("full", {{"/par/pwr/chdc", "n/a"}});
    EXPECT_EQ(W<QLineEdit>("chargerCurrent")->text(), QStringLiteral("n/a"));
    Type(W<QLineEdit>("termMask"), "");
    EXPECT_EQ(Applied(&result), QStringList());
    EXPECT_EQ(result, QStringLiteral("Invalid elevation mask for terminal"));
}

TEST_F(TovelTest, EnablingRulesFollowTheRadiosAndTheReceiver)
{
    Open();
    const std::vector<QWidget*> afrm{W("afrmPeriod"), W("afrmPhase"), W("afrmTotal"), W("removeOld")};
    const std::vector<QWidget*> dynamic{W("static"), W("kinematic")};
    EXPECT_EQ(Enabled(afrm) + Enabled(dynamic), QStringLiteral("000000"));
    // The files remaining are a reading: readable in either mode.
    EXPECT_TRUE(W("afrmRemain")->isEnabled());
    EXPECT_FALSE(page->m_bChanged);  // the rules of a query are no user edit

    // With "Log file" the AFRM steps send nothing; the FN key and auto-start are sent.
    QStringList sets = Sets(Applied());
    EXPECT_TRUE(sets.filter("/log/rot/").isEmpty());
    EXPECT_EQ(sets.filter("/button/").size(), 4);

    W<QRadioButton>("afrm")->click();
    W<QRadioButton>("occupation")->click();
    EXPECT_EQ(Enabled(afrm) + Enabled(dynamic), QStringLiteral("111111"));
    EXPECT_TRUE(page->m_bChanged);
    sets = Sets(Applied());
    EXPECT_EQ(sets.filter("/log/rot/"), QStringList({"set,/par/log/rot/sc/period,3600", "set,/par/log/rot/sc/phase,0",
                                                     "set,/par/log/rot/sc/count,24", "set,/par/log/rot/rmold,off"}));
    EXPECT_TRUE(sets.contains("set,/par/button/dyn,static"));

    // A parameter the receiver does not report stays disabled whatever the radios say.
    sim->Sim().HideParam("/par/log/rot/sc/phase");
    page->QuerySettings();
    W<QRadioButton>("afrm")->click();
    EXPECT_EQ(Enabled(afrm), QStringLiteral("1011"));
}

TEST_F(TovelTest, NumberTestsPeriodCheckAndQuotedNames)
{
    const struct
    {
        const char* edit;
        const char* path;
        const char* text;
        const char* curRaw;
        const char* result;
        bool warning;
    } cases[] = {
        {"recInterval", "/log/sc/period", "", "100", "Invalid Recording interval (Tovel) value", false},
        {"recInterval", "/log/sc/period", "0.05", "100", "Can't set recording interval for Tovel", true},
        {"recInterval", "/log/sc/period", "0.05", "50", "", false},
        {"recInterval", "/log/sc/period", "0.1", "0", "Can't set recording interval for Tovel", true},
        {"logElevation", "/elm/cur/log", "ten", "100", "Invalid Elevation mask for Log file", false},
    };
    for (const auto& c : cases) {
        Open("full", {{"/par/raw/curmsint", c.curRaw}, {"/par/pos/curmsint", c.curRaw}});
        Type(W<QLineEdit>(c.edit), QString::fromLatin1(c.text));
        if (c.warning) {
            prompts.ExpectMessage(QStringLiteral("Output Period"), OutputPeriodWarningText(), PromptButtons::Ok,
                                  PromptButton::Ok);
        }
        QString result;
        const QStringList sets = Sets(Applied(&result));
        EXPECT_EQ(result, QString::fromLatin1(c.result)) << c.edit << " " << c.text;
        EXPECT_EQ(sets.filter(QLatin1String(c.path)).isEmpty(), *c.result != 0) << c.text;
        prompts.Verify();
    }

    Open("full", {{"/par/cmd/create/prefix", "OLD"}});
    EXPECT_EQ(W<QLineEdit>("filePrefix")->text(), QStringLiteral("OLD"));
    Type(W<QLineEdit>("filePrefix"), "ABC");
    EXPECT_TRUE(Applied().contains("set,/par/cmd/create/prefix,\"ABC\""));
    EXPECT_EQ(sim->Sim().Param("/par/cmd/create/prefix"), QStringLiteral("\"ABC\""));
    EXPECT_TRUE(Script().contains("%/par/cmd/create/prefix%set,/par/cmd/create/prefix,\"ABC\""));
}
