// kvs2rin on a one-hour, 1 Hz recording of 30 satellites on two frequencies (20 GPS, 10 GLONASS; C/A and P on L1,
// P on L2): reading the KVS stream, writing the RINEX file, and the whole program with its file I/O.
// Run: build/release/bench/bench_kvs2rin
// `bench_kvs2rin --write-recordings DIR` writes that recording (hour.kvs) and one of values that printf-style
// formatting gets wrong easily (edges.kvs: negative values, rounding ties, values at the edge of their field, all
// five systems) for bench/kvs2rin.sh, which compares two converters on them.
#include "rinex/Kvs2Rin.h"
#include "rinex/KvsReader.h"
#include "rinex/RinexWriter.h"
#include "sim/SimMessages.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>

namespace {

constexpr int kEpochs = 3600;
constexpr int kSats = 30;

template <typename T>
void Put(QByteArray& b, T v)
{
    b.append(reinterpret_cast<const char*>(&v), sizeof v);
}

// An epoch's receiver time of day and the recording's fixed date.
QByteArray TimeAndDate(uint32_t tod)
{
    QByteArray t, d;
    Put<uint32_t>(t, tod);
    Put<uint16_t>(d, 2024);
    d += char(6);
    d += char(1);
    d += char(0);
    return BinaryFrame("~~", t) + BinaryFrame("RD", d);
}

const QByteArray& Recording()
{
    static const QByteArray kvs = [] {
        QByteArray out = "KV055RLOGF" + QByteArray("bench").leftJustified(80, ' ') + "\r\n";
        for (int e = 0; e < kEpochs; ++e) {
            out += TimeAndDate(uint32_t(43200000 + e * 1000));
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

// Ten minutes of 39 satellites of every system, each value drawn from the cases a hand-made fixed-point formatter
// gets wrong: exact binary ties at the third decimal, negatives that round to zero, values one rounding step from
// not fitting their field, tiny and huge magnitudes; Doppler at every tenth of a millihertz.
QByteArray EdgeRecording()
{
    std::mt19937_64 random(20240601);
    auto pick = [&](int n) { return int(random() % uint64_t(n)); };
    auto uniform = [&](double lo, double hi) { return lo + (hi - lo) * double(random() >> 11) * 0x1.0p-53; };
    const double kEdges[] = {9999999999.9995,
                             9999999999.9994,
                             -999999999.9995,
                             -999999999.9994,
                             -0.0004,
                             -1e-300,
                             0.0005,
                             -0.0005,
                             0x1.0p-10,
                             1e-300,
                             1e15,
                             -1e15,
                             123456.0625,
                             -123456.0625,
                             2.5,
                             -0.5,
                             0.4995,
                             -2.0005,
                             1e300,
                             -4503599627370495.5};
    auto phase = [&]() -> double {
        switch (pick(4)) {
            case 0: {  // an exact tie: a sixteenth with an odd numerator
                const double v = std::floor(uniform(-1e9, 1e9)) + (2 * pick(8) + 1) / 16.0;
                return v;
            }
            case 1:
                return kEdges[pick(int(std::size(kEdges)))];
            default:
                return uniform(-2e9, 2e9);
        }
    };
    QByteArray out = "KV055RLOGF" + QByteArray("edges").leftJustified(80, ' ') + "\r\n";
    std::vector<int> sats;
    for (int s = 1; s <= 20; ++s) {
        sats.push_back(s);
    }
    for (int s = 38; s < 46; ++s) {
        sats.push_back(s);
    }
    for (int s : {71, 72, 75, 80, 101, 119, 120, 121, 133, 193, 197}) {
        sats.push_back(s);
    }
    const int n = int(sats.size());
    uint32_t tod = 43200000;
    for (int e = 0; e < 600; ++e) {
        tod += 1000 * (pick(20) == 0 ? 3 : 1);  // now and then a gap, which marks loss of lock
        out += TimeAndDate(tod + uint32_t(pick(4) * 125));
        QByteArray si, nn;
        for (int s : sats) {
            si += char(s);
            if (s >= 38 && s <= 70) {
                nn += char(s - 37);
            }
        }
        out += BinaryFrame("SI", si) + BinaryFrame("NN", nn);
        for (const char* id : {"EC", "E1", "E2"}) {
            QByteArray cn0;
            for (int s = 0; s < n; ++s) {
                cn0 += char(pick(8) == 0 ? 255 : pick(60));
            }
            out += BinaryFrame(id, cn0);
        }
        QByteArray dc;
        for (int s = 0; s < n; ++s) {
            Put<int32_t>(dc, pick(10) == 0 ? 0x7FFFFFFF : int32_t(pick(2000001) - 1000000) * (pick(2) ? 5 : 1));
        }
        out += BinaryFrame("DC", dc);
        for (const char* id : {"FC", "F1", "F2"}) {
            QByteArray fl;
            for (int s = 0; s < n; ++s) {
                Put<uint16_t>(fl, uint16_t(pick(6) == 0 ? 0x10 : 0x11));
            }
            out += BinaryFrame(id, fl);
        }
        for (const char* id : {"RC", "R1", "R2"}) {
            QByteArray pr;
            for (int s = 0; s < n; ++s) {
                const int kind = pick(20);
                Put<double>(pr, kind == 0 ? 0.0 : kind == 1 ? uniform(30, 40) : uniform(0.06, 0.09));
            }
            out += BinaryFrame(id, pr);
        }
        for (const char* id : {"PC", "P1", "P2"}) {
            QByteArray ph;
            for (int s = 0; s < n; ++s) {
                Put<double>(ph, pick(12) == 0 ? 0.0 : phase());
            }
            out += BinaryFrame(id, ph);
        }
        out += BinaryFrame("||", QByteArray());
    }
    return out;
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

bool WriteRecordings(const QString& folder)
{
    for (const auto& [name, data] : {std::pair{"hour.kvs", Recording()}, std::pair{"edges.kvs", EdgeRecording()}}) {
        QFile f(folder + QLatin1Char('/') + QLatin1String(name));
        if (!f.open(QIODevice::WriteOnly) || f.write(data) != data.size() || !f.flush()) {
            std::fprintf(stderr, "can't write %s\n", qPrintable(f.fileName()));
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && std::strcmp(argv[1], "--write-recordings") == 0) {
        return WriteRecordings(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
