#include "app/MainView.h"

#include "app/ColumnField.h"
#include "app/StatusLegend.h"
#include "ui/LiveTree.h"
#include "ui/SteadyLabel.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace {

const char* const kListNames[kListCount] = {"GPS", "GLONASS", "GALILEO", "SBAS"};
const char* const kListObjects[kListCount] = {"listGps", "listGlonass", "listGalileo", "listSbas"};

// Column widths in pixels of the handheld's screen; hidden columns have none.
const std::vector<int> kWidths[kListCount] = {
    {22, 29, 28, 27, 23, 23, 30, 0, 28, 27},
    {23, 23, 29, 27, 26, 23, 23, 28, 0, 25, 27},
    {22, 29, 27, 26, 0, 0, 0, 24, 28, 29},
    {22, 29, 27, 26, 0, 0, 0, 24, 28, 29},
};

StatusSnapshot ResetSnapshot()
{
    CReceiverState state;
    state.Reset();
    return state.Snapshot();
}

void SetText(CSteadyLabel* label, const QString& text)
{
    label->SetText(text);
}

void SetText(CColumnField* field, const QString& text)
{
    field->SetText(text);
}

// The solution type of a kept "PG" body (its byte 28), -1 without one.
int SolutionTypeOf(const QByteArray& pg)
{
    return pg.size() > 28 ? static_cast<unsigned char>(pg[28]) : -1;
}

// Every key of a field, each followed by a dash: what the receiver sends without a solution is not a position.
QString Dashes(std::initializer_list<const char*> keys)
{
    QStringList lines;
    for (const char* key : keys) {
        lines << QString::fromLatin1(key) + QStringLiteral(" —");
    }
    return lines.join(QLatin1Char('\n'));
}

}  // namespace

StatusTexts ShownTexts(const StatusTexts& s)
{
    StatusTexts shown = s;
    if (s.lastPg.isEmpty()) {
        // Nothing decoded since the last reset: no kind of solution to show yet.
        shown.solution = QString::fromLatin1(kNoDataText);
        return shown;
    }
    if (SolutionTypeOf(s.lastPg) != 0) {
        return shown;
    }
    // Without a solution the receiver reports a zero position and stops updating XYZ, velocity and the DOPs; all of
    // them, and the distances computed from that zero position, would read as live values.
    shown.position = Dashes({"Lat:", "Lon:", "Alt:"});
    shown.target = Dashes({"ETT:", "NTT:", "DTT:", "CTT:"});
    shown.cartesian = Dashes({"X:", "Y:", "Z:"});
    shown.velocity = Dashes({"Vel:"});
    shown.pdop = Dashes({"PDOP:"});
    shown.hdop = Dashes({"HDOP:"});
    return shown;
}

int LeadingInt(const QString& text)
{
    int i = 0;
    const int n = int(text.size());
    while (i < n && text[i].isSpace()) {
        ++i;
    }
    bool negative = false;
    if (i < n && (text[i] == QLatin1Char('-') || text[i] == QLatin1Char('+'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    long long value = 0;
    int digits = 0;
    while (i < n && text[i].isDigit() && digits < 10) {
        value = value * 10 + text[i].digitValue();
        ++i;
        ++digits;
    }
    if (digits == 0) {
        return 0;
    }
    value = std::min<long long>(value, INT32_MAX);
    return int(negative ? -value : value);
}

void SortSatRows(std::vector<QStringList>& rows, int list, int column, bool ascending)
{
    const bool numeric = SatColumnIsNumeric(list, column);
    const auto less = [&](const QStringList& a, const QStringList& b) {
        const QString x = a.value(column);
        const QString y = b.value(column);
        const int c = numeric ? (LeadingInt(x) > LeadingInt(y)) - (LeadingInt(x) < LeadingInt(y))
                              : x.compare(y, Qt::CaseInsensitive);
        return ascending ? c < 0 : c > 0;
    };
    std::stable_sort(rows.begin(), rows.end(), less);
}

CMainView::CMainView(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("mainView"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);

    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("viewTabs"));
    for (int list = 0; list < kListCount; ++list) {
        auto* tree = new CLiveTree(m_tabs);
        tree->setObjectName(QLatin1String(kListObjects[list]));
        tree->setAccessibleName(QLatin1String(kListNames[list]) + QStringLiteral(" satellites"));
        tree->setRootIsDecorated(false);
        tree->setUniformRowHeights(true);
        tree->setSelectionMode(QAbstractItemView::SingleSelection);
        tree->setHeaderLabels(SatColumnTitles(list));
        for (int c = 0; c < SatColumnCount(list); ++c) {
            tree->headerItem()->setToolTip(c, SatColumnTip(list, c));
        }
        tree->header()->setSectionsClickable(true);
        tree->header()->setStretchLastSection(false);
        // The widths were made for the handheld's small font, where "00+" takes about 20 pixels; scale them so
        // that a three-digit value with its mark fits whatever font this screen uses.
        const double scale = std::max(1.0, tree->fontMetrics().horizontalAdvance(QStringLiteral("000+")) / 20.0);
        for (int c = 0; c < SatColumnCount(list); ++c) {
            tree->setColumnWidth(c, int(kWidths[list][size_t(c)] * scale + 0.5));
        }
        for (int c : SatHiddenColumns(list)) {
            tree->setColumnHidden(c, true);
        }
        connect(tree->header(), &QHeaderView::sectionClicked, this,
                [this, list](int column) { OnHeaderClicked(list, column); });
        m_lists[size_t(list)].tree = tree;
        m_tabs->addTab(tree, QLatin1String(kListNames[list]));
    }
    m_tabs->addTab(BuildLocationPage(), QStringLiteral("Location"));
    m_tabs->setCurrentIndex(kLocationPage);
    connect(m_tabs, &QTabWidget::currentChanged, this, &CMainView::OnPageChanged);
    layout->addWidget(m_tabs, 1);

    auto* below = new QGridLayout();
    m_summary = AddField(QStringLiteral("summary"), this, QStringLiteral("Satellites  99 : 99 : 99 : 99"));
    // Coloured as wide as its text, so it keeps a label's own size; it changes only with the kind of solution.
    m_solution = new QLabel(this);
    m_solution->setObjectName(QStringLiteral("solution"));
    m_solution->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_linkQuality = AddField(QStringLiteral("linkQuality"), this, QStringLiteral("LQ:100.0%(0000000000000)"));
    m_eventA = AddField(QStringLiteral("eventA"), this, QStringLiteral("Event A: 99999"));
    m_eventB = AddField(QStringLiteral("eventB"), this, QStringLiteral("Event B: 99999"));
    m_stop = new QPushButton(QStringLiteral("Stop"), this);
    m_stop->setObjectName(QStringLiteral("stopButton"));
    m_stop->hide();
    connect(m_stop, &QPushButton::clicked, this, &CMainView::StopClicked);
    // Steady labels sit at the left of their cells, which stretch as before.
    below->addWidget(m_summary, 0, 0, Qt::AlignLeft);
    below->addWidget(m_solution, 0, 1, Qt::AlignLeft);  // coloured as wide as its text
    below->addWidget(m_linkQuality, 1, 0, 1, 2, Qt::AlignLeft);
    below->addWidget(m_eventA, 2, 0, Qt::AlignLeft);
    below->addWidget(m_eventB, 2, 1, Qt::AlignLeft);
    below->addWidget(m_stop, 3, 0, 1, 2);
    layout->addLayout(below);

    // The texts before the first connect.
    SetText(m_summary, QStringLiteral("Satellites  0 : 0 : 0"));
    m_solution->setText(QString::fromLatin1(kNoDataText));
    m_summary->setToolTip(SatSummaryTip());
    m_summary->setAccessibleName(QStringLiteral("Satellites"));
    m_solution->setAccessibleName(QStringLiteral("Solution"));
    ShowSolutionKind();
    SetText(m_eventA, QStringLiteral("EVENTA"));
    SetText(m_eventB, QStringLiteral("EVENTB"));
    const StatusSnapshot initial = ResetSnapshot();
    m_targetLat->SetText(initial.targetLat);
    m_targetLon->SetText(initial.targetLon);
    m_target->SetText(initial.target);
    m_position->SetText(initial.position);
    m_cartesian->SetText(initial.cartesian);
    SetText(m_velocity, initial.velocity);
    SetText(m_rmsPos, initial.rmsPos);
    SetText(m_rmsVel, initial.rmsVel);
    SetText(m_pdop, initial.pdop);
    SetText(m_hdop, initial.hdop);
}

CSteadyLabel* CMainView::AddField(const QString& name, QWidget* parent, const QString& widest)
{
    auto* label = new CSteadyLabel(parent);
    label->setObjectName(name);
    label->Reserve(widest);
    // The widest text starts with the field's key ("PDOP: 99.9999"): it names the field and finds its meaning.
    const QString key = widest.section(QLatin1Char(':'), 0, 0);
    label->setAccessibleName(key.trimmed());
    label->setToolTip(FieldTip(key + QLatin1Char(':')));
    return label;
}

QWidget* CMainView::BuildLocationPage()
{
    auto* page = new QWidget(m_tabs);
    page->setObjectName(QStringLiteral("locationPage"));
    auto* grid = new QGridLayout(page);

    // Key and value columns, the values in a fixed-width font, so that the boxes read as tables.
    const auto box = [page](const QString& title) {
        auto* group = new QGroupBox(title, page);
        auto* layout = new QGridLayout(group);
        layout->setColumnStretch(1, 1);
        layout->setVerticalSpacing(0);
        return std::pair{group, layout};
    };
    const QString lat = QStringLiteral("Lat:");
    const QString lon = QStringLiteral("Lon:");
    // The widest value of every box (a longitude with its seconds), so that the value columns line up.
    const QString widest = QStringLiteral("179°59' 59.9999\" W");
    auto [target, targetLayout] = box(QStringLiteral("Target"));
    m_targetLat = new CColumnField(QStringLiteral("targetLat"), {lat}, targetLayout, 0, target, widest);
    m_targetLon = new CColumnField(QStringLiteral("targetLon"), {lon}, targetLayout, 1, target, widest);
    m_target =
        new CColumnField(QStringLiteral("target"), {"ETT:", "NTT:", "DTT:", "CTT:"}, targetLayout, 2, target, widest);
    auto [geo, geoLayout] = box(QStringLiteral("Geo"));
    m_position =
        new CColumnField(QStringLiteral("position"), {lat, lon, QStringLiteral("Alt:")}, geoLayout, 0, geo, widest);
    auto [xyz, xyzLayout] = box(QStringLiteral("XYZ"));
    m_cartesian = new CColumnField(QStringLiteral("cartesian"), {"X:", "Y:", "Z:"}, xyzLayout, 0, xyz, widest);

    grid->addWidget(target, 0, 0, 1, 2);
    grid->addWidget(geo, 1, 0, 1, 2);
    grid->addWidget(xyz, 2, 0, 1, 2);

    auto* left = new QVBoxLayout();
    m_time = AddField(QStringLiteral("time"), page, QStringLiteral("Receiver time: 23:59:59"));
    m_date = AddField(QStringLiteral("date"), page, QStringLiteral("Receiver date: 31.12.2099"));
    m_clockOffset = AddField(QStringLiteral("clockOffset"), page, QStringLiteral("Clock offset: +0.0000 ppm"));
    m_oscOffset = AddField(QStringLiteral("oscOffset"), page, QStringLiteral("Osc. offset: +0.0000 ppm"));
    m_trackingTime = AddField(QStringLiteral("trackingTime"), page, QStringLiteral("Tracking time: 23:59:59"));
    for (QWidget* l : {m_time, m_date, m_clockOffset, m_oscOffset, m_trackingTime}) {
        left->addWidget(l, 0, Qt::AlignLeft);
    }
    left->addStretch(1);
    auto* right = new QVBoxLayout();
    m_velocity = AddField(QStringLiteral("velocity"), page, QStringLiteral("Vel: 999.9999 m/s"));
    m_rmsPos = AddField(QStringLiteral("rmsPos"), page, QStringLiteral("RMS Pos: 99.9999 m"));
    m_rmsVel = AddField(QStringLiteral("rmsVel"), page, QStringLiteral("RMS Vel:  99.9999 m/s"));
    m_pdop = AddField(QStringLiteral("pdop"), page, QStringLiteral("PDOP: 99.9999"));
    m_hdop = AddField(QStringLiteral("hdop"), page, QStringLiteral("HDOP: 99.9999"));
    for (QWidget* l : {m_velocity, m_rmsPos, m_rmsVel, m_pdop, m_hdop}) {
        right->addWidget(l, 0, Qt::AlignLeft);
    }
    right->addStretch(1);
    grid->addLayout(left, 3, 0);
    grid->addLayout(right, 3, 1);
    grid->setRowStretch(4, 1);
    return page;
}

void CMainView::ApplySnapshot(const StatusSnapshot& snapshot)
{
    const int page = CurrentPage();
    m_lastPg = snapshot.lastPg;
    m_location = ShownTexts(snapshot);
    const StatusTexts& s = m_location;
    m_locationStale = true;
    if (page == kLocationPage) {
        ShowLocation();
    }
    SetText(m_summary, s.summary);
    if (m_solution->text() != s.solution) {
        m_solution->setText(s.solution);
        ShowSolutionKind();
    }
    SetText(m_linkQuality, s.linkQuality);
    SetText(m_eventA, s.eventA);
    SetText(m_eventB, s.eventB);
    for (int list = 0; list < kListCount; ++list) {
        SatListView& v = m_lists[size_t(list)];
        if (v.rows != snapshot.lists[size_t(list)]) {
            v.rows = snapshot.lists[size_t(list)];
            v.stale = true;
        }
        // Cell by cell: each changed cell asks for its own repaint, and the view paints them together.
        if (list == page && v.stale) {
            ShowList(list);
        }
    }
}

void CMainView::ShowLocation()
{
    m_locationStale = false;
    const StatusTexts& s = m_location;
    SetText(m_targetLat, s.targetLat);
    SetText(m_targetLon, s.targetLon);
    SetText(m_target, s.target);
    SetText(m_position, s.position);
    SetText(m_cartesian, s.cartesian);
    SetText(m_velocity, s.velocity);
    SetText(m_rmsPos, s.rmsPos);
    SetText(m_rmsVel, s.rmsVel);
    SetText(m_pdop, s.pdop);
    SetText(m_hdop, s.hdop);
    SetText(m_time, s.time);
    SetText(m_date, s.date);
    SetText(m_clockOffset, s.clockOffset);
    SetText(m_oscOffset, s.oscOffset);
    SetText(m_trackingTime, s.trackingTime);
}

void CMainView::CatchUp(int page) const
{
    auto* self = const_cast<CMainView*>(this);
    if (page == kLocationPage && m_locationStale) {
        self->ShowLocation();
    } else if (page >= 0 && page < kListCount && m_lists[size_t(page)].stale) {
        self->ShowList(page);
    }
}

void CMainView::ShowList(int list)
{
    SatListView& v = m_lists[size_t(list)];
    v.stale = false;
    const std::vector<QStringList>& rows = v.rows;
    // A stable sort's order depends only on the key column and the receiver's order, which rarely change between
    // epochs; sort again only when they did.
    QStringList keys;
    keys.reserve(qsizetype(rows.size()));
    for (const QStringList& row : rows) {
        keys << row.value(v.sortColumn);
    }
    if (keys != v.sortKeys || v.sortedColumn != v.sortColumn || v.sortedAscending != v.ascending ||
        v.order.size() != rows.size()) {
        std::vector<QStringList> keyed;
        keyed.reserve(rows.size());
        for (size_t r = 0; r < rows.size(); ++r) {
            // The row's index rides behind the last column, where no comparison looks.
            keyed.push_back(rows[r]);
            while (keyed.back().size() < SatColumnCount(list)) {
                keyed.back() << QString();
            }
            keyed.back() << QString::number(r);
        }
        SortSatRows(keyed, list, v.sortColumn, v.ascending);
        v.order.clear();
        for (const QStringList& row : keyed) {
            v.order.push_back(row.last().toInt());
        }
        v.sortKeys = keys;
        v.sortedColumn = v.sortColumn;
        v.sortedAscending = v.ascending;
    }
    QTreeWidget* tree = v.tree;
    while (tree->topLevelItemCount() > int(rows.size())) {
        delete tree->takeTopLevelItem(tree->topLevelItemCount() - 1);
    }
    while (tree->topLevelItemCount() < int(rows.size())) {
        tree->addTopLevelItem(new QTreeWidgetItem());
    }
    // One change notice per row instead of one per cell: the view measures its first row again at every notice
    // of a cell there, and repaints only the changed span of each row.
    QAbstractItemModel* model = tree->model();
    const int columns = SatColumnCount(list);
    for (int r = 0; r < int(rows.size()); ++r) {
        QTreeWidgetItem* item = tree->topLevelItem(r);
        const QStringList& row = rows[size_t(v.order[size_t(r)])];
        int first = -1;
        int last = -1;
        QSignalBlocker quiet(model);
        for (int c = 0; c < columns; ++c) {
            const QString text = row.value(c);
            if (item->text(c) != text) {
                item->setText(c, text);
                first = first < 0 ? c : first;
                last = c;
            }
        }
        if (first >= 0) {
            quiet.unblock();
            emit model->dataChanged(model->index(r, first), model->index(r, last));
        }
    }
}

void CMainView::ShowSolutionKind()
{
    const SolutionLook look = SolutionLookOf(SolutionKindOf(m_solution->text()));
    m_solution->setToolTip(look.tip);
    m_solution->setStyleSheet(look.background.isValid()
                                  ? QStringLiteral("QLabel { background: %1; color: %2; font-weight: bold; "
                                                   "padding: 1px 4px; }")
                                        .arg(look.background.name(), look.text.name())
                                  : QString());
}

void CMainView::ResetStatus()
{
    ApplySnapshot(ResetSnapshot());
}

void CMainView::ClearEvents()
{
    SetText(m_eventA, QString());
    SetText(m_eventB, QString());
}

void CMainView::SetStopVisible(bool visible)
{
    m_stop->setVisible(visible);
}

bool CMainView::StopVisible() const
{
    return !m_stop->isHidden();
}

int CMainView::CurrentPage() const
{
    return m_tabs->currentIndex();
}

void CMainView::SetCurrentPage(int page)
{
    m_tabs->setCurrentIndex(page);
}

QTreeWidget* CMainView::List(int list) const
{
    return list >= 0 && list < kListCount ? m_lists[size_t(list)].tree : nullptr;
}

std::vector<QStringList> CMainView::ShownRows(int list) const
{
    std::vector<QStringList> rows;
    QTreeWidget* tree = List(list);
    if (!tree) {
        return rows;
    }
    CatchUp(list);
    for (int r = 0; r < tree->topLevelItemCount(); ++r) {
        QStringList row;
        for (int c = 0; c < tree->columnCount(); ++c) {
            row << tree->topLevelItem(r)->text(c);
        }
        rows.push_back(row);
    }
    return rows;
}

QString CMainView::Field(const QString& name) const
{
    CatchUp(kLocationPage);
    if (const auto* field = findChild<CColumnField*>(name)) {
        return field->Text();
    }
    const QLabel* label = findChild<QLabel*>(name);
    return label ? label->text() : QString();
}

void CMainView::OnHeaderClicked(int list, int column)
{
    if (list < 0 || list >= kListCount || column < 0 || column >= SatColumnCount(list)) {
        return;
    }
    SatListView& v = m_lists[size_t(list)];
    v.sortColumn = column;
    v.ascending = !v.ascending;
    ShowList(list);
}

void CMainView::OnPageChanged(int page)
{
    CatchUp(page);
    if (page >= 0 && page < kListCount) {
        QTreeWidget* tree = m_lists[size_t(page)].tree;
        tree->setUpdatesEnabled(true);
        tree->update();
    }
}
