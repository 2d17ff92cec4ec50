// The Positioning page, its satellite sub-pages and the datum dialog against the simulator.

#include "PageTestSupport.h"

#include "config/DatumParam.h"
#include "config/PosSatPages.h"
#include "config/Position.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <gtest/gtest.h>

namespace {

const auto Ys = [](int n) { return "{" + QStringList(n, "y").join(',') + "}"; };  // a braced list of n "y"

using PositionTest = CPageTest<CPosition>;

}  // namespace

TEST_F(PositionTest, QueryLoadsTheReceiversValuesAndApplySendsEveryStepInOrder)
{
    Open("full", {{"/par/pos/sys", "{on,off,on,off}"}, {"/par/pos/raim/mode", "on"}, {"/par/pos/raim/al/mode", "npa"}});
    EXPECT_EQ(W<QComboBox>("alarmMode")->currentText(), QStringLiteral("Non-precision"));
    EXPECT_EQ(W<QLineEdit>("alarmLimit")->text(), QStringLiteral("50.0"));
    // The limit is for "Manual" alarms only.
    EXPECT_EQ(Enabled({W("alarmMode"), W("alarmLimit"), W("modePd"), W("datumParameters")}), QStringLiteral("1011"));
    EXPECT_EQ(W<QComboBox>("datum")->currentText(), QStringLiteral("W84"));
    EXPECT_EQ(W<QCheckBox>("trackedGps")->checkState(), Qt::Checked);
    EXPECT_FALSE(page->m_bChanged);
    EXPECT_FALSE(sheet.apply);

    QString result = "x";
    const QString steps = QStringLiteral(
        "set,/par/pos/mode/cur,sp set,/par/pos/mode/sp,on set,/par/pos/mode/cd,on set,/par/pos/mode/pf,on "
        "set,/par/pos/mode/pd,on set,/par/pos/elm,5 set,/par/pos/pdop,30.0 set,/par/pos/sys,{on,off,on,off} "
        "set,/par/pos/raim/al/mode,npa set,/par/pos/raim/mode,on set,/par/pos/meas,ca set,/par/pos/datum/cur,W84 "
        "set,/par/pos/iono,on set,/par/pos/tropo,on set,/par/lock/gps/sat,%1 set,/par/pos/gps/sat,%1 "
        "set,/par/lock/glo/fcn,%2 set,/par/pos/glo/fcn,%2 set,/par/pos/glo/sat,%3 set,/par/lock/sbas/sat,%4 "
        "set,/par/pos/sbas/sat,%4");
    EXPECT_EQ(Applied(&result), steps.arg(Ys(32), Ys(20), Ys(24), Ys(19)).split(' '));
    EXPECT_EQ(result, QString());

    Type(W<QLineEdit>("pdopMask"), "");
    EXPECT_EQ(Applied(&result).size(), 6);
    EXPECT_EQ(result, QStringLiteral("Invalid Positioning PDOP mask"));
    EXPECT_TRUE(page->m_bChanged);
    EXPECT_TRUE(sheet.apply);
}

TEST_F(PositionTest, ReceiverWithoutRtkOrPcode)
{
    Open("basic");
    EXPECT_EQ(Enabled({W("modePf"), W("modePd"), W("solPf"), W("solPd")}), QStringLiteral("0000"));
    EXPECT_TRUE(W<QCheckBox>("solPd")->isChecked());
    EXPECT_FALSE(Applied().join(' ').contains(QLatin1String("/par/pos/mode/pd")));
    EXPECT_FALSE(Script().join(' ').contains(QLatin1String("/par/pos/mode/pf")));

    sim->Sim().SetParamValue("/par/lock/pcode", "off");
    page->QuerySettings();
    EXPECT_EQ(Enabled({W("measCa"), W("measP1"), W("measP2"), W("measIonoFree")}), QStringLiteral("1000"));
}

TEST_F(PositionTest, EveryRefusalNamesItsStep)
{
    Open("full", {{"/par/pos/raim/mode", "on"}});
    const std::pair<const char*, const char*> steps[] = {
        {"/par/pos/mode/cur", "Can't set positioning mode"},
        {"/par/pos/mode/sp", "Can't set Standalone solution mode"},
        {"/par/pos/mode/pd", "Can't set Phase Fixed solution mode"},
        {"/par/pos/elm", "Can't set Positioning Elevation mask"},
        {"/par/pos/pdop", "Can't set Positioning PDOP mask"},
        {"/par/pos/sys", "Can't set Positioning System"},
        {"/par/pos/raim/al/mode", "Can't set RAIM Alarm mode"},
        {"/par/pos/raim/al/manual", "Can't set RAIM Alarm Limit mode"},
        {"/par/pos/raim/mode", "Can't set RAIM Enabled mode"},
        {"/par/pos/meas", "Can't set Used Measurements mode"},
        {"/par/pos/datum/cur", "Can't set current datum for position computation"},
        {"/par/pos/tropo", "Can't set Tropospheric errors correction mode"},
        {"/par/pos/gps/sat", "Can't set GPS satellites to Use"},
        {"/par/pos/glo/sat", "Can't set GLONASS Satellites to Use"},
        {"/par/lock/sbas/sat", "Can't set SBAS satellites to Lock"},
    };
    for (const auto& [path, message] : steps) {
        sim->Sim().RefuseParam(path);
        EXPECT_EQ(page->ApplySettings(), QString::fromLatin1(message)) << path;
        sim->Sim().RefuseParam(path, false);
    }
    EXPECT_EQ(page->VisibleSatPage(), 3);  // the failing SBAS list is shown
}

TEST_F(PositionTest, ModeAndRaimDecideWhatIsSentAndWritten)
{
    Open("full", {{"/par/pos/mode/cur", "cd"}});
    EXPECT_EQ(Enabled({W("measCa"), W("measP1"), W("ionoCorrection"), W("tropoCorrection")}), QStringLiteral("0000"));
    const QString applied = Applied().join(' ');
    EXPECT_TRUE(applied.contains(QLatin1String("set,/par/pos/mode/cur,cd")));
    EXPECT_FALSE(applied.contains(QLatin1String("/par/pos/meas")));
    EXPECT_FALSE(applied.contains(QLatin1String("/par/pos/iono")));
    const QString script = Script().join(' ');
    EXPECT_FALSE(script.contains(QLatin1String("/par/pos/sp/")));
    // RAIM off: no alarm settings, but the mode itself.
    EXPECT_FALSE(applied.contains(QLatin1String("/par/pos/raim/al")));
    EXPECT_TRUE(applied.contains(QLatin1String("set,/par/pos/raim/mode,off")));
    EXPECT_FALSE(script.contains(QLatin1String("/par/pos/raim/al")));

    W<QRadioButton>("modeSp")->click();
    EXPECT_TRUE(page->m_bChanged);
    EXPECT_TRUE(sheet.apply);
    EXPECT_TRUE(W("measP2")->isEnabled());
    W<QCheckBox>("raimEnabled")->click();
    EXPECT_TRUE(W("alarmLimit")->isEnabled());
    Choose(W<QComboBox>("alarmMode"), "Terminal");
    EXPECT_EQ(Enabled({W("alarmLimit"), W("alarmLimitLabel")}), QStringLiteral("00"));
    EXPECT_EQ(Applied().filter(QStringLiteral("/raim/")),
              QStringList({"set,/par/pos/raim/al/mode,ter", "set,/par/pos/raim/mode,on"}));
    EXPECT_EQ(Script().filter(QStringLiteral("/raim/")),
              QStringList({"%/par/pos/raim/al/mode%set,/par/pos/raim/al/mode,ter",
                           "%/par/pos/raim/mode%set,/par/pos/raim/mode,on"}));
}

TEST_F(PositionTest, ScriptCopiesTheReceiversDatumParameters)
{
    Open();
    sim->Sim().SetParamValue("/par/pos/datum/USER", "{{U-,6378000.0,300.0},{USER,1,1,2,3,0,0,0,0}}");
    const QStringList lines = Script();
    ASSERT_EQ(lines.size(), 22);
    EXPECT_EQ(lines[0], QStringLiteral("%/par/pos/mode/cur%set,/par/pos/mode/cur,sp"));
    // The datum, then the receiver's own P90 and USER values, then the corrections and the satellite lists.
    EXPECT_EQ(lines.mid(10, 4),
              QStringList({"%/par/pos/datum/cur%set,/par/pos/datum/cur,W84",
                           "%/par/pos/datum/P90/par%set,/par/pos/datum/P90/par,{P90,0,-1.080,-0.270,-0.900,0.000,"
                           "0.000,-0.160,-0.120}",
                           "%/par/pos/datum/USER%set,/par/pos/datum/USER,{{U-,6378000.0,300.0},{USER,1,1,2,3,0,0,0,0}}",
                           "%/par/pos/sp/iono%set,/par/pos/sp/iono,on"}));
    EXPECT_EQ(lines[15], "%/par/lock/gps/sat%set,/par/lock/gps/sat," + Ys(32));
    EXPECT_TRUE(lines.filter(QStringLiteral("/gal/")).isEmpty());
}

TEST_F(PositionTest, SatelliteListsAndMasterBoxes)
{
    Open("full", {{"/par/lock/gps/sat", "{y,n,y}"}});
    CPosSatPage* gps = page->SatPage(0);
    EXPECT_EQ(Checked(std::vector{gps->LockBox(0), gps->LockBox(1), gps->LockBox(2), gps->LockBox(31)}),
              QStringLiteral("1010"));
    EXPECT_EQ(W<QCheckBox>("trackedGps")->checkState(), Qt::PartiallyChecked);

    // A master click from the partial state selects the whole list and shows the sub-page.
    page->ShowSatPage(3);
    W<QCheckBox>("trackedGps")->click();
    EXPECT_EQ(page->VisibleSatPage(), 0);
    EXPECT_TRUE(gps->LockBox(1)->isChecked());
    EXPECT_EQ(W<QCheckBox>("trackedGps")->checkState(), Qt::Checked);
    EXPECT_TRUE(page->m_bChanged);

    page->m_bChanged = false;
    sheet.apply = false;
    Child<QPushButton>(gps, "noneToUse")->click();
    EXPECT_EQ(W<QCheckBox>("usedGps")->checkState(), Qt::Unchecked);
    EXPECT_TRUE(page->m_bChanged);
    EXPECT_TRUE(sheet.apply);
    gps->UseBox(4)->click();
    EXPECT_EQ(W<QCheckBox>("usedGps")->checkState(), Qt::PartiallyChecked);
    EXPECT_TRUE(Applied().contains("set,/par/pos/gps/sat,{n,n,n,n,y," + QStringList(27, "n").join(',') + "}"));

    // Galileo is edited here but never sent.
    page->SatPage(2)->LockBox(0)->click();
    EXPECT_TRUE(Applied().filter(QStringLiteral("/gal/")).isEmpty());
    EXPECT_EQ(W<QCheckBox>("trackedGal")->checkState(), Qt::PartiallyChecked);
}

TEST_F(PositionTest, GlonassNumberingIsKeptAndSwitchesOnlyTheDisplay)
{
    Open();
    auto* glo = static_cast<CPosGLONASS*>(page->SatPage(1));
    EXPECT_TRUE(glo->FcnNumbering());
    EXPECT_FALSE(glo->LockBox(20)->isVisibleTo(glo));
    glo->UseBox(0)->click();  // FCN -7 out of use

    Child<QRadioButton>(glo, "slotNumbering")->click();
    EXPECT_TRUE(glo->LockBox(23)->isVisibleTo(glo));
    EXPECT_FALSE(glo->LockBox(0)->isEnabled());
    EXPECT_FALSE(Child<QPushButton>(glo, "allToLock")->isEnabled());
    EXPECT_TRUE(glo->UseBox(0)->isChecked());  // the slot list
    glo->UseBox(23)->click();                  // slot 24 out of use
    EXPECT_EQ(W<QCheckBox>("usedGlonass")->checkState(), Qt::PartiallyChecked);

    // The choice survives a restart through the settings.
    EXPECT_FALSE(CPosGLONASS::ReadNumberingSetting());
    CPosGLONASS fresh;
    EXPECT_FALSE(fresh.FcnNumbering());

    Child<QRadioButton>(glo, "fcnNumbering")->click();
    EXPECT_FALSE(glo->UseBox(0)->isChecked());
    const QStringList applied = Applied();
    EXPECT_TRUE(applied.contains("set,/par/pos/glo/fcn,{n," + QStringList(19, "y").join(',') + "}"));
    EXPECT_TRUE(applied.contains("set,/par/pos/glo/sat,{" + QStringList(23, "y").join(',') + ",n}"));

    // The tracked master switches back to channel numbering.
    Child<QRadioButton>(glo, "slotNumbering")->click();
    W<QCheckBox>("trackedGlonass")->click();
    EXPECT_TRUE(glo->FcnNumbering());
    EXPECT_TRUE(CPosGLONASS::ReadNumberingSetting());
}

TEST_F(PositionTest, GlonassWithoutASlotList)
{
    CScriptedReceiver receiver({{"/par/lock/glo/fcn", "{y,y}"}, {"/par/pos/glo/fcn", "{y,n}"}});
    CPosGLONASS glo;
    glo.SetFcnNumbering(false);
    glo.Query();
    for (int i = 0; i < 24; ++i) {
        EXPECT_FALSE(glo.UseBox(i)->isEnabled()) << i;
    }
    EXPECT_FALSE(Child<QPushButton>(&glo, "allToUse")->isEnabled());
    EXPECT_EQ(glo.UsedState(), MasterState::Some);
    EXPECT_EQ(glo.TrackedState(), MasterState::Some);
    glo.SetFcnNumbering(true);
    EXPECT_TRUE(glo.UseBox(0)->isChecked());
    EXPECT_FALSE(glo.UseBox(1)->isChecked());
}

TEST_F(PositionTest, DatumDialogShowsAndSendsThePrescribedDatums)
{
    Open();
    {
        CDatumParam w84("W84");
        EXPECT_EQ(w84.windowTitle(), QStringLiteral("W84 Datum Parameters"));
        EXPECT_EQ(Child<QLineEdit>(&w84, "ellipsoidId")->text(), QStringLiteral("WGE"));
        for (const char* name : {"axis", "dX", "scale", "refDatum"}) {
            EXPECT_FALSE(Child<QWidget>(&w84, name)->isEnabled()) << name;
        }
        sim->TakeCommands();
        w84.Ok();
        EXPECT_TRUE(sim->TakeCommands().isEmpty());
        EXPECT_EQ(w84.ResultIndex(), 0);
    }
    {
        CDatumParam user("USER");
        EXPECT_FALSE(Child<QWidget>(&user, "apply")->isEnabled());
        EXPECT_TRUE(Child<QWidget>(&user, "axis")->isEnabled());
        Choose(Child<QComboBox>(&user, "refDatum"), "P90");
        Type(Child<QLineEdit>(&user, "dX"), "1.5");
        EXPECT_TRUE(Child<QWidget>(&user, "apply")->isEnabled());
        sim->TakeCommands();
        user.Ok();
        EXPECT_EQ(sim->TakeCommands(), QStringList({"set,/par/pos/datum/USER,{{U-,6378137.000,298.257223563},{USER,1,"
                                                    "1.5,0.000,0.000,0.000,0.000,0.000,0.000}}"}));
        EXPECT_EQ(user.ResultIndex(), 221);
    }
    {
        CDatumParam p90("P90");
        EXPECT_FALSE(Child<QWidget>(&p90, "axis")->isEnabled());
        EXPECT_TRUE(Child<QWidget>(&p90, "rZ")->isEnabled());
        Type(Child<QLineEdit>(&p90, "scale"), "abc");
        prompts.ExpectMessage(QString(), CDatumParam::ErrorText("P90"), PromptButtons::Ok, PromptButton::Ok);
        EXPECT_FALSE(p90.ApplyDatum());
        EXPECT_TRUE(Child<QWidget>(&p90, "apply")->isEnabled());
        // Another datum from the list: its record, read-only, and the change is noted.
        Choose(Child<QComboBox>(&p90, "currentDatum"), "EUR-M");
        EXPECT_EQ(p90.Code(), QStringLiteral("EUR-M"));
        EXPECT_EQ(Child<QLineEdit>(&p90, "ellipsoidId")->text(), QStringLiteral("IN"));
        EXPECT_FALSE(Child<QWidget>(&p90, "dX")->isEnabled());
        EXPECT_TRUE(p90.IsChanged());
        p90.Cancel();
        EXPECT_EQ(p90.ResultIndex(), -1);
    }

    // The page's button selects the chosen entry.
    page->SetDatumDialogRunner([](const QString& code, QWidget*) { return code == "W84" ? 1 : -1; });
    page->OpenDatumParameters();
    EXPECT_EQ(W<QComboBox>("datum")->currentText(), QStringLiteral("P90"));
    EXPECT_TRUE(page->m_bChanged);
    page->OpenDatumParameters();
    EXPECT_EQ(W<QComboBox>("datum")->currentText(), QStringLiteral("P90"));
}

TEST_F(PositionTest, DatumDialogOnShortTablesAndBadRecords)
{
    Open("lite");
    CDatumParam p90("P90");
    EXPECT_EQ(Child<QComboBox>(&p90, "currentDatum")->count(), 2);
    EXPECT_EQ(Child<QComboBox>(&p90, "currentDatum")->currentText(), QStringLiteral("P90"));
    sim.reset();

    CScriptedReceiver receiver({{"/par/opts/cur/_DTM", "1"}, {"/par/pos/datum/USER", "{{U-,1}}"}});
    CDatumParam user("USER");
    EXPECT_FALSE(Child<QWidget>(&user, "dX")->isEnabled());
    const int before = int(receiver.Received().size());
    user.Ok();
    EXPECT_EQ(receiver.Received().size(), before);  // nothing shown, nothing sent
}

TEST_F(PositionTest, SimulatorRefusesWhatAReceiverWould)
{
    Open("basic");
    bool ok = true;
    for (const char* bad :
         {"%%set,/par/pos/mode/cur,pd", "%%set,/par/pos/datum/cur,XYZ", "%%set,/par/lock/gps/sat,{y,n}",
          "%%set,/par/pos/sys,{on,on,maybe,on}", "%%set,/par/pos/datum/USER,{{U-,1,298},{USER,0,0,0,0,0,0,0,0}}",
          "%%set,/par/pos/datum/USER,{{U-,6378137,298},{USER,0,1,2}}",
          "%%set,/par/pos/datum/P90/par,{P90,2,0,0,0,0,0,0,0}", "%%set,/par/pos/datum/W84,{}"}) {
        sim->Send(QString::fromLatin1(bad), &ok);
        EXPECT_FALSE(ok) << bad;
    }
    sim->Send("%%set,/par/pos/iono,off", &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(sim->Sim().Param("/par/pos/sp/iono"), QStringLiteral("off"));
    sim->Send("%%set,/par/pos/datum/cur,EUR-M", &ok);
    EXPECT_TRUE(ok);
    sim.reset();  // one receiver on the shared holder at a time
    sim = std::make_unique<CSharedSim>("lite");
    sim->Send("%%set,/par/pos/datum/cur,EUR-M", &ok);
    EXPECT_FALSE(ok);
    sim->Send("%%set,/par/pos/datum/cur,P90", &ok);
    EXPECT_TRUE(ok);
}

TEST_F(PositionTest, UnreportedAlarmSettingsAndSystemsStayOutEvenWithRaimOn)
{
    CScriptedReceiver receiver(
        {{"/par/pos/mode/cur", "sp"}, {"/par/pos/raim/mode", "on"}, {"/par/pos/raim/al/mode", "manual"}});
    // As a receiver without the parameter would: "{,,,}" is refused.
    receiver.refusedPrefixes = {QStringLiteral("set,/par/pos/sys")};
    page = std::make_unique<CPosition>();
    page->QuerySettings();
    EXPECT_TRUE(W<QComboBox>("alarmMode")->isEnabled());
    EXPECT_FALSE(W<QLineEdit>("alarmLimit")->isEnabled());
    EXPECT_FALSE(W<QComboBox>("datum")->isEnabled());
    const int before = int(receiver.Received().size());
    EXPECT_EQ(page->ApplySettings(), QString());
    const QString sent = receiver.Received().mid(before).join(' ');
    EXPECT_TRUE(sent.contains(QLatin1String("set,/par/pos/raim/al/mode,manual")));
    EXPECT_FALSE(sent.contains(QLatin1String("/par/pos/raim/al/manual")));
    EXPECT_FALSE(sent.contains(QLatin1String("/par/pos/datum/cur")));
    EXPECT_FALSE(sent.contains(QLatin1String("/par/pos/sys")));
    EXPECT_TRUE(sent.contains(QLatin1String("set,/par/pos/raim/mode,on")));
    EXPECT_FALSE(Script().join(' ').contains(QLatin1String("/par/pos/datum/cur")));
}
