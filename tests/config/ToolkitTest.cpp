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

#include <gtest/gtest.h>

#include <functional>

namespace {

// A window of controls; shown, so that focus can move.
struct Controls
{
    Controls()
    {
        for (int i = 0; i < 20; ++i) {
            edits.push_back(new QLineEdit(&window));
            boxes.push_back(new QCheckBox(&window));
            labels.push_back(new QLabel(&window));
        }
        for (int i = 0; i < 4; ++i) {
            radios.push_back(new QRadioButton(&window));
        }
        window.show();
    }
    EditList Edits(int n) const { return EditList(edits.begin(), edits.begin() + n); }
    CheckList Boxes(int n) const { return CheckList(boxes.begin(), boxes.begin() + n); }
    WidgetList Labels(int n) const { return WidgetList(labels.begin(), labels.begin() + n); }
    QStringList Texts(int n) const
    {
        QStringList out;
        for (QLineEdit* e : Edits(n)) {
            out << e->text();
        }
        return out;
    }

    QWidget window;
    EditList edits;
    CheckList boxes;
    WidgetList labels;
    RadioList radios;
    QComboBox* combo = new QComboBox(&window);
};

const QString* V(const QString& s)
{
    static QString held;
    held = s;
    return &held;
}

const QStringList kAlarmValues{"manual", "ter"};
const QStringList kAlarmLabels{"Manual", "Terminal"};
const QStringList kMeas{"ca", "p1", "p2", "ionofree"};

}  // namespace

TEST(ToolkitLoadTest, EditsTakeTheValueUnquotedAndAreDisabledWithoutOne)
{
    Controls c;
    QLabel companion;
    LoadEdit(V("\"Base 1\""), c.edits[0], &companion, true);
    EXPECT_EQ(c.edits[0]->text(), QStringLiteral("Base 1"));
    EXPECT_EQ(Enabled({c.edits[0], &companion}), QStringLiteral("11"));
    LoadEdit(V("12.5"), c.edits[0], &companion, false);  // shown, but not editable
    EXPECT_EQ(c.edits[0]->text(), QStringLiteral("12.5"));
    EXPECT_FALSE(c.edits[0]->isEnabled());
    LoadEdit(V("\""), c.edits[0], nullptr, true);  // a lone quote leaves nothing
    EXPECT_EQ(c.edits[0]->text(), QString());
    LoadEdit(V("\"4719"), c.edits[0], nullptr, true);  // no closing quote: the text stays whole
    EXPECT_EQ(c.edits[0]->text(), QStringLiteral("4719"));
    c.edits[0]->setText(QStringLiteral("old"));
    LoadEdit(nullptr, c.edits[0], &companion, true);
    EXPECT_EQ(c.edits[0]->text(), QString());
    EXPECT_EQ(Enabled({c.edits[0], &companion}), QStringLiteral("00"));
    LoadEditPlain(V("\"q\""), c.edits[1], true);
    EXPECT_EQ(c.edits[1]->text(), QStringLiteral("\"q\""));
    LoadEditPlain(nullptr, c.edits[1], true);
    EXPECT_FALSE(c.edits[1]->isEnabled());

    // A list reads its items up to the first empty one.
    for (QLineEdit* e : c.Edits(3)) {
        e->setText(QStringLiteral("old"));
    }
    LoadEditList(V("{1.5,\"ab\",}"), c.Edits(3), c.Labels(3));
    EXPECT_EQ(c.Texts(3), QStringList({"1.5", "ab", ""}));
    EXPECT_EQ(Enabled(c.Edits(3)) + Enabled(c.Labels(3)), QStringLiteral("111111"));
    LoadEditList(V("{1,,3}"), c.Edits(3), {});  // an empty item in the middle ends the reading
    EXPECT_EQ(c.Texts(3), QStringList({"1", "", ""}));
    // An item is taken whole (a CMR long ID has 32 characters and its quotes) and does not spill into the next.
    LoadEditList(V("{\"" + QString(32, QLatin1Char('x')) + "\",7}"), c.Edits(2), {});
    EXPECT_EQ(c.Texts(2), QStringList({QString(32, QLatin1Char('x')), "7"}));
    // A quoted item may hold the characters that end unquoted ones.
    LoadEditList(V("{\"a,b\",\"x}y\",7}"), c.Edits(3), {});
    EXPECT_EQ(c.Texts(3), QStringList({"a,b", "x}y", "7"}));
    LoadEditList(nullptr, c.Edits(3), c.Labels(3));
    EXPECT_EQ(Enabled(c.Edits(3)) + Enabled(c.Labels(3)), QStringLiteral("000000"));
}

TEST(ToolkitLoadTest, ChecksCombosAndRadios)
{
    Controls c;
    LoadCheck(V("auto"), QStringLiteral("auto"), c.boxes[0]);
    EXPECT_TRUE(c.boxes[0]->isChecked());
    LoadCheck(V("AUTO"), QStringLiteral("auto"), c.boxes[0]);  // exact comparison
    EXPECT_FALSE(c.boxes[0]->isChecked());
    for (const char* value : {"on", "y", "yes", "off"}) {
        LoadCheckYes(V(value), c.boxes[1]);
        EXPECT_EQ(c.boxes[1]->isChecked(), qstrcmp(value, "off") != 0) << value;
    }
    LoadCheckYes(nullptr, c.boxes[1]);
    EXPECT_FALSE(c.boxes[1]->isEnabled());

    LoadCheckList(V("{on,off,y}"), c.Boxes(4));
    EXPECT_EQ(Checked(c.Boxes(4)) + Enabled(c.Boxes(4)), QStringLiteral("10101111"));
    LoadCheckList(V(""), c.Boxes(4));
    EXPECT_EQ(Enabled(c.Boxes(4)), QStringLiteral("0000"));
    LoadCheckList(V("{on}"), c.Boxes(2));
    LoadCheckList(nullptr, c.Boxes(2));
    EXPECT_EQ(Checked(c.Boxes(2)) + Enabled(c.Boxes(2)), QStringLiteral("0000"));
    // A list longer than 19 entries: the 20th box is not touched.
    c.boxes[19]->setChecked(true);
    LoadCheckList(V("{" + QStringList(20, QStringLiteral("off")).join(',') + "}"), c.Boxes(20));
    EXPECT_EQ(Checked(c.Boxes(20)), QString(19, QLatin1Char('0')) + "1");

    // Combos and radios match values ignoring case.
    QLabel companion;
    c.combo->addItems(kAlarmLabels);
    LoadComboValue(V("TER"), kAlarmValues, c.combo, kAlarmLabels, &companion);
    EXPECT_EQ(c.combo->currentText(), QStringLiteral("Terminal"));
    EXPECT_EQ(Enabled({c.combo, &companion}), QStringLiteral("11"));
    LoadComboValue(V("enr"), kAlarmValues, c.combo, kAlarmLabels, &companion);
    EXPECT_EQ(c.combo->currentIndex(), -1);
    EXPECT_EQ(Enabled({c.combo, &companion}), QStringLiteral("00"));
    // A value whose label is missing (the label list is shorter) selects nothing.
    LoadComboValue(V("ter"), kAlarmValues, c.combo, {"Manual"}, nullptr);
    EXPECT_EQ(c.combo->currentIndex(), -1);
    EXPECT_EQ(ListEntry(QStringList(25, QStringLiteral("x")), 19), nullptr);  // lists hold 19 entries
    EXPECT_EQ(PortSourceValues().size(), PortSourceLabels().size());

    LoadComboText(V("Terminal"), c.combo);
    EXPECT_EQ(c.combo->currentIndex(), 1);
    LoadComboText(V("terminal"), c.combo);
    EXPECT_EQ(c.combo->currentIndex(), -1);
    EXPECT_FALSE(c.combo->isEnabled());

    LoadRadio(V("P1"), c.radios, kMeas);
    EXPECT_EQ(Checked(c.radios), QStringLiteral("0100"));
    LoadRadio(V("ca"), c.radios, kMeas);
    EXPECT_EQ(Checked(c.radios), QStringLiteral("1000"));
    LoadRadio(V("l5"), c.radios, kMeas);
    EXPECT_EQ(Checked(c.radios) + Enabled(c.radios), QStringLiteral("00000000"));
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

class ToolkitSimTest : public ::testing::Test
{
protected:
    CSharedSim sim;
    Controls c;
};

TEST_F(ToolkitSimTest, SetAndWriteRoutinesSendWhatTheControlsShow)
{
    CFakeSheet sheet;
    CConfigSheetScope scope(&sheet);
    // Disabled controls: single ones are left out, list entries become empty items.
    c.edits[0]->setText(QStringLiteral("a b"));
    c.edits[1]->setEnabled(false);
    c.edits[2]->setText(QStringLiteral("3"));
    c.boxes[0]->setChecked(true);
    c.boxes[1]->setEnabled(false);
    c.combo->addItems({"Manual", "Terminal", "Other"});
    c.combo->setCurrentIndex(2);  // a label without a value
    sim.TakeCommands();
    EXPECT_TRUE(SetEditParam(QStringLiteral("/par/blt/name"), c.edits[0], true));
    EXPECT_TRUE(SetEditParam(QStringLiteral("/par/pos/elm"), c.edits[1], false));
    SetEditListParam(QStringLiteral("/par/x"), c.Edits(3), false);
    SetEditListParam(QStringLiteral("/par/x"), c.Edits(3), true);
    EXPECT_TRUE(SetCheckParam(QStringLiteral("/par/pos/mode/sp"), c.boxes[1], "on", "off"));
    SetCheckListParam(QStringLiteral("/par/y"), c.Boxes(3), QStringLiteral("on"), QStringLiteral("off"));
    EXPECT_TRUE(SetRadioParam(QStringLiteral("/par/pos/sp/meas"), c.radios, kMeas));  // none checked
    EXPECT_TRUE(SetComboParam(QStringLiteral("/par/pos/raim/al/mode"), kAlarmValues, c.combo, kAlarmLabels));
    WriteEditParam(QStringLiteral("/par/e"), c.edits[0], true);
    WriteEditParam(QStringLiteral("/par/skip"), c.edits[1], false);
    WriteEditListParam(QStringLiteral("/par/skip"), {c.edits[1]}, false);
    WriteEditListParam(QStringLiteral("/par/el"), c.Edits(2), false);
    WriteCheckParam(QStringLiteral("/par/c"), c.boxes[0], "on", "off");
    WriteCheckParam(QStringLiteral("/par/skip"), c.boxes[1], "on", "off");
    WriteCheckListParam(QStringLiteral("/par/cl"), c.Boxes(3), "y", "n", false);
    WriteCheckListParam(QStringLiteral("/par/bare"), c.Boxes(3), "y", "n", true);
    WriteCheckListParam(QStringLiteral("/par/skip"), {c.boxes[1]}, "y", "n", false);
    WriteComboParam(QStringLiteral("/par/skip"), kAlarmValues, c.combo, kAlarmLabels);
    WriteRadioParam(QStringLiteral("/par/skip"), c.radios, kMeas);
    EXPECT_EQ(sim.TakeCommands(), QStringList({"set,/par/blt/name,\"a b\"", "set,/par/x,{a b,,3}",
                                               "set,/par/x,{\"a b\",,\"3\"}", "set,/par/y,{on,,off}"}));

    // No selection: Set sends the first entry, Write nothing. Radios: the first enabled, checked one.
    c.combo->setCurrentIndex(-1);
    EXPECT_TRUE(SetComboParam(QStringLiteral("/par/pos/raim/al/mode"), kAlarmValues, c.combo, kAlarmLabels));
    EXPECT_TRUE(SetComboTextParam(QStringLiteral("/par/pos/raim/al/mode"), c.combo));
    WriteComboParam(QStringLiteral("/par/skip"), kAlarmValues, c.combo, kAlarmLabels);
    c.combo->setCurrentIndex(1);
    WriteComboParam(QStringLiteral("/par/co"), kAlarmValues, c.combo, kAlarmLabels);
    SetRadioChecked(c.radios[1], true);
    c.radios[1]->setEnabled(false);
    SetRadioChecked(c.radios[3], true);
    EXPECT_TRUE(SetRadioParam(QStringLiteral("/par/pos/sp/meas"), c.radios, kMeas));
    WriteRadioParam(QStringLiteral("/par/r"), c.radios, kMeas);
    EXPECT_EQ(sim.TakeCommands(), QStringList({"set,/par/pos/raim/al/mode,manual", "set,/par/pos/raim/al/mode,Manual",
                                               "set,/par/pos/sp/meas,ionofree"}));
    EXPECT_TRUE(WriteCurrentParam(QStringLiteral("/par/pos/elm")));
    EXPECT_FALSE(WriteCurrentParam(QStringLiteral("/par/nope")));
    EXPECT_EQ(sheet.lines,
              QStringList({"%/par/e%set,/par/e,\"a b\"", "%/par/el%set,/par/el,{a b,}", "%/par/c%set,/par/c,on",
                           "%/par/cl%set,/par/cl,{y,,n}", "%/par/bare%set,/par/bare,y,,n", "%/par/co%set,/par/co,ter",
                           "%/par/r%set,/par/r,ionofree", "%/par/pos/elm%set,/par/pos/elm,5"}));
}

TEST_F(ToolkitSimTest, RefusalsMoveTheFocusToTheControl)
{
    c.edits[3]->setText(QStringLiteral("95"));
    EXPECT_FALSE(SetEditParam(QStringLiteral("/par/pos/elm"), c.edits[3], false));
    EXPECT_EQ(c.window.focusWidget(), c.edits[3]);

    EXPECT_FALSE(SetEditListParam(QStringLiteral("/par/nope"), c.Edits(3), false));
    EXPECT_EQ(c.window.focusWidget(), c.edits[0]);

    sim.Sim().RefuseParam(QStringLiteral("/par/pos/mode/sp"));
    EXPECT_FALSE(SetCheckParam(QStringLiteral("/par/pos/mode/sp"), c.boxes[5], "on", "off"));
    EXPECT_EQ(c.window.focusWidget(), c.boxes[5]);

    SetRadioChecked(c.radios[2], true);
    EXPECT_FALSE(SetRadioParam(QStringLiteral("/par/pos/sp/meas"), c.radios, {"ca", "p1", "bad", "x"}));
    EXPECT_EQ(c.window.focusWidget(), c.radios[2]);

    c.combo->addItems({"W84", "XYZ"});
    c.combo->setCurrentIndex(1);
    EXPECT_FALSE(SetComboTextParam(QStringLiteral("/par/pos/datum/cur"), c.combo));
    EXPECT_EQ(c.window.focusWidget(), c.combo);
    EXPECT_FALSE(SetParam(QStringLiteral("/par/pos/datum/cur"), QStringLiteral("NOPE")));
}

TEST_F(ToolkitSimTest, ValuesThatCouldCarryAnotherCommandAreNeitherSentNorWritten)
{
    CFakeSheet sheet;
    CConfigSheetScope scope(&sheet);
    const QString p = QStringLiteral("/par/pos/elm");
    sim.TakeCommands();
    // Also what a setup script would not replay as set: the interpreter's argument references and its labels.
    for (const char* bad :
         {"5&&init,/par/", "5;init,/par/", "%t%5", "5\rinit,/par/", "5\ninit,/par/", "Mast@1", "x@:InitComplete"}) {
        const QString v = QString::fromLatin1(bad);
        const QStringList vs{v};
        c.edits[0]->setText(v);
        c.combo->clear();
        c.combo->addItems(vs);
        SetRadioChecked(c.radios[0], true);
        // Every kind of control, the value typed or from its table.
        const std::function<bool()> sets[] = {
            [&] { return SetEditParam(p, c.edits[0], false); }, [&] { return SetEditListParam(p, c.Edits(2), true); },
            [&] { return SetCheckParam(p, c.boxes[0], v, v); }, [&] { return SetCheckListParam(p, c.Boxes(2), v, v); },
            [&] { return SetComboParam(p, vs, c.combo, vs); },  [&] { return SetComboTextParam(p, c.combo); },
            [&] { return SetRadioParam(p, c.radios, vs); },
        };
        for (size_t i = 0; i < std::size(sets); ++i) {
            ClearSetValueRefused();
            EXPECT_FALSE(sets[i]()) << bad << " #" << i;
            EXPECT_TRUE(LastSetValueRefused()) << bad << " #" << i;
        }
        // Every Write routine ends in the same line writer.
        WriteEditParam(p, c.edits[0], false);
        WriteRadioParam(p, c.radios, vs);
    }
    c.edits[0]->setText(QStringLiteral("a\"b"));  // a double quote inside a quoted value
    EXPECT_FALSE(SetEditParam(p, c.edits[0], true));
    EXPECT_TRUE(LastSetValueRefused());
    EXPECT_EQ(sheet.refusals, QStringList(7 * 2, QStringLiteral("Invalid value of /par/pos/elm")));
    EXPECT_TRUE(sheet.lines.isEmpty());
    EXPECT_TRUE(sim.TakeCommands().isEmpty());
}

TEST(ToolkitScriptTest, PortMessagesBecomeEnableLines)
{
    CScriptedReceiver receiver({{"/par/out/dev/ser/a:on", "{A={p1,p2},B={p3}}"},
                                {"/par/out/dev/ser/b:on", "{}"},
                                {"/par/out/dev/ser/c:on", "{A={1},junk}"},
                                {"/par/out/dev/ser/d:on", "none"}});
    CFakeSheet sheet;
    CConfigSheetScope scope(&sheet);
    EXPECT_TRUE(WritePortMessages(QStringLiteral("/dev/ser/a")));
    EXPECT_TRUE(WritePortMessages(QStringLiteral("/dev/ser/b")));
    EXPECT_EQ(sheet.lines,
              QStringList({"%dm,/dev/ser/a%dm,/dev/ser/a", "%em,/dev/ser/a,A:{p1,p2}%em,/dev/ser/a,A:{p1,p2}",
                           "%em,/dev/ser/a,B:{p3}%em,/dev/ser/a,B:{p3}", "%dm,/dev/ser/b%dm,/dev/ser/b"}));
    // A list the receiver does not give, or not readably: replayed, a lone "dm" would leave the port silent, so
    // nothing is written and the script fails.
    sheet.lines.clear();
    for (const char* port : {"/dev/ser/c", "/dev/ser/d", "/dev/tcp/a"}) {
        EXPECT_FALSE(WritePortMessages(QLatin1String(port))) << port;
    }
    EXPECT_TRUE(sheet.lines.isEmpty());
    EXPECT_EQ(sheet.refusals, QStringList({"Can't read the output messages of /dev/ser/c",
                                           "Can't read the output messages of /dev/ser/d",
                                           "Can't read the output messages of /dev/tcp/a"}));
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
    EXPECT_EQ(FileBytes(dir.filePath("s.kvc")), QByteArray("caf\xe9\r\nx\r\n"));  // Latin-1, CR LF, no BOM
    EXPECT_FALSE(file.Open(dir.filePath("missing/s.kvc")));
}

TEST(ToolkitPeriodTest, OutputPeriodAgainstTheReceiversIntervals)
{
    CSharedSim sim;
    const struct
    {
        const char* rawInterval;
        double seconds;
        bool fits;
    } cases[] = {{"50", 0.1, true},  {"50", 0.0996, true}, {"50", 0.1004, false}, {"50", 0.025, false},
                 {"40", 0.1, false}, {"40", 0.2, true},    {"0", 0.2, false},     {"x", 0.2, false}};
    for (const auto& k : cases) {
        sim.Sim().SetParamValue(QStringLiteral("/par/raw/curmsint"), QString::fromLatin1(k.rawInterval));
        EXPECT_EQ(CheckOutputPeriod(k.seconds), k.fits) << k.seconds << " s against " << k.rawInterval << " ms";
    }
    // Every period typed in tenths of a second is its whole milliseconds, though no decimal tenth is an exact
    // binary number (8.1 s, 16.2 s, 64.3 s; and 1.001 s at a 1 ms interval).
    sim.Sim().SetParamValue(QStringLiteral("/par/raw/curmsint"), QStringLiteral("100"));
    sim.Sim().SetParamValue(QStringLiteral("/par/pos/curmsint"), QStringLiteral("100"));
    for (int tenths = 1; tenths <= 1000; ++tenths) {
        const QString typed = QString::number(tenths / 10) + QLatin1Char('.') + QString::number(tenths % 10);
        ASSERT_TRUE(CheckOutputPeriod(typed.toDouble())) << typed.toStdString();
    }
    sim.Sim().SetParamValue(QStringLiteral("/par/raw/curmsint"), QStringLiteral("1"));
    sim.Sim().SetParamValue(QStringLiteral("/par/pos/curmsint"), QStringLiteral("1"));
    EXPECT_TRUE(CheckOutputPeriod(QStringLiteral("1.001").toDouble()));
}

TEST(ToolkitPeriodTest, TheEditIsValidatedCheckedAndSent)
{
    CScriptedReceiver receiver({});  // refuses both interval prints: no limit
    EXPECT_TRUE(CheckOutputPeriod(0.1));
    Controls c;
    CScriptedPrompts prompts;
    c.edits[0]->setText(QStringLiteral("abc"));
    EXPECT_FALSE(SetOutputPeriodParam(QString(), c.edits[0]));

    // An unsupported period is reported and not sent.
    prompts.ExpectMessage(QStringLiteral("Output Period"), OutputPeriodWarningText(), PromptButtons::Ok,
                          PromptButton::Ok);
    c.edits[0]->setText(QStringLiteral("0.1004"));
    const qsizetype before = receiver.Received().size();
    EXPECT_FALSE(SetOutputPeriodParam(QStringLiteral("/par/out/period"), c.edits[0]));
    EXPECT_EQ(receiver.Received().size(), before);
    EXPECT_FLOAT_EQ(g_lastOutputPeriod.load(), 0.1004f);

    c.edits[0]->setText(QStringLiteral(" 0.5 "));
    EXPECT_TRUE(SetOutputPeriodParam(QStringLiteral("/par/out/period"), c.edits[0]));
    EXPECT_FLOAT_EQ(g_lastOutputPeriod.load(), 0.5f);
    EXPECT_TRUE(receiver.Received().last().endsWith(QLatin1String("set,/par/out/period,0.5")));
    c.edits[0]->setEnabled(false);
    EXPECT_TRUE(SetOutputPeriodParam(QStringLiteral("/par/out/period"), c.edits[0]));
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
