// NMEA sentences and RTCM 3 frames beside the receiver's own messages: checksums, CRC-24Q, content that fits
// the same epoch; the file identifier once per stream; gaps and time jumps of the output.

#include "SimTestUtil.h"

#include "sim/SimForeign.h"
#include "sim/Simulator.h"
#include "sim/SkyModel.h"

#include <QDateTime>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <tuple>

namespace {

// Whole RTCM 3 frames; false at the first one whose CRC-24Q is wrong.
bool RtcmFrames(const QByteArray& b, std::vector<QByteArray>* out)
{
    for (int i = 0; i + 6 <= b.size();) {
        const int len = (uint8_t(b[i + 1]) & 3) << 8 | uint8_t(b[i + 2]);
        const QByteArray f = b.mid(i, len + 6);
        const uint32_t crc = uint32_t(uint8_t(f[len + 3])) << 16 | uint8_t(f[len + 4]) << 8 | uint8_t(f[len + 5]);
        if (uint8_t(b[i]) != 0xD3 || Crc24q(reinterpret_cast<const uint8_t*>(f.constData()), size_t(len + 3)) != crc) {
            return false;
        }
        out->push_back(f);
        i += len + 6;
    }
    return true;
}

uint64_t Bits(const QByteArray& f, int from, int count)
{
    uint64_t v = 0;
    for (int i = from; i < from + count; ++i) {
        v = v << 1 | ((uint8_t(f[3 + i / 8]) >> (7 - i % 8)) & 1u);
    }
    return v;
}

int64_t SignedBits(const QByteArray& f, int from, int count)
{
    const uint64_t v = Bits(f, from, count);
    return v >> (count - 1) ? int64_t(v) - (int64_t(1) << count) : int64_t(v);
}

}  // namespace

TEST(ForeignMessageTest, NmeaAndRtcm3FitTheReceiversOwnEpoch)
{
    EXPECT_EQ(Crc24q(reinterpret_cast<const uint8_t*>("123456789"), 9), 0xCDE703u);
    CSimReceiver sim(VirtualSim());
    CRawSession s(sim);
    // Three ports, one epoch: the receiver's own messages, NMEA, RTCM 3.
    CRawSession nmeaPort(sim, QStringLiteral("/dev/ser/b"));
    CRawSession rtcmPort(sim, QStringLiteral("/dev/ser/c"));
    s.Write("em,,kvs{/RT:1,/PG:1,/SI:1,/EE:1}\r\n");
    nmeaPort.Write("em,,nmea{/GGA:1,/RMC:1,/GSV:1,/GLL:1,/GSA:1,/VTG:1}\r\n");
    rtcmPort.Write("em,,rtcm3{/1004:1,/1012:1,/1005:10}\r\n");
    sim.AdvanceTime(21000);  // tracking by now; the next epoch is 12:00:40 GPS, on the station's 10 s grid
    s.Take();
    nmeaPort.Take();
    rtcmPort.Take();
    sim.AdvanceTime(1000);  // one epoch
    auto last = ById(SplitFrames(s.Take()));
    QByteArray gga;
    std::map<QByteArray, QList<QByteArray>> fields;  // the last sentence of each kind
    int gsvInView = 0;
    int gsaUsed = 0;
    for (const QByteArray& body : nmeaPort.Take().split('\n')) {
        const QByteArray line = body + '\n';
        uint8_t sum = 0;
        for (int i = 1; i < line.size() - 5; ++i) {
            sum ^= uint8_t(line[i]);
        }
        EXPECT_TRUE(body.isEmpty() || (line.startsWith('$') && line.endsWith("\r\n") &&
                                       line.mid(line.size() - 4, 2).toInt(nullptr, 16) == sum))
            << line.constData();
        const QList<QByteArray> f = line.split(',');
        gga = f[0] == "$GPGGA" ? line : gga;
        fields[f[0]] = f;
        gsvInView += f[0].endsWith("GSV") && f[2] == "1" ? f[3].toInt() : 0;
        if (f[0].endsWith("GSA")) {
            EXPECT_EQ(f.size(), 18) << line.constData();  // mode, fix, 12 satellites, PDOP, HDOP, VDOP
            for (int i = 3; i < 15 && i < f.size(); ++i) {
                gsaUsed += f[i].isEmpty() ? 0 : 1;
            }
        }
    }
    // UTC of the sentence is the receiver's GPS time less 18 s; the position is PG's; GSV lists SI's satellites.
    const QList<QByteArray> g = gga.split(',');
    ASSERT_GT(g.size(), 5);
    const int64_t gpsMs = U4(last["~~"].body);
    const int64_t utcMs = (gpsMs - 18000 + 86400000) % 86400000;
    EXPECT_EQ(g[1], QString::asprintf("%02d%02d%02d.00", int(utcMs / 3600000), int(utcMs / 60000 % 60),
                                      int(utcMs / 1000 % 60))
                        .toLatin1());
    const double lat = F8(last["PG"].body, 0) * 180 / kPi;
    EXPECT_NEAR(std::floor(lat) * 100 + (lat - std::floor(lat)) * 60, g[2].toDouble(), 1e-5);
    // Altitude above the geoid and the geoid's separation (EGM96 at the site) make up the ellipsoidal height.
    ASSERT_GT(g.size(), 11);
    EXPECT_EQ(g[11], "45.100");
    EXPECT_NEAR(g[9].toDouble() + g[11].toDouble(), F8(last["PG"].body, 16), 1e-3);
    EXPECT_EQ(gsvInView, last["SI"].body.size() - 1);
    // GLL's position is GGA's, VTG's speed RMC's, the GSA sentences list GGA's satellites in use.
    EXPECT_EQ(fields["$GPGLL"].mid(1, 4), g.mid(2, 4));
    EXPECT_EQ(fields["$GPVTG"].value(5), fields["$GPRMC"].value(7));
    EXPECT_EQ(gsaUsed, g[7].toInt());

    std::vector<QByteArray> rtcm;
    EXPECT_TRUE(RtcmFrames(rtcmPort.Take(), &rtcm));
    int obs = 0, stations = 0;
    for (const QByteArray& f : rtcm) {
        const int number = int(Bits(f, 0, 12));
        if (number == 1005) {
            ++stations;
            const Vec3 site = GeodeticToEcef(50.0870 * kPi / 180, 14.4210 * kPi / 180, 245.0);
            EXPECT_NEAR(SignedBits(f, 34, 38) * 1e-4, site.x, 1e-3);
            EXPECT_NEAR(SignedBits(f, 114, 38) * 1e-4, site.z, 1e-3);
        } else if (number == 1004) {
            ++obs;
            // Time of week of the epoch, the synchronous flag (1012 follows), 125 bits a satellite.
            EXPECT_EQ(int64_t(Bits(f, 24, 30) % 86400000), gpsMs);
            EXPECT_EQ(Bits(f, 54, 1), 1u);
            const int n = int(Bits(f, 55, 5));
            EXPECT_GT(n, 3);
            EXPECT_LT((f.size() - 6) * 8 - 64 - 125 * n, 8);
        }
    }
    EXPECT_EQ(rtcm.size(), 3u);  // 1004, 1012 and the station every 10 s
    EXPECT_EQ(obs, 1);
    EXPECT_EQ(stations, 1);
}

TEST(ForeignMessageTest, IdentifierOnceGapsAndTimeJumps)
{
    CSimReceiver sim(VirtualSim());
    CRawSession s(sim);
    s.Write("em,,kvs{/KV:1,/MF:1,/RT:1,/EE:1}\r\n");
    sim.AdvanceTime(3000);
    std::map<QByteArray, int> count;
    for (const RawFrame& f : SplitFrames(s.Take())) {
        ++count[f.id];
    }
    // The file identifier opens the stream; the format frame keeps its period.
    EXPECT_EQ(count["KV"], 1);
    EXPECT_EQ(count["MF"], 3);

    auto times = [&](int64_t ms) {
        sim.AdvanceTime(ms);
        std::vector<int64_t> out;
        for (const RawFrame& f : SplitFrames(s.Take())) {
            if (f.id == "~~") {
                out.push_back(U4(f.body));
            }
        }
        return out;
    };
    const int64_t t0 = times(1000).at(0);
    sim.InjectOutputGap(2500);
    EXPECT_TRUE(times(2000).empty());
    EXPECT_EQ(times(1000), std::vector<int64_t>{t0 + 3000});  // time ran on through the gap
    sim.InjectTimeJump(-7000);
    EXPECT_EQ(times(1000), std::vector<int64_t>{t0 + 4000 - 7000});
    sim.InjectTimeJump(3600000);
    EXPECT_EQ(times(1000), std::vector<int64_t>{t0 + 5000 - 7000 + 3600000});
}

// A decoder gets back from 1004 and 1012 the receiver's own codes to 0.02 m and phases to 0.5 mm (less whole
// 1500-cycle steps): every difference field is taken against the L1 code as it is sent.
TEST(ForeignMessageTest, Rtcm3ObservablesDecodeToTheReceiversValuesWithinTheirResolution)
{
    const int64_t start = QDateTime(QDate(2024, 6, 1), QTime(12, 0), Qt::UTC).toMSecsSinceEpoch();
    CMessageGenerator g(50.087, 14.421, 245, 7, start);
    int checked = 0;
    for (int64_t t = 30000; t <= 90000; t += 20000) {
        g.Step(t);
        const EpochData& e = g.Epoch(t, {});
        for (const bool glonass : {false, true}) {
            const QByteArray f = Rtcm3Frame(glonass ? 1012 : 1004, e, g.Sky().SiteEcef(), 0, start + t, false);
            int at = glonass ? 52 : 55;
            auto take = [&](int count, bool isSigned = false) {
                at += count;
                return isSigned ? SignedBits(f, at - count, count) : int64_t(Bits(f, at - count, count));
            };
            const int n = int(take(9) >> 4);  // count, smoothing, interval
            for (int i = 0; i < n; ++i, ++checked) {
                const int number = int(take(6));
                const int64_t rest = (take(glonass ? 6 : 1), take(glonass ? 25 : 24));  // after code, channel
                const int64_t phase1 = take(20, true);
                const double r1 = double((take(7), take(glonass ? 7 : 8))) * (glonass ? 599584.916 : 299792.458) +
                                  double(rest) * 0.02;
                const double r2 = r1 + double((take(10), take(14, true))) * 0.02;  // after C/N0, code type
                const int64_t phase2 = (take(20, true));
                take(15);
                const auto s = std::find_if(e.sats.begin(), e.sats.end(), [&](const EpochSat& x) {
                    return x.sat->number == number && (x.sat->system == GnssSystem::Glonass) == glonass &&
                           x.sat->system <= GnssSystem::Glonass;
                });
                ASSERT_NE(s, e.sats.end()) << number;
                EXPECT_LE(std::fabs(r1 - s->pseudorange[0] * Wgs84::kC), 0.01 + 1e-6) << number;
                EXPECT_LE(std::fabs(r2 - s->pseudorange[2] * Wgs84::kC), 0.01 + 1e-6) << number;
                for (const auto& [band, field, phase] : {std::tuple(SimSignal::CaL1, phase1, s->phase[0]),
                                                         std::tuple(SimSignal::PL2, phase2, s->phase[2])}) {
                    const double lambda = Wgs84::kC / CarrierHz(*s->sat, band);
                    const double cycles = (r1 + double(field) * 0.0005) / lambda - phase;
                    EXPECT_LE(std::fabs(cycles - std::round(cycles / 1500) * 1500) * lambda, 0.00025 + 1e-6) << number;
                }
            }
        }
    }
    EXPECT_GE(checked, 30);
}
