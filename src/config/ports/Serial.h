#pragma once

#include "config/ConfigPage.h"

#include <array>

class CPortGroup;
class QCheckBox;
class QComboBox;
class QLabel;

// The "Serial" port page: input mode, output preset and period, baud rate and RTS/CTS of serial ports A to D.
// Its query also learns the port the controller talks through (g_curTermPort), which no page ever changes.
class CSerial : public CConfigPage
{
    Q_OBJECT

public:
    static constexpr int kPorts = 4;

    explicit CSerial(QWidget* parent = nullptr);

    QString ApplySettings() override;
    void QuerySettings() override;
    void WriteScript() override;

    CPortGroup* Group(int i) const { return m_groups[size_t(i)]; }

signals:
    void Changed();

private:
    std::array<CPortGroup*, kPorts> m_groups{};
    std::array<QLabel*, kPorts> m_baudLabels{};
    std::array<QComboBox*, kPorts> m_bauds{};
    std::array<QCheckBox*, kPorts> m_rtscts{};
};
