// The recording engine writing a replayed receiver stream (at least 200 MB, one-minute files, ten epochs a
// second of receiver time, faster than real time) beside a plain write() of the same bytes in the same run.
// Run: build/release/bench/bench_logging [MB] [folder]
#include "link/Checksum.h"
#include "logging/LogEngine.h"

#include <QDir>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

struct Frame
{
    int offset;
    int size;
};

void Append(std::vector<char>& out, std::vector<Frame>& frames, const char* id, const std::vector<char>& body)
{
    char header[6];
    std::snprintf(header, sizeof header, "%c%c%03X", id[0], id[1], unsigned(body.size() + 1));
    const int start = int(out.size());
    out.insert(out.end(), header, header + 5);
    out.insert(out.end(), body.begin(), body.end());
    out.push_back(char(Checksum8(out.data() + start, out.size() - start)));
    frames.push_back({start, int(out.size()) - start});
}

// Epochs of a receiver tracking 30 satellites: time, date, lists, raw measurements, position, epoch end.
void MakeStream(size_t bytes, std::vector<char>& out, std::vector<Frame>& frames)
{
    std::mt19937 rng(7);
    auto random = [&](size_t n) {
        std::vector<char> v(n);
        for (char& c : v) {
            c = char(rng());
        }
        return v;
    };
    const int n = 30;
    for (uint32_t ms = 0; out.size() < bytes; ms += 100) {
        std::vector<char> t(4);
        std::memcpy(t.data(), &ms, 4);
        Append(out, frames, "~~", t);
        Append(out, frames, "RD", {char(0xEA), 0x07, 12, 6, 0});
        Append(out, frames, "SI", random(n));
        for (const char* id : {"EL", "AZ", "EC", "E2"}) {
            Append(out, frames, id, random(n));
        }
        for (const char* id : {"RC", "R2", "PC", "P2"}) {
            Append(out, frames, id, random(8 * n));
        }
        Append(out, frames, "DC", random(4 * n));
        Append(out, frames, "PG", random(29));
        Append(out, frames, "||", {});
    }
}

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv)
{
    const size_t megabytes = argc > 1 ? size_t(std::atoi(argv[1])) : 200;
    QTemporaryDir temp(argc > 2 ? QString::fromLocal8Bit(argv[2]) + QStringLiteral("/logbench-XXXXXX")
                                : QDir::tempPath() + QStringLiteral("/logbench-XXXXXX"));
    std::vector<char> stream;
    std::vector<Frame> frames;
    MakeStream(megabytes << 20, stream, frames);

    const auto plainStart = std::chrono::steady_clock::now();
    {
        const QByteArray path = (temp.path() + QStringLiteral("/plain.bin")).toLocal8Bit();
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const size_t chunk = 256 * 1024;
        for (size_t at = 0; at < stream.size(); at += chunk) {
            if (::write(fd, stream.data() + at, std::min(chunk, stream.size() - at)) < 0) {
                std::perror("write");
                return 1;
            }
        }
        ::close(fd);
    }
    const double plain = Seconds(plainStart);

    CLogEngine engine;
    LogOptions o;
    o.folder = temp.path();
    o.every = 1;
    o.unitSeconds = 60;
    o.interval = 0.1;
    o.counter = 0;
    const auto engineStart = std::chrono::steady_clock::now();
    if (!engine.Start(o)) {
        std::fprintf(stderr, "can't start: %s\n", engine.LastError().toLocal8Bit().constData());
        return 1;
    }
    for (const Frame& f : frames) {
        engine.Feed(stream.data() + f.offset, f.size, 0);
    }
    engine.Stop();
    const double recorded = Seconds(engineStart);
    const LogCounts c = engine.Counts();
    if (engine.GetState() == CLogEngine::State::Failed) {
        std::fprintf(stderr, "write error: %s\n", engine.LastError().toLocal8Bit().constData());
        return 1;
    }
    const double mb = double(stream.size()) / (1 << 20);
    std::printf("stream        %.1f MB, %zu messages\n", mb, frames.size());
    std::printf("plain write   %.1f MB/s\n", mb / plain);
    std::printf("engine        %.1f MB/s, %.0f messages/s, %lld files, %.1f MB written (with LF and headers)\n",
                mb / recorded, double(c.messages) / recorded, static_cast<long long>(c.files),
                double(c.bytes) / (1 << 20));
    std::printf("ratio         %.0f%% of the plain write\n", 100.0 * plain / recorded);
    return 0;
}
