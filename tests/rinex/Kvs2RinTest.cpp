// kvs2rin on simulator recordings: the RINEX file read back column by column equals what the simulator's model
// says; the receiver's time scales, date roll-over, satellite lists only on change, unknown GLONASS glonassSlots and
// channels, cycle slips; the header's columns; bad input and the exit codes.

#include "KvsRecording.h"
#include "RinexReader.h"

#include "link/Checksum.h"
#include "rinex/Kvs2Rin.h"
#include "rinex/KvsReader.h"
#include "rinex/RinexWriter.h"
#include "sim/SimMessages.h"
#include "sim/SkyModel.h"
#include "support/SimHarness.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>

namespace {

const int64_t kStartUtcMs = QDateTime(QDate(2024, 6, 1), QTime(12, 0), QTimeZone::utc()).toMSecsSinceEpoch();
constexpr double kC = 299792458.0;
constexpr double kField = 0.0011;  // F14.3: half a unit of the last decimal, and the double's own rounding

struct Outcome
{
    int code = -1;
    QString report;
    RnxFile rinex;
    QString path;
};

class Kvs2RinTest : public ::testing::Test
{
protected:
    QString Write(const QByteArray& kvs, const QString& name = QStringLiteral("Site001.kvs"))
    {
        const QString path = m_dir.filePath(name);
        EXPECT_TRUE(WriteFile(path, kvs));
        return path;
    }
    Outcome Convert(const QByteArray& kvs, QStringList extra = {})
    {
        Outcome r;
        r.code = RunKvs2Rin(QStringList{QStringLiteral("-i"), Write(kvs), QStringLiteral("-o"), m_dir.path()} + extra,
                            &r.report, &r.path);
        if (!r.path.isEmpty()) {
            r.rinex = RnxFile::Parse(ReadFile(r.path));
            EXPECT_TRUE(r.rinex.ok);
        }
        return r;
    }
    static std::string SatId(const SimSatellite& s)
    {
        const char letters[] = {'G', 'R', 'E', 'S'};
        char b[8];
        std::snprintf(b, sizeof b, "%c%02d", letters[int(s.system)],
                      s.system == GnssSystem::Sbas ? s.number - 100 : s.number);
        return b;
    }
    static QDateTime GpsTime(int64_t t)
    {
        return QDateTime::fromMSecsSinceEpoch(kStartUtcMs + t + 18000, QTimeZone::utc());
    }

    QTemporaryDir m_dir;
};

TEST_F(Kvs2RinTest, ObservationsEqualTheSimulatorsModel)
{
    CMessageGenerator g(50.087, 14.421, 245, 7, kStartUtcMs);
    CMessageGenerator model(50.087, 14.421, 245, 7, kStartUtcMs);
    const int64_t from = 60000, to = 120000, slipAt = 90000;
    // The first GPS satellite tracked at the slip slips.
    CMessageGenerator chooser(50.087, 14.421, 245, 7, kStartUtcMs);
    chooser.Step(slipAt);
    const SimSatellite* slipper =
        &model.Sky()
             .Satellites()[size_t(chooser.Epoch(slipAt, {}).sats.front().sat - chooser.Sky().Satellites().data())];
    g.InjectCycleSlip(slipper->system, slipper->number, slipAt);
    model.InjectCycleSlip(slipper->system, slipper->number, slipAt);

    const Outcome r = Convert(RecordKvs(g, from, to));
    ASSERT_EQ(r.code, 0) << r.report.toStdString();
    EXPECT_EQ(r.rinex.types.at('G'),
              (std::vector<std::string>{"C1C", "L1C", "D1C", "S1C", "C1W", "L1W", "S1W", "C2W", "L2W", "S2W"}));
    EXPECT_EQ(r.rinex.types.at('R'),
              (std::vector<std::string>{"C1C", "L1C", "D1C", "S1C", "C1P", "L1P", "S1P", "C2P", "L2P", "S2P"}));
    EXPECT_EQ(r.rinex.types.at('E'), (std::vector<std::string>{"C1X", "L1X", "D1X", "S1X"}));
    EXPECT_FALSE(r.rinex.HeaderLine("SYS / PHASE SHIFT").isEmpty());
    for (const QByteArray& l : r.rinex.header) {
        EXPECT_FALSE(l.startsWith("E L1C")) << "the phase shifts follow the observation types";
    }
    ASSERT_EQ(r.rinex.epochs.size(), size_t((to - from) / 1000 + 1));
    int checked = 0, slips = 0;
    for (const RnxEpoch& e : r.rinex.epochs) {
        const int64_t t = GpsTime(0).msecsTo(e.time);
        ASSERT_EQ(t % 1000, 0) << "epochs on the receiver's whole seconds";
        model.Step(t);
        const EpochData& m = model.Epoch(t, {});
        EXPECT_EQ(e.sats.size(), m.sats.size());
        for (const EpochSat& s : m.sats) {
            const std::string id = SatId(*s.sat);
            ASSERT_TRUE(e.sats.count(id)) << id << " at " << t;
            const auto& o = e.sats.at(id);
            const double f1 = CarrierHz(*s.sat, SimSignal::CaL1);
            const std::string l1 = s.sat->system == GnssSystem::Galileo ? "1X" : "1C";
            // The messages' values...
            EXPECT_NEAR(o.at("C" + l1).value, s.pseudorange[0] * kC, kField) << id;
            EXPECT_NEAR(o.at("L" + l1).value, s.phase[0], kField) << id;
            EXPECT_NEAR(o.at("S" + l1).value, s.cn0[0], kField) << id;
            EXPECT_NEAR(o.at("D" + l1).value, -s.doppler * 1e-4, kField) << id;
            if (s.sat->system == GnssSystem::Gps || s.sat->system == GnssSystem::Glonass) {
                const char* p = s.sat->system == GnssSystem::Gps ? "W" : "P";
                EXPECT_NEAR(o.at(std::string("C2") + p).value, s.pseudorange[2] * kC, kField) << id;
                EXPECT_NEAR(o.at(std::string("L2") + p).value, s.phase[2], kField) << id;
                EXPECT_NEAR(o.at(std::string("L1") + p).value, s.phase[1], kField) << id;
            }
            // ...are the geometry's: range and clocks within the atmosphere and noise; Doppler positive while the
            // satellite approaches, within the rates of the atmosphere and the satellite clock.
            const double geometric = s.view.range + kC * (m.clockOffset - SatClock(*s.sat, t / 1000.0));
            EXPECT_NEAR(o.at("C" + l1).value, geometric, 100.0) << id;
            EXPECT_NEAR(o.at("D" + l1).value, -(s.view.rangeRate / kC + m.drift) * f1, 1.0) << id;
            const bool slip = s.sat == slipper && t == slipAt;
            const bool start = s.lockSeconds < 2.0;  // phase not locked yet
            EXPECT_EQ(o.at("L" + l1).lli == '1', slip || start) << id << " at " << t;
            slips += o.at("L" + l1).lli == '1' && slip;
            ++checked;
        }
    }
    EXPECT_GT(checked, 60 * 15);
    EXPECT_EQ(slips, 1);
}

// Every time scale the receiver may use reads back as GPS time; the date of a new day may come late.
TEST_F(Kvs2RinTest, TimeScalesAndTheDateRollOver)
{
    for (int scale : {0, 1, 2, 3}) {
        SCOPED_TRACE(scale);
        const int64_t start = QDateTime(QDate(2024, 6, 1), QTime(23, 59, 20), QTimeZone::utc()).toMSecsSinceEpoch();
        CMessageGenerator g(50.087, 14.421, 245, 3, start);
        g.SetRawProfile({scale, false, 0, 0});
        bool firstDate = true;
        const Outcome r = Convert(RecordKvs(g, 30000, 80000, 1000, [&](const char* id, int64_t, QByteArray f) {
            // Only the first date message: epochs of the next day must roll the date forward.
            if (QByteArray(id) == "RD") {
                const bool keep = firstDate;
                firstDate = false;
                return keep ? f : QByteArray();
            }
            return f;
        }));
        ASSERT_EQ(r.code, 0) << r.report.toStdString();
        ASSERT_EQ(r.rinex.epochs.size(), 51u);
        for (size_t k = 0; k < r.rinex.epochs.size(); ++k) {
            EXPECT_EQ(r.rinex.epochs[k].time,
                      QDateTime::fromMSecsSinceEpoch(start + 30000 + 1000 * qint64(k) + 18000, QTimeZone::utc()));
        }
    }
}

// Satellite lists only on change give the same observations; a GLONASS satellite with an unknown slot is left
// out, one without its channel is kept and left out of the slot list.
TEST_F(Kvs2RinTest, ReceiverProfiles)
{
    CMessageGenerator every(50.087, 14.421, 245, 5, kStartUtcMs);
    const Outcome base = Convert(RecordKvs(every, 60000, 90000));
    ASSERT_EQ(base.code, 0);
    std::vector<int> glonassSlots;
    for (const auto& [sat, obs] : base.rinex.epochs.back().sats) {
        if (sat[0] == 'R') {
            glonassSlots.push_back(std::stoi(sat.substr(1)));
        }
    }
    ASSERT_GE(glonassSlots.size(), 2u);
    CMessageGenerator changes(50.087, 14.421, 245, 5, kStartUtcMs);
    changes.SetRawProfile({0, true, glonassSlots[0], glonassSlots[1]});
    int siFrames = 0;
    const Outcome r = Convert(RecordKvs(changes, 60000, 90000, 1000, [&](const char* id, int64_t, QByteArray f) {
        siFrames += QByteArray(id) == "SI" && !f.isEmpty();
        return f;
    }));
    ASSERT_EQ(r.code, 0) << r.report.toStdString();
    EXPECT_LT(siFrames, 10);
    ASSERT_EQ(r.rinex.epochs.size(), base.rinex.epochs.size());
    char unknown[8], noChannel[8];
    std::snprintf(unknown, sizeof unknown, "R%02d", glonassSlots[0]);
    std::snprintf(noChannel, sizeof noChannel, "R%02d", glonassSlots[1]);
    for (size_t k = 0; k < r.rinex.epochs.size(); ++k) {
        auto expected = base.rinex.epochs[k].sats;
        expected.erase(unknown);
        const auto& got = r.rinex.epochs[k].sats;
        ASSERT_EQ(got.size(), expected.size());
        for (const auto& [sat, obs] : expected) {
            ASSERT_TRUE(got.count(sat)) << sat;
            EXPECT_EQ(got.at(sat).size(), obs.size()) << sat;
            const std::string c1 = sat[0] == 'E' ? "C1X" : "C1C";
            EXPECT_EQ(got.at(sat).at(c1).value, obs.at(c1).value) << sat;
        }
    }
    const QByteArray slotLine = r.rinex.HeaderLine("GLONASS SLOT / FRQ #");
    EXPECT_FALSE(slotLine.contains(unknown));
    EXPECT_FALSE(slotLine.contains(noChannel));
    EXPECT_TRUE(base.rinex.HeaderLine("GLONASS SLOT / FRQ #").contains(noChannel));
}

TEST_F(Kvs2RinTest, HeaderColumnsAndExclusions)
{
    CMessageGenerator g(50.087, 14.421, 245, 7, kStartUtcMs);
    const QByteArray kvs = RecordKvs(g, 60000, 65000);
    const QString profile = m_dir.filePath(QStringLiteral("profile.ini"));
    ASSERT_TRUE(WriteFile(profile,
                          "[KVS2RIN]\nRUN BY= a run-by name longer than twenty\nOBSERVER= Ann\nAGENCY= "
                          "Survey\nMARKER NAME= my site/1\nREC #= 0123456789ABCDEFGHJK\nREC TYPE= SIM\n"
                          "ANT DELTA H= 0\n"));
    const Outcome r = Convert(kvs, {QStringLiteral("-p"), profile, QStringLiteral("-R"), QStringLiteral("-L2")});
    ASSERT_EQ(r.code, 0) << r.report.toStdString();
    EXPECT_EQ(QFileInfo(r.path).fileName(), QStringLiteral("MYSI00XXX_R_20241531201_01M_01S_MO.rnx"));
    const auto& h = r.rinex.header;
    ASSERT_GT(h.size(), 10u);
    EXPECT_EQ(h[0], QByteArray("     3.04           O                   M                   RINEX VERSION / TYPE"));
    for (const QByteArray& l : h) {
        EXPECT_LE(l.size(), 80) << l.constData();
        EXPECT_GT(l.size(), 60) << l.constData();
    }
    EXPECT_EQ(r.rinex.HeaderLine("PGM / RUN BY / DATE").mid(20, 20), QByteArray("a run-by name longer"));
    EXPECT_EQ(r.rinex.HeaderLine("OBSERVER / AGENCY").left(60),
              QByteArray("Ann").leftJustified(20) + QByteArray("Survey").leftJustified(40));
    EXPECT_EQ(r.rinex.HeaderLine("REC # / TYPE / VERS").left(40),
              QByteArray("0123456789ABCDEFGHJKSIM                 "));
    EXPECT_EQ(r.rinex.HeaderLine("TIME OF FIRST OBS").left(60),
              QByteArray("  2024     6     1    12     1   18.0000000     GPS         "));
    EXPECT_EQ(r.rinex.HeaderLine("INTERVAL").left(10), QByteArray("     1.000"));
    EXPECT_EQ(r.rinex.types.count('R'), 0u);
    EXPECT_EQ(r.rinex.types.at('G'), (std::vector<std::string>{"C1C", "L1C", "D1C", "S1C", "C1W", "L1W", "S1W"}));
    EXPECT_EQ(r.rinex.epochs.front().sats.count("R01") + r.rinex.epochs.front().sats.count("R02"), 0u);

    // Fields too wide for their columns, and NaN, are blank.
    EXPECT_EQ(CRinexWriter::Fixed(123456789.1234, 14, 3), QByteArray(" 123456789.123"));
    EXPECT_EQ(CRinexWriter::Fixed(1e12, 14, 3), QByteArray(14, ' '));
    EXPECT_EQ(CRinexWriter::Fixed(std::nan(""), 14, 3), QByteArray(14, ' '));
}

// Damaged input: what cannot be trusted is skipped and counted, the rest still written, and the exit code says so.
TEST_F(Kvs2RinTest, BadInputAndExitCodes)
{
    CMessageGenerator g(50.087, 14.421, 245, 7, kStartUtcMs);
    const QByteArray good = RecordKvs(g, 60000, 70000);
    auto damaged = [&](const std::function<QByteArray(const char*, int64_t, QByteArray)>& edit) {
        CMessageGenerator d(50.087, 14.421, 245, 7, kStartUtcMs);
        return RecordKvs(d, 60000, 70000, 1000, edit);
    };
    auto flipAt = [](const char* which, int64_t when) {
        return [=](const char* id, int64_t t, QByteArray f) {
            if (QByteArray(id) == which && t == when) {
                f[f.size() / 2] = char(f[f.size() / 2] ^ 0x40);
            }
            return f;
        };
    };
    struct Case
    {
        const char* name;
        QByteArray kvs;
        int code;
        int epochs;  // -1: no file
    } cases[] = {
        {"good, without the KV line", good.mid(good.indexOf('\n') + 1), 0, 11},
        {"empty", QByteArray(), Kvs2RinExit::NotKvs, -1},
        {"not KVS", QByteArray("$GPGGA,not a receiver file\r\nhello world, this is text\n").repeated(20),
         Kvs2RinExit::NotKvs, -1},
        {"truncated", good.left(good.size() - 40), Kvs2RinExit::CorruptData, 10},
        {"checksum error in a pseudorange", damaged(flipAt("RC", 65000)), Kvs2RinExit::CorruptData, 10},
        {"checksum error in the satellite list", damaged(flipAt("SI", 65000)), Kvs2RinExit::CorruptData, 10},
        {"garbage between epochs",
         good.left(good.size() / 2) + QByteArray("\x01\x02zz\xff", 5) + good.mid(good.size() / 2),
         Kvs2RinExit::CorruptData, 10},
        {"no date",
         damaged([](const char* id, int64_t, QByteArray f) { return QByteArray(id) == "RD" ? QByteArray() : f; }),
         Kvs2RinExit::BadTime, -1},
        {"unknown time scale", damaged([](const char* id, int64_t, QByteArray f) {
             if (QByteArray(id) == "RD") {
                 QByteArray body = f.mid(5, 5);
                 body[4] = 9;
                 // Re-framed with a right checksum: only the scale is wrong.
                 QByteArray frame = "RD006" + body;
                 return frame + char(Checksum8(frame.constData(), size_t(frame.size()))) + '\n';
             }
             return f;
         }),
         Kvs2RinExit::BadTime, -1},
        {"a file header's last time and date before the first epoch",
         good.left(good.indexOf('\n') + 1) + BinaryFrame("RD", QByteArray::fromHex("e807060100")) +
             BinaryFrame("~~", QByteArray::fromHex("10270000")) + good.mid(good.indexOf('\n') + 1),
         0, 11},
        {"epochs with no satellites, as after a receiver starts",
         good.left(good.indexOf('\n') + 1) + BinaryFrame("~~", QByteArray::fromHex("10270000")) +
             BinaryFrame("RD", QByteArray::fromHex("e807060100")) + BinaryFrame("SI", QByteArray()) +
             BinaryFrame("RC", QByteArray()) + BinaryFrame("||", QByteArray()) + good.mid(good.indexOf('\n') + 1),
         0, 11},
        {"no raw observations (the receiver's default set)", damaged([](const char* id, int64_t, QByteArray f) {
             const QByteArray raw = "RC R1 R2 PC P1 P2 DC";
             return raw.contains(id) ? QByteArray() : f;
         }),
         Kvs2RinExit::NoObservations, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome r = Convert(c.kvs);
        EXPECT_EQ(r.code, c.code) << r.report.toStdString();
        EXPECT_EQ(r.path.isEmpty(), c.epochs < 0);
        if (c.epochs >= 0) {
            EXPECT_EQ(int(r.rinex.epochs.size()), c.epochs);
        }
        if (QByteArray(c.name).startsWith("checksum error in a")) {
            for (const RnxEpoch& e : r.rinex.epochs) {
                EXPECT_NE(e.time, GpsTime(65000)) << "never an epoch from a failed message";
            }
        }
    }
    QString report;
    const struct
    {
        QStringList args;
        int code;
    } lines[] = {
        {{"-i", m_dir.filePath("missing.kvs")}, Kvs2RinExit::ReadError},
        {{}, Kvs2RinExit::BadCommandLine},
        {{"-i"}, Kvs2RinExit::BadCommandLine},
        {{"-i", "x", "-Q"}, Kvs2RinExit::BadCommandLine},
        {{"-i", "x", "-G", "-R"}, Kvs2RinExit::BadCommandLine},
        {{"-i", Write(good), "-o", m_dir.filePath("no/such")}, Kvs2RinExit::OutputError},
        {{"-i", Write(good, QStringLiteral("Site009.kvs")), "-L1", "-L2"}, Kvs2RinExit::NoObservations},
    };
    for (const auto& l : lines) {
        EXPECT_EQ(RunKvs2Rin(l.args, &report), l.code) << l.args.join(' ').toStdString();
    }
    EXPECT_TRUE(report.contains("Site009.kvs: No observations in the KVS file")) << report.toStdString();

    // A recording whose first epoch lies a second before a whole minute (a logging run's next file) is named after
    // that minute; the RINEX file of another recording with that name is kept unless --overwrite is given.
    CMessageGenerator early(50.087, 14.421, 245, 7, kStartUtcMs);
    const QString next = Write(RecordKvs(early, 41000, 50000), QStringLiteral("Site002.kvs"));
    QString path;
    EXPECT_EQ(RunKvs2Rin({"-i", next, "-o", m_dir.path()}, &report, &path), Kvs2RinExit::OutputError);
    EXPECT_TRUE(report.contains("made from another recording")) << report.toStdString();
    EXPECT_EQ(RunKvs2Rin({"-i", next, "-o", m_dir.path(), "--overwrite"}, &report, &path), 0);
    EXPECT_TRUE(path.endsWith("_20241531201_01M_01S_MO.rnx")) << path.toStdString();
}

// One hand-made epoch at 12:00:00 GPS time + `second`: GPS satellites `prns` (a satellite list only when given,
// damaged with `badList`) with their pseudoranges and phases (0: none).
QByteArray HandEpoch(int second, const QByteArray& prns, const std::vector<double>& phases, bool badList = false)
{
    QByteArray ranges, cycles;
    for (double phase : phases) {
        const double range = 0.07 + 0.001 * double(ranges.size() / 8);
        ranges += QByteArray(reinterpret_cast<const char*>(&range), 8);
        cycles += QByteArray(reinterpret_cast<const char*>(&phase), 8);
    }
    const uint32_t ms = uint32_t(12 * 3600 + second) * 1000u;
    QByteArray e = BinaryFrame("~~", QByteArray(reinterpret_cast<const char*>(&ms), 4)) +
                   BinaryFrame("RD", QByteArray::fromHex("e807060100"));
    if (!prns.isEmpty()) {
        QByteArray list = BinaryFrame("SI", prns);
        if (badList) {
            list[list.size() - 2] = char(list[list.size() - 2] ^ 0x01);
        }
        e += list;
    }
    return e + BinaryFrame("RC", ranges) + BinaryFrame("PC", cycles) + BinaryFrame("||", QByteArray());
}

// A phase missing at a satellite's previous epoch marks its next phase with loss of lock; after a damaged
// satellite list no epoch is written until the next list, since its values would go to the wrong satellites.
TEST_F(Kvs2RinTest, LossOfLockAfterAMissingPhaseAndNoTrustAfterADamagedList)
{
    const QByteArray first("\x01\x02", 2), second("\x03\x04", 2), third("\x05\x06", 2);
    const Outcome r = Convert(HandEpoch(0, first, {1e6, 2e6}) + HandEpoch(1, first, {0, 2e6 + 1}) +
                              HandEpoch(2, first, {1e6 + 2, 2e6 + 2}) + HandEpoch(3, second, {3e6, 4e6}, true) +
                              HandEpoch(4, QByteArray(), {3e6 + 1, 4e6 + 1}) + HandEpoch(5, third, {5e6, 6e6}));
    EXPECT_EQ(r.code, Kvs2RinExit::CorruptData) << r.report.toStdString();
    ASSERT_EQ(r.rinex.epochs.size(), 4u);
    EXPECT_EQ(r.rinex.epochs[1].sats.at("G01").count("L1C"), 0u);
    EXPECT_EQ(r.rinex.epochs[2].sats.at("G01").at("L1C").lli, '1');
    EXPECT_EQ(r.rinex.epochs[2].sats.at("G02").at("L1C").lli, ' ');
    EXPECT_EQ(r.rinex.epochs[3].time, GpsTime(0).addSecs(5 - 18)) << "epochs 3 and 4 left out";
    EXPECT_EQ(r.rinex.epochs[3].sats.count("G05"), 1u);
}

// The navigation file carries the simulator's orbits in RINEX units: radians, GLONASS in km.
TEST_F(Kvs2RinTest, NavigationFileInRinexUnits)
{
    CMessageGenerator g(50.087, 14.421, 245, 7, kStartUtcMs);
    const QByteArray kvs = RecordKvs(g, 60000, 120000);
    QString report, obs;
    ASSERT_EQ(RunKvs2Rin({QStringLiteral("-i"), Write(kvs), QStringLiteral("--nav")}, &report, &obs), 0);
    const QList<QByteArray> lines =
        ReadFile(QString(obs).replace(QStringLiteral("_01S_MO.rnx"), QStringLiteral("_MN.rnx"))).split('\n');
    EXPECT_TRUE(lines[0].startsWith("     3.04           N: GNSS NAV DATA    M: MIXED"));
    auto num = [](const QByteArray& l, int k) { return l.mid(4 + 19 * k, 19).trimmed().toDouble(); };
    int gps = 0, glonass = 0;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray& l = lines[i];
        if (l.startsWith('G')) {
            const SimSatellite* s = nullptr;
            for (const SimSatellite& x : g.Sky().Satellites()) {
                s = x.system == GnssSystem::Gps && x.number == l.mid(1, 2).toInt() ? &x : s;
            }
            ASSERT_TRUE(s);
            EXPECT_NEAR(num(lines[i + 2], 3), s->orbit.sqrtA, 1e-6);
            EXPECT_NEAR(num(lines[i + 4], 2), s->orbit.argPerigee, 1e-6) << "omega in radians";
            EXPECT_NEAR(num(lines[i + 4], 0), s->orbit.i0, 0.02) << "i0 in radians";
            ++gps;
        } else if (l.startsWith('R')) {
            const double x = num(lines[i + 1], 0), y = num(lines[i + 2], 0), z = num(lines[i + 3], 0);
            EXPECT_NEAR(std::sqrt(x * x + y * y + z * z), 25510.0, 200.0) << "GLONASS orbit radius in km";
            EXPECT_LT(std::fabs(num(lines[i + 1], 1)), 5.0) << "km/s";
            ++glonass;
        }
    }
    EXPECT_GT(gps, 3);
    EXPECT_GT(glonass, 3);
}

}  // namespace
