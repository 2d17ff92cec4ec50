// The configuration toolkit: loading reply values into controls, sending them back, script lines, output periods.

#include "ConfigTestSupport.h"

#include "config/ScriptWriter.h"
#include "config/Toolkit.h"
#include "support/ScriptedPrompts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace {

// A window of controls; shown, so that focus can move.
struct Controls
{
    Controls()
    {
        auto* layout = new QVBoxLayout(&window);
        for (int i = 0; i < 20; ++i) {
            edits.push_back(new QLineEdit(&window));
            boxes.push_back(new QCheckBox(&window));
            labels.push_back(new QLabel(&window));
            layout->addWidget(edits.back());
            layout->addWidget(boxes.back());
        }
        for (int i = 0; i < 4; ++i) {
            radios.push_back(new QRadioButton(&window));
            layout->addWidget(radios.back());
        }
        combo = new QComboBox(&window);
        layout->addWidget(combo);
        window.show();
    }
    EditList Edits(int n) const { return EditList(edits.begin(), edits.begin() + n); }
    CheckList Boxes(int n) const { return CheckList(boxes.begin(), boxes.begin() + n); }
    WidgetList Labels(int n) const { return WidgetList(labels.begin(), labels.begin() + n); }
    QWidget* Focused() const { return window.focusWidget(); }

    QWidget window;
    EditList edits;
    CheckList boxes;
    std::vector<QWidget*> labels;
    RadioList radios;
    QComboBox* combo = nullptr;
};

const QString* V(const QString& s)
{
    static QString held;
    held = s;
    return &held;
}

}  // namespace

TEST(ToolkitLoadTest, EditsTakeTheValueUnquotedAndAreDisabledWithoutOne)
{
    Controls c;
    QLabel companion;
    LoadEdit(V("\"Base 1\""), c.edits[0], &companion, true);
    EXPECT_EQ(c.edits[0]->text(), QStringLiteral("Base 1"));
    EXPECT_TRUE(c.edits[0]->isEnabled());
    EXPECT_TRUE(companion.isEnabled());

    LoadEdit(V("12.5"), c.edits[0], &companion, false);  // shown, but not editable
    EXPECT_EQ(c.edits[0]->text(), QStringLiteral("12.5"));
    EXPECT_FALSE(c.edits[0]->isEnabled());

    LoadEdit(V("\""), c.edits[0], nullptr, true);  // a lone quote leaves nothing
    EXPECT_EQ(c.edits[0]->text(), QString());

    c.edits[0]->setText(QStringLiteral("old"));
    LoadEdit(nullptr, c.edits[0], &companion, true);
    EXPECT_EQ(c.edits[0]->text(), QString());
    EXPECT_FALSE(c.edits[0]->isEnabled());
    EXPECT_FALSE(companion.isEnabled());

    LoadEditPlain(V("\"q\""), c.edits[1], true);
    EXPECT_EQ(c.edits[1]->text(), QStringLiteral("\"q\""));
    LoadEditPlain(nullptr, c.edits[1], true);
    EXPECT_FALSE(c.edits[1]->isEnabled());
}

TEST(ToolkitLoadTest, EditListReadsItemsUpToTheFirstEmptyOne)
{
    Controls c;
    for (QLineEdit* e : c.Edits(3)) {
        e->setText(QStringLiteral("old"));
    }
    LoadEditList(V("{1.5,\"ab\",}"), c.Edits(3), c.Labels(3));
    EXPECT_EQ(c.edits[0]->text(), QStringLiteral("1.5"));
    EXPECT_EQ(c.edits[1]->text(), QStringLiteral("ab"));
    EXPECT_EQ(c.edits[2]->text(), QString());
    EXPECT_TRUE(c.edits[2]->isEnabled());
    EXPECT_TRUE(c.labels[2]->isEnabled());

    // An empty item in the middle ends the reading.
    LoadEditList(V("{1,,3}"), c.Edits(3), {});
    EXPECT_EQ(c.edits[0]->text(), QStringLiteral("1"));
    EXPECT_EQ(c.edits[2]->text(), QString());

    // An item keeps 31 characters and does not spill into the next edit.
    LoadEditList(V("{" + QString(40, QLatin1Char('x')) + ",7}"), c.Edits(2), {});
    EXPECT_EQ(c.edits[0]->text(), QString(31, QLatin1Char('x')));
    EXPECT_EQ(c.edits[1]->text(), QStringLiteral("7"));

    LoadEditList(nullptr, c.Edits(3), c.Labels(3));
    EXPECT_FALSE(c.edits[0]->isEnabled());
    EXPECT_FALSE(c.labels[0]->isEnabled());
}

TEST(ToolkitLoadTest, ChecksAndCheckLists)
{
    Controls c;
    LoadCheck(V("auto"), QStringLiteral("auto"), c.boxes[0]);
    EXPECT_TRUE(c.boxes[0]->isChecked());
    LoadCheck(V("AUTO"), QStringLiteral("auto"), c.boxes[0]);  // exact comparison
    EXPECT_FALSE(c.boxes[0]->isChecked());
    for (const char* yes : {"on", "y", "yes"}) {
        LoadCheckYes(V(yes), c.boxes[1]);
        EXPECT_TRUE(c.boxes[1]->isChecked()) << yes;
    }
    LoadCheckYes(V("off"), c.boxes[1]);
    EXPECT_FALSE(c.boxes[1]->isChecked());
    LoadCheckYes(nullptr, c.boxes[1]);
    EXPECT_FALSE(c.boxes[1]->isEnabled());

    LoadCheckList(V("{on,off,y}"), c.Boxes(4));
    EXPECT_TRUE(c.boxes[0]->isChecked());
    EXPECT_FALSE(c.boxes[1]->isChecked());
    EXPECT_TRUE(c.boxes[2]->isChecked());
    EXPECT_FALSE(c.boxes[3]->isChecked());
    EXPECT_TRUE(c.boxes[3]->isEnabled());
    LoadCheckList(V(""), c.Boxes(4));
    EXPECT_FALSE(c.boxes[0]->isEnabled());
    LoadCheckList(V("{on}"), c.Boxes(2));
    LoadCheckList(nullptr, c.Boxes(2));
    EXPECT_FALSE(c.boxes[0]->isEnabled());
    EXPECT_FALSE(c.boxes[0]->isChecked());

    // A list longer than 19 entries: the 20th box is not touched.
    c.boxes[19]->setChecked(true);
    LoadCheckList(V("{" + QStringList(20, QStringLiteral("off")).join(',') + "}"), c.Boxes(20));
    EXPECT_FALSE(c.boxes[18]->isChecked());
    EXPECT_TRUE(c.boxes[19]->isChecked());
}

TEST(ToolkitLoadTest, CombosAndRadiosMatchValuesIgnoringCase)
{
    Controls c;
    QLabel companion;
    c.combo->addItems({"Manual", "Terminal"});
    LoadComboValue(V("TER"), {"manual", "ter"}, c.combo, {"Manual", "Terminal"}, &companion);
    EXPECT_EQ(c.combo->currentText(), QStringLiteral("Terminal"));
    EXPECT_TRUE(companion.isEnabled());
    LoadComboValue(V("enr"), {"manual", "ter"}, c.combo, {"Manual", "Terminal"}, &companion);
    EXPECT_EQ(c.combo->currentIndex(), -1);
    EXPECT_FALSE(c.combo->isEnabled());
    EXPECT_FALSE(companion.isEnabled());
    // A value whose label is missing (the label list is shorter) selects nothing.
    LoadComboValue(V("ter"), {"manual", "ter"}, c.combo, {"Manual"}, nullptr);
    EXPECT_EQ(c.combo->currentIndex(), -1);

    LoadComboText(V("Terminal"), c.combo);
    EXPECT_EQ(c.combo->currentIndex(), 1);
    LoadComboText(V("terminal"), c.combo);
    EXPECT_EQ(c.combo->currentIndex(), -1);
    EXPECT_FALSE(c.combo->isEnabled());

    const QStringList values{"ca", "p1", "p2", "ionofree"};
    LoadRadio(V("P1"), c.radios, values);
    EXPECT_TRUE(c.radios[1]->isChecked());
    LoadRadio(V("ca"), c.radios, values);
    EXPECT_TRUE(c.radios[0]->isChecked());
    EXPECT_FALSE(c.radios[1]->isChecked());
    LoadRadio(V("l5"), c.radios, values);
    for (QRadioButton* r : c.radios) {
        EXPECT_FALSE(r->isChecked());
        EXPECT_FALSE(r->isEnabled());
    }
}

TEST(ToolkitTextTest, NumberAndIntegerTexts)
{
    for (const char* yes : {"1.5", " 1.5 ", "-2", "1e3", ".5", "5.", "+7"}) {
        EXPECT_TRUE(IsNumberText(QString::fromLatin1(yes))) << yes;
    }
    for (const char* no : {"", "  ", "abc", "1.5x", "0x10", "inf", "nan", "1,5", "1e"}) {
        EXPECT_FALSE(IsNumberText(QString::fromLatin1(no))) << no;
    }
    for (const char* yes : {"12", " -3 ", "+0"}) {
        EXPECT_TRUE(IsIntegerText(QString::fromLatin1(yes))) << yes;
    }
    for (const char* no : {"1.0", "", "99999999999", "12a", "1e2"}) {
        EXPECT_FALSE(IsIntegerText(QString::fromLatin1(no))) << no;
    }
}

TEST(ToolkitTextTest, TablesHoldTheReceiversCodes)
{
    const QStringList full = DatumCodes(true);
    ASSERT_EQ(full.size(), 222);
    EXPECT_EQ(full[30], QStringLiteral("LEH"));
    EXPECT_EQ(full[35], QStringLiteral("LEH"));
    EXPECT_EQ(full.last(), QStringLiteral("USER"));
    EXPECT_EQ(DatumCodes(false), QStringList({"W84", "P90"}));
    EXPECT_EQ(PortSourceValues().size(), PortSourceLabels().size());
    EXPECT_EQ(ListEntry({"a", "b"}, 2), nullptr);
    EXPECT_EQ(ListEntry(QStringList(25, QStringLiteral("x")), 19), nullptr);
}

class ToolkitSimTest : public ::testing::Test
{
protected:
    CSharedSim sim;
    Controls c;
};

TEST_F(ToolkitSimTest, SetRoutinesSendWhatTheControlsShow)
{
    c.edits[0]->setText(QStringLiteral("ZED"));
    EXPECT_TRUE(SetEditParam(QStringLiteral("/par/blt/name"), c.edits[0], true));
    EXPECT_EQ(sim.Sim().Param(QStringLiteral("/par/blt/name")), QStringLiteral("\"ZED\""));

    c.edits[1]->setEnabled(false);
    c.edits[2]->setText(QStringLiteral("3"));
    c.edits[0]->setText(QStringLiteral("1"));
    sim.TakeCommands();
    SetEditListParam(QStringLiteral("/par/x"), c.Edits(3), false);
    SetEditListParam(QStringLiteral("/par/x"), c.Edits(3), true);
    c.boxes[0]->setChecked(true);
    c.boxes[1]->setEnabled(false);
    SetCheckListParam(QStringLiteral("/par/y"), c.Boxes(3), QStringLiteral("on"), QStringLiteral("off"));
    EXPECT_EQ(sim.TakeCommands(),
              QStringList({"set,/par/x,{1,,3}", "set,/par/x,{\"1\",,\"3\"}", "set,/par/y,{on,,off}"}));

    // Disabled single controls and missing choices send nothing.
    c.edits[1]->setEnabled(false);
    EXPECT_TRUE(SetEditParam(QStringLiteral("/par/pos/elm"), c.edits[1], false));
    c.boxes[1]->setEnabled(false);
    EXPECT_TRUE(SetCheckParam(QStringLiteral("/par/pos/mode/sp"), c.boxes[1], "on", "off"));
    EXPECT_TRUE(SetRadioParam(QStringLiteral("/par/pos/sp/meas"), c.radios, {"ca", "p1", "p2", "ionofree"}));
    c.combo->addItems({"Manual", "Terminal", "Other"});
    c.combo->setCurrentIndex(2);
    EXPECT_TRUE(
        SetComboParam(QStringLiteral("/par/pos/raim/al/mode"), {"manual", "ter"}, c.combo, {"Manual", "Terminal"}));
    EXPECT_EQ(sim.TakeCommands(), QStringList());

    // No selection: the first entry.
    c.combo->setCurrentIndex(-1);
    EXPECT_TRUE(
        SetComboParam(QStringLiteral("/par/pos/raim/al/mode"), {"manual", "ter"}, c.combo, {"Manual", "Terminal"}));
    EXPECT_TRUE(SetComboTextParam(QStringLiteral("/par/pos/raim/al/mode"), c.combo));
    // The first enabled, checked radio.
    SetRadioChecked(c.radios[1], true);
    c.radios[1]->setEnabled(false);
    SetRadioChecked(c.radios[3], true);
    EXPECT_TRUE(SetRadioParam(QStringLiteral("/par/pos/sp/meas"), c.radios, {"ca", "p1", "p2", "ionofree"}));
    EXPECT_EQ(sim.TakeCommands(), QStringList({"set,/par/pos/raim/al/mode,manual", "set,/par/pos/raim/al/mode,Manual",
                                               "set,/par/pos/sp/meas,ionofree"}));
}

TEST_F(ToolkitSimTest, RefusalsMoveTheFocusToTheControl)
{
    c.edits[3]->setText(QStringLiteral("95"));
    EXPECT_FALSE(SetEditParam(QStringLiteral("/par/pos/elm"), c.edits[3], false));
    EXPECT_EQ(c.Focused(), c.edits[3]);

    EXPECT_FALSE(SetEditListParam(QStringLiteral("/par/nope"), c.Edits(3), false));
    EXPECT_EQ(c.Focused(), c.edits[0]);

    sim.Sim().RefuseParam(QStringLiteral("/par/pos/mode/sp"));
    EXPECT_FALSE(SetCheckParam(QStringLiteral("/par/pos/mode/sp"), c.boxes[5], "on", "off"));
    EXPECT_EQ(c.Focused(), c.boxes[5]);

    SetRadioChecked(c.radios[2], true);
    EXPECT_FALSE(SetRadioParam(QStringLiteral("/par/pos/sp/meas"), c.radios, {"ca", "p1", "bad", "x"}));
    EXPECT_EQ(c.Focused(), c.radios[2]);

    c.combo->addItems({"W84", "XYZ"});
    c.combo->setCurrentIndex(1);
    EXPECT_FALSE(SetComboTextParam(QStringLiteral("/par/pos/datum/cur"), c.combo));
    EXPECT_EQ(c.Focused(), c.combo);
    EXPECT_FALSE(SetParam(QStringLiteral("/par/pos/datum/cur"), QStringLiteral("NOPE")));
}

TEST_F(ToolkitSimTest, WritersLeaveOutDisabledControls)
{
    CFakeSheet sheet;
    CConfigSheetScope scope(&sheet);
    c.edits[0]->setText(QStringLiteral("a b"));
    WriteEditParam(QStringLiteral("/par/e"), c.edits[0], true);
    c.edits[1]->setEnabled(false);
    WriteEditParam(QStringLiteral("/par/skip"), c.edits[1], false);
    WriteEditListParam(QStringLiteral("/par/skip"), {c.edits[1]}, false);
    WriteEditListParam(QStringLiteral("/par/el"), c.Edits(2), false);
    c.boxes[0]->setChecked(true);
    c.boxes[1]->setEnabled(false);
    WriteCheckParam(QStringLiteral("/par/c"), c.boxes[0], "on", "off");
    WriteCheckParam(QStringLiteral("/par/skip"), c.boxes[1], "on", "off");
    WriteCheckListParam(QStringLiteral("/par/cl"), c.Boxes(3), "y", "n", false);
    WriteCheckListParam(QStringLiteral("/par/bare"), c.Boxes(3), "y", "n", true);
    WriteCheckListParam(QStringLiteral("/par/skip"), {c.boxes[1]}, "y", "n", false);
    c.combo->addItems({"Manual", "Terminal"});
    c.combo->setCurrentIndex(-1);
    WriteComboParam(QStringLiteral("/par/skip"), {"manual", "ter"}, c.combo, {"Manual", "Terminal"});
    c.combo->setCurrentIndex(1);
    WriteComboParam(QStringLiteral("/par/co"), {"manual", "ter"}, c.combo, {"Manual", "Terminal"});
    WriteRadioParam(QStringLiteral("/par/skip"), c.radios, {"a", "b", "c", "d"});
    SetRadioChecked(c.radios[0], true);
    WriteRadioParam(QStringLiteral("/par/r"), c.radios, {"a", "b", "c", "d"});
    EXPECT_TRUE(WriteCurrentParam(QStringLiteral("/par/pos/elm")));
    EXPECT_FALSE(WriteCurrentParam(QStringLiteral("/par/nope")));
    EXPECT_EQ(sheet.lines,
              QStringList({"%/par/e%set,/par/e,\"a b\"", "%/par/el%set,/par/el,{a b,}", "%/par/c%set,/par/c,on",
                           "%/par/cl%set,/par/cl,{y,,n}", "%/par/bare%set,/par/bare,y,,n", "%/par/co%set,/par/co,ter",
                           "%/par/r%set,/par/r,a", "%/par/pos/elm%set,/par/pos/elm,5"}));
}

TEST(ToolkitScriptTest, PortMessagesBecomeEnableLines)
{
    CScriptedReceiver receiver({{"/par/out/dev/ser/a:on", "{A={p1,p2},B={p3}}"},
                                {"/par/out/dev/ser/b:on", "none"},
                                {"/par/out/dev/ser/c:on", "{A={1},junk}"}});
    CFakeSheet sheet;
    CConfigSheetScope scope(&sheet);
    EXPECT_TRUE(WritePortMessages(QStringLiteral("/dev/ser/a")));
    EXPECT_TRUE(WritePortMessages(QStringLiteral("/dev/ser/b")));
    EXPECT_TRUE(WritePortMessages(QStringLiteral("/dev/ser/c")));
    EXPECT_FALSE(WritePortMessages(QStringLiteral("/dev/ser/d")));
    EXPECT_EQ(sheet.lines,
              QStringList({"%dm,/dev/ser/a%dm,/dev/ser/a", "%em,/dev/ser/a,A:{p1,p2}%em,/dev/ser/a,A:{p1,p2}",
                           "%em,/dev/ser/a,B:{p3}%em,/dev/ser/a,B:{p3}", "%dm,/dev/ser/b%dm,/dev/ser/b",
                           "%dm,/dev/ser/c%dm,/dev/ser/c", "%em,/dev/ser/c,A:{1}%em,/dev/ser/c,A:{1}",
                           "%dm,/dev/ser/d%dm,/dev/ser/d"}));
}

TEST(ToolkitScriptTest, HeaderAndFileForm)
{
    const QStringList header = SetupScriptHeader("Version 1.2 ", "(june 1, 2024)", "M%sX");
    ASSERT_EQ(header.size(), 67);
    EXPECT_EQ(header[2], QStringLiteral("# Generated by Nemola-M Version 1.2  ((june 1, 2024))"));
    EXPECT_EQ(header[4], QStringLiteral("%Receiver model%print,/par/rcv/model"));
    EXPECT_EQ(header[6], QStringLiteral("@echo This script was generated for M%sX receiver and may not"));
    EXPECT_EQ(header[10], QStringLiteral("@:IsM%sX"));
    EXPECT_EQ(header[29], QStringLiteral("%print,/par/cur/term/rate&def%print,/par/cur/term/rate&def"));
    EXPECT_EQ(header[66], QStringLiteral("@:InitComplete"));
    EXPECT_TRUE(BuildDateText().startsWith('(') && BuildDateText().endsWith(')'));

    QTemporaryDir dir;
    CScriptFile file;
    ASSERT_TRUE(file.Open(dir.filePath("s.kvc")));
    file.WriteLine(QStringLiteral("caf\u00e9"));
    file.WriteLine(QStringLiteral("x"));
    file.Close();
    EXPECT_EQ(FileBytes(dir.filePath("s.kvc")), QByteArray("caf\xe9\r\nx\r\n"));
    EXPECT_FALSE(file.Open(dir.filePath("missing/s.kvc")));
}

TEST(ToolkitPeriodTest, OutputPeriodAgainstTheReceiversIntervals)
{
    CSharedSim sim;
    sim.Sim().SetParamValue(QStringLiteral("/par/raw/curmsint"), QStringLiteral("50"));
    EXPECT_TRUE(CheckOutputPeriod(0.1f));
    EXPECT_TRUE(CheckOutputPeriod(0.0996f));  // counts as 100 ms
    EXPECT_FALSE(CheckOutputPeriod(0.1004f));
    EXPECT_FALSE(CheckOutputPeriod(0.025f));  // below the raw interval
    sim.Sim().SetParamValue(QStringLiteral("/par/raw/curmsint"), QStringLiteral("40"));
    EXPECT_FALSE(CheckOutputPeriod(0.1f));
    EXPECT_TRUE(CheckOutputPeriod(0.2f));
    sim.Sim().SetParamValue(QStringLiteral("/par/raw/curmsint"), QStringLiteral("0"));
    EXPECT_FALSE(CheckOutputPeriod(0.2f));
    sim.Sim().SetParamValue(QStringLiteral("/par/raw/curmsint"), QStringLiteral("x"));
    EXPECT_FALSE(CheckOutputPeriod(0.2f));
}

TEST(ToolkitPeriodTest, SilentReceiverPassesAndTheEditIsValidatedFirst)
{
    CScriptedReceiver receiver({});
    EXPECT_TRUE(CheckOutputPeriod(0.1f));

    Controls c;
    CScriptedPrompts prompts;
    c.edits[0]->setText(QStringLiteral("abc"));
    EXPECT_FALSE(SetOutputPeriodParam(QString(), c.edits[0]));
    c.edits[0]->setText(QStringLiteral(" 0.5 "));
    EXPECT_TRUE(SetOutputPeriodParam(QStringLiteral("/par/out/period"), c.edits[0]));
    EXPECT_FLOAT_EQ(g_lastOutputPeriod.load(), 0.5f);
    EXPECT_TRUE(receiver.Received().last().endsWith(QLatin1String("set,/par/out/period,0.5")));
    c.edits[0]->setEnabled(false);
    EXPECT_TRUE(SetOutputPeriodParam(QStringLiteral("/par/out/period"), c.edits[0]));
}

TEST(ToolkitPeriodTest, UnsupportedPeriodIsReportedAndNotSent)
{
    CSharedSim sim;
    CScriptedPrompts prompts;
    Controls c;
    prompts.ExpectMessage(QStringLiteral("Output Period"), OutputPeriodWarningText(), PromptButtons::Ok,
                          PromptButton::Ok);
    c.edits[0]->setText(QStringLiteral("0.1004"));
    sim.TakeCommands();
    EXPECT_FALSE(SetOutputPeriodParam(QStringLiteral("/par/pos/pdop"), c.edits[0]));
    EXPECT_FALSE(sim.TakeCommands().join(' ').contains(QLatin1String("set,")));
    EXPECT_FLOAT_EQ(g_lastOutputPeriod.load(), 0.1004f);
}

TEST(ToolkitDatumTest, DatumComboFollowsTheReceiversFeature)
{
    QComboBox combo;
    {
        CSharedSim sim;
        sim.Sim().SetParamValue(QStringLiteral("/par/pos/datum/cur"), QStringLiteral("EUR-M"));
        EXPECT_TRUE(FillDatumCombo(&combo, true));
        EXPECT_EQ(combo.count(), 222);
        EXPECT_EQ(combo.currentText(), QStringLiteral("EUR-M"));
        EXPECT_TRUE(FillDatumCombo(&combo, false));
        EXPECT_EQ(combo.currentIndex(), -1);
    }
    {
        CSharedSim sim("lite");
        EXPECT_TRUE(FillDatumCombo(&combo, true));
        EXPECT_EQ(combo.count(), 2);
        EXPECT_EQ(combo.currentText(), QStringLiteral("W84"));
    }
    CScriptedReceiver silent({});
    EXPECT_FALSE(FillDatumCombo(&combo, true));
    EXPECT_FALSE(combo.isEnabled());
    EXPECT_EQ(combo.count(), 0);
}
