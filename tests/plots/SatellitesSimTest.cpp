#include "link/Receiver.h"
#include "link/ReceiverHolder.h"
#include "plots/Satellites.h"
#include "plots/SkyPlot.h"
#include "support/FakeTime.h"
#include "support/SimHarness.h"

#include <QComboBox>
#include <QCoreApplication>

#include <gtest/gtest.h>

namespace {

// How many satellites of the system are plotted, and how many of them are used in the solution.
std::pair<int, int> Plotted(const CSatTable& table, satslot::System system)
{
    std::pair<int, int> n;
    for (int i = 0; i < satslot::kCount; ++i) {
        const SatEntry& e = table.entries[size_t(i)];
        if (e.Shown() && satslot::SystemOf(i) == system) {
            ++n.first;
            n.second += e.Used() ? 1 : 0;
        }
    }
    return n;
}

}  // namespace

TEST(SatellitesSim, PlotsTheSimulatedSkyAndReportsSilenceOnTheInjectedClock)
{
    CReceiverHolder holder;
    CSimHarness sim(CSimHarness::VirtualClock(), &holder, false);
    sim.Sim().SetParamValue(QStringLiteral("/par/pos/elm"), QStringLiteral("15"));
    // Galileo left out of the solution: its satellites are tracked, not used.
    sim.Sim().SetParamValue(QStringLiteral("/par/pos/sys"), QStringLiteral("{on,on,off,on}"));
    // A firmware without one of the optional messages still gets its plot.
    sim.Sim().RefuseParam(QStringLiteral("/msg/kvs/E5"));
    CFakeTickSource tick;
    CSatellites dialog(SatellitesContext{&sim.Connection(), sim.Name(), &holder, &tick});
    ASSERT_TRUE(dialog.Attached()) << dialog.StatusText().toStdString();
    EXPECT_EQ(dialog.StatusText(), QStringLiteral("Open receiver : ") + sim.Name());
    EXPECT_EQ(dialog.Plot()->ElevationMask(), 15);

    sim.Advance(8000);  // past the first fix
    using S = satslot::System;
    ASSERT_TRUE(PumpUntil([&] { return Plotted(dialog.Model().Table(), S::Gps).second > 0; }));
    const CSatTable table = dialog.Model().Table();
    EXPECT_GT(Plotted(table, S::Glonass).second, 0);
    EXPECT_GT(Plotted(table, S::Sbas).second, 0);
    const auto galileo = Plotted(table, S::Galileo);
    EXPECT_GT(galileo.first, 0);
    EXPECT_EQ(galileo.second, 0);
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
    // A reply comes after every message sent before it: no epoch end is still on its way after this.
    ASSERT_TRUE(holder.GetReceiver()->SendCommand(QStringLiteral("print,/par/pos/elm")));
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

    // The bars' signal is kept for the next time the plot opens.
    dialog.SignalChoice()->setCurrentIndex(4);
    EXPECT_EQ(dialog.Plot()->Signal(), 4);
    dialog.Detach();
    CSatellites again(SatellitesContext{&sim.Connection(), sim.Name(), &holder, &tick});
    EXPECT_EQ(again.SignalChoice()->currentIndex(), 4);
    again.SignalChoice()->setCurrentIndex(0);
}
