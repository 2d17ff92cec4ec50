#pragma once

#include <QString>
#include <QStringList>

#include <array>
#include <vector>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QRadioButton;
class QWidget;

// The routines every configuration page uses to load reply values into controls and to send changed values.
//
// A disabled control stands for a parameter the receiver did not report: the Set routines for one control do
// nothing for it, and the list routines put an empty item in its place. A reply value is passed as a pointer:
// null when the receiver did not answer that line (CParamBatch::Value), which disables the controls concerned.
//
// Set routines send "%%set,<path>,<value>" at once through the program's shared receiver and return true when the
// receiver accepted it or nothing had to be sent; on a refusal the control concerned gets the input focus.

using EditList = std::vector<QLineEdit*>;
using CheckList = std::vector<QCheckBox*>;
using RadioList = std::vector<QRadioButton*>;
using WidgetList = std::vector<QWidget*>;

// Lists of controls, receiver keywords and labels hold at most this many entries; entries past it are not used.
constexpr int kMaxListEntries = 19;

// Entry i of a value or label list, or null past its end.
const QString* ListEntry(const QStringList& list, int i);

// Datum codes as the receiver names them. The full table has 222 entries ("LEH" appears twice); receivers
// without the datum feature know the first two only.
extern const std::array<const char*, 222> kDatumCodes;
constexpr int kShortDatumCount = 2;
QStringList DatumCodes(bool full);

// The ports a receiver takes corrections from, and their labels.
QStringList PortSourceValues();
QStringList PortSourceLabels();

// Load routines.
void LoadEdit(const QString* value, QLineEdit* edit, QWidget* companion, bool enable);
void LoadEditPlain(const QString* value, QLineEdit* edit, bool enable);
void LoadEditList(const QString* value, const EditList& edits, const WidgetList& labels);
void LoadCheck(const QString* value, const QString& onValue, QCheckBox* box);
void LoadCheckYes(const QString* value, QCheckBox* box);
void LoadCheckList(const QString* value, const CheckList& boxes);
void LoadComboText(const QString* value, QComboBox* combo);
void LoadComboValue(const QString* value, const QStringList& values, QComboBox* combo, const QStringList& labels,
                    QWidget* companion);
void LoadRadio(const QString* value, const RadioList& radios, const QStringList& values);

// Set routines.
bool SetParam(const QString& path, const QString& value);
bool SetEditParam(const QString& path, QLineEdit* edit, bool quoted);
bool SetEditListParam(const QString& path, const EditList& edits, bool quoted);
bool SetCheckParam(const QString& path, QCheckBox* box, const QString& onValue, const QString& offValue);
bool SetCheckListParam(const QString& path, const CheckList& boxes, const QString& onValue, const QString& offValue);
bool SetComboParam(const QString& path, const QStringList& values, QComboBox* combo, const QStringList& labels);
bool SetComboTextParam(const QString& path, QComboBox* combo);
bool SetRadioParam(const QString& path, const RadioList& radios, const QStringList& values);

// A value a Set or Write routine may pass on: one that cannot carry a second command or break the line ("&&", ";",
// "%", CR, LF), and that a setup script replays as it stands (no "@" before a digit, no "@:"). The Set routines
// refuse other values without sending them (and LastSetValueRefused() says so); the edits' texts of a quoted value
// may not hold a double quote either.
bool IsSafeParamValue(const QString& value);
// True when the last Set routine refused its value as unsafe rather than the receiver refusing it.
bool LastSetValueRefused();
void ClearSetValueRefused();
// A page's refusal text ("Can't set X", "Cannot set X") turned into its invalid-value text ("Invalid X").
QString InvalidValueText(const QString& refusal);

// Values as the Set and Write routines send them: the edit's text (in double quotes when quoted), the braced
// lists, the value paired with the selected label or checked radio. Null when nothing is to be sent.
QString EditValue(QLineEdit* edit, bool quoted);
QString EditListValue(const EditList& edits, bool quoted);
QString CheckValue(QCheckBox* box, const QString& onValue, const QString& offValue);
QString CheckListValue(const CheckList& boxes, const QString& onValue, const QString& offValue, bool braces);
QString ComboValue(const QStringList& values, QComboBox* combo, const QStringList& labels, bool firstWhenNone);
QString RadioValue(const RadioList& radios, const QStringList& values);
// The selected entry's text; with `firstWhenNone` the first entry's text when nothing is selected.
QString ComboText(QComboBox* combo, bool firstWhenNone);

// Output periods: whether `seconds` is a whole number of milliseconds that the receiver's current raw and
// position intervals divide. A reported interval of 0 fails the check.
bool CheckOutputPeriod(double seconds);
// Validates the edit's period (and sends it to `path` unless the path is empty). Stores the parsed value in
// g_lastOutputPeriod. A disabled edit passes; an unsupported period is reported in an "Output Period" box.
bool SetOutputPeriodParam(const QString& path, QLineEdit* edit);
QString OutputPeriodWarningText();

// After trimming: non-empty, and a decimal number / a base-10 integer that fits an int, with nothing left over.
bool IsNumberText(const QString& text);
bool IsIntegerText(const QString& text);

// Fills a combo with the datum codes the receiver knows ("print,/par/opts/cur/_DTM": below 1 the short table)
// and, with `selectCurrent`, selects the current datum. False (and the combo disabled) when the receiver is silent.
bool FillDatumCombo(QComboBox* combo, bool selectCurrent);

// Checks or clears a radio button even when it is auto-exclusive.
void SetRadioChecked(QRadioButton* radio, bool checked);
