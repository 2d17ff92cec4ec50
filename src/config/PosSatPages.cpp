#include "config/PosSatPages.h"

#include "config/ScriptWriter.h"
#include "link/ParamBatch.h"
#include "link/Profile.h"
#include "link/ReceiverHolder.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>

namespace {

int CountOn(const std::vector<bool>& entries, int count)
{
    const int n = std::min(count, int(entries.size()));
    return int(std::count(entries.begin(), entries.begin() + n, true));
}

void SetAll(std::vector<bool>* entries, bool on)
{
    std::fill(entries->begin(), entries->end(), on);
}

bool SendList(const QString& path, const std::vector<bool>& entries, int count)
{
    // The satellite lists go without a reply tag.
    return CReceiverHolder::Shared().Send(QStringLiteral("set,") + path + QLatin1Char(',') +
                                          SatListValue(entries, count));
}

QString Batch(const QStringList& paths)
{
    QString batch = QStringLiteral("@scr stoperrors off\n");
    for (const QString& path : paths) {
        batch += QStringLiteral("print,") + path + QLatin1Char('\n');
    }
    return batch + QStringLiteral("@end\n");
}

}  // namespace

MasterState CountState(int selected, int total)
{
    if (selected <= 0) {
        return MasterState::None;
    }
    return selected < total ? MasterState::Some : MasterState::All;
}

QString SatListValue(const std::vector<bool>& entries, int count)
{
    QString items;
    const int n = std::min(count, int(entries.size()));
    for (int i = 0; i < n; ++i) {
        items += entries[size_t(i)] ? QStringLiteral("y,") : QStringLiteral("n,");
    }
    items.chop(1);
    return QLatin1Char('{') + items + QLatin1Char('}');
}

void ReadSatList(const QString& value, std::vector<bool>* entries)
{
    SetAll(entries, false);
    for (size_t i = 0; i < entries->size(); ++i) {
        const qsizetype at = qsizetype(1 + 2 * i);
        if (at >= value.size()) {
            break;
        }
        (*entries)[i] = value[at] == QLatin1Char('y');
    }
}

// --- CPosSatPage

CPosSatPage::CPosSatPage(int rows, QWidget* parent) : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);

    auto* scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("satRows"));
    scroll->setWidgetResizable(true);
    auto* table = new QWidget;
    auto* grid = new QGridLayout(table);
    grid->setVerticalSpacing(2);
    auto* numberHead = new QLabel(table);
    numberHead->setObjectName(QStringLiteral("numberHead"));
    m_lockHead = new QLabel(QStringLiteral("lock"), table);
    m_useHead = new QLabel(QStringLiteral("use"), table);
    grid->addWidget(numberHead, 0, 0);
    grid->addWidget(m_lockHead, 0, 1);
    grid->addWidget(m_useHead, 0, 2);
    for (int i = 0; i < rows; ++i) {
        auto* label = new QLabel(table);
        auto* lock = new QCheckBox(table);
        auto* use = new QCheckBox(table);
        label->setObjectName(QStringLiteral("row%1").arg(i));
        lock->setObjectName(QStringLiteral("lock%1").arg(i));
        use->setObjectName(QStringLiteral("use%1").arg(i));
        grid->addWidget(label, i + 1, 0);
        grid->addWidget(lock, i + 1, 1);
        grid->addWidget(use, i + 1, 2);
        m_labels.push_back(label);
        m_lock.push_back(lock);
        m_use.push_back(use);
        connect(lock, &QCheckBox::clicked, this, &CPosSatPage::OnEdited);
        connect(use, &QCheckBox::clicked, this, &CPosSatPage::OnEdited);
    }
    grid->setRowStretch(rows + 1, 1);
    scroll->setWidget(table);
    layout->addWidget(scroll, 1);

    auto* buttons = new QGridLayout;
    m_allLock = new QPushButton(QStringLiteral("All to lock"), this);
    m_noneLock = new QPushButton(QStringLiteral("None to lock"), this);
    m_allUse = new QPushButton(QStringLiteral("All to use"), this);
    m_noneUse = new QPushButton(QStringLiteral("None to use"), this);
    m_allLock->setObjectName(QStringLiteral("allToLock"));
    m_noneLock->setObjectName(QStringLiteral("noneToLock"));
    m_allUse->setObjectName(QStringLiteral("allToUse"));
    m_noneUse->setObjectName(QStringLiteral("noneToUse"));
    buttons->addWidget(m_allLock, 0, 0);
    buttons->addWidget(m_noneLock, 0, 1);
    buttons->addWidget(m_allUse, 1, 0);
    buttons->addWidget(m_noneUse, 1, 1);
    layout->addLayout(buttons);
    connect(m_allLock, &QPushButton::clicked, this, [this] { SetBoxes(m_lock, true); });
    connect(m_noneLock, &QPushButton::clicked, this, [this] { SetBoxes(m_lock, false); });
    connect(m_allUse, &QPushButton::clicked, this, [this] { SetBoxes(m_use, true); });
    connect(m_noneUse, &QPushButton::clicked, this, [this] { SetBoxes(m_use, false); });

    for (QCheckBox* box : m_lock) {
        box->setEnabled(false);
    }
    for (QCheckBox* box : m_use) {
        box->setEnabled(false);
    }
    for (QPushButton* b : {m_allLock, m_noneLock, m_allUse, m_noneUse}) {
        b->setEnabled(false);
    }
}

void CPosSatPage::SetRowVisible(int row, bool visible)
{
    m_labels[size_t(row)]->setVisible(visible);
    m_lock[size_t(row)]->setVisible(visible);
    m_use[size_t(row)]->setVisible(visible);
}

void CPosSatPage::SetHeadings(const QString& text)
{
    if (auto* head = findChild<QLabel*>(QStringLiteral("numberHead"))) {
        head->setText(text);
    }
}

void CPosSatPage::SetColumn(std::vector<QCheckBox*>& boxes, const std::vector<bool>& values, int rows, bool enabled)
{
    for (int i = 0; i < int(boxes.size()); ++i) {
        const bool inList = i < rows && i < int(values.size());
        boxes[size_t(i)]->setChecked(inList && enabled && values[size_t(i)]);
        boxes[size_t(i)]->setEnabled(inList && enabled);
    }
}

void CPosSatPage::SetBoxes(std::vector<QCheckBox*>& boxes, bool on)
{
    for (QCheckBox* box : boxes) {
        if (box->isEnabled()) {
            box->setChecked(on);
        }
    }
    OnEdited();
}

void CPosSatPage::OnEdited()
{
    TakeBoxes();
    emit Changed();
}

// --- CPosSatList

CPosSatList::CPosSatList(Setup setup, QWidget* parent)
    : CPosSatPage(setup.rows, parent),
      m_setup(std::move(setup)),
      m_lockList(size_t(m_setup.rows), false),
      m_useList(size_t(m_setup.rows), false)
{
    setObjectName(QStringLiteral("sat") + m_setup.name);
    SetHeadings(QStringLiteral("PRN"));
    for (int i = 0; i < m_setup.rows; ++i) {
        m_labels[size_t(i)]->setText(QString::number(m_setup.firstLabel + i));
    }
}

QString CPosSatList::Query()
{
    CParamBatch batch;
    if (!batch.Run(Batch({m_setup.lockPath, m_setup.usePath}))) {
        m_lockAvailable = false;
        m_useAvailable = false;
        ShowLists();
        return batch.FailureText();
    }
    m_lockAvailable = batch.Value(0) != nullptr;
    m_useAvailable = batch.Value(1) != nullptr;
    SetAll(&m_lockList, false);
    SetAll(&m_useList, false);
    if (m_lockAvailable) {
        ReadSatList(*batch.Value(0), &m_lockList);
    }
    if (m_useAvailable) {
        ReadSatList(*batch.Value(1), &m_useList);
    }
    ShowLists();
    return QString();
}

void CPosSatList::ShowLists()
{
    SetColumn(m_lock, m_lockList, m_setup.rows, m_lockAvailable);
    SetColumn(m_use, m_useList, m_setup.rows, m_useAvailable);
    m_allLock->setEnabled(m_lockAvailable);
    m_noneLock->setEnabled(m_lockAvailable);
    m_allUse->setEnabled(m_useAvailable);
    m_noneUse->setEnabled(m_useAvailable);
}

void CPosSatList::TakeBoxes()
{
    for (int i = 0; i < m_setup.rows; ++i) {
        m_lockList[size_t(i)] = m_lock[size_t(i)]->isChecked();
        m_useList[size_t(i)] = m_use[size_t(i)]->isChecked();
    }
}

QString CPosSatList::Apply()
{
    if (m_setup.lockError.isEmpty()) {
        return QString();  // shown and edited only
    }
    if (m_lockAvailable && !SendList(m_setup.lockPath, m_lockList, m_setup.rows)) {
        m_lock.front()->setFocus(Qt::OtherFocusReason);
        return m_setup.lockError;
    }
    if (m_useAvailable && !SendList(m_setup.usePath, m_useList, m_setup.rows)) {
        m_use.front()->setFocus(Qt::OtherFocusReason);
        return m_setup.useError;
    }
    return QString();
}

void CPosSatList::WriteScript()
{
    if (m_setup.lockError.isEmpty()) {
        return;
    }
    if (m_lockAvailable) {
        WriteSetLine(m_setup.lockPath, SatListValue(m_lockList, m_setup.rows));
    }
    if (m_useAvailable) {
        WriteSetLine(m_setup.usePath, SatListValue(m_useList, m_setup.rows));
    }
}

MasterState CPosSatList::TrackedState() const
{
    return m_lockAvailable ? CountState(CountOn(m_lockList, m_setup.rows), m_setup.rows) : MasterState::Unavailable;
}

MasterState CPosSatList::UsedState() const
{
    return m_useAvailable ? CountState(CountOn(m_useList, m_setup.rows), m_setup.rows) : MasterState::Unavailable;
}

void CPosSatList::SetAllTracked(bool on)
{
    if (m_lockAvailable) {
        SetAll(&m_lockList, on);
        ShowLists();
    }
}

void CPosSatList::SetAllUsed(bool on)
{
    if (m_useAvailable) {
        SetAll(&m_useList, on);
        ShowLists();
    }
}

CPosGPS::CPosGPS(QWidget* parent)
    : CPosSatList(
          {QStringLiteral("GPS"), 32, 1, QStringLiteral("/par/lock/gps/sat"), QStringLiteral("/par/pos/gps/sat"),
           QStringLiteral("Can't set GPS satellites to Lock"), QStringLiteral("Can't set GPS satellites to Use")},
          parent)
{
}

CPosGalileo::CPosGalileo(QWidget* parent)
    : CPosSatList({QStringLiteral("GALILEO"), 30, 1, QStringLiteral("/par/lock/gal/sat"),
                   QStringLiteral("/par/pos/gal/sat"), QString(), QString()},
                  parent)
{
}

CPosSBAS::CPosSBAS(QWidget* parent)
    : CPosSatList(
          {QStringLiteral("SBAS"), 19, 120, QStringLiteral("/par/lock/sbas/sat"), QStringLiteral("/par/pos/sbas/sat"),
           QStringLiteral("Can't set SBAS satellites to Lock"), QStringLiteral("Can't set SBAS satellites to Use")},
          parent)
{
}

// --- CPosGLONASS

CPosGLONASS::CPosGLONASS(QWidget* parent)
    : CPosSatPage(kSlotCount, parent),
      m_fcnLock(kSlotCount, false),
      m_fcnUse(kSlotCount, false),
      m_slotLock(kSlotCount, false),
      m_slotUse(kSlotCount, false)
{
    setObjectName(QStringLiteral("satGLONASS"));
    auto* group = new QGroupBox(QStringLiteral("Satellite Numbering"), this);
    auto* radios = new QVBoxLayout(group);
    m_fcnRadio = new QRadioButton(QStringLiteral("Frequency Channel Number"), group);
    m_slotRadio = new QRadioButton(QStringLiteral("Slot Number"), group);
    m_fcnRadio->setObjectName(QStringLiteral("fcnNumbering"));
    m_slotRadio->setObjectName(QStringLiteral("slotNumbering"));
    radios->addWidget(m_fcnRadio);
    radios->addWidget(m_slotRadio);
    static_cast<QVBoxLayout*>(layout())->insertWidget(0, group);
    connect(m_fcnRadio, &QRadioButton::clicked, this, [this] { SetFcnNumbering(true); });
    connect(m_slotRadio, &QRadioButton::clicked, this, [this] { SetFcnNumbering(false); });

    m_fcnNumbering = ReadNumberingSetting();
    m_fcnRadio->setChecked(m_fcnNumbering);
    m_slotRadio->setChecked(!m_fcnNumbering);
    ShowLists();
}

bool CPosGLONASS::ReadNumberingSetting()
{
    CProfile* profile = CProfile::Instance();
    const bool fcn = profile->ReadBool(QStringLiteral("GLOEnumeration"), QStringLiteral("FCN"), true);
    CProfile::Release();
    return fcn;
}

void CPosGLONASS::WriteNumberingSetting(bool fcn)
{
    CProfile* profile = CProfile::Instance();
    profile->WriteBool(QStringLiteral("GLOEnumeration"), QStringLiteral("FCN"), fcn);
    CProfile::Release();
}

QString CPosGLONASS::RowLabel(int row) const
{
    const int n = m_fcnNumbering ? row - 7 : row + 1;
    return n >= 0 && n < 10 ? QLatin1Char(' ') + QString::number(n) : QString::number(n);
}

void CPosGLONASS::SetFcnNumbering(bool fcn)
{
    m_fcnNumbering = fcn;
    m_fcnRadio->setChecked(fcn);
    m_slotRadio->setChecked(!fcn);
    WriteNumberingSetting(fcn);
    ShowLists();
}

QString CPosGLONASS::Query()
{
    m_fcnNumbering = ReadNumberingSetting();
    m_fcnRadio->setChecked(m_fcnNumbering);
    m_slotRadio->setChecked(!m_fcnNumbering);
    CParamBatch batch;
    if (!batch.Run(Batch({QStringLiteral("/par/lock/glo/fcn"), QStringLiteral("/par/pos/glo/fcn"),
                          QStringLiteral("/par/pos/glo/sat")}))) {
        m_fcnLockAvailable = false;
        m_fcnUseAvailable = false;
        m_slotUseAvailable = false;
        ShowLists();
        return batch.FailureText();
    }
    m_fcnLockAvailable = batch.Value(0) != nullptr;
    m_fcnUseAvailable = batch.Value(1) != nullptr;
    m_slotUseAvailable = batch.Value(2) != nullptr;
    std::vector<bool> fcnLock(kFcnCount), fcnUse(kFcnCount), slotUse(kSlotCount);
    if (m_fcnLockAvailable) {
        ReadSatList(*batch.Value(0), &fcnLock);
    }
    if (m_fcnUseAvailable) {
        ReadSatList(*batch.Value(1), &fcnUse);
    }
    if (m_slotUseAvailable) {
        ReadSatList(*batch.Value(2), &slotUse);
    }
    SetAll(&m_fcnLock, false);
    SetAll(&m_fcnUse, false);
    SetAll(&m_slotLock, false);
    std::copy(fcnLock.begin(), fcnLock.end(), m_fcnLock.begin());
    std::copy(fcnUse.begin(), fcnUse.end(), m_fcnUse.begin());
    m_slotUse = slotUse;
    ShowLists();
    return QString();
}

void CPosGLONASS::ShowLists()
{
    const int rows = m_fcnNumbering ? kFcnCount : kSlotCount;
    SetHeadings(m_fcnNumbering ? QStringLiteral("fcn") : QStringLiteral("sat"));
    for (int i = 0; i < kSlotCount; ++i) {
        SetRowVisible(i, i < rows);
        m_labels[size_t(i)]->setText(RowLabel(i));
    }
    if (m_fcnNumbering) {
        SetColumn(m_lock, m_fcnLock, kFcnCount, m_fcnLockAvailable);
        SetColumn(m_use, m_fcnUse, kFcnCount, m_fcnUseAvailable);
        m_allLock->setEnabled(m_fcnLockAvailable);
        m_noneLock->setEnabled(m_fcnLockAvailable);
        m_allUse->setEnabled(m_fcnUseAvailable);
        m_noneUse->setEnabled(m_fcnUseAvailable);
    } else {
        SetColumn(m_lock, m_slotLock, kSlotCount, false);
        SetColumn(m_use, m_slotUse, kSlotCount, m_slotUseAvailable);
        m_allLock->setEnabled(false);
        m_noneLock->setEnabled(false);
        m_allUse->setEnabled(m_slotUseAvailable);
        m_noneUse->setEnabled(m_slotUseAvailable);
    }
}

void CPosGLONASS::TakeBoxes()
{
    if (m_fcnNumbering) {
        for (int i = 0; i < kFcnCount; ++i) {
            m_fcnLock[size_t(i)] = m_lock[size_t(i)]->isChecked();
            m_fcnUse[size_t(i)] = m_use[size_t(i)]->isChecked();
        }
    } else {
        for (int i = 0; i < kSlotCount; ++i) {
            m_slotUse[size_t(i)] = m_use[size_t(i)]->isChecked();
        }
    }
}

QString CPosGLONASS::Apply()
{
    if (m_fcnLockAvailable && !SendList(QStringLiteral("/par/lock/glo/fcn"), m_fcnLock, kFcnCount)) {
        return QStringLiteral("Can't set GLONASS FCNs to Lock");
    }
    if (m_fcnUseAvailable && !SendList(QStringLiteral("/par/pos/glo/fcn"), m_fcnUse, kFcnCount)) {
        return QStringLiteral("Can't set GLONASS FCNs to Use");
    }
    if (m_slotUseAvailable && !SendList(QStringLiteral("/par/pos/glo/sat"), m_slotUse, kSlotCount)) {
        return QStringLiteral("Can't set GLONASS Satellites to Use");
    }
    return QString();
}

void CPosGLONASS::WriteScript()
{
    if (m_fcnLockAvailable) {
        WriteSetLine(QStringLiteral("/par/lock/glo/fcn"), SatListValue(m_fcnLock, kFcnCount));
    }
    if (m_fcnUseAvailable) {
        WriteSetLine(QStringLiteral("/par/pos/glo/fcn"), SatListValue(m_fcnUse, kFcnCount));
    }
    if (m_slotUseAvailable) {
        WriteSetLine(QStringLiteral("/par/pos/glo/sat"), SatListValue(m_slotUse, kSlotCount));
    }
}

MasterState CPosGLONASS::TrackedState() const
{
    return m_fcnLockAvailable ? CountState(CountOn(m_fcnLock, kFcnCount), kFcnCount) : MasterState::Unavailable;
}

MasterState CPosGLONASS::UsedState() const
{
    if (!m_fcnUseAvailable && !m_slotUseAvailable) {
        return MasterState::Unavailable;
    }
    const int fcn = CountOn(m_fcnUse, kFcnCount);
    const int slot = CountOn(m_slotUse, kSlotCount);
    if ((m_fcnUseAvailable && fcn == 0) || (m_slotUseAvailable && slot == 0)) {
        return MasterState::None;
    }
    if ((m_fcnUseAvailable && fcn < kFcnCount) || (m_slotUseAvailable && slot < kSlotCount)) {
        return MasterState::Some;
    }
    return MasterState::All;
}

void CPosGLONASS::SetAllTracked(bool on)
{
    if (!m_fcnNumbering) {
        SetFcnNumbering(true);
    }
    if (m_fcnLockAvailable) {
        std::fill(m_fcnLock.begin(), m_fcnLock.begin() + kFcnCount, on);
    }
    ShowLists();
}

void CPosGLONASS::SetAllUsed(bool on)
{
    if (on) {
        if (m_fcnUseAvailable) {
            std::fill(m_fcnUse.begin(), m_fcnUse.begin() + kFcnCount, true);
        }
        if (m_slotUseAvailable) {
            SetAll(&m_slotUse, true);
        }
    } else if (m_fcnNumbering) {
        if (m_fcnUseAvailable) {
            std::fill(m_fcnUse.begin(), m_fcnUse.begin() + kFcnCount, false);
        }
    } else if (m_slotUseAvailable) {
        SetAll(&m_slotUse, false);
    }
    ShowLists();
}
