#pragma once

#include "app/ReceiverState.h"

#include <QStringList>
#include <QWidget>

#include <array>
#include <vector>

class CColumnField;
class CSteadyLabel;
class QLabel;
class QPushButton;
class QTabWidget;
class QTreeWidget;

// Sorts the rows of satellite list `list` by `column`: "EL", "AZ" and "TC" as the integers they start with,
// every other column as text without regard to case. Stable, so equal rows keep the receiver's order.
void SortSatRows(std::vector<QStringList>& rows, int list, int column, bool ascending);
// The integer a cell starts with, as "%d" reads it ("45^" -> 45, "-3--" -> -3); 0 when it starts with none.
int LeadingInt(const QString& text);

// The texts `s` shows: "No data" for the solution before a "PG" arrived, and dashes for the position, height,
// target distances, XYZ, velocity and DOPs while the last "PG" says the receiver has no solution.
StatusTexts ShownTexts(const StatusTexts& s);

// The live receiver state: four satellite lists ("GPS", "GLONASS", "GALILEO", "SBAS") and the "Location" page,
// with the summary, solution, link quality and event fields below them and the "Stop" button that cancels
// connection attempts. It shows what the connection thread decoded; it never decodes anything itself.
class CMainView : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kLocationPage = 4;

    explicit CMainView(QWidget* parent = nullptr);

    // Shows a whole snapshot on the current page and the fields below the pages. Hidden pages are left alone and
    // catch up at once when they are shown, so that an epoch costs only what the user can see.
    void ApplySnapshot(const StatusSnapshot& snapshot);
    // The status reset: lists emptied, labels restored, fields cleared.
    void ResetStatus();
    void ClearEvents();
    void SetStopVisible(bool visible);
    bool StopVisible() const;

    int CurrentPage() const;
    void SetCurrentPage(int page);
    QTreeWidget* List(int list) const;
    // The rows of a list as shown, top to bottom (a hidden list first catches up).
    std::vector<QStringList> ShownRows(int list) const;
    // The text of the field with this object name.
    QString Field(const QString& name) const;
    // The first body bytes of the last "PG" shown, empty before one.
    QByteArray LastPg() const { return m_lastPg; }

    int SortColumn(int list) const { return m_lists[size_t(list)].sortColumn; }
    bool SortAscending(int list) const { return m_lists[size_t(list)].ascending; }
    // A click on a column header: that column sorts the list, in the other direction than before.
    void OnHeaderClicked(int list, int column);

signals:
    void StopClicked();

private:
    struct SatListView
    {
        QTreeWidget* tree = nullptr;
        std::vector<QStringList> rows;  // in the receiver's order
        int sortColumn = 0;
        bool ascending = true;
        bool stale = false;  // rows changed while the list was hidden
        // The order last shown, for the sort keys it was made from: equal keys give the same order.
        QStringList sortKeys;
        int sortedColumn = -1;
        bool sortedAscending = true;
        std::vector<int> order;
    };

    QWidget* BuildLocationPage();
    // A status label that keeps the size of its `widest` text.
    CSteadyLabel* AddField(const QString& name, QWidget* parent, const QString& widest);
    void ShowList(int list);
    // The Location page's fields from the last snapshot.
    void ShowLocation();
    // Brings a hidden page up to date before it is read or shown.
    void CatchUp(int page) const;
    // Colours the solution field by its kind and says in its tooltip what the kind means.
    void ShowSolutionKind();
    void OnPageChanged(int page);

    QTabWidget* m_tabs = nullptr;
    std::array<SatListView, kListCount> m_lists;
    CColumnField* m_targetLat = nullptr;
    CColumnField* m_targetLon = nullptr;
    CColumnField* m_target = nullptr;
    CColumnField* m_position = nullptr;
    CColumnField* m_cartesian = nullptr;
    CSteadyLabel* m_velocity = nullptr;
    CSteadyLabel* m_rmsPos = nullptr;
    CSteadyLabel* m_rmsVel = nullptr;
    CSteadyLabel* m_pdop = nullptr;
    CSteadyLabel* m_hdop = nullptr;
    CSteadyLabel* m_time = nullptr;
    CSteadyLabel* m_date = nullptr;
    CSteadyLabel* m_clockOffset = nullptr;
    CSteadyLabel* m_oscOffset = nullptr;
    CSteadyLabel* m_trackingTime = nullptr;
    CSteadyLabel* m_summary = nullptr;
    QLabel* m_solution = nullptr;
    CSteadyLabel* m_linkQuality = nullptr;
    CSteadyLabel* m_eventA = nullptr;
    CSteadyLabel* m_eventB = nullptr;
    QPushButton* m_stop = nullptr;
    QByteArray m_lastPg;
    StatusTexts m_location;  // the last snapshot's Location page fields
    bool m_locationStale = false;
};
