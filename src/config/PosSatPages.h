#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>

#include <vector>

class QCheckBox;
class QLabel;
class QPushButton;
class QRadioButton;

// The summary of a lock or use list that a master box on the Positioning page shows.
enum class MasterState { Unavailable, None, Some, All };

// MasterState of `selected` out of `total` entries.
MasterState CountState(int selected, int total);

// The braced y/n list of the first `count` entries ("{y,n,y}").
QString SatListValue(const std::vector<bool>& entries, int count);
// Reads a braced y/n list into `entries` (row i from the character at 1 + 2i); rows past the reply stay clear.
void ReadSatList(const QString& value, std::vector<bool>* entries);

// One satellite-system sub-page of the Positioning page: a row per satellite with a "lock" and a "use" box. The
// Positioning page queries, applies and writes the sub-pages as part of its own operations; every user edit here
// is reported with Changed().
class CPosSatPage : public QWidget
{
    Q_OBJECT

public:
    CPosSatPage(int rows, QWidget* parent);

    // Queries the lists with one batch. Empty on success; when the batch fails, why (and no list is usable).
    virtual QString Query() = 0;
    // Sends the lists the receiver reported; the first failure's message, else an empty text.
    virtual QString Apply() = 0;
    virtual void WriteScript() = 0;

    virtual MasterState TrackedState() const = 0;
    virtual MasterState UsedState() const = 0;
    // A click on a master box of the Positioning page.
    virtual void SetAllTracked(bool on) = 0;
    virtual void SetAllUsed(bool on) = 0;

    QCheckBox* LockBox(int row) const { return m_lock[size_t(row)]; }
    QCheckBox* UseBox(int row) const { return m_use[size_t(row)]; }
    int RowCount() const { return int(m_lock.size()); }

signals:
    void Changed();

protected:
    // The model lists behind the boxes changed: show them.
    virtual void ShowLists() = 0;
    // A row box or button edited the boxes: take them into the model lists.
    virtual void TakeBoxes() = 0;

    void SetRowVisible(int row, bool visible);
    void SetHeadings(const QString& text);
    void SetColumn(std::vector<QCheckBox*>& boxes, const std::vector<bool>& values, int rows, bool enabled);

    std::vector<QLabel*> m_labels;
    std::vector<QCheckBox*> m_lock;
    std::vector<QCheckBox*> m_use;
    QLabel* m_lockHead = nullptr;
    QLabel* m_useHead = nullptr;
    QPushButton* m_allLock = nullptr;
    QPushButton* m_noneLock = nullptr;
    QPushButton* m_allUse = nullptr;
    QPushButton* m_noneUse = nullptr;

private:
    void SetBoxes(std::vector<QCheckBox*>& boxes, bool on);
    void OnEdited();
};

// GPS, Galileo and SBAS: one lock list and one use list of a fixed length.
class CPosSatList : public CPosSatPage
{
    Q_OBJECT

public:
    struct Setup
    {
        QString name;  // "GPS", "GALILEO", "SBAS"
        int rows = 0;
        int firstLabel = 1;
        QString lockPath;
        QString usePath;
        QString lockError;  // empty: the lists are shown and edited but neither sent nor written
        QString useError;
    };

    CPosSatList(Setup setup, QWidget* parent);

    QString Query() override;
    QString Apply() override;
    void WriteScript() override;
    MasterState TrackedState() const override;
    MasterState UsedState() const override;
    void SetAllTracked(bool on) override;
    void SetAllUsed(bool on) override;

    bool LockAvailable() const { return m_lockAvailable; }
    bool UseAvailable() const { return m_useAvailable; }

protected:
    void ShowLists() override;
    void TakeBoxes() override;

private:
    Setup m_setup;
    std::vector<bool> m_lockList;
    std::vector<bool> m_useList;
    bool m_lockAvailable = false;
    bool m_useAvailable = false;
};

class CPosGPS : public CPosSatList
{
    Q_OBJECT
public:
    explicit CPosGPS(QWidget* parent = nullptr);
};

class CPosGalileo : public CPosSatList
{
    Q_OBJECT
public:
    explicit CPosGalileo(QWidget* parent = nullptr);
};

class CPosSBAS : public CPosSatList
{
    Q_OBJECT
public:
    explicit CPosSBAS(QWidget* parent = nullptr);
};

// GLONASS: lock and use lists by frequency channel (-7 to +12) and a use list by slot (1 to 24), shown in one of
// the two numberings. The choice is kept in the settings.
class CPosGLONASS : public CPosSatPage
{
    Q_OBJECT

public:
    static constexpr int kFcnCount = 20;
    static constexpr int kSlotCount = 24;

    explicit CPosGLONASS(QWidget* parent = nullptr);

    QString Query() override;
    QString Apply() override;
    void WriteScript() override;
    MasterState TrackedState() const override;
    MasterState UsedState() const override;
    void SetAllTracked(bool on) override;
    void SetAllUsed(bool on) override;

    bool FcnNumbering() const { return m_fcnNumbering; }
    // Switches the numbering (as the radio buttons do) and keeps the choice in the settings.
    void SetFcnNumbering(bool fcn);

    static bool ReadNumberingSetting();

protected:
    void ShowLists() override;
    void TakeBoxes() override;

private:
    static void WriteNumberingSetting(bool fcn);
    QString RowLabel(int row) const;

    QRadioButton* m_fcnRadio = nullptr;
    QRadioButton* m_slotRadio = nullptr;
    bool m_fcnNumbering = true;
    std::vector<bool> m_fcnLock;
    std::vector<bool> m_fcnUse;
    std::vector<bool> m_slotLock;  // no receiver reports it: always clear
    std::vector<bool> m_slotUse;
    bool m_fcnLockAvailable = false;
    bool m_fcnUseAvailable = false;
    bool m_slotUseAvailable = false;
};
