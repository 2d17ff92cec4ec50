// Message output: what "em" and "dm" remember per port, and the epochs the receiver sends.

#include "SimTestUtil.h"

#include "support/SimHarness.h"

#include "link/Connection.h"
#include "link/GpsData.h"
#include "link/Receiver.h"
#include "link/ReceiverHolder.h"
#include "sim/Simulator.h"

#include <gtest/gtest.h>

#include <mutex>

namespace {

SimOptions Virtual()
{
    SimOptions o;
    o.virtualClock = true;
    return o;
}

uint32_t U4(const QByteArray& body)
{
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) {
        v = (v << 8) | uint8_t(body[i]);
    }
    return v;
}

}  // namespace

TEST(SimOutputTest, EmAndDmRememberMessagesPerPort)
{
    CSimReceiver sim(Virtual());
    CRawSession s(sim);
    s.Write("em,,kvs{/PG:1,/RT:1.00,/EE:{0.5,0}}:2\r\n");
    s.Write("em,/dev/ser/b,rtcm{/1:1.00,/31:1.00,/3:10}\r\n");
    s.Write("%%em,/cur/log,/msg/def:{1.00,0}\r\n");
    s.Write("em,/cur/term,nmea/GGA:0.2&&em,,kvs/SI\r\n");
    EXPECT_EQ(SplitFrames(s.Take()).size(), 1u);  // only the tagged one answers
    EXPECT_EQ(sim.EnabledMessages("/dev/ser/a"), QStringList({"/msg/kvs/PG:1000", "/msg/kvs/SI:1000", "/msg/kvs/||:500",
                                                              "/msg/kvs/~~:1000", "/msg/nmea/GGA:200"}));
    EXPECT_EQ(sim.EnabledMessages("/dev/ser/b"),
              QStringList({"/msg/rtcm/1:1000", "/msg/rtcm/31:1000", "/msg/rtcm/3:10000"}));
    EXPECT_EQ(sim.EnabledMessages("/cur/log").size(), 14);

    s.Write("dm,,kvs{/PG,/EE}\r\n");
    EXPECT_EQ(sim.EnabledMessages("/dev/ser/a"),
              QStringList({"/msg/kvs/SI:1000", "/msg/kvs/~~:1000", "/msg/nmea/GGA:200"}));
    s.Write("dm,/dev/ser/b\r\n");
    EXPECT_TRUE(sim.EnabledMessages("/dev/ser/b").isEmpty());
    s.Write("dm\r\n");
    EXPECT_TRUE(sim.EnabledMessages("/dev/ser/a").isEmpty());
    EXPECT_TRUE(SplitFrames(s.Take()).empty());

    // Refused: unknown ports, unknown messages, periods out of range; nothing is half applied.
    const char* refused[] = {
        "%r%em,/dev/ser/x,kvs/PG",
        "%r%em,,kvs/Q?",
        "%r%em,,kvs{/PG:1,/ZZZ:1}",
        "%r%em,,kvs/PG:{0,0}",
        "%r%em,,kvs/PG:-1",
        "%r%em,,rtcm/99",
        "%r%em,,kvs/PG:{1,0,0}",
        "%r%em,,kvs{/PG",
        "%r%dm,,kvs/PG:1",
        "%r%em,,bogus/PG",
        "%r%em",
        "%r%em,,kvs/PG:{1,2,3,4,5}",
    };
    for (const char* command : refused) {
        s.Write(QByteArray(command) + "\r\n");
        const auto frames = SplitFrames(s.Take());
        ASSERT_EQ(frames.size(), 1u) << command;
        EXPECT_EQ(frames[0].id, QByteArray("ER")) << command;
    }
    EXPECT_TRUE(sim.EnabledMessages("/dev/ser/a").isEmpty());
}

TEST(SimOutputTest, EpochsCarryReceiverTimeFirstAndEpochEndLast)
{
    CSimReceiver sim(Virtual());
    CRawSession s(sim);
    s.Write("em,,kvs{/EE:1,/RT:1,/RD:1,/PG:1}\r\n");
    sim.AdvanceTime(2000);
    const auto frames = SplitFrames(s.Take());
    ASSERT_EQ(frames.size(), 8u);
    const char* order[] = {"~~", "RD", "PG", "||", "~~", "RD", "PG", "||"};
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i].id, QByteArray(order[i]));
        EXPECT_TRUE(frames[i].verified);
    }
    // 12:00:01 UTC plus the 18 s GPS is ahead.
    EXPECT_EQ(U4(frames[0].body), 12u * 3600000u + 19000u);
    EXPECT_EQ(U4(frames[4].body), 12u * 3600000u + 20000u);
    EXPECT_EQ(frames[1].body.left(5), QByteArray("\xE8\x07\x06\x01\x00", 5));

    // A count ends the output by itself; a phase shifts it.
    s.Write("dm\r\nem,,kvs/RT:{0.5,0.25,3}\r\n");
    sim.AdvanceTime(5000);
    const auto counted = SplitFrames(s.Take());
    ASSERT_EQ(counted.size(), 3u);
    EXPECT_EQ(U4(counted[0].body) % 500, 250u);
    EXPECT_TRUE(sim.EnabledMessages("/dev/ser/a").isEmpty());

    sim.CorruptOutput(true);
    s.Write("em,,kvs{/RT:1,/EE:1}\r\n");
    sim.AdvanceTime(1000);
    const auto bad = SplitFrames(s.Take());
    ASSERT_FALSE(bad.empty());
    for (const RawFrame& f : bad) {
        EXPECT_FALSE(f.verified);
    }
}

TEST(SimOutputTest, AttachDeliversFramesIntoTheTableAndDetachStopsThem)
{
    CSimHarness h;
    ASSERT_TRUE(h.IsOpen());
    GpsDataTable table(3);
    table[0].id = MsgId('|', '|');
    table[0].flag = GPSDATA::kKeepAll;
    table[1].id = MsgId('~', '~');
    table[1].flag = GPSDATA::kKeepAll;
    ASSERT_TRUE(h.Receiver().Attach(0, nullptr, QStringLiteral("RT,EE"), &table)) << h.Holder().Reply().toStdString();
    EXPECT_EQ(h.Sim().EnabledMessages("/dev/ser/a"), QStringList({"/msg/kvs/||:1000", "/msg/kvs/~~:1000"}));
    h.Advance(3000);
    // The reply comes after the epochs on the same stream: once it is here, they are too.
    h.Send(QStringLiteral("print,/par/rcv/model"));
    QByteArray ends, times;
    {
        std::lock_guard lock(h.Connection().GetLock());
        ends = table[0].buffer;
        times = table[1].buffer;
        table[0].buffer.clear();
        table[1].buffer.clear();
    }
    const auto endFrames = SplitFrames(ends);
    const auto timeFrames = SplitFrames(times);
    ASSERT_EQ(endFrames.size(), 3u);
    ASSERT_EQ(timeFrames.size(), 3u);
    for (const RawFrame& f : endFrames) {
        EXPECT_EQ(f.id, QByteArray("||"));
        EXPECT_TRUE(f.verified);
    }
    for (const RawFrame& f : timeFrames) {
        EXPECT_TRUE(f.verified);
    }
    EXPECT_EQ(U4(timeFrames[2].body) - U4(timeFrames[1].body), 1000u);

    ASSERT_TRUE(h.Receiver().Detach(0));
    EXPECT_TRUE(h.Sim().EnabledMessages("/dev/ser/a").isEmpty());
    std::mutex rawMutex;
    QByteArray raw;
    auto collect = [&](const char* data, int size) {
        std::lock_guard lock(rawMutex);
        raw.append(data, size);
    };
    h.Receiver().SendCommand(QString(), collect);
    h.Advance(3000);
    h.Receiver().SendCommand(QStringLiteral("print,/par/rcv/model"), collect);
    std::lock_guard lock(rawMutex);
    EXPECT_FALSE(raw.contains("~~")) << raw.toHex().toStdString();
}
