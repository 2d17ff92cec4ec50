#include "config/ports/PortGroup.h"

#include "config/ScriptWriter.h"
#include "config/Toolkit.h"
#include "config/ports/PortTables.h"
#include "link/ReceiverHolder.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

CPortGroup::CPortGroup(const QString& port, const QString& caption, QWidget* parent)
    : QGroupBox(caption, parent), m_port(port)
{
    const QString name = ShortName(port);
    setObjectName(name);
    m_grid = new QGridLayout(this);
    m_inputLabel = new QLabel(QStringLiteral("Input:"), this);
    m_input = new QComboBox(this);
    m_input->setObjectName(name + QStringLiteral("Input"));
    m_outputLabel = new QLabel(QStringLiteral("Output:"), this);
    m_output = new QComboBox(this);
    m_output->setObjectName(name + QStringLiteral("Output"));
    m_periodLabel = new QLabel(QStringLiteral("Period(s):"), this);
    m_period = new QLineEdit(this);
    m_period->setObjectName(name + QStringLiteral("Period"));
    m_grid->addWidget(m_inputLabel, 0, 0);
    m_grid->addWidget(m_input, 0, 1);
    m_grid->addWidget(m_outputLabel, 1, 0);
    m_grid->addWidget(m_output, 1, 1);
    m_grid->addWidget(m_periodLabel, 2, 0);
    m_grid->addWidget(m_period, 2, 1);
    connect(m_input, &QComboBox::activated, this, &CPortGroup::Changed);
    connect(m_output, &QComboBox::activated, this, &CPortGroup::OnOutputChosen);
    connect(m_period, &QLineEdit::textEdited, this, &CPortGroup::Changed);
    Reset(false);
}

QString CPortGroup::ShortName(const QString& port)
{
    const QStringList parts = port.split(QLatin1Char('/'), Qt::SkipEmptyParts);  // dev, ser, a
    return parts.size() == 3 ? parts[1] + parts[2].toUpper() : QStringLiteral("port");
}

QString CPortGroup::Param(const char* suffix) const
{
    return QStringLiteral("/par") + m_port + QLatin1String(suffix);
}

void CPortGroup::Reset(bool available)
{
    m_available = available;
    m_protected = false;
    m_input->clear();
    m_output->clear();
    m_period->clear();
    for (QWidget* w :
         std::initializer_list<QWidget*>{m_inputLabel, m_input, m_outputLabel, m_output, m_periodLabel, m_period}) {
        w->setEnabled(available);
    }
}

void CPortGroup::Load(const QString* inputMode, const QString* messages)
{
    if (!m_available) {
        return;
    }
    m_input->addItems(kInputModeLabels);
    m_output->addItems(kOutputPresetLabels);
    m_output->setCurrentIndex(-1);
    LoadComboValue(inputMode, kInputModeValues, m_input, kInputModeLabels, m_inputLabel);
    const OutputPreset preset = RecognizeOutputPreset(messages);
    if (preset.found) {
        m_output->setCurrentIndex(m_output->findText(preset.label));
        m_period->setText(preset.period);
    } else {
        for (QWidget* w : std::initializer_list<QWidget*>{m_output, m_outputLabel, m_periodLabel, m_period}) {
            w->setEnabled(false);
        }
    }
}

void CPortGroup::Protect()
{
    m_protected = true;
    m_input->setEnabled(false);
    m_output->setEnabled(false);
    m_period->setEnabled(false);
}

void CPortGroup::ApplyPeriodRule()
{
    const QString text = m_output->currentIndex() >= 0 ? m_output->currentText() : QString();
    if (text.isEmpty() || text == kPresetNone || text == kPresetUserDefined) {
        m_period->clear();
        m_period->setEnabled(false);
    } else {
        // The own port's period stays as the query left it: not to be changed.
        m_period->setEnabled(!m_protected && m_output->isEnabled());
    }
}

void CPortGroup::OnOutputChosen()
{
    // "User Defined" sends nothing: a period for it would be one the receiver never gets.
    if (m_output->currentText() == kPresetNone || m_output->currentText() == kPresetUserDefined) {
        m_period->clear();
        m_period->setEnabled(false);
    } else {
        m_period->setText(QStringLiteral("1.00"));
        m_period->setEnabled(true);
    }
    emit Changed();
}

void CPortGroup::WriteInput() const
{
    WriteComboParam(Param("/imode"), kInputModeValues, m_input, kInputModeLabels);
}

void CPortGroup::WriteCurrent(std::initializer_list<const char*> suffixes) const
{
    for (const char* suffix : suffixes) {
        WriteCurrentParam(Param(suffix));
    }
}

void CPortGroup::WriteMessages() const
{
    WritePortMessages(m_port);
}

namespace {

// What a control shows, as far as an apply would send it.
QString ControlState(const QWidget* control)
{
    QString state = control->isEnabled() ? QStringLiteral("1") : QStringLiteral("0");
    if (const auto* edit = qobject_cast<const QLineEdit*>(control)) {
        return state + edit->text();
    }
    if (const auto* combo = qobject_cast<const QComboBox*>(control)) {
        return state + QString::number(combo->currentIndex()) + QLatin1Char(':') + combo->currentText();
    }
    if (const auto* button = qobject_cast<const QAbstractButton*>(control)) {
        return state + (button->isChecked() ? QLatin1Char('1') : QLatin1Char('0'));
    }
    return state;
}

}  // namespace

void CPortGroup::RememberLoaded(std::initializer_list<QWidget*> extras)
{
    m_loaded.clear();
    for (QWidget* w :
         {static_cast<QWidget*>(m_input), static_cast<QWidget*>(m_output), static_cast<QWidget*>(m_period)}) {
        m_loaded[w] = ControlState(w);
    }
    for (QWidget* w : extras) {
        m_loaded[w] = ControlState(w);
    }
}

bool CPortGroup::IsChanged(const QWidget* control) const
{
    const auto it = m_loaded.find(control);
    return it == m_loaded.end() || it->second != ControlState(control);
}

void CPortGroup::Accept(std::initializer_list<QWidget*> controls)
{
    for (QWidget* w : controls) {
        m_loaded[w] = ControlState(w);
    }
}

bool CPortGroup::IsConfigurable() const
{
    return m_available && !IsControllerPort(m_port);
}

QString CPortGroup::CheckOutput()
{
    if (!IsChanged(m_output) && !IsChanged(m_period)) {
        return QString();
    }
    if (m_period->isEnabled() && !SetOutputPeriodParam(QString(), m_period)) {
        m_period->setFocus(Qt::OtherFocusReason);
        return PortError("Invalid messages output period for ", m_port);
    }
    return QString();
}

QString CPortGroup::ApplyInput(bool switchFirst)
{
    if (!IsChanged(m_input)) {
        return QString();
    }
    CReceiverHolder& holder = CReceiverHolder::Shared();
    if (switchFirst && m_input->isEnabled() &&
        !holder.Send(QStringLiteral("%%set,") + Param("/imode") + QStringLiteral(",cmd"))) {
        return PortError("Can't change imode to port : ", m_port);
    }
    if (!SetComboParam(Param("/imode"), kInputModeValues, m_input, kInputModeLabels)) {
        return PortError("Can't set input mode for ", m_port);
    }
    Accept({m_input});
    return QString();
}

QString CPortGroup::ApplyOutput()
{
    if (!IsChanged(m_output) && !IsChanged(m_period)) {
        return QString();
    }
    const int index = m_output->currentIndex();
    // No list to show, or one the presets do not describe: the port's messages stay as they are.
    if (!m_output->isEnabled() || index < 0 || m_output->currentText() == kPresetUserDefined) {
        return QString();
    }
    const QString period = m_period->isEnabled() ? m_period->text().trimmed() : QString();
    const QString command = OutputPresetCommand(index, m_port, period);
    if (!CopyReferenceToArp(command)) {
        m_output->setFocus(Qt::OtherFocusReason);
        return PortError("Can't set the antenna reference point for ", m_port);
    }
    // The messages the port has now, to give back if the receiver refuses the new ones.
    std::vector<PortMessage> previous;
    if (!ReadPortMessages(m_port, &previous)) {
        m_output->setFocus(Qt::OtherFocusReason);
        return PortError("Can't read the output messages of ", m_port);
    }
    CReceiverHolder& holder = CReceiverHolder::Shared();
    if (!holder.Send(QStringLiteral("%%dm,") + m_port)) {
        m_output->setFocus(Qt::OtherFocusReason);
        return PortError("Can't set output mode for ", m_port);
    }
    if (!holder.Send(command)) {
        m_output->setFocus(Qt::OtherFocusReason);
        for (const PortMessage& message : previous) {
            if (!holder.Send(QStringLiteral("%%em,") + m_port + QLatin1Char(',') + PortMessageItem(message))) {
                return PortError("Can't set output mode nor give back the previous messages of ", m_port);
            }
        }
        return PortError("Can't set output mode for ", m_port);
    }
    Accept({m_output, m_period});
    return QString();
}

QString CPortGroup::ApplyInputAndOutput(bool switchFirst)
{
    if (QString e = ApplyInput(switchFirst); !e.isEmpty()) {
        return e;
    }
    return ApplyOutput();
}

QString PortError(const char* text, const QString& port)
{
    return QLatin1String(text) + port;
}

QVBoxLayout* PageColumn(QWidget* page)
{
    // No scroll area of its own: the sheet scrolls every page, and a nested one would cut the page off sideways.
    return new QVBoxLayout(page);
}
