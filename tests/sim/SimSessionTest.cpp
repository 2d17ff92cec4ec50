// The receiver's side of a port, byte for byte: line handling, reply framing, hostile input.

#include "SimTestUtil.h"

#include "link/Checksum.h"
#include "sim/Simulator.h"

#include <gtest/gtest.h>

#include <random>

namespace {

SimOptions Virtual()
{
    SimOptions o;
    o.virtualClock = true;
    return o;
}

QByteArray Bodies(const std::vector<RawFrame>& frames)
{
    QByteArray all;
    for (const RawFrame& f : frames) {
        all += f.id + ':' + f.body + '\n';
    }
    return all;
}

}  // namespace

TEST(SimSessionTest, LinesArriveInAnyPiecesAndEveryTaggedStatementGetsOneReply)
{
    CSimReceiver sim(Virtual());
    CRawSession s(sim);
    ASSERT_TRUE(s.IsOpen());
    const QByteArray line = "%a%print,/par/nope&&%b%print,/par/rcv/model;%c%set,/par/pos/elm,7&&%d%\r\n\n\r";
    for (const char c : line) {
        s.Write(QByteArray(1, c));
    }
    const auto frames = SplitFrames(s.Take());
    EXPECT_EQ(Bodies(frames), QByteArray("ER:%a%{2,,wrong 1st parameter}\nRE:%c%\nRE:%d%\n"));
    EXPECT_EQ(sim.ReceivedCommands(), QStringList({"%a%print,/par/nope", "%c%set,/par/pos/elm,7", "%d%"}));

    // Untagged statements that succeed answer only when they print something.
    s.Write("set,/par/pos/elm,8;em,,kvs/RT:1;dm;event,\"x;y\";print,/par/pos/elm\n");
    EXPECT_EQ(Bodies(SplitFrames(s.Take())), QByteArray("RE:8\n"));
    EXPECT_EQ(sim.Events(), QStringList({"x;y"}));
    // A tag without its closing sign is no tag: the statement fails untagged.
    s.Write("%open print,/par/pos/elm\n");
    EXPECT_EQ(Bodies(SplitFrames(s.Take())), QByteArray("ER:{1,,syntax error}\n"));
}

TEST(SimSessionTest, StatementChecksumCoversTheTagAndIsVerified)
{
    CSimReceiver sim(Virtual());
    CRawSession s(sim);
    const QByteArray covered = "%w%print,/par/pos/elm@";
    const uint8_t right = Checksum8(covered.constData(), size_t(covered.size()));
    s.Write(covered + QByteArray::number(right, 16).toUpper().rightJustified(2, '0') + "\r\n");
    s.Write(covered + QByteArray::number(right ^ 0x5A, 16).toUpper().rightJustified(2, '0') + "\r\n");
    EXPECT_EQ(Bodies(SplitFrames(s.Take())), QByteArray("RE:%w%5\nER:%w%{6,,checksum error}\n"));
}

TEST(SimSessionTest, LongRepliesAreSplitIntoFullFramesWithBlankContinuations)
{
    CSimReceiver sim(Virtual());
    CRawSession s(sim);
    const QString value = QString(9000, QLatin1Char('v'));
    ASSERT_TRUE(sim.SetParamValue("/par/rcv/model", value));
    s.Write("print,/par/rcv/model\r\n");
    const auto frames = SplitFrames(s.Take());
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].body.size(), 4095);
    EXPECT_EQ(frames[1].body.size(), 4095);
    EXPECT_EQ(frames[1].body[0], ' ');
    EXPECT_EQ(frames[2].body[0], ' ');
    EXPECT_EQ(frames[0].body + frames[1].body.mid(1) + frames[2].body.mid(1), value.toLatin1());
}

TEST(SimSessionTest, OverlongLinesAreRefusedOnceAndTheSessionStaysUsable)
{
    CSimReceiver sim(Virtual());
    CRawSession s(sim);
    s.Write("%x%print," + QByteArray(300, 'a'));
    s.Write(QByteArray(5000, 'b'));  // still the same line: nothing is kept of it
    s.Write("\r\n%ok%print,/par/pos/elm\r\n");
    EXPECT_EQ(Bodies(SplitFrames(s.Take())), QByteArray("ER:{9,,line too long}\nRE:%ok%5\n"));
    // Exactly 256 characters is still a line.
    QByteArray edge = "%e%print,/par/pos/elm;";
    while (edge.size() < 256) {
        edge += ' ';
    }
    s.Write(edge + "\n");
    EXPECT_EQ(Bodies(SplitFrames(s.Take())), QByteArray("RE:%e%5\n"));
}

TEST(SimSessionTest, RandomBytesNeverBreakTheSession)
{
    CSimReceiver sim(Virtual());
    CRawSession s(sim);
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
    sim.WithholdReplies(false);
    s.Write("dm\r\n%end%print,/par/rcv/model\r\n");
    sim.AdvanceTime(10);
    const auto last = SplitFrames(s.Take());
    ASSERT_FALSE(last.empty());
    EXPECT_EQ(last.back().id + last.back().body, QByteArray("RE%end%Vireo-Z3"));
}

TEST(SimSessionTest, PortsAreTakenInOrderAndFreedByTheirSession)
{
    CSimReceiver sim(Virtual());
    CRawSession a(sim), b(sim);
    CRawSession t(sim, "/dev/tcp/a");
    ASSERT_TRUE(a.IsOpen() && b.IsOpen() && t.IsOpen());
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
    SimOptions basic = Virtual();
    basic.profile = "basic";
    CSimReceiver small(basic);
    EXPECT_FALSE(CRawSession(small, "/dev/can/a").IsOpen());
    EXPECT_TRUE(CRawSession(sim, "/dev/can/a").IsOpen());
}
