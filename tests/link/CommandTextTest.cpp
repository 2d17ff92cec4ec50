#include "link/Checksum.h"
#include "link/CommandText.h"
#include "link/ParamBatch.h"
#include "link/ReceiverHolder.h"
#include "link/ReceiverName.h"
#include "link/ReceiverOptions.h"
#include "link/Scan.h"

#include <gtest/gtest.h>

TEST(CommandText, SplitsChainsOutsideQuotesAndBraces)
{
    const auto s = SplitChain(QStringLiteral("%%em,,def:{1.00}&&em,,kvs{/EE:1;x};event,\"a&&b;c\""));
    ASSERT_EQ(s.size(), 3u);
    EXPECT_TRUE(s[0].tagged);
    EXPECT_EQ(s[0].tag, QString());
    EXPECT_EQ(s[0].text, QStringLiteral("em,,def:{1.00}"));
    EXPECT_EQ(s[0].separator, QStringLiteral("&&"));
    EXPECT_FALSE(s[1].tagged);
    EXPECT_EQ(s[1].text, QStringLiteral("em,,kvs{/EE:1;x}"));
    EXPECT_EQ(s[1].separator, QStringLiteral(";"));
    EXPECT_EQ(s[2].text, QStringLiteral("event,\"a&&b;c\""));

    const auto one = SplitChain(QStringLiteral("%Receiver model%print,/par/rcv/model"));
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].tag, QStringLiteral("Receiver model"));
    EXPECT_EQ(SplitChain(QStringLiteral("print,x;")).size(), 1u);
}

TEST(CommandText, RetagsAndRecomputesStatementChecksums)
{
    Statement plain;
    plain.text = QStringLiteral("print,/par/rcv/model");
    EXPECT_EQ(TaggedStatement(plain, QStringLiteral("nm1")), QStringLiteral("%nm1%print,/par/rcv/model"));

    // A statement that carries a checksum of its own gets one that covers the new tag.
    const QByteArray original = "%%print,/par/rcv/model@";
    Statement sum;
    sum.tagged = true;
    sum.text = QStringLiteral("print,/par/rcv/model@") +
               QString::asprintf("%02X", Checksum8(original.constData(), size_t(original.size())));
    const QString tagged = TaggedStatement(sum, QStringLiteral("nm2"));
    const QByteArray body = tagged.left(tagged.size() - 2).toLatin1();
    EXPECT_TRUE(tagged.startsWith(QStringLiteral("%nm2%print,/par/rcv/model@")));
    EXPECT_EQ(tagged.right(2), QString::asprintf("%02X", Checksum8(body.constData(), size_t(body.size()))));

    // "@" followed by two hex digits that are no checksum of the statement stays as it is.
    Statement text;
    text.text = QStringLiteral("event,\"meet@AB\"");
    EXPECT_EQ(TaggedStatement(text, QStringLiteral("t")), QStringLiteral("%t%event,\"meet@AB\""));
}

TEST(CommandText, ReadsBatches)
{
    const CommandBatch off =
        ParseCommandBatch(QStringLiteral("@scr stoperrors off\nprint,a\n\nprint,b\r\n@end\nprint,c\n"));
    EXPECT_TRUE(off.scripted);
    EXPECT_FALSE(off.stopOnErrors);
    EXPECT_EQ(off.lines, (QStringList{QStringLiteral("print,a"), QStringLiteral("print,b")}));

    const CommandBatch stop = ParseCommandBatch(QStringLiteral("@scr stoperrors\n%%event,\"_SIT=x\"\n@end\n"));
    EXPECT_TRUE(stop.stopOnErrors);
    EXPECT_EQ(stop.lines.size(), 1);

    const CommandBatch plain = ParseCommandBatch(QStringLiteral("print,a"));
    EXPECT_FALSE(plain.scripted);
    EXPECT_EQ(plain.lines, QStringList{QStringLiteral("print,a")});
}

TEST(CommandText, SplitsReplyBodiesAndBuildsFrames)
{
    const ReplyBody tagged = SplitReplyBody("%nm5%{2024-06-01}");
    EXPECT_TRUE(tagged.tagged);
    EXPECT_EQ(tagged.tag, QByteArray("nm5"));
    EXPECT_EQ(tagged.rest, QByteArray("{2024-06-01}"));
    const ReplyBody empty = SplitReplyBody("%%");
    EXPECT_TRUE(empty.tagged);
    EXPECT_TRUE(empty.tag.isEmpty());
    EXPECT_FALSE(SplitReplyBody("100%").tagged);
    EXPECT_EQ(BuildFrame("RE", ""), QByteArray("RE000"));
    EXPECT_EQ(BuildFrame("ER", "{4,value out of range}"), QByteArray("ER016{4,value out of range}"));
    EXPECT_EQ(BuildFrame("RE", QByteArray(5000, 'x')).size(), 5 + 0xFFF);
}

TEST(ParamBatch, FillsSlotsFromReplyLinesWithinItsBounds)
{
    CReceiverHolder holder;
    CParamBatch batch(holder);
    const QString text = QStringLiteral("@scr stoperrors off\nprint,a\nprint,b\nprint,c\nprint,d\nprint,e\n@end\n");
    batch.ParseReply(text,
                     QStringLiteral("RE003one\r\nRE005  two\r\nER018{2,,wrong 1st parameter}\r\nRE000\r\nRE001 \r\n"));
    EXPECT_EQ(batch.LineCount(), 7);  // every line end after the first character
    EXPECT_EQ(batch.ErrorCount(), 1);
    ASSERT_NE(batch[0], nullptr);
    EXPECT_EQ(*batch[0], QStringLiteral("one"));
    EXPECT_EQ(*batch[1], QStringLiteral("two"));
    EXPECT_EQ(batch[2], nullptr);
    ASSERT_NE(batch[3], nullptr);
    EXPECT_TRUE(batch[3]->isEmpty());
    EXPECT_TRUE(batch[4]->isEmpty());
    EXPECT_EQ(batch[5], nullptr);
    EXPECT_EQ(batch[-1], nullptr);
    EXPECT_EQ(batch[64], nullptr);

    // A short answer line does not borrow the next line; a second reply leaves nothing of the first.
    CParamBatch& shortLine = batch;
    shortLine.ParseReply(QStringLiteral("@scr\n"), QStringLiteral("RE\r\nRE003abc\r\n"));
    ASSERT_NE(shortLine[0], nullptr);
    EXPECT_TRUE(shortLine[0]->isEmpty());
    EXPECT_EQ(*shortLine[1], QStringLiteral("abc"));
    EXPECT_EQ(shortLine[3], nullptr);
    EXPECT_EQ(shortLine.ErrorCount(), 0);

    // Nothing is stored beyond 64 lines, but errors there still count.
    QString reply;
    for (int i = 0; i < 70; ++i) {
        reply +=
            i == 66 ? QStringLiteral("ER000\r\n") : QStringLiteral("RE002%1\r\n").arg(i % 100, 2, 10, QLatin1Char('0'));
    }
    CParamBatch many(holder);
    many.ParseReply(QStringLiteral("@scr\n"), reply);
    ASSERT_NE(many[63], nullptr);
    EXPECT_EQ(*many[63], QStringLiteral("63"));
    EXPECT_EQ(many[64], nullptr);
    EXPECT_EQ(many.ErrorCount(), 1);
}

TEST(ReceiverName, ParsesEveryForm)
{
    const auto sim = ParseReceiverName(QStringLiteral("SIM:"));
    EXPECT_EQ(sim.kind, ReceiverAddress::Kind::Simulator);
    EXPECT_EQ(ParseReceiverName(QStringLiteral("SIM:b")).simKey, QStringLiteral("b"));

    const auto com = ParseReceiverName(QStringLiteral("COM3:"));
    EXPECT_EQ(com.kind, ReceiverAddress::Kind::Serial);
    EXPECT_EQ(com.device, QStringLiteral("COM3"));
    EXPECT_EQ(com.baud, ReceiverAddress::kDefaultBaud);

    const auto tty = ParseReceiverName(QStringLiteral("ttyUSB0:9600,rtscts"));
    EXPECT_EQ(tty.kind, ReceiverAddress::Kind::Serial);
    EXPECT_EQ(tty.device, QStringLiteral("/dev/ttyUSB0"));
    EXPECT_EQ(tty.baud, 9600);
    EXPECT_TRUE(tty.rtsCts);
    EXPECT_EQ(ParseReceiverName(QStringLiteral("/dev/pts/7:115200")).device, QStringLiteral("/dev/pts/7"));
    EXPECT_EQ(ParseReceiverName(QStringLiteral("ttyS0:fast")).kind, ReceiverAddress::Kind::Invalid);

    const auto tcp = ParseReceiverName(QStringLiteral("192.168.0.5:8002"));
    EXPECT_EQ(tcp.kind, ReceiverAddress::Kind::Tcp);
    EXPECT_EQ(tcp.host, QStringLiteral("192.168.0.5"));
    EXPECT_EQ(tcp.port, 8002);
    EXPECT_TRUE(tcp.greets);
    const auto quiet = ParseReceiverName(QStringLiteral("rcv.local:8002,nogreeting"));
    EXPECT_EQ(quiet.port, 8002);
    EXPECT_FALSE(quiet.greets);
    EXPECT_EQ(ParseReceiverName(QStringLiteral("rcv.local:8002,fast")).kind, ReceiverAddress::Kind::Invalid);
    EXPECT_EQ(ParseReceiverName(QStringLiteral("host:99999")).kind, ReceiverAddress::Kind::Invalid);
    EXPECT_EQ(ParseReceiverName(QString()).kind, ReceiverAddress::Kind::Invalid);

    EXPECT_EQ(ReceiverShortName(QStringLiteral("ttyUSB0:9600")), QStringLiteral("ttyUSB0"));
    EXPECT_TRUE(IsSerialReceiverName(QStringLiteral("COM12:")));
    EXPECT_FALSE(IsSerialReceiverName(QStringLiteral("SIM:")));
    EXPECT_EQ(ParseReceiverName(SerialReceiverName(QStringLiteral("/dev/ttyS1"), 38400, true)).baud, 38400);
}

TEST(ReceiverOptions, TakeOneReceiverAndLeaveTheRest)
{
    const struct
    {
        QStringList args;
        const char* result;  // receiver name, "SIM", "rest" (not a receiver option) or the error
    } cases[] = {
        {{"--serial", "ttyUSB0,9600"}, "ttyUSB0:9600"},
        {{"--serial", "/dev/pts/3"}, "/dev/pts/3:"},
        {{"--tcp", "rcv.local:8002"}, "rcv.local:8002"},
        {{"--password", "pw", "--simulator"}, "SIM"},
        {{"--tcp", "ttyUSB0:"}, "--tcp can't use \"ttyUSB0:\""},
        {{"--serial", "ttyS0,fast"}, "--serial can't use \"ttyS0,fast\""},
        {{"--simulator", "--tcp", "a:1"}, "give only one of --simulator, --tcp and --serial"},
        {{"--tcp"}, "--tcp needs a value"},
        {{"list", "--tcp", "a:1"}, "rest"},
        // The forms a value after "=" and the link's own suffixes take.
        {{"--tcp=rcv.local:8002,nogreeting"}, "rcv.local:8002,nogreeting"},
        {{"--serial=/dev/ttyUSB0,38400,rtscts"}, "/dev/ttyUSB0:38400,rtscts"},
        {{"--password=pw", "--simulator=basic"}, "SIM basic"},
        {{"--simulator="}, "--simulator= needs a profile name"},
        {{"--serial", ",9600"}, "--serial can't use \",9600\""},
        {{"--tcpx", "a:1"}, "rest"},
        {{"--tcp", "h:99999"}, "--tcp can't use \"h:99999\""},
    };
    for (const auto& c : cases) {
        ReceiverOptions o;
        QString result;
        for (int i = 0; i < c.args.size() && result.isEmpty(); ++i) {
            const OptionStep step = ParseReceiverOption(c.args, i, &o, &result);
            if (step == OptionStep::NotMine) {
                result = QStringLiteral("rest");
            }
        }
        if (result.isEmpty()) {
            result = !o.simulator ? o.receiverName : o.simProfile == "full" ? "SIM" : "SIM " + o.simProfile;
        }
        EXPECT_EQ(result, QLatin1String(c.result)) << c.args.join(' ').toStdString();
    }
}

TEST(Scan, ReadsRepliesWithBoundedConversions)
{
    unsigned short y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
    EXPECT_EQ(ScanText(QStringLiteral("{2024-06-01,12:34:56.789}"), "{%4hu-%2hu-%2hu,%2hu:%2hu:%2hu.%3hu}", &y, &mo, &d,
                       &h, &mi, &s, &ms),
              7);
    EXPECT_EQ(y, 2024);
    EXPECT_EQ(ms, 789);
    char buf[8];
    EXPECT_EQ(ScanText(QString(5000, QLatin1Char('a')), "%7[^,]", buf), 1);
    EXPECT_EQ(std::string(buf), "aaaaaaa");
    EXPECT_EQ(ScanText(QString(), "%7[^,]", buf), -1);
    EXPECT_EQ(AnswerValue(QStringLiteral("RE006 3.4 \r\n")), QStringLiteral("3.4"));
}
