// Throughput of stream framing with checksum verification over a generated receiver stream.
// Run: build/release/bench/bench_framer
#include "link/Checksum.h"
#include "link/Framer.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>

namespace {

void AppendBinary(std::string& out, const char* id, const std::string& payload)
{
    char header[6];
    std::snprintf(header, sizeof header, "%c%c%03X", id[0], id[1], unsigned(payload.size() + 1));
    const size_t start = out.size();
    out.append(header, 5);
    out += payload;
    out += char(Checksum8(out.data() + start, out.size() - start));
    out += '\n';
}

// One epoch of a receiver tracking 40 satellites with the messages the main view asks for.
std::string MakeEpoch(std::mt19937& rng)
{
    const int n = 40;
    auto bytes = [&](size_t count) {
        std::string s(count, '\0');
        for (char& c : s) {
            c = char(rng());
        }
        return s;
    };
    std::string e;
    AppendBinary(e, "~~", bytes(4));
    AppendBinary(e, "RD", bytes(5));
    AppendBinary(e, "SI", bytes(n));
    AppendBinary(e, "NN", bytes(12));
    for (const char* id : {"EL", "AZ", "EC", "E1", "E2", "E3", "E5"}) {
        AppendBinary(e, id, bytes(n));
    }
    AppendBinary(e, "TC", bytes(2 * n));
    AppendBinary(e, "SS", bytes(n + 1));
    AppendBinary(e, "DC", bytes(4 * n));
    for (const char* id : {"RC", "R1", "R2", "PC", "P1", "P2"}) {
        AppendBinary(e, id, bytes(8 * n));
    }
    AppendBinary(e, "PG", bytes(29));
    AppendBinary(e, "PV", bytes(45));
    AppendBinary(e, "DP", bytes(17));
    AppendBinary(e, "SG", bytes(17));
    AppendBinary(e, "DO", bytes(8));
    AppendBinary(e, "OO", bytes(4));
    AppendBinary(e, "TT", bytes(4));
    const char* ms = "MS020,RTCMST,999,0000,0000,100.00,@1F\r\n";
    e += ms;
    AppendBinary(e, "||", "");
    return e;
}

const std::string& Stream()
{
    static const std::string stream = [] {
        std::mt19937 rng(1);
        std::string s;
        s.reserve(52u << 20);
        while (s.size() < (50u << 20)) {
            s += MakeEpoch(rng);
        }
        return s;
    }();
    return stream;
}

void BM_FrameStream(benchmark::State& state)
{
    const std::string& stream = Stream();
    const size_t chunk = size_t(state.range(0));
    uint64_t frames = 0;
    for (auto _ : state) {
        CFramer framer;
        for (size_t pos = 0; pos < stream.size(); pos += chunk) {
            framer.Feed(stream.data() + pos, std::min(chunk, stream.size() - pos), [&](const CFramer::Event& e) {
                benchmark::DoNotOptimize(e.data);
            });
        }
        frames += framer.GetStats().frames;
        if (framer.GetStats().badChecksums != 0) {
            state.SkipWithError("checksum failures in a clean stream");
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(stream.size()));
    state.counters["messages/s"] = benchmark::Counter(double(frames), benchmark::Counter::kIsRate);
    state.counters["stream MB"] = double(stream.size()) / (1 << 20);
}

}  // namespace

// Chunk sizes as a serial port (small reads) and a TCP socket (large reads) deliver them.
BENCHMARK(BM_FrameStream)->Arg(64)->Arg(4096)->Unit(benchmark::kMillisecond)->MinTime(2.0);

BENCHMARK_MAIN();
