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
#include <time.h>
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

// Takes every write and keeps nothing: what the engine costs without the file system.
class CNullWriter : public ILogFileWriter
{
public:
    bool Create(const QString&, bool, QString*) override { return true; }
    bool Write(const char*, int64_t, QString*) override { return true; }
    void Truncate(int64_t) override {}
    bool Close(QString*) override { return true; }
};

// Processor time of this process (user and system): on a machine shared with other work the wall clock
// measures the neighbours as much as the code.
double CpuSeconds()
{
    timespec ts{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

struct Timer
{
    std::chrono::steady_clock::time_point wall = std::chrono::steady_clock::now();
    double cpu = CpuSeconds();
};

struct Took
{
    double wall = 1e9, cpu = 1e9;
    void Keep(const Timer& t)
    {
        wall = std::min(wall, std::chrono::duration<double>(std::chrono::steady_clock::now() - t.wall).count());
        cpu = std::min(cpu, CpuSeconds() - t.cpu);
    }
};

}  // namespace

int main(int argc, char** argv)
{
    const size_t megabytes = argc > 1 ? size_t(std::atoi(argv[1])) : 200;
    QTemporaryDir temp(argc > 2 ? QString::fromLocal8Bit(argv[2]) + QStringLiteral("/logbench-XXXXXX")
                                : QDir::tempPath() + QStringLiteral("/logbench-XXXXXX"));
    std::vector<char> stream;
    std::vector<Frame> frames;
    MakeStream(megabytes << 20, stream, frames);

    // Rounds alternate the plain write and the engine, and the best of each counts: the page cache and the
    // machine's other load then treat both alike. Each round writes into folders of its own and nothing is
    // deleted until the end: a file system creating files just after deleting many searches long for an inode
    // it may reuse, which would charge the engine's many files for the benchmark's own clean-up.
    const int rounds = 3;
    Took plain, recorded, cpuOnly, copyOnly;
    LogCounts c;
    for (int round = 0; round < rounds; ++round) {
        const QString roundDir = temp.path() + QStringLiteral("/round%1").arg(round);
        QDir().mkpath(roundDir + QStringLiteral("/engine"));
        const Timer plainStart;
        {
            const QByteArray path = (roundDir + QStringLiteral("/plain.bin")).toLocal8Bit();
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
        plain.Keep(plainStart);

        // The least any recorder of delivered messages does: copy each one and its LF into a block.
        {
            std::vector<char> block(512 * 1024);
            size_t used = 0;
            uint64_t seen = 0;
            const Timer copyStart;
            for (const Frame& f : frames) {
                std::memcpy(block.data() + used, stream.data() + f.offset, size_t(f.size));
                block[used + size_t(f.size)] = '\n';
                used += size_t(f.size) + 1;
                if (used >= 256 * 1024) {
                    seen += uint8_t(block[used / 2]);
                    used = 0;
                }
            }
            copyOnly.Keep(copyStart);
            if (seen == 1) {
                std::printf(" ");  // keeps the copies from being optimised away
            }
        }
        for (const bool withFiles : {true, false}) {
            CLogEngine engine(withFiles ? LogWriterFactory() : [] { return std::make_unique<CNullWriter>(); });
            LogOptions o;
            o.folder = roundDir + QStringLiteral("/engine");
            o.every = 1;
            o.unitSeconds = 60;
            o.interval = 0.1;
            o.counter = 0;
            o.overwrite = true;
            const Timer engineStart;
            if (!engine.Start(o)) {
                std::fprintf(stderr, "can't start: %s\n", engine.LastError().toLocal8Bit().constData());
                return 1;
            }
            for (const Frame& f : frames) {
                engine.Feed(stream.data() + f.offset, f.size, 0);
            }
            engine.Stop();
            if (engine.GetState() == CLogEngine::State::Failed) {
                std::fprintf(stderr, "write error: %s\n", engine.LastError().toLocal8Bit().constData());
                return 1;
            }
            if (withFiles) {
                recorded.Keep(engineStart);
                c = engine.Counts();
            } else {
                cpuOnly.Keep(engineStart);
            }
        }
    }
    const double mb = double(stream.size()) / (1 << 20);
    std::printf("stream          %.1f MB, %zu messages, best of %d rounds (wall clock / processor time)\n", mb,
                frames.size(), rounds);
    std::printf("plain write     %.1f / %.1f MB/s\n", mb / plain.wall, mb / plain.cpu);
    std::printf("engine          %.1f / %.1f MB/s, %.0f messages/s, %lld files, %.1f MB written (LF, headers)\n",
                mb / recorded.wall, mb / recorded.cpu, double(c.messages) / recorded.wall,
                static_cast<long long>(c.files), double(c.bytes) / (1 << 20));
    std::printf("engine, no I/O  %.1f / %.1f MB/s, %.1f ns of processor time a message\n", mb / cpuOnly.wall,
                mb / cpuOnly.cpu, 1e9 * cpuOnly.cpu / double(frames.size()));
    std::printf("copy alone      %.1f ns of processor time a message (each message and its LF into a block)\n",
                1e9 * copyOnly.cpu / double(frames.size()));
    std::printf("ratio           %.0f%% / %.0f%% of the plain write\n", 100.0 * plain.wall / recorded.wall,
                100.0 * plain.cpu / recorded.cpu);
    return 0;
}
