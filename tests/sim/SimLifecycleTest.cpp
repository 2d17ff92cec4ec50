// Restarts of the receiver and the faults tests inject, as the link experiences them.

#include "SimTestUtil.h"

#include "support/SimHarness.h"

#include "link/Connection.h"
#include "link/Receiver.h"
#include "link/ReceiverHolder.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

void ExpectRestart(const char* command, bool clearsNvram)
{
    CSimHarness h;
    CLinkLostCounter lost(h.Connection());
    ASSERT_TRUE(h.IsOpen());
    ASSERT_EQ(h.Send(QStringLiteral("%%set,/par/pos/elm,12")), QStringLiteral("RE002%%\r\n"));
    h.Advance(5000);

    bool ok = false;
    EXPECT_EQ(h.Send(QString::fromLatin1(command), &ok), QStringLiteral("RE002%%\r\n"));
    EXPECT_TRUE(ok);
    EXPECT_TRUE(h.Sim().IsAway());
    h.Advance(100);
    ASSERT_TRUE(PumpUntil([&] { return lost.Count() == 1; })) << "the link never heard of the drop";
    EXPECT_FALSE(h.IsOpen());

    // Away for rebootMs of receiver time.
    h.Holder().CloseReceiver();
    EXPECT_FALSE(h.Open());
    EXPECT_TRUE(h.Holder().Reply().contains(QStringLiteral("restarting"))) << h.Holder().Reply().toStdString();
    h.Advance(h.Sim().Options().rebootMs - 200);
    EXPECT_FALSE(h.Open());
    h.Advance(200);
    ASSERT_TRUE(h.Open()) << h.Holder().Reply().toStdString();

    EXPECT_EQ(h.Sim().Param(QStringLiteral("/par/pos/elm")), QStringLiteral("12"));
    EXPECT_EQ(h.Send(QStringLiteral("print,/par/rcv/uptime")), QStringLiteral("RE0010\r\n"));
    EXPECT_EQ(h.Sim().AlmanacValid(), !clearsNvram);
    EXPECT_EQ(lost.Count(), 1);
}

}  // namespace

// A reset keeps the almanac, an NVRAM clear does not; both keep the parameters.
TEST(SimLifecycleTest, ResetAndNvramClearAnswerThenGoAwayAndComeBackWithTheirParameters)
{
    for (const auto& [command, clearsNvram] : {std::pair{"%%set,reset,yes", false}, {"%%init,/dev/nvm/a", true}}) {
        SCOPED_TRACE(command);
        ExpectRestart(command, clearsNvram);
    }
}

TEST(SimLifecycleTest, WithheldReplyFailsTheCommandAndTheLateOneIsNotTakenForTheNext)
{
    CSimHarness h;
    ASSERT_TRUE(h.IsOpen());
    h.Connection().SetTimeout(5);

    h.Sim().WithholdReplies(true);
    bool ok = true;
    h.Send(QStringLiteral("print,/par/rcv/model"), &ok);
    EXPECT_FALSE(ok);
    h.Sim().WithholdReplies(false);
    EXPECT_EQ(h.Send(QStringLiteral("print,/par/pos/elm"), &ok), QStringLiteral("RE0015\r\n"));
    EXPECT_TRUE(ok);

    // A delayed reply: the command gives up, and the reply turns up while the next command waits.
    h.Sim().SetReplyDelayMs(1000);
    h.Send(QStringLiteral("print,/par/rcv/model"), &ok);
    EXPECT_FALSE(ok);
    h.Connection().SetTimeout(250);
    h.Sim().ClearReceivedCommands();
    QString second;
    std::thread waiter([&] { second = h.Send(QStringLiteral("print,/par/rcv/sn"), &ok); });
    ASSERT_TRUE(PumpUntil([&] { return h.Sim().ReceivedCommands().size() == 1; }));
    h.Advance(1000);
    waiter.join();
    EXPECT_TRUE(ok);
    EXPECT_EQ(second, QStringLiteral("RE009ZV3-20417\r\n"));
}

TEST(SimLifecycleTest, DroppedSessionFailsAWaitingCommandAtOnce)
{
    CSimHarness h;
    CLinkLostCounter lost(h.Connection());
    ASSERT_TRUE(h.IsOpen());
    h.Connection().SetTimeout(3000);  // a minute: only the drop can end the wait in time
    h.Sim().WithholdReplies(true);
    bool ok = true;
    QString reply;
    std::thread waiter([&] { reply = h.Send(QStringLiteral("print,/par/rcv/model"), &ok); });
    ASSERT_TRUE(PumpUntil([&] { return !h.Sim().ReceivedCommands().isEmpty(); }));
    h.Sim().DropSessions(QStringLiteral("cable pulled"));
    waiter.join();
    EXPECT_FALSE(ok);
    EXPECT_TRUE(reply.contains(QStringLiteral("cable pulled"))) << reply.toStdString();
    EXPECT_TRUE(PumpUntil([&] { return lost.Count() == 1; }));
    EXPECT_EQ(h.Sim().SessionCount(), 0);
}
