// The receiver's message stream: layouts and checksums of every message, epoch order, periods, ports, content
// that follows the sky, determinism, and the faults tests can ask for.

#include "SimTestUtil.h"

#include "support/SimHarness.h"

#include "link/Checksum.h"
#include "link/Connection.h"
#include "link/Framer.h"
#include "link/GpsData.h"
#include "link/Receiver.h"
#include "link/ReceiverHolder.h"
#include "sim/Simulator.h"
#include "sim/SkyModel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <set>

namespace {

const char* const kAllIds[] = {"~~", "RD", "SI", "NN", "EL", "AZ", "EC", "E1", "E2", "E3", "E5", "TC", "SS", "DC", "FC",
                               "F1", "F2", "RC", "R1", "R2", "PC", "P1", "P2", "GS", "NS", "PG", "PO", "VE", "PV", "SG",
                               "DP", "DO", "OO", "TT", "XA", "XB", "MS", "SE", "GA", "NA", "GE", "NE", "::", "||"};

SimOptions Virtual(uint32_t seed = 1, const QString& profile = QStringLiteral("full"))
{
    SimOptions o;
    o.virtualClock = true;
    o.seed = seed;
    o.profile = profile;
    return o;
}

const char* KvsName(const char* id)
{
    const QByteArray i(id);
    return i == "~~" ? "RT" : i == "||" ? "EE" : i == "::" ? "ET" : id;
}

// "em" lines are limited in length: the full set goes out in a few commands.
void EnableAll(CRawSession& s, const QString& options = QStringLiteral("1"))
{
    QStringList group;
    for (const char* id : kAllIds) {
        group << QLatin1Char('/') + QString::fromLatin1(KvsName(id));
        if (group.size() == 12) {
            s.Write(("em,,kvs{" + group.join(',') + "}:" + options + "\r\n").toLatin1());
            group.clear();
        }
    }
    s.Write(("em,,kvs{" + group.join(',') + "}:" + options + "\r\n").toLatin1());
}

uint32_t U4(const QByteArray& b, int at)
{
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) {
        v = (v << 8) | uint8_t(b[at + i]);
    }
    return v;
}
double F4(const QByteArray& b, int at)
{
    const uint32_t u = U4(b, at);
    float f = 0;
    std::memcpy(&f, &u, 4);
    return f;
}
double F8(const QByteArray& b, int at)
{
    const uint64_t u = uint64_t(U4(b, at)) | (uint64_t(U4(b, at + 4)) << 32);
    double d = 0;
    std::memcpy(&d, &u, 8);
    return d;
}

// One epoch's frames by id.
std::map<QByteArray, RawFrame> ById(const std::vector<RawFrame>& frames)
{
    std::map<QByteArray, RawFrame> m;
    for (const RawFrame& f : frames) {
        m[f.id] = f;
    }
    return m;
}

// Expected length (with the checksum byte) for `n` satellites, `g` of them GLONASS; 0 = text.
int LayoutLength(const QByteArray& id, int n, int g)
{
    static const std::map<QByteArray, int> fixed = {{"~~", 5},  {"::", 5},   {"RD", 6},  {"PG", 30}, {"PO", 30},
                                                    {"VE", 18}, {"PV", 46},  {"SG", 18}, {"DP", 18}, {"DO", 9},
                                                    {"OO", 5},  {"TT", 5},   {"XA", 10}, {"XB", 10}, {"GA", 47},
                                                    {"NA", 47}, {"GE", 123}, {"NE", 88}, {"SE", 6},  {"||", 1}};
    if (fixed.count(id)) {
        return fixed.at(id);
    }
    if (id == "NN") {
        return g + 1;
    }
    if (id == "TC" || id == "FC" || id == "F1" || id == "F2") {
        return 2 * n + 1;
    }
    if (id == "SS") {
        return n + 2;
    }
    if (id == "DC") {
        return 4 * n + 1;
    }
    if (id[0] == 'R' || id[0] == 'P') {
        return 8 * n + 1;
    }
    if (id == "MS" || id == "GS" || id == "NS") {
        return 0;
    }
    return n + 1;  // SI, EL, AZ, EC, E1, E2, E3, E5
}

// The satellites-plot reading of GS/NS: number[,channel],el,az,{five signals},status per satellite.
struct PlotSat
{
    int number, channel, el, az, ca, status;
};
bool ParseSatStatus(const QByteArray& body, bool glonass, std::vector<PlotSat>* out)
{
    const char* p = body.constData();
    int count = 0, n = 0;
    if (std::sscanf(p, glonass ? ",GLSVST,%d,{%n" : ",GPSVST,%d,{%n", &count, &n) != 1 || n == 0) {
        return false;
    }
    p += n;
    for (int i = 0; i < count; ++i) {
        PlotSat s{};
        int sig[5] = {};
        int read = 0;
        if (glonass) {
            read = std::sscanf(p, "%d,%d,%d,%d,{%d,%d,%d,%d,%d},%d}%n", &s.number, &s.channel, &s.el, &s.az, &sig[0],
                               &sig[1], &sig[2], &sig[3], &sig[4], &s.status, &n);
        } else {
            read = std::sscanf(p, "%d,%d,%d,{%d,%d,%d,%d,%d},%d}%n", &s.number, &s.el, &s.az, &sig[0], &sig[1], &sig[2],
                               &sig[3], &sig[4], &s.status, &n);
        }
        if (read != (glonass ? 10 : 9)) {
            return false;
        }
        s.ca = sig[0];
        out->push_back(s);
        p += n;
        if (*p == ',' && p[1] == '{') {
            p += 2;
        }
    }
    return true;
}

}  // namespace

TEST(MessageStreamTest, EveryMessageHasItsLayoutAndChecksumAndEpochOrder)
{
    CSimReceiver sim(Virtual());
    CRawSession s(sim);
    sim.AdvanceTime(300000);  // almanac collected
    EnableAll(s);
    sim.InjectEvent('A');
    sim.InjectEvent('B');
    sim.AdvanceTime(1000);
    const auto frames = SplitFrames(s.Take());
    ASSERT_EQ(frames.size(), std::size(kAllIds));
    std::vector<QByteArray> order;
    for (const RawFrame& f : frames) {
        order.push_back(f.id);
        EXPECT_TRUE(f.verified) << f.id.constData();
    }
    // Fixed order: time, date, index lists, per-satellite lists, solution, the rest, the epoch end.
    for (size_t i = 0; i < std::size(kAllIds); ++i) {
        EXPECT_EQ(order[i], QByteArray(kAllIds[i]));
    }
    auto m = ById(frames);
    const int n = int(m["SI"].body.size()) - 1;
    int g = 0;
    for (int i = 0; i < n; ++i) {
        const int index = uint8_t(m["SI"].body[i]);
        EXPECT_TRUE((index >= 1 && index <= 37) || (index >= 38 && index <= 70) || (index >= 71 && index <= 103) ||
                    (index >= 121 && index <= 138))
            << index;
        g += index >= 38 && index <= 70 ? 1 : 0;
    }
    EXPECT_GE(n, 20);
    EXPECT_GE(g, 4);
    for (const auto& [id, f] : m) {
        const int len = LayoutLength(id, n, g);
        if (len > 0) {
            EXPECT_EQ(f.body.size(), len) << id.constData();
        } else {
            EXPECT_TRUE(f.body.startsWith(',')) << id.constData();
            EXPECT_EQ(f.body.at(f.body.size() - 3), '@') << id.constData();
        }
    }
    // Receiver time agrees with the virtual clock: 12:05:01 UTC + 18 s.
    EXPECT_EQ(U4(m["~~"].body, 0), (12u * 3600 + 5 * 60 + 19) * 1000);
    EXPECT_EQ(U4(m["XA"].body, 0), (12u * 3600 + 5 * 60 + 18) * 1000 + 0);  // the event, fired at 12:05:00
    EXPECT_LT(U4(m["XA"].body, 4), 1000000u);
    EXPECT_EQ(uint8_t(m["GA"].body[0]) >= 1 && uint8_t(m["GA"].body[0]) <= 32, true);
    EXPECT_EQ(uint8_t(m["NA"].body[0]) >= 1 && uint8_t(m["NA"].body[0]) <= 24, true);
    EXPECT_EQ(m["MS"].body, QByteArray(",RTCMST,999,0000,0000,100.00,@1F"));

    // Without events there are no markers.
    sim.AdvanceTime(1000);
    auto next = ById(SplitFrames(s.Take()));
    EXPECT_EQ(next.count("XA"), 0u);
    EXPECT_EQ(next.count("||"), 1u);
}

TEST(MessageStreamTest, PeriodsPhasesPortsAndDm)
{
    CSimReceiver sim(Virtual());
    CRawSession a(sim, QStringLiteral("/dev/ser/a"));
    CRawSession b(sim, QStringLiteral("/dev/ser/b"));
    a.Write("em,,kvs{/RT:1,/PG:0.2,/SI:{5,2},/EE:1}\r\n");
    b.Write("em,,kvs{/SI:1,/EL:{1,0.5}}\r\n");
    sim.AdvanceTime(10000);
    std::map<QByteArray, int> count;
    std::map<QByteArray, QByteArray> lastSi;
    for (const RawFrame& f : SplitFrames(a.Take())) {
        ++count[f.id];
    }
    EXPECT_EQ(count["~~"], 10);
    EXPECT_EQ(count["PG"], 50);
    EXPECT_EQ(count["SI"], 2);   // at 2 s and 7 s
    EXPECT_EQ(count["||"], 50);  // closes every epoch that said anything
    // The other port gets only its own messages; EL at the half seconds, with no epoch end (not enabled).
    int bFrames = 0;
    for (const RawFrame& f : SplitFrames(b.Take())) {
        EXPECT_TRUE(f.id == "SI" || f.id == "EL") << f.id.constData();
        ++bFrames;
    }
    EXPECT_EQ(bFrames, 20);

    // Both ports see the same sky at the same epoch.
    a.Write("dm\r\nem,,kvs{/SI:1,/EL:1}\r\n");
    b.Write("dm\r\nem,,kvs{/EL:1,/SI:1}\r\n");
    sim.AdvanceTime(1000);
    EXPECT_EQ(a.Take(), b.Take());

    a.Write("dm\r\n");
    b.Write("dm,,kvs/EL\r\n");
    sim.AdvanceTime(3000);
    EXPECT_TRUE(a.Take().isEmpty());
    const auto onlySi = SplitFrames(b.Take());
    ASSERT_EQ(onlySi.size(), 3u);
    EXPECT_EQ(onlySi[0].id, QByteArray("SI"));
}

TEST(MessageStreamTest, SameSeedSameBytesOtherSeedOtherSky)
{
    auto run = [](uint32_t seed) {
        CSimReceiver sim(Virtual(seed));
        CRawSession s(sim);
        EnableAll(s, QStringLiteral("0.5"));
        sim.InjectEvent('A');
        sim.AdvanceTime(20000);
        return s.Take();
    };
    const QByteArray first = run(7);
    EXPECT_GT(first.size(), 20000);
    EXPECT_EQ(first, run(7));
    EXPECT_NE(first, run(8));
}

TEST(MessageStreamTest, PositionFitsTheSiteAndTheSolutionType)
{
    CSimReceiver sim(Virtual());
    CRawSession s(sim);
    s.Write("em,,kvs{/PG:1,/PO:1,/PV:1,/SG:1,/DP:1,/SS:1,/VE:1}\r\n");
    sim.AdvanceTime(3000);
    for (const RawFrame& f : SplitFrames(s.Take())) {
        EXPECT_EQ(f.body[f.id == "DP" ? 12 : f.body.size() - 2], '\0') << "no solution yet: " << f.id.constData();
    }
    const double lat0 = 50.0870 * kDegToRad, lon0 = 14.4210 * kDegToRad;
    const Vec3 site = GeodeticToEcef(lat0, lon0, 245.0);
    struct Case
    {
        const char* mode;
        int solution;
        double maxHorizontal;
    };
    const Case cases[] = {{"sp", 1, 15.0}, {"cd", 2, 3.0}, {"pf", 3, 1.0}, {"pd", 4, 0.08}};
    for (const Case& c : cases) {
        ASSERT_TRUE(sim.SetParamValue(QStringLiteral("/par/pos/mode/cur"), QString::fromLatin1(c.mode)));
        sim.AdvanceTime(30000);
        s.Take();
        double sumH = 0, sumSigma = 0;
        const int epochs = 60;
        for (int k = 0; k < epochs; ++k) {
            sim.AdvanceTime(1000);
            auto m = ById(SplitFrames(s.Take()));
            const QByteArray& pg = m["PG"].body;
            ASSERT_EQ(uint8_t(pg[28]), c.solution) << c.mode;
            EXPECT_EQ(uint8_t(m["SS"].body[m["SS"].body.size() - 2]), c.solution);
            const Vec3 po = {F8(m["PO"].body, 0), F8(m["PO"].body, 8), F8(m["PO"].body, 16)};
            const Vec3 pv = {F8(m["PV"].body, 0), F8(m["PV"].body, 8), F8(m["PV"].body, 16)};
            const Vec3 fromPg = GeodeticToEcef(F8(pg, 0), F8(pg, 8), F8(pg, 16));
            EXPECT_LT(Norm(po - fromPg), 1e-3);
            EXPECT_LT(Norm(pv - po), 1e-9);
            const Vec3 enu = EcefDeltaToEnu(lat0, lon0, po - site);
            const double h = std::hypot(enu.x, enu.y);
            EXPECT_LT(h, c.maxHorizontal) << c.mode;
            EXPECT_LT(std::fabs(enu.z), 2.5 * c.maxHorizontal) << c.mode;
            sumH += h * h;
            // SG: horizontal RMS from the DOP; velocity near zero.
            sumSigma += F4(m["SG"].body, 0) * F4(m["SG"].body, 0);
            const double speed = std::sqrt(std::pow(F4(m["VE"].body, 0), 2) + std::pow(F4(m["VE"].body, 4), 2) +
                                           std::pow(F4(m["VE"].body, 8), 2));
            EXPECT_LT(speed, 0.5);
            const double hdop = F4(m["DP"].body, 0), vdop = F4(m["DP"].body, 4), tdop = F4(m["DP"].body, 8);
            EXPECT_TRUE(std::isfinite(hdop) && hdop > 0.2 && hdop < 3) << hdop;
            EXPECT_TRUE(std::isfinite(vdop) && vdop > 0.2 && vdop < 5) << vdop;
            EXPECT_TRUE(std::isfinite(tdop) && tdop > 0.1 && tdop < 5) << tdop;
            EXPECT_NEAR(F4(m["DP"].body, 13), hdop / std::sqrt(2.0), hdop / 2);  // EDOP
        }
        // The scatter fits the announced RMS (within a factor, over a minute of slow wander).
        const double rms = std::sqrt(sumH / epochs), sigma = std::sqrt(sumSigma / epochs);
        EXPECT_GT(rms, sigma / 6) << c.mode;
        EXPECT_LT(rms, sigma * 3) << c.mode;
    }
}

TEST(MessageStreamTest, SatelliteListsFollowTheGeometry)
{
    CSimReceiver sim(Virtual());
    CRawSession s(sim);
    s.Write("em,,kvs{/SI:60,/NN:60,/EL:60,/AZ:60,/EC:60,/E2:60,/TC:60,/SS:60,/DC:60,/DO:60,/DP:60,/GS:60,/NS:60}\r\n");
    std::vector<std::map<QByteArray, RawFrame>> epochs;
    for (int minute = 0; minute < 240; ++minute) {
        sim.AdvanceTime(60000);
        epochs.push_back(ById(SplitFrames(s.Take())));
    }
    std::map<int, std::vector<int>> elevations;  // SI index (GPS) -> elevation per minute, -99 absent
    std::vector<QByteArray> used;
    for (size_t k = 0; k < epochs.size(); ++k) {
        auto& m = epochs[k];
        const QByteArray si = m["SI"].body.chopped(1);
        const int n = int(si.size());
        ASSERT_EQ(m["EL"].body.size(), n + 1);
        const float drift = float(F4(m["DO"].body, 0));
        int glonass = 0;
        std::vector<PlotSat> gs, ns;
        ASSERT_TRUE(ParseSatStatus(m["GS"].body, false, &gs)) << m["GS"].body.constData();
        ASSERT_TRUE(ParseSatStatus(m["NS"].body, true, &ns)) << m["NS"].body.constData();
        size_t gi = 0, ni = 0;
        for (int i = 0; i < n; ++i) {
            const int index = uint8_t(si[i]);
            const int el = int8_t(m["EL"].body[i]);
            const int az = uint8_t(m["AZ"].body[i]) * 2;
            EXPECT_GE(el, 0);
            EXPECT_LE(el, 90);
            EXPECT_LE(az, 358);
            const int cn0 = uint8_t(m["EC"].body[i]);
            EXPECT_GE(cn0, 25);
            EXPECT_LE(cn0, 58);
            const int tc = uint8_t(m["TC"].body[2 * i]) | (uint8_t(m["TC"].body[2 * i + 1]) << 8);
            EXPECT_LE(tc, int(60 * (k + 1)));
            const int status = uint8_t(m["SS"].body[i]);
            if (el != 5) {
                EXPECT_EQ(status == 0, el > 5) << el;  // used above the default 5 degree mask
            }
            if (index <= 37) {
                elevations[index].resize(epochs.size(), -99);
                elevations[index][k] = el;
                ASSERT_LT(gi, gs.size());
                EXPECT_EQ(gs[gi].number, index);
                EXPECT_EQ(gs[gi].el, el);
                EXPECT_EQ(gs[gi].ca, cn0);
                const int daz = std::abs(gs[gi].az - az) % 360;
                EXPECT_LE(std::min(daz, 360 - daz), 2);
                ++gi;
            } else if (index <= 70) {
                const int slot = uint8_t(m["NN"].body[glonass++]);
                EXPECT_GE(slot, 1);
                EXPECT_LE(slot, 24);
                ASSERT_LT(ni, ns.size());
                EXPECT_EQ(ns[ni].number, slot);
                EXPECT_EQ(ns[ni].channel, index - 45);
                ++ni;
                EXPECT_NE(uint8_t(m["E2"].body[i]), 255);  // GLONASS has P/L2
            } else {
                EXPECT_EQ(uint8_t(m["E2"].body[i]), 255);  // Galileo and SBAS do not
            }
            // Doppler without the clock's share has the sign of the approach: positive while rising.
            const int32_t dc = int32_t(U4(m["DC"].body, 4 * i));
            ASSERT_NE(dc, 0x7FFFFFFF);
            if (k > 0 && index <= 37 && elevations[index][k - 1] != -99 && el > 5 && el < 60) {
                const double r = -(dc * 1e-4 + drift * 1575.42e6);
                const int trend = el - elevations[index][k - 1];
                if (std::abs(trend) >= 1 && std::fabs(r) > 1000) {
                    EXPECT_EQ(trend > 0, r < 0) << index << " el " << el << " r " << r;
                }
            }
        }
        EXPECT_EQ(gi, gs.size());
        EXPECT_EQ(ni, ns.size());
        EXPECT_EQ(int(m["NN"].body.size()) - 1, glonass);
    }
    // Over four hours satellites rise and set.
    int rose = 0, set = 0;
    for (const auto& [prn, els] : elevations) {
        for (size_t k = 1; k < els.size(); ++k) {
            rose += els[k - 1] == -99 && els[k] != -99 ? 1 : 0;
            set += els[k - 1] != -99 && els[k] == -99 ? 1 : 0;
        }
    }
    EXPECT_GE(rose, 3);
    EXPECT_GE(set, 3);
}

TEST(MessageStreamTest, ElevationMaskAndSystemsDecideWhichSatellitesAreUsed)
{
    CSimReceiver sim(Virtual());
    CRawSession s(sim);
    s.Write("set,/par/pos/elm,30\r\nem,,kvs{/SI:1,/EL:1,/SS:1,/GS:1}\r\n");
    ASSERT_TRUE(sim.SetParamValue(QStringLiteral("/par/pos/sys"), QStringLiteral("{on,off,on,on}")));
    sim.AdvanceTime(10000);
    s.Take();
    sim.AdvanceTime(1000);
    auto m = ById(SplitFrames(s.Take()));
    const int n = int(m["SI"].body.size()) - 1;
    int used = 0;
    for (int i = 0; i < n; ++i) {
        const int index = uint8_t(m["SI"].body[i]);
        const int el = int8_t(m["EL"].body[i]);
        const int status = uint8_t(m["SS"].body[i]);
        if (index >= 38 && index <= 70) {
            EXPECT_EQ(status, 24);  // GLONASS left out of the solution
        } else if (el != 30) {
            EXPECT_EQ(status == 0, el > 30) << index << " at " << el;
        }
        used += status == 0 ? 1 : 0;
    }
    EXPECT_GE(used, 6);
    EXPECT_EQ(uint8_t(m["SS"].body[n]), 1);  // still a standalone fix

    // Nothing tracked: an empty status list that a reader still opens.
    s.Write("set,reset,yes\r\n");
    sim.AdvanceTime(sim.Options().rebootMs + 100);
    CRawSession again(sim);
    again.Write("em,,kvs{/GS:1,/NS:1}\r\n");
    sim.AdvanceTime(1000);
    m = ById(SplitFrames(again.Take()));
    EXPECT_EQ(m["GS"].body, QByteArray(",GPSVST,0,{},@") + m["GS"].body.right(2));
    EXPECT_TRUE(m["GS"].verified);
    std::vector<PlotSat> none;
    EXPECT_TRUE(ParseSatStatus(m["NS"].body, true, &none));
    EXPECT_TRUE(none.empty());
}

TEST(MessageStreamTest, AlmanacFlagsFillOverTheFirstMinutes)
{
    CSimReceiver sim(Virtual());
    CRawSession s(sim);
    s.Write("em,,kvs{/GA:1,/NA:1}\r\n");
    std::set<int> gps, glonass;
    std::map<int, size_t> gpsAt;
    for (int sec = 1; sec <= 420; ++sec) {
        sim.AdvanceTime(1000);
        for (const RawFrame& f : SplitFrames(s.Take())) {
            ASSERT_TRUE(f.verified);
            ASSERT_EQ(f.body.size(), 47);
            (f.id == "GA" ? gps : glonass).insert(uint8_t(f.body[0]));
            if (f.id == "GA") {
                EXPECT_NEAR(std::pow(F4(f.body, 18), 2), 26.56e6, 0.3e6);  // sqrt(A)
                EXPECT_EQ(U4(f.body, 3) % 4096, 0u);                       // toa
            } else {
                EXPECT_NEAR(F8(f.body, 33), 40544.0 - 43200.0, 60);  // draconic period less 43200 s
                EXPECT_GE(int8_t(f.body[1]), -7);                    // frequency channel
                EXPECT_LE(int8_t(f.body[1]), 6);
            }
        }
        if (sec == 15) {
            EXPECT_TRUE(gps.empty() && glonass.empty());
        }
        gpsAt[sec] = gps.size();
    }
    EXPECT_LT(gpsAt[60], 20u);
    EXPECT_GT(gpsAt[120], 5u);
    EXPECT_EQ(gps.size(), 32u);
    EXPECT_EQ(glonass.size(), 24u);
    EXPECT_EQ(*gps.begin(), 1);
    EXPECT_EQ(*gps.rbegin(), 32);
    EXPECT_EQ(*glonass.rbegin(), 24);
}

TEST(MessageStreamTest, RawDataAndEphemeridesAreConsistentWithTheGeometry)
{
    CSimReceiver sim(Virtual());
    CRawSession s(sim);
    s.Write("em,,kvs{/SI:1,/EL:1,/RC:1,/R2:1,/PC:1,/P2:1,/FC:1,/GE:1,/NE:1,/DC:1}\r\n");
    sim.AdvanceTime(30000);
    s.Take();
    sim.AdvanceTime(1000);
    auto m = ById(SplitFrames(s.Take()));
    const int n = int(m["SI"].body.size()) - 1;
    for (int i = 0; i < n; ++i) {
        const int index = uint8_t(m["SI"].body[i]);
        const double rc = F8(m["RC"].body, 8 * i);
        // 20000 to 40000 km plus at most half a millisecond of receiver clock.
        EXPECT_GT(rc, 0.063) << index;
        EXPECT_LT(rc, 0.140) << index;
        const double lambda1 = Wgs84::kC / 1575.42e6;
        if (index <= 37) {
            // The carrier follows the code to within the ionosphere and an integer ambiguity of at most 1e6.
            const double pc = F8(m["PC"].body, 8 * i);
            EXPECT_LT(std::fabs(pc * lambda1 - rc * Wgs84::kC), 1e6 * lambda1 + 100);
            EXPECT_LT(std::fabs(F8(m["R2"].body, 8 * i) - rc) * Wgs84::kC, 50.0);
            EXPECT_TRUE(uint8_t(m["FC"].body[2 * i]) & 0x10);
        }
        if (index >= 71) {
            EXPECT_EQ(F8(m["R2"].body, 8 * i), 0.0);  // no P/L2
        }
    }
    // GPS ephemeris: a tracked PRN, toe on two hours, a GPS orbit.
    const QByteArray& ge = m["GE"].body;
    EXPECT_GE(uint8_t(ge[0]), 1);
    EXPECT_LE(uint8_t(ge[0]), 32);
    const uint32_t toe = U4(ge, 32);
    EXPECT_EQ(toe % 7200, 0u);
    EXPECT_EQ(U4(ge, 8), toe);  // toc
    const double sqrtA = F8(ge, 38);
    EXPECT_NEAR(sqrtA * sqrtA, 26.56e6, 0.3e6);
    EXPECT_LT(F8(ge, 46), 0.02);           // e
    EXPECT_NEAR(F8(ge, 70) * 180, 55, 3);  // i0 in semicircles
    const QByteArray& ne = m["NE"].body;
    const Vec3 glo = {F8(ne, 15), F8(ne, 23), F8(ne, 31)};
    EXPECT_NEAR(Norm(glo), 25.51e6, 0.3e6);
    EXPECT_EQ(U4(ne, 8) % 900, 0u);  // tb on a quarter hour
}

TEST(MessageStreamTest, LinkStatusTextAndBasicProfile)
{
    CSimReceiver sim(Virtual());
    CRawSession s(sim);
    s.Write("em,,kvs/MS:1\r\n");
    sim.AdvanceTime(1000);
    EXPECT_EQ(s.Take(), QByteArray("MS020,RTCMST,999,0000,0000,100.00,@1F\n"));
    ASSERT_TRUE(sim.SetParamValue(QStringLiteral("/par/rover/mode"), QStringLiteral("on")));
    sim.AdvanceTime(30000);
    const auto frames = SplitFrames(s.Take());
    ASSERT_EQ(frames.size(), 30u);
    EXPECT_TRUE(frames.back().verified);
    EXPECT_NE(frames.back().body, QByteArray(",RTCMST,999,0000,0000,100.00,@1F"));
    EXPECT_TRUE(frames.back().body.startsWith(",RTCMST,00")) << frames.back().body.constData();

    // A basic receiver tracks L1 only.
    CSimReceiver basic(Virtual(1, QStringLiteral("basic")));
    CRawSession b(basic);
    b.Write("em,,kvs{/SI:1,/EC:1,/E1:1,/E2:1,/E3:1,/E5:1,/R2:1}\r\n");
    basic.AdvanceTime(10000);
    auto m = ById(SplitFrames(b.Take()));
    const int n = int(m["SI"].body.size()) - 1;
    ASSERT_GT(n, 10);
    for (int i = 0; i < n; ++i) {
        EXPECT_NE(uint8_t(m["EC"].body[i]), 255);
        for (const char* id : {"E1", "E2", "E3", "E5"}) {
            EXPECT_EQ(uint8_t(m[id].body[i]), 255) << id;
        }
        EXPECT_EQ(F8(m["R2"].body, 8 * i), 0.0);
    }
}

TEST(MessageStreamTest, FaultsProduceTheBadMessagesAskedFor)
{
    CSimReceiver sim(Virtual());
    CRawSession s(sim);
    s.Write("em,,kvs{/RT:1,/SI:1,/NN:1,/EL:1,/PG:1,/MS:1,/GS:1,/NS:1,/GA:1,/NA:1,/EE:1}\r\n");
    sim.AdvanceTime(250000);
    s.Take();

    sim.InjectFault(SimFault::BadChecksum, QStringLiteral("PG"));
    sim.InjectFault(SimFault::BadChecksum, QStringLiteral("MS"));
    sim.InjectFault(SimFault::BadChecksum, QStringLiteral("EE"));
    sim.AdvanceTime(1000);
    std::map<QByteArray, bool> verified;
    for (const RawFrame& f : SplitFrames(s.Take())) {
        verified.emplace(f.id, f.verified);  // the first of each id; the framer searches a bad frame again
    }
    for (const char* id : {"~~", "SI", "NN", "EL", "GS", "NS", "GA", "NA", "PG", "MS", "||"}) {
        ASSERT_EQ(verified.count(id), 1u) << id;
        const bool faulty = QByteArray(id) == "PG" || QByteArray(id) == "MS" || QByteArray(id) == "||";
        EXPECT_EQ(verified[id], !faulty) << id;
    }
    // Once only.
    sim.AdvanceTime(1000);
    for (const RawFrame& f : SplitFrames(s.Take())) {
        EXPECT_TRUE(f.verified) << f.id.constData();
    }

    sim.InjectFault(SimFault::TruncatedBody, QStringLiteral("PG"));
    sim.InjectFault(SimFault::TruncatedBody, QStringLiteral("GS"));
    sim.InjectFault(SimFault::SiShorter, QStringLiteral("SI"));
    sim.AdvanceTime(1000);
    auto m = ById(SplitFrames(s.Take()));
    EXPECT_TRUE(m["PG"].verified);
    EXPECT_EQ(m["PG"].body.size(), 15);  // 29 bytes of layout cut to 14, plus the checksum
    EXPECT_TRUE(m["GS"].verified);
    EXPECT_TRUE(m["GS"].body.startsWith(",GPSVST,"));
    std::vector<PlotSat> gs;
    EXPECT_FALSE(ParseSatStatus(m["GS"].body, false, &gs));  // fewer entries than the count says
    EXPECT_EQ(m["SI"].body.size() + 2, m["EL"].body.size());

    sim.InjectFault(SimFault::SiLonger, QStringLiteral("SI"));
    sim.InjectFault(SimFault::OutOfRangeSatellites, QStringLiteral("NN"));
    sim.InjectFault(SimFault::OutOfRangeSatellites, QStringLiteral("GA"));
    sim.InjectFault(SimFault::OutOfRangeSatellites, QStringLiteral("NA"));
    sim.InjectFault(SimFault::OutOfRangeSatellites, QStringLiteral("NS"));
    sim.AdvanceTime(1000);
    m = ById(SplitFrames(s.Take()));
    EXPECT_EQ(m["SI"].body.size(), m["EL"].body.size() + 2);
    EXPECT_EQ(uint8_t(m["NN"].body[0]), 25);
    EXPECT_EQ(uint8_t(m["NN"].body[1]), 0);
    EXPECT_EQ(uint8_t(m["GA"].body[0]), 38);
    EXPECT_EQ(uint8_t(m["NA"].body[0]), 25);
    std::vector<PlotSat> ns;
    ASSERT_TRUE(ParseSatStatus(m["NS"].body, true, &ns));
    EXPECT_EQ(ns[0].number, 25);
    for (const auto& [id, f] : m) {
        EXPECT_TRUE(f.verified) << id.constData();
    }

    sim.InjectFault(SimFault::OutOfRangeSatellites, QStringLiteral("SI"));
    sim.AdvanceTime(1000);
    m = ById(SplitFrames(s.Take()));
    EXPECT_EQ(uint8_t(m["SI"].body[0]), 250);
    EXPECT_EQ(uint8_t(m["SI"].body[1]), 0);
}

TEST(MessageStreamTest, ResetStartsTrackingAndTheSolutionOver)
{
    CSimReceiver sim(Virtual());
    CRawSession s(sim);
    s.Write("em,,kvs{/TT:1,/PG:1}\r\n");
    sim.AdvanceTime(60000);
    auto m = ById(SplitFrames(s.Take()));
    EXPECT_EQ(U4(m["TT"].body, 0), 60u);
    s.Write("set,reset,yes\r\n");
    sim.AdvanceTime(sim.Options().rebootMs + 100);
    CRawSession again(sim);
    again.Write("em,,kvs{/TT:1,/PG:1,/SI:1}\r\n");
    sim.AdvanceTime(1000);
    m = ById(SplitFrames(again.Take()));
    EXPECT_LE(U4(m["TT"].body, 0), 1u);
    EXPECT_EQ(uint8_t(m["PG"].body[28]), 0);
    EXPECT_EQ(m["SI"].body.size(), 1);  // nothing tracked yet
    sim.AdvanceTime(10000);
    m = ById(SplitFrames(again.Take()));
    EXPECT_EQ(uint8_t(m["PG"].body[28]), 1);
}

TEST(MessageStreamTest, AnHourAtOneHertzWithEverythingOn)
{
    // Long runs are what tests use to get the almanac and rising satellites; they stay cheap.
    CSimReceiver sim(Virtual());
    CRawSession s(sim);
    EnableAll(s);
    qint64 bytes = 0;
    int epochs = 0;
    for (int minute = 0; minute < 60; ++minute) {
        sim.AdvanceTime(60000);
        const QByteArray chunk = s.Take();
        bytes += chunk.size();
        for (const RawFrame& f : SplitFrames(chunk)) {
            epochs += f.id == "||" ? 1 : 0;
        }
    }
    EXPECT_EQ(epochs, 3600);
    EXPECT_GT(bytes, 3600 * 2000);
}

TEST(MessageStreamTest, SatellitesPlotSetReachesACallbackEveryTwoSeconds)
{
    CSimHarness h;
    ASSERT_TRUE(h.IsOpen());
    std::mutex mutex;
    std::vector<QByteArray> got;
    auto callback = [&](CReceiver* r) {
        std::lock_guard lock(mutex);
        got.emplace_back(r->getMsgBuf(0), r->getMsgBufSize());
    };
    ASSERT_TRUE(h.Receiver().Attach(1, callback, QStringLiteral("GS:2,NS:2,EE:2"), nullptr));
    h.Advance(10000);
    h.Send(QStringLiteral("print,/par/rcv/model"));
    std::lock_guard lock(mutex);
    std::map<QByteArray, int> count;
    for (const QByteArray& message : got) {
        const auto frames = SplitFrames(message);
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_TRUE(frames[0].verified);
        ++count[frames[0].id];
        std::vector<PlotSat> sats;
        if (frames[0].id != "||") {
            EXPECT_TRUE(ParseSatStatus(frames[0].body, frames[0].id == "NS", &sats)) << message.constData();
        }
    }
    EXPECT_EQ(count["GS"], 5);
    EXPECT_EQ(count["NS"], 5);
    EXPECT_EQ(count["||"], 5);
}

TEST(MessageStreamTest, TheProgramsMessageSetArrivesThroughTheLink)
{
    CSimHarness h;
    ASSERT_TRUE(h.IsOpen());
    const QString set =
        QStringLiteral("PG,PV,DP,MS,RT,RD,OO,TT,XA,XB,SG,SI,SE,NN,EL,DO,GA,NA,DC,AZ,EC,E1,E2,E3,E5,TC,SS,EE");
    GpsDataTable table;
    for (const QString& name : set.split(',')) {
        GPSDATA d;
        const QByteArray wire = name == "RT" ? "~~" : name == "EE" ? "||" : name.toLatin1();
        d.id = MsgId(wire[0], wire[1]);
        d.flag = GPSDATA::kKeepAll;
        table.push_back(d);
    }
    table.push_back(GPSDATA{});
    ASSERT_TRUE(h.Receiver().Attach(0, nullptr, set, &table)) << h.Holder().Reply().toStdString();
    h.Advance(240000);
    h.Sim().InjectEvent('B');
    h.Advance(2000);
    h.Send(QStringLiteral("print,/par/rcv/model"));  // the reply follows the epochs on the stream
    std::map<QByteArray, std::vector<RawFrame>> got;
    {
        std::lock_guard lock(h.Connection().GetLock());
        for (GPSDATA& d : table) {
            if (d.id != 0) {
                const char id[2] = {char(d.id >> 8), char(d.id & 0xFF)};
                got[QByteArray(id, 2)] = SplitFrames(d.buffer);
                d.buffer.clear();
            }
        }
    }
    for (const auto& [id, frames] : got) {
        if (id == "XA") {
            EXPECT_TRUE(frames.empty());
            continue;
        }
        ASSERT_FALSE(frames.empty()) << id.constData();
        EXPECT_EQ(frames.back().id, id);
        for (const RawFrame& f : frames) {
            EXPECT_TRUE(f.verified) << id.constData();
        }
    }
    EXPECT_EQ(got["XB"].size(), 1u);
    EXPECT_EQ(got["||"].size(), 242u);
    EXPECT_EQ(got["MS"].back().body, QByteArray(",RTCMST,999,0000,0000,100.00,@1F"));
    EXPECT_EQ(uint8_t(got["PG"].back().body[28]), 1);
    EXPECT_EQ(got["SE"].back().body.size(), 6);
}
