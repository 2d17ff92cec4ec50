#include "config/Position.h"

#include "config/ConfigGlobals.h"
#include "config/PageParts.h"
#include "config/PosSatPages.h"
#include "config/ScriptWriter.h"
#include "link/ParamBatch.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

const QString kQuery = QStringLiteral(
    "@scr stoperrors off\nprint,/par/pos/mode/cur\nprint,/par/pos/pd/reset\nprint,/par/pos/mode/sp\n"
    "print,/par/pos/elm\nprint,/par/pos/pdop\nprint,/par/pos/sys\nprint,/par/pos/raim/mode\n"
    "print,/par/pos/raim/al/mode\nprint,/par/pos/raim/al/manual\nprint,/par/pos/sp/meas\nprint,/par/lock/pcode\n"
    "print,pos/sp/iono\nprint,pos/sp/tropo\nprint,/par/pos/mode/cd\nprint,/par/pos/mode/pf\nprint,/par/pos/mode/pd\n"
    "@end\n");

const QString kOn = QStringLiteral("on");
const QString kOff = QStringLiteral("off");

// A master box: a click turns it on or off, whatever it showed before (a partial state included).
class CMasterBox : public QCheckBox
{
public:
    CMasterBox(const QString& text, QWidget* parent) : QCheckBox(text, parent) {}

protected:
    void nextCheckState() override
    {
        const bool wasOn = checkState() == Qt::Checked;  // read before the partial state goes
        setTristate(false);
        setCheckState(wasOn ? Qt::Unchecked : Qt::Checked);
    }
};

void ShowMaster(QCheckBox* box, MasterState state)
{
    box->setEnabled(state != MasterState::Unavailable);
    box->setTristate(state == MasterState::Some);
    switch (state) {
        case MasterState::Unavailable:
        case MasterState::None:
            box->setCheckState(Qt::Unchecked);
            break;
        case MasterState::Some:
            box->setCheckState(Qt::PartiallyChecked);
            break;
        case MasterState::All:
            box->setCheckState(Qt::Checked);
            break;
    }
}

}  // namespace

CPosition::CPosition(QWidget* parent) : CConfigPage(parent)
{
    BuildControls();
    g_positionPage = this;
}

CPosition::~CPosition()
{
    if (g_positionPage == this) {
        g_positionPage = nullptr;
    }
}

void CPosition::BuildControls()
{
    // The sheet scrolls the page; a scroll area of its own would nest one inside the other.
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(4, 4, 4, 4);
    BuildModes(grid);
    BuildMasks(grid);
    BuildRaimAndCorrections(grid);
    BuildDatum(grid);
    BuildSatellites(grid);
    UpdateMasters();
}

// The positioning mode and the solutions it may use.
void CPosition::BuildModes(QGridLayout* grid)
{
    QWidget* content = this;
    auto* modeBox = new QGroupBox(QStringLiteral("Positioning Mode"), content);
    auto* modeLayout = new QVBoxLayout(modeBox);
    const char* modeNames[] = {"modeSp", "modeCd", "modeWd", "modePf", "modePd"};
    const QStringList modeTexts{"Standalone", "DGPS (Code Diff.)", "WD (SBAS Diff.)", "RTK Float", "RTK Fixed"};
    for (int i = 0; i < 5; ++i) {
        auto* radio = Named(new QRadioButton(modeTexts[i], modeBox), modeNames[i]);
        modeLayout->addWidget(radio);
        m_modes.push_back(radio);
        connect(radio, &QRadioButton::clicked, this, [this] { UpdateMeasurementControls(true); });
    }
    QGroupBox* solutionBox = MakeSolutionBox(content, &m_solutions);
    for (QCheckBox* box : m_solutions) {
        connect(box, &QCheckBox::clicked, this, &CPosition::MarkChanged);
    }
    grid->addWidget(modeBox, 0, 0);
    grid->addWidget(solutionBox, 0, 1);
}

// The positioning masks and the systems used.
void CPosition::BuildMasks(QGridLayout* grid)
{
    QWidget* content = this;
    auto* maskBox = new QGroupBox(QStringLiteral("Positioning Masks"), content);
    auto* maskLayout = new QGridLayout(maskBox);
    m_elevation = Named(new QLineEdit(maskBox), "elevationMask");
    m_pdop = Named(new QLineEdit(maskBox), "pdopMask");
    maskLayout->addWidget(new QLabel(QStringLiteral("Elv. mask(d): "), maskBox), 0, 0);
    maskLayout->addWidget(m_elevation, 0, 1);
    maskLayout->addWidget(new QLabel(QStringLiteral("PDOP mask:"), maskBox), 1, 0);
    maskLayout->addWidget(m_pdop, 1, 1);
    connect(m_elevation, &QLineEdit::textEdited, this, &CPosition::MarkChanged);
    connect(m_pdop, &QLineEdit::textEdited, this, &CPosition::MarkChanged);
    auto* systemBox = new QGroupBox(QStringLiteral("Pos. System"), content);
    auto* systemLayout = new QGridLayout(systemBox);
    const char* systemNames[] = {"sysGps", "sysGlonass", "sysGal", "sysSbas"};
    const QStringList systemTexts{"GPS", "GLONASS", "GAL", "SBAS"};
    for (int i = 0; i < 4; ++i) {
        auto* box = Named(new QCheckBox(systemTexts[i], systemBox), systemNames[i]);
        systemLayout->addWidget(box, i / 2, i % 2);
        m_systems.push_back(box);
        connect(box, &QCheckBox::clicked, this, &CPosition::MarkChanged);
    }
    grid->addWidget(maskBox, 1, 0);
    grid->addWidget(systemBox, 1, 1);
}

// RAIM, the measurements used and the corrections.
void CPosition::BuildRaimAndCorrections(QGridLayout* grid)
{
    QWidget* content = this;
    auto* raimBox = new QGroupBox(QStringLiteral("RAIM"), content);
    auto* raimLayout = new QGridLayout(raimBox);
    m_raim = Named(new QCheckBox(QStringLiteral("RAIM Enabled"), raimBox), "raimEnabled");
    m_alarmLabel = Named(new QLabel(QStringLiteral("Alarm:"), raimBox), "alarmLabel");
    m_alarm = Named(new QComboBox(raimBox), "alarmMode");
    m_alarm->addItems(AlarmLabels());
    m_alarmLimitLabel = Named(new QLabel(QStringLiteral("Alarm limit(m):"), raimBox), "alarmLimitLabel");
    m_alarmLimit = Named(new QLineEdit(raimBox), "alarmLimit");
    // Labels above their fields: side by side they made the page wider than a handheld's screen.
    raimLayout->addWidget(m_raim, 0, 0);
    raimLayout->addWidget(m_alarmLabel, 1, 0);
    raimLayout->addWidget(m_alarm, 2, 0);
    raimLayout->addWidget(m_alarmLimitLabel, 3, 0);
    raimLayout->addWidget(m_alarmLimit, 4, 0);
    connect(m_raim, &QCheckBox::clicked, this, [this] { UpdateRaimControls(true); });
    connect(m_alarm, &QComboBox::activated, this, [this] { UpdateRaimControls(true); });
    connect(m_alarmLimit, &QLineEdit::textEdited, this, &CPosition::MarkChanged);

    auto* measBox = new QGroupBox(QStringLiteral("Meas. Used"), content);
    auto* measLayout = new QVBoxLayout(measBox);
    const char* measNames[] = {"measCa", "measP1", "measP2", "measIonoFree"};
    const QStringList measTexts{"CA/L1", "P/L1", "P/L2", "Iono-Free"};
    for (int i = 0; i < 4; ++i) {
        auto* radio = Named(new QRadioButton(measTexts[i], measBox), measNames[i]);
        measLayout->addWidget(radio);
        m_meas.push_back(radio);
        connect(radio, &QRadioButton::clicked, this, &CPosition::MarkChanged);
    }
    m_iono = Named(new QCheckBox(QStringLiteral("Iono-Correction"), content), "ionoCorrection");
    m_tropo = Named(new QCheckBox(QStringLiteral("Tropo-Correction"), content), "tropoCorrection");
    connect(m_iono, &QCheckBox::clicked, this, &CPosition::MarkChanged);
    connect(m_tropo, &QCheckBox::clicked, this, &CPosition::MarkChanged);
    auto* corrections = new QVBoxLayout;
    corrections->addWidget(measBox);
    corrections->addWidget(m_iono);
    corrections->addWidget(m_tropo);
    grid->addWidget(raimBox, 2, 0);
    grid->addLayout(corrections, 2, 1);
}

// The current datum and its parameters.
void CPosition::BuildDatum(QGridLayout* grid)
{
    QWidget* content = this;
    auto* datumRow = new QHBoxLayout;
    m_datumLabel = Named(new QLabel(QStringLiteral("Cur. Datum:"), content), "datumLabel");
    m_datum = Named(new QComboBox(content), "datum");
    m_datumButton = Named(new QPushButton(QStringLiteral("Datum Parameters"), content), "datumParameters");
    m_datumButton->setAutoDefault(false);
    datumRow->addWidget(m_datumLabel);
    datumRow->addWidget(m_datum, 1);
    datumRow->addWidget(m_datumButton);
    grid->addLayout(datumRow, 3, 0, 1, 2);
    connect(m_datum, &QComboBox::activated, this, &CPosition::MarkChanged);
    connect(m_datumButton, &QPushButton::clicked, this, &CPosition::OpenDatumParameters);
}

// The master boxes and the satellite sub-pages.
void CPosition::BuildSatellites(QGridLayout* grid)
{
    QWidget* content = this;
    auto* trackedBox = new QGroupBox(QStringLiteral("Satellites tracked"), content);
    auto* usedBox = new QGroupBox(QStringLiteral("Satellites used in pos."), content);
    auto* trackedLayout = new QGridLayout(trackedBox);
    auto* usedLayout = new QGridLayout(usedBox);
    const QStringList masterTexts{"GPS", "GLONASS", "GAL"};
    const char* trackedNames[] = {"trackedGps", "trackedGlonass", "trackedGal"};
    const char* usedNames[] = {"usedGps", "usedGlonass", "usedGal"};
    for (int i = 0; i < 3; ++i) {
        m_tracked[size_t(i)] = Named(new CMasterBox(masterTexts[i], trackedBox), trackedNames[i]);
        m_used[size_t(i)] = Named(new CMasterBox(masterTexts[i], usedBox), usedNames[i]);
        trackedLayout->addWidget(m_tracked[size_t(i)], i / 2, i % 2);
        usedLayout->addWidget(m_used[size_t(i)], i / 2, i % 2);
        connect(m_tracked[size_t(i)], &QCheckBox::clicked, this, [this, i](bool on) { OnMasterClicked(i, true, on); });
        connect(m_used[size_t(i)], &QCheckBox::clicked, this, [this, i](bool on) { OnMasterClicked(i, false, on); });
    }
    grid->addWidget(trackedBox, 4, 0);
    grid->addWidget(usedBox, 4, 1);
    grid->addWidget(BuildSatArea(), 5, 0, 1, 2);
    grid->setRowStretch(5, 1);
}

QWidget* CPosition::BuildSatArea()
{
    m_satTabs = new QTabWidget;
    m_satTabs->setObjectName(QStringLiteral("satTabs"));
    m_satTabs->setMinimumHeight(300);
    m_satPages = {new CPosGPS, new CPosGLONASS, new CPosGalileo, new CPosSBAS};
    const QStringList captions{"GPS", "GLONASS", "GALILEO", "SBAS"};
    for (size_t i = 0; i < m_satPages.size(); ++i) {
        m_satTabs->addTab(m_satPages[i], captions[int(i)]);
        connect(m_satPages[i], &CPosSatPage::Changed, this, &CPosition::OnSatEdited);
    }
    m_satTabs->setCurrentIndex(0);
    return m_satTabs;
}

int CPosition::VisibleSatPage() const
{
    return m_satTabs->currentIndex();
}

void CPosition::ShowSatPage(int index)
{
    m_satTabs->setCurrentIndex(index);
}

void CPosition::OnSatEdited()
{
    UpdateMasters();
    MarkChanged();
}

void CPosition::UpdateMasters()
{
    for (size_t i = 0; i < 3; ++i) {
        // Master boxes 0, 1, 2 stand for the sub-pages GPS, GLONASS, GALILEO.
        ShowMaster(m_tracked[i], m_satPages[i]->TrackedState());
        ShowMaster(m_used[i], m_satPages[i]->UsedState());
    }
}

void CPosition::OnMasterClicked(int system, bool tracked, bool on)
{
    ShowSatPage(system);
    CPosSatPage* page = m_satPages[size_t(system)];
    if (tracked) {
        page->SetAllTracked(on);
    } else {
        page->SetAllUsed(on);
    }
    UpdateMasters();
    MarkChanged();
}

void CPosition::UpdateMeasurementControls(bool byUser)
{
    const bool standalone = m_modes[0]->isChecked();
    m_meas[0]->setEnabled(standalone && m_measReported);
    for (size_t i = 1; i < m_meas.size(); ++i) {
        m_meas[i]->setEnabled(standalone && m_pcodeUsable);
    }
    m_iono->setEnabled(standalone && m_ionoReported);
    m_tropo->setEnabled(standalone && m_tropoReported);
    if (byUser) {
        MarkChanged();
    }
}

void CPosition::UpdateRaimControls(bool byUser)
{
    // An alarm setting the receiver did not report stays disabled whatever RAIM shows.
    const bool raim = m_raim->isChecked();
    m_alarm->setEnabled(raim && m_alarmReported);
    m_alarmLabel->setEnabled(raim && m_alarmReported);
    const bool manual = raim && m_limitReported && ComboText(m_alarm, true) == AlarmLabels().front();
    m_alarmLimit->setEnabled(manual);
    m_alarmLimitLabel->setEnabled(manual);
    if (byUser) {
        MarkChanged();
    }
}

void CPosition::QuerySettings()
{
    CParamBatch batch;
    if (!batch.Run(kQuery)) {
        QueryFailed(batch.FailureText());
        return;
    }
    auto r = [&batch](int i) { return batch.Value(i); };

    LoadModeAndSolutions(r(0), {r(2), r(13), r(14), r(15)}, m_modes, m_solutions);
    if (!r(1)) {
        // No RTK engine.
        m_modes[3]->setEnabled(false);
        m_modes[4]->setEnabled(false);
    }
    LoadEditPlain(r(3), m_elevation, true);
    LoadEditPlain(r(4), m_pdop, true);
    LoadCheckList(r(5), m_systems);
    LoadCheckYes(r(6), m_raim);
    LoadComboValue(r(7), AlarmValues(), m_alarm, AlarmLabels(), m_alarmLabel);
    LoadEdit(r(8), m_alarmLimit, m_alarmLimitLabel, false);
    m_alarmReported = m_alarm->isEnabled();
    m_limitReported = r(8) != nullptr;
    UpdateRaimControls(false);
    LoadRadio(r(9), m_meas, MeasValues());
    m_measReported = r(9) != nullptr;
    m_pcodeUsable = r(10) && *r(10) != kOff;
    const bool datum = FillDatumCombo(m_datum, true);
    m_datumLabel->setEnabled(datum);
    m_datumButton->setEnabled(datum);
    m_ionoReported = LoadCheckReported(r(11), m_iono);
    m_tropoReported = LoadCheckReported(r(12), m_tropo);
    for (CPosSatPage* page : m_satPages) {
        if (const QString error = page->Query(); !error.isEmpty()) {
            QueryFailed(error);
            return;
        }
    }
    UpdateMasters();
    UpdateMeasurementControls(false);
}

QString CPosition::ApplySettings()
{
    // The mode is sent first: whatever follows, the other page must show the mode the receiver has now, or its
    // next apply would send the old one back.
    const QString error = ApplyPositioning();
    RequeryLinkedPage(g_roverPage);
    return error;
}

QString CPosition::ApplyPositioning()
{
    if (QString e =
            ApplyModeAndSolutions(m_modes, m_solutions,
                                  {"Can't set positioning mode", "Can't set Standalone solution mode",
                                   "Can't set Code Differential solution mode", "Can't set Phase Float solution mode",
                                   "Can't set Phase Fixed solution mode"});
        !e.isEmpty()) {
        return e;
    }
    if (m_elevation->isEnabled() && !IsNumberText(m_elevation->text())) {
        m_elevation->setFocus(Qt::OtherFocusReason);
        return QStringLiteral("Invalid Positioning Elevation mask");
    }
    if (!SetEditParam(QStringLiteral("/par/pos/elm"), m_elevation, false)) {
        return QStringLiteral("Can't set Positioning Elevation mask");
    }
    if (m_pdop->isEnabled() && !IsNumberText(m_pdop->text())) {
        m_pdop->setFocus(Qt::OtherFocusReason);
        return QStringLiteral("Invalid Positioning PDOP mask");
    }
    if (!SetEditParam(QStringLiteral("/par/pos/pdop"), m_pdop, false)) {
        return QStringLiteral("Can't set Positioning PDOP mask");
    }
    if (!SetCheckListParam(QStringLiteral("/par/pos/sys"), m_systems, kOn, kOff)) {
        return QStringLiteral("Can't set Positioning System");
    }
    if (m_raim->isChecked()) {
        if (!SetComboParam(QStringLiteral("/par/pos/raim/al/mode"), AlarmValues(), m_alarm, AlarmLabels())) {
            return QStringLiteral("Can't set RAIM Alarm mode");
        }
        if (!SetEditParam(QStringLiteral("/par/pos/raim/al/manual"), m_alarmLimit, false)) {
            return QStringLiteral("Can't set RAIM Alarm Limit mode");
        }
    }
    if (!SetCheckParam(QStringLiteral("/par/pos/raim/mode"), m_raim, kOn, kOff)) {
        return QStringLiteral("Can't set RAIM Enabled mode");
    }
    if (!SetRadioParam(QStringLiteral("/par/pos/meas"), m_meas, MeasValues())) {
        return QStringLiteral("Can't set Used Measurements mode");
    }
    if (!SetComboTextParam(QStringLiteral("/par/pos/datum/cur"), m_datum)) {
        return QStringLiteral("Can't set current datum for position computation");
    }
    if (!SetCheckParam(QStringLiteral("/par/pos/iono"), m_iono, kOn, kOff)) {
        return QStringLiteral("Can't set Ionospheric errors correction mode");
    }
    if (!SetCheckParam(QStringLiteral("/par/pos/tropo"), m_tropo, kOn, kOff)) {
        return QStringLiteral("Can't set Tropospheric errors correction mode");
    }
    // GPS, GLONASS, SBAS; the Galileo lists are not sent.
    for (int i : {0, 1, 3}) {
        const QString error = m_satPages[size_t(i)]->Apply();
        if (!error.isEmpty()) {
            if (i != 0) {
                ShowSatPage(i);
            }
            return error;
        }
    }
    return QString();
}

void CPosition::WriteScript()
{
    WriteModeAndSolutions(m_modes, m_solutions);
    WriteEditParam(QStringLiteral("/par/pos/elm"), m_elevation, false);
    WriteEditParam(QStringLiteral("/par/pos/pdop"), m_pdop, false);
    WriteCheckListParam(QStringLiteral("/par/pos/sys"), m_systems, kOn, kOff, false);
    if (m_raim->isChecked()) {
        WriteComboParam(QStringLiteral("/par/pos/raim/al/mode"), AlarmValues(), m_alarm, AlarmLabels());
        WriteEditParam(QStringLiteral("/par/pos/raim/al/manual"), m_alarmLimit, false);
    }
    WriteCheckParam(QStringLiteral("/par/pos/raim/mode"), m_raim, kOn, kOff);
    WriteRadioParam(QStringLiteral("/par/pos/sp/meas"), m_meas, MeasValues());
    // A datum the receiver did not report is left out: an empty value would stop the script when it runs.
    if (m_datum->isEnabled() && m_datum->currentIndex() >= 0) {
        WriteSetLine(QStringLiteral("/par/pos/datum/cur"), m_datum->currentText());
    }
    WriteCurrentParam(QStringLiteral("/par/pos/datum/P90/par"));
    WriteCurrentParam(QStringLiteral("/par/pos/datum/USER"));
    WriteCheckParam(QStringLiteral("/par/pos/sp/iono"), m_iono, kOn, kOff);
    WriteCheckParam(QStringLiteral("/par/pos/sp/tropo"), m_tropo, kOn, kOff);
    for (CPosSatPage* page : m_satPages) {
        page->WriteScript();
    }
}

void CPosition::OpenDatumParameters()
{
    if (RunDatumDialog(m_datum, m_datumRunner, this)) {
        MarkChanged();
    }
}
