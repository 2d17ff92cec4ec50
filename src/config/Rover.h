#pragma once

#include "config/ConfigPage.h"
#include "config/Toolkit.h"

#include <array>
#include <vector>

class CSpinButtons;
class QCheckBox;
class QComboBox;
class QGridLayout;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

// The "Rover" page: positioning mode and solutions (as on the Positioning page), code differential corrections,
// the RTK engine's parameters, the ports corrections come from, and an RTK engine reset. An apply here re-queries
// the Positioning page and an apply there re-queries this page.
class CRover : public CConfigPage
{
    Q_OBJECT

public:
    explicit CRover(QWidget* parent = nullptr);
    ~CRover() override;

    QString ApplySettings() override;
    void QuerySettings() override;
    void WriteScript() override;

    // The "Reset RTK Engine" button.
    void ResetRtkEngine();

    static QStringList ModeValues() { return {"sp", "cd", "wd", "pf", "pd"}; }
    static QStringList UsageValues() { return {"user", "best", "nearest", "any"}; }
    static QStringList RtkModeValues() { return {"extrap", "delay"}; }
    static QStringList FixLevelValues() { return {"low", "medium", "high"}; }

private:
    QString ApplyRover();
    void BuildControls();
    void BuildModes(QGridLayout* grid);
    void BuildCorrections(QGridLayout* grid);
    void BuildRtk(QGridLayout* grid);
    void BuildMeasurements(QGridLayout* grid);
    void BuildCmr(QGridLayout* grid);
    // Radios in a column of `box`; a click updates the mode's rules or only marks the page changed.
    RadioList RadioGroup(QGroupBox* box, const QStringList& texts, const std::vector<const char*>& names,
                         bool updatesMode);
    void FillSources(const std::array<bool, 12>& ports);
    // Enables the DGPS and RTK controls for the checked mode; a user's click also marks the page changed.
    void UpdateMode(bool byUser);
    bool IsRtk() const;
    bool IsDgps() const;
    QString DynamicsValue() const;

    RadioList m_modes;                        // sp, cd, wd, pf, pd
    std::array<QCheckBox*, 4> m_solutions{};  // sp, cd, pf, pd
    RadioList m_usage;                        // user, best, nearest, any
    QLineEdit* m_stationId = nullptr;
    QLabel* m_stationIdLabel = nullptr;
    QLineEdit* m_cdMaxAge = nullptr;
    QLabel* m_cdMaxAgeLabel = nullptr;
    QLineEdit* m_ionoMaxAge = nullptr;
    QLabel* m_ionoMaxAgeLabel = nullptr;
    QCheckBox* m_useIono = nullptr;
    QComboBox* m_dgpsSource = nullptr;
    QLabel* m_dgpsSourceLabel = nullptr;
    RadioList m_rtkMode;                    // extrap, delay
    RadioList m_dynamics;                   // Static, Kinematic
    RadioList m_fixLevel;                   // low, medium, high
    std::array<QCheckBox*, 3> m_rtkMeas{};  // CA/L1, P/L1, P/L2
    QLineEdit* m_period = nullptr;
    QLabel* m_periodLabel = nullptr;
    QCheckBox* m_keepRef = nullptr;
    QComboBox* m_rtkSource = nullptr;
    QLabel* m_rtkSourceLabel = nullptr;
    QLineEdit* m_gloType = nullptr;
    QLabel* m_gloTypeLabel = nullptr;
    CSpinButtons* m_gloSpin = nullptr;
    QPushButton* m_reset = nullptr;

    // What the receiver reported at the last query: a control whose parameter it did not report stays disabled
    // whatever the mode.
    struct Reported
    {
        bool rtk = false;  // the receiver has an RTK engine
        bool rtkMode = false;
        bool dynamics = false;
        bool fixLevel = false;
        std::array<bool, 3> meas{};
        bool keepRef = false;
        bool period = false;
        bool rtkSource = false;
        bool gloType = false;
        bool usage = false;
        bool stationId = false;
        bool cdMaxAge = false;
        bool ionoMaxAge = false;
        bool useIono = false;
        bool dgpsSource = false;
    } m_has;
};
