#include "FakeDevice.h"

#include "link/AutoResetEvent.h"
#include "link/Checksum.h"
#include "link/Connection.h"
#include "link/ParamBatch.h"
#include "link/Receiver.h"
#include "link/ReceiverHolder.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

class ReceiverLinkTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        static int counter = 0;
        m_device = std::make_shared<CFakeDevice>(QStringLiteral("link-%1").arg(++counter));
        RegisterInProcessDevice(m_device->Key(), m_device);
        ASSERT_TRUE(m_connection.Open(QString(), QString(), QString(), QStringLiteral("Nemola-M")));
        m_connection.SetTimeout(10);  // 200 ms of silence
        ASSERT_TRUE(m_receiver.Open(&m_connection, m_device->Name(), 0)) << m_receiver.GetReplyString().toStdString();
    }
    void TearDown() override
    {
        m_receiver.Close(false);
        UnregisterInProcessDevice(m_device->Key());
    }

    std::shared_ptr<CFakeDevice> m_device;
    CConnection m_connection;
    CReceiver m_receiver;
};

QString Reply(CReceiver& r, const QString& command, int* ok = nullptr)
{
    const int result = r.SendCommand(command);
    if (ok) {
        *ok = result;
    }
    return r.GetReplyString();
}

}  // namespace

TEST_F(ReceiverLinkTest, TagsEveryStatementAndRestoresTheCallersTag)
{
    int ok = 0;
    EXPECT_EQ(Reply(m_receiver, QStringLiteral("print,/par/rcv/model"), &ok), QStringLiteral("RE00E/par/rcv/model\r\n"));
    EXPECT_EQ(ok, 1);
    // An untagged set that the receiver accepts reads as an empty answer.
    EXPECT_EQ(Reply(m_receiver, QStringLiteral("set,/par/x,1")), QStringLiteral("RE000\r\n"));
    EXPECT_EQ(Reply(m_receiver, QStringLiteral("%%set,/par/x,1")), QStringLiteral("RE002%%\r\n"));
    EXPECT_EQ(Reply(m_receiver, QStringLiteral("%Receiver model%print,m")), QStringLiteral("RE011%Receiver model%m\r\n"));
    const QStringList sent = m_device->Received();
    ASSERT_GE(sent.size(), 4);
    EXPECT_TRUE(sent.last().startsWith(QLatin1String("%nm")));
    EXPECT_TRUE(sent.last().endsWith(QLatin1String("%print,m")));
}

TEST_F(ReceiverLinkTest, ErrorRepliesFailSingleCommandsButNotOpenBatches)
{
    m_device->SetResponder([](const Statement& s) -> std::optional<std::vector<CFakeDevice::Reply>> {
        if (s.text.contains(QLatin1String("bad"))) {
            return std::vector<CFakeDevice::Reply>{{"ER", "{2,,wrong 1st parameter}"}};
        }
        return std::vector<CFakeDevice::Reply>{{"RE", s.text.mid(6).toLatin1()}};
    });
    int ok = 1;
    EXPECT_EQ(Reply(m_receiver, QStringLiteral("print,bad"), &ok), QStringLiteral("ER018{2,,wrong 1st parameter}\r\n"));
    EXPECT_EQ(ok, 0);

    CReceiverHolder holder;
    holder.GetReceiver()->Open(&m_connection, m_device->Name(), 0);
    CParamBatch batch(holder);
    ASSERT_TRUE(batch.Run(QStringLiteral("@scr stoperrors off\nprint,a\nprint,b\nprint,bad\nprint,d\nprint,e\n@end\n")));
    EXPECT_EQ(*batch[0], QStringLiteral("a"));
    EXPECT_EQ(*batch[1], QStringLiteral("b"));
    EXPECT_EQ(batch[2], nullptr);
    EXPECT_EQ(*batch[3], QStringLiteral("d"));
    EXPECT_EQ(*batch[4], QStringLiteral("e"));
    EXPECT_EQ(batch.ErrorCount(), 1);

    // With stoperrors the batch ends at the first error and counts as failed.
    const QString reply = Reply(m_receiver, QStringLiteral("@scr stoperrors\nprint,a\nprint,bad\nprint,c\n@end\n"), &ok);
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(reply, QStringLiteral("RE001a\r\nER018{2,,wrong 1st parameter}\r\n"));
    holder.CloseReceiver();
}

// Print-only batches go ahead of their replies; the caller sees what one line at a time would have given.
TEST_F(ReceiverLinkTest, PipelinedBatchesGiveTheOneByOneOutcome)
{
    QByteArray lateTag;
    bool holdLate = false;
    m_device->SetResponder([&](const Statement& s) -> std::optional<std::vector<CFakeDevice::Reply>> {
        if (holdLate && s.text == QLatin1String("print,late")) {
            lateTag = s.tag.toLatin1();
            return std::nullopt;  // answered after the next line's reply
        }
        if (s.text == QLatin1String("print,next")) {
            return std::vector<CFakeDevice::Reply>{{"RE", "next"}};
        }
        if (holdLate && s.text == QLatin1String("print,then")) {
            m_device->Emit(BuildFrame("RE", '%' + lateTag + "%late") + "\r\n");
        }
        if (s.text.contains(QLatin1String("bad"))) {
            return std::vector<CFakeDevice::Reply>{{"ER", "{2,,wrong}"}};
        }
        return std::vector<CFakeDevice::Reply>{{"RE", s.text.mid(6).toLatin1()}};
    });
    const QStringList lines = {"print,a",    "%own%print,b", "print,bad", "print,late",
                               "print,next", "print,then",   "  PRINT,c"};
    QString oneByOne;
    for (const QString& line : lines) {
        oneByOne += Reply(m_receiver, line);
    }
    int ok = 0;
    holdLate = true;
    const QString batch =
        Reply(m_receiver, QStringLiteral("@scr stoperrors off\n") + lines.join(QLatin1Char('\n')) + "\n@end\n", &ok);
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(batch, oneByOne);
    EXPECT_TRUE(batch.contains(QLatin1String("RE004late\r\nRE004next\r\n")));

    // A receiver that does not answer has at most a window of commands unanswered, and the batch times out
    // with the same text as a single command.
    m_device->SetResponder([](const Statement&) { return std::optional<std::vector<CFakeDevice::Reply>>(); });
    QString many = QStringLiteral("@scr stoperrors off\n");
    for (int i = 0; i < 40; ++i) {
        many += QStringLiteral("print,/par/pos/value%1\n").arg(i);
    }
    const int before = int(m_device->Received().size());
    EXPECT_EQ(Reply(m_receiver, many + "@end\n", &ok), QStringLiteral("No reply from the receiver"));
    EXPECT_EQ(ok, 0);
    const QStringList sent = m_device->Received().mid(before);
    int bytes = 0;
    for (const QString& line : sent) {
        bytes += int(line.size()) + 2;
    }
    EXPECT_GT(sent.size(), 1);
    EXPECT_LE(bytes, CReceiver::kPipelineBytes);
}

TEST_F(ReceiverLinkTest, LongRepliesAreJoinedFromContinuationFrames)
{
    int tagBytes = 0;
    m_device->SetResponder([&](const Statement& s) -> std::optional<std::vector<CFakeDevice::Reply>> {
        // The first frame is full whatever the private tag's length; the rest follows untagged after a blank.
        tagBytes = int(s.tag.size()) + 2;
        const QByteArray head(0xFFF - tagBytes, 'a');
        return std::vector<CFakeDevice::Reply>{{"RE", head}, {"RE", " end", true}};
    });
    const QStringList lines = Reply(m_receiver, QStringLiteral("print,/log/")).split(QStringLiteral("\r\n"),
                                                                                 Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 1);
    // The private tag is gone, and the length says so.
    const int body = 0xFFF - tagBytes + 3;
    EXPECT_TRUE(lines[0].startsWith(QLatin1String("RE") + QString::number(body, 16).toUpper()));
    EXPECT_EQ(lines[0].size(), 5 + body);
    EXPECT_TRUE(lines[0].endsWith(QLatin1String("aaaend")));

    // In a batch the joined reply keeps every later value in its own slot.
    CReceiverHolder holder;
    holder.GetReceiver()->Open(&m_connection, m_device->Name(), 0);
    m_device->SetResponder([&](const Statement& s) -> std::optional<std::vector<CFakeDevice::Reply>> {
        if (s.text == QLatin1String("print,long")) {
            return std::vector<CFakeDevice::Reply>{{"RE", QByteArray(0xFFF - (s.tag.size() + 2), 'a')},
                                                   {"RE", " b", true}};
        }
        return std::vector<CFakeDevice::Reply>{{"RE", s.text.mid(6).toLatin1()}};
    });
    CParamBatch batch(holder);
    ASSERT_TRUE(batch.Run(QStringLiteral("@scr stoperrors off\nprint,x\nprint,long\nprint,y\n@end\n")));
    EXPECT_EQ(*batch[0], QStringLiteral("x"));
    EXPECT_TRUE(batch[1]->endsWith(QLatin1String("ab")));
    EXPECT_EQ(*batch[2], QStringLiteral("y"));
    holder.CloseReceiver();
}

TEST_F(ReceiverLinkTest, ADroppedLinkFailsTheWaitingCommandAndReportsIt)
{
    std::atomic<int> code{0};
    m_connection.SetSysMsgCallback([&](CConnection* c) {
        code = c->GetMsgCode();
        return 1ul;
    });
    m_connection.SetTimeout(500);  // 10 s: the drop, not the time-out, must end the wait
    m_device->SetResponder([&](const Statement& s) -> std::optional<std::vector<CFakeDevice::Reply>> {
        if (s.text == QLatin1String("print,c")) {
            m_device->Drop(QStringLiteral("unplugged"));
            return std::nullopt;
        }
        return std::vector<CFakeDevice::Reply>{{"RE", "v"}};
    });
    CReceiverHolder holder;
    holder.GetReceiver()->Open(&m_connection, m_device->Name(), 0);
    CParamBatch batch(holder);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(batch.Run(QStringLiteral("@scr stoperrors off\nprint,a\nprint,b\nprint,c\nprint,d\n@end\n")));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(batch[0], nullptr);
    // The report follows the failed command from the I/O thread.
    for (int i = 0; i < 400 && code == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(code.load(), CConnection::kMsgLinkLost);
    EXPECT_FALSE(holder.GetReceiver()->IsOpen());
    int ok = 1;
    holder.GetReceiver()->SendCommand(QStringLiteral("print,a"));
    ok = holder.GetReceiver()->SendCommand(QStringLiteral("print,a"));
    EXPECT_EQ(ok, 0);
    EXPECT_TRUE(holder.Reply().startsWith(QLatin1String("Link lost")));
    holder.CloseReceiver();
}

TEST_F(ReceiverLinkTest, AttachedTablesAndCallbacksGetTheirMessages)
{
    CAutoResetEvent epoch;
    GpsDataTable table(3);
    table[0].id = MsgId('|', '|');
    table[0].event = &epoch;
    table[0].flag = GPSDATA::kKeepAll;
    table[1].id = MsgId('~', '~');
    ASSERT_TRUE(m_receiver.Attach(0, nullptr, QStringLiteral("RT,EE"), &table));
    EXPECT_TRUE(m_device->Received().last().endsWith(QLatin1String("em,,kvs{/RT:1,/EE:1}")));

    std::atomic<int> calls{0};
    std::atomic<int> size{0};
    std::atomic<bool> sendFailed{false};
    CReceiver* self = &m_receiver;
    ASSERT_TRUE(m_receiver.Attach(3, [&](CReceiver* r) {
        ++calls;
        size = r->getMsgBufSize();
        EXPECT_EQ(r->getMsgChannel(), 3);
        EXPECT_EQ(r->readMsgBuf(0), 'T');
        EXPECT_EQ(r->readMsgBuf(1000), 0);
        EXPECT_EQ(r->getMsgBuf(1000), nullptr);
        // Commands from the I/O thread would wait for themselves; they fail at once instead.
        sendFailed = self->SendCommand(QStringLiteral("print,x")) == 0;
    }, QStringLiteral("TT:2"), nullptr));

    m_device->Emit(QByteArray("~~005\0\0\0\0\x5C\n", 11) + "||001\x46\n" + "||001\x46\n" +
                   QByteArray("TT005\x01\0\0\0", 9) + char(Checksum8("TT005\x01\0\0\0", 9)) + "\n");
    ASSERT_TRUE(epoch.Wait(2000));
    for (int i = 0; i < 200 && calls == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    {
        std::lock_guard lock(m_connection.GetLock());
        EXPECT_EQ(table[0].buffer, QByteArray("||001\x46||001\x46"));  // kept all
        EXPECT_EQ(table[1].buffer.size(), 10);
    }
    EXPECT_EQ(calls.load(), 1);
    EXPECT_EQ(size.load(), 10);
    EXPECT_TRUE(sendFailed.load());

    // An epoch end that never comes does not let a kept-all buffer grow without bound.
    QByteArray flood;
    for (int i = 0; i * 6 < 2 * GPSDATA::kMaxKeptBytes; ++i) {
        flood += "||001\x46";
    }
    m_connection.SetTimeout(250);  // a loaded machine may take longer than the fixture's 200 ms over the flood
    m_device->Emit(flood);
    m_receiver.SendCommand(QStringLiteral("print,sync"));
    {
        std::lock_guard lock(m_connection.GetLock());
        EXPECT_LE(table[0].buffer.size(), GPSDATA::kMaxKeptBytes);
        EXPECT_GT(table[0].buffer.size(), 0);
    }

    ASSERT_TRUE(m_receiver.Detach(3));
    EXPECT_TRUE(m_device->Received().last().endsWith(QLatin1String("dm,,kvs{/TT}")));
    m_device->Emit(QByteArray("TT005\x01\0\0\0", 9) + char(Checksum8("TT005\x01\0\0\0", 9)) + "\n");
    m_receiver.SendCommand(QStringLiteral("print,sync"));  // the message is handled before this reply
    EXPECT_EQ(calls.load(), 1);
}

TEST(ReceiverOpen, ReportsWhyItFailsAndHonoursCancel)
{
    CConnection connection;
    connection.Open(QString(), QString(), QString(), QStringLiteral("Nemola-M"));
    CReceiver receiver;
    EXPECT_EQ(receiver.Open(&connection, QStringLiteral("SIM:nobody"), 0), 0);
    EXPECT_TRUE(receiver.GetReplyString().contains(QLatin1String("SIM:nobody")));
    EXPECT_EQ(receiver.Open(&connection, QStringLiteral("nonsense"), 0), 0);
    EXPECT_EQ(receiver.SendCommand(QStringLiteral("print,x")), 0);

    auto device = std::make_shared<CFakeDevice>(QStringLiteral("silent"));
    device->SetResponder([](const Statement&) { return std::nullopt; });
    RegisterInProcessDevice(device->Key(), device);
    connection.SetTimeout(2);
    int attempts = 0;
    connection.Open(QString(), QString(), QString(), QStringLiteral("Nemola-M"), [&](const OPEN_ATTEMPT& a) {
        attempts = int(a.attempt);
        return a.attempt == 2;  // the user presses "Stop" during the second attempt
    });
    EXPECT_EQ(receiver.Open(&connection, device->Name(), 0), 0);
    EXPECT_EQ(attempts, 2);
    EXPECT_TRUE(receiver.GetReplyString().contains(QLatin1String("cancelled")));
    UnregisterInProcessDevice(device->Key());
}
