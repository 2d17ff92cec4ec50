#pragma once

#include "config/ConfigPage.h"

#include <array>

class CPortGroup;
class QComboBox;
class QLineEdit;

// The "CAN" port page: input mode, output preset and period of CAN ports A and B, their bit rate and the ranges of
// identifiers they take and send.
class CCAN : public CConfigPage
{
    Q_OBJECT

public:
    static constexpr int kPorts = 2;
    static constexpr int kIdFields = 4;  // in first, in count, out first, out count

    explicit CCAN(QWidget* parent = nullptr);

    QString ApplySettings() override;
    void QuerySettings() override;
    void WriteScript() override;

    CPortGroup* Group(int i) const { return m_groups[size_t(i)]; }

signals:
    void Changed();

private:
    std::array<CPortGroup*, kPorts> m_groups{};
    std::array<QComboBox*, kPorts> m_rates{};
    std::array<std::array<QLineEdit*, kIdFields>, kPorts> m_ids{};
};
