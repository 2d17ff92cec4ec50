#pragma once

#include "config/ConfigPage.h"
#include "config/Toolkit.h"

#include <array>
#include <functional>

class CPosSatPage;
class CPosGLONASS;
class QCheckBox;
class QComboBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;

// The "Positioning" page: positioning mode, enabled solutions, masks, navigation systems, RAIM, the measurements
// and corrections of standalone positioning, the current datum, and the satellite lock and use sub-pages.
class CPosition : public CConfigPage
{
    Q_OBJECT

public:
    // Runs the datum dialog for a code and returns the chosen entry index, or -1. Tests replace it.
    using DatumDialogRunner = std::function<int(const QString& code, QWidget* parent)>;

    explicit CPosition(QWidget* parent = nullptr);
    ~CPosition() override;

    QString ApplySettings() override;
    void QuerySettings() override;
    void WriteScript() override;

    CPosSatPage* SatPage(int index) const { return m_satPages[size_t(index)]; }
    int VisibleSatPage() const;
    void ShowSatPage(int index);
    // The "Datum Parameters" button.
    void OpenDatumParameters();
    void SetDatumDialogRunner(DatumDialogRunner runner) { m_datumRunner = std::move(runner); }

    static QStringList ModeValues() { return {"sp", "cd", "wd", "pf", "pd"}; }
    static QStringList MeasValues() { return {"ca", "p1", "p2", "ionofree"}; }
    static QStringList AlarmValues() { return {"manual", "npa", "ter", "enr"}; }
    static QStringList AlarmLabels() { return {"Manual", "Non-precision", "Terminal", "En route"}; }

private:
    QString ApplyPositioning();
    void BuildControls();
    void BuildModes(QGridLayout* grid);
    void BuildMasks(QGridLayout* grid);
    void BuildRaimAndCorrections(QGridLayout* grid);
    void BuildDatum(QGridLayout* grid);
    void BuildSatellites(QGridLayout* grid);
    void UpdateMeasurementControls(bool byUser);
    void UpdateRaimControls(bool byUser);
    void UpdateMasters();
    void OnMasterClicked(int system, bool tracked, bool on);
    void OnSatEdited();
    QWidget* BuildSatArea();

    RadioList m_modes;                        // sp, cd, wd, pf, pd
    std::array<QCheckBox*, 4> m_solutions{};  // sp, cd, pf, pd
    QLineEdit* m_elevation = nullptr;
    QLineEdit* m_pdop = nullptr;
    CheckList m_systems;  // GPS, GLONASS, GAL, SBAS
    QCheckBox* m_raim = nullptr;
    QComboBox* m_alarm = nullptr;
    QLabel* m_alarmLabel = nullptr;
    QLineEdit* m_alarmLimit = nullptr;
    QLabel* m_alarmLimitLabel = nullptr;
    RadioList m_meas;  // ca, p1, p2, ionofree
    QCheckBox* m_iono = nullptr;
    QCheckBox* m_tropo = nullptr;
    QComboBox* m_datum = nullptr;
    QLabel* m_datumLabel = nullptr;
    QPushButton* m_datumButton = nullptr;
    std::array<QCheckBox*, 3> m_tracked{};  // GPS, GLONASS, GAL
    std::array<QCheckBox*, 3> m_used{};
    QTabWidget* m_satTabs = nullptr;
    std::array<CPosSatPage*, 4> m_satPages{};  // GPS, GLONASS, GALILEO, SBAS

    bool m_measReported = false;
    bool m_pcodeUsable = false;
    bool m_ionoReported = false;
    bool m_tropoReported = false;
    bool m_alarmReported = false;
    bool m_limitReported = false;
    DatumDialogRunner m_datumRunner;
};
