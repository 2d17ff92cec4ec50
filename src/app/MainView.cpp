#include "app/MainView.h"

#include "app/ColumnField.h"
#include "app/StatusLegend.h"

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

void SetText(QLabel* label, const QString& text)
{
    if (label->text() != text) {
        label->setText(text);
    }
}

void SetText(CColumnField* field, const QString& text)
{
    field->SetText(text);
}

}  // namespace

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
        auto* tree = new QTreeWidget(m_tabs);
        tree->setObjectName(QLatin1String(kListObjects[list]));
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
    m_summary = AddField(QStringLiteral("summary"), this);
    m_solution = AddField(QStringLiteral("solution"), this);
    m_linkQuality = AddField(QStringLiteral("linkQuality"), this);
    m_eventA = AddField(QStringLiteral("eventA"), this);
    m_eventB = AddField(QStringLiteral("eventB"), this);
    m_stop = new QPushButton(QStringLiteral("Stop"), this);
    m_stop->setObjectName(QStringLiteral("stopButton"));
    m_stop->hide();
    connect(m_stop, &QPushButton::clicked, this, &CMainView::StopClicked);
    below->addWidget(m_summary, 0, 0);
    below->addWidget(m_solution, 0, 1, Qt::AlignLeft);  // coloured as wide as its text
    below->addWidget(m_linkQuality, 1, 0, 1, 2);
    below->addWidget(m_eventA, 2, 0);
    below->addWidget(m_eventB, 2, 1);
    below->addWidget(m_stop, 3, 0, 1, 2);
    layout->addLayout(below);

    // The texts before the first connect.
    m_summary->setText(QStringLiteral("Satellites  0 : 0 : 0"));
    m_solution->setText(QStringLiteral("standalone"));
    m_summary->setToolTip(SatSummaryTip());
    ShowSolutionKind();
    m_eventA->setText(QStringLiteral("EVENTA"));
    m_eventB->setText(QStringLiteral("EVENTB"));
    const StatusSnapshot initial = ResetSnapshot();
    m_targetLat->SetText(initial.targetLat);
    m_targetLon->SetText(initial.targetLon);
    m_target->SetText(initial.target);
    m_position->SetText(initial.position);
    m_cartesian->SetText(initial.cartesian);
    m_velocity->setText(initial.velocity);
    m_rmsPos->setText(initial.rmsPos);
    m_rmsVel->setText(initial.rmsVel);
    m_pdop->setText(initial.pdop);
    m_hdop->setText(initial.hdop);
}

QLabel* CMainView::AddField(const QString& name, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
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
    auto [target, targetLayout] = box(QStringLiteral("Target"));
    m_targetLat = new CColumnField(QStringLiteral("targetLat"), {lat}, targetLayout, 0, target);
    m_targetLon = new CColumnField(QStringLiteral("targetLon"), {lon}, targetLayout, 1, target);
    m_target = new CColumnField(QStringLiteral("target"), {"ETT:", "NTT:", "DTT:", "CTT:"}, targetLayout, 2, target);
    auto [geo, geoLayout] = box(QStringLiteral("Geo"));
    m_position = new CColumnField(QStringLiteral("position"), {lat, lon, QStringLiteral("Alt:")}, geoLayout, 0, geo);
    auto [xyz, xyzLayout] = box(QStringLiteral("XYZ"));
    m_cartesian = new CColumnField(QStringLiteral("cartesian"), {"X:", "Y:", "Z:"}, xyzLayout, 0, xyz);

    grid->addWidget(target, 0, 0, 1, 2);
    grid->addWidget(geo, 1, 0, 1, 2);
    grid->addWidget(xyz, 2, 0, 1, 2);

    auto* left = new QVBoxLayout();
    m_time = AddField(QStringLiteral("time"), page);
    m_date = AddField(QStringLiteral("date"), page);
    m_clockOffset = AddField(QStringLiteral("clockOffset"), page);
    m_oscOffset = AddField(QStringLiteral("oscOffset"), page);
    m_trackingTime = AddField(QStringLiteral("trackingTime"), page);
    for (QLabel* l : {m_time, m_date, m_clockOffset, m_oscOffset, m_trackingTime}) {
        left->addWidget(l);
    }
    left->addStretch(1);
    auto* right = new QVBoxLayout();
    m_velocity = AddField(QStringLiteral("velocity"), page);
    m_rmsPos = AddField(QStringLiteral("rmsPos"), page);
    m_rmsVel = AddField(QStringLiteral("rmsVel"), page);
    m_pdop = AddField(QStringLiteral("pdop"), page);
    m_hdop = AddField(QStringLiteral("hdop"), page);
    for (QLabel* l : {m_velocity, m_rmsPos, m_rmsVel, m_pdop, m_hdop}) {
        right->addWidget(l);
    }
    right->addStretch(1);
    grid->addLayout(left, 3, 0);
    grid->addLayout(right, 3, 1);
    grid->setRowStretch(4, 1);
    return page;
}

void CMainView::ApplySnapshot(const StatusSnapshot& s)
{
    const int page = CurrentPage();
    QTreeWidget* current = page < kListCount ? m_lists[size_t(page)].tree : nullptr;
    if (current) {
        current->setUpdatesEnabled(false);
    }
    m_lastPg = s.lastPg;
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
    SetText(m_summary, s.summary);
    if (m_solution->text() != s.solution) {
        m_solution->setText(s.solution);
        ShowSolutionKind();
    }
    SetText(m_linkQuality, s.linkQuality);
    SetText(m_eventA, s.eventA);
    SetText(m_eventB, s.eventB);
    for (int list = 0; list < kListCount; ++list) {
        m_lists[size_t(list)].rows = s.lists[size_t(list)];
        ShowList(list);
    }
    if (current) {
        current->setUpdatesEnabled(true);
    }
}

void CMainView::ShowList(int list)
{
    SatListView& v = m_lists[size_t(list)];
    std::vector<QStringList> rows = v.rows;
    SortSatRows(rows, list, v.sortColumn, v.ascending);
    QTreeWidget* tree = v.tree;
    while (tree->topLevelItemCount() > int(rows.size())) {
        delete tree->takeTopLevelItem(tree->topLevelItemCount() - 1);
    }
    while (tree->topLevelItemCount() < int(rows.size())) {
        tree->addTopLevelItem(new QTreeWidgetItem());
    }
    const int columns = SatColumnCount(list);
    for (int r = 0; r < int(rows.size()); ++r) {
        QTreeWidgetItem* item = tree->topLevelItem(r);
        for (int c = 0; c < columns; ++c) {
            const QString text = rows[size_t(r)].value(c);
            if (item->text(c) != text) {
                item->setText(c, text);
            }
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
    m_eventA->clear();
    m_eventB->clear();
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
    if (page >= 0 && page < kListCount) {
        QTreeWidget* tree = m_lists[size_t(page)].tree;
        tree->setUpdatesEnabled(true);
        tree->update();
    }
}
