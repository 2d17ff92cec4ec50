// The raw-data behaviours and cycle slips a simulator is started with (nemola-sim --raw-profile, --slips) reach
// its messages; their command-line forms refuse what they cannot mean.

#include "SimTestUtil.h"

#include "sim/Simulator.h"

#include <gtest/gtest.h>

namespace {

TEST(SimRawOptionsTest, OptionsReachTheMessages)
{
    SimOptions o = VirtualSim();
    QString error;
    RawDataProfile p;
    ASSERT_TRUE(ParseRawProfile(QStringLiteral("glonass,si-on-change,unknown-slot=3"), &p, &error));
    EXPECT_TRUE(p.timeScale == 2 && p.siOnlyOnChange && p.unknownSlot == 3 && p.noChannelSlot == 0);
    ASSERT_TRUE(ParseRawProfile(QStringLiteral("utc-su"), &o.raw, &error));
    ASSERT_TRUE(ParseCycleSlips(QStringLiteral("G01@60, r7@300"), &o.slips, &error)) << error.toStdString();
    ASSERT_EQ(o.slips.size(), 2u);
    EXPECT_TRUE(o.slips[1].system == GnssSystem::Glonass && o.slips[1].number == 7 && o.slips[1].atMs == 300000);
    EXPECT_FALSE(ParseRawProfile(QStringLiteral("tai"), &p, &error) ||
                 ParseRawProfile(QStringLiteral("unknown-slot=25"), &p, &error));
    for (const char* bad : {"X1@3", "G05", "G0@1", "G05@1.5"}) {
        EXPECT_FALSE(ParseCycleSlips(QLatin1String(bad), &o.slips, &error)) << bad;
    }
    // A slip on every GPS satellite at 60 s: no GPS phase is locked at that epoch.
    o.slips.clear();
    for (int prn = 1; prn <= 32; ++prn) {
        o.slips.push_back({GnssSystem::Gps, prn, 60000});
    }
    CSimReceiver sim(o);
    CRawSession s(sim);
    s.Write("em,,kvs{/RD:1,/SI:1,/FC:1,/EE:1}\r\n");
    sim.AdvanceTime(58000);
    s.Take();
    for (const int64_t at : {59000, 60000}) {
        sim.AdvanceTime(1000);
        auto frames = ById(SplitFrames(s.Take()));
        const QByteArray &rd = frames["RD"].body, &si = frames["SI"].body, &fc = frames["FC"].body;
        ASSERT_TRUE(rd.size() == 6 && !si.isEmpty() && fc.size() == 2 * si.size() - 1) << at;  // with checksums
        EXPECT_EQ(int(rd[4]), 3) << "UTC(SU)";
        int locked = 0;
        for (int i = 0; i + 1 < si.size(); ++i) {
            locked += uint8_t(si[i]) <= 37 && (fc[2 * i] & 1);
        }
        EXPECT_EQ(locked > 0, at == 59000) << at;
    }
}

}  // namespace
