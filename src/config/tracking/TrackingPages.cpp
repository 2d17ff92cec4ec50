#include "config/tracking/TrackingPages.h"

#include "config/ConfigGlobals.h"
#include "config/PageParts.h"
#include "config/ScriptWriter.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QVBoxLayout>

namespace {

const QString kOn = QStringLiteral("on");
const QString kOff = QStringLiteral("off");
const QString kYes = QStringLiteral("y");
const QString kNo = QStringLiteral("n");
const QString kMpNew = QStringLiteral("mpnew");
const QString kNormal = QStringLiteral("normal");

QCheckBox* AddCheck(QWidget* page, QLayout* layout, const QString& text, const char* name)
{
    auto* box = Named(new QCheckBox(text, page), name);
    layout->addWidget(box);
    return box;
}

QString Focused(QLineEdit* edit, const QString& text)
{
    edit->setFocus(Qt::OtherFocusReason);
    return text;
}

}  // namespace

// --- Anti-Interference

CAntiInterference::CAntiInterference(const CAdvanced* advanced, QWidget* parent) : CTrackingPage(advanced, parent)
{
    auto* layout = new QVBoxLayout(this);
    m_mode = AddCheck(this, layout, QStringLiteral("Anti-jamming Mode"), "ajmMode");
    auto* bandBox = new QGroupBox(QStringLiteral("Anti-jamming Band"), this);
    auto* bands = new QVBoxLayout(bandBox);
    const char* names[] = {"bandGpsL1", "bandGpsL2", "bandGpsL5", "bandGloL1", "bandGloL2"};
    const QStringList texts{"GPS L1", "GPS L2", "GPS L5", "GLONASS L1", "GLONASS L2"};
    for (int i = 0; i < texts.size(); ++i) {
        m_bands.push_back(AddCheck(bandBox, bands, texts[i], names[i]));
    }
    layout->addWidget(bandBox);
    layout->addStretch(1);
    connect(m_mode, &QCheckBox::clicked, this, &CAntiInterference::Mark);
    for (QCheckBox* box : m_bands) {
        connect(box, &QCheckBox::clicked, this, &CAntiInterference::Mark);
    }
}

void CAntiInterference::QuerySettings()
{
    LoadCheck(Reply(0), kYes, m_mode);
    LoadCheckList(Reply(5), m_bands);
}

QString CAntiInterference::ApplySettings()
{
    if (!SetCheckParam(QStringLiteral("/par/ajm/mode"), m_mode, kYes, kNo) ||
        !SetCheckListParam(QStringLiteral("/par/ajm/band"), m_bands, kYes, kNo)) {
        return QStringLiteral("Can't set Anti-Jamming mode");
    }
    return QString();
}

void CAntiInterference::WriteScript()
{
    WriteCheckParam(QStringLiteral("/par/ajm/mode"), m_mode, kYes, kNo);
    WriteCheckListParam(QStringLiteral("/par/ajm/band"), m_bands, kYes, kNo, false);
}

// --- Multipath Reduction

CMultipath::CMultipath(const CAdvanced* advanced, QWidget* parent) : CTrackingPage(advanced, parent)
{
    auto* layout = new QVBoxLayout(this);
    m_code = AddCheck(this, layout, QStringLiteral("Code multipath reduction"), "codeMultipath");
    m_carrier = AddCheck(this, layout, QStringLiteral("Carrier multipath reduction"), "carrierMultipath");
    layout->addStretch(1);
    connect(m_code, &QCheckBox::clicked, this, &CMultipath::Mark);
    connect(m_carrier, &QCheckBox::clicked, this, &CMultipath::Mark);
}

void CMultipath::QuerySettings()
{
    LoadCheck(Reply(1), kMpNew, m_code);
    LoadCheck(Reply(2), kMpNew, m_carrier);
}

QString CMultipath::ApplySettings()
{
    if (!SetCheckParam(QStringLiteral("/par/raw/corr/ca/code"), m_code, kMpNew, kNormal)) {
        return QStringLiteral("Can't set Code multipath reduction mode");
    }
    if (!SetCheckParam(QStringLiteral("/par/raw/corr/ca/carrier"), m_carrier, kMpNew, kNormal)) {
        return QStringLiteral("Can't set Carrier multipath reduction mode");
    }
    return QString();
}

void CMultipath::WriteScript()
{
    WriteCheckParam(QStringLiteral("/par/raw/corr/ca/code"), m_code, kMpNew, kNormal);
    WriteCheckParam(QStringLiteral("/par/raw/corr/ca/carrier"), m_carrier, kMpNew, kNormal);
}

// --- Loop Mng.

CLoopManagement::CLoopManagement(const CAdvanced* advanced, QWidget* parent) : CTrackingPage(advanced, parent)
{
    auto* layout = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    layout->addLayout(grid);
    m_edits[0] = AddEditRow(grid, QStringLiteral("PLL bandwidth(Hz):"), "pllBand", &m_labels[0]);
    m_edits[1] = AddEditRow(grid, QStringLiteral("PLL order:"), "pllOrder", &m_labels[1]);
    m_edits[2] = AddEditRow(grid, QStringLiteral("C/A code guided loop bandwidth(Hz):"), "gdlBand", &m_labels[2]);
    for (QLineEdit* edit : m_edits) {
        connect(edit, &QLineEdit::textEdited, this, &CLoopManagement::Mark);
    }
    m_adaptive = AddCheck(this, layout, QStringLiteral("Enable Adaptive Guided Loops"), "adaptiveLoops");
    m_pcode = AddCheck(this, layout, QStringLiteral("Enable P/L1 and P/L2 tracking"), "pcodeTracking");
    layout->addStretch(1);
    connect(m_adaptive, &QCheckBox::clicked, this, &CLoopManagement::Mark);
    connect(m_pcode, &QCheckBox::clicked, this, &CLoopManagement::Mark);
}

void CLoopManagement::QuerySettings()
{
    const int replySlots[] = {3, 4, 6};
    for (size_t i = 0; i < m_edits.size(); ++i) {
        LoadEdit(Reply(replySlots[i]), m_edits[i], m_labels[i], true);
    }
    LoadCheckYes(Reply(7), m_adaptive);
    LoadCheckYes(Reply(8), m_pcode);
}

QString CLoopManagement::ApplySettings()
{
    // Bandwidths are read in single precision, as typed, and compared widened (so "0.1" is inside its range).
    float v = 0;
    QLineEdit* pll = m_edits[0];
    if (pll->isEnabled()) {
        if (!ReadFloat(pll, &v)) {
            return Focused(pll, QStringLiteral("Invalid value for PLL bandwidth"));
        }
        if (double(v) < 2.0 || double(v) > 50.0) {
            return Focused(pll, QStringLiteral("Value out of range (2 .. 50) for PLL bandwidth"));
        }
        if (!SetEditParam(QStringLiteral("/par/raw/pll/band"), pll, false)) {
            return QStringLiteral("Can't set PLL bandwidth value");
        }
    }
    QLineEdit* order = m_edits[1];
    if (order->isEnabled()) {
        int n = 0;
        if (!ReadInt(order, &n) || (n != 2 && n != 3)) {
            return Focused(order, QStringLiteral("Invalid value for PLL order"));
        }
        if (!SetEditParam(QStringLiteral("/par/raw/pll/order"), order, false)) {
            return QStringLiteral("Can't set PLL order value");
        }
    }
    QLineEdit* gdl = m_edits[2];
    if (gdl->isEnabled()) {
        if (!ReadFloat(gdl, &v)) {
            return Focused(gdl, QStringLiteral("Invalid value for C/A code GDL bandwidth"));
        }
        if (double(v) < 0.1 || double(v) > 50.0) {
            return Focused(gdl, QStringLiteral("Value out of range (0.1 .. 50.0) for C/A code GDL bandwidth"));
        }
        if (!SetEditParam(QStringLiteral("/par/raw/cagdl/band"), gdl, false)) {
            return QStringLiteral("Can't send value for C/A code GDL bandwidth");
        }
    }
    if (!SetCheckParam(QStringLiteral("/par/raw/gdl/adapt"), m_adaptive, kOn, kOff)) {
        return QStringLiteral("Can't enable/disable adaptive guided loops");
    }
    if (!SetCheckParam(QStringLiteral("/par/lock/pcode"), m_pcode, kOn, kOff)) {
        return QStringLiteral("Can't enable/disable P/L1 and P/L2 tracking");
    }
    // The Positioning page offers the P-code measurements only while P-code tracking is on.
    if (m_pcode->isEnabled()) {
        RequeryLinkedPage(g_positionPage);
    }
    return QString();
}

void CLoopManagement::WriteScript()
{
    WriteEditParam(QStringLiteral("/par/raw/pll/band"), m_edits[0], false);
    WriteEditParam(QStringLiteral("/par/raw/pll/order"), m_edits[1], false);
    WriteEditParam(QStringLiteral("/par/raw/cagdl/band"), m_edits[2], false);
    WriteCheckParam(QStringLiteral("/par/raw/gdl/adapt"), m_adaptive, kOn, kOff);
    WriteCheckParam(QStringLiteral("/par/lock/pcode"), m_pcode, kOn, kOff);
}

// --- Raw Data Management

namespace {

struct RawStep
{
    int edit;  // index in m_edits
    const char* path;
    int low;
    int high;
    const char* outOfRange;
    const char* refused;
};

// The Doppler smoothing (edit 5) is a decimal number and is checked on its own.
constexpr RawStep kRawSteps[] = {
    {0, "/par/raw/msint", 10, 5000, "Value out of range [10,5000] for raw measurements update rate",
     "Can't set raw measurements update rate"},
    {2, "/par/pos/msint", 10, 5000, "Value out of range [10,5000] for position update rate",
     "Can't set position update rate"},
    {4, "/par/raw/smi", 0, 900, "Value out of range [0,900] for code smooth interval",
     "Can't set code smooth interval"},
    {5, "/par/raw/dopp/smi", 0, 0, "Value out of range [0.1,100] for doppler smoothing method",
     "Can't set doppler smoothing method"},
    {6, "/par/raw/iono/smi", 0, 900, "Value out of range [0,900] for iono nominal interval",
     "Can't set iono nominal interval"},
    {7, "/par/raw/iono/minsmi", 0, 900, "Value out of range [0,900] for minimum iono interval",
     "Can't set minimum iono interval"},
};

}  // namespace

CRawData::CRawData(const CAdvanced* advanced, QWidget* parent) : CTrackingPage(advanced, parent)
{
    auto* layout = new QVBoxLayout(this);
    auto* rawBox = new QGroupBox(QStringLiteral("Raw Measurement Update Rate"), this);
    auto* raw = new QGridLayout(rawBox);
    m_edits[0] = AddEditRow(raw, QStringLiteral("Update Rate(ms):"), "rawRate", &m_labels[0]);
    m_edits[1] = AddEditRow(raw, QStringLiteral("Current Update Rate(ms):"), "rawCurRate", &m_labels[1]);
    auto* posBox = new QGroupBox(QStringLiteral("Position Update Rate"), this);
    auto* pos = new QGridLayout(posBox);
    m_edits[2] = AddEditRow(pos, QStringLiteral("Update Rate(ms):"), "posRate", &m_labels[2]);
    m_edits[3] = AddEditRow(pos, QStringLiteral("Current Update Rate(ms):"), "posCurRate", &m_labels[3]);
    layout->addWidget(rawBox);
    layout->addWidget(posBox);
    auto* grid = new QGridLayout;
    m_edits[4] = AddEditRow(grid, QStringLiteral("Code smoothing interval(s):"), "codeSmoothing", &m_labels[4]);
    m_edits[5] = AddEditRow(grid, QStringLiteral("Doppler smoothing method(Hz):"), "dopplerSmoothing", &m_labels[5]);
    m_edits[6] = AddEditRow(grid, QStringLiteral("Nominal iono smoothing interval(s):"), "ionoSmoothing", &m_labels[6]);
    m_edits[7] =
        AddEditRow(grid, QStringLiteral("Minimum iono smoothing interval(s):"), "ionoMinSmoothing", &m_labels[7]);
    layout->addLayout(grid);
    layout->addStretch(1);
    for (QLineEdit* edit : m_edits) {
        connect(edit, &QLineEdit::textEdited, this, &CRawData::Mark);
    }
    MakeDisplay(m_edits[1]);
    MakeDisplay(m_edits[3]);
}

void CRawData::QuerySettings()
{
    for (size_t i = 0; i < m_edits.size(); ++i) {
        LoadEdit(Reply(14 + int(i)), m_edits[i], m_labels[i], true);
    }
}

QString CRawData::ApplySettings()
{
    for (const RawStep& step : kRawSteps) {
        QLineEdit* edit = m_edits[size_t(step.edit)];
        if (!edit->isEnabled()) {
            continue;
        }
        bool inRange = false;
        if (step.edit == 5) {
            float v = 0;
            if (!ReadFloat(edit, &v)) {
                return Focused(edit, QStringLiteral("Invalid value for doppler smoothing method"));
            }
            inRange = double(v) >= 0.1 && double(v) <= 100.0;
        } else {
            int v = 0;
            inRange = ReadInt(edit, &v) && v >= step.low && v <= step.high;
        }
        if (!inRange) {
            return Focused(edit, QLatin1String(step.outOfRange));
        }
        if (!SetEditParam(QLatin1String(step.path), edit, false)) {
            return QLatin1String(step.refused);
        }
    }
    return QString();
}

void CRawData::WriteScript()
{
    for (const RawStep& step : kRawSteps) {
        WriteEditParam(QLatin1String(step.path), m_edits[size_t(step.edit)], false);
    }
}

void CRawData::WriteUpdateRates()
{
    WriteEditParam(QStringLiteral("/par/raw/msint"), m_edits[0], false);
    WriteEditParam(QStringLiteral("/par/pos/msint"), m_edits[2], false);
}
