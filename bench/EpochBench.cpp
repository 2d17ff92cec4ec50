// Cost of one live-view epoch: 40 satellites and every message of the main view's table, from framed bytes to
// the finished status snapshot; and the connection path's throughput through the real receiver link.
// Run: build/release/bench/bench_epoch
#include "EpochBytes.h"

#include "app/EpochDispatcher.h"
#include "app/MessageTable.h"
#include "link/CommandText.h"
#include "link/Connection.h"
#include "link/Framer.h"
#include "link/InProcessDevice.h"
#include "link/Receiver.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

using benchdata::MakeEpoch;

void BM_EpochFromBytes(benchmark::State& state)
{
    const QByteArray epoch = MakeEpoch(100);
    CFramer framer;
    CEpochDispatcher dispatcher;
    std::mutex lock;
    for (auto _ : state) {
        framer.Feed(epoch.constData(), size_t(epoch.size()), [&](const CFramer::Event& e) {
            if (e.kind == CFramer::EventKind::Frame) {
                dispatcher.Feed(QByteArray(e.data, e.size));
            }
        });
        if (dispatcher.TakeEpoch(lock) != CEpochDispatcher::Result::Dispatched) {
            state.SkipWithError("epoch not dispatched");
        }
        benchmark::DoNotOptimize(dispatcher.Snapshot().lists[0].size());
    }
    state.counters["epochs/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["bytes/epoch"] = double(epoch.size());
}
BENCHMARK(BM_EpochFromBytes)->Unit(benchmark::kMicrosecond);

// A receiver that accepts every command and sends what the benchmark gives it.
class CBurstDevice : public IInProcessDevice
{
public:
    class Session : public IDeviceSession
    {
    public:
        explicit Session(Sink sink) : m_sink(std::move(sink)) {}
        void Write(const QByteArray& bytes) override
        {
            m_pending += bytes;
            int lf;
            while ((lf = int(m_pending.indexOf('\n'))) >= 0) {
                const QString line = QString::fromLatin1(m_pending.left(lf)).trimmed();
                m_pending.remove(0, lf + 1);
                QByteArray out;
                for (const Statement& s : SplitChain(line)) {
                    out += BuildFrame("RE", '%' + s.tag.toLatin1() + '%') + "\r\n";
                }
                m_sink.output(out);
            }
        }
        Sink m_sink;
        QByteArray m_pending;
    };
    std::unique_ptr<IDeviceSession> OpenSession(Sink sink, QString*) override
    {
        auto s = std::make_unique<Session>(std::move(sink));
        session = s.get();
        return s;
    }
    Session* session = nullptr;
};

void BM_ConnectionPath(benchmark::State& state)
{
    auto device = std::make_shared<CBurstDevice>();
    RegisterInProcessDevice(QStringLiteral("bench"), device);
    CConnection connection;
    connection.Open(QString(), QString(), QString(), QStringLiteral("Nemola-M"));
    CReceiver receiver;
    if (!receiver.Open(&connection, QStringLiteral("SIM:bench"), 0)) {
        state.SkipWithError("receiver did not open");
        return;
    }
    CEpochDispatcher dispatcher;
    receiver.Attach(0, nullptr, MessageSetFor(true), &dispatcher.Table());
    dispatcher.ArmEvent(connection.GetLock());

    std::vector<QByteArray> epochs;
    for (int i = 0; i < 64; ++i) {
        epochs.push_back(MakeEpoch(i));
    }
    size_t next = 0;
    int dispatched = 0;
    for (auto _ : state) {
        // One epoch at a time, as a receiver sends them: link thread frames and routes it, this thread wakes on
        // the epoch end, copies and decodes.
        device->session->m_sink.output(epochs[next++ % epochs.size()]);
        if (!dispatcher.Event().Wait(2000)) {
            state.SkipWithError("no epoch end");
            break;
        }
        if (dispatcher.TakeEpoch(connection.GetLock()) == CEpochDispatcher::Result::Dispatched) {
            ++dispatched;
        }
    }
    dispatcher.DisarmEvent(connection.GetLock());
    receiver.Close();
    UnregisterInProcessDevice(QStringLiteral("bench"));
    state.counters["epochs/s"] = benchmark::Counter(double(dispatched), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ConnectionPath)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
