// The receiver's side of a port, byte for byte: line handling, reply framing, hostile input, a reset's drop, and
// what "em" and "dm" remember per port.

#include "SimTestUtil.h"

#include "link/Checksum.h"
#include "sim/Simulator.h"

#include <gtest/gtest.h>

#include <random>

class SimSessionTest : public ::testing::Test
{
protected:
    // Writes `input` and returns the frames it got as "ID:body" lines.
    QByteArray Reply(const QByteArray& input)
    {
        s.Write(input);
        return Bodies(SplitFrames(s.Take()));
    }

    CSimReceiver sim{VirtualSim()};
    CRawSession s{sim};
};

TEST_F(SimSessionTest, LinesArriveInAnyPiecesAndEveryTaggedStatementGetsOneReply)
{
    ASSERT_TRUE(s.IsOpen());
    const QByteArray line = "%a%print,/par/nope&&%b%print,/par/rcv/model;%c%set,/par/pos/elm,7&&%d%\r\n\n\r";
    for (const char c : line) {
        s.Write(QByteArray(1, c));
    }
    EXPECT_EQ(Bodies(SplitFrames(s.Take())), QByteArray("ER:%a%{2,,wrong 1st parameter}\nRE:%c%\nRE:%d%\n"));
    EXPECT_EQ(sim.ReceivedCommands(), QStringList({"%a%print,/par/nope", "%c%set,/par/pos/elm,7", "%d%"}));

    // Untagged statements that succeed answer only when they print something.
    EXPECT_EQ(Reply("set,/par/pos/elm,8;em,,kvs/RT:1;dm;event,\"x;y\";print,/par/pos/elm\n"), QByteArray("RE:8\n"));
    EXPECT_EQ(sim.Events(), QStringList({"x;y"}));
    // A tag without its closing sign is no tag: the statement fails untagged.
    EXPECT_EQ(Reply("%open print,/par/pos/elm\n"), QByteArray("ER:{1,,syntax error}\n"));
}

TEST_F(SimSessionTest, StatementChecksumCoversTheTagAndIsVerified)
{
    const QByteArray covered = "%w%print,/par/pos/elm@";
    const uint8_t right = Checksum8(covered.constData(), size_t(covered.size()));
    EXPECT_EQ(Reply(covered + QByteArray::number(right, 16).toUpper().rightJustified(2, '0') + "\r\n" + covered +
                    QByteArray::number(right ^ 0x5A, 16).toUpper().rightJustified(2, '0') + "\r\n"),
              QByteArray("RE:%w%5\nER:%w%{6,,checksum error}\n"));
}

TEST_F(SimSessionTest, OverlongLinesAreRefusedOnceAndTheSessionStaysUsable)
{
    s.Write("%x%print," + QByteArray(300, 'a'));
    s.Write(QByteArray(5000, 'b'));  // still the same line: nothing is kept of it
    EXPECT_EQ(Reply("\r\n%ok%print,/par/pos/elm\r\n"), QByteArray("ER:{9,,line too long}\nRE:%ok%5\n"));
    // Exactly 256 characters is still a line.
    EXPECT_EQ(Reply(QByteArray("%e%print,/par/pos/elm;").leftJustified(256, ' ') + "\n"), QByteArray("RE:%e%5\n"));
}

TEST_F(SimSessionTest, RandomBytesNeverBreakTheSession)
{
    std::mt19937 rng(20240601);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> length(0, 400);
    std::uniform_int_distribution<int> chunk(1, 64);
    std::uniform_int_distribution<int> flavour(0, 3);
    // Pieces of the language make the garbage reach deeper than plain noise would.
    const QByteArray pieces[] = {"print,", "set,", "%",   "&&",    ";",     "{",     "}",    "\"", "@",    "em,,",
                                 "kvs{/",  ":{",   "dm,", "init,", "/par/", "list,", "&def", ",",  "/msg/"};
    for (int i = 0; i < 3000; ++i) {
        QByteArray line;
        const int n = length(rng);
        while (line.size() < n) {
            if (flavour(rng) == 0) {
                line += pieces[size_t(byte(rng)) % std::size(pieces)];
            } else {
                char c = static_cast<char>(byte(rng));
                line += (c == '\r' || c == '\n') ? 'z' : c;
            }
        }
        line += "\r\n";
        for (int pos = 0; pos < line.size();) {
            const int k = chunk(rng);
            s.Write(line.mid(pos, k));
            pos += k;
        }
        sim.AdvanceTime(10);
    }
    for (const RawFrame& f : SplitFrames(s.Take())) {
        ASSERT_TRUE(f.id == "RE" || f.id == "ER" || f.verified) << f.id.toStdString();
    }
    s.Write("dm\r\n");
    sim.AdvanceTime(10);
    s.Take();
    EXPECT_EQ(Reply("%end%print,/par/rcv/model\r\n"), QByteArray("RE:%end%Vireo-Z3\n"));
}

TEST_F(SimSessionTest, PortsAreTakenInOrderAndFreedByTheirSession)
{
    CRawSession b(sim), t(sim, "/dev/tcp/a");  // after the fixture's /dev/ser/a
    ASSERT_TRUE(s.IsOpen() && b.IsOpen() && t.IsOpen());
    b.Write("print,/cur/term\n");
    t.Write("print,/cur/term\n");
    EXPECT_EQ(Bodies(SplitFrames(b.Take())), QByteArray("RE:/dev/ser/b\n"));
    EXPECT_EQ(Bodies(SplitFrames(t.Take())), QByteArray("RE:/dev/tcp/a\n"));
    EXPECT_FALSE(CRawSession(sim, "/dev/tcp/a").IsOpen());  // busy
    EXPECT_FALSE(CRawSession(sim, "/dev/nowhere").IsOpen());
    EXPECT_EQ(sim.FreePort("tcp"), QString("/dev/tcp/b"));
    CRawSession c(sim), d(sim);
    EXPECT_TRUE(d.IsOpen());
    EXPECT_FALSE(CRawSession(sim).IsOpen());  // all four serial ports are busy
    b.Close();
    CRawSession again(sim);
    ASSERT_TRUE(again.IsOpen());
    again.Write("print,/cur/term\n");
    EXPECT_EQ(Bodies(SplitFrames(again.Take())), QByteArray("RE:/dev/ser/b\n"));
    // The basic receiver has no CAN ports.
    CSimReceiver small(VirtualSim(1, "basic"));
    EXPECT_FALSE(CRawSession(small, "/dev/can/a").IsOpen());
    EXPECT_TRUE(CRawSession(sim, "/dev/can/a").IsOpen());
}

TEST_F(SimSessionTest, ResetDropsMessageOutputAndTheRestOfItsLine)
{
    EXPECT_EQ(Reply("em,,kvs/RT:1\r\n%a%set,reset,no\r\n%b%set,reset,yes;%c%print,/par/rcv/model\r\n"
                    "%d%print,/cur/term\r\n"),
              QByteArray("RE:%a%\nRE:%b%\n"));  // "no" is no reset
    sim.AdvanceTime(100);
    EXPECT_TRUE(s.Dropped());
    EXPECT_TRUE(sim.EnabledMessages("/dev/ser/a").isEmpty());
    EXPECT_EQ(sim.ReceivedCommands().last(), QStringLiteral("%b%set,reset,yes"));
}

TEST_F(SimSessionTest, EmAndDmRememberMessagesPerPort)
{
    s.Write("em,,kvs{/PG:1,/RT:1.00,/EE:{0.5,0}}:2\r\n");
    s.Write("em,/dev/ser/b,rtcm{/1:1.00,/31:1.00,/3:10}\r\n");
    s.Write("create,\"/log/t\"\r\n");  // logging needs a current log file
    s.Write("%%em,/cur/log,/msg/def:{1.00,0}\r\n");
    s.Write("em,/cur/term,nmea/GGA:0.2&&em,,kvs/SI\r\n");
    EXPECT_EQ(SplitFrames(s.Take()).size(), 1u);  // only the tagged one answers
    EXPECT_EQ(sim.EnabledMessages("/dev/ser/a"), QStringList({"/msg/kvs/PG:1000", "/msg/kvs/SI:1000", "/msg/kvs/||:500",
                                                              "/msg/kvs/~~:1000", "/msg/nmea/GGA:200"}));
    EXPECT_EQ(sim.EnabledMessages("/dev/ser/b"),
              QStringList({"/msg/rtcm/1:1000", "/msg/rtcm/31:1000", "/msg/rtcm/3:10000"}));
    EXPECT_EQ(sim.EnabledMessages("/cur/log").size(), 15);  // the default set, MF included

    s.Write("dm,,kvs{/PG,/EE}\r\n");
    EXPECT_EQ(sim.EnabledMessages("/dev/ser/a"),
              QStringList({"/msg/kvs/SI:1000", "/msg/kvs/~~:1000", "/msg/nmea/GGA:200"}));
    s.Write("dm,/dev/ser/b\r\n");
    EXPECT_TRUE(sim.EnabledMessages("/dev/ser/b").isEmpty());
    s.Write("dm\r\n");
    EXPECT_TRUE(sim.EnabledMessages("/dev/ser/a").isEmpty());
    EXPECT_TRUE(SplitFrames(s.Take()).empty());

    // Refused: unknown ports, unknown messages, periods out of range; nothing is half applied.
    for (const char* command : {"em,/dev/ser/x,kvs/PG", "em,,kvs/Q?", "em,,kvs{/PG:1,/ZZZ:1}", "em,,kvs/PG:{0,0}",
                                "em,,kvs/PG:-1", "em,,rtcm/99", "em,,kvs/PG:{1,0,0}", "em,,kvs{/PG", "dm,,kvs/PG:1",
                                "em,,bogus/PG", "em", "em,,kvs/PG:{1,2,3,4,5}"}) {
        const QByteArray reply = Reply(QByteArray("%r%") + command + "\r\n");
        EXPECT_TRUE(reply.startsWith("ER:%r%") && reply.count('\n') == 1) << command << ": " << reply.constData();
    }
    EXPECT_TRUE(sim.EnabledMessages("/dev/ser/a").isEmpty());
}
