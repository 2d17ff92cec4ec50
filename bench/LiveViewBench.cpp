// Cost of one live-view epoch through the real widgets: decoded snapshot in, labels and lists updated, the window
// laid out and painted, per page in view. Run: QT_QPA_PLATFORM=offscreen build/release/bench/bench_liveview, or
// under a virtual X server as the program runs: QT_QPA_PLATFORM=xcb xvfb-run -a build/release/bench/bench_liveview
#include "EpochBytes.h"

#include "app/EpochDispatcher.h"
#include "app/MainView.h"
#include "link/Framer.h"
#include "ui/SteadyLabel.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <mutex>
#include <thread>

namespace {

std::vector<StatusSnapshot> Snapshots()
{
    std::vector<StatusSnapshot> snapshots;
    CFramer framer;
    CEpochDispatcher dispatcher;
    std::mutex lock;
    for (int second = 0; second < 64; ++second) {
        const QByteArray epoch = benchdata::MakeEpoch(second);
        framer.Feed(epoch.constData(), size_t(epoch.size()), [&](const CFramer::Event& e) {
            if (e.kind == CFramer::EventKind::Frame) {
                dispatcher.Feed(QByteArray(e.data, e.size));
            }
        });
        dispatcher.TakeEpoch(lock);
        snapshots.push_back(dispatcher.Snapshot());
    }
    return snapshots;
}

void BM_LiveViewEpoch(benchmark::State& state)
{
    static const std::vector<StatusSnapshot> snapshots = Snapshots();
    CMainView view;
    view.resize(480, 640);
    view.show();
    view.SetCurrentPage(int(state.range(0)));
    QApplication::processEvents();
    size_t next = 0;
    for (auto _ : state) {
        view.ApplySnapshot(snapshots[next++ % snapshots.size()]);
        // Layout and painting happen at the next passes of the event loop, as in the program.
        QApplication::sendPostedEvents();
        QApplication::processEvents();
        QApplication::processEvents();
    }
    state.SetLabel(state.range(0) == CMainView::kLocationPage ? "Location page" : "GPS list");
}
BENCHMARK(BM_LiveViewEpoch)->Arg(CMainView::kLocationPage)->Arg(kListGps)->Unit(benchmark::kMicrosecond);

// The same epochs 50 ms apart, as at 20 epochs/s: what an epoch costs when the caches have gone cold in between,
// many times the figure above. CPU is the thread's own time for the epoch, the pause not counted. The second
// argument 1 keeps every value but the receiver time as in the first epoch: the cost of any repaint at all.
void BM_LiveViewColdEpoch(benchmark::State& state)
{
    std::vector<StatusSnapshot> snapshots = Snapshots();
    if (state.range(1) == 1) {
        for (size_t i = 1; i < snapshots.size(); ++i) {
            const QString time = snapshots[i].time;
            snapshots[i] = snapshots[0];
            snapshots[i].time = time;
        }
    }
    CMainView view;
    view.resize(480, 640);
    view.show();
    view.SetCurrentPage(int(state.range(0)));
    for (const StatusSnapshot& s : snapshots) {  // every text measured once, as in a running program
        view.ApplySnapshot(s);
        QApplication::processEvents();
    }
    size_t next = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        state.ResumeTiming();
        view.ApplySnapshot(snapshots[next++ % snapshots.size()]);
        QApplication::sendPostedEvents();
        QApplication::processEvents();
        QApplication::processEvents();
    }
    state.SetLabel(state.range(0) != CMainView::kLocationPage ? "GPS list"
                   : state.range(1) == 1                      ? "Location page, the time alone changes"
                                                              : "Location page");
}
BENCHMARK(BM_LiveViewColdEpoch)
    ->Args({CMainView::kLocationPage, 0})
    ->Args({CMainView::kLocationPage, 1})
    ->Args({kListGps, 0})
    ->Iterations(400)
    ->Unit(benchmark::kMicrosecond);

// One label in an empty window, its text changed: back to back, after 50 ms asleep, and after 50 ms of the thread
// spinning. What a repaint costs after any pause, whatever the window holds; the pause, not the page, makes the
// live view's figure.
void BM_OneLabelRepaint(benchmark::State& state)
{
    QWidget window;
    window.resize(480, 640);
    auto* label = new CSteadyLabel(&window);
    label->Reserve(QStringLiteral("Receiver time: 23:59:59"));
    label->move(13, 365);
    window.show();
    QApplication::processEvents();
    int n = 0;
    for (auto _ : state) {
        state.PauseTiming();
        if (state.range(0) == 1) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        } else if (state.range(0) == 2) {
            const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
            while (std::chrono::steady_clock::now() < end) {
            }
        }
        state.ResumeTiming();
        label->SetText(QStringLiteral("Receiver time: 02:03:%1").arg(n++ % 60, 2, 10, QLatin1Char('0')));
        QApplication::sendPostedEvents();
        QApplication::processEvents();
        QApplication::processEvents();
    }
    state.SetLabel(state.range(0) == 0 ? "back to back" : state.range(0) == 1 ? "50 ms asleep" : "50 ms spinning");
}
BENCHMARK(BM_OneLabelRepaint)->Arg(0)->Arg(1)->Arg(2)->Iterations(400)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_UPDATE_IDLE_TIME", "0");  // paint at the next pass, not 5 ms later
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
