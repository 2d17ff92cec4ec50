#pragma once

#include "config/ConfigPage.h"
#include "config/Toolkit.h"

#include <array>

class QCheckBox;
class QLabel;
class QLineEdit;

// The "Tovel" page: recording started from the receiver's front panel — interval, elevation mask, file names,
// one log file or automatic file rotation (AFRM) with its period, phase and counts, the FN key, the initial
// dynamic mode and the auto-start.
class CTovel : public CConfigPage
{
    Q_OBJECT

public:
    explicit CTovel(QWidget* parent = nullptr);

    QString ApplySettings() override;
    void QuerySettings() override;
    void WriteScript() override;

private:
    void BuildControls();
    // The AFRM group follows "AFRM", the dynamic mode follows "Occupation"; a control whose parameter the
    // receiver did not report stays disabled. Only a user's click marks the page changed.
    void UpdateRules(bool byUser);

    QLineEdit* m_interval = nullptr;
    QLineEdit* m_elevation = nullptr;
    QLineEdit* m_prefix = nullptr;
    QLineEdit* m_file = nullptr;
    std::array<QLabel*, 4> m_labels{};   // of the four edits above
    RadioList m_rotation;                // Log file, AFRM
    std::array<QLineEdit*, 3> m_afrm{};  // period, phase, total
    std::array<QLabel*, 3> m_afrmLabels{};
    QLineEdit* m_remain = nullptr;
    QLabel* m_remainLabel = nullptr;
    QCheckBox* m_removeOld = nullptr;
    RadioList m_action;   // LED blink, Occupation
    RadioList m_dynamic;  // Static, Kinematic
    RadioList m_auto;     // Off, On, Always

    std::array<bool, 3> m_afrmReported{};
    bool m_remainReported = false;
    bool m_removeOldReported = false;
    bool m_dynamicReported = false;
};
