#include "config/EVent.h"

#include "config/ConfigGlobals.h"
#include "config/PageParts.h"
#include "config/ScriptWriter.h"
#include "link/ParamBatch.h"
#include "link/ReceiverHolder.h"
#include "link/Scan.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

const QString kQuery = QStringLiteral(
    "@scr stoperrors off\nprint,/par/dev/pps/a/out\nprint,/par/dev/pps/a/per/ms\nprint,/par/dev/pps/a/offs/ms\n"
    "print,/par/dev/pps/a/offs/ns\nprint,/par/dev/pps/a/edge\nprint,/par/dev/pps/a/time\nprint,/par/dev/pps/a/mper\n"
    "print,/par/dev/pps/a/tied\nprint,/par/dev/pps/b/out\nprint,/par/dev/pps/b/per/ms\nprint,/par/dev/pps/b/offs/ms\n"
    "print,/par/dev/pps/b/offs/ns\nprint,/par/dev/pps/b/edge\nprint,/par/dev/pps/b/time\nprint,/par/dev/pps/b/mper\n"
    "print,/par/dev/pps/b/tied\nprint,/par/dev/event/a/in\nprint,/par/dev/event/a/lock\n"
    "print,/par/dev/event/a/locked\nprint,/par/dev/event/a/edge\nprint,/par/dev/event/a/time\n"
    "print,/par/dev/event/a/tied\nprint,/par/dev/event/b/in\nprint,/par/dev/event/b/lock\n"
    "print,/par/dev/event/b/locked\nprint,/par/dev/event/b/edge\nprint,/par/dev/event/b/time\n"
    "print,/par/dev/event/b/tied\n@end\n");

const QString kOn = QStringLiteral("on");
const QString kOff = QStringLiteral("off");
const char* const kPpsEditLeaves[] = {"per/ms", "offs/ms", "offs/ns", "mper"};

QString PpsPath(char letter, const char* leaf)
{
    return QStringLiteral("/par/dev/pps/%1/").arg(QChar(letter).toLower()) + QLatin1String(leaf);
}

QString EventPath(char letter, const char* leaf)
{
    return QStringLiteral("/par/dev/event/%1/").arg(QChar(letter).toLower()) + QLatin1String(leaf);
}

QString Name(const char* prefix, char letter, const char* what)
{
    return QLatin1String(prefix) + QChar(letter) + QLatin1String(what);
}

}  // namespace

CEVent::CEVent(QWidget* parent) : CConfigPage(parent)
{
    m_pps[1].letter = 'B';
    m_events[1].letter = 'B';
    BuildControls();
}

void CEVent::BuildControls()
{
    auto* grid = AddPageContent<QGridLayout>(this);
    QWidget* content = grid->parentWidget();
    grid->addWidget(BuildPps(m_pps[0], content), 0, 0);
    grid->addWidget(BuildPps(m_pps[1], content), 0, 1);
    grid->addWidget(BuildEvent(m_events[0], 0, content), 1, 0);
    grid->addWidget(BuildEvent(m_events[1], 1, content), 1, 1);
    grid->setRowStretch(2, 1);
}

namespace {

RadioList AddRadios(QWidget* parent, QGridLayout* grid, const QString& title, const QStringList& texts,
                    const QString& namePrefix)
{
    auto* box = new QGroupBox(title, parent);
    auto* layout = new QHBoxLayout(box);
    RadioList list;
    for (const QString& text : texts) {
        auto* radio = new QRadioButton(text, box);
        radio->setObjectName(namePrefix + QString(text).remove(QLatin1Char('.')));
        layout->addWidget(radio);
        list.push_back(radio);
    }
    grid->addWidget(box, grid->rowCount(), 0, 1, 2);
    return list;
}

}  // namespace

QWidget* CEVent::BuildPps(Pps& pps, QWidget* parent)
{
    const char l = pps.letter;
    auto* box = new QGroupBox(QStringLiteral("PPS %1").arg(QChar(l)), parent);
    auto* grid = new QGridLayout(box);
    pps.enabled = new QCheckBox(QStringLiteral("PPS %1 Enabled").arg(QChar(l)), box);
    pps.enabled->setObjectName(Name("pps", l, "Enabled"));
    grid->addWidget(pps.enabled, 0, 0, 1, 2);
    connect(pps.enabled, &QCheckBox::clicked, this, [this, &pps] { UpdatePps(pps, true); });
    const QStringList captions{"Period(ms):", "Offset(ms):", "Offset(ns):", "Period of 'marked' pulses(ms):"};
    const char* names[] = {"Period", "OffsetMs", "OffsetNs", "Marked"};
    for (size_t i = 0; i < pps.edits.size(); ++i) {
        const QByteArray name = Name("pps", l, names[i]).toLatin1();
        pps.edits[i] = AddEditRow(grid, captions[int(i)], name.constData(), &pps.labels[i]);
        connect(pps.edits[i], &QLineEdit::textEdited, this, &CEVent::MarkChanged);
    }
    pps.edge = AddRadios(box, grid, QStringLiteral("Edge"), {"Rise", "Fall"}, Name("pps", l, ""));
    pps.time = AddRadios(box, grid, QStringLiteral("Ref. Time"), {"GPS", "GLO", "UTCus", "UTCsu"}, Name("pps", l, ""));
    for (QRadioButton* radio : pps.edge) {
        connect(radio, &QRadioButton::clicked, this, &CEVent::MarkChanged);
    }
    for (QRadioButton* radio : pps.time) {
        connect(radio, &QRadioButton::clicked, this, &CEVent::MarkChanged);
    }
    pps.tied = new QCheckBox(QStringLiteral("Tied with Ref. Time"), box);
    pps.tied->setObjectName(Name("pps", l, "Tied"));
    grid->addWidget(pps.tied, grid->rowCount(), 0, 1, 2);
    connect(pps.tied, &QCheckBox::clicked, this, &CEVent::MarkChanged);
    return box;
}

QWidget* CEVent::BuildEvent(Event& event, int index, QWidget* parent)
{
    const char l = event.letter;
    auto* box = new QGroupBox(QStringLiteral("Event %1").arg(QChar(l)), parent);
    auto* grid = new QGridLayout(box);
    event.enabled = new QCheckBox(QStringLiteral("Event %1 Enabled").arg(QChar(l)), box);
    event.enabled->setObjectName(Name("event", l, "Enabled"));
    grid->addWidget(event.enabled, 0, 0, 1, 2);
    connect(event.enabled, &QCheckBox::clicked, this, [this, &event] { UpdateEvent(event, true); });
    event.edge = AddRadios(box, grid, QStringLiteral("Edge"), {"Rise", "Fall"}, Name("event", l, ""));
    event.time =
        AddRadios(box, grid, QStringLiteral("Ref. Time"), {"GPS", "GLO", "UTCus", "UTCsu"}, Name("event", l, ""));
    for (QRadioButton* radio : event.edge) {
        connect(radio, &QRadioButton::clicked, this, &CEVent::MarkChanged);
    }
    for (QRadioButton* radio : event.time) {
        connect(radio, &QRadioButton::clicked, this, &CEVent::MarkChanged);
    }
    event.lock = new QCheckBox(QStringLiteral("Clock Synchronization"), box);
    event.lock->setObjectName(Name("event", l, "Lock"));
    grid->addWidget(event.lock, grid->rowCount(), 0, 1, 2);
    connect(event.lock, &QCheckBox::clicked, this, [this, &event] { UpdateRepeat(event, true); });
    const QByteArray statusName = Name("event", l, "Status").toLatin1();
    event.status = AddEditRow(grid, QStringLiteral("Status:"), statusName.constData(), &event.statusLabel);
    MakeDisplay(event.status);
    event.status->setEnabled(false);
    event.repeat = new QPushButton(QStringLiteral("Repeat Synchronization"), box);
    event.repeat->setObjectName(Name("event", l, "Repeat"));
    event.repeat->setAutoDefault(false);
    grid->addWidget(event.repeat, grid->rowCount(), 0, 1, 2);
    connect(event.repeat, &QPushButton::clicked, this, [this, index] { RepeatSynchronization(index); });
    event.tied = new QCheckBox(QStringLiteral("Tied with Ref.Time"), box);
    event.tied->setObjectName(Name("event", l, "Tied"));
    grid->addWidget(event.tied, grid->rowCount(), 0, 1, 2);
    connect(event.tied, &QCheckBox::clicked, this, &CEVent::MarkChanged);
    return box;
}

void CEVent::UpdatePps(Pps& pps, bool byUser)
{
    const bool e = pps.enabled->isEnabled() && pps.enabled->isChecked();
    for (size_t i = 0; i < pps.edits.size(); ++i) {
        pps.edits[i]->setEnabled(e && pps.editReported[i]);
        pps.labels[i]->setEnabled(e && pps.editReported[i]);
    }
    for (QRadioButton* radio : pps.edge) {
        radio->setEnabled(e && pps.edgeReported);
    }
    for (QRadioButton* radio : pps.time) {
        radio->setEnabled(e && pps.timeReported);
    }
    pps.tied->setEnabled(e && pps.tiedReported);
    if (byUser) {
        MarkChanged();
    }
}

void CEVent::UpdateEvent(Event& event, bool byUser)
{
    const bool e = event.enabled->isEnabled() && event.enabled->isChecked();
    event.lock->setEnabled(e && event.lockReported);
    // The status is a reading: readable whether or not the input is on.
    event.statusLabel->setEnabled(event.statusReported);
    event.status->setEnabled(event.statusReported);
    for (QRadioButton* radio : event.edge) {
        radio->setEnabled(e && event.edgeReported);
    }
    for (QRadioButton* radio : event.time) {
        radio->setEnabled(e && event.timeReported);
    }
    event.tied->setEnabled(e && event.tiedReported);
    UpdateRepeat(event, byUser);
}

void CEVent::UpdateRepeat(Event& event, bool byUser)
{
    event.repeat->setEnabled(event.lock->isChecked() && event.lock->isEnabled());
    if (byUser) {
        MarkChanged();
    }
}

void CEVent::LoadPps(Pps& pps, const CParamBatch& batch, int first)
{
    auto r = [&batch, first](int i) { return batch.Value(first + i); };
    LoadCheckYes(r(0), pps.enabled);
    pps.editReported = {};
    pps.edgeReported = pps.timeReported = pps.tiedReported = false;
    if (r(0)) {
        const int replySlots[] = {1, 2, 3, 6};
        for (size_t i = 0; i < pps.edits.size(); ++i) {
            pps.editReported[i] = LoadEditReported(r(replySlots[i]), pps.edits[i], pps.labels[i], false);
        }
        pps.edgeReported = LoadRadioReported(r(4), pps.edge, EdgeValues());
        pps.timeReported = LoadRadioReported(r(5), pps.time, TimeValues());
        pps.tiedReported = LoadCheckReported(r(7), pps.tied);
    }
    UpdatePps(pps, false);
}

void CEVent::LoadEvent(Event& event, const CParamBatch& batch, int first)
{
    auto r = [&batch, first](int i) { return batch.Value(first + i); };
    LoadCheckYes(r(0), event.enabled);
    event.lockReported = event.statusReported = event.edgeReported = event.timeReported = event.tiedReported = false;
    if (r(0)) {
        event.lockReported = LoadCheckReported(r(1), event.lock);
        event.statusReported = LoadEditReported(r(2), event.status, event.statusLabel, true);
        event.edgeReported = LoadRadioReported(r(3), event.edge, EdgeValues());
        event.timeReported = LoadRadioReported(r(4), event.time, TimeValues());
        event.tiedReported = LoadCheckReported(r(5), event.tied);
    }
    UpdateEvent(event, false);
}

void CEVent::QuerySettings()
{
    CParamBatch batch;
    if (!batch.Run(kQuery)) {
        QueryFailed(batch.FailureText());
        return;
    }
    LoadPps(m_pps[0], batch, 0);
    LoadPps(m_pps[1], batch, 8);
    LoadEvent(m_events[0], batch, 16);
    LoadEvent(m_events[1], batch, 22);
}

void CEVent::RepeatSynchronization(int input)
{
    Event& event = m_events[size_t(input)];
    event.repeat->setEnabled(false);
    CReceiverHolder& receiver = CReceiverHolder::Shared();
    const char letter = QChar(event.letter).toLower().toLatin1();
    const bool locked = receiver.Send(QStringLiteral("%%set,/par/dev/event/%1/lock,on").arg(QChar(letter))) &&
                        receiver.Send(QStringLiteral("print,/par/dev/event/%1/locked").arg(QChar(letter)));
    if (!locked) {
        if (g_configSheet) {
            g_configSheet->SetStatusText(
                QStringLiteral("Can't set clock synchronization with Event %1").arg(QChar(event.letter)));
        }
        return;
    }
    // The reply helper already dropped the line end: the status is the whole answer text.
    const QString status = AnswerValue(receiver.Reply());
    LoadEdit(&status, event.status, event.statusLabel, true);
    event.repeat->setEnabled(true);
}

QString CEVent::ApplyPps(Pps& pps)
{
    const char l = pps.letter;
    const QString name = QStringLiteral("PPS ") + QChar(l);
    if (!SetCheckParam(PpsPath(l, "out"), pps.enabled, kOn, kOff)) {
        return QStringLiteral("Can't enable/disable ") + name;
    }
    if (!pps.enabled->isChecked()) {
        return QString();
    }
    const QString editErrors[] = {QStringLiteral("Can't set %1 period").arg(name),
                                  QStringLiteral("Can't set %1 offset in milliseconds").arg(name),
                                  QStringLiteral("Can't set %1 offset in nanoseconds").arg(name),
                                  l == 'A' ? QStringLiteral("Can't set period of 'marked' PPS A pulses")
                                           : QStringLiteral("Can't set 'marked' PPS B pulses")};
    for (size_t i = 0; i < 3; ++i) {
        if (QString e = SendEditStep(PpsPath(l, kPpsEditLeaves[i]), pps.edits[i], false, editErrors[i]); !e.isEmpty()) {
            return e;
        }
    }
    if (!SetRadioParam(PpsPath(l, "edge"), pps.edge, EdgeValues())) {
        return QStringLiteral("Can't set %1 edge").arg(name);
    }
    if (!SetRadioParam(PpsPath(l, "time"), pps.time, TimeValues())) {
        return QStringLiteral("Can't set %1 reference time").arg(name);
    }
    if (QString e = SendEditStep(PpsPath(l, "mper"), pps.edits[3], false, editErrors[3]); !e.isEmpty()) {
        return e;
    }
    if (!SetCheckParam(PpsPath(l, "tied"), pps.tied, kOn, kOff)) {
        return QStringLiteral("Can't set %1 tied mode").arg(name);
    }
    return QString();
}

QString CEVent::ApplyEvent(Event& event)
{
    const char l = event.letter;
    const QString name = QStringLiteral("Event ") + QChar(l);
    if (!SetCheckParam(EventPath(l, "in"), event.enabled, kOn, kOff)) {
        return QStringLiteral("Can't enable/disable ") + name;
    }
    if (!event.enabled->isChecked()) {
        return QString();
    }
    if (!SetRadioParam(EventPath(l, "edge"), event.edge, EdgeValues())) {
        return QStringLiteral("Can't set %1 edge").arg(name);
    }
    if (!SetRadioParam(EventPath(l, "time"), event.time, TimeValues())) {
        return QStringLiteral("Can't set %1 reference time").arg(name);
    }
    if (!SetCheckParam(EventPath(l, "lock"), event.lock, kOn, kOff)) {
        return QStringLiteral("Can't set clock synchronization with ") + name;
    }
    if (!SetCheckParam(EventPath(l, "tied"), event.tied, kOn, kOff)) {
        return QStringLiteral("Can't set %1 tied mode").arg(name);
    }
    return QString();
}

QString CEVent::ApplySettings()
{
    for (Pps& pps : m_pps) {
        if (QString e = ApplyPps(pps); !e.isEmpty()) {
            return e;
        }
    }
    for (Event& event : m_events) {
        if (QString e = ApplyEvent(event); !e.isEmpty()) {
            return e;
        }
    }
    return QString();
}

void CEVent::WritePps(Pps& pps)
{
    const char l = pps.letter;
    WriteCheckParam(PpsPath(l, "out"), pps.enabled, kOn, kOff);
    if (!pps.enabled->isChecked()) {
        return;
    }
    for (size_t i = 0; i < 3; ++i) {
        WriteEditParam(PpsPath(l, kPpsEditLeaves[i]), pps.edits[i], false);
    }
    WriteRadioParam(PpsPath(l, "edge"), pps.edge, EdgeValues());
    WriteRadioParam(PpsPath(l, "time"), pps.time, TimeValues());
    WriteEditParam(PpsPath(l, "mper"), pps.edits[3], false);
    WriteCheckParam(PpsPath(l, "tied"), pps.tied, kOn, kOff);
}

void CEVent::WriteEvent(Event& event)
{
    const char l = event.letter;
    WriteCheckParam(EventPath(l, "in"), event.enabled, kOn, kOff);
    if (!event.enabled->isChecked()) {
        return;
    }
    WriteRadioParam(EventPath(l, "edge"), event.edge, EdgeValues());
    WriteRadioParam(EventPath(l, "time"), event.time, TimeValues());
    WriteCheckParam(EventPath(l, "lock"), event.lock, kOn, kOff);
    WriteCheckParam(EventPath(l, "tied"), event.tied, kOn, kOff);
}

void CEVent::WriteScript()
{
    for (Pps& pps : m_pps) {
        WritePps(pps);
    }
    for (Event& event : m_events) {
        WriteEvent(event);
    }
}
