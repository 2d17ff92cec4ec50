// The command language of the simulated receiver as the program sees it: through the real link.

#include "SimTestUtil.h"
#include "support/SimHarness.h"

#include "link/Checksum.h"
#include "link/ParamBatch.h"
#include "link/Receiver.h"
#include "link/ReceiverHolder.h"

#include <QRegularExpression>

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

QString Batch(const QStringList& commands)
{
    return S("@scr stoperrors off\n") + commands.join(QLatin1Char('\n')) + S("\n@end\n");
}

}  // namespace

TEST(SimCommandTest, TaggedAndUntaggedRepliesKeepTheirForm)
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
}

TEST(SimCommandTest, ChainsStopAfterAnErrorOnlyWithinTheirAndGroup)
{
    CSimHarness h;
    bool ok = true;
    const QString reply =
        h.Send(S("print,/par/rcv/model&&print,/par/nope&&set,/par/pos/elm,20;%t%print,/par/pos/elm"), &ok);
    EXPECT_FALSE(ok);
    // The set after the error did not run; the statement after ';' did.
    EXPECT_EQ(reply, S("RE008Vireo-Z3\r\nER018{2,,wrong 1st parameter}\r\nRE004%t%5\r\n"));
    EXPECT_EQ(h.Sim().Param(S("/par/pos/elm")), S("5"));

    EXPECT_EQ(h.Send(S("%a%set,/par/pos/elm,7;%b%set,/par/pos/elm,x;%c%print,/par/pos/elm")),
              S("RE003%a%\r\nER01B%b%{3,,wrong 2nd parameter}\r\nRE004%c%7\r\n"));
}

TEST(SimCommandTest, BatchesFillOneSlotPerLine)
{
    CSimHarness h;
    CParamBatch batch(h.Holder());
    ASSERT_TRUE(batch.Run(Batch({S("print,/par/rcv/model"), S("print,/par/rcv/ver/main"), S("print,/par/nope"),
                                 S("print,/cur/term"), S("print,/par/rcvid")})));
    ASSERT_NE(batch.Value(0), nullptr);
    EXPECT_EQ(*batch.Value(0), S("Vireo-Z3"));
    ASSERT_NE(batch.Value(1), nullptr);
    int major = 0, minor = 0;
    EXPECT_EQ(std::sscanf(batch.Value(1)->toLatin1().constData(), "%d.%d", &major, &minor), 2);
    EXPECT_EQ(batch.Value(2), nullptr);
    ASSERT_NE(batch.Value(3), nullptr);
    EXPECT_EQ(*batch.Value(3), S("/dev/ser/a"));
    ASSERT_NE(batch.Value(4), nullptr);
    EXPECT_EQ(batch.Value(4)->size(), 16);
    EXPECT_EQ(batch.ErrorCount(), 1);

    QStringList many;
    for (int i = 0; i < 70; ++i) {
        many << S("print,/par/pos/elm");
    }
    CParamBatch big(h.Holder());
    ASSERT_TRUE(big.Run(Batch(many)));
    ASSERT_NE(big.Value(63), nullptr);
    EXPECT_EQ(*big.Value(63), S("5"));
    EXPECT_EQ(big.Value(64), nullptr);
    EXPECT_EQ(big.ErrorCount(), 0);
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
    EXPECT_EQ(Value(h, S("print,/par/pwr/charge/")), S("{auto,a,high,high}"));
    EXPECT_EQ(Value(h, S("print,/par/rcv/ver/")), S("{3.4.1,MBV-2.1,1.3,1.07,QM-GX 4.2}"));
    EXPECT_TRUE(h.Send(S("list,/par/rcv/model")).startsWith(S("ER")));
    EXPECT_TRUE(Value(h, S("list,/msg/kvs")).contains(S("~~")));
    // Attributes.
    EXPECT_EQ(Value(h, S("print,/dev/blk/a&block_size")), S("16384"));
    EXPECT_EQ(Value(h, S("print,/dev/blk/a&blocks")), S("8192"));
    EXPECT_EQ(Value(h, S("print,/cur/log&size")), S("0"));
    EXPECT_EQ(Value(h, S("print,/log/&[name,size,time]")), S("{}"));
    EXPECT_TRUE(h.Send(S("print,/par/rcv/model&nonsense")).startsWith(S("ER")));
}

// The link re-computes a caller's statement checksum for its own tag; the receiver checks it.
TEST(SimCommandTest, StatementChecksumPassesTheLink)
{
    CSimHarness h;
    const QByteArray statement = "print,/par/rcv/model@";
    const QString good =
        QString::fromLatin1(statement) + QString::asprintf("%02X", Checksum8(statement.constData(), statement.size()));
    bool ok = false;
    EXPECT_EQ(h.Send(good, &ok), S("RE008Vireo-Z3\r\n"));
    EXPECT_TRUE(ok);
    const QString seen = h.Sim().ReceivedCommands().last();
    EXPECT_TRUE(QRegularExpression(S("^%nm\\w+%print,/par/rcv/model@[0-9A-F]{2}$")).match(seen).hasMatch())
        << seen.toStdString();
}

// A reply longer than one frame comes as a full frame and continuations that begin with one blank. The link
// pairs them with their command but hands them over as separate frames, which the caller has to join.
TEST(SimCommandTest, LongReplyArrivesInFullFramesAndContinuations)
{
    CSimHarness h;
    const QString longValue = QString(5000, QLatin1Char('x')) + S("END");
    ASSERT_TRUE(h.Sim().SetParamValue(S("/par/rcv/model"), longValue));
    bool ok = false;
    const QString reply = h.Send(S("%L%print,/par/rcv/model"), &ok);
    EXPECT_TRUE(ok);
    // The link joins the continuation frames into one reply line.
    const QStringList lines = reply.split(S("\r\n"), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 1) << reply.left(40).toStdString();
    EXPECT_TRUE(lines[0].startsWith(S("REFFF%L%")));
    EXPECT_EQ(lines[0].mid(8), longValue);
    // The next command is not confused by it.
    EXPECT_EQ(Value(h, S("print,/par/pos/elm")), S("5"));
}

TEST(SimCommandTest, ProfilesDecideWhichPathsExist)
{
    const QStringList certification = {S("/par/modem/c/inf/dev/fccid"), S("/par/modem/c/inf/dev/ic"),
                                       S("/par/modem/c/uhf/inf/fccid"), S("/par/modem/c/uhf/inf/ic"),
                                       S("/par/blt/inf/fccid"),         S("/par/blt/inf/ic"),
                                       S("/par/net/wlan/inf/fccid"),    S("/par/net/wlan/inf/ic")};
    SimOptions basicOptions = CSimHarness::VirtualClock();
    basicOptions.profile = S("basic");
    CSimHarness basic(basicOptions);
    CSimHarness full;
    for (const QString& path : certification) {
        EXPECT_TRUE(basic.Send(S("print,") + path).startsWith(S("ER"))) << path.toStdString();
        EXPECT_TRUE(full.Send(S("print,") + path).startsWith(S("RE"))) << path.toStdString();
    }
    EXPECT_EQ(Value(basic, S("print,/par/rcv/model")), S("Vireo-B1"));
    EXPECT_EQ(Value(basic, S("print,/par/opts/cur/_RTK")), S("0"));
    EXPECT_EQ(Value(full, S("print,/par/opts/cur/_RTK")), S("1"));
    EXPECT_TRUE(basic.Send(S("print,/par/pos/pd/reset")).startsWith(S("ER")));
    EXPECT_TRUE(basic.Send(S("print,/par/rcv/ver/modem")).startsWith(S("ER")));
    EXPECT_TRUE(basic.Send(S("%%em,,/msg/rtk/kvs/min:1")).startsWith(S("ER")));
    EXPECT_EQ(full.Send(S("%%em,,/msg/rtk/kvs/min:1")), S("RE002%%\r\n"));

    SimOptions unknown = CSimHarness::VirtualClock();
    unknown.profile = S("deluxe");
    QString error;
    EXPECT_EQ(CSimReceiver::Create(unknown, &error), nullptr);
    EXPECT_TRUE(error.contains(S("deluxe")));
    CSimHarness refused(unknown);
    EXPECT_FALSE(refused.IsOpen());
    EXPECT_TRUE(refused.Holder().Reply().contains(S("deluxe"))) << refused.Holder().Reply().toStdString();
}

TEST(SimCommandTest, FullProfileAnswersTheWholeInformationBatch)
{
    const QStringList paths = {S("/par/rcv/model"),
                               S("/par/rcv/sn"),
                               S("/par/rcvid"),
                               S("/par/version/main"),
                               S("/par/pos/pd/reset"),
                               S("/par/rcv/ver/board"),
                               S("/par/rcv/mem"),
                               S("/par/ant/curinp"),
                               S("/par/rcv/ver/modem"),
                               S("/par/pwr/ext"),
                               S("/par/ant/dc"),
                               S("/par/pwr/mode"),
                               S("/par/pwr/curmode"),
                               S("/par/pwr/bat/a"),
                               S("/par/pwr/bat/b"),
                               S("/par/pwr/board"),
                               S("/par/pwr/charger"),
                               S("/par/pwr/charge/bat"),
                               S("/par/pwr/charge/curbat"),
                               S("/par/pwr/charge/speed"),
                               S("/par/pwr/charge/curspeed"),
                               S("/par/pwr/d3v"),
                               S("/par/pwr/a3v"),
                               S("/par/pwr/d5v"),
                               S("/par/pwr/a5v"),
                               S("/par/dev/thermo/out"),
                               S("/par/dev/blk/a/size"),
                               S("/par/dev/blk/a/free"),
                               S("/par/dev/blk/a/files"),
                               S("/dev/blk/a&block_size"),
                               S("/dev/blk/a&blocks"),
                               S("/par/dev/blk/a/bad_blocks"),
                               S("/par/dev/blk/a/verify"),
                               S("/cur/term"),
                               S("/par/rcv/uptime"),
                               S("/par/rcv/ver/hw"),
                               S("/par/rcv/ver/boot"),
                               S("/par/rcv/flash/waitstates"),
                               S("/par/modem/c/inf/dev/fccid"),
                               S("/par/modem/c/inf/dev/ic"),
                               S("/par/modem/c/uhf/inf/fccid"),
                               S("/par/modem/c/uhf/inf/ic"),
                               S("/par/blt/inf/fccid"),
                               S("/par/blt/inf/ic"),
                               S("/par/net/wlan/inf/fccid"),
                               S("/par/net/wlan/inf/ic")};
    ASSERT_EQ(paths.size(), 46);
    QStringList commands;
    for (const QString& p : paths) {
        commands << S("print,") + p;
    }
    CSimHarness h;
    CParamBatch batch(h.Holder());
    ASSERT_TRUE(batch.Run(Batch(commands)));
    EXPECT_EQ(batch.ErrorCount(), 0);
    for (int i = 0; i < paths.size(); ++i) {
        ASSERT_NE(batch.Value(i), nullptr) << paths[i].toStdString();
        if (paths[i] != S("/par/rcv/uptime")) {
            EXPECT_FALSE(batch.Value(i)->isEmpty()) << paths[i].toStdString();
        }
    }
    EXPECT_EQ(*batch.Value(27), *batch.Value(26));  // an empty memory is all free
}
