// The raw-data behaviours and cycle slips a simulator is started with (nemola-sim --raw-profile, --slips): their
// command-line forms, and that they reach the receiver's messages.

#include "SimTestUtil.h"

#include "sim/Simulator.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

TEST(SimRawOptionsTest, CommandLineForms)
{
    const struct
    {
        const char* text;
        bool ok;
        RawDataProfile p;
    } profiles[] = {
        {"", true, {}},
        {"utc-su,si-on-change,unknown-slot=3,no-channel-slot=7", true, {3, true, 3, 7}},
        {"glonass", true, {2, false, 0, 0}},
        {"tai", false, {}},
        {"unknown-slot=25", false, {}},
        {"si-on-change=1", false, {}},
    };
    for (const auto& c : profiles) {
        RawDataProfile p;
        QString error;
        ASSERT_EQ(ParseRawProfile(QLatin1String(c.text), &p, &error), c.ok) << c.text;
        EXPECT_EQ(error.isEmpty(), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(std::tie(p.timeScale, p.siOnlyOnChange, p.unknownSlot, p.noChannelSlot),
                      std::tie(c.p.timeScale, c.p.siOnlyOnChange, c.p.unknownSlot, c.p.noChannelSlot))
                << c.text;
        }
    }
    std::vector<CycleSlip> slips;
    QString error;
    ASSERT_TRUE(ParseCycleSlips(QStringLiteral("G05@120, r7@300"), &slips, &error)) << error.toStdString();
    ASSERT_EQ(slips.size(), 2u);
    EXPECT_EQ(std::tie(slips[0].system, slips[0].number, slips[0].atMs),
              std::make_tuple(GnssSystem::Gps, 5, int64_t(120000)));
    EXPECT_EQ(std::tie(slips[1].system, slips[1].number, slips[1].atMs),
              std::make_tuple(GnssSystem::Glonass, 7, int64_t(300000)));
    for (const char* bad : {"X1@3", "G05", "G0@1", "G05@-1", "G05@1.5", "@5"}) {
        EXPECT_FALSE(ParseCycleSlips(QLatin1String(bad), &slips, &error)) << bad;
    }
}

// A receiver started with a UTC(SU) time scale and slips on every GPS satellite at 60 s: its date message names the
// scale, and no GPS phase is locked at the slip's epoch.
TEST(SimRawOptionsTest, OptionsReachTheMessages)
{
    SimOptions o = VirtualSim();
    QString error;
    ASSERT_TRUE(ParseRawProfile(QStringLiteral("utc-su"), &o.raw, &error));
    for (int prn = 1; prn <= 32; ++prn) {
        o.slips.push_back({GnssSystem::Gps, prn, 60000});
    }
    CSimReceiver sim(o);
    CRawSession s(sim);
    s.Write("em,,kvs{/RT:1,/RD:1,/SI:1,/FC:1,/EE:1}\r\n");
    sim.AdvanceTime(58000);
    s.Take();
    for (const int64_t at : {59000, 60000}) {
        sim.AdvanceTime(1000);
        auto frames = ById(SplitFrames(s.Take()));
        ASSERT_EQ(frames["RD"].body.size(), 6) << at;  // with its checksum
        EXPECT_EQ(int(frames["RD"].body[4]), 3) << at;
        const QByteArray& si = frames["SI"].body;
        const QByteArray& fc = frames["FC"].body;
        ASSERT_EQ(fc.size(), 2 * si.size() - 1) << at;
        int locked = 0, gps = 0;
        for (int i = 0; i + 1 < si.size(); ++i) {
            if (uint8_t(si[i]) <= 37) {
                ++gps;
                locked += fc[2 * i] & 1;
            }
        }
        ASSERT_GT(gps, 0);
        if (at == 59000) {
            EXPECT_GT(locked, 0);
        } else {
            EXPECT_EQ(locked, 0);
        }
    }
}

}  // namespace
