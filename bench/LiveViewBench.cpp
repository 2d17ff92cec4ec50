// Cost of one live-view epoch through the real widgets: decoded snapshot in, labels and lists updated, the window
// laid out and painted (offscreen), per page in view. Run: QT_QPA_PLATFORM=offscreen build/release/bench/bench_liveview
#include "EpochBytes.h"

#include "app/EpochDispatcher.h"
#include "app/MainView.h"
#include "link/Framer.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <mutex>

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
