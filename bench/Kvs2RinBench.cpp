// kvs2rin on a one-hour, 1 Hz recording of 30 satellites on two frequencies (20 GPS, 10 GLONASS; C/A and P on L1,
// P on L2): reading the KVS stream, writing the RINEX file, and the whole program with its file I/O.
// Run: build/release/bench/bench_kvs2rin
#include "rinex/Kvs2Rin.h"
#include "rinex/KvsReader.h"
#include "rinex/RinexWriter.h"
#include "sim/SimMessages.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>

namespace {

constexpr int kEpochs = 3600;
constexpr int kSats = 30;

template <typename T>
void Put(QByteArray& b, T v)
{
    b.append(reinterpret_cast<const char*>(&v), sizeof v);
}

const QByteArray& Recording()
{
    static const QByteArray kvs = [] {
        QByteArray out = "KV055RLOGF" + QByteArray("bench").leftJustified(80, ' ') + "\r\n";
        for (int e = 0; e < kEpochs; ++e) {
            QByteArray b;
            Put<uint32_t>(b, uint32_t(43200000 + e * 1000));
            out += BinaryFrame("~~", b);
            b.clear();
            Put<uint16_t>(b, 2024);
            b += char(6);
            b += char(1);
            b += char(0);
            out += BinaryFrame("RD", b);
            QByteArray si, nn;
            for (int s = 0; s < kSats; ++s) {
                si += char(s < 20 ? s + 1 : 38 + s - 20);
                if (s >= 20) {
                    nn += char(s - 19);
                }
            }
            out += BinaryFrame("SI", si) + BinaryFrame("NN", nn);
            for (const char* id : {"EC", "E1", "E2"}) {
                out += BinaryFrame(id, QByteArray(kSats, char(45)));
            }
            QByteArray dc, fl, pr, ph;
            for (int s = 0; s < kSats; ++s) {
                Put<int32_t>(dc, int32_t(-12345678 + s * 1000 + e));
                Put<uint16_t>(fl, 0x11);
                Put<double>(pr, 0.07 + s * 1e-4 + e * 1e-9);
                Put<double>(ph, 1.2e8 + s * 1e5 + e * 700.25);
            }
            out += BinaryFrame("DC", dc);
            for (const char* id : {"FC", "F1", "F2"}) {
                out += BinaryFrame(id, fl);
            }
            for (const char* id : {"RC", "R1", "R2"}) {
                out += BinaryFrame(id, pr);
            }
            for (const char* id : {"PC", "P1", "P2"}) {
                out += BinaryFrame(id, ph);
            }
            out += BinaryFrame("||", QByteArray());
        }
        return out;
    }();
    return kvs;
}

void BM_ReadKvs(benchmark::State& state)
{
    const QByteArray& kvs = Recording();
    for (auto _ : state) {
        const KvsResult r = CKvsReader::Read(kvs);
        benchmark::DoNotOptimize(r.epochs.data());
    }
    state.counters["epochs/s"] = benchmark::Counter(double(kEpochs), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_ReadKvs)->Unit(benchmark::kMillisecond);

void BM_WriteRinex(benchmark::State& state)
{
    const KvsResult r = CKvsReader::Read(Recording());
    for (auto _ : state) {
        const QByteArray out = CRinexWriter::Observation(r, {}, {});
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["epochs/s"] = benchmark::Counter(double(kEpochs), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_WriteRinex)->Unit(benchmark::kMillisecond);

void BM_Kvs2RinHour(benchmark::State& state)
{
    QTemporaryDir dir;
    const QString input = dir.filePath(QStringLiteral("bench.kvs"));
    QFile f(input);
    f.open(QIODevice::WriteOnly);
    f.write(Recording());
    f.close();
    for (auto _ : state) {
        QString report;
        if (RunKvs2Rin({QStringLiteral("-i"), input}, &report) != 0) {
            state.SkipWithError("conversion failed");
        }
    }
    state.counters["epochs/s"] = benchmark::Counter(double(kEpochs), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_Kvs2RinHour)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
