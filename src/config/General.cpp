#include "config/General.h"

#include "config/PageParts.h"
#include "config/ScriptWriter.h"
#include "link/ParamBatch.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

const QString kQuery = QStringLiteral(
    "@scr stoperrors off\nprint,/par/out/elm/cur/term\nprint,/par/ant/inp\nprint,/par/rcv/ver/board\n"
    "print,/par/ant/curinp\nprint,/par/ant/dc\nprint,/par/dev/thermo/out\nprint,/par/pwr/mode\n"
    "print,/par/pwr/curmode\nprint,/par/pwr/charge/bat\nprint,/par/pwr/charge/speed\nprint,/par/pwr/charge/curbat\n"
    "print,/par/pwr/chdc\nprint,/par/pwr/ext\nprint,/par/pwr/board\nprint,/par/pwr/bat/a\nprint,/par/pwr/bat/b\n"
    "print,/par/pwr/charger\nprint,/par/pwr/extports\nprint,/par/lpm\nprint,/par/rcv/model\nprint,/par/pwr/ports\n"
    "print,/par/pwr/slots\nprint,/par/out/ab\nprint,/par/out/c\nprint,/par/pwr/out/ab\nprint,/par/pwr/out/c\n"
    "print,/par/pwr/switch/2\nprint,/par/pwr/switch/3\nprint,/par/pwr/switch/4\n@end\n");

const QString kOn = QStringLiteral("on");
const QString kOff = QStringLiteral("off");

// Reply slots of the read-only displays, in the order of m_displays.
constexpr std::array<int, 12> kDisplaySlots{3, 4, 5, 7, 10, 11, 12, 13, 14, 15, 16, 17};
constexpr int kChargerCurrent = 5;  // index in m_displays

}  // namespace

bool CGeneral::IsSlotModel(const QString& model)
{
    const QString upper = model.toUpper();
    return upper == QLatin1String("KORVAN") || upper == QLatin1String("PELTIS") || upper == QLatin1String("ARUNDE");
}

CGeneral::CGeneral(QWidget* parent) : CConfigPage(parent)
{
    BuildControls();
}

void CGeneral::BuildControls()
{
    auto* grid = AddPageContent<QGridLayout>(this);
    QWidget* content = grid->parentWidget();
    auto mark = [this] { MarkChanged(); };
    auto combo = [&](QGridLayout* g, const QString& caption, const char* name, const QStringList& labels,
                     QLabel** label) {
        const int row = g->rowCount();
        *label = Named(new QLabel(caption), (std::string(name) + "Label").c_str());
        auto* c = Named(new QComboBox, name);
        c->addItems(labels);
        g->addWidget(*label, row, 0);
        g->addWidget(c, row, 1);
        connect(c, &QComboBox::activated, this, mark);
        return c;
    };

    auto* antennaBox = new QGroupBox(QStringLiteral("Antenna"), content);
    auto* antenna = new QGridLayout(antennaBox);
    m_termMask = AddEditRow(antenna, QStringLiteral("Terminal Elv. Mask:"), "termMask", &m_termMaskLabel);
    connect(m_termMask, &QLineEdit::textEdited, this, mark);
    const char* antennaNames[] = {"antInternal", "antExternal", "antAuto"};
    const QStringList antennaTexts{"Internal", "External", "Auto"};
    auto* radios = new QHBoxLayout;
    for (int i = 0; i < 3; ++i) {
        auto* radio = Named(new QRadioButton(antennaTexts[i]), antennaNames[i]);
        radios->addWidget(radio);
        m_antenna.push_back(radio);
        connect(radio, &QRadioButton::clicked, this, mark);
    }
    antenna->addLayout(radios, antenna->rowCount(), 0, 1, 2);

    auto* powerBox = new QGroupBox(QStringLiteral("Power"), content);
    auto* power = new QGridLayout(powerBox);
    m_powerMode = combo(power, QStringLiteral("Mode:"), "powerMode", PowerModeLabels(), &m_powerModeLabel);
    auto* chargerBox = new QGroupBox(QStringLiteral("Charger"), content);
    auto* charger = new QGridLayout(chargerBox);
    m_charger = combo(charger, QStringLiteral("Mode:"), "chargerMode", ChargerLabels(), &m_chargerLabel);
    m_speed = combo(charger, QStringLiteral("Speed:"), "chargerSpeed", SpeedLabels(), &m_speedLabel);
    m_lowPower = Named(new QCheckBox(QStringLiteral("Enable Low Power Mode"), content), "lowPower");
    connect(m_lowPower, &QCheckBox::clicked, this, mark);

    auto* outputsBox = new QGroupBox(QStringLiteral("Power output modes"), content);
    auto* outputs = new QGridLayout(outputsBox);
    m_outputCombos[0] = combo(outputs, QStringLiteral("Ports A,B:"), "powerPorts", {}, &m_outputLabels[0]);
    m_outputCombos[1] = combo(outputs, QStringLiteral("Port C:"), "powerSlots", {}, &m_outputLabels[1]);
    auto* slotBox = new QGroupBox(QStringLiteral("Turn on/off Slot"), content);
    auto* slotLayout = new QHBoxLayout(slotBox);
    const char* slotNames[] = {"slot2", "slot3", "slot4"};
    const QStringList slotTexts{"Slot 2(C)", "Slot 3(B)", "Slot 4(D)"};
    for (size_t i = 0; i < m_slots.size(); ++i) {
        m_slots[i] = Named(new QCheckBox(slotTexts[int(i)]), slotNames[i]);
        slotLayout->addWidget(m_slots[i]);
        connect(m_slots[i], &QCheckBox::clicked, this, mark);
    }

    auto* statusBox = new QGroupBox(QStringLiteral("Status"), content);
    auto* status = new QGridLayout(statusBox);
    const char* displayNames[] = {"curInput",       "extDc",          "temperature", "powerCurMode",
                                  "chargerCurMode", "chargerCurrent", "voltExt",     "voltBoard",
                                  "voltBatA",       "voltBatB",       "voltCharger", "voltPorts"};
    const QStringList displayTexts{
        "Current Input:", "Ext.DC Status:", "Board temperature:", "Cur.Mode:",  "Cur.Mode:", "Cur.(Amp):",
        "External:",      "On Board:",      "Battery A:",         "Battery B:", "Charger:",  "On Ports:"};
    for (size_t i = 0; i < m_displays.size(); ++i) {
        m_displays[i] = AddEditRow(status, displayTexts[int(i)], displayNames[i], &m_displayLabels[i]);
        MakeDisplay(m_displays[i]);
        m_displays[i]->setEnabled(false);
    }

    grid->addWidget(antennaBox, 0, 0);
    grid->addWidget(powerBox, 0, 1);
    grid->addWidget(chargerBox, 1, 0);
    grid->addWidget(m_lowPower, 1, 1);
    grid->addWidget(outputsBox, 2, 0);
    grid->addWidget(slotBox, 2, 1);
    grid->addWidget(statusBox, 3, 0, 1, 2);
    grid->setRowStretch(4, 1);
    ShowOutputs(PowerOutputs::PortsAbC);
}

void CGeneral::ShowOutputs(PowerOutputs outputs)
{
    m_outputs = outputs;
    const bool slotModel = outputs == PowerOutputs::PortsAndSlots;
    m_outputLabels[0]->setText(slotModel ? QStringLiteral("Ports:") : QStringLiteral("Ports A,B:"));
    m_outputLabels[1]->setText(slotModel ? QStringLiteral("Slots:") : QStringLiteral("Port C:"));
    for (QComboBox* combo : m_outputCombos) {
        combo->clear();
        combo->addItems(OutputLabels());
    }
}

QStringList CGeneral::OutputValues() const
{
    return m_outputs == PowerOutputs::PortsAndSlots ? QStringList{"off", "on", "always"} : QStringList{"off", "on"};
}

QStringList CGeneral::OutputLabels() const
{
    return m_outputs == PowerOutputs::PortsAndSlots ? QStringList{"Off", "On", "Always"} : QStringList{"Off", "On"};
}

QString CGeneral::OutputPath(int which) const
{
    if (m_outputs == PowerOutputs::PortsAndSlots) {
        return which == 0 ? QStringLiteral("/par/pwr/ports") : QStringLiteral("/par/pwr/slots");
    }
    return which == 0 ? QStringLiteral("/par/pwr/out/ab") : QStringLiteral("/par/pwr/out/c");
}

void CGeneral::QuerySettings()
{
    CParamBatch batch;
    if (!batch.Run(kQuery)) {
        QueryFailed(batch.FailureText());
        return;
    }
    auto r = [&batch](int i) { return batch.Value(i); };

    LoadEdit(r(0), m_termMask, m_termMaskLabel, true);
    LoadRadio(r(1), m_antenna, AntennaValues());
    const QString board = r(2) ? r(2)->toUpper() : QString();
    if (board.contains(QLatin1String("VELTA")) || board.contains(QLatin1String("KVS_3"))) {
        for (QRadioButton* radio : m_antenna) {
            radio->setEnabled(false);
        }
    }
    for (size_t i = 0; i < m_displays.size(); ++i) {
        LoadEdit(r(kDisplaySlots[i]), m_displays[i], m_displayLabels[i], true);
    }
    // The charger current comes in milliamperes and is shown in amperes.
    if (const QString* current = r(11); current && IsNumberText(*current)) {
        m_displays[kChargerCurrent]->setText(QString::asprintf("%3.3f", double(current->trimmed().toFloat()) / 1000.0));
    }
    LoadComboValue(r(6), PowerModeValues(), m_powerMode, PowerModeLabels(), m_powerModeLabel);
    LoadComboValue(r(8), ChargerValues(), m_charger, ChargerLabels(), m_chargerLabel);
    LoadComboValue(r(9), SpeedValues(), m_speed, SpeedLabels(), m_speedLabel);
    LoadCheckYes(r(18), m_lowPower);

    // A model without the ports and slots switches is loaded from the parameters its apply sets, so that an
    // apply of an unchanged page sends back what the receiver has.
    ShowOutputs(r(19) && IsSlotModel(*r(19)) ? PowerOutputs::PortsAndSlots : PowerOutputs::PortsAbC);
    const int first = m_outputs == PowerOutputs::PortsAndSlots ? 20 : 24;
    for (int i = 0; i < 2; ++i) {
        LoadComboValue(r(first + i), OutputValues(), m_outputCombos[size_t(i)], OutputLabels(),
                       m_outputLabels[size_t(i)]);
    }
    for (size_t i = 0; i < m_slots.size(); ++i) {
        LoadCheckYes(r(26 + int(i)), m_slots[i]);
    }
}

QString CGeneral::ApplySettings()
{
    if (QString e = SendEditStep(QStringLiteral("/par/out/elm/cur/term"), m_termMask, false,
                                 QStringLiteral("Can't set elevation mask for terminal"));
        !e.isEmpty()) {
        return e;
    }
    if (!SetRadioParam(QStringLiteral("/par/ant/inp"), m_antenna, AntennaValues())) {
        return QStringLiteral("Can't set antenna input mode");
    }
    if (!SetComboParam(QStringLiteral("/par/pwr/mode"), PowerModeValues(), m_powerMode, PowerModeLabels())) {
        return QStringLiteral("Can't set power mode");
    }
    if (!SetComboParam(QStringLiteral("/par/pwr/charge/bat"), ChargerValues(), m_charger, ChargerLabels())) {
        return QStringLiteral("Can't set charger mode");
    }
    if (!SetComboParam(QStringLiteral("/par/pwr/charge/speed"), SpeedValues(), m_speed, SpeedLabels())) {
        return QStringLiteral("Can't set charger speed");
    }
    if (!SetCheckParam(QStringLiteral("/par/lpm"), m_lowPower, kOn, kOff)) {
        return QStringLiteral("Can't set Low Power Mode");
    }
    const bool slotModel = m_outputs == PowerOutputs::PortsAndSlots;
    const QString outputErrors[2] = {
        slotModel ? QStringLiteral("Can't set power mode on serial ports")
                  : QStringLiteral("Can't set 'Power ON' on ports A,B"),
        slotModel ? QStringLiteral("Can't set power mode on slots") : QStringLiteral("Can't set 'Power ON' on port C")};
    for (int i = 0; i < 2; ++i) {
        if (!SetComboParam(OutputPath(i), OutputValues(), m_outputCombos[size_t(i)], OutputLabels())) {
            return outputErrors[i];
        }
    }
    for (size_t i = 0; i < m_slots.size(); ++i) {
        if (!SetCheckParam(QStringLiteral("/par/pwr/switch/%1").arg(i + 2), m_slots[i], kOn, kOff)) {
            return QStringLiteral("Can't change slot %1 mode").arg(i + 2);
        }
    }
    return QString();
}

void CGeneral::WriteScript()
{
    if (!m_termMask->text().trimmed().isEmpty()) {
        WriteEditParam(QStringLiteral("/par/out/elm/cur/term"), m_termMask, false);
    }
    WriteRadioParam(QStringLiteral("/par/ant/inp"), m_antenna, AntennaValues());
    WriteComboParam(QStringLiteral("/par/pwr/mode"), PowerModeValues(), m_powerMode, PowerModeLabels());
    WriteComboParam(QStringLiteral("/par/pwr/charge/bat"), ChargerValues(), m_charger, ChargerLabels());
    WriteComboParam(QStringLiteral("/par/pwr/charge/speed"), SpeedValues(), m_speed, SpeedLabels());
    WriteCheckParam(QStringLiteral("/par/lpm"), m_lowPower, kOn, kOff);
    for (int i = 0; i < 2; ++i) {
        WriteComboParam(OutputPath(i), OutputValues(), m_outputCombos[size_t(i)], OutputLabels());
    }
    for (size_t i = 0; i < m_slots.size(); ++i) {
        WriteCheckParam(QStringLiteral("/par/pwr/switch/%1").arg(i + 2), m_slots[i], kOn, kOff);
    }
}
