// The receiver's message stream: layouts and checksums of every message, epoch order, periods, ports, content
// that follows the sky, determinism, the faults tests can ask for, and the program's sets through Attach.

#include "SimTestUtil.h"

#include "support/SimHarness.h"

#include "link/Connection.h"
#include "link/GpsData.h"
#include "link/Receiver.h"
#include "link/ReceiverHolder.h"
#include "sim/Simulator.h"
#include "sim/SkyModel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <mutex>
#include <set>
#include <tuple>

namespace {

// Every message in its place in the epoch (time, date, index lists, per-satellite lists, solution, the rest, the
// epoch end) with its length, checksum byte included: fixed + perSat * satellites + perGlo * GLONASS ones;
// fixed 0 = a text message.
struct Layout
{
    const char* id;
    int fixed, perSat, perGlo;
};
const Layout kLayouts[] = {{"~~", 5, 0, 0},   {"RD", 6, 0, 0},  {"SI", 1, 1, 0},  {"NN", 1, 0, 1},  {"EL", 1, 1, 0},
                           {"AZ", 1, 1, 0},   {"EC", 1, 1, 0},  {"E1", 1, 1, 0},  {"E2", 1, 1, 0},  {"E3", 1, 1, 0},
                           {"E5", 1, 1, 0},   {"TC", 1, 2, 0},  {"SS", 2, 1, 0},  {"DC", 1, 4, 0},  {"FC", 1, 2, 0},
                           {"F1", 1, 2, 0},   {"F2", 1, 2, 0},  {"RC", 1, 8, 0},  {"R1", 1, 8, 0},  {"R2", 1, 8, 0},
                           {"PC", 1, 8, 0},   {"P1", 1, 8, 0},  {"P2", 1, 8, 0},  {"GS", 0, 0, 0},  {"NS", 0, 0, 0},
                           {"PG", 30, 0, 0},  {"PO", 30, 0, 0}, {"VE", 18, 0, 0}, {"PV", 46, 0, 0}, {"SG", 18, 0, 0},
                           {"DP", 18, 0, 0},  {"DO", 9, 0, 0},  {"OO", 5, 0, 0},  {"TT", 5, 0, 0},  {"XA", 10, 0, 0},
                           {"XB", 10, 0, 0},  {"MS", 0, 0, 0},  {"SE", 6, 0, 0},  {"GA", 47, 0, 0}, {"NA", 47, 0, 0},
                           {"GE", 123, 0, 0}, {"NE", 88, 0, 0}, {"::", 5, 0, 0},  {"||", 1, 0, 0}};

// "em" lines are limited in length: the full set goes out in a few commands, under the names sets use.
void EnableAll(CRawSession& s, const QString& options = QStringLiteral("1"))
{
    QStringList group;
    for (const Layout& l : kLayouts) {
        const QByteArray i(l.id);
        group << QStringLiteral("/") + QString::fromLatin1(i == "~~" ? "RT" : i == "||" ? "EE" : i == "::" ? "ET" : i);
        if (group.size() == 12 || &l == std::end(kLayouts) - 1) {
            s.Write(("em,,kvs{" + group.join(',') + "}:" + options + "\r\n").toLatin1());
            group.clear();
        }
    }
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
    for (int i = 0; i < count; ++i) {
        p += n;
        n = 0;
        PlotSat s{};
        const int read = glonass ? std::sscanf(p, "%d,%d,%d,%d,{%d,%*d,%*d,%*d,%*d},%d}%n", &s.number, &s.channel,
                                               &s.el, &s.az, &s.ca, &s.status, &n)
                                 : std::sscanf(p, "%d,%d,%d,{%d,%*d,%*d,%*d,%*d},%d}%n", &s.number, &s.el, &s.az, &s.ca,
                                               &s.status, &n);
        if (read != (glonass ? 6 : 5) || n == 0) {
            return false;
        }
        out->push_back(s);
        n += p[n] == ',' && p[n + 1] == '{' ? 2 : 0;
    }
    return true;
}

class MessageStreamTest : public ::testing::Test
{
protected:
    // Moves the clock and returns what a session received meanwhile, by id.
    std::map<QByteArray, RawFrame> After(int64_t ms, CRawSession& session)
    {
        sim.AdvanceTime(ms);
        return ById(SplitFrames(session.Take()));
    }
    std::map<QByteArray, RawFrame> After(int64_t ms) { return After(ms, s); }

    CSimReceiver sim{VirtualSim()};
    CRawSession s{sim};
};

// What the table of an Attach collected, by the id of its entries; the buffers are emptied.
std::map<QByteArray, std::vector<RawFrame>> TakeTable(CSimHarness& h, GpsDataTable& table)
{
    std::map<QByteArray, std::vector<RawFrame>> got;
    std::lock_guard lock(h.Connection().GetLock());
    for (GPSDATA& d : table) {
        if (d.id != 0) {
            const char id[2] = {char(d.id >> 8), char(d.id & 0xFF)};
            got[QByteArray(id, 2)] = SplitFrames(d.buffer);
            d.buffer.clear();
        }
    }
    return got;
}

}  // namespace

TEST_F(MessageStreamTest, EveryMessageHasItsLayoutChecksumAndPlaceAndRawDataFitTheGeometry)
{
    sim.AdvanceTime(300000);  // almanac collected
    EnableAll(s);
    sim.InjectEvent('A');
    sim.InjectEvent('B');
    sim.AdvanceTime(1000);
    const auto frames = SplitFrames(s.Take());
    ASSERT_EQ(frames.size(), std::size(kLayouts));
    auto m = ById(frames);
    const QByteArray& si = m["SI"].body;
    const int n = int(si.size()) - 1;
    int g = 0;
    for (int i = 0; i < n; ++i) {
        const int index = uint8_t(si[i]);
        EXPECT_TRUE((index >= 1 && index <= 103) || (index >= 121 && index <= 138)) << index;
        g += index >= 38 && index <= 70 ? 1 : 0;
    }
    EXPECT_GE(n, 20);
    EXPECT_GE(g, 4);
    for (size_t i = 0; i < frames.size(); ++i) {
        const Layout& l = kLayouts[i];
        EXPECT_EQ(frames[i].id, QByteArray(l.id)) << "place " << i;
        EXPECT_TRUE(frames[i].verified) << l.id;
        const QByteArray& body = m[l.id].body;
        if (l.fixed > 0) {
            EXPECT_EQ(body.size(), l.fixed + l.perSat * n + l.perGlo * g) << l.id;
        } else {
            EXPECT_TRUE(body.startsWith(',')) << l.id;
            EXPECT_EQ(body.at(body.size() - 3), '@') << l.id;
        }
    }
    // Receiver time agrees with the virtual clock: 12:05:01 UTC + 18 s; the events fired at 12:05:00.
    EXPECT_EQ(U4(m["~~"].body), (12u * 3600 + 5 * 60 + 19) * 1000);
    EXPECT_EQ(m["RD"].body.left(5), QByteArray("\xE8\x07\x06\x01\x00", 5));  // 2024-06-01
    EXPECT_EQ(U4(m["XA"].body), (12u * 3600 + 5 * 60 + 18) * 1000);
    EXPECT_LT(U4(m["XA"].body, 4), 1000000u);

    const double lambda1 = Wgs84::kC / 1575.42e6;
    for (int i = 0; i < n; ++i) {
        const int index = uint8_t(si[i]);
        const double rc = F8(m["RC"].body, 8 * i);
        EXPECT_TRUE(rc > 0.063 && rc < 0.140) << index << ": " << rc;  // 20000 to 40000 km and < 0.5 ms of clock
        if (index <= 37) {
            // The carrier follows the code to within the ionosphere and an integer ambiguity of at most 1e6.
            EXPECT_LT(std::fabs(F8(m["PC"].body, 8 * i) * lambda1 - rc * Wgs84::kC), 1e6 * lambda1 + 100) << index;
            EXPECT_LT(std::fabs(F8(m["R2"].body, 8 * i) - rc) * Wgs84::kC, 50.0) << index;
            EXPECT_TRUE(uint8_t(m["FC"].body[2 * i]) & 0x10) << index;
        } else if (index >= 71) {
            EXPECT_EQ(F8(m["R2"].body, 8 * i), 0.0) << index;  // no P/L2
        }
    }
    // GPS ephemeris: a tracked PRN, toe on two hours, a GPS orbit; GLONASS: an orbit, tb on a quarter hour.
    const QByteArray& ge = m["GE"].body;
    EXPECT_TRUE(uint8_t(ge[0]) >= 1 && uint8_t(ge[0]) <= 32) << int(ge[0]);
    EXPECT_EQ(U4(ge, 32) % 7200, 0u);
    EXPECT_EQ(U4(ge, 8), U4(ge, 32));  // toc
    EXPECT_NEAR(F8(ge, 38) * F8(ge, 38), 26.56e6, 0.3e6);
    EXPECT_LT(F8(ge, 46), 0.02);           // e
    EXPECT_NEAR(F8(ge, 70) * 180, 55, 3);  // i0 in semicircles
    const QByteArray& ne = m["NE"].body;
    EXPECT_NEAR(Norm(Vec3{F8(ne, 15), F8(ne, 23), F8(ne, 31)}), 25510, 300);  // km
    EXPECT_EQ(U4(ne, 8) % 900, 0u);
}

TEST_F(MessageStreamTest, PeriodsPhasesCountsPortsAndDm)
{
    CRawSession b(sim, QStringLiteral("/dev/ser/b"));
    s.Write("em,,kvs{/RT:1,/PG:0.2,/SI:{5,2},/EE:1}\r\n");
    b.Write("em,,kvs{/SI:1,/EL:{1,0.5}}\r\n");
    sim.AdvanceTime(10000);
    std::map<QByteArray, int> count;
    uint32_t time = 0;
    for (const RawFrame& f : SplitFrames(s.Take())) {
        ++count[f.id];
        time = f.id == "~~" ? U4(f.body) : time;
        // On the {period,phase} grid of the receiver's time, not of the run's start (12:00:18 GPS).
        EXPECT_TRUE(f.id != "SI" || time % 5000 == 2000) << time;
    }
    // SI at :22 and :27; the epoch end closes every epoch that said anything.
    EXPECT_EQ(count, (std::map<QByteArray, int>{{"~~", 10}, {"PG", 50}, {"SI", 2}, {"||", 50}}));
    // The other port gets only its own messages, with no epoch end (not enabled there).
    const auto onB = SplitFrames(b.Take());
    EXPECT_EQ(onB.size(), 20u);
    for (const RawFrame& f : onB) {
        EXPECT_TRUE(f.id == "SI" || f.id == "EL") << f.id.constData();
    }

    // Both ports see the same sky at the same epoch.
    s.Write("dm\r\nem,,kvs{/SI:1,/EL:1}\r\n");
    b.Write("dm\r\nem,,kvs{/EL:1,/SI:1}\r\n");
    sim.AdvanceTime(1000);
    EXPECT_EQ(s.Take(), b.Take());

    // A count ends the output by itself and a phase shifts it; dm stops all of a port or the messages named.
    s.Write("dm\r\nem,,kvs/RT:{0.5,0.25,3}\r\n");
    b.Write("dm,,kvs/EL\r\n");
    sim.AdvanceTime(3000);
    const auto counted = SplitFrames(s.Take());
    ASSERT_EQ(counted.size(), 3u);
    EXPECT_EQ(U4(counted[0].body) % 500, 250u);
    EXPECT_TRUE(sim.EnabledMessages(QStringLiteral("/dev/ser/a")).isEmpty());
    const auto onlySi = SplitFrames(b.Take());
    ASSERT_EQ(onlySi.size(), 3u);
    EXPECT_EQ(onlySi[0].id, QByteArray("SI"));
}

TEST_F(MessageStreamTest, SameSeedSameBytesOtherSeedOtherSky)
{
    auto run = [](uint32_t seed) {
        CSimReceiver other(VirtualSim(seed));
        CRawSession session(other);
        EnableAll(session, QStringLiteral("0.5"));
        other.InjectEvent('A');
        other.AdvanceTime(20000);
        return session.Take();
    };
    const QByteArray first = run(7);
    EXPECT_GT(first.size(), 20000);
    EXPECT_EQ(first, run(7));
    EXPECT_NE(first, run(8));
}

TEST_F(MessageStreamTest, PositionFitsTheSiteAndTheSolutionType)
{
    s.Write("em,,kvs{/PG:1,/PO:1,/PV:1,/SG:1,/DP:1,/SS:1,/VE:1}\r\n");
    sim.AdvanceTime(3000);
    for (const RawFrame& f : SplitFrames(s.Take())) {
        EXPECT_EQ(f.body[f.id == "DP" ? 12 : f.body.size() - 2], '\0') << "no solution yet: " << f.id.constData();
    }
    const double lat0 = 50.0870 * kDegToRad, lon0 = 14.4210 * kDegToRad;
    const Vec3 site = GeodeticToEcef(lat0, lon0, 245.0);
    // Position mode, the solution type it gives, the horizontal error it stays within.
    for (const auto& [mode, solution, maxHorizontal] :
         {std::tuple{"sp", 1, 15.0}, std::tuple{"cd", 2, 3.0}, std::tuple{"pf", 3, 1.0}, std::tuple{"pd", 4, 0.08}}) {
        SCOPED_TRACE(mode);
        ASSERT_TRUE(sim.SetParamValue(QStringLiteral("/par/pos/mode/cur"), QString::fromLatin1(mode)));
        After(30000);
        double sumH = 0, sumSigma = 0;
        const int epochs = 60;
        for (int k = 0; k < epochs; ++k) {
            auto m = After(1000);
            const QByteArray& pg = m["PG"].body;
            ASSERT_EQ(uint8_t(pg[28]), solution);
            EXPECT_EQ(uint8_t(m["SS"].body[m["SS"].body.size() - 2]), solution);
            const Vec3 po = {F8(m["PO"].body, 0), F8(m["PO"].body, 8), F8(m["PO"].body, 16)};
            const Vec3 pv = {F8(m["PV"].body, 0), F8(m["PV"].body, 8), F8(m["PV"].body, 16)};
            EXPECT_LT(Norm(po - GeodeticToEcef(F8(pg, 0), F8(pg, 8), F8(pg, 16))), 1e-3);
            EXPECT_LT(Norm(pv - po), 1e-9);
            const Vec3 enu = EcefDeltaToEnu(lat0, lon0, po - site);
            const double h = std::hypot(enu.x, enu.y);
            EXPECT_LT(h, maxHorizontal);
            EXPECT_LT(std::fabs(enu.z), 2.5 * maxHorizontal);
            sumH += h * h;
            // SG: horizontal RMS from the DOP; velocity near zero.
            sumSigma += F4(m["SG"].body, 0) * F4(m["SG"].body, 0);
            const QByteArray& ve = m["VE"].body;
            EXPECT_LT(std::sqrt(std::pow(F4(ve, 0), 2) + std::pow(F4(ve, 4), 2) + std::pow(F4(ve, 8), 2)), 0.5);
            const double hdop = F4(m["DP"].body, 0), vdop = F4(m["DP"].body, 4), tdop = F4(m["DP"].body, 8);
            EXPECT_TRUE(std::isfinite(hdop) && hdop > 0.2 && hdop < 3) << hdop;
            EXPECT_TRUE(std::isfinite(vdop) && vdop > 0.2 && vdop < 5) << vdop;
            EXPECT_TRUE(std::isfinite(tdop) && tdop > 0.1 && tdop < 5) << tdop;
            EXPECT_NEAR(F4(m["DP"].body, 13), hdop / std::sqrt(2.0), hdop / 2);  // EDOP
        }
        // The scatter fits the announced RMS (within a factor, over a minute of slow wander).
        const double rms = std::sqrt(sumH / epochs), sigma = std::sqrt(sumSigma / epochs);
        EXPECT_GT(rms, sigma / 6);
        EXPECT_LT(rms, sigma * 3);
    }
}

// Four hours with every message once a minute, and time and epoch ends every second.
TEST_F(MessageStreamTest, SatelliteListsFollowTheGeometryOverHours)
{
    EnableAll(s, QStringLiteral("60"));
    s.Write("em,,kvs{/RT:1,/EE:1}\r\n");
    std::vector<std::map<QByteArray, RawFrame>> epochs;
    int ends = 0;
    for (int minute = 0; minute < 240; ++minute) {
        sim.AdvanceTime(60000);
        const auto frames = SplitFrames(s.Take());
        for (const RawFrame& f : frames) {
            ends += f.id == "||" ? 1 : 0;
        }
        epochs.push_back(ById(frames));
    }
    EXPECT_EQ(ends, 240 * 60);
    std::map<int, std::vector<int>> elevations;  // SI index (GPS) -> elevation per minute, -99 absent
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
            const int cn0 = uint8_t(m["EC"].body[i]);
            EXPECT_TRUE(el >= 0 && el <= 90 && az <= 358 && cn0 >= 25 && cn0 <= 58)
                << index << ": el " << el << " az " << az << " C/N0 " << cn0;
            EXPECT_LE(uint8_t(m["TC"].body[2 * i]) | (uint8_t(m["TC"].body[2 * i + 1]) << 8), int(60 * (k + 1)));
            if (el != 5) {
                EXPECT_EQ(m["SS"].body[i] == 0, el > 5) << el;  // used above the default 5 degree mask
            }
            if (index <= 37) {
                elevations[index].resize(epochs.size(), -99);
                elevations[index][k] = el;
                ASSERT_LT(gi, gs.size());
                EXPECT_EQ(gs[gi].number, index);
                EXPECT_EQ(gs[gi].el, el);
                EXPECT_EQ(gs[gi].ca, cn0);
                const int daz = std::abs(gs[gi++].az - az) % 360;
                EXPECT_LE(std::min(daz, 360 - daz), 2);
            } else if (index <= 70) {
                const int slot = uint8_t(m["NN"].body[glonass++]);
                EXPECT_TRUE(slot >= 1 && slot <= 24) << slot;
                ASSERT_LT(ni, ns.size());
                EXPECT_EQ(ns[ni].number, slot);
                EXPECT_EQ(ns[ni++].channel, index - 45);
                EXPECT_NE(uint8_t(m["E2"].body[i]), 255);  // GLONASS has P/L2
            } else {
                EXPECT_EQ(uint8_t(m["E2"].body[i]), 255);  // Galileo and SBAS do not
            }
            // Doppler without the clock's share follows the range rate: negative while rising.
            const int32_t dc = int32_t(U4(m["DC"].body, 4 * i));
            ASSERT_NE(dc, 0x7FFFFFFF);
            if (k > 0 && index <= 37 && elevations[index][k - 1] != -99 && el > 5 && el < 60) {
                const double r = dc * 1e-4 - drift * 1575.42e6;
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

TEST_F(MessageStreamTest, ElevationMaskAndSystemsDecideWhichSatellitesAreUsed)
{
    s.Write("set,/par/pos/elm,30\r\nem,,kvs{/SI:1,/EL:1,/SS:1}\r\n");
    ASSERT_TRUE(sim.SetParamValue(QStringLiteral("/par/pos/sys"), QStringLiteral("{on,off,on,on}")));
    After(10000);
    auto m = After(1000);
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
}

TEST_F(MessageStreamTest, AlmanacFlagsFillOverTheFirstMinutes)
{
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
                EXPECT_TRUE(int8_t(f.body[1]) >= -7 && int8_t(f.body[1]) <= 6) << "frequency channel";
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

TEST_F(MessageStreamTest, LinkStatusTextAndBasicProfile)
{
    s.Write("em,,kvs/MS:1\r\n");
    sim.AdvanceTime(1000);
    EXPECT_EQ(s.Take(), QByteArray("MS020,RTCMST,999,0000,0000,100.00,@1F\n"));  // no corrections arrive
    ASSERT_TRUE(sim.SetParamValue(QStringLiteral("/par/rover/mode"), QStringLiteral("on")));
    sim.AdvanceTime(30000);
    const auto frames = SplitFrames(s.Take());
    ASSERT_EQ(frames.size(), 30u);
    EXPECT_TRUE(frames.back().verified);
    EXPECT_TRUE(frames.back().body.startsWith(",RTCMST,00")) << frames.back().body.constData();

    // A basic receiver tracks L1 only.
    CSimReceiver basic(VirtualSim(1, QStringLiteral("basic")));
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

TEST_F(MessageStreamTest, FaultsProduceTheBadMessagesAskedFor)
{
    s.Write("em,,kvs{/RT:1,/SI:1,/NN:1,/EL:1,/PG:1,/MS:1,/GS:1,/NS:1,/GA:1,/NA:1,/EE:1}\r\n");
    After(250000);

    for (const char* id : {"PG", "MS", "EE"}) {
        sim.InjectFault(SimFault::BadChecksum, QString::fromLatin1(id));
    }
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
    for (const auto& [id, f] : After(1000)) {
        EXPECT_TRUE(f.verified) << id.constData();
    }

    sim.InjectFault(SimFault::TruncatedBody, QStringLiteral("PG"));
    sim.InjectFault(SimFault::TruncatedBody, QStringLiteral("GS"));
    sim.InjectFault(SimFault::SiShorter, QStringLiteral("SI"));
    auto m = After(1000);
    EXPECT_TRUE(m["PG"].verified);
    EXPECT_EQ(m["PG"].body.size(), 15);  // 29 bytes of layout cut to 14, plus the checksum
    EXPECT_TRUE(m["GS"].verified);
    EXPECT_TRUE(m["GS"].body.startsWith(",GPSVST,"));
    std::vector<PlotSat> gs;
    EXPECT_FALSE(ParseSatStatus(m["GS"].body, false, &gs));  // fewer entries than the count says
    EXPECT_EQ(m["SI"].body.size() + 2, m["EL"].body.size());

    sim.InjectFault(SimFault::SiLonger, QStringLiteral("SI"));
    for (const char* id : {"NN", "GA", "NA", "NS"}) {
        sim.InjectFault(SimFault::OutOfRangeSatellites, QString::fromLatin1(id));
    }
    m = After(1000);
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
    m = After(1000);
    EXPECT_EQ(uint8_t(m["SI"].body[0]), 250);
    EXPECT_EQ(uint8_t(m["SI"].body[1]), 0);

    // Every frame corrupted while asked for.
    sim.CorruptOutput(true);
    s.Write("dm\r\nem,,kvs{/RT:1,/EE:1}\r\n");
    m = After(1000);
    EXPECT_FALSE(m.empty());
    for (const auto& [id, f] : m) {
        EXPECT_FALSE(f.verified) << id.constData();
    }
}

TEST_F(MessageStreamTest, ResetStartsTrackingAndTheSolutionOver)
{
    s.Write("em,,kvs{/TT:1,/PG:1}\r\n");
    EXPECT_EQ(U4(After(60000)["TT"].body), 60u);
    s.Write("set,reset,yes\r\n");
    sim.AdvanceTime(sim.Options().rebootMs + 100);
    CRawSession again(sim);
    again.Write("em,,kvs{/TT:1,/PG:1,/SI:1,/GS:1,/NS:1}\r\n");
    auto m = After(1000, again);
    EXPECT_LE(U4(m["TT"].body), 1u);
    EXPECT_EQ(uint8_t(m["PG"].body[28]), 0);
    EXPECT_EQ(m["SI"].body.size(), 1);  // nothing tracked yet: empty status lists that a reader still opens
    EXPECT_EQ(m["GS"].body, QByteArray(",GPSVST,0,{},@") + m["GS"].body.right(2));
    EXPECT_TRUE(m["GS"].verified);
    std::vector<PlotSat> none;
    EXPECT_TRUE(ParseSatStatus(m["NS"].body, true, &none));
    EXPECT_TRUE(none.empty());
    EXPECT_EQ(uint8_t(After(10000, again)["PG"].body[28]), 1);
}

// The program's message set into a table and the satellites plot's set to a callback, both through the link.
TEST_F(MessageStreamTest, TheProgramsMessageSetsArriveThroughAttachUntilDetach)
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
    std::mutex mutex;
    std::vector<QByteArray> plot;
    auto callback = [&](CReceiver* r) {
        std::lock_guard lock(mutex);
        plot.emplace_back(r->getMsgBuf(0), r->getMsgBufSize());
    };
    ASSERT_TRUE(h.Receiver().Attach(1, callback, QStringLiteral("GS:2,NS:2"), nullptr));
    h.Advance(240000);
    h.Sim().InjectEvent('B');
    h.Advance(2000);
    h.Send(QStringLiteral("print,/par/rcv/model"));  // the reply follows the epochs on the stream
    auto got = TakeTable(h, table);
    for (const auto& [id, frames] : got) {
        if (id == "XA") {
            EXPECT_TRUE(frames.empty());  // no event on that input: no marker
            continue;
        }
        ASSERT_FALSE(frames.empty()) << id.constData();
        EXPECT_EQ(frames.back().id, id);
        for (const RawFrame& f : frames) {
            EXPECT_TRUE(f.verified) << id.constData();
        }
    }
    EXPECT_EQ(got["XB"].size(), 1u);  // an event is reported once
    EXPECT_EQ(got["||"].size(), 242u);
    EXPECT_EQ(got["~~"].size(), 242u);
    EXPECT_EQ(U4(got["~~"][241].body) - U4(got["~~"][240].body), 1000u);
    EXPECT_EQ(uint8_t(got["PG"].back().body[28]), 1);
    EXPECT_EQ(got["SE"].back().body.size(), 6);
    {
        std::lock_guard lock(mutex);
        std::map<QByteArray, int> count;
        for (const QByteArray& message : plot) {
            const auto frames = SplitFrames(message);
            ASSERT_EQ(frames.size(), 1u);
            EXPECT_TRUE(frames[0].verified);
            ++count[frames[0].id];
            std::vector<PlotSat> sats;
            EXPECT_TRUE(ParseSatStatus(frames[0].body, frames[0].id == "NS", &sats)) << message.constData();
        }
        EXPECT_EQ(count, (std::map<QByteArray, int>{{"GS", 121}, {"NS", 121}}));  // every two seconds
    }

    // Each Detach stops what no other attachment needs.
    ASSERT_TRUE(h.Receiver().Detach(0));
    EXPECT_EQ(h.Sim().EnabledMessages(QStringLiteral("/dev/ser/a")),
              QStringList({"/msg/kvs/GS:2000", "/msg/kvs/NS:2000"}));
    h.Advance(3000);
    h.Send(QStringLiteral("print,/par/rcv/model"));
    for (const auto& [id, frames] : TakeTable(h, table)) {
        EXPECT_TRUE(frames.empty()) << id.constData();
    }
    ASSERT_TRUE(h.Receiver().Detach(1));
    EXPECT_TRUE(h.Sim().EnabledMessages(QStringLiteral("/dev/ser/a")).isEmpty());
}

// The benchmarks' faster receiver: a 1 s output comes at the epoch rate, each epoch with values of its own.
TEST(MessageStreamRate, OutputAskedOnceASecondComesAtTheEpochRate)
{
    SimOptions options = VirtualSim();
    options.epochRateHz = 20;
    CSimReceiver sim(options);
    CRawSession s(sim);
    s.Write("em,,kvs{/PG:1,/SI:2,/EE:1}\r\n");
    sim.AdvanceTime(6000);  // past the first fix
    std::map<QByteArray, std::vector<QByteArray>> bodies;
    for (const RawFrame& f : SplitFrames(s.Take())) {
        bodies[f.id].push_back(f.body);
    }
    EXPECT_EQ(bodies["PG"].size(), 120u);
    EXPECT_EQ(bodies["SI"].size(), 60u);
    EXPECT_EQ(bodies["||"].size(), 120u);
    ASSERT_GE(bodies["PG"].size(), 2u);
    EXPECT_NE(bodies["PG"].back(), bodies["PG"][bodies["PG"].size() - 2]);
}
