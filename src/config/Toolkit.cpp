#include "config/Toolkit.h"

#include "config/ConfigGlobals.h"
#include "link/ReceiverHolder.h"
#include "link/Scan.h"
#include "ui/Prompts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <cstring>

// clang-format off
const std::array<const char*, 222> kDatumCodes = {
    "W84", "P90", "W72", "ADI-M", "ADI-E", "ADI-F", "ADI-A", "ADI-C", "ADI-D", "ADI-B", "AFG", "ARF-M", "ARF-A",
    "ARF-H", "ARF-B", "ARF-C", "ARF-D", "ARF-E", "ARF-F", "ARF-G", "ARS-M", "ARS-A", "ARS-B", "PHA", "BID", "CAP",
    "CGE", "DAL", "EUR_F", "EUR_T", "LEH", "LIB", "MAS", "MER", "MIN-A", "LEH", "MPO", "NSD", "OEG", "PTB", "PTN",
    "SCK", "SRL", "VOR", "AIN-A", "AIN-B", "BAT", "EUR-H", "HKD", "HTN", "IND-B", "IND-I", "INF-A", "ING-A", "ING-B",
    "INH-A", "IDN", "KAN", "KEA", "NAH-A", "NAH-B", "NAH-C", "FAH", "QAT", "SOA", "TIL", "TOY-M", "TOY-A", "TOY-B",
    "TOY-C", "AUA", "AUG", "EST", "EUR-M", "EUR-A", "EUR-E", "EUR-G", "EUR-K", "EUR-B", "EUR-I", "EUR-J", "EUR-L",
    "EUR-C", "EUR-D", "EUS", "HJO", "IRL", "OGB-M", "OGB-A", "OGB-B", "OGB-C", "OGB-D", "MOD", "SPK-A", "SPK-B",
    "SPK-C", "SPK-D", "SPK-E", "SPK-F", "SPK-G", "SPK-0", "CCD", "CAC", "NAS-C", "NAS-B", "NAS-A", "NAS-D", "NAS-V",
    "NAS-W", "NAS-Q", "NAS-R", "NAS-E", "NAS-F", "NAS-G", "NAS-H", "NAS-I", "NAS-J", "NAS-O", "NAS-P", "NAS-N",
    "NAS-T", "NAS-U", "NAS-L", "NAR-A", "NAR-E", "NAR-B", "NAR-C", "NAR-H", "NAR-D", "BOO", "CAI", "CHU", "COA",
    "PRP-M", "PRP-A", "PRP-B", "PRP-C", "PRP-D", "PRP-E", "PRP-F", "PRP-G", "PRP-H", "HIT", "SAN-M", "SAN-A", "SAN-B",
    "SAN-C", "SAN-D", "SAN-E", "SAN-F", "SAN-J", "SAN-G", "SAN-H", "SAN-I", "SAN-K", "SAN-L", "ZAN", "AIA", "ASC",
    "SHB", "BER", "DID", "FOT", "GRA", "ISG", "LCF", "ASM", "NAP", "FLO", "PLN", "POS", "PUR", "QUO", "SAO", "SAP",
    "SGM", "TDC", "ANO", "GAA", "IST", "KEG", "MIK", "REU", "AMA", "ATF", "TRN", "ASQ", "IBE", "CAO", "CHI", "GIZ",
    "EAS", "GEO", "GUA", "DOB", "JOH", "KUS", "LUZ-A", "LUZ-B", "MID", "OHA-M", "OHA-A", "OHA-B", "OHA-C", "OHA-D",
    "PIT", "SAE", "MVS", "ENW", "WAK", "BUR", "CAZ", "EUR-S", "GSE", "HEN", "HER", "IND-P", "PUK", "TAN", "VOI",
    "YAC", "USER",
};
// clang-format on

namespace {

CReceiverHolder& Receiver()
{
    return CReceiverHolder::Shared();
}

int Bounded(size_t count)
{
    return int(std::min<size_t>(count, kMaxListEntries));
}

void Focus(QWidget* widget)
{
    if (widget) {
        widget->setFocus(Qt::OtherFocusReason);
    }
}

void Enable(QWidget* widget, bool enable)
{
    if (widget) {
        widget->setEnabled(enable);
    }
}

// The text inside the value's double quotes. A value cut after its opening quote loses only that quote, not a
// character of its text.
QString Unquoted(const QString& value)
{
    if (!value.startsWith(QLatin1Char('"'))) {
        return value;
    }
    return value.size() >= 2 && value.endsWith(QLatin1Char('"')) ? value.mid(1, value.size() - 2) : value.mid(1);
}

QString Quoted(const QString& text, bool quoted)
{
    return quoted ? QLatin1Char('"') + text + QLatin1Char('"') : text;
}

// Written and read on the GUI thread only, as the pages' apply runs there.
bool lastSetRefused = false;

bool SendSet(const QString& path, const QString& value)
{
    lastSetRefused = !IsSafeParamValue(value);
    if (lastSetRefused) {
        return false;
    }
    return Receiver().Send(QStringLiteral("%%set,") + path + QLatin1Char(',') + value);
}

// A double quote inside a quoted text would end the value early.
bool QuotedTextsSafe(const EditList& edits, bool quoted)
{
    const int count = Bounded(edits.size());
    for (int i = 0; quoted && i < count; ++i) {
        if (edits[size_t(i)]->isEnabled() && edits[size_t(i)]->text().contains(QLatin1Char('"'))) {
            lastSetRefused = true;
            return false;
        }
    }
    return true;
}

// The value the receiver reports for an interval print, or false when it refuses the print.
bool PrintInterval(const QString& path, QString* value)
{
    if (!Receiver().Send(QStringLiteral("print,") + path)) {
        return false;
    }
    *value = AnswerValue(Receiver().Reply());
    return true;
}

bool IntervalFits(const QString& path, long long ms)
{
    QString reply;
    if (!PrintInterval(path, &reply)) {
        return true;  // a receiver without this interval sets no limit
    }
    if (!IsIntegerText(reply)) {
        return false;
    }
    const long long r = reply.trimmed().toLongLong();
    // An interval of 0 divides nothing: the period can't be checked, so it is not accepted.
    return r > 0 && r <= ms && ms % r == 0;
}

}  // namespace

bool IsSafeParamValue(const QString& value)
{
    for (const char* bad : {"&&", ";", "%", "\r", "\n", "@:"}) {
        if (value.contains(QLatin1String(bad))) {
            return false;
        }
    }
    // The script interpreter puts its arguments in for "@0" to "@9" (and looks for its labels after "@:"), with no
    // way to escape either: such a value would not replay as it was set.
    static const QRegularExpression kScriptReference(QStringLiteral("@[0-9]"));
    return !value.contains(kScriptReference);
}

bool LastSetValueRefused()
{
    return lastSetRefused;
}

void ClearSetValueRefused()
{
    lastSetRefused = false;
}

QString InvalidValueText(const QString& refusal)
{
    for (const char* prefix : {"Can't set ", "Cannot set "}) {
        if (refusal.startsWith(QLatin1String(prefix))) {
            return QStringLiteral("Invalid ") + refusal.mid(int(std::strlen(prefix)));
        }
    }
    return QStringLiteral("Invalid value: ") + refusal;
}

const QString* ListEntry(const QStringList& list, int i)
{
    return i >= 0 && i < kMaxListEntries && i < list.size() ? &list[i] : nullptr;
}

QStringList DatumCodes(bool full)
{
    QStringList codes;
    const int count = full ? int(kDatumCodes.size()) : kShortDatumCount;
    for (int i = 0; i < count; ++i) {
        codes << QString::fromLatin1(kDatumCodes[size_t(i)]);
    }
    return codes;
}

QStringList PortSourceValues()
{
    return {"any",        "/dev/ser/a", "/dev/ser/b", "/dev/ser/c", "/dev/ser/d", "/dev/tcp/a",  "/dev/tcp/b",
            "/dev/tcp/c", "/dev/tcp/d", "/dev/tcp/e", "/dev/usb/a", "/dev/blt/a", "/dev/modem/a"};
}

QStringList PortSourceLabels()
{
    return {"Any",   "Serial A", "Serial B", "Serial C", "Serial D", "TCP A", "TCP B",
            "TCP C", "TCP D",    "TCP E",    "USB A",    "BLT A",    "Modem"};
}

// --- Load routines

void LoadEdit(const QString* value, QLineEdit* edit, QWidget* companion, bool enable)
{
    Enable(companion, value != nullptr);
    edit->clear();
    if (value) {
        edit->setText(Unquoted(*value));
        edit->setEnabled(enable);
    } else {
        edit->setEnabled(false);
    }
}

void LoadEditPlain(const QString* value, QLineEdit* edit, bool enable)
{
    if (value) {
        edit->setText(*value);
        edit->setEnabled(enable);
    } else {
        edit->setEnabled(false);
    }
}

void LoadEditList(const QString* value, const EditList& edits, const WidgetList& labels)
{
    const int count = Bounded(edits.size());
    for (int i = 0; i < count; ++i) {
        edits[size_t(i)]->setEnabled(value != nullptr);
        edits[size_t(i)]->clear();
        if (size_t(i) < labels.size()) {
            Enable(labels[size_t(i)], value != nullptr);
        }
    }
    if (!value) {
        return;
    }
    // Items are the runs of characters other than ',' and '}' after the opening character, or texts in double
    // quotes, which may hold both; an empty run ends the list. An item is taken whole: a cut one would be sent
    // back cut.
    const QString& v = *value;
    const auto isEnd = [&v](int at) { return v[at] == QLatin1Char(',') || v[at] == QLatin1Char('}'); };
    int pos = 1;
    for (int i = 0; i < count && pos < v.size(); ++i) {
        const int close = v[pos] == QLatin1Char('"') ? int(v.indexOf(QLatin1Char('"'), pos + 1)) : -1;
        int end = close < 0 ? pos : close + 1;
        while (end < v.size() && !isEnd(end)) {
            ++end;
        }
        if (end == pos) {
            break;
        }
        edits[size_t(i)]->setText(close < 0 ? Unquoted(v.mid(pos, end - pos)) : v.mid(pos + 1, close - pos - 1));
        pos = end + 1;
    }
}

void LoadCheck(const QString* value, const QString& onValue, QCheckBox* box)
{
    box->setEnabled(value != nullptr);
    box->setChecked(value && *value == onValue);
}

void LoadCheckYes(const QString* value, QCheckBox* box)
{
    box->setEnabled(value != nullptr);
    box->setChecked(value &&
                    (*value == QLatin1String("on") || *value == QLatin1String("y") || *value == QLatin1String("yes")));
}

void LoadCheckList(const QString* value, const CheckList& boxes)
{
    const int count = Bounded(boxes.size());
    const bool usable = value && !value->isEmpty();
    for (int i = 0; i < count; ++i) {
        boxes[size_t(i)]->setEnabled(usable);
        boxes[size_t(i)]->setChecked(false);
    }
    if (!usable) {
        return;
    }
    QString rest = *value;
    if (rest.startsWith(QLatin1Char('{'))) {
        rest.remove(0, 1);
    }
    const QStringList items = rest.split(QLatin1Char(','));
    for (int i = 0; i < count && i < items.size(); ++i) {
        const QString& item = items[i];
        boxes[size_t(i)]->setChecked(item.startsWith(QLatin1String("on")) || item.startsWith(QLatin1Char('y')));
    }
}

void LoadComboText(const QString* value, QComboBox* combo)
{
    const int index = value ? combo->findText(*value, Qt::MatchExactly) : -1;
    combo->setCurrentIndex(index);
    combo->setEnabled(index >= 0);
}

void LoadComboValue(const QString* value, const QStringList& values, QComboBox* combo, const QStringList& labels,
                    QWidget* companion)
{
    int index = -1;
    if (value) {
        for (int i = 0; i < kMaxListEntries && i < values.size(); ++i) {
            if (values[i].compare(*value, Qt::CaseInsensitive) == 0) {
                if (const QString* label = ListEntry(labels, i)) {
                    index = combo->findText(*label, Qt::MatchExactly);
                }
                break;
            }
        }
    }
    combo->setCurrentIndex(index);
    combo->setEnabled(index >= 0);
    Enable(companion, index >= 0);
}

void SetRadioChecked(QRadioButton* radio, bool checked)
{
    if (radio->isChecked() == checked) {
        return;
    }
    // An auto-exclusive radio can't be cleared directly.
    const bool exclusive = radio->autoExclusive();
    radio->setAutoExclusive(false);
    radio->setChecked(checked);
    radio->setAutoExclusive(exclusive);
}

void LoadRadio(const QString* value, const RadioList& radios, const QStringList& values)
{
    const int count = Bounded(radios.size());
    int match = -1;
    if (value) {
        for (int i = 0; i < count && i < values.size(); ++i) {
            if (values[i].compare(*value, Qt::CaseInsensitive) == 0) {
                match = i;
                break;
            }
        }
    }
    for (int i = 0; i < count; ++i) {
        radios[size_t(i)]->setEnabled(match >= 0);
        SetRadioChecked(radios[size_t(i)], false);
    }
    if (match >= 0) {
        SetRadioChecked(radios[size_t(match)], true);
    }
}

// --- Values

QString EditValue(QLineEdit* edit, bool quoted)
{
    if (!edit->isEnabled()) {
        return QString();
    }
    return Quoted(edit->text(), quoted);
}

QString EditListValue(const EditList& edits, bool quoted)
{
    QStringList items;
    const int count = Bounded(edits.size());
    for (int i = 0; i < count; ++i) {
        QLineEdit* edit = edits[size_t(i)];
        // An item read whole from quotes may hold the list's own separators: sent bare, it would become several.
        const QString text = edit->text();
        const bool separators = text.contains(QLatin1Char(',')) || text.contains(QLatin1Char('}'));
        items << (edit->isEnabled() ? Quoted(text, quoted || separators) : QString());
    }
    return QLatin1Char('{') + items.join(QLatin1Char(',')) + QLatin1Char('}');
}

QString CheckValue(QCheckBox* box, const QString& onValue, const QString& offValue)
{
    if (!box->isEnabled()) {
        return QString();
    }
    return box->isChecked() ? onValue : offValue;
}

QString CheckListValue(const CheckList& boxes, const QString& onValue, const QString& offValue, bool braces)
{
    QStringList items;
    const int count = Bounded(boxes.size());
    for (int i = 0; i < count; ++i) {
        QCheckBox* box = boxes[size_t(i)];
        items << (box->isEnabled() ? (box->isChecked() ? onValue : offValue) : QString());
    }
    const QString joined = items.join(QLatin1Char(','));
    return braces ? QLatin1Char('{') + joined + QLatin1Char('}') : joined;
}

QString ComboText(QComboBox* combo, bool firstWhenNone)
{
    if (combo->currentIndex() >= 0) {
        return combo->currentText();
    }
    return firstWhenNone && combo->count() > 0 ? combo->itemText(0) : QString();
}

QString ComboValue(const QStringList& values, QComboBox* combo, const QStringList& labels, bool firstWhenNone)
{
    if (!combo->isEnabled()) {
        return QString();
    }
    const QString text = ComboText(combo, firstWhenNone);
    if (text.isNull()) {
        return QString();
    }
    for (int i = 0; i < kMaxListEntries && i < labels.size(); ++i) {
        if (labels[i] == text) {
            const QString* value = ListEntry(values, i);
            return value ? *value : QString();
        }
    }
    return QString();
}

QString RadioValue(const RadioList& radios, const QStringList& values)
{
    const int count = Bounded(radios.size());
    for (int i = 0; i < count; ++i) {
        if (radios[size_t(i)]->isEnabled() && radios[size_t(i)]->isChecked()) {
            const QString* value = ListEntry(values, i);
            return value ? *value : QString();
        }
    }
    return QString();
}

// --- Set routines

bool SetParam(const QString& path, const QString& value)
{
    return SendSet(path, value);
}

bool SetEditParam(const QString& path, QLineEdit* edit, bool quoted)
{
    if (!edit->isEnabled()) {
        return true;
    }
    if (!QuotedTextsSafe({edit}, quoted) || !SendSet(path, EditValue(edit, quoted))) {
        Focus(edit);
        return false;
    }
    return true;
}

bool SetEditListParam(const QString& path, const EditList& edits, bool quoted)
{
    // A list the receiver did not report at all has nothing to send.
    if (std::none_of(edits.begin(), edits.end(), [](QLineEdit* e) { return e->isEnabled(); })) {
        return true;
    }
    if (!QuotedTextsSafe(edits, quoted) || !SendSet(path, EditListValue(edits, quoted))) {
        Focus(edits.front());
        return false;
    }
    return true;
}

bool SetCheckParam(const QString& path, QCheckBox* box, const QString& onValue, const QString& offValue)
{
    if (!box->isEnabled()) {
        return true;
    }
    if (!SendSet(path, CheckValue(box, onValue, offValue))) {
        Focus(box);
        return false;
    }
    return true;
}

bool SetCheckListParam(const QString& path, const CheckList& boxes, const QString& onValue, const QString& offValue)
{
    // A list the receiver did not report at all has nothing to send ("{,,,}" would be refused).
    if (std::none_of(boxes.begin(), boxes.end(), [](QCheckBox* b) { return b->isEnabled(); })) {
        return true;
    }
    if (!SendSet(path, CheckListValue(boxes, onValue, offValue, true))) {
        Focus(boxes.front());
        return false;
    }
    return true;
}

bool SetComboParam(const QString& path, const QStringList& values, QComboBox* combo, const QStringList& labels)
{
    const QString value = ComboValue(values, combo, labels, true);
    if (value.isNull()) {
        return true;
    }
    if (!SendSet(path, value)) {
        Focus(combo);
        return false;
    }
    return true;
}

bool SetComboTextParam(const QString& path, QComboBox* combo)
{
    if (!combo->isEnabled() || combo->count() == 0) {
        return true;
    }
    if (!SendSet(path, ComboText(combo, true))) {
        Focus(combo);
        return false;
    }
    return true;
}

bool SetRadioParam(const QString& path, const RadioList& radios, const QStringList& values)
{
    const QString value = RadioValue(radios, values);
    if (value.isNull()) {
        return true;
    }
    if (!SendSet(path, value)) {
        for (QRadioButton* radio : radios) {
            if (radio->isEnabled() && radio->isChecked()) {
                Focus(radio);
                break;
            }
        }
        return false;
    }
    return true;
}

// --- Numbers and output periods

bool IsNumberText(const QString& text)
{
    static const QRegularExpression kNumber(QStringLiteral("^[+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+)([eE][+-]?[0-9]+)?$"));
    const QString t = text.trimmed();
    if (t.isEmpty() || !kNumber.match(t).hasMatch()) {
        return false;
    }
    bool ok = false;
    const double v = t.toDouble(&ok);
    return ok && std::isfinite(v);
}

bool IsIntegerText(const QString& text)
{
    static const QRegularExpression kInteger(QStringLiteral("^[+-]?[0-9]+$"));
    const QString t = text.trimmed();
    if (t.isEmpty() || !kInteger.match(t).hasMatch()) {
        return false;
    }
    bool ok = false;
    t.toInt(&ok);
    return ok;
}

bool CheckOutputPeriod(double seconds)
{
    if (!std::isfinite(seconds)) {
        return false;
    }
    const double requested = seconds * 1000.0;
    if (requested + 0.5 < 0.0 || requested + 0.5 > 2.0e9) {
        return false;
    }
    const long long ms = static_cast<long long>(requested + 0.5);
    // A period above a whole millisecond is refused, one just below it counts as that millisecond. Decimal
    // periods are no exact binary numbers (8.1 s is a hair above 8100 ms): the tolerance is relative to the period.
    constexpr double kRelativeTolerance = 1e-12;
    if (requested - double(ms) > kRelativeTolerance * std::max(1.0, requested)) {
        return false;
    }
    return IntervalFits(QStringLiteral("/par/raw/curmsint"), ms) &&
           IntervalFits(QStringLiteral("/par/pos/curmsint"), ms);
}

QString OutputPeriodWarningText()
{
    return QStringLiteral(
        "Warning! The requested value of Output Period(Recording Interval)\nis not supported by your receiver due "
        "to the limitations imposed by\nthe receiver's current settings.(Correct \"Receiver configuration/\n"
        "Advanced/Raw Data Management/Update Rate\")");
}

bool SetOutputPeriodParam(const QString& path, QLineEdit* edit)
{
    if (!edit->isEnabled()) {
        return true;
    }
    const QString text = edit->text().trimmed();
    if (!IsNumberText(text)) {
        return false;
    }
    const double seconds = text.toDouble();
    g_lastOutputPeriod = float(seconds);
    if (!CheckOutputPeriod(seconds)) {
        ShowMessage(OutputPeriodWarningText(), QStringLiteral("Output Period"), PromptIcon::Warning);
        return false;
    }
    if (!path.isEmpty() && !SendSet(path, text)) {
        Focus(edit);
        return false;
    }
    return true;
}

// --- Datum combo

bool FillDatumCombo(QComboBox* combo, bool selectCurrent)
{
    combo->clear();
    if (!Receiver().Send(QStringLiteral("print,/par/opts/cur/_DTM"))) {
        combo->setEnabled(false);
        return false;
    }
    int available = 0;
    if (ScanText(AnswerValue(Receiver().Reply()), "%d", &available) != 1) {
        available = 0;
    }
    combo->addItems(DatumCodes(available >= 1));
    int index = -1;
    if (selectCurrent && Receiver().Send(QStringLiteral("print,/par/pos/datum/cur"))) {
        index = combo->findText(AnswerValue(Receiver().Reply()), Qt::MatchExactly);
    }
    combo->setCurrentIndex(index);
    combo->setEnabled(true);
    return true;
}
