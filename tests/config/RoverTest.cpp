// The Rover page against the simulator: sources from the reported ports, the mode's enabling rules, the RTK and
// DGPS steps, and the re-reading of the Positioning page.

#include "PageTestSupport.h"

#include "config/ReceiverCfgDlg.h"
#include "config/Rover.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>

namespace {

using RoverTest = CPageTest<CRover>;

const QStringList kSolutions{"set,/par/pos/mode/sp,on", "set,/par/pos/mode/cd,on", "set,/par/pos/mode/pf,on",
                             "set,/par/pos/mode/pd,on"};

}  // namespace

TEST_F(RoverTest, StandaloneSendsOnlyItsSteps)
{
    Open();
    const QStringList steps = QStringList{"set,/par/pos/mode/cur,sp"} + kSolutions;
    EXPECT_EQ(Sets(Applied()), steps);
    EXPECT_EQ(Script(), AsScript(steps));
}

TEST_F(RoverTest, SourcesAreThePortsTheReceiverReports)
{
    const struct
    {
        const char* profile;
        const char* port;
        int entries;
        const char* shown;  // empty: the combo is disabled and the port is not sent
    } cases[] = {
        {"full", "/dev/modem/a", 13, "Modem"},
        {"basic", "/dev/blt/a", 11, ""},  // no Bluetooth port
        {"full", "/dev/can/a", 13, ""},   // a port without a label
    };
    for (const auto& c : cases) {
        Open(c.profile, {{"/par/pos/mode/cur", "cd"}, {"/par/pos/cd/port", c.port}});
        auto* source = W<QComboBox>("dgpsSource");
        EXPECT_EQ(source->count(), c.entries) << c.profile;
        EXPECT_EQ(source->currentText(), QString::fromLatin1(c.shown)) << c.port;
        EXPECT_EQ(source->isEnabled(), *c.shown != 0) << c.port;
        EXPECT_EQ(Applied().filter("/cd/port").size(), *c.shown ? 1 : 0) << c.port;
    }
}

TEST_F(RoverTest, ModeDecidesWhichControlsWork)
{
    Open();
    const std::vector<QWidget*> controls{W("stationId"), W("cdMaxAge"), W("usageAny"), W("dgpsSource"), W("rtkExtrap"),
                                         W("dynStatic"), W("period"),   W("gloType"),  W("resetRtk")};
    EXPECT_EQ(Enabled(controls), QStringLiteral("000000000"));
    EXPECT_FALSE(page->m_bChanged);
    const std::pair<const char*, const char*> steps[] = {
        {"modeCd", "011100000"},     // Station ID only for "User"
        {"usageUser", "111100000"},  //
        {"modePd", "000011011"},     // no period with extrapolation
        {"rtkDelay", "000011111"},   //
        {"modeWd", "000000000"},
    };
    for (const auto& [radio, enabled] : steps) {
        W<QRadioButton>(radio)->click();
        EXPECT_EQ(Enabled(controls), QString::fromLatin1(enabled)) << radio;
    }
    EXPECT_TRUE(page->m_bChanged);
    EXPECT_TRUE(sheet.apply);
}

TEST_F(RoverTest, RtkAndDgpsSteps)
{
    Open("full", {{"/par/pos/mode/cur", "pd"}, {"/par/pos/pd/port", "/dev/ser/b"}});
    const QStringList rtk =
        QStringList{"set,/par/pos/mode/cur,pd"} + kSolutions +
        QStringList{"set,/par/pos/pd/mode,extrap",  "set,/par/pos/pd/dyn,1.0",         "set,/par/pos/pd/aflevel,medium",
                    "set,/par/pos/pd/meas/ca,on",   "set,/par/pos/pd/meas/p1,off",     "set,/par/pos/pd/meas/p2,on",
                    "set,/par/pos/pd/ref/keep,off", "set,/par/pos/pd/port,/dev/ser/b", "set,/par/cmr/rover/glo/type,5"};
    EXPECT_EQ(Sets(Applied()), rtk);
    EXPECT_EQ(Script(), AsScript(rtk));

    // The engine reset is untagged and has a status text of its own.
    sim->Sim().RefuseParam("/par/pos/pd/reset");
    W<QPushButton>("resetRtk")->click();
    EXPECT_EQ(sheet.status, QStringLiteral("Can't reset RTK engine"));
    sim->Sim().RefuseParam("/par/pos/pd/reset", false);
    W<QPushButton>("resetRtk")->click();
    EXPECT_EQ(sheet.status, QString());
    EXPECT_EQ(sim->TakeCommands().filter("reset"), QStringList(2, "set,/par/pos/pd/reset,on"));

    Open("full", {{"/par/pos/mode/cur", "cd"}, {"/par/pos/cd/src/mode", "user"}, {"/par/pos/cd/src/usersrc", "17"}});
    const QStringList dgps =
        QStringList{"set,/par/pos/mode/cur,cd"} + kSolutions +
        QStringList{"set,/par/pos/cd/src/mode,user", "set,/par/pos/cd/maxage,30", "set,/par/pos/cd/iono/maxage,600",
                    "set,/par/pos/cd/ionofree,off",  "set,/par/pos/cd/port,any",  "set,/par/pos/cd/src/usersrc,17"};
    EXPECT_EQ(Sets(Applied()), dgps);
    EXPECT_EQ(Script(), AsScript(dgps));
}

TEST_F(RoverTest, DynamicsReadAsANumber)
{
    const struct
    {
        const char* reply;
        const char* checked;  // Static, Kinematic
        const char* sent;     // empty: nothing sent
    } cases[] = {{"1.0", "01", "1.0"}, {"0.5", "10", "0.0"}, {"0.0", "10", "0.0"}, {"abc", "00", ""}};
    for (const auto& c : cases) {
        Open("full", {{"/par/pos/mode/cur", "pf"}, {"/par/pos/pd/dyn", c.reply}});
        const RadioList dynamics{W<QRadioButton>("dynStatic"), W<QRadioButton>("dynKinematic")};
        EXPECT_EQ(Checked(dynamics), QString::fromLatin1(c.checked)) << c.reply;
        EXPECT_EQ(Enabled(dynamics), *c.sent ? "11" : "00") << c.reply;
        const QStringList sent = Applied().filter("/pd/dyn");
        EXPECT_EQ(sent, *c.sent ? QStringList{"set,/par/pos/pd/dyn," + QString::fromLatin1(c.sent)} : QStringList())
            << c.reply;
    }
}

TEST_F(RoverTest, ReceiverWithoutRtkEngine)
{
    Open("basic", {{"/par/pos/mode/cur", "sp"}});
    EXPECT_EQ(Enabled({W("modePf"), W("modePd"), W("solPf"), W("solPd"), W("rtkExtrap"), W("gloType"), W("resetRtk")}),
              QStringLiteral("0000000"));
    EXPECT_TRUE(W<QCheckBox>("solPd")->isChecked());
    EXPECT_EQ(Sets(Applied()),
              QStringList({"set,/par/pos/mode/cur,sp", "set,/par/pos/mode/sp,on", "set,/par/pos/mode/cd,on"}));
}

// Applying Positioning re-reads an unchanged Rover page without making it "changed", and leaves unapplied Rover
// edits alone; applying Rover re-reads Positioning.
TEST(RoverSheetTest, PositioningAndRoverRereadEachOther)
{
    CSharedSim sim;
    CScriptedPrompts prompts;
    CReceiverCfgDlg sheet(SheetContext(sim));
    ASSERT_TRUE(sheet.Open());
    sheet.SelectPage(4);
    CConfigPage* rover = sheet.Page(4);
    sheet.SelectPage(2);
    CConfigPage* position = sheet.Page(2);

    sim.Sim().SetParamValue("/par/pos/cd/maxage", "45");
    Type(Child<QLineEdit>(position, "elevationMask"), "12");
    sheet.Apply();
    ASSERT_EQ(sheet.StatusText(), QStringLiteral("Applied"));
    EXPECT_EQ(Child<QLineEdit>(rover, "cdMaxAge")->text(), QStringLiteral("45"));
    EXPECT_FALSE(rover->m_bChanged);

    sheet.SelectPage(4);
    Child<QRadioButton>(rover, "modePd")->click();
    sim.Sim().SetParamValue("/par/pos/cd/maxage", "50");
    sheet.SelectPage(2);
    Type(Child<QLineEdit>(position, "elevationMask"), "13");
    sheet.Ok();  // Positioning, then the Rover edit that its apply did not overwrite
    EXPECT_EQ(sheet.StatusText(), QString());
    EXPECT_EQ(sim.Sim().Param("/par/pos/mode/cur"), QStringLiteral("pd"));
    EXPECT_EQ(Child<QLineEdit>(rover, "cdMaxAge")->text(), QStringLiteral("45"));
    EXPECT_TRUE(Child<QRadioButton>(position, "modePd")->isChecked());
    EXPECT_FALSE(position->m_bChanged);

    // A Rover apply that fails after its mode went out: Positioning shows the mode the receiver has now, so that
    // its next apply does not send the old one back.
    sheet.SelectPage(4);
    Child<QRadioButton>(rover, "modeSp")->click();
    sim.Sim().RefuseParam("/par/pos/mode/sp");
    sheet.Apply();
    EXPECT_EQ(sheet.StatusText(), QStringLiteral("Can't set Standalone solution mode"));
    EXPECT_EQ(sim.Sim().Param("/par/pos/mode/cur"), QStringLiteral("sp"));
    EXPECT_TRUE(Child<QRadioButton>(position, "modeSp")->isChecked());
    sim.Sim().RefuseParam("/par/pos/mode/sp", false);
    sheet.Apply();
    ASSERT_EQ(sheet.StatusText(), QStringLiteral("Applied"));

    QTemporaryDir dir;
    prompts.ExpectSaveFile(QStringLiteral("Save setup to a script"), dir.filePath("setup.kvc"));
    sheet.Save();
    prompts.Verify();
}
