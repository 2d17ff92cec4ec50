#include "app/EpochDispatcher.h"
#include "app/MainView.h"
#include "app/MessageTable.h"
#include "app/StatusLegend.h"
#include "app/StreamFrames.h"

#include "ui/SteadyLabel.h"

#include <QCoreApplication>
#include <QHeaderView>
#include <QLabel>
#include <QRegularExpression>
#include <QSet>
#include <QTextDocumentFragment>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace {

using namespace frames;

QStringList Row(std::initializer_list<const char*> cells)
{
    QStringList row;
    for (const char* c : cells) {
        row << QString::fromUtf8(c);
    }
    return row;
}

// Feeds a whole epoch and takes it as the connection thread does (`running` false: the run has ended).
CEpochDispatcher::Result TakeEpoch(CEpochDispatcher& d, const std::vector<QByteArray>& epoch, bool running = true)
{
    for (const QByteArray& m : epoch) {
        d.Feed(m);
    }
    std::mutex lock;
    const std::atomic<bool> flag{running};
    return d.TakeEpoch(lock, &flag);
}

// The epoch end comes first: the connection thread's wake-up is armed on the first entry.
TEST(MessageTable, EpochEndFirstKeepAllEntriesAndAnEntryForEveryIdAskedFor)
{
    const GpsDataTable table = BuildMessageTable([](const QByteArray&) {});
    ASSERT_FALSE(table.empty());
    EXPECT_EQ(table.front().id, MsgId('|', '|'));
    EXPECT_FALSE(table.front().handler);  // the epoch end only wakes the thread
    std::set<uint16_t> keepAll;
    for (const GPSDATA& e : table) {
        if (e.flag == GPSDATA::kKeepAll) {
            keepAll.insert(e.id);
        }
    }
    EXPECT_EQ(keepAll, (std::set<uint16_t>{MsgId('|', '|'), MsgId('M', 'S'), MsgId('S', 'G'), MsgId('X', 'A'),
                                           MsgId('X', 'B')}));
    // Every id of either set has its entry ("RT" and "EE" arrive as "~~" and "||"); the local set is checked as
    // the receiver is asked for it in AppSimTest.
    for (const QString& name :
         (MessageSetFor(false) + QLatin1Char(',') + QString::fromLatin1(kLocalMessageSet)).split(QLatin1Char(','))) {
        const QByteArray id = name == QLatin1String("RT")   ? QByteArray("~~")
                              : name == QLatin1String("EE") ? QByteArray("||")
                                                            : name.toLatin1();
        EXPECT_TRUE(std::any_of(table.begin(), table.end(), [&](const GPSDATA& e) {
            return e.id == MsgId(id[0], id[1]);
        })) << name.toStdString();
    }
}

TEST(EpochDispatcher, FullEpochFillsTheSatelliteListsAndFields)
{
    CEpochDispatcher d;
    // An epoch taken after its run ended is counted but not decoded.
    EXPECT_EQ(TakeEpoch(d, FullEpoch(), false), CEpochDispatcher::Result::Dispatched);
    EXPECT_TRUE(d.Snapshot().time.isEmpty());
    ASSERT_EQ(TakeEpoch(d, FullEpoch()), CEpochDispatcher::Result::Dispatched);
    EXPECT_EQ(d.LastCount(), 12);
    const StatusSnapshot& s = d.Snapshot();
    EXPECT_EQ(s.time, QStringLiteral("Receiver time: 12:00:00"));
    EXPECT_EQ(s.date, QStringLiteral("Receiver date: 1.6.2024"));
    EXPECT_EQ(s.pdop, QStringLiteral("PDOP:  5.0000"));
    EXPECT_EQ(s.summary, QStringLiteral("Satellites  2 : 1 : 1 : 1"));

    // "*": no almanac yet; "??": unknown values; DC marks after the elevation; TC in minutes from 60 s.
    EXPECT_EQ(s.lists[kListGps],
              (std::vector<QStringList>{Row({"05*", "45  ", "180", "45", "", "", "", "", "60", "00+"}),
                                        Row({"12*", "??^", "??", "??", "", "", "", "", ":30", "05-"})}));
    EXPECT_EQ(s.lists[kListGlonass],
              (std::vector<QStringList>{Row({"03", "-7", "10+", "20", "40", "", "", "", "", "inf", "51+"})}));
    EXPECT_EQ(s.lists[kListGalileo],
              (std::vector<QStringList>{Row({"05", "-5--", "0", "38", "", "", "", "", ":59", "60-"})}));
    EXPECT_EQ(s.lists[kListSbas],
              (std::vector<QStringList>{Row({"125", "30^", "200", "35", "", "", "", "", "1", "03+"})}));
}

TEST(EpochDispatcher, SparseEpochsAndTimeOutsResetTheStatus)
{
    CEpochDispatcher d;
    TakeEpoch(d, FullEpoch());
    ASSERT_FALSE(d.Snapshot().lists[kListGps].empty());
    d.State().SetNoData(false);

    // Seven message types are not enough.
    std::vector<QByteArray> sparse = FullEpoch();
    sparse.erase(sparse.begin() + 2, sparse.begin() + 7);
    EXPECT_EQ(TakeEpoch(d, sparse), CEpochDispatcher::Result::NoData);
    EXPECT_EQ(d.LastCount(), 7);
    EXPECT_TRUE(d.State().NoData());
    for (const auto& list : d.Snapshot().lists) {
        EXPECT_TRUE(list.empty());
    }
    EXPECT_TRUE(d.Snapshot().time.isEmpty());

    // What the sparse epoch left in the table does not count towards the next one.
    EXPECT_EQ(TakeEpoch(d, {Frame("||", QByteArray())}), CEpochDispatcher::Result::NoData);
    EXPECT_EQ(d.LastCount(), 1);

    TakeEpoch(d, FullEpoch());
    d.State().SetNoData(false);
    d.OnTimeout();
    EXPECT_TRUE(d.State().NoData());
    EXPECT_TRUE(d.Snapshot().lists[kListGps].empty());
}

TEST(EpochDispatcher, KeepAllEntriesDecodeEveryMessageOfTheEpoch)
{
    CEpochDispatcher d;
    std::vector<QByteArray> epoch = FullEpoch();
    const QByteArray xa = Frame("XA", Values<qint32>({1, 2}) + Bytes({0}));
    epoch.insert(epoch.begin(), {xa, xa, Frame("XB", Values<qint32>({1, 2}) + Bytes({0})), xa});
    epoch.push_back(MsText(",RTCMST,001,0000,0000,050.00,"));
    epoch.push_back(MsText(",RTCMST,999,0000,0000,100.00,"));
    epoch.push_back(Frame("SE", Bytes({9, 8, 7, 6, 5})));
    TakeEpoch(d, epoch);
    EXPECT_EQ(d.Snapshot().eventA, QStringLiteral("Event A: 3"));
    EXPECT_EQ(d.Snapshot().eventB, QStringLiteral("Event B: 1"));
    // Both link-status texts were decoded in order: the last one, the all-clear, wins.
    EXPECT_TRUE(d.Snapshot().linkQuality.isEmpty());
    EXPECT_EQ(d.LastSe(), Bytes({9, 8, 7, 6, 5}));
}

TEST(EpochDispatcher, BadInputChangesNothingElse)
{
    CEpochDispatcher d;
    TakeEpoch(d, FullEpoch());
    const StatusSnapshot before = d.Snapshot();

    std::vector<QByteArray> epoch = FullEpoch();
    epoch.erase(epoch.begin() + 2, epoch.begin() + 10);  // no satellite messages this time
    const QByteArray xa = Frame("XA", Values<qint32>({1, 2}) + Bytes({0}));
    // A whole marker, then one cut short: the second is not read.
    epoch.push_back(xa + xa.left(8));
    // A text message with a wrong checksum, and one whose length digits are not hex.
    QByteArray badMs = MsText(",RTCMST,001,0000,0000,050.00,");
    badMs[badMs.size() - 1] = badMs.back() == '0' ? '1' : '0';
    epoch.push_back(badMs);
    epoch.push_back("MSZZZ,RTCMST");
    // Bodies shorter than their length digits say; a geodetic position too short to read.
    epoch.push_back(QByteArray("TT0FF") + Bytes({1, 2, 3}));
    epoch.push_back(Frame("PG", Bytes({1, 2, 3})));
    epoch.push_back(Frame("OO", Values<quint32>({0u})));
    TakeEpoch(d, epoch);
    const StatusSnapshot& s = d.Snapshot();
    EXPECT_EQ(s.eventA, QStringLiteral("Event A: 1"));
    EXPECT_TRUE(s.linkQuality.isEmpty());
    EXPECT_TRUE(s.trackingTime.isEmpty());
    EXPECT_EQ(s.position, before.position);
    EXPECT_EQ(s.lists, before.lists);

    // Satellite numbers no list takes show nowhere; a list shorter than "SI" fills only the satellites it has.
    TakeEpoch(
        d, {Frame("~~", Values<quint32>({0u})), Frame("RD", Bytes({0xE8, 7, 6, 1, 0})),
            Frame("SI", Bytes({0, 104, 200, 255, 7, 9})), Frame("EL", Bytes({1, 2, 3, 4, 5})), Frame("AZ", Bytes({1})),
            Frame("TC", Bytes({1, 2, 3})), Frame("DC", Bytes({1})), Frame("NN", Bytes({})), Frame("||", QByteArray())});
    EXPECT_EQ(d.Snapshot().summary, QStringLiteral("Satellites  2 : 0 : 0 : 0"));
    EXPECT_EQ(d.Snapshot().lists[kListGps],
              (std::vector<QStringList>{Row({"07*", "5", "", "", "", "", "", "", "", ""}),
                                        Row({"09*", "", "", "", "", "", "", "", "", ""})}));
}

TEST(EpochDispatcher, ForEachMessageSkipsLineEndsAndStopsAtGarbage)
{
    QList<QByteArray> seen;
    const auto collect = [&](const QByteArray& m) { seen << m; };
    CEpochDispatcher::ForEachMessage(QByteArray("||0011\n\r~~0022x\nQQ"), collect);
    EXPECT_EQ(seen, (QList<QByteArray>{"||0011", "~~0022x"}));
    seen.clear();
    CEpochDispatcher::ForEachMessage(QByteArray("||00G1||0011"), collect);
    EXPECT_TRUE(seen.isEmpty());
    CEpochDispatcher::ForEachMessage(QByteArray("||FFF"), collect);
    EXPECT_TRUE(seen.isEmpty());
}

TEST(SatelliteSort, NumericColumnsByLeadingIntegerOthersAsTextIgnoringCase)
{
    EXPECT_EQ(LeadingInt(QStringLiteral("45^")), 45);
    EXPECT_EQ(LeadingInt(QStringLiteral("-5--")), -5);
    EXPECT_EQ(LeadingInt(QStringLiteral(":30")), 0);
    EXPECT_EQ(LeadingInt(QStringLiteral("99999999999999")), INT32_MAX);

    std::vector<QStringList> rows = {Row({"a", "9"}), Row({"B", "10"}), Row({"c", "-3"})};
    const auto order = [&rows] { return rows[0][0] + rows[1][0] + rows[2][0]; };
    SortSatRows(rows, kListGps, kColEl, true);
    EXPECT_EQ(order(), QStringLiteral("caB"));  // 10 after 9: not compared as text
    SortSatRows(rows, kListGps, kColNumber, false);
    EXPECT_EQ(order(), QStringLiteral("cBa"));
    // In the GLONASS list "EL" is one column further right.
    EXPECT_TRUE(SatColumnIsNumeric(kListGlonass, 2));
    EXPECT_FALSE(SatColumnIsNumeric(kListGlonass, 1));
}

class MainView : public ::testing::Test
{
protected:
    void Show()
    {
        TakeEpoch(m_dispatcher, FullEpoch());
        m_view.ApplySnapshot(m_dispatcher.Snapshot());
    }
    QStringList Column(int list, int column)
    {
        QStringList cells;
        for (const QStringList& row : m_view.ShownRows(list)) {
            cells << row.value(column);
        }
        return cells;
    }

    CEpochDispatcher m_dispatcher;
    CMainView m_view;
};

TEST_F(MainView, StartsOnLocationWithTheInitialTextsAndTheListColumns)
{
    EXPECT_EQ(m_view.CurrentPage(), CMainView::kLocationPage);
    EXPECT_EQ(m_view.Field(QStringLiteral("summary")), QStringLiteral("Satellites  0 : 0 : 0"));
    EXPECT_EQ(m_view.Field(QStringLiteral("solution")), QStringLiteral("No data"));
    EXPECT_EQ(m_view.Field(QStringLiteral("eventA")), QStringLiteral("EVENTA"));
    EXPECT_EQ(m_view.Field(QStringLiteral("eventB")), QStringLiteral("EVENTB"));
    EXPECT_EQ(m_view.Field(QStringLiteral("cartesian")), QStringLiteral("X:\nY:\nZ:"));
    EXPECT_FALSE(m_view.StopVisible());
    QTreeWidget* glonass = m_view.List(kListGlonass);
    ASSERT_NE(glonass, nullptr);
    EXPECT_EQ(glonass->columnCount(), 11);
    EXPECT_EQ(glonass->headerItem()->text(1), QStringLiteral("Fn"));
    EXPECT_TRUE(glonass->isColumnHidden(8));
    EXPECT_FALSE(glonass->isColumnHidden(7));
    for (int c : {4, 5, 6}) {
        EXPECT_TRUE(m_view.List(kListSbas)->isColumnHidden(c)) << c;
    }
    EXPECT_TRUE(m_view.List(kListGps)->isColumnHidden(7));
}

// An epoch touches only the page in view; a page shown later shows the last epoch at once. (Field() and
// ShownRows() catch their page up: the hidden pages are looked at before them.)
TEST_F(MainView, ShowsASnapshotOnThePageInViewSortsByHeaderClicksAndResets)
{
    m_view.SetCurrentPage(kListGps);
    QTreeWidget* glonass = m_view.List(kListGlonass);
    auto* time = m_view.findChild<QLabel*>(QStringLiteral("time"));
    ASSERT_NE(time, nullptr);
    Show();
    EXPECT_EQ(m_view.List(kListGps)->topLevelItemCount(), 2);
    EXPECT_EQ(glonass->topLevelItemCount(), 0);
    EXPECT_TRUE(time->text().isEmpty());
    m_view.SetCurrentPage(kListGlonass);
    EXPECT_EQ(glonass->topLevelItemCount(), 1);
    EXPECT_EQ(glonass->topLevelItem(0)->text(1), QStringLiteral("-7"));
    m_view.SetCurrentPage(CMainView::kLocationPage);
    EXPECT_EQ(time->text(), QStringLiteral("Receiver time: 12:00:00"));
    EXPECT_EQ(m_view.Field(QStringLiteral("summary")), QStringLiteral("Satellites  2 : 1 : 1 : 1"));
    EXPECT_EQ(Column(kListGps, 0), (QStringList{"05*", "12*"}));
    EXPECT_TRUE(m_view.List(kListGps)->updatesEnabled());

    // Each click reverses the direction, also when it picks another column.
    m_view.OnHeaderClicked(kListGps, kColEl);
    EXPECT_EQ(m_view.SortColumn(kListGps), int(kColEl));
    EXPECT_FALSE(m_view.SortAscending(kListGps));
    EXPECT_EQ(Column(kListGps, kColEl), (QStringList{"45  ", "??^"}));
    emit m_view.List(kListGps)->header()->sectionClicked(kColEl);
    EXPECT_EQ(Column(kListGps, kColEl), (QStringList{"??^", "45  "}));
    // The next epoch keeps the order chosen.
    Show();
    EXPECT_EQ(Column(kListGps, 0), (QStringList{"12*", "05*"}));
    m_view.OnHeaderClicked(kListGps, kColTc);
    EXPECT_EQ(Column(kListGps, kColTc), (QStringList{"60", ":30"}));

    m_view.ResetStatus();
    EXPECT_EQ(glonass->topLevelItemCount(), 1);  // hidden: not rebuilt
    m_view.SetCurrentPage(kListGlonass);
    EXPECT_EQ(glonass->topLevelItemCount(), 0);
    for (int list = 0; list < kListCount; ++list) {
        EXPECT_TRUE(m_view.ShownRows(list).empty()) << list;
    }
    EXPECT_EQ(m_view.Field(QStringLiteral("position")), QStringLiteral("Lon:\nLat:\nAlt:"));
    EXPECT_EQ(m_view.Field(QStringLiteral("target")), QStringLiteral("ETT:\nNTT:\nDTT:\nCTT:"));
    EXPECT_EQ(m_view.Field(QStringLiteral("pdop")), QStringLiteral("PDOP:"));
    for (const char* cleared :
         {"time", "date", "trackingTime", "clockOffset", "oscOffset", "linkQuality", "eventA", "eventB", "summary"}) {
        EXPECT_TRUE(m_view.Field(QLatin1String(cleared)).isEmpty()) << cleared;
    }
    EXPECT_EQ(m_view.Field(QStringLiteral("solution")), QStringLiteral("No data"));
}

// The last "PG"'s solution type decides: with type 0 the receiver sends a zero position, keeps the last fix's XYZ
// and speed and old DOPs, and the target distances come from that zero position: all of them show dashes.
TEST_F(MainView, NoDataBeforeAPositionAndDashesForEveryValueWhileTheReceiverHasNoSolution)
{
    const auto epoch = [this](int solution) {
        std::vector<QByteArray> frames = FullEpoch();
        frames.insert(frames.begin(),
                      {Pg(50.5, 14.25, 300, solution),
                       Frame("PV", Floats<double>({1, 2, 3}) + Floats<float>({0, 1, 0, 0, 0}) + Bytes({1}))});
        TakeEpoch(m_dispatcher, frames);
        m_view.ApplySnapshot(m_dispatcher.Snapshot());
        return QStringList{m_view.Field(QStringLiteral("solution")), m_view.Field(QStringLiteral("position")),
                           m_view.Field(QStringLiteral("target")),   m_view.Field(QStringLiteral("cartesian")),
                           m_view.Field(QStringLiteral("velocity")), m_view.Field(QStringLiteral("pdop")),
                           m_view.Field(QStringLiteral("hdop"))};
    };
    Show();
    EXPECT_EQ(m_view.Field(QStringLiteral("solution")), QStringLiteral("No data")) << "satellites, no position yet";
    EXPECT_FALSE(epoch(1).join(QString()).contains(QStringLiteral("—")));
    EXPECT_EQ(epoch(0), (QStringList{"(no solution)", "Lat: —\nLon: —\nAlt: —", "ETT: —\nNTT: —\nDTT: —\nCTT: —",
                                     "X: —\nY: —\nZ: —", "Vel: —", "PDOP: —", "HDOP: —"}));
    EXPECT_EQ(m_view.findChild<QLabel*>(QStringLiteral("target3"))->text(), QStringLiteral("—"));
    EXPECT_FALSE(epoch(4).join(QString()).contains(QStringLiteral("—")));
}

// The solution reads at a glance: each kind its own colour and a tooltip saying what it means; the text stays.
TEST_F(MainView, SolutionIsColouredByKindWithItsMeaningInTheTooltip)
{
    auto* solution = m_view.findChild<QLabel*>(QStringLiteral("solution"));
    ASSERT_NE(solution, nullptr);
    QSet<QString> looks;
    const struct
    {
        const char* text;
        const char* tip;
    } kKinds[] = {{"(no solution)", "No position"}, {"(standalone)", "Standalone"}, {"(code differential)", "DGPS"},
                  {"(RTK float)", "RTK float"},     {"(RTK fixed)", "RTK fixed"},   {"No data", "No data"}};
    for (const auto& kind : kKinds) {
        StatusSnapshot snapshot = m_dispatcher.Snapshot();
        snapshot.solution = QLatin1String(kind.text);
        snapshot.lastPg = QByteArray(30, '\1');
        m_view.ApplySnapshot(snapshot);
        EXPECT_EQ(m_view.Field(QStringLiteral("solution")), QLatin1String(kind.text));
        EXPECT_TRUE(solution->toolTip().startsWith(QLatin1String(kind.tip))) << solution->toolTip().toStdString();
        EXPECT_TRUE(solution->styleSheet().contains(QStringLiteral("background"))) << kind.text;
        looks.insert(solution->styleSheet());
    }
    EXPECT_EQ(looks.size(), 6);
    // The initial text is the standalone kind; a type the receiver does not define shows uncoloured.
    EXPECT_EQ(SolutionKindOf(QStringLiteral("standalone")), SolutionKind::Standalone);
    StatusSnapshot unknown = m_dispatcher.Snapshot();
    unknown.lastPg = QByteArray(30, '\x09');  // a type the receiver does not define decodes to no text
    unknown.solution.clear();
    m_view.ApplySnapshot(unknown);
    EXPECT_TRUE(solution->styleSheet().isEmpty());
    // Every column of every list says what it and its marks mean.
    for (int list = 0; list < kListCount; ++list) {
        for (int c = 0; c < SatColumnCount(list); ++c) {
            EXPECT_FALSE(m_view.List(list)->headerItem()->toolTip(c).isEmpty()) << list << "," << c;
        }
    }
    EXPECT_TRUE(m_view.List(kListGps)->headerItem()->toolTip(kColEl).contains(QStringLiteral("\"^\"")));
    EXPECT_TRUE(m_view.List(kListGlonass)->headerItem()->toolTip(0).startsWith(QStringLiteral("Sn")));
}

// New values repaint their labels only: the window is not laid out again, nothing moves, and every text fits (a
// value wider than foreseen widens its label). The Geo box once showed its values out of line and, without data,
// in the order Lon/Lat: each value stays in the row of its key.
TEST_F(MainView, NewValuesStayInTheirRowsNeitherLayOutThePageNorGetCutOff)
{
    m_view.resize(480, 640);
    m_view.show();
    Show();
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();  // the first layout's own requests
    struct LayoutRequests : QObject
    {
        int count = 0;
        bool eventFilter(QObject*, QEvent* e) override
        {
            count += e->type() == QEvent::LayoutRequest;
            return false;
        }
    } requests;
    m_view.installEventFilter(&requests);
    for (QWidget* w : m_view.findChildren<QWidget*>()) {
        w->installEventFilter(&requests);
    }
    const auto labels = m_view.findChildren<CSteadyLabel*>();
    std::vector<QRect> before;
    for (const CSteadyLabel* l : labels) {
        before.push_back(l->geometry());
    }
    StatusSnapshot next = m_dispatcher.Snapshot();
    next.position = QString::fromUtf8("Lat: 9°5'  2.1234\" S\nLon: 179°59' 59.9999\" W\nAlt:  -12.0000 m");
    next.cartesian = QStringLiteral("X:   -6378137.1234\nY:          1.0000\nZ:    11111111.1111");
    next.time = QStringLiteral("Receiver time: 23:59:58");
    next.summary = QStringLiteral("Satellites  12 : 10 : 9 : 3");
    m_view.ApplySnapshot(next);
    QCoreApplication::processEvents();
    EXPECT_EQ(requests.count, 0);
    for (qsizetype i = 0; i < labels.size(); ++i) {
        EXPECT_EQ(labels[i]->geometry(), before[size_t(i)]) << labels[i]->objectName().toStdString();
    }
    const auto row = [this](int i) { return m_view.findChild<QLabel*>(QStringLiteral("position%1").arg(i)); };
    EXPECT_EQ(m_view.Field(QStringLiteral("position")), next.position);
    EXPECT_EQ(row(0)->text(), QString::fromUtf8("9°5'  2.1234\" S"));
    EXPECT_EQ(row(1)->text(), QString::fromUtf8("179°59' 59.9999\" W"));
    EXPECT_EQ(row(2)->text(), QStringLiteral("-12.0000 m"));
    EXPECT_LT(row(0)->y(), row(2)->y());
    EXPECT_EQ(row(0)->geometry().right(), row(2)->geometry().right());

    next.velocity = QStringLiteral("Vel: 123456.7890 m/s");
    m_view.ApplySnapshot(next);
    for (const CSteadyLabel* l : labels) {
        EXPECT_GE(l->width(), l->fontMetrics().horizontalAdvance(l->text())) << l->objectName().toStdString();
    }
    m_view.ResetStatus();
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(row(i)->text().isEmpty()) << i;
    }
    m_view.hide();
}

// Every abbreviation the main view shows (the Location page's keys, the status fields, every list's column titles
// with L5 and L3) has a tooltip where it is shown and an entry in the Status Legend.
TEST_F(MainView, EveryAbbreviationShownHasATooltipAndALegendEntry)
{
    const QString legend = QTextDocumentFragment::fromHtml(StatusLegendText()).toPlainText();
    const auto inLegend = [&legend](const QString& key) {
        return legend.contains(QRegularExpression(QStringLiteral("(^|\\n)%1\\s").arg(QRegularExpression::escape(key))));
    };
    QStringList keys;
    for (const QLabel* label : m_view.findChildren<QLabel*>()) {
        // Keys of a box end in a colon; a status field is named by the key its text starts with.
        if (label->text().endsWith(QLatin1Char(':')) && !qobject_cast<const CSteadyLabel*>(label)) {
            keys << label->text().chopped(1);
            EXPECT_FALSE(label->toolTip().isEmpty()) << keys.last().toStdString();
        } else if (QStringList{"velocity", "rmsPos", "rmsVel", "pdop", "hdop", "oscOffset", "clockOffset",
                               "linkQuality"}
                       .contains(label->objectName())) {
            keys << label->accessibleName();
            EXPECT_FALSE(label->toolTip().isEmpty()) << keys.last().toStdString();
        }
    }
    for (int list = 0; list < kListCount; ++list) {
        keys << SatColumnTitles(list);
    }
    EXPECT_GE(keys.size(), 60);
    for (const QString& key : keys) {
        EXPECT_TRUE(inLegend(key)) << key.toStdString();
    }
    EXPECT_TRUE(legend.contains(QStringLiteral("East to target")) && legend.contains(QStringLiteral("L5 signal")));
}

}  // namespace
