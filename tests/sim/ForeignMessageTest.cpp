// NMEA sentences and RTCM 3 frames beside the receiver's own messages: checksums, CRC-24Q, content that fits
// the same epoch; the file identifier once per stream; gaps and time jumps of the output.

#include "SimTestUtil.h"

#include "sim/SimForeign.h"
#include "sim/Simulator.h"
#include "sim/SkyModel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>

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
    sim.AdvanceTime(19000);  // tracking by now
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
