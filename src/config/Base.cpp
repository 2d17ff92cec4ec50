#include "config/Base.h"

#include "config/ConfigGlobals.h"
#include "config/PageParts.h"
#include "config/ScriptWriter.h"
#include "config/SpinEdit.h"
#include "link/ParamBatch.h"
#include "link/PgPosition.h"
#include "link/Profile.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTabBar>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

const QString kQuery = QStringLiteral(
    "@scr stoperrors off\nprint,/par/ref/avg/mode\nprint,/par/ref/avg/span\nprint,/par/ref/pos/gps/geo\n"
    "print,/par/ref/pos/glo/geo\nprint,/par/ref/ant/l2_l1\nprint,/par/rtcm/base/stid\nprint,/par/rtcm/base/svm\n"
    "print,/par/rtcm/base/health\nprint,/par/rtcm/base/meas/ca\nprint,/par/rtcm/base/meas/p1\n"
    "print,/par/rtcm/base/meas/p2\nprint,/par/rtcm/base/sys\nprint,/par/rtcm/base/smooth\nprint,/par/cmr/base/stid\n"
    "print,/par/cmr/base/motion\nprint,/par/cmr/base/pcode\nprint,/par/cmr/base/meas/p2\n"
    "print,/par/cmr/base/glo/type\nprint,/par/cmr/base/desc\n@end\n");

const QString kOn = QStringLiteral("on");
const QString kOff = QStringLiteral("off");
const QString kSection = QStringLiteral("Base");
const QString kOneTimeKey = QStringLiteral("GPSGLNAtOneTime");
const char* const kPositionPaths[2] = {"/par/ref/pos/gps/geo", "/par/ref/pos/glo/geo"};
constexpr double kDegreesPerRadian = 57.29577951308232;
constexpr int kGloTypeLow = 3;
constexpr int kGloTypeHigh = 7;

// An edit or check list whose controls are all disabled is not sent: "{,,}" says nothing and is refused.
template <typename List>
bool HasEnabled(const List& controls)
{
    return std::any_of(controls.begin(), controls.end(), [](const QWidget* w) { return w->isEnabled(); });
}

void SelectText(QComboBox* combo, const QString& text)
{
    combo->setCurrentIndex(combo->findText(text, Qt::MatchExactly));
}

// A whole number within [0, high] typed as digits only.
bool WholeIn(const QString& text, int high, int* value)
{
    static const QRegularExpression kDigits(QStringLiteral("^[0-9]{1,3}$"));
    const QString t = text.trimmed();
    if (!kDigits.match(t).hasMatch()) {
        return false;
    }
    *value = t.toInt();
    return *value <= high;
}

// Degrees, minutes below 60 and seconds below 60 making at most `maxDegrees`.
bool AngleValid(const QString& degrees, const QString& minutes, const QString& seconds, int maxDegrees)
{
    int d = 0;
    int m = 0;
    if (!WholeIn(degrees, maxDegrees, &d) || !WholeIn(minutes, 59, &m) || !IsNumberText(seconds)) {
        return false;
    }
    const double s = seconds.trimmed().toDouble();
    return s >= 0.0 && s < 60.0 && d * 3600.0 + m * 60.0 + s <= maxDegrees * 3600.0;
}

// The degrees, minutes and seconds texts of an angle, the seconds rounded to five decimals.
void SplitAngle(double degrees, QString* d, QString* m, QString* s)
{
    constexpr long long kUnitsPerSecond = 100000;
    const long long units = std::llround(std::fabs(degrees) * 3600.0 * double(kUnitsPerSecond));
    const long long whole = units / (3600 * kUnitsPerSecond);
    const long long minutes = units / (60 * kUnitsPerSecond) % 60;
    const long long rest = units % (60 * kUnitsPerSecond);
    *d = QString::asprintf("%02lld", whole);
    *m = QString::asprintf("%02lld", minutes);
    *s = QString::asprintf("%7.5lf", double(rest) / double(kUnitsPerSecond));
}

}  // namespace

QString RefPosition::Value() const
{
    return QLatin1Char('{') + datum.trimmed() + QLatin1Char(',') + latHemisphere + latDegrees.trimmed() +
           QLatin1Char('d') + latMinutes.trimmed() + QLatin1Char('m') + latSeconds.trimmed() + QStringLiteral("s,") +
           lonHemisphere + lonDegrees.trimmed() + QLatin1Char('d') + lonMinutes.trimmed() + QLatin1Char('m') +
           lonSeconds.trimmed() + QStringLiteral("s,") + height.trimmed() + QLatin1Char('}');
}

bool ParseRefPosition(const QString& value, RefPosition* pos)
{
    static const QRegularExpression kForm(
        QStringLiteral("^\\{([^,]+),([NS])([^d]+)d([^m]+)m([^s]+)s,([EW])([^d]+)d([^m]+)m([^s]+)s,([^}]+)"));
    constexpr int kMaxValue = 200;  // a reply value longer than this is no position
    if (value.size() > kMaxValue) {
        return false;
    }
    const QRegularExpressionMatch m = kForm.match(value);
    if (!m.hasMatch()) {
        return false;
    }
    *pos = RefPosition{m.captured(1), m.captured(2), m.captured(3), m.captured(4), m.captured(5),
                       m.captured(6), m.captured(7), m.captured(8), m.captured(9), m.captured(10)};
    return true;
}

bool PositionFromPg(const QByteArray& body, RefPosition* pos)
{
    PgPosition pg;
    if (!ReadPgPosition(body, &pg)) {
        return false;
    }
    const double lat = pg.latRad * kDegreesPerRadian;
    const double lon = pg.lonRad * kDegreesPerRadian;
    RefPosition p = *pos;
    p.latHemisphere = lat < 0 ? QStringLiteral("S") : QStringLiteral("N");
    SplitAngle(lat, &p.latDegrees, &p.latMinutes, &p.latSeconds);
    p.lonHemisphere = lon < 0 ? QStringLiteral("W") : QStringLiteral("E");
    SplitAngle(lon, &p.lonDegrees, &p.lonMinutes, &p.lonSeconds);
    p.height = QString::asprintf("%+7.4lf", pg.height);
    *pos = p;
    return true;
}

CBase::CBase(QWidget* parent) : CConfigPage(parent)
{
    BuildControls();
}

void CBase::BuildControls()
{
    auto* column = AddPageContent<QVBoxLayout>(this);
    BuildReferenceMode(column);
    BuildCoordinates(column);
    BuildOffsets(column);
    BuildRtcm(column);
    BuildCmr(column);
    column->addStretch(1);
}

// The reference mode: both systems at one time or separately, averaged over a span.
void CBase::BuildReferenceMode(QVBoxLayout* column)
{
    QWidget* content = column->parentWidget();
    auto* modeRow = new QGridLayout;
    m_oneTime = Named(new QRadioButton(QStringLiteral("GPS/GLO at one time"), content), "oneTime");
    m_separately = Named(new QRadioButton(QStringLiteral("GPS/GLO separately"), content), "separately");
    m_averaged = Named(new QCheckBox(QStringLiteral("Averaged"), content), "averaged");
    m_spanLabel = Named(new QLabel(QStringLiteral("Avg. Span(s):"), content), "avgSpanLabel");
    m_span = Named(new QLineEdit(content), "avgSpan");
    modeRow->addWidget(m_oneTime, 0, 0);
    modeRow->addWidget(m_separately, 1, 0);
    modeRow->addWidget(m_averaged, 0, 1);
    modeRow->addWidget(m_spanLabel, 1, 1);
    modeRow->addWidget(m_span, 1, 2);
    column->addLayout(modeRow);
    connect(m_oneTime, &QRadioButton::clicked, this, &CBase::OnOneTimeClicked);
    connect(m_separately, &QRadioButton::clicked, this, &CBase::OnOneTimeClicked);
    connect(m_averaged, &QCheckBox::clicked, this, [this] { UpdateAveraged(true); });
    connect(m_span, &QLineEdit::textEdited, this, &CBase::MarkChanged);
}

// The reference coordinates: one set of controls shows the set of the selected inner tab.
void CBase::BuildCoordinates(QVBoxLayout* column)
{
    QWidget* content = column->parentWidget();
    auto* coordBox = new QGroupBox(QStringLiteral("Reference Geodetic coordinates"), content);
    auto* coord = new QGridLayout(coordBox);
    m_coordTabs = Named(new QTabBar(coordBox), "coordTabs");
    coord->addWidget(m_coordTabs, 0, 0, 1, 6);
    auto angleRow = [&](int row, const char* caption, const QStringList& hemispheres, const char* prefix,
                        QComboBox** hemisphere, QLineEdit** d, QLineEdit** m, QLineEdit** s) {
        coord->addWidget(new QLabel(QLatin1String(caption), coordBox), row, 0);
        *hemisphere = Named(new QComboBox(coordBox), (QByteArray(prefix) + "Hemisphere").constData());
        (*hemisphere)->addItems(hemispheres);
        *d = Named(new QLineEdit(coordBox), (QByteArray(prefix) + "Degrees").constData());
        *m = Named(new QLineEdit(coordBox), (QByteArray(prefix) + "Minutes").constData());
        *s = Named(new QLineEdit(coordBox), (QByteArray(prefix) + "Seconds").constData());
        coord->addWidget(*hemisphere, row, 1);
        coord->addWidget(*d, row, 2);
        coord->addWidget(*m, row, 3);
        coord->addWidget(*s, row, 4, 1, 2);
        // The parts of an angle share the row's label; each says which part it is.
        const QString angle = QLatin1String(caption).chopped(1);
        (*d)->setAccessibleName(angle + QStringLiteral(" degrees"));
        (*m)->setAccessibleName(angle + QStringLiteral(" minutes"));
        (*s)->setAccessibleName(angle + QStringLiteral(" seconds"));
        connect(*hemisphere, &QComboBox::activated, this, &CBase::MarkChanged);
        for (QLineEdit* edit : {*d, *m, *s}) {
            connect(edit, &QLineEdit::textEdited, this, &CBase::MarkChanged);
        }
    };
    angleRow(1, "Lat:", {"N", "S"}, "lat", &m_latHemisphere, &m_latDegrees, &m_latMinutes, &m_latSeconds);
    angleRow(2, "Lon:", {"E", "W"}, "lon", &m_lonHemisphere, &m_lonDegrees, &m_lonMinutes, &m_lonSeconds);
    coord->addWidget(new QLabel(QStringLiteral("Alt:"), coordBox), 3, 0);
    m_height = Named(new QLineEdit(coordBox), "height");
    coord->addWidget(m_height, 3, 1, 1, 2);
    connect(m_height, &QLineEdit::textEdited, this, &CBase::MarkChanged);
    m_datum = Named(new QComboBox(coordBox), "refDatum");
    m_datumButton = Named(new QPushButton(QStringLiteral("Datum Parameters"), coordBox), "datumParameters");
    m_getButton = Named(new QPushButton(QStringLiteral("Get from receiver"), coordBox), "getFromReceiver");
    m_datumButton->setAutoDefault(false);
    m_getButton->setAutoDefault(false);
    coord->addWidget(new QLabel(QStringLiteral("Datum:"), coordBox), 3, 3);
    coord->addWidget(m_datum, 3, 4, 1, 2);
    coord->addWidget(m_datumButton, 4, 0, 1, 3);
    coord->addWidget(m_getButton, 4, 3, 1, 3);
    connect(m_datum, &QComboBox::activated, this, &CBase::MarkChanged);
    connect(m_datumButton, &QPushButton::clicked, this, &CBase::OpenDatumParameters);
    connect(m_getButton, &QPushButton::clicked, this, &CBase::GetFromReceiver);
    // Whatever changes the tab (a click, the keyboard, the page itself), the shown set is stored first.
    connect(m_coordTabs, &QTabBar::currentChanged, this, [this] {
        StoreVisibleSet();
        ShowSet(VisibleSet());
        UpdateAveraged(false);
    });
    column->addWidget(coordBox);
}

// The L1 to L2 antenna phase centre offsets.
void CBase::BuildOffsets(QVBoxLayout* column)
{
    QWidget* content = column->parentWidget();
    auto* offsetBox = new QGroupBox(QStringLiteral("L1 to L2 Antenna Phase Center offsets, meters"), content);
    auto* offsetRow = new QHBoxLayout(offsetBox);
    const char* offsetNames[] = {"offsetEast", "offsetNorth", "offsetHeight"};
    const QStringList offsetTexts{"East:", "North:", "Height:"};
    for (int i = 0; i < 3; ++i) {
        auto* label = new QLabel(offsetTexts[i], offsetBox);
        auto* edit = Named(new QLineEdit(offsetBox), offsetNames[i]);
        offsetRow->addWidget(label);
        offsetRow->addWidget(edit);
        m_offsetLabels.push_back(label);
        m_offsets.push_back(edit);
        connect(edit, &QLineEdit::textEdited, this, &CBase::MarkChanged);
    }
    column->addWidget(offsetBox);
}

// The RTCM settings.
void CBase::BuildRtcm(QVBoxLayout* column)
{
    QWidget* content = column->parentWidget();
    auto* rtcmBox = new QGroupBox(QStringLiteral("RTCM Settings"), content);
    auto* rtcm = new QGridLayout(rtcmBox);
    m_rtcmIdLabel = new QLabel(QStringLiteral("Station ID:"), rtcmBox);
    m_rtcmId = Named(new QLineEdit(rtcmBox), "rtcmStationId");
    m_svmLabel = new QLabel(QStringLiteral("Max.number\nof Satellites:"), rtcmBox);
    m_svm = Named(new QLineEdit(rtcmBox), "rtcmMaxSats");
    m_healthLabel = new QLabel(QStringLiteral("Health:"), rtcmBox);
    m_health = Named(new QComboBox(rtcmBox), "rtcmHealth");
    m_health->addItems(HealthLabels());
    rtcm->addWidget(m_rtcmIdLabel, 0, 0);
    rtcm->addWidget(m_rtcmId, 0, 1);
    rtcm->addWidget(m_svmLabel, 1, 0);
    rtcm->addWidget(m_svm, 1, 1);
    rtcm->addWidget(m_healthLabel, 2, 0);
    rtcm->addWidget(m_health, 2, 1);
    auto* measBox = new QGroupBox(QStringLiteral("Measurements Sent"), rtcmBox);
    auto* measLayout = new QVBoxLayout(measBox);
    const char* measNames[] = {"rtcmCa", "rtcmP1", "rtcmP2"};
    const QStringList measTexts{"CA/L1", "P/L1", "P/L2"};
    for (size_t i = 0; i < m_rtcmMeas.size(); ++i) {
        m_rtcmMeas[i] = Named(new QCheckBox(measTexts[int(i)], measBox), measNames[i]);
        measLayout->addWidget(m_rtcmMeas[i]);
        connect(m_rtcmMeas[i], &QCheckBox::clicked, this, &CBase::MarkChanged);
    }
    auto* sysBox = new QGroupBox(QStringLiteral("System Used"), rtcmBox);
    auto* sysLayout = new QVBoxLayout(sysBox);
    const char* sysNames[] = {"rtcmGps", "rtcmGlonass"};
    const QStringList sysTexts{"GPS", "GLONASS"};
    for (int i = 0; i < 2; ++i) {
        auto* box = Named(new QCheckBox(sysTexts[i], sysBox), sysNames[i]);
        sysLayout->addWidget(box);
        m_rtcmSystems.push_back(box);
        connect(box, &QCheckBox::clicked, this, &CBase::MarkChanged);
    }
    m_smoothing = Named(new QCheckBox(QStringLiteral("Pseudo-range smoothing"), rtcmBox), "rtcmSmoothing");
    rtcm->addWidget(measBox, 0, 2, 3, 1);
    rtcm->addWidget(sysBox, 0, 3, 3, 1);
    rtcm->addWidget(m_smoothing, 3, 0, 1, 4);
    connect(m_rtcmId, &QLineEdit::textEdited, this, &CBase::MarkChanged);
    connect(m_svm, &QLineEdit::textEdited, this, &CBase::MarkChanged);
    connect(m_health, &QComboBox::activated, this, &CBase::MarkChanged);
    connect(m_smoothing, &QCheckBox::clicked, this, &CBase::MarkChanged);
    column->addWidget(rtcmBox);
}

// The CMR settings.
void CBase::BuildCmr(QVBoxLayout* column)
{
    QWidget* content = column->parentWidget();
    auto* cmrBox = new QGroupBox(QStringLiteral("CMR Setting"), content);
    auto* cmr = new QGridLayout(cmrBox);
    m_cmrIdLabel = new QLabel(QStringLiteral("Station ID:"), cmrBox);
    m_cmrId = Named(new QLineEdit(cmrBox), "cmrStationId");
    cmr->addWidget(m_cmrIdLabel, 0, 0);
    cmr->addWidget(m_cmrId, 0, 1);
    auto* cmrMeasBox = new QGroupBox(QStringLiteral("Measurements Sent"), cmrBox);
    auto* cmrMeas = new QVBoxLayout(cmrMeasBox);
    m_cmrPcode = {Named(new QRadioButton(QStringLiteral("CA/L1"), cmrMeasBox), "cmrCa"),
                  Named(new QRadioButton(QStringLiteral("P/L1"), cmrMeasBox), "cmrP1")};
    m_cmrP2 = Named(new QCheckBox(QStringLiteral("P/L2"), cmrMeasBox), "cmrP2");
    for (QRadioButton* radio : m_cmrPcode) {
        cmrMeas->addWidget(radio);
        connect(radio, &QRadioButton::clicked, this, &CBase::MarkChanged);
    }
    cmrMeas->addWidget(m_cmrP2);
    connect(m_cmrP2, &QCheckBox::clicked, this, &CBase::MarkChanged);
    cmr->addWidget(cmrMeasBox, 0, 2, 3, 1);
    m_motionLabel = new QLabel(QStringLiteral("Motion:"), cmrBox);
    m_motion = Named(new QComboBox(cmrBox), "cmrMotion");
    m_motion->addItems(MotionLabels());
    cmr->addWidget(m_motionLabel, 1, 0);
    cmr->addWidget(m_motion, 1, 1);
    connect(m_motion, &QComboBox::activated, this, &CBase::MarkChanged);
    m_gloTypeLabel = new QLabel(QStringLiteral("GLONASS msg.:"), cmrBox);
    m_gloType = Named(new QLineEdit(cmrBox), "cmrGloType");
    m_gloSpin = Named(new CSpinButtons(m_gloType, cmrBox), "cmrGloSpin");
    m_gloSpin->SetRange(kGloTypeLow, kGloTypeHigh);
    auto* gloRow = new QHBoxLayout;
    gloRow->addWidget(m_gloType);
    gloRow->addWidget(m_gloSpin);
    cmr->addWidget(m_gloTypeLabel, 2, 0);
    cmr->addLayout(gloRow, 2, 1);
    connect(m_gloType, &QLineEdit::textEdited, this, &CBase::MarkChanged);
    connect(m_gloSpin, &CSpinButtons::Stepped, this, &CBase::MarkChanged);
    const char* descNames[] = {"cmrShortId", "cmrCogo", "cmrLongId"};
    const QStringList descTexts{"Short ID:", "COGO:", "Long ID:"};
    for (int i = 0; i < 3; ++i) {
        auto* label = new QLabel(descTexts[i], cmrBox);
        auto* edit = Named(new QLineEdit(cmrBox), descNames[i]);
        cmr->addWidget(label, 3 + i, 0);
        cmr->addWidget(edit, 3 + i, 1, 1, 2);
        m_descriptionLabels.push_back(label);
        m_description.push_back(edit);
        connect(edit, &QLineEdit::textEdited, this, &CBase::MarkChanged);
    }
    column->addWidget(cmrBox);
}

CBase::Set CBase::VisibleSet() const
{
    return m_coordTabs->count() > 1 && m_coordTabs->currentIndex() == 1 ? kGlonass : kGps;
}

void CBase::ShowSet(Set set)
{
    const RefPosition& p = m_sets[size_t(set)];
    SelectText(m_latHemisphere, p.latHemisphere);
    m_latDegrees->setText(p.latDegrees);
    m_latMinutes->setText(p.latMinutes);
    m_latSeconds->setText(p.latSeconds);
    SelectText(m_lonHemisphere, p.lonHemisphere);
    m_lonDegrees->setText(p.lonDegrees);
    m_lonMinutes->setText(p.lonMinutes);
    m_lonSeconds->setText(p.lonSeconds);
    m_height->setText(p.height);
    SelectText(m_datum, p.datum);
    m_shown = set;
}

void CBase::StoreVisibleSet()
{
    RefPosition& p = m_sets[size_t(m_shown)];
    p.latHemisphere = m_latHemisphere->currentText();
    p.latDegrees = m_latDegrees->text();
    p.latMinutes = m_latMinutes->text();
    p.latSeconds = m_latSeconds->text();
    p.lonHemisphere = m_lonHemisphere->currentText();
    p.lonDegrees = m_lonDegrees->text();
    p.lonMinutes = m_lonMinutes->text();
    p.lonSeconds = m_lonSeconds->text();
    p.height = m_height->text();
    if (m_datum->currentIndex() >= 0) {
        p.datum = m_datum->currentText();
    }
}

void CBase::SelectCoordinateTab(int index)
{
    if (index >= 0 && index < m_coordTabs->count()) {
        m_coordTabs->setCurrentIndex(index);
    }
}

void CBase::RebuildTabs()
{
    const QSignalBlocker block(m_coordTabs);
    while (m_coordTabs->count() > 0) {
        m_coordTabs->removeTab(0);
    }
    if (m_oneTime->isChecked()) {
        m_coordTabs->addTab(QStringLiteral("GPS/GLO"));
    } else {
        m_coordTabs->addTab(QStringLiteral("GPS"));
        m_coordTabs->addTab(QStringLiteral("GLONASS"));
    }
    m_coordTabs->setCurrentIndex(0);
    ShowSet(kGps);
}

void CBase::OnOneTimeClicked()
{
    StoreVisibleSet();
    RebuildTabs();
    UpdateAveraged(true);
}

void CBase::UpdateAveraged(bool byUser)
{
    // Coordinates a receiver did not report stay disabled, averaged or not.
    const bool entered = !m_averaged->isChecked();
    const bool coordinates = entered && m_reported[size_t(VisibleSet())];
    for (QWidget* w :
         std::initializer_list<QWidget*>{m_latHemisphere, m_latDegrees, m_latMinutes, m_latSeconds, m_lonHemisphere,
                                         m_lonDegrees, m_lonMinutes, m_lonSeconds, m_height, m_getButton}) {
        w->setEnabled(coordinates);
    }
    m_datum->setEnabled(coordinates && m_datumFilled);
    m_datumButton->setEnabled(entered && m_datumFilled);
    m_span->setEnabled(!entered && m_spanReported);
    m_spanLabel->setEnabled(!entered && m_spanReported);
    if (byUser) {
        MarkChanged();
    }
}

void CBase::QuerySettings()
{
    CParamBatch batch;
    if (!batch.Run(kQuery)) {
        QueryFailed(batch.FailureText());
        return;
    }
    auto r = [&batch](int i) { return batch.Value(i); };

    m_datumFilled = FillDatumCombo(m_datum, true);
    LoadCheckYes(r(0), m_averaged);
    m_spanReported = LoadEditReported(r(1), m_span, m_spanLabel, false);
    // A reference the receiver reports in a form the page can't read completely counts as not reported: sending
    // back a half-read position would move the base.
    for (int set : {kGps, kGlonass}) {
        RefPosition p;
        m_reported[size_t(set)] = r(2 + set) && ParseRefPosition(*r(2 + set), &p);
        m_sets[size_t(set)] = m_reported[size_t(set)] ? p : RefPosition();
    }
    m_receiverSets = m_sets;
    LoadEditList(r(4), m_offsets, m_offsetLabels);
    LoadEdit(r(5), m_rtcmId, m_rtcmIdLabel, true);
    LoadEdit(r(6), m_svm, m_svmLabel, true);
    LoadComboValue(r(7), HealthValues(), m_health, HealthLabels(), m_healthLabel);
    int firmware = g_configSheet ? g_configSheet->FirmwareVersion() : 0;
    LoadCheckYes(firmware >= kRtcmCaFirmware ? r(8) : nullptr, m_rtcmMeas[0]);
    LoadCheckYes(r(9), m_rtcmMeas[1]);
    LoadCheckYes(r(10), m_rtcmMeas[2]);
    LoadCheckList(r(11), m_rtcmSystems);
    LoadCheckYes(r(12), m_smoothing);
    LoadEdit(r(13), m_cmrId, m_cmrIdLabel, true);
    LoadComboValue(r(14), MotionValues(), m_motion, MotionLabels(), m_motionLabel);
    LoadRadio(r(15), m_cmrPcode, {kOff, kOn});
    LoadCheckYes(r(16), m_cmrP2);
    m_gloTypeReported = LoadEditReported(r(17), m_gloType, m_gloTypeLabel, true);
    m_gloSpin->setEnabled(m_gloTypeReported);
    LoadEditList(r(18), m_description, m_descriptionLabels);

    CProfile* profile = CProfile::Instance();
    const bool oneTime = profile->ReadBool(kSection, kOneTimeKey, true);
    CProfile::Release();
    SetRadioChecked(m_oneTime, oneTime);
    SetRadioChecked(m_separately, !oneTime);
    RebuildTabs();
    UpdateAveraged(false);
}

bool CBase::GlonassFollowsGps() const
{
    return m_reported[kGps] &&
           (m_sets[kGps] != m_receiverSets[kGps] || m_receiverSets[kGps] == m_receiverSets[kGlonass]);
}

std::vector<std::pair<CBase::Set, const char*>> CBase::PositionsToSend(bool script) const
{
    std::vector<std::pair<Set, const char*>> out;
    if (m_averaged->isChecked()) {
        return out;
    }
    const bool oneTime = m_oneTime->isChecked();
    if (m_reported[kGps]) {
        out.emplace_back(kGps, kPositionPaths[kGps]);
    }
    if (!m_reported[kGlonass]) {
        return out;
    }
    if (!oneTime) {
        out.emplace_back(kGlonass, kPositionPaths[kGlonass]);
    } else if (GlonassFollowsGps()) {
        out.emplace_back(kGps, kPositionPaths[kGlonass]);
    } else if (script) {
        out.emplace_back(kGlonass, kPositionPaths[kGlonass]);
    }
    return out;
}

// The set's texts checked as numbers in range; an error text, with the offending edit focused and its set shown.
QString CBase::CheckPosition(Set source)
{
    const RefPosition& p = m_sets[size_t(source)];
    QLineEdit* bad = nullptr;
    QString error;
    if (!AngleValid(p.latDegrees, p.latMinutes, p.latSeconds, 90)) {
        bad = m_latDegrees;
        error = QStringLiteral("Invalid Base reference latitude");
    } else if (!AngleValid(p.lonDegrees, p.lonMinutes, p.lonSeconds, 180)) {
        bad = m_lonDegrees;
        error = QStringLiteral("Invalid Base reference longitude");
    } else if (!IsNumberText(p.height) || std::fabs(p.height.trimmed().toDouble()) > 100000.0) {
        bad = m_height;
        error = QStringLiteral("Invalid Base reference height");
    } else if (p.datum.trimmed().isEmpty()) {
        error = QStringLiteral("Invalid Base reference datum");
    } else {
        return QString();
    }
    if (source != m_shown && m_coordTabs->count() > 1) {
        SelectCoordinateTab(int(source));
    }
    if (bad) {
        bad->setFocus(Qt::OtherFocusReason);
    }
    return error;
}

QString CBase::ApplySettings()
{
    // Reference positions are checked before anything is sent, so that a typing error changes nothing.
    StoreVisibleSet();
    const auto positions = PositionsToSend(false);
    for (const auto& [source, path] : positions) {
        const QString error = CheckPosition(source);
        if (!error.isEmpty()) {
            return error;
        }
    }
    // Quotes and commas would break the braced list of quoted texts.
    for (QLineEdit* edit : m_description) {
        if (edit->isEnabled() && (edit->text().contains(QLatin1Char('"')) || edit->text().contains(QLatin1Char(',')))) {
            edit->setFocus(Qt::OtherFocusReason);
            return QStringLiteral("Invalid CMR base description");
        }
    }

    if (!SetCheckParam(QStringLiteral("/par/ref/avg/mode"), m_averaged, kOn, kOff)) {
        return QStringLiteral("Can't set reference position averaging mode");
    }
    if (!SetEditParam(QStringLiteral("/par/ref/avg/span"), m_span, false)) {
        return QStringLiteral("Can't set reference position averaging span");
    }
    for (const auto& [source, path] : positions) {
        if (!SetParam(QLatin1String(path), m_sets[size_t(source)].Value())) {
            return QStringLiteral("Can't set Base reference position");
        }
        const Set target = path == kPositionPaths[kGps] ? kGps : kGlonass;
        m_receiverSets[size_t(target)] = m_sets[size_t(source)];
        m_sets[size_t(target)] = m_sets[size_t(source)];
    }
    if (HasEnabled(m_offsets) && !SetEditListParam(QStringLiteral("/par/ref/ant/l2_l1"), m_offsets, false)) {
        return QStringLiteral("Can't set antenna phase center offsets");
    }
    if (!SetEditParam(QStringLiteral("/par/rtcm/base/stid"), m_rtcmId, false)) {
        return QStringLiteral("Can't set RTCM Base Station ID");
    }
    if (!SetEditParam(QStringLiteral("/par/rtcm/base/svm"), m_svm, false)) {
        return QStringLiteral("Can't set max. number of satellites");
    }
    if (!SetComboParam(QStringLiteral("/par/rtcm/base/health"), HealthValues(), m_health, HealthLabels())) {
        return QStringLiteral("Can't set base health mode");
    }
    if (!SetCheckParam(QStringLiteral("/par/rtcm/base/meas/ca"), m_rtcmMeas[0], kOn, kOff)) {
        return QStringLiteral("Can't set RTCM C/A measurements sending mode");
    }
    if (!SetCheckParam(QStringLiteral("/par/rtcm/base/meas/p1"), m_rtcmMeas[1], kOn, kOff)) {
        return QStringLiteral("Can't set RTCM P1 measurements sending mode");
    }
    if (!SetCheckParam(QStringLiteral("/par/rtcm/base/meas/p2"), m_rtcmMeas[2], kOn, kOff)) {
        return QStringLiteral("Can't set RTCM P2 measurements sending mode");
    }
    if (HasEnabled(m_rtcmSystems) &&
        !SetCheckListParam(QStringLiteral("/par/rtcm/base/sys"), m_rtcmSystems, kOn, kOff)) {
        return QStringLiteral("Can't set system used in RTCM messages");
    }
    if (!SetCheckParam(QStringLiteral("/par/rtcm/base/smooth"), m_smoothing, kOn, kOff)) {
        return QStringLiteral("Can't set pseudo-range smoothing mode");
    }
    if (!SetEditParam(QStringLiteral("/par/cmr/base/stid"), m_cmrId, false)) {
        return QStringLiteral("Can't set CMR Base Station ID");
    }
    if (!SetComboParam(QStringLiteral("/par/cmr/base/motion"), MotionValues(), m_motion, MotionLabels())) {
        return QStringLiteral("Can't set CMR Base motion mode");
    }
    if (!SetRadioParam(QStringLiteral("/par/cmr/base/pcode"), m_cmrPcode, {kOff, kOn})) {
        return QStringLiteral("Can't set CMR C/A or P1 measurements sending mode");
    }
    if (!SetCheckParam(QStringLiteral("/par/cmr/base/meas/p2"), m_cmrP2, kOn, kOff)) {
        return QStringLiteral("Can't set CMR P2 measurements sending mode");
    }
    if (m_gloTypeReported && !SetEditParam(QStringLiteral("/par/cmr/base/glo/type"), m_gloType, false)) {
        return QStringLiteral("Can't set Base CMR base GLONASS message type");
    }
    if (HasEnabled(m_description) && !SetEditListParam(QStringLiteral("/par/cmr/base/desc"), m_description, true)) {
        return QStringLiteral("Can't set CMR base description parameters");
    }
    CProfile* profile = CProfile::Instance();
    profile->WriteBool(kSection, kOneTimeKey, m_oneTime->isChecked());
    CProfile::Release();
    return QString();
}

void CBase::WriteScript()
{
    WriteCheckParam(QStringLiteral("/par/ref/avg/mode"), m_averaged, kOn, kOff);
    WriteEditParam(QStringLiteral("/par/ref/avg/span"), m_span, false);
    StoreVisibleSet();
    for (const auto& [source, path] : PositionsToSend(true)) {
        WriteSetLine(QLatin1String(path), m_sets[size_t(source)].Value());
    }
    WriteEditListParam(QStringLiteral("/par/ref/ant/l2_l1"), m_offsets, false);
    WriteEditParam(QStringLiteral("/par/rtcm/base/stid"), m_rtcmId, false);
    WriteEditParam(QStringLiteral("/par/rtcm/base/svm"), m_svm, false);
    WriteComboParam(QStringLiteral("/par/rtcm/base/health"), HealthValues(), m_health, HealthLabels());
    WriteCheckParam(QStringLiteral("/par/rtcm/base/meas/ca"), m_rtcmMeas[0], kOn, kOff);
    WriteCheckParam(QStringLiteral("/par/rtcm/base/meas/p1"), m_rtcmMeas[1], kOn, kOff);
    WriteCheckParam(QStringLiteral("/par/rtcm/base/meas/p2"), m_rtcmMeas[2], kOn, kOff);
    WriteCheckListParam(QStringLiteral("/par/rtcm/base/sys"), m_rtcmSystems, kOn, kOff, false);
    WriteCheckParam(QStringLiteral("/par/rtcm/base/smooth"), m_smoothing, kOn, kOff);
    WriteEditParam(QStringLiteral("/par/cmr/base/stid"), m_cmrId, false);
    WriteComboParam(QStringLiteral("/par/cmr/base/motion"), MotionValues(), m_motion, MotionLabels());
    WriteRadioParam(QStringLiteral("/par/cmr/base/pcode"), m_cmrPcode, {kOff, kOn});
    WriteCheckParam(QStringLiteral("/par/cmr/base/meas/p2"), m_cmrP2, kOn, kOff);
    if (m_gloTypeReported) {
        WriteEditParam(QStringLiteral("/par/cmr/base/glo/type"), m_gloType, false);
    }
    WriteEditListParam(QStringLiteral("/par/cmr/base/desc"), m_description, true);
}

void CBase::GetFromReceiver()
{
    RefPosition& p = m_sets[size_t(m_shown)];
    StoreVisibleSet();
    // An epoch without a solution carries zeros, not a position.
    if (!PositionFromPg(g_pgMessage.Body(), &p)) {
        if (g_configSheet) {
            g_configSheet->SetStatusText(QStringLiteral("No position received from the receiver yet"));
        }
        return;
    }
    ShowSet(m_shown);
    if (g_configSheet) {
        g_configSheet->SetStatusText(QString());
    }
    MarkChanged();
}

void CBase::OpenDatumParameters()
{
    if (RunDatumDialog(m_datum, m_datumRunner, this)) {
        MarkChanged();
    }
}
