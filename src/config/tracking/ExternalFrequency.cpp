#include "config/tracking/ExternalFrequency.h"

#include "config/ConfigGlobals.h"
#include "config/PageParts.h"
#include "config/ScriptWriter.h"
#include "link/ParamBatch.h"
#include "link/ReceiverHolder.h"

#include <QGroupBox>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>

namespace {

const QString kPoll = QStringLiteral(
    "@scr stoperrors off\nprint,/par/frq/in/status\nprint,/par/frq/in/amp\nprint,/par/frq/out/frq\n@end\n");
const QStringList kOscValues{"off", "locked", "tied"};
const QString kRangeText = QStringLiteral("Value out of range (5...40) for external frequency");
constexpr int kLowFrequency = 5;
constexpr int kHighFrequency = 40;
enum { kInput, kStatus, kAmplitude, kOutput };

}  // namespace

CExternalFrequency::CExternalFrequency(const CAdvanced* advanced, QWidget* parent) : CTrackingPage(advanced, parent)
{
    auto* layout = new QVBoxLayout(this);
    auto* ioBox = new QGroupBox(QStringLiteral("Frequency I/O Parameters"), this);
    auto* io = new QGridLayout(ioBox);
    const char* modeNames[] = {"frqOff", "frqInput", "frqOutput"};
    const QStringList modeTexts{"Off", "Input", "Output"};
    for (int i = 0; i < 3; ++i) {
        auto* radio = Named(new QRadioButton(modeTexts[i], ioBox), modeNames[i]);
        io->addWidget(radio, 0, i);
        m_modes.push_back(radio);
        connect(radio, &QRadioButton::clicked, this, [this] { UpdateMode(true); });
    }
    auto* rows = new QGridLayout;
    io->addLayout(rows, 1, 0, 1, 3);
    m_edits[kInput] = AddEditRow(rows, QStringLiteral("Input frequency (MHz):"), "inFrequency", &m_labels[kInput]);
    m_edits[kStatus] = AddEditRow(rows, QStringLiteral("Input frequency status:"), "inStatus", &m_labels[kStatus]);
    m_edits[kAmplitude] =
        AddEditRow(rows, QStringLiteral("Input frequency amplitude:"), "inAmplitude", &m_labels[kAmplitude]);
    m_edits[kOutput] = AddEditRow(rows, QStringLiteral("Output frequency (MHz):"), "outFrequency", &m_labels[kOutput]);
    for (int i : {kStatus, kAmplitude, kOutput}) {
        MakeDisplay(m_edits[size_t(i)]);
    }
    connect(m_edits[kInput], &QLineEdit::textEdited, this, &CExternalFrequency::Mark);
    auto* oscBox = new QGroupBox(QStringLiteral("Oscillator Offset Reductor"), this);
    auto* osc = new QVBoxLayout(oscBox);
    const char* oscNames[] = {"oscOff", "oscLocked", "oscTied"};
    const QStringList oscTexts{"Off", "Freq. Locked", "Freq. and Time Locked"};
    for (int i = 0; i < 3; ++i) {
        auto* radio = Named(new QRadioButton(oscTexts[i], oscBox), oscNames[i]);
        osc->addWidget(radio);
        m_oscillator.push_back(radio);
        connect(radio, &QRadioButton::clicked, this, &CExternalFrequency::Mark);
    }
    layout->addWidget(ioBox);
    layout->addWidget(oscBox);
    layout->addStretch(1);

    m_timer = new QTimer(this);
    m_timer->setInterval(kPollIntervalMs);
    connect(m_timer, &QTimer::timeout, this, &CExternalFrequency::PollOnce);
}

void CExternalFrequency::QuerySettings()
{
    StopPoll();
    const QString* mode = Reply(9);
    for (QRadioButton* radio : m_modes) {
        radio->setEnabled(mode != nullptr);
        SetRadioChecked(radio, false);
    }
    if (mode) {
        const int checked = mode->compare(QLatin1String("gen"), Qt::CaseInsensitive) == 0   ? 2
                            : mode->compare(QLatin1String("use"), Qt::CaseInsensitive) == 0 ? 1
                                                                                            : 0;
        SetRadioChecked(m_modes[size_t(checked)], true);
    }
    const int replySlots[] = {10, 11, 12, 22};
    for (size_t i = 0; i < m_edits.size(); ++i) {
        m_reported[i] = Reply(replySlots[i]) != nullptr;
        LoadEdit(Reply(replySlots[i]), m_edits[i], m_labels[i], false);
    }
    LoadRadio(Reply(13), m_oscillator, kOscValues);
    UpdateMode(false);
}

void CExternalFrequency::UpdateMode(bool byUser)
{
    const bool input = m_modes[1]->isChecked();
    m_edits[kInput]->setEnabled(input && m_reported[kInput]);
    m_labels[kInput]->setEnabled(input && m_reported[kInput]);
    // The readings stay readable whatever the mode: they tell what the receiver measures.
    for (int i : {kStatus, kAmplitude, kOutput}) {
        m_labels[size_t(i)]->setEnabled(m_reported[size_t(i)]);
        m_edits[size_t(i)]->setEnabled(m_reported[size_t(i)]);
    }
    if (byUser) {
        Mark();
    }
}

QString CExternalFrequency::ModeValue() const
{
    return m_modes[2]->isChecked()   ? QStringLiteral("gen")
           : m_modes[0]->isChecked() ? QStringLiteral("off")
                                     : QStringLiteral("use");
}

QString CExternalFrequency::ApplySettings()
{
    StopPoll();
    if (m_modes[0]->isEnabled()) {
        // The receiver takes the frequency mode without a tag.
        const bool output = m_modes[2]->isChecked();
        if (!CReceiverHolder::Shared().Send(QStringLiteral("set,/par/frq/mode,") + ModeValue())) {
            return output ? QStringLiteral("Can't set output frequency") : QStringLiteral("Can't set frequency mode");
        }
    }
    QLineEdit* frequency = m_edits[kInput];
    if (frequency->isEnabled()) {
        int v = 0;
        if (!ReadInt(frequency, &v) || v < kLowFrequency || v > kHighFrequency) {
            frequency->setFocus(Qt::OtherFocusReason);
            return kRangeText;
        }
        if (!SetEditParam(QStringLiteral("/par/frq/in/frq"), frequency, false)) {
            return QStringLiteral("Can't set external frequency value");
        }
    }
    if (!SetRadioParam(QStringLiteral("/par/osc/mode"), m_oscillator, kOscValues)) {
        return QStringLiteral("Can't set oscillator offsets reduction mode");
    }
    // Readings follow only a frequency mode in use, and only when the receiver has all three readings.
    const bool modeOn = m_modes[0]->isEnabled() && !m_modes[0]->isChecked();
    if (modeOn && m_reported[kStatus] && m_reported[kAmplitude] && m_reported[kOutput]) {
        m_counter = 0;
        m_attempts = 0;
        m_timer->start();
    }
    return QString();
}

void CExternalFrequency::PollOnce()
{
    if (!IsPolling()) {
        return;
    }
    ++m_attempts;
    CParamBatch batch;
    if (!batch.Run(kPoll)) {
        // A lost link won't come back while the sheet is open; a refused batch may.
        if (CReceiverHolder::Shared().LastFailure() != CReceiver::Failure::ErrorReply) {
            StopPoll();
            return;
        }
    } else if (batch.Value(0) && batch.Value(1) && batch.Value(2)) {
        for (int i = 0; i < 3; ++i) {
            m_edits[size_t(kStatus + i)]->setText(*batch.Value(i));
        }
        ++m_counter;
    }
    if (m_counter >= kGoodReadings || m_attempts >= kMaxPollAttempts) {
        StopPoll();
    }
}

bool CExternalFrequency::IsPolling() const
{
    return m_timer->isActive();
}

void CExternalFrequency::StopPoll()
{
    m_timer->stop();
}

void CExternalFrequency::Stop()
{
    StopPoll();
}

void CExternalFrequency::WriteScript()
{
    if (m_modes[0]->isEnabled()) {
        WriteSetLine(QStringLiteral("/par/frq/mode"), ModeValue());
    }
    QLineEdit* frequency = m_edits[kInput];
    if (frequency->isEnabled()) {
        int v = 0;
        if (ReadInt(frequency, &v) && v >= kLowFrequency && v <= kHighFrequency) {
            WriteEditParam(QStringLiteral("/par/frq/in/frq"), frequency, false);
        } else {
            frequency->setFocus(Qt::OtherFocusReason);
            if (g_configSheet) {
                g_configSheet->SetStatusText(kRangeText);
            }
        }
    }
    WriteScriptLine(QStringLiteral("%Wait%"));
    WriteRadioParam(QStringLiteral("/par/osc/mode"), m_oscillator, kOscValues);
}
