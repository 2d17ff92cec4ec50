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
bool PumpUntil(F done)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < 10000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return done();
}

bool Plotted(const CSatTable& table, bool glonass)
{
    for (int i = 0; i < satslot::kCount; ++i) {
        if (table.entries[size_t(i)].Shown() && satslot::IsGlonass(i) == glonass) {
            return true;
        }
    }
    return false;
}

}  // namespace

TEST(SatellitesSim, PlotsTheSimulatedSkyAndReportsSilenceOnTheInjectedClock)
{
    CReceiverHolder holder;
    CSimHarness sim(CSimHarness::VirtualClock(), &holder, false);
    sim.Sim().SetParamValue(QStringLiteral("/par/pos/elm"), QStringLiteral("15"));
    CFakeTickSource tick;
    CSatellites dialog(SatellitesContext{&sim.Connection(), sim.Name(), &holder, &tick});
    ASSERT_TRUE(dialog.Attached()) << dialog.StatusText().toStdString();
    EXPECT_EQ(dialog.StatusText(), QStringLiteral("Open receiver : ") + sim.Name());
    EXPECT_EQ(dialog.Plot()->ElevationMask(), 15);

    sim.Advance(3000);
    ASSERT_TRUE(PumpUntil([&] { return Plotted(dialog.Model().Table(), false); }));
    EXPECT_TRUE(PumpUntil([&] { return Plotted(dialog.Model().Table(), true); }));
    // NEMOLA_SHOT_DIR=dir keeps pictures of the window at the handheld's and a desktop's size, to look at.
    if (const QString dir = qEnvironmentVariable("NEMOLA_SHOT_DIR"); !dir.isEmpty()) {
        dialog.show();
        for (QSize size : {QSize(480, 640), QSize(1280, 900)}) {
            dialog.resize(size);
            QCoreApplication::processEvents();
            dialog.grab().save(dir + QStringLiteral("/satellites-%1x%2.png").arg(size.width()).arg(size.height()));
        }
    }

    sim.Sim().WithholdEpochEnds(true);
    const int64_t last = dialog.Model().LastEpochMs();
    tick.Advance(CSatellites::kSilenceMs);
    sim.Advance(2000);
    dialog.CheckSilence();
    EXPECT_EQ(dialog.StatusText(), QString());  // exactly 60 s is not yet silence
    tick.Advance(1);
    dialog.CheckSilence();
    EXPECT_EQ(dialog.StatusText(), QStringLiteral("Receiver don't reply!"));

    sim.Sim().WithholdEpochEnds(false);
    sim.Advance(2000);
    ASSERT_TRUE(PumpUntil([&] { return dialog.Model().LastEpochMs() > last; }));
    dialog.CheckSilence();
    EXPECT_EQ(dialog.StatusText(), QString());
}
