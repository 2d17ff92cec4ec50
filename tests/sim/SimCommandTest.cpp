// The command language of the simulated receiver as the program sees it: through the real link.

#include "SimTestUtil.h"
#include "support/SimHarness.h"

#include "link/Checksum.h"
#include "link/ParamBatch.h"
#include "link/Receiver.h"
#include "link/ReceiverHolder.h"

#include <gtest/gtest.h>

namespace {

QString S(const char* text)
{
    return QString::fromLatin1(text);
}

// The value of a single print as the program reads it: the reply from index 5, trimmed.
QString Value(CSimHarness& h, const QString& command)
{
    bool ok = false;
    const QString reply = h.Send(command, &ok);
    EXPECT_TRUE(ok) << command.toStdString() << " -> " << reply.toStdString();
    return reply.mid(5).trimmed();
}

// Certification numbers: only the full receiver has the modem, Bluetooth and Wi-Fi they are of.
const QStringList kCertification =
    S("/par/modem/c/inf/dev/fccid /par/modem/c/inf/dev/ic /par/modem/c/uhf/inf/fccid /par/modem/c/uhf/inf/ic "
      "/par/blt/inf/fccid /par/blt/inf/ic /par/net/wlan/inf/fccid /par/net/wlan/inf/ic")
        .split(QLatin1Char(' '));

QString Batch(const QStringList& commands)
{
    return S("@scr stoperrors off\n") + commands.join(QLatin1Char('\n')) + S("\n@end\n");
}

// A slot of a batch that ran; "(empty)" when it holds no value.
QString Slot(const CParamBatch& batch, int i)
{
    return batch.Value(i) ? *batch.Value(i) : S("(empty)");
}

}  // namespace

TEST(SimCommandTest, TaggedUntaggedAndChainedRepliesKeepTheirForm)
{
    CSimHarness h;
    ASSERT_TRUE(h.IsOpen()) << h.Holder().Reply().toStdString();
    bool ok = false;
    EXPECT_EQ(h.Send(S("print,/par/rcv/model"), &ok), S("RE008Vireo-Z3\r\n"));
    EXPECT_TRUE(ok);
    EXPECT_EQ(h.Send(S("%abc%print,/par/rcv/model")), S("RE00D%abc%Vireo-Z3\r\n"));
    EXPECT_EQ(h.Send(S("%%set,/par/pos/elm,10")), S("RE002%%\r\n"));
    EXPECT_EQ(h.Send(S("set,/par/pos/elm,11")), S("RE000\r\n"));
    EXPECT_EQ(Value(h, S("print,pos/elm")), S("11"));  // a relative name is under /par/
    // An empty tagged statement still gets its one reply.
    EXPECT_EQ(h.Send(S("%%")), S("RE002%%\r\n"));

    EXPECT_EQ(h.Send(S("print,/par/no/such"), &ok), S("ER018{2,,wrong 1st parameter}\r\n"));
    EXPECT_FALSE(ok);
    EXPECT_EQ(h.Send(S("%q%print,/par/no/such"), &ok), S("ER01B%q%{2,,wrong 1st parameter}\r\n"));
    EXPECT_FALSE(ok);
    EXPECT_EQ(h.Send(S("frobnicate,/par/"), &ok), S("ER014{1,,unknown command}\r\n"));

    // An error ends the rest of its "&&" group only: the set after it does not run, the statement after ';' does.
    EXPECT_EQ(h.Send(S("print,/par/rcv/model&&print,/par/nope&&set,/par/pos/elm,20;%t%print,/par/pos/elm"), &ok),
              S("RE008Vireo-Z3\r\nER018{2,,wrong 1st parameter}\r\nRE005%t%11\r\n"));
    EXPECT_FALSE(ok);
    EXPECT_EQ(h.Send(S("%a%set,/par/pos/elm,7;%b%set,/par/pos/elm,x;%c%print,/par/pos/elm")),
              S("RE003%a%\r\nER01B%b%{3,,wrong 2nd parameter}\r\nRE004%c%7\r\n"));

    // A statement checksum passes the link, which re-computes it for its own tag; the receiver checks it.
    const QByteArray statement = "print,/par/rcv/model@";
    const QString summed = QString::fromLatin1(statement) +
                           QString::asprintf("%02X", Checksum8(statement.constData(), size_t(statement.size())));
    EXPECT_EQ(h.Send(summed, &ok), S("RE008Vireo-Z3\r\n"));
    EXPECT_TRUE(ok);
    // Typed in a terminal: blanks around separators and after a checksum.
    EXPECT_EQ(h.Send(S("%%set,/par/pos/elm,12 ; ") + summed + S(" && %e%print,/par/pos/elm"), &ok),
              S("RE002%%\r\nRE008Vireo-Z3\r\nRE005%e%12\r\n"));
    EXPECT_TRUE(ok);

    // The record keeps each statement as written, tagged or not, whatever tag the receiver saw.
    h.ClearSentStatements();
    h.Send(S("%%dm,/dev/ser/b"));
    h.Send(S("dm,/dev/ser/b;%x%print,/cur/term"));
    EXPECT_EQ(h.SentStatements(), QStringList({S("%%dm,/dev/ser/b"), S("dm,/dev/ser/b"), S("%x%print,/cur/term")}));
}

TEST(SimCommandTest, SetValidatesAgainstTheParameter)
{
    CSimHarness h;
    bool ok = true;
    EXPECT_EQ(h.Send(S("%%set,/par/pos/elm,91"), &ok), S("ER018%%{4,value out of range}\r\n"));
    EXPECT_FALSE(ok);
    EXPECT_TRUE(h.Send(S("%%set,/par/pos/elm,abc")).startsWith(S("ER")));
    EXPECT_TRUE(h.Send(S("%%set,/par/rcv/model,Other")).contains(S("read-only")));
    EXPECT_TRUE(h.Send(S("%%set,/par/rcv/uptime,1")).contains(S("read-only")));
    EXPECT_TRUE(h.Send(S("%%set,/par/nope,1")).contains(S("wrong 1st parameter")));
    EXPECT_TRUE(h.Send(S("%%set,/par/dev/ser/b/rate,12345")).startsWith(S("ER")));
    EXPECT_TRUE(h.Send(S("%%set,/par/net/passwd,a,b")).startsWith(S("ER")));  // would break a braced print
    EXPECT_EQ(h.Sim().Param(S("/par/pos/elm")), S("5"));
    // Values at the bounds of a range and texts of the longest length are taken; one step beyond is not.
    const struct
    {
        const char* path;
        const char* inside;
        const char* beyond;
    } bounds[] = {
        {"/par/pos/elm", "0", "-1"},
        {"/par/pos/elm", "90", "91"},
        {"/par/out/elm/cur/term", "-90", "-91"},
        {"/par/pos/pdop", "1", "0.99"},
        {"/par/pos/pdop", "1000", "1000.01"},
        {"/par/net/passwd", "abcdefghijklmnop", "abcdefghijklmnopq"},
    };
    for (const auto& b : bounds) {
        const QString set = S("%%set,") + S(b.path) + QLatin1Char(',');
        EXPECT_EQ(h.Send(set + S(b.inside)), S("RE002%%\r\n")) << b.path << " " << b.inside;
        EXPECT_EQ(h.Send(set + S(b.beyond)).left(2), S("ER")) << b.path << " " << b.beyond;
    }
    h.Send(S("%%set,/par/pos/elm,5"));

    EXPECT_EQ(h.Send(S("%%set,/par/dev/ser/b/rate,9600")), S("RE002%%\r\n"));
    EXPECT_EQ(h.Send(S("%%set,/par/base/mode,ON")), S("RE002%%\r\n"));
    EXPECT_EQ(h.Send(S("%%set,/par/pwr/ext,1")).left(2), S("ER"));
    EXPECT_EQ(Value(h, S("print,/par/dev/ser/b/rate")), S("9600"));
    EXPECT_EQ(Value(h, S("print,/par/base/mode")), S("on"));  // choices are stored in their own spelling
    // The current port's parameters are the asking port's own.
    EXPECT_EQ(h.Send(S("%%set,/par/cur/term/rtscts,on")), S("RE002%%\r\n"));
    EXPECT_EQ(h.Sim().Param(S("/par/dev/ser/a/rtscts")), S("on"));
    EXPECT_EQ(Value(h, S("print,/par/cur/term/rate&def")), S("115200"));
    // A quoted parameter answers in quotes and takes its value with or without them.
    EXPECT_EQ(h.Send(S("%%set,/par/blt/name,\"FIELD 7\"")), S("RE002%%\r\n"));
    EXPECT_EQ(Value(h, S("print,/par/blt/name")), S("\"FIELD 7\""));
    // A comma outside quotes and braces ends the value: the rest is a second one, which a set does not take.
    EXPECT_EQ(h.Send(S("%%set,/par/blt/name,\"Rover, north\"")), S("RE002%%\r\n"));
    EXPECT_TRUE(h.Send(S("%%set,/par/blt/name,Rover, north")).startsWith(S("ER")));
    EXPECT_EQ(Value(h, S("print,/par/blt/name")), S("\"Rover, north\""));

    h.Sim().RefuseParam(S("/par/pos/elm"));
    EXPECT_TRUE(h.Send(S("%%set,/par/pos/elm,6")).startsWith(S("ER")));
    h.Sim().RefuseParam(S("/par/pos/elm"), false);
    EXPECT_EQ(h.Send(S("%%set,/par/pos/elm,6")), S("RE002%%\r\n"));
}

TEST(SimCommandTest, InitRestoresDefaultsOfATreeOrAll)
{
    CSimHarness h;
    h.Send(S("%%set,/par/pos/elm,15&&%%set,/par/base/mode,on&&%%set,/par/net/passwd,secret"));
    ASSERT_EQ(h.Sim().Param(S("/par/pos/elm")), S("15"));
    EXPECT_EQ(Value(h, S("print,/par/pos/elm&def")), S("5"));

    EXPECT_EQ(h.Send(S("%%init,/par/pos/")), S("RE002%%\r\n"));
    EXPECT_EQ(h.Sim().Param(S("/par/pos/elm")), S("5"));
    EXPECT_EQ(h.Sim().Param(S("/par/base/mode")), S("on"));

    const QString id = h.Sim().Param(S("/par/rcvid"));
    EXPECT_EQ(h.Send(S("%%init,/par/")), S("RE002%%\r\n"));
    EXPECT_EQ(h.Sim().Param(S("/par/rcvid")), id);  // the receiver's identity is no setting
    EXPECT_EQ(h.Sim().Param(S("/par/base/mode")), S("off"));
    EXPECT_EQ(h.Sim().Param(S("/par/net/passwd")), S("sim"));
    EXPECT_TRUE(h.Send(S("%%init,/par/nothing/")).startsWith(S("ER")));
}

TEST(SimCommandTest, DirectoriesPrintTheirValuesAndListTheirNames)
{
    CSimHarness h;
    EXPECT_EQ(h.Send(S("print,/par/time/utc/")), S("RE019{2024-06-01,12:00:00.000}\r\n"));
    h.Advance(61500);
    EXPECT_EQ(Value(h, S("print,/par/time/utc/")), S("{2024-06-01,12:01:01.500}"));
    EXPECT_EQ(Value(h, S("print,/par/rcv/uptime")), S("61"));
    EXPECT_EQ(Value(h, S("list,/par/time/utc")), S("{date,time}"));
    EXPECT_EQ(Value(h, S("list,/par/pwr/charge/")), S("{bat,curbat,speed,curspeed}"));
    EXPECT_EQ(Value(h, S("print,/par/pwr/charge/")), S("{auto,a,fast,fast}"));
    EXPECT_EQ(Value(h, S("print,/par/rcv/ver/")), S("{3.4.1,MBV-2.1,1.3,1.07,QM-GX 4.2}"));
    EXPECT_TRUE(h.Send(S("list,/par/rcv/model")).startsWith(S("ER")));
    // Message families list names, as the logging dialog reads them: "RT", never the stream's "~~".
    const QString kvs = Value(h, S("list,/msg/kvs"));
    EXPECT_TRUE(kvs.contains(S("{RT,ET,EV,EE,RD,PG,")) && kvs.contains(S(",KV,MF}")) && !kvs.contains(S("~~")))
        << kvs.toStdString();
    EXPECT_EQ(Value(h, S("list,/msg/nmea")), S("{GGA,GLL,GSA,GSV,RMC,VTG,ZDA}"));
    EXPECT_EQ(Value(h, S("list,/msg/cmr")), S("{0,1,2,3}"));
    EXPECT_TRUE(Value(h, S("list,/msg/rtcm")).startsWith(S("{1,3,")));
    // Attributes.
    EXPECT_EQ(Value(h, S("print,/dev/blk/a&block_size")), S("16384"));
    EXPECT_EQ(Value(h, S("print,/dev/blk/a&blocks")), S("8192"));
    EXPECT_EQ(Value(h, S("print,/cur/log&size")), S("0"));
    EXPECT_EQ(Value(h, S("print,/log/&[name,size,time]")), S("{}"));
    EXPECT_TRUE(h.Send(S("print,/par/rcv/model&nonsense")).startsWith(S("ER")));
}

// A reply longer than one frame comes as full frames and continuations that begin with one blank; the link
// pairs them with their command and joins them into one reply line.
TEST(SimCommandTest, LongReplyArrivesInFullFramesAndContinuations)
{
    CSimHarness h;
    const QString value = QString(9000, QLatin1Char('v')) + S("END");
    ASSERT_TRUE(h.Sim().SetParamValue(S("/par/rcv/model"), value));
    CRawSession raw(h.Sim());
    raw.Write("print,/par/rcv/model\r\n");
    const auto frames = SplitFrames(raw.Take());
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].body.size(), 4095);
    EXPECT_EQ(frames[1].body.size(), 4095);
    EXPECT_EQ(frames[1].body[0], ' ');
    EXPECT_EQ(frames[2].body[0], ' ');
    EXPECT_EQ(frames[0].body + frames[1].body.mid(1) + frames[2].body.mid(1), value.toLatin1());

    bool ok = false;
    EXPECT_EQ(h.Send(S("%L%print,/par/rcv/model"), &ok).trimmed(), S("REFFF%L%") + value);
    EXPECT_TRUE(ok);
    EXPECT_EQ(Value(h, S("print,/par/pos/elm")), S("5"));  // the next command is not confused by it
}

// The full receiver answers the whole information batch (certification numbers included), one slot per line;
// the basic one lacks what its hardware lacks, and an unknown profile is refused with its name.
TEST(SimCommandTest, ProfilesDecideWhichPathsExistAndBatchesFillOneSlotPerLine)
{
    const QStringList paths =
        S("/par/rcv/model /par/rcv/sn /par/rcvid /par/version/main /par/pos/pd/reset /par/rcv/ver/board /par/rcv/mem "
          "/par/ant/curinp /par/rcv/ver/modem /par/pwr/ext /par/ant/dc /par/pwr/mode /par/pwr/curmode /par/pwr/bat/a "
          "/par/pwr/bat/b /par/pwr/board /par/pwr/charger /par/pwr/charge/bat /par/pwr/charge/curbat "
          "/par/pwr/charge/speed /par/pwr/charge/curspeed /par/pwr/d3v /par/pwr/a3v /par/pwr/d5v /par/pwr/a5v "
          "/par/dev/thermo/out /par/dev/blk/a/size /par/dev/blk/a/free /par/dev/blk/a/files /dev/blk/a&block_size "
          "/dev/blk/a&blocks /par/dev/blk/a/bad_blocks /par/dev/blk/a/verify /cur/term /par/rcv/uptime "
          "/par/rcv/ver/hw /par/rcv/ver/boot /par/rcv/flash/waitstates /par/nope")
            .split(QLatin1Char(' ')) +
        kCertification;
    ASSERT_EQ(paths.size(), 47);
    QStringList commands;
    for (const QString& p : paths) {
        commands << S("print,") + p;
    }
    CSimHarness full;
    CParamBatch batch(full.Holder());
    ASSERT_TRUE(batch.Run(Batch(commands)));
    EXPECT_EQ(batch.ErrorCount(), 1);
    for (int i = 0; i < paths.size(); ++i) {
        if (paths[i] == S("/par/nope")) {
            EXPECT_EQ(Slot(batch, i), S("(empty)"));  // the error keeps its slot: later values stay in theirs
            continue;
        }
        ASSERT_NE(batch.Value(i), nullptr) << paths[i].toStdString();
        EXPECT_TRUE(!batch.Value(i)->isEmpty() || paths[i] == S("/par/rcv/uptime")) << paths[i].toStdString();
    }
    EXPECT_EQ(Slot(batch, 0), S("Vireo-Z3"));
    EXPECT_EQ(Slot(batch, 2).size(), 16);  // the receiver ID
    EXPECT_EQ(Slot(batch, 33), S("/dev/ser/a"));
    EXPECT_EQ(Slot(batch, 27), Slot(batch, 26));  // an empty memory is all free
    int major = 0, minor = 0;
    EXPECT_EQ(std::sscanf(Value(full, S("print,/par/rcv/ver/main")).toLatin1().constData(), "%d.%d", &major, &minor),
              2);
    // A batch holds 64 values; the lines past them get none.
    CParamBatch big(full.Holder());
    ASSERT_TRUE(big.Run(Batch(QStringList(70, S("print,/par/pos/elm")))));
    EXPECT_EQ(Slot(big, 63), S("5"));
    EXPECT_EQ(Slot(big, 64), S("(empty)"));
    EXPECT_EQ(big.ErrorCount(), 0);

    CSimHarness basic(VirtualSim(1, S("basic")));
    for (const QString& path : kCertification) {
        EXPECT_TRUE(basic.Send(S("print,") + path).startsWith(S("ER"))) << path.toStdString();
    }
    EXPECT_EQ(Value(basic, S("print,/par/rcv/model")), S("Vireo-B1"));
    EXPECT_EQ(Value(basic, S("print,/par/opts/cur/_RTK")), S("0"));
    EXPECT_EQ(Value(full, S("print,/par/opts/cur/_RTK")), S("1"));
    EXPECT_TRUE(basic.Send(S("print,/par/pos/pd/reset")).startsWith(S("ER")));
    EXPECT_TRUE(basic.Send(S("print,/par/rcv/ver/modem")).startsWith(S("ER")));
    EXPECT_TRUE(basic.Send(S("%%em,,/msg/rtk/kvs/min:1")).startsWith(S("ER")));
    EXPECT_EQ(full.Send(S("%%em,,/msg/rtk/kvs/min:1")), S("RE002%%\r\n"));

    const SimOptions unknown = VirtualSim(1, S("deluxe"));
    QString error;
    EXPECT_EQ(CSimReceiver::Create(unknown, &error), nullptr);
    EXPECT_TRUE(error.contains(S("deluxe")));
    CSimHarness refused(unknown);
    EXPECT_FALSE(refused.IsOpen());
    EXPECT_TRUE(refused.Holder().Reply().contains(S("deluxe"))) << refused.Holder().Reply().toStdString();
}

// What the configuration pages rely on: the current update rates follow the set ones, a recording period must fit
// them, live lock and frequency readings follow their settings, read-only readings move, hidden paths are absent.
TEST(SimCommandTest, TimingAndTrackingParametersFollowTheReceiversState)
{
    CSimHarness h;
    const struct
    {
        const char* command;
        const char* print;  // printed after the command
        const char* value;  // its value; "ER" when the command is refused
    } steps[] = {
        {"%%set,/par/raw/msint,40", "print,/par/raw/curmsint", "40"},
        {"%%set,/par/log/sc/period,0.05", "print,/par/log/sc/period", "ER"},  // 50 ms: no multiple of 40
        {"%%set,/par/raw/msint,50", "print,/par/raw/curmsint", "50"},
        {"%%set,/par/pos/msint,50", "print,/par/pos/curmsint", "50"},
        {"%%set,/par/log/sc/period,0.05", "print,/par/log/sc/period", "0.05"},
        {"%%set,/par/raw/msint,5001", "print,/par/raw/msint", "ER"},
        {"%%init,/par/", "print,/par/raw/curmsint", "100"},
        {"%%set,/par/dev/event/a/lock,on", "print,/par/dev/event/a/locked", "no"},  // the input is off
        {"%%set,/par/dev/event/a/in,on", "print,/par/dev/event/a/locked", "yes"},
        {"%%set,/par/frq/mode,use", "print,/par/frq/in/status", "locked"},
        {"%%set,/par/frq/mode,gen", "print,/par/frq/out/frq", "10.000"},
        {"%%set,/par/pwr/mode,mix", "print,/par/pwr/mode", "mix"},
        {"%%set,/par/pwr/charge/speed,high", "print,/par/pwr/charge/speed", "ER"},
    };
    for (const auto& s : steps) {
        bool ok = false;
        h.Send(S(s.command), &ok);
        EXPECT_EQ(ok, std::string(s.value) != "ER") << s.command;
        if (ok) {
            EXPECT_EQ(Value(h, S(s.print)), S(s.value)) << s.command;
        }
    }
    const QString temperature = Value(h, S("print,/par/dev/thermo/out"));
    h.Advance(20000);
    EXPECT_NE(Value(h, S("print,/par/dev/thermo/out")), temperature);

    h.Sim().HideParam(S("/par/rcv/model"));
    bool ok = true;
    EXPECT_TRUE(h.Send(S("print,/par/rcv/model"), &ok).startsWith(S("ER")));
    EXPECT_FALSE(ok);
    EXPECT_EQ(CSimHarness(VirtualSim(1, S("basic"))).Send(S("print,/par/frq/out/frq"), &ok).left(2), S("ER"));
}
