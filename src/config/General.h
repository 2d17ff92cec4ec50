#pragma once

#include "config/ConfigPage.h"
#include "config/Toolkit.h"

#include <array>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;

// The "General" page: the terminal's elevation mask, the antenna input, power management (source, charger, low
// power mode, power on ports and slots) and read-only status values of antenna, power and temperature.
class CGeneral : public CConfigPage
{
    Q_OBJECT

public:
    // Which power-output switches the receiver model has.
    enum class PowerOutputs {
        PortsAndSlots,  // the three named models: "/par/pwr/ports" and "/par/pwr/slots", off/on/always
        PortsAbC,       // any other model, or none reported: "/par/pwr/out/ab" and "/par/pwr/out/c", off/on
    };

    explicit CGeneral(QWidget* parent = nullptr);

    QString ApplySettings() override;
    void QuerySettings() override;
    void WriteScript() override;

    PowerOutputs Outputs() const { return m_outputs; }

    static QStringList PowerModeValues() { return {"auto", "mix", "a", "b", "ext"}; }
    static QStringList PowerModeLabels() { return {"Auto", "Mix", "Battery A", "Battery B", "External"}; }
    static QStringList ChargerValues() { return {"off", "a", "b", "auto"}; }
    static QStringList ChargerLabels() { return {"Off", "Charge A", "Charge B", "Auto"}; }
    static QStringList SpeedValues() { return {"normal", "fast"}; }
    static QStringList SpeedLabels() { return {"Normal", "Fast"}; }
    static QStringList AntennaValues() { return {"int", "ext", "auto"}; }
    static bool IsSlotModel(const QString& model);

private:
    void BuildControls();
    void ShowOutputs(PowerOutputs outputs);
    QStringList OutputValues() const;
    QStringList OutputLabels() const;
    QString OutputPath(int which) const;

    QLineEdit* m_termMask = nullptr;
    QLabel* m_termMaskLabel = nullptr;
    RadioList m_antenna;  // int, ext, auto
    QComboBox* m_powerMode = nullptr;
    QLabel* m_powerModeLabel = nullptr;
    QComboBox* m_charger = nullptr;
    QLabel* m_chargerLabel = nullptr;
    QComboBox* m_speed = nullptr;
    QLabel* m_speedLabel = nullptr;
    QCheckBox* m_lowPower = nullptr;
    std::array<QComboBox*, 2> m_outputCombos{};
    std::array<QLabel*, 2> m_outputLabels{};
    std::array<QCheckBox*, 3> m_slots{};
    // Read-only displays in query order: current input, ext. DC, temperature, power mode, charger mode, charger
    // current, and the six voltages.
    std::array<QLineEdit*, 12> m_displays{};
    std::array<QLabel*, 12> m_displayLabels{};

    PowerOutputs m_outputs = PowerOutputs::PortsAbC;
};
