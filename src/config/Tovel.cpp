#include "config/Tovel.h"

#include "config/PageParts.h"
#include "config/ScriptWriter.h"
#include "link/ParamBatch.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

const QString kQuery = QStringLiteral(
    "@scr stoperrors off\nprint,/par/log/sc/period\nprint,/par/out/elm/cur/log\nprint,/par/cmd/create/prefix\n"
    "print,/par/button/file\nprint,/par/button/rot\nprint,/par/log/rot/sc/period\nprint,/par/log/rot/sc/phase\n"
    "print,/par/log/rot/sc/count\nprint,/par/log/rot/count\nprint,/par/log/rot/rmold\nprint,/par/button/action\n"
    "print,/par/button/dyn\nprint,/par/button/auto\n@end\n");

const QString kOn = QStringLiteral("on");
const QString kOff = QStringLiteral("off");
const QStringList kRotValues{"off", "on"};
const QStringList kActionValues{"led", "dyn"};
const QStringList kDynValues{"static", "dynamic"};
const QStringList kAutoValues{"off", "on", "always"};
const char* const kAfrmPaths[] = {"/par/log/rot/sc/period", "/par/log/rot/sc/phase", "/par/log/rot/sc/count"};

// Enabled when the edit holds text that is not a complete number (empty text included).
bool FailsNumberTest(QLineEdit* edit)
{
    if (edit->isEnabled() && !IsNumberText(edit->text())) {
        edit->setFocus(Qt::OtherFocusReason);
        return true;
    }
    return false;
}

}  // namespace

CTovel::CTovel(QWidget* parent) : CConfigPage(parent)
{
    BuildControls();
}

void CTovel::BuildControls()
{
    auto* grid = AddPageContent<QGridLayout>(this);
    QWidget* content = grid->parentWidget();
    auto mark = [this] { MarkChanged(); };
    auto rule = [this] { UpdateRules(true); };
    auto radios = [&](const QString& title, const QStringList& texts, const std::vector<const char*>& names,
                      bool runsRule) {
        auto* box = new QGroupBox(title, content);
        const RadioList list =
            runsRule ? AddRadioButtons(box, texts, names, this, rule) : AddRadioButtons(box, texts, names, this, mark);
        grid->addWidget(box, grid->rowCount(), 0, 1, 2);
        return list;
    };

    m_interval = AddEditRow(grid, QStringLiteral("Rec. interval(s):"), "recInterval", &m_labels[0]);
    m_elevation = AddEditRow(grid, QStringLiteral("Elv.mask for Log file(d):"), "logElevation", &m_labels[1]);
    m_prefix = AddEditRow(grid, QStringLiteral("File name prefix:"), "filePrefix", &m_labels[2]);
    m_file = AddEditRow(grid, QStringLiteral("Always append to file:"), "appendFile", &m_labels[3]);
    for (QLineEdit* edit : {m_interval, m_elevation, m_prefix, m_file}) {
        connect(edit, &QLineEdit::textEdited, this, mark);
    }
    m_rotation = radios(QStringLiteral("Files Creation mode"), {"Log file", "AFRM"}, {"logFile", "afrm"}, true);
    auto* afrmBox = new QGroupBox(QStringLiteral("AFRM"), content);
    auto* afrm = new QGridLayout(afrmBox);
    const char* afrmNames[] = {"afrmPeriod", "afrmPhase", "afrmTotal"};
    const QStringList afrmTexts{"Period(s):", "Phase(s):", "Files(total):"};
    for (size_t i = 0; i < m_afrm.size(); ++i) {
        m_afrm[i] = AddEditRow(afrm, afrmTexts[int(i)], afrmNames[i], &m_afrmLabels[i]);
        connect(m_afrm[i], &QLineEdit::textEdited, this, mark);
    }
    m_remain = AddEditRow(afrm, QStringLiteral("Files(remain):"), "afrmRemain", &m_remainLabel);
    MakeDisplay(m_remain);
    m_remain->setEnabled(false);
    m_removeOld = Named(new QCheckBox(QStringLiteral("Automatically remove old file"), afrmBox), "removeOld");
    afrm->addWidget(m_removeOld, afrm->rowCount(), 0, 1, 2);
    connect(m_removeOld, &QCheckBox::clicked, this, mark);
    grid->addWidget(afrmBox, grid->rowCount(), 0, 1, 2);
    m_action = radios(QStringLiteral("FN key mode"), {"LED blink", "Occupation"}, {"ledBlink", "occupation"}, true);
    m_dynamic = radios(QStringLiteral("Initial data collection dynamic mode"), {"Static", "Kinematic"},
                       {"static", "kinematic"}, false);
    m_auto = radios(QStringLiteral("Data recording auto-start"), {"Off", "On", "Always"},
                    {"autoOff", "autoOn", "autoAlways"}, false);
    grid->setRowStretch(grid->rowCount(), 1);
}

void CTovel::UpdateRules(bool byUser)
{
    const bool afrm = m_rotation[1]->isChecked();
    for (size_t i = 0; i < m_afrm.size(); ++i) {
        m_afrm[i]->setEnabled(afrm && m_afrmReported[i]);
        m_afrmLabels[i]->setEnabled(afrm && m_afrmReported[i]);
    }
    // A reading stays readable whatever the mode: it tells what the receiver holds.
    m_remain->setEnabled(m_remainReported);
    m_remainLabel->setEnabled(m_remainReported);
    m_removeOld->setEnabled(afrm && m_removeOldReported);
    const bool occupation = m_action[1]->isChecked();
    for (QRadioButton* radio : m_dynamic) {
        radio->setEnabled(occupation && m_dynamicReported);
    }
    if (byUser) {
        MarkChanged();
    }
}

void CTovel::QuerySettings()
{
    CParamBatch batch;
    if (!batch.Run(kQuery)) {
        QueryFailed(batch.FailureText());
        return;
    }
    auto r = [&batch](int i) { return batch.Value(i); };
    const std::array<QLineEdit*, 4> edits{m_interval, m_elevation, m_prefix, m_file};
    for (size_t i = 0; i < edits.size(); ++i) {
        LoadEdit(r(int(i)), edits[i], m_labels[i], true);
    }
    LoadRadio(r(4), m_rotation, kRotValues);
    for (size_t i = 0; i < m_afrm.size(); ++i) {
        m_afrmReported[i] = LoadEditReported(r(5 + int(i)), m_afrm[i], m_afrmLabels[i], false);
    }
    m_remainReported = LoadEditReported(r(8), m_remain, m_remainLabel, true);
    m_removeOldReported = LoadCheckReported(r(9), m_removeOld);
    LoadRadio(r(10), m_action, kActionValues);
    m_dynamicReported = LoadRadioReported(r(11), m_dynamic, kDynValues);
    LoadRadio(r(12), m_auto, kAutoValues);
    UpdateRules(false);
}

QString CTovel::ApplySettings()
{
    if (FailsNumberTest(m_interval)) {
        return QStringLiteral("Invalid Recording interval (Tovel) value");
    }
    if (!SetOutputPeriodParam(QStringLiteral("/par/log/sc/period"), m_interval)) {
        return QStringLiteral("Can't set recording interval for Tovel");
    }
    if (FailsNumberTest(m_elevation)) {
        return QStringLiteral("Invalid Elevation mask for Log file");
    }
    if (!SetEditParam(QStringLiteral("/par/out/elm/cur/log"), m_elevation, false)) {
        return QStringLiteral("Can't set Elevation mask for Log file");
    }
    if (!SetEditParam(QStringLiteral("/par/cmd/create/prefix"), m_prefix, true)) {
        return QStringLiteral("Can't set file name prefix for Tovel");
    }
    if (!SetEditParam(QStringLiteral("/par/button/file"), m_file, true)) {
        return QStringLiteral("Can't set file name for Tovel");
    }
    if (!SetRadioParam(QStringLiteral("/par/button/rot"), m_rotation, kRotValues)) {
        return QStringLiteral("Can't set Files Creation mode");
    }
    if (FailsNumberTest(m_afrm[0])) {
        return QStringLiteral("Invalid AFRM period");
    }
    if (!SetEditParam(QLatin1String(kAfrmPaths[0]), m_afrm[0], false)) {
        return QStringLiteral("Can't set AFRM period");
    }
    if (FailsNumberTest(m_afrm[1])) {
        return QStringLiteral("Invalid AFRM phase");
    }
    if (!SetEditParam(QLatin1String(kAfrmPaths[1]), m_afrm[1], false)) {
        return QStringLiteral("Can't set AFRM phase");
    }
    if (QString e = SendEditStep(QLatin1String(kAfrmPaths[2]), m_afrm[2], false,
                                 QStringLiteral("Can't set total number of AFRM files"));
        !e.isEmpty()) {
        return e;
    }
    if (!SetCheckParam(QStringLiteral("/par/log/rot/rmold"), m_removeOld, kOn, kOff)) {
        return QStringLiteral("Can't set 'removing old AFRM files' mode");
    }
    if (!SetRadioParam(QStringLiteral("/par/button/action"), m_action, kActionValues)) {
        return QStringLiteral("Can't set FN key mode");
    }
    if (!SetRadioParam(QStringLiteral("/par/button/dyn"), m_dynamic, kDynValues)) {
        return QStringLiteral("Can't set initial post-processing mode");
    }
    if (!SetRadioParam(QStringLiteral("/par/button/auto"), m_auto, kAutoValues)) {
        return QStringLiteral("Can't set auto-start mode");
    }
    return QString();
}

void CTovel::WriteScript()
{
    WriteEditParam(QStringLiteral("/par/log/sc/period"), m_interval, false);
    WriteEditParam(QStringLiteral("/par/out/elm/cur/log"), m_elevation, false);
    WriteEditParam(QStringLiteral("/par/cmd/create/prefix"), m_prefix, true);
    WriteEditParam(QStringLiteral("/par/button/file"), m_file, true);
    WriteRadioParam(QStringLiteral("/par/button/rot"), m_rotation, kRotValues);
    for (size_t i = 0; i < m_afrm.size(); ++i) {
        WriteEditParam(QLatin1String(kAfrmPaths[i]), m_afrm[i], false);
    }
    WriteCheckParam(QStringLiteral("/par/log/rot/rmold"), m_removeOld, kOn, kOff);
    WriteRadioParam(QStringLiteral("/par/button/action"), m_action, kActionValues);
    WriteRadioParam(QStringLiteral("/par/button/dyn"), m_dynamic, kDynValues);
    WriteRadioParam(QStringLiteral("/par/button/auto"), m_auto, kAutoValues);
}
