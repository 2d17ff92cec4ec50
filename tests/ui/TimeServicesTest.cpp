#include "support/FakeTime.h"
#include "ui/TimeServices.h"

#include <gtest/gtest.h>

namespace {

TEST(TimeServices, SystemServicesAreUsableAndTheTickNeverGoesBack)
{
    const TimeServices time = TimeServices::System();
    ASSERT_TRUE(time.tick && time.wallClock && time.clockSetter);
    int64_t last = time.tick->TickMs();
    for (int i = 0; i < 1000; ++i) {
        const int64_t now = time.tick->TickMs();
        ASSERT_GE(now, last);
        last = now;
    }
    EXPECT_TRUE(time.wallClock->LocalNow().isValid());
}

TEST(TimeServices, ClockSetterRefusesTimesItCannotSet)
{
    // Only times that must be refused: this may run with the rights to change the real clock.
    CSystemClockSetter setter;
    const auto invalid = setter.SetUtc(QDateTime());
    EXPECT_FALSE(invalid.ok);
    EXPECT_FALSE(invalid.error.isEmpty());
    const auto beforeEpoch = setter.SetUtc(QDateTime(QDate(1960, 1, 1), QTime(0, 0), Qt::UTC));
    EXPECT_FALSE(beforeEpoch.ok);
}

TEST(TimeServices, FakesMoveOnlyWhenTold)
{
    FakeTime time;
    const TimeServices services = time.Services();
    const int64_t start = services.tick->TickMs();
    time.tick.Advance(1500);
    EXPECT_EQ(services.tick->TickMs(), start + 1500);

    time.clockSetter.FailWith(QStringLiteral("denied"));
    const auto result = services.clockSetter->SetUtc(QDateTime(QDate(2024, 5, 6), QTime(7, 8, 9), Qt::UTC));
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, QStringLiteral("denied"));
    ASSERT_EQ(time.clockSetter.Calls().size(), 1u);
    EXPECT_EQ(time.clockSetter.Calls()[0].time(), QTime(7, 8, 9));
}

}  // namespace
