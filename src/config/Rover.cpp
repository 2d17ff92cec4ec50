#include "config/Rover.h"

#include "config/ConfigGlobals.h"
#include "config/PageParts.h"
#include "config/ScriptWriter.h"
#include "config/SpinEdit.h"
#include "link/ParamBatch.h"
#include "link/ReceiverHolder.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

// The twelve ports' input modes come first, in the order of the port source table after "Any". The corrections
// usage is printed five times: replies are read by their position in the batch, and later ones are counted from it.
const QString kQuery = QStringLiteral(
    "@scr stoperrors off\nprint,/par/dev/ser/a/imode\nprint,/par/dev/ser/b/imode\nprint,/par/dev/ser/c/imode\n"
    "print,/par/dev/ser/d/imode\nprint,/par/dev/tcp/a/imode\nprint,/par/dev/tcp/b/imode\n"
    "print,/par/dev/tcp/c/imode\nprint,/par/dev/tcp/d/imode\nprint,/par/dev/tcp/e/imode\n"
    "print,/par/dev/usb/a/imode\nprint,/par/dev/blt/a/imode\nprint,/par/dev/modem/a/imode\n"
    "print,/par/pos/mode/cur\nprint,/par/pos/mode/sp\nprint,/par/pos/pd/reset\nprint,/par/pos/pd/mode\n"
    "print,/par/pos/pd/dyn\nprint,/par/pos/pd/aflevel\nprint,/par/pos/pd/meas/ca\nprint,/par/pos/pd/meas/p1\n"
    "print,/par/pos/pd/meas/p2\nprint,/par/pos/pd/ref/keep\nprint,/par/pos/pd/period\nprint,/par/pos/pd/port\n"
    "print,/par/cmr/rover/glo/type\nprint,/par/pos/cd/src/mode\nprint,/par/pos/cd/src/mode\n"
    "print,/par/pos/cd/src/mode\nprint,/par/pos/cd/src/mode\nprint,/par/pos/cd/src/mode\n"
    "print,/par/pos/cd/maxage\nprint,/par/pos/cd/iono/maxage\nprint,/par/pos/cd/ionofree\n"
    "print,/par/pos/cd/port\nprint,/par/pos/mode/cd\nprint,/par/pos/mode/pf\nprint,/par/pos/mode/pd\n"
    "print,/par/pos/cd/src/usersrc\n@end\n");

const QString kOn = QStringLiteral("on");
const QString kOff = QStringLiteral("off");
const QString kStatic = QStringLiteral("0.0");
const QString kKinematic = QStringLiteral("1.0");
constexpr int kGloTypeLow = 3;
constexpr int kGloTypeHigh = 7;

void EnableAll(const RadioList& radios, bool enable)
{
    for (QRadioButton* radio : radios) {
        radio->setEnabled(enable);
    }
}

}  // namespace

CRover::CRover(QWidget* parent) : CConfigPage(parent)
{
    BuildControls();
    g_roverPage = this;
}

CRover::~CRover()
{
    if (g_roverPage == this) {
        g_roverPage = nullptr;
    }
}

void CRover::BuildControls()
{
    auto* grid = AddPageContent<QGridLayout>(this);
    BuildModes(grid);
    BuildCorrections(grid);
    BuildRtk(grid);
    BuildMeasurements(grid);
    BuildCmr(grid);
    grid->setRowStretch(5, 1);
}

// The positioning mode and the solutions it may use.
void CRover::BuildModes(QGridLayout* grid)
{
    QWidget* content = grid->parentWidget();
    auto* modeBox = new QGroupBox(QStringLiteral("Positioning Mode"), content);
    m_modes = RadioGroup(modeBox, {"Standalone", "DGPS(Code Diff.)", "WD (SBAS Diff.)", "RTK Float", "RTK Fixed"},
                         {"modeSp", "modeCd", "modeWd", "modePf", "modePd"}, true);
    QGroupBox* solutionBox = MakeSolutionBox(content, &m_solutions);
    for (QCheckBox* box : m_solutions) {
        connect(box, &QCheckBox::clicked, this, &CRover::MarkChanged);
    }
    grid->addWidget(modeBox, 0, 0);
    grid->addWidget(solutionBox, 0, 1);
}

// The code differential corrections: which station, how old, from where.
void CRover::BuildCorrections(QGridLayout* grid)
{
    QWidget* content = grid->parentWidget();
    auto* usageBox = new QGroupBox(QStringLiteral("Corrections Usage"), content);
    m_usage = RadioGroup(usageBox, {"User", "Best", "Nearest", "Any"},
                         {"usageUser", "usageBest", "usageNearest", "usageAny"}, true);
    m_stationIdLabel = Named(new QLabel(QStringLiteral("Station ID:"), usageBox), "stationIdLabel");
    m_stationId = Named(new QLineEdit(usageBox), "stationId");
    usageBox->layout()->addWidget(m_stationIdLabel);
    usageBox->layout()->addWidget(m_stationId);
    connect(m_stationId, &QLineEdit::textEdited, this, &CRover::MarkChanged);
    auto* dgpsBox = new QGroupBox(QStringLiteral("DGPS Parameters"), content);
    auto* dgps = new QGridLayout(dgpsBox);
    m_cdMaxAgeLabel = Named(new QLabel(QStringLiteral("CD Corrections\nmax.age(s):"), dgpsBox), "cdMaxAgeLabel");
    m_cdMaxAge = Named(new QLineEdit(dgpsBox), "cdMaxAge");
    m_ionoMaxAgeLabel = Named(new QLabel(QStringLiteral("Iono Corrections\nmax.age(s):"), dgpsBox), "ionoMaxAgeLabel");
    m_ionoMaxAge = Named(new QLineEdit(dgpsBox), "ionoMaxAge");
    m_useIono = Named(new QCheckBox(QStringLiteral("Use Iono Corrections"), dgpsBox), "useIono");
    m_dgpsSourceLabel = Named(new QLabel(QStringLiteral("Source:"), dgpsBox), "dgpsSourceLabel");
    m_dgpsSource = Named(new QComboBox(dgpsBox), "dgpsSource");
    dgps->addWidget(m_cdMaxAgeLabel, 0, 0);
    dgps->addWidget(m_cdMaxAge, 0, 1);
    dgps->addWidget(m_ionoMaxAgeLabel, 1, 0);
    dgps->addWidget(m_ionoMaxAge, 1, 1);
    dgps->addWidget(m_useIono, 2, 0, 1, 2);
    dgps->addWidget(m_dgpsSourceLabel, 3, 0);
    dgps->addWidget(m_dgpsSource, 3, 1);
    connect(m_cdMaxAge, &QLineEdit::textEdited, this, &CRover::MarkChanged);
    connect(m_ionoMaxAge, &QLineEdit::textEdited, this, &CRover::MarkChanged);
    connect(m_useIono, &QCheckBox::clicked, this, &CRover::MarkChanged);
    connect(m_dgpsSource, &QComboBox::activated, this, &CRover::MarkChanged);
    grid->addWidget(usageBox, 1, 0);
    grid->addWidget(dgpsBox, 1, 1);
}

// The RTK mode, dynamics and ambiguity fixing level.
void CRover::BuildRtk(QGridLayout* grid)
{
    QWidget* content = grid->parentWidget();
    auto* rtkModeBox = new QGroupBox(QStringLiteral("RTK Mode"), content);
    m_rtkMode = RadioGroup(rtkModeBox, {"Extrapolation", "Delay"}, {"rtkExtrap", "rtkDelay"}, true);
    auto* dynamicsBox = new QGroupBox(QStringLiteral("Dynamics"), content);
    m_dynamics = RadioGroup(dynamicsBox, {"Static", "Kinematic"}, {"dynStatic", "dynKinematic"}, false);
    auto* levelBox = new QGroupBox(QStringLiteral("Ambiguity fix.lev."), content);
    m_fixLevel = RadioGroup(levelBox, {"Low", "Medium", "High"}, {"fixLow", "fixMedium", "fixHigh"}, false);
    grid->addWidget(rtkModeBox, 2, 0);
    grid->addWidget(dynamicsBox, 2, 1);
    grid->addWidget(levelBox, 3, 0);
}

// The RTK measurements used, the base corrections' period and source.
void CRover::BuildMeasurements(QGridLayout* grid)
{
    QWidget* content = grid->parentWidget();
    auto* measBox = new QGroupBox(QStringLiteral("Measurements Used"), content);
    auto* meas = new QGridLayout(measBox);
    const char* measNames[] = {"rtkCa", "rtkP1", "rtkP2"};
    const QStringList measTexts{"CA/L1", "P/L1", "P/L2"};
    for (size_t i = 0; i < m_rtkMeas.size(); ++i) {
        m_rtkMeas[i] = Named(new QCheckBox(measTexts[int(i)], measBox), measNames[i]);
        meas->addWidget(m_rtkMeas[i], int(i), 0, 1, 2);
        connect(m_rtkMeas[i], &QCheckBox::clicked, this, &CRover::MarkChanged);
    }
    m_periodLabel = Named(new QLabel(QStringLiteral("Base Corrections\nperiod(s):"), measBox), "periodLabel");
    m_period = Named(new QLineEdit(measBox), "period");
    m_keepRef = Named(new QCheckBox(QStringLiteral("Use old ref. coordinates"), measBox), "keepRef");
    m_rtkSourceLabel = Named(new QLabel(QStringLiteral("Source:"), measBox), "rtkSourceLabel");
    m_rtkSource = Named(new QComboBox(measBox), "rtkSource");
    meas->addWidget(m_periodLabel, 3, 0);
    meas->addWidget(m_period, 3, 1);
    meas->addWidget(m_keepRef, 4, 0, 1, 2);
    meas->addWidget(m_rtkSourceLabel, 5, 0);
    meas->addWidget(m_rtkSource, 5, 1);
    connect(m_period, &QLineEdit::textEdited, this, &CRover::MarkChanged);
    connect(m_keepRef, &QCheckBox::clicked, this, &CRover::MarkChanged);
    connect(m_rtkSource, &QComboBox::activated, this, &CRover::MarkChanged);
    grid->addWidget(measBox, 3, 1);
}

// The CMR GLONASS message type and the RTK engine's reset.
void CRover::BuildCmr(QGridLayout* grid)
{
    QWidget* content = grid->parentWidget();
    auto* cmrBox = new QGroupBox(QStringLiteral("CMR Settings"), content);
    auto* cmr = new QHBoxLayout(cmrBox);
    m_gloTypeLabel = Named(new QLabel(QStringLiteral("GLONASS message:"), cmrBox), "gloTypeLabel");
    m_gloType = Named(new QLineEdit(cmrBox), "gloType");
    m_gloSpin = Named(new CSpinButtons(m_gloType, cmrBox), "gloSpin");
    m_gloSpin->SetRange(kGloTypeLow, kGloTypeHigh);
    cmr->addWidget(m_gloTypeLabel);
    cmr->addWidget(m_gloType);
    cmr->addWidget(m_gloSpin);
    connect(m_gloType, &QLineEdit::textEdited, this, &CRover::MarkChanged);
    connect(m_gloSpin, &CSpinButtons::Stepped, this, &CRover::MarkChanged);
    m_reset = Named(new QPushButton(QStringLiteral("Reset RTK Engine"), content), "resetRtk");
    m_reset->setAutoDefault(false);
    connect(m_reset, &QPushButton::clicked, this, &CRover::ResetRtkEngine);
    grid->addWidget(cmrBox, 4, 0);
    grid->addWidget(m_reset, 4, 1);
}

RadioList CRover::RadioGroup(QGroupBox* box, const QStringList& texts, const std::vector<const char*>& names,
                             bool updatesMode)
{
    if (updatesMode) {
        return AddRadioButtons(box, texts, names, this, [this] { UpdateMode(true); });
    }
    return AddRadioButtons(box, texts, names, this, [this] { MarkChanged(); });
}

bool CRover::IsRtk() const
{
    return m_has.rtk && (m_modes[3]->isChecked() || m_modes[4]->isChecked());
}

bool CRover::IsDgps() const
{
    return m_modes[1]->isChecked();
}

QString CRover::DynamicsValue() const
{
    return m_dynamics[0]->isChecked() ? kStatic : kKinematic;
}

void CRover::FillSources(const std::array<bool, 12>& ports)
{
    const QStringList labels = PortSourceLabels();
    for (QComboBox* combo : {m_dgpsSource, m_rtkSource}) {
        combo->clear();
        combo->addItem(labels[0]);
        for (size_t i = 0; i < ports.size(); ++i) {
            if (ports[i]) {
                combo->addItem(labels[int(i) + 1]);
            }
        }
        combo->setCurrentIndex(-1);
    }
}

void CRover::UpdateMode(bool byUser)
{
    const bool rtk = IsRtk();
    EnableAll(m_rtkMode, rtk && m_has.rtkMode);
    EnableAll(m_dynamics, rtk && m_has.dynamics);
    EnableAll(m_fixLevel, rtk && m_has.fixLevel);
    m_keepRef->setEnabled(rtk && m_has.keepRef);
    m_rtkSource->setEnabled(rtk && m_has.rtkSource);
    m_rtkSourceLabel->setEnabled(rtk && m_has.rtkSource);
    m_reset->setEnabled(rtk);
    m_periodLabel->setEnabled(rtk && m_has.period);
    m_period->setEnabled(rtk && m_has.period && !m_rtkMode[0]->isChecked());
    for (size_t i = 0; i < m_rtkMeas.size(); ++i) {
        m_rtkMeas[i]->setEnabled(rtk && m_has.meas[i]);
    }
    m_gloType->setEnabled(rtk && m_has.gloType);
    m_gloTypeLabel->setEnabled(rtk && m_has.gloType);
    m_gloSpin->setEnabled(rtk && m_has.gloType);

    const bool dgps = IsDgps();
    m_cdMaxAge->setEnabled(dgps && m_has.cdMaxAge);
    m_cdMaxAgeLabel->setEnabled(dgps && m_has.cdMaxAge);
    m_ionoMaxAge->setEnabled(dgps && m_has.ionoMaxAge);
    m_ionoMaxAgeLabel->setEnabled(dgps && m_has.ionoMaxAge);
    EnableAll(m_usage, dgps && m_has.usage);
    m_useIono->setEnabled(dgps && m_has.useIono);
    m_dgpsSource->setEnabled(dgps && m_has.dgpsSource);
    m_dgpsSourceLabel->setEnabled(dgps && m_has.dgpsSource);
    const bool user = dgps && m_has.stationId && m_usage[0]->isChecked();
    m_stationId->setEnabled(user);
    m_stationIdLabel->setEnabled(user);
    if (byUser) {
        MarkChanged();
    }
}

void CRover::QuerySettings()
{
    CParamBatch batch;
    if (!batch.Run(kQuery)) {
        QueryFailed(batch.FailureText());
        return;
    }
    auto r = [&batch](int i) { return batch.Value(i); };

    std::array<bool, 12> ports{};
    for (size_t i = 0; i < ports.size(); ++i) {
        ports[i] = r(int(i)) != nullptr;
    }
    FillSources(ports);

    LoadModeAndSolutions(r(12), {r(13), r(34), r(35), r(36)}, m_modes, m_solutions);
    LoadEdit(r(37), m_stationId, m_stationIdLabel, true);

    m_has = Reported{};
    m_has.stationId = r(37) != nullptr;
    m_has.rtk = r(14) != nullptr;
    if (!m_has.rtk) {
        m_modes[3]->setEnabled(false);
        m_modes[4]->setEnabled(false);
    } else {
        m_has.rtkMode = LoadRadioReported(r(15), m_rtkMode, RtkModeValues());
        // Dynamics that are no number can't be shown as either radio.
        float dynamics = 0;
        m_has.dynamics = r(16) && IsNumberText(*r(16));
        if (m_has.dynamics) {
            dynamics = r(16)->trimmed().toFloat();
        }
        SetRadioChecked(m_dynamics[0], m_has.dynamics && dynamics <= 0.5f);
        SetRadioChecked(m_dynamics[1], m_has.dynamics && dynamics > 0.5f);
        m_has.fixLevel = LoadRadioReported(r(17), m_fixLevel, FixLevelValues());
        for (size_t i = 0; i < m_rtkMeas.size(); ++i) {
            m_has.meas[i] = LoadCheckReported(r(18 + int(i)), m_rtkMeas[i]);
        }
        m_has.keepRef = LoadCheckReported(r(21), m_keepRef);
        m_has.period = LoadEditReported(r(22), m_period, m_periodLabel, false);
        m_has.rtkSource =
            LoadComboReported(r(23), PortSourceValues(), m_rtkSource, PortSourceLabels(), m_rtkSourceLabel);
        m_has.gloType = LoadEditReported(r(24), m_gloType, m_gloTypeLabel, false);
    }

    m_has.usage = LoadRadioReported(r(25), m_usage, UsageValues());
    m_has.cdMaxAge = LoadEditReported(r(30), m_cdMaxAge, m_cdMaxAgeLabel, false);
    m_has.ionoMaxAge = LoadEditReported(r(31), m_ionoMaxAge, m_ionoMaxAgeLabel, false);
    m_has.useIono = LoadCheckReported(r(32), m_useIono);
    m_has.dgpsSource =
        LoadComboReported(r(33), PortSourceValues(), m_dgpsSource, PortSourceLabels(), m_dgpsSourceLabel);

    UpdateMode(false);
}

QString CRover::ApplySettings()
{
    // The mode is sent first: whatever follows, the other page must show the mode the receiver has now, or its
    // next apply would send the old one back.
    const QString error = ApplyRover();
    RequeryLinkedPage(g_positionPage);
    return error;
}

QString CRover::ApplyRover()
{
    if (QString e = ApplyModeAndSolutions(m_modes, m_solutions,
                                          {"Can't set rover positioning mode", "Can't set Standalone solution mode",
                                           "Can't set Code Diff. solution mode", "Can't set Rover Float solution mode",
                                           "Can't set Rover Fixed solution mode"});
        !e.isEmpty()) {
        return e;
    }
    if (IsDgps()) {
        if (!SetRadioParam(QStringLiteral("/par/pos/cd/src/mode"), m_usage, UsageValues())) {
            return QStringLiteral("Can't set Mix differential corrections/positioning usage");
        }
        if (!SetEditParam(QStringLiteral("/par/pos/cd/maxage"), m_cdMaxAge, false)) {
            return QStringLiteral("Can't send RTCM max. age");
        }
        if (!SetEditParam(QStringLiteral("/par/pos/cd/iono/maxage"), m_ionoMaxAge, false)) {
            return QStringLiteral("Can't send Iono max. age");
        }
        if (!SetCheckParam(QStringLiteral("/par/pos/cd/ionofree"), m_useIono, kOn, kOff)) {
            return QStringLiteral("Can't set iono correction usage");
        }
        if (!SetComboParam(QStringLiteral("/par/pos/cd/port"), PortSourceValues(), m_dgpsSource, PortSourceLabels())) {
            return QStringLiteral("Can't set DGPS port source");
        }
        if (m_usage[0]->isChecked() && !SetEditParam(QStringLiteral("/par/pos/cd/src/usersrc"), m_stationId, false)) {
            return QStringLiteral("Can't set Station ID");
        }
    }
    if (m_modes[3]->isChecked() || m_modes[4]->isChecked()) {
        if (!SetRadioParam(QStringLiteral("/par/pos/pd/mode"), m_rtkMode, RtkModeValues())) {
            return QStringLiteral("Can't set RTK mode");
        }
        if (m_dynamics[0]->isEnabled() && !SetParam(QStringLiteral("/par/pos/pd/dyn"), DynamicsValue())) {
            return QStringLiteral("Can't set static/dynamic RTK");
        }
        if (!SetRadioParam(QStringLiteral("/par/pos/pd/aflevel"), m_fixLevel, FixLevelValues())) {
            return QStringLiteral("Can't set ambiguity fixing level");
        }
        const char* measPaths[] = {"/par/pos/pd/meas/ca", "/par/pos/pd/meas/p1", "/par/pos/pd/meas/p2"};
        const char* measErrors[] = {"Can't set CA measurements usage", "Can't set P1 measurements usage",
                                    "Can't set P2 measurements usage"};
        for (size_t i = 0; i < m_rtkMeas.size(); ++i) {
            if (!SetCheckParam(QLatin1String(measPaths[i]), m_rtkMeas[i], kOn, kOff)) {
                return QLatin1String(measErrors[i]);
            }
        }
        if (!SetEditParam(QStringLiteral("/par/pos/pd/period"), m_period, false)) {
            return QStringLiteral("Can't set Correction update interval");
        }
        if (!SetCheckParam(QStringLiteral("/par/pos/pd/ref/keep"), m_keepRef, kOn, kOff)) {
            return QStringLiteral("Can't set Usage old Ref. Coordinates mode");
        }
        if (!SetComboParam(QStringLiteral("/par/pos/pd/port"), PortSourceValues(), m_rtkSource, PortSourceLabels())) {
            return QStringLiteral("Can't set Phase differential port source");
        }
        if (!SetEditParam(QStringLiteral("/par/cmr/rover/glo/type"), m_gloType, false)) {
            return QStringLiteral("Can't set Rover CMR GLONASS message type");
        }
    }
    return QString();
}

void CRover::WriteScript()
{
    WriteModeAndSolutions(m_modes, m_solutions);
    if (m_modes[3]->isChecked() || m_modes[4]->isChecked()) {
        WriteRadioParam(QStringLiteral("/par/pos/pd/mode"), m_rtkMode, RtkModeValues());
        if (m_dynamics[0]->isEnabled()) {
            WriteSetLine(QStringLiteral("/par/pos/pd/dyn"), DynamicsValue());
        }
        WriteRadioParam(QStringLiteral("/par/pos/pd/aflevel"), m_fixLevel, FixLevelValues());
        WriteCheckParam(QStringLiteral("/par/pos/pd/meas/ca"), m_rtkMeas[0], kOn, kOff);
        WriteCheckParam(QStringLiteral("/par/pos/pd/meas/p1"), m_rtkMeas[1], kOn, kOff);
        WriteCheckParam(QStringLiteral("/par/pos/pd/meas/p2"), m_rtkMeas[2], kOn, kOff);
        WriteEditParam(QStringLiteral("/par/pos/pd/period"), m_period, false);
        WriteCheckParam(QStringLiteral("/par/pos/pd/ref/keep"), m_keepRef, kOn, kOff);
        WriteComboParam(QStringLiteral("/par/pos/pd/port"), PortSourceValues(), m_rtkSource, PortSourceLabels());
        WriteEditParam(QStringLiteral("/par/cmr/rover/glo/type"), m_gloType, false);
    }
    if (IsDgps()) {
        WriteRadioParam(QStringLiteral("/par/pos/cd/src/mode"), m_usage, UsageValues());
        WriteEditParam(QStringLiteral("/par/pos/cd/maxage"), m_cdMaxAge, false);
        WriteEditParam(QStringLiteral("/par/pos/cd/iono/maxage"), m_ionoMaxAge, false);
        WriteCheckParam(QStringLiteral("/par/pos/cd/ionofree"), m_useIono, kOn, kOff);
        WriteComboParam(QStringLiteral("/par/pos/cd/port"), PortSourceValues(), m_dgpsSource, PortSourceLabels());
        if (m_usage[0]->isChecked()) {
            WriteEditParam(QStringLiteral("/par/pos/cd/src/usersrc"), m_stationId, false);
        }
    }
}

void CRover::ResetRtkEngine()
{
    const bool accepted = CReceiverHolder::Shared().Send(QStringLiteral("set,/par/pos/pd/reset,on"));
    if (g_configSheet) {
        g_configSheet->SetStatusText(accepted ? QString() : QStringLiteral("Can't reset RTK engine"));
    }
}
