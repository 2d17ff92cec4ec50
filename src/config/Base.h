#pragma once

#include "config/ConfigPage.h"
#include "config/Toolkit.h"

#include <QByteArray>

#include <array>
#include <functional>

class CSpinButtons;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabBar;
class QVBoxLayout;

// One reference position as the page edits it: the texts of the receiver's value.
struct RefPosition
{
    QString datum;
    QString latHemisphere, latDegrees, latMinutes, latSeconds;
    QString lonHemisphere, lonDegrees, lonMinutes, lonSeconds;
    QString height;

    // "{datum,Hddd" "d" "mm" "m" "ss.sssss" "s,Eddd...,height}".
    QString Value() const;
    bool operator==(const RefPosition&) const = default;
};

// Reads a reference position reply completely; false (and `pos` untouched) when any part is missing or a
// hemisphere letter is not one of its two.
bool ParseRefPosition(const QString& value, RefPosition* pos);

// The current position of a "PG" message body (latitude and longitude in radians, height in metres, as
// little-endian doubles) in the texts of a reference position; seconds are rounded to five decimals and a
// rounded 60 seconds carries into the minutes. False when the body holds no usable position (ReadPgPosition).
bool PositionFromPg(const QByteArray& body, RefPosition* pos);

// The "Base" page: the reference position (averaged or entered; GPS and GLONASS coordinates kept together or
// separately), the antenna's L1 to L2 phase-centre offsets, and the RTCM and CMR base messages.
class CBase : public CConfigPage
{
    Q_OBJECT

public:
    using DatumDialogRunner = std::function<int(const QString& code, QWidget* parent)>;
    enum Set { kGps = 0, kGlonass = 1 };

    // The firmware (major x 1000 + minor) from which the receiver reports RTCM C/A measurements.
    static constexpr int kRtcmCaFirmware = 2002;

    explicit CBase(QWidget* parent = nullptr);

    QString ApplySettings() override;
    void QuerySettings() override;
    void WriteScript() override;

    // The "Get from receiver" button.
    void GetFromReceiver();
    void OpenDatumParameters();
    void SetDatumDialogRunner(DatumDialogRunner runner) { m_datumRunner = std::move(runner); }

    // The coordinates as kept (the visible tab's set as last stored).
    RefPosition Coordinates(Set set) const { return m_sets[size_t(set)]; }
    bool IsReported(Set set) const { return m_reported[size_t(set)]; }
    // Selects an inner coordinate tab (0 or 1), storing the visible set first.
    void SelectCoordinateTab(int index);

    static QStringList HealthValues() { return {"good", "bad", "unknown"}; }
    static QStringList HealthLabels() { return {"Good", "Bad", "Unknown"}; }
    static QStringList MotionValues() { return {"unknown", "static", "kinematic"}; }
    static QStringList MotionLabels() { return {"Unknown", "Static", "Kinematic"}; }

private:
    void BuildControls();
    void BuildReferenceMode(QVBoxLayout* column);
    void BuildCoordinates(QVBoxLayout* column);
    void BuildOffsets(QVBoxLayout* column);
    void BuildRtcm(QVBoxLayout* column);
    void BuildCmr(QVBoxLayout* column);
    void RebuildTabs();
    void OnOneTimeClicked();
    void UpdateAveraged(bool byUser);
    // The set the visible tab shows.
    Set VisibleSet() const;
    void ShowSet(Set set);
    void StoreVisibleSet();
    // The reference positions to send, GPS first; each with the set its value comes from. The script writes both
    // references as the receiver has them; an apply leaves a GLONASS reference of its own alone (see
    // GlonassFollowsGps).
    std::vector<std::pair<Set, const char*>> PositionsToSend(bool script) const;
    // Kept together, the shown set goes to the GLONASS reference too, but only when the user changed it or the
    // receiver had one position for both: a distinct GLONASS reference is the receiver's, not the user's.
    bool GlonassFollowsGps() const;
    QString CheckPosition(Set source);

    QRadioButton* m_oneTime = nullptr;
    QRadioButton* m_separately = nullptr;
    QCheckBox* m_averaged = nullptr;
    QLineEdit* m_span = nullptr;
    QLabel* m_spanLabel = nullptr;
    QTabBar* m_coordTabs = nullptr;
    QComboBox* m_latHemisphere = nullptr;
    QLineEdit* m_latDegrees = nullptr;
    QLineEdit* m_latMinutes = nullptr;
    QLineEdit* m_latSeconds = nullptr;
    QComboBox* m_lonHemisphere = nullptr;
    QLineEdit* m_lonDegrees = nullptr;
    QLineEdit* m_lonMinutes = nullptr;
    QLineEdit* m_lonSeconds = nullptr;
    QLineEdit* m_height = nullptr;
    QComboBox* m_datum = nullptr;
    QPushButton* m_datumButton = nullptr;
    QPushButton* m_getButton = nullptr;
    EditList m_offsets;  // east, north, height
    WidgetList m_offsetLabels;
    QLineEdit* m_rtcmId = nullptr;
    QLabel* m_rtcmIdLabel = nullptr;
    QLineEdit* m_svm = nullptr;
    QLabel* m_svmLabel = nullptr;
    QComboBox* m_health = nullptr;
    QLabel* m_healthLabel = nullptr;
    std::array<QCheckBox*, 3> m_rtcmMeas{};  // CA/L1, P/L1, P/L2
    CheckList m_rtcmSystems;                 // GPS, GLONASS
    QCheckBox* m_smoothing = nullptr;
    QLineEdit* m_cmrId = nullptr;
    QLabel* m_cmrIdLabel = nullptr;
    RadioList m_cmrPcode;  // CA/L1 ("off"), P/L1 ("on")
    QCheckBox* m_cmrP2 = nullptr;
    QComboBox* m_motion = nullptr;
    QLabel* m_motionLabel = nullptr;
    QLineEdit* m_gloType = nullptr;
    QLabel* m_gloTypeLabel = nullptr;
    CSpinButtons* m_gloSpin = nullptr;
    EditList m_description;  // Short ID, COGO, Long ID
    WidgetList m_descriptionLabels;

    std::array<RefPosition, 2> m_sets;
    std::array<RefPosition, 2> m_receiverSets;  // as the receiver has them: queried, or sent since
    std::array<bool, 2> m_reported{};
    Set m_shown = kGps;
    bool m_datumFilled = false;
    bool m_spanReported = false;
    bool m_gloTypeReported = false;
    DatumDialogRunner m_datumRunner;
};
