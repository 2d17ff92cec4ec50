#include "link/Receiver.h"
#include "link/ReceiverHolder.h"
#include "plots/Satellites.h"
#include "plots/SkyPlot.h"
#include "support/FakeTime.h"
#include "support/SimHarness.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <gtest/gtest.h>

namespace {

template <typename F>
bool PumpUntil(F done, int timeoutMs = 10000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

int VisibleCount(const CSatTable& table, bool glonass)
{
    int n = 0;
    for (int i = 0; i < satslot::kCount; ++i) {
        n += table.entries[size_t(i)].visible && satslot::IsGlonass(i) == glonass ? 1 : 0;
    }
    return n;
}

bool StreamsStatus(CSimReceiver& sim)
{
    for (const QString& m : sim.EnabledMessages(QStringLiteral("/dev/ser/a"))) {
        if (m.startsWith(QLatin1String("/msg/kvs/GS")) || m.startsWith(QLatin1String("/msg/kvs/NS"))) {
            return true;
        }
    }
    return false;
}

class SatellitesSim : public ::testing::Test
{
protected:
    SatellitesSim() : sim(CSimHarness::VirtualClock(), &holder, false)
    {
        context.connection = &sim.Connection();
        context.receiverName = sim.Name();
        context.holder = &holder;
        context.tick = &tick;
    }

    CReceiverHolder holder;
    CSimHarness sim;
    CFakeTickSource tick;
    SatellitesContext context;
};

}  // namespace

TEST_F(SatellitesSim, ShowsTheSimulatedSkyAndDetachesOnClose)
{
    sim.Sim().SetParamValue(QStringLiteral("/par/pos/elm"), QStringLiteral("15"));
    auto dialog = std::make_unique<CSatellites>(context);
    ASSERT_TRUE(dialog->Attached()) << dialog->StatusText().toStdString();
    EXPECT_EQ(dialog->StatusText(), QStringLiteral("Open receiver : ") + sim.Name());
    EXPECT_EQ(dialog->Plot()->ElevationMask(), 15);
    EXPECT_TRUE(StreamsStatus(sim.Sim()));

    sim.Advance(3000);
    ASSERT_TRUE(PumpUntil([&] { return VisibleCount(dialog->Model().Table(), false) > 0; }));
    EXPECT_TRUE(PumpUntil([&] { return VisibleCount(dialog->Model().Table(), true) > 0; }));
    // NEMOLA_SHOT_DIR=dir keeps pictures of the window at the handheld's and a desktop's size, to look at.
    if (const QString dir = qEnvironmentVariable("NEMOLA_SHOT_DIR"); !dir.isEmpty()) {
        dialog->show();
        for (QSize size : {QSize(480, 640), QSize(1280, 900)}) {
            dialog->resize(size);
            QCoreApplication::processEvents();
            dialog->grab().save(dir + QStringLiteral("/satellites-%1x%2.png").arg(size.width()).arg(size.height()));
        }
    }

    dialog->reject();
    EXPECT_FALSE(dialog->Attached());
    EXPECT_FALSE(StreamsStatus(sim.Sim()));
    dialog.reset();
    // Nothing of the closed window is reached any more.
    sim.Advance(3000);
    QCoreApplication::processEvents();
}

TEST_F(SatellitesSim, OutOfRangeNumbersNeverReachOtherSlots)
{
    CSatellites dialog(context);
    sim.Sim().InjectFault(SimFault::OutOfRangeSatellites, QStringLiteral("GS"), 3);
    sim.Sim().InjectFault(SimFault::OutOfRangeSatellites, QStringLiteral("NS"), 3);
    sim.Advance(8000);
    ASSERT_TRUE(PumpUntil([&] { return VisibleCount(dialog.Model().Table(), false) > 0; }));
    // GPS 38 would have been the first GLONASS slot, GLONASS 25 one past the table (the sanitizer run watches).
    const CSatTable table = dialog.Model().Table();
    for (int i = 0; i < satslot::kCount; ++i) {
        const SatEntry& e = table.entries[size_t(i)];
        if (e.visible) {
            EXPECT_GE(e.elevation, -90);
            EXPECT_LE(e.elevation, 90);
        }
    }
}

TEST_F(SatellitesSim, ReportsSilenceOnTheInjectedClock)
{
    CSatellites dialog(context);
    ASSERT_TRUE(dialog.Attached());
    const int64_t before = dialog.Model().LastEpochMs();
    tick.Advance(500);
    sim.Advance(2000);
    ASSERT_TRUE(PumpUntil([&] { return dialog.Model().LastEpochMs() > before; }));

    sim.Sim().WithholdEpochEnds(true);
    tick.Advance(CSatellites::kSilenceMs);
    sim.Advance(2000);
    dialog.CheckSilence();
    EXPECT_EQ(dialog.StatusText(), QString());  // exactly 60 s is not yet silence
    tick.Advance(1);
    dialog.CheckSilence();
    EXPECT_EQ(dialog.StatusText(), QStringLiteral("Receiver don't reply!"));

    sim.Sim().WithholdEpochEnds(false);
    const int64_t quiet = dialog.Model().LastEpochMs();
    sim.Advance(2000);
    ASSERT_TRUE(PumpUntil([&] { return dialog.Model().LastEpochMs() > quiet; }));
    dialog.CheckSilence();
    EXPECT_EQ(dialog.StatusText(), QString());
}

TEST(Satellites, ReceiverThatCannotBeOpenedLeavesTheReason)
{
    CReceiverHolder holder;
    CSimHarness sim(CSimHarness::VirtualClock(), &holder, false);
    CFakeTickSource tick;
    SatellitesContext context{&sim.Connection(), QStringLiteral("SIM:nothing-here"), &holder, &tick};
    CSatellites dialog(context);
    EXPECT_FALSE(dialog.Attached());
    EXPECT_FALSE(dialog.StatusText().isEmpty());
    EXPECT_FALSE(dialog.StatusText().startsWith(QLatin1String("Open receiver")));
}
