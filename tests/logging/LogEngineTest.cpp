#include "link/Checksum.h"
#include "link/CommandText.h"
#include "logging/ForeignSplitter.h"
#include "logging/LogEngine.h"
#include "logging/LogSelection.h"
#include "sim/SimForeign.h"
#include "sim/SimMessages.h"
#include "support/MemoryMedium.h"
#include "support/SimHarness.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <future>
#include <limits>
#include <map>
#include <mutex>
#include <thread>

namespace {

QByteArray Frame(const char* id, const QByteArray& body)
{
    QByteArray f =
        QByteArray(id, 2) + QByteArray::number(int(body.size() + 1), 16).toUpper().rightJustified(3, '0') + body;
    return f + char(Checksum8(f.constData(), size_t(f.size())));
}

QByteArray U32(uint32_t v)
{
    return QByteArray(reinterpret_cast<const char*>(&v), 4);
}

QByteArray Time(int64_t ms)
{
    return Frame("~~", U32(uint32_t(ms)));
}

QByteArray Date(int y, int m, int d)
{
    return Frame("RD", QByteArray(1, char(y & 0xFF)) + char(y >> 8) + char(m) + char(d) + '\0');
}

constexpr int64_t Hms(int h, int m, double s)
{
    return int64_t((h * 3600 + m * 60) * 1000 + s * 1000);
}

const QByteArray kMf = "MF009KV01010BF";
const QByteArray kKv = "KV055RLOGF" + QByteArray(80, ' ');

// One epoch in the receiver's order; the satellite list only when it changed.
QList<QByteArray> Epoch(int64_t ms, int day, bool withSats)
{
    QList<QByteArray> e{Time(ms), Date(2026, 12, day)};
    if (withSats) {
        e << Frame("SI", QByteArray("\x05\x0C\x2D", 3)) << Frame("NN", QByteArray("\x07", 1));
    }
    e << Frame("PG", QByteArray(29, char(ms % 97))) << Frame("||", QByteArray());
    return e;
}

// A KVS file's records (each frame followed by its LF).
QList<QByteArray> Records(const QByteArray& file)
{
    QList<QByteArray> out;
    int at = 0;
    while (at + 5 <= file.size()) {
        const int len = file.mid(at + 2, 3).toInt(nullptr, 16);
        out << file.mid(at, 5 + len);
        at += 5 + len;
        EXPECT_EQ(file[at], '\n') << "record without its LF at " << at;
        ++at;
    }
    EXPECT_EQ(at, file.size());
    return out;
}

struct Recording
{
    QTemporaryDir dir;
    CLogEngine engine;
    QStringList done;

    Recording()
    {
        engine.SetFileDoneCallback([this](const QString& p) { done << QFileInfo(p).fileName(); });
    }
    LogOptions Options()
    {
        LogOptions o;
        o.folder = dir.path() + QLatin1Char('/');
        o.prefix = QStringLiteral("Site");
        o.every = 1;
        o.unitSeconds = 60;
        return o;
    }
    void Feed(const QList<QByteArray>& frames, int channel = 0)
    {
        for (const QByteArray& f : frames) {
            engine.Feed(f.constData(), int(f.size()), channel);
        }
    }
};

TEST(LogBoundary, FirstBoundaryAndOneStepAfterGaps)
{
    struct Case
    {
        double seconds;
        int unit, every;
        int64_t first;
    } cases[] = {
        {10 * 3600 + 7 * 60 + 30, 60, 15, 615},  // 607 + 1 = 608, raised to 615 (10:15)
        {10 * 3600, 60, 15, 615},                // on a boundary: the next one
        {0, 86400, 1, 1},
        {23 * 3600, 3600, 6, 24},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FirstBoundary(c.seconds, c.unit, c.every), c.first) << c.seconds;
    }
    EXPECT_EQ(BoundaryAfter(615.0, 15), 630);
    EXPECT_EQ(BoundaryAfter(662.025, 15), 675);  // after a gap from 10:14 to 11:02, not one file per epoch
    EXPECT_EQ(DayNumber(2026, 12, 7) - DayNumber(2026, 12, 6), 1);
    EXPECT_EQ(DayNumber(2024, 3, 1) - DayNumber(2024, 2, 28), 2);
}

// Three rotations: the joined files hold every message once and in order, each file starts at an epoch with
// its own header, and an existing file is never replaced.
TEST(LogEngine, ThreeRotationsKeepEveryMessageOnceAndNoEpochSplit)
{
    Recording r;
    ASSERT_TRUE(WriteFile(r.dir.path() + QStringLiteral("/Site002.kvs"), "keep"));

    r.Feed({Time(Hms(10, 7, 30)), Date(2026, 12, 6)});  // before Start, as the dialog's RT:1,RD:1 give them
    LogOptions o = r.Options();
    ASSERT_TRUE(r.engine.Start(o));
    EXPECT_EQ(r.engine.NextBoundary(), 608);

    QList<QByteArray> sent{kKv, kMf};
    for (int s = 1; s <= 180; ++s) {
        sent << Epoch(Hms(10, 7, 30 + s), 6, s == 1 || s == 100);
        if (s == 10) {
            sent << kKv << kMf;  // repeated by the receiver: dropped
        }
    }
    r.Feed(sent);
    r.engine.Stop();

    EXPECT_EQ(r.done, (QStringList{"Site001.kvs", "Site003.kvs", "Site004.kvs", "Site005.kvs"}));
    EXPECT_EQ(ReadFile(r.dir.path() + QStringLiteral("/Site002.kvs")), QByteArray("keep"));

    QList<QByteArray> joined;
    for (int i = 0; i < r.done.size(); ++i) {
        QList<QByteArray> recs = Records(ReadFile(r.dir.path() + QLatin1Char('/') + r.done[i]));
        ASSERT_GE(recs.size(), 5);
        if (i == 0) {
            // The first message, then MF followed at once by the saved date and time.
            EXPECT_EQ(recs[0], kKv);
            EXPECT_EQ(recs[1], kMf);
            EXPECT_EQ(recs[2], Date(2026, 12, 6));
            EXPECT_EQ(recs[3], Time(Hms(10, 7, 30)));
            recs.remove(2, 2);
        } else {
            // MF, date, the time of the epoch on the boundary, the last satellite lists; then the epoch.
            EXPECT_EQ(recs[0], kMf);
            EXPECT_EQ(recs[1].left(2), "RD");
            EXPECT_EQ(recs[2], Time(Hms(10, 7 + i, 0))) << r.done[i].toStdString();
            EXPECT_EQ(recs[3].left(2), "SI");
            EXPECT_EQ(recs[4].left(2), "NN");
            recs.remove(3, 2);
            recs.remove(0, 2);
        }
        if (i + 1 < r.done.size()) {
            EXPECT_EQ(recs.last(), Frame("||", QByteArray()))
                << "epoch split at the end of " << r.done[i].toStdString();
        }
        joined += recs;
    }
    QList<QByteArray> expected = sent;
    expected.removeAt(expected.indexOf(kKv, 2));
    expected.removeAt(expected.indexOf(kMf, 2));
    ASSERT_EQ(joined.size(), expected.size());
    EXPECT_TRUE(joined == expected);
    const LogCounts c = r.engine.Counts();
    EXPECT_EQ(c.files, 4);
    int64_t total = 0;
    for (const QString& n : r.done) {
        total += QFileInfo(r.dir.path() + QLatin1Char('/') + n).size();
    }
    EXPECT_EQ(c.bytes, total);  // what was really written, headers included
}

// KVS per-file rules: date and time held back until MF, a second MF dropped; other types as delivered.
TEST(LogEngine, FirstFileRulesAndOtherTypes)
{
    Recording r;
    r.Feed({Time(Hms(8, 0, 0)), Date(2026, 12, 6)});
    ASSERT_TRUE(r.engine.Start(r.Options()));
    const QByteArray pg = Frame("PG", QByteArray(29, 'x'));
    r.Feed({pg, Time(Hms(8, 0, 1)), kMf, kKv, Time(Hms(8, 0, 2)), kMf, pg});
    r.Feed({pg}, 2);  // another channel: not this recording's
    r.engine.Stop();
    const QList<QByteArray> recs = Records(ReadFile(r.dir.path() + QStringLiteral("/Site001.kvs")));
    EXPECT_TRUE(recs == (QList<QByteArray>{pg, kMf, Date(2026, 12, 6), Time(Hms(8, 0, 1)), Time(Hms(8, 0, 2)), pg}));

    Recording n;
    LogOptions o = n.Options();
    o.type = LogType::Nmea;
    o.counter = 7;
    o.prefix = QStringLiteral("A");
    ASSERT_TRUE(n.engine.Start(o));
    const QByteArray gga = "$GPGGA,100730.00,5000.0,N,01400.0,E,1,08,0.9,300.0,M,45.0,M,,*47\r\n";
    n.Feed({gga, gga}, 2);
    n.Feed({Time(Hms(8, 0, 1))}, 0);
    n.engine.Stop();
    EXPECT_EQ(n.done, QStringList{"A007.nmea"});
    EXPECT_EQ(ReadFile(n.dir.path() + QStringLiteral("/A007.nmea")), gga + gga);
}

// Day files across midnight, date-and-time names, time jitter, a gap and a jump back: one file change each at
// most, each file from the epoch on its boundary and named after the boundary.
TEST(LogEngine, MidnightGapsAndTimeJumps)
{
    Recording r;
    r.Feed({Time(Hms(23, 59, 50)), Date(2026, 12, 6)});
    LogOptions o = r.Options();
    o.unitSeconds = 86400;
    o.timeNames = true;
    ASSERT_TRUE(r.engine.Start(o));
    for (int s = 51; s < 60 + 20; ++s) {
        // The receiver's order: the time of the new day before its date.
        r.Feed(Epoch(Hms(0, 0, s % 60) + (s < 60 ? Hms(23, 59, 0) : 0), s < 60 ? 6 : 7, false));
    }
    EXPECT_EQ(r.engine.NextBoundary(), 2);
    r.engine.Stop();
    EXPECT_EQ(r.done, (QStringList{"Site261206 235950.kvs", "Site261207 000000.kvs"}));
    const QList<QByteArray> day = Records(ReadFile(r.dir.filePath(r.done[1])));
    ASSERT_GE(day.size(), 3);
    EXPECT_EQ(day[1], Date(2026, 12, 7)) << "the new day's date, before the time it belongs to";
    EXPECT_EQ(day[2], Time(0));

    // Epochs a little before the whole second, at an interval measured from the stream: the epoch within half an
    // interval of the boundary opens the new file, named after the boundary.
    Recording j;
    j.Feed({Time(Hms(10, 13, 56.6)), Date(2026, 12, 6), Time(Hms(10, 13, 57.6))});
    o = j.Options();
    o.timeNames = true;
    o.interval = 0;
    ASSERT_TRUE(j.engine.Start(o));
    for (double s : {58.6, 59.6, 60.6}) {
        j.Feed(Epoch(Hms(10, 13, s), 6, false));
    }
    j.engine.Stop();
    ASSERT_EQ(j.done, (QStringList{"Site261206 101357.kvs", "Site261206 101400.kvs"}));
    EXPECT_EQ(Records(ReadFile(j.dir.filePath(j.done[1]))).value(2), Time(Hms(10, 13, 59.6)));

    // A date-and-time name waits for the receiver's date and the first epoch after it.
    Recording w;
    o = w.Options();
    o.timeNames = true;
    ASSERT_TRUE(w.engine.Start(o));
    w.Feed({Time(Hms(10, 0, 0)), Date(2026, 12, 6), Time(Hms(10, 0, 1)), Date(2026, 12, 6)});
    w.engine.Stop();
    EXPECT_EQ(w.done, QStringList{"Site261206 100001.kvs"});

    Recording g;
    g.Feed({Time(Hms(10, 13, 58)), Date(2026, 12, 6)});
    o = g.Options();
    o.every = 15;
    ASSERT_TRUE(g.engine.Start(o));
    g.Feed(Epoch(Hms(10, 13, 59), 6, true));
    g.Feed(Epoch(Hms(11, 2, 0), 6, false));  // a gap
    EXPECT_EQ(g.engine.NextBoundary(), 675);
    g.Feed(Epoch(Hms(11, 2, 1), 6, false));
    g.Feed(Epoch(Hms(9, 0, 0), 6, false));  // the receiver's time jumped back
    EXPECT_EQ(g.engine.NextBoundary(), 555);
    g.Feed(Epoch(Hms(9, 0, 1), 6, false));
    g.engine.Stop();
    EXPECT_EQ(g.done.size(), 2);
}

TEST(LogEngine, DiskFullStopsAtOnceWithTheLostCountAndKeepsEveryEarlierByte)
{
    MemoryMedium disk;
    disk.capacity = 5000;
    CLogEngine engine([&disk] { return std::make_unique<CMemoryMediumWriter>(&disk); });
    QStringList stops;
    engine.SetStoppedCallback([&stops](const QString& why) { stops << why; });
    LogOptions o;
    o.type = LogType::Cmr;  // written as delivered, so the medium must be an exact prefix of the stream
    o.flushBytes = 700;
    ASSERT_TRUE(engine.Start(o));
    QByteArray all;
    QList<int> ends;
    for (int s = 1; s < 200; ++s) {
        for (const QByteArray& f : Epoch(Hms(8, 0, s), 6, false)) {
            engine.Feed(f.constData(), int(f.size()), 1);
            all += f;
            ends << int(all.size());
        }
    }
    engine.Stop();
    EXPECT_EQ(engine.GetState(), CLogEngine::State::Failed);
    EXPECT_EQ(stops, QStringList{"No space left on device"});
    EXPECT_EQ(engine.LastError(), "No space left on device");
    const LogCounts c = engine.Counts();
    const QByteArray medium = disk.files.begin()->second;
    EXPECT_GT(c.lostMessages, 0);
    EXPECT_GT(c.lostBytes, 0);
    EXPECT_LE(medium.size(), 5000);
    EXPECT_GT(medium.size(), 3000);
    EXPECT_EQ(c.bytes, medium.size());               // nothing counted after the failure, nor the lost
    EXPECT_EQ(medium, all.left(medium.size()));      // every earlier byte
    EXPECT_TRUE(ends.contains(int(medium.size())));  // and no half message
}

// The last flush of a file fails, inside a file change or inside Stop, by a full medium or a failing close: the
// engine stops with the error, every file holds whole records only, a failed file is never reported finished,
// and the counts are what is on the medium, the rest lost.
TEST(LogEngine, AFailedLastFlushLeavesWholeRecordsAndHonestCounts)
{
    for (const bool inStop : {false, true}) {
        for (const bool closeFails : {false, true}) {
            SCOPED_TRACE(std::string(inStop ? "Stop" : "file change") + (closeFails ? ", close fails" : ", full"));
            MemoryMedium disk;
            const auto frozen = std::chrono::steady_clock::now();  // nothing is written on its own
            CLogEngine engine([&disk] { return std::make_unique<CMemoryMediumWriter>(&disk); },
                              [frozen] { return frozen; });
            QStringList stops, done;
            engine.SetStoppedCallback([&stops](const QString& why) { stops << why; });
            engine.SetFileDoneCallback([&done](const QString& path) { done << QFileInfo(path).fileName(); });
            LogOptions o;
            o.folder = QStringLiteral("/nonexistent/");
            o.every = 1;
            o.flushBytes = 1 << 20;
            const QByteArray start[] = {Time(Hms(10, 7, 30)), Date(2026, 12, 6)};
            for (const QByteArray& f : start) {
                engine.Feed(f.constData(), int(f.size()), 0);
            }
            ASSERT_TRUE(engine.Start(o));
            QList<QByteArray> frames{kKv, kMf};
            for (int s = 31; s < 60; ++s) {
                frames << Epoch(Hms(10, 7, s), 6, s == 31);
            }
            for (qsizetype k = 0; k < frames.size(); ++k) {
                engine.Feed(frames[k].constData(), int(frames[k].size()), 0);
                if (k == frames.size() / 2) {
                    engine.Flush();  // some whole records on the medium before
                }
            }
            const LogCounts before = engine.Counts();
            ASSERT_GT(disk.Used(), 0);
            ASSERT_GT(before.bytes, disk.Used()) << "bytes wait for the last flush";
            disk.capacity = closeFails ? disk.capacity : disk.Used() + (before.bytes - disk.Used()) / 2;
            disk.closeFails = closeFails;
            if (inStop) {
                engine.Stop();
            } else {
                const QList<QByteArray> boundary = Epoch(Hms(10, 8, 0), 6, false);
                for (const QByteArray& f : boundary) {
                    engine.Feed(f.constData(), int(f.size()), 0);
                }
                EXPECT_EQ(stops.size(), 1);
            }
            EXPECT_EQ(engine.GetState(), CLogEngine::State::Failed);
            EXPECT_EQ(engine.LastError(), closeFails ? "Input/output error" : "No space left on device");
            EXPECT_TRUE(done.isEmpty()) << done.join(',').toStdString();
            ASSERT_EQ(disk.files.size(), 1u);
            const QList<QByteArray> records = Records(disk.files.begin()->second);
            const LogCounts c = engine.Counts();
            EXPECT_EQ(c.bytes, disk.Used());
            EXPECT_EQ(c.messages, records.size());
            int64_t byType = 0;
            for (const auto& [id, n] : c.byType) {
                byType += n;
            }
            EXPECT_EQ(byType, c.messages);
            EXPECT_EQ(c.messages + c.lostMessages, before.messages);
            EXPECT_EQ(c.lostMessages > 0, !closeFails);
        }
    }
}

// A medium that stalls until the test opens its gate.
struct Gate
{
    std::mutex mutex;
    std::condition_variable opened;
    bool open = false;
    std::atomic<int64_t> written{0};
};

class GatedWriter : public ILogFileWriter
{
public:
    explicit GatedWriter(Gate* gate) : m_gate(gate) {}
    bool Create(const QString&, bool, QString*) override { return true; }
    bool Write(const char*, int64_t size, QString*) override
    {
        std::unique_lock lock(m_gate->mutex);
        m_gate->opened.wait(lock, [this] { return m_gate->open; });
        m_gate->written += size;
        return true;
    }
    void Truncate(int64_t) override {}
    bool Close(QString*) override { return true; }

private:
    Gate* m_gate;
};

// The link never waits for a medium that stalls (one block is written while the next gathers), and bytes that
// waited a second reach the medium with nothing more arriving.
TEST(LogEngine, WritesBehindTheFeedAndWithinASecondOnItsOwn)
{
    Gate gate;
    std::atomic<int64_t> nowMs{0};
    CLogEngine engine([&gate] { return std::make_unique<GatedWriter>(&gate); },
                      [&nowMs] { return std::chrono::steady_clock::time_point(std::chrono::milliseconds(nowMs)); });
    LogOptions o;
    o.type = LogType::Cmr;
    o.flushBytes = 1000;
    ASSERT_TRUE(engine.Start(o));
    const QByteArray pg = Frame("PG", QByteArray(29, 'p'));
    auto feeding = std::async(std::launch::async, [&] {
        for (int k = 0; k < 45; ++k) {
            engine.Feed(pg.constData(), int(pg.size()), 1);
        }
    });
    const bool fed = feeding.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    EXPECT_TRUE(fed) << "the feed waited for the medium";
    EXPECT_EQ(gate.written, 0);
    {
        std::lock_guard lock(gate.mutex);
        gate.open = true;
    }
    gate.opened.notify_all();
    feeding.wait();
    nowMs = CLogEngine::kFlushMs + 1;
    for (int k = 0; k < 500 && gate.written < 45 * pg.size(); ++k) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(gate.written, 45 * pg.size());
    engine.Stop();
}

TEST(LogSelection, ListRepliesSavedSelectionsAndTheCatalogue)
{
    EXPECT_EQ(ParseMessageList(QStringLiteral("{PG,PV,DP}"), LogType::Kvs), (QStringList{"PG", "PV", "DP"}));
    EXPECT_EQ(ParseMessageList(QStringLiteral(" {1,03,LONGNAME9}"), LogType::Rtcm), (QStringList{"1", "", "LONGNAM"}));
    EXPECT_TRUE(ParseMessageList(QStringLiteral("{PG,PV"), LogType::Kvs).isEmpty());

    std::vector<LogMessageEntry> rows{{"PG", false, {}}, {"PV", false, {}}, {"RT", false, {}}, {"", false, {}}};
    struct Case
    {
        const char* saved;
        std::vector<bool> marks;
        const char* savedAgain;
    } cases[] = {
        {"ALL", {true, true, true, false}, ",PG,PV,RT,"},
        {",", {false, false, false, false}, ","},
        {",PV,", {false, true, false, false}, ",PV,"},
        {",PVX,P,", {false, false, false, false}, ","},
    };
    for (const Case& c : cases) {
        ApplySavedSelection(rows, QString::fromLatin1(c.saved));
        for (size_t i = 0; i < rows.size(); ++i) {
            EXPECT_EQ(rows[i].use, c.marks[i]) << c.saved << " row " << i;
        }
        EXPECT_EQ(SavedSelection(rows), QString::fromLatin1(c.savedAgain));
    }
    ApplySavedSelection(rows, QStringLiteral("ALL"));
    EXPECT_EQ(SelectedMessages(rows), (QStringList{"PG", "PV"}));  // RT comes with every recording

    // The section decides, whichever line ends are used; "PG" is not "PGX".
    for (const char* eol : {"\r\n", "\n"}) {
        const QByteArray cat = QByteArray("kvs") + eol + "PGX Other" + eol + "PG Geodetic Position 3.2.5.4" + eol +
                               "nmea" + eol + "PG Not this one" + eol + "GGA Fix data" + eol;
        EXPECT_EQ(CatalogueDescription(cat, LogType::Kvs, QStringLiteral("PG")), "Geodetic Position 3.2.5.4");
        EXPECT_EQ(CatalogueDescription(cat, LogType::Nmea, QStringLiteral("PG")), "Not this one");
        EXPECT_EQ(CatalogueDescription(cat, LogType::Rtcm, QStringLiteral("PG")), "");
    }
    const QByteArray longLine = "kvs\nPG " + QByteArray(100, 'd') + "\n";
    EXPECT_EQ(CatalogueDescription(longLine, LogType::Kvs, QStringLiteral("PG")).size(), kMaxDescriptionLength);

    // Without a file beside the program the built-in catalogue (CR LF lines) describes every message the
    // receiver lists; a file there takes its place.
    QTemporaryDir folder;
    const QByteArray builtIn = LoadCatalogue(folder.path());
    EXPECT_EQ(CatalogueDescription(builtIn, LogType::Kvs, QStringLiteral("PG")), "Geodetic Position 3.2.5.4");
    for (const QString& id : KnownKvsIds()) {
        const QString name = KvsMessageName(id.toLatin1());
        EXPECT_FALSE(CatalogueDescription(builtIn, LogType::Kvs, name).isEmpty()) << name.toStdString();
    }
    EXPECT_EQ(CatalogueDescription(builtIn, LogType::Nmea, QStringLiteral("GSV")), "Satellites in view");
    EXPECT_FALSE(CatalogueDescription(builtIn, LogType::Rtcm, QStringLiteral("1004")).isEmpty());
    ASSERT_TRUE(WriteFile(QDir(folder.path()).filePath(QStringLiteral("comment.txt")), "kvs\nPG Mine\n"));
    EXPECT_EQ(CatalogueDescription(LoadCatalogue(folder.path()), LogType::Kvs, QStringLiteral("PG")), "Mine");
}

// 45 messages make a line too long for the receiver: several statements, each short enough, none lost.
TEST(LogSelection, LongSelectionsAreSplitIntoStatements)
{
    QStringList ids;
    for (int i = 0; i < kMaxSelectedMessages; ++i) {
        ids << QStringLiteral("M%1").arg(i, 2, 10, QLatin1Char('0'));
    }
    const QStringList lines = EmStatements(LogType::Kvs, ids, QStringLiteral("1.00"));
    EXPECT_GT(lines.size(), 1);
    QStringList joined;
    for (const QString& line : lines) {
        EXPECT_LE(line.size(), kMaxEmLength);
        ASSERT_TRUE(line.startsWith("em,,kvs/"));
        joined += line.mid(4).split(',');
    }
    EXPECT_EQ(joined.size(), kMaxSelectedMessages);
    EXPECT_EQ(joined.first(), "kvs/M00:{1.00}");
    EXPECT_EQ(EmStatements(LogType::Nmea, {"GGA"}, "0.05"), QStringList{"em,,nmea/GGA:{0.05}"});
    EXPECT_EQ(EmStatements(LogType::Rtcm, {"1", "1004"}, "1"), QStringList{"em,,rtcm/1:{1},rtcm3/1004:{1}"});
}

// NMEA, RTCM 3 and CMR items come out whole and alone from a stream that also carries the receiver's own frames
// and noise, however the stream is cut.
TEST(ForeignSplitter, TakesWholeCheckedItemsWhereverTheStreamIsCut)
{
    const QByteArray sentence = "$GPGGA,120000.00,5005.22000,N,01425.26000,E,1,08,1.0,245.000,M,0.000,M,,*53\r\n";
    QByteArray rtcm = QByteArray::fromHex("d300133ed00003a5b2e3f18c2ea4b15a6fc6b55d2e89");  // a 1005 message
    const uint32_t crc = Crc24q(reinterpret_cast<const uint8_t*>(rtcm.constData()), size_t(rtcm.size()));
    rtcm += char(crc >> 16);
    rtcm += char(crc >> 8);
    rtcm += char(crc);
    const QByteArray cmr = QByteArray::fromHex("02000003010203") + char(0x09) + char(0x03);
    const QByteArray time = Frame("~~", QByteArray(4, '\0'));
    const QByteArray stream =
        time + "\n" + sentence + "junk" + rtcm + time + "\n" + cmr + "$GPGGA,bad*00\r\n" + sentence;
    for (int cut = 1; cut <= stream.size(); ++cut) {
        CForeignSplitter splitter;
        QList<QByteArray> got;
        for (int at = 0; at < stream.size(); at += cut) {
            splitter.Feed(stream.constData() + at, int(std::min<qsizetype>(cut, stream.size() - at)),
                          [&](const char* d, int n, CForeignSplitter::Kind) { got << QByteArray(d, n); });
        }
        ASSERT_EQ(got, (QList<QByteArray>{sentence, rtcm, cmr, sentence})) << "cut " << cut;
    }
}

}  // namespace
