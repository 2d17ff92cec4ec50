// File download throughput: a 50 MB receiver file through the whole link (block protocol, CRC chain, partial
// file, rename) from the in-process simulator and from the simulator over loopback TCP, at each block size.
// Every iteration also times a plain loopback socket copy of the same bytes into a file, right before the
// download, so that "ratio" (download MB/s / plain copy MB/s) compares runs under the same machine load.
//
// The protocol waits for the host's answer after every block, so two more figures show where the time goes:
// - BM_PlainStopAndWait: raw sockets doing exactly that (block, one-byte answer), no checks: the ceiling of any
//   implementation of the protocol over loopback on this machine. The downloads also time it in each of their
//   iterations: their "vs_stopwait" compares the two under the same load.
// - BM_LinkSide: the link's own share (block checks with the CRC chain, the partial file, the rename), fed with
//   ready blocks: no simulator, no transport.
// Run: build/release/bench/bench_download   (read the ratio column)
#include "files/FileTransfer.h"
#include "link/Checksum.h"
#include "link/Connection.h"
#include "link/DownloadSession.h"
#include "link/InProcessDevice.h"
#include "link/Receiver.h"
#include "sim/SimFiles.h"
#include "sim/SimTcpServer.h"
#include "sim/Simulator.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>

namespace {

constexpr int64_t kFileSize = 50LL * 1000 * 1000;
constexpr int kIterations = 3;

struct Fixture
{
    Fixture()
    {
        SimOptions options;
        options.virtualClock = true;  // no message output, no ticking: only the transfer runs
        sim = std::make_shared<CSimReceiver>(options);
        content = SimLogContent(kFileSize, 1);
        sim->AddFile(QStringLiteral("BIG"), content);
        RegisterInProcessDevice(QStringLiteral("bench"), sim);
        tcp = std::make_unique<CSimTcpServer>(sim, false);
        QString error;
        tcp->Listen(QHostAddress::LocalHost, 0, &error);
        connection.Open(QString(), QString(), QString(), QStringLiteral("bench"));
    }
    ~Fixture() { UnregisterInProcessDevice(QStringLiteral("bench")); }

    std::shared_ptr<CSimReceiver> sim;
    std::unique_ptr<CSimTcpServer> tcp;
    QByteArray content;
    CConnection connection;
    QTemporaryDir dir;
};

Fixture& Shared()
{
    static Fixture f;
    return f;
}

double Seconds(const std::function<void()>& work)
{
    const auto t0 = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// A connected loopback pair: `serve` runs on a thread with the accepted socket, `receive` here with the other.
void OverLoopback(const std::function<void(int)>& serve, const std::function<void(int)>& receive)
{
    const int server = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ::bind(server, reinterpret_cast<sockaddr*>(&addr), len);
    ::listen(server, 1);
    ::getsockname(server, reinterpret_cast<sockaddr*>(&addr), &len);
    std::thread sender([&] {
        const int s = ::accept(server, nullptr, nullptr);
        serve(s);
        ::close(s);
    });
    const int c = ::socket(AF_INET, SOCK_STREAM, 0);
    ::connect(c, reinterpret_cast<sockaddr*>(&addr), len);
    receive(c);
    ::close(c);
    sender.join();
    ::close(server);
}

bool SendAll(int s, const char* p, int64_t n)
{
    while (n > 0) {
        const ssize_t sent = ::send(s, p, size_t(std::min<int64_t>(n, 65536)), 0);
        if (sent <= 0) {
            return false;
        }
        p += sent;
        n -= sent;
    }
    return true;
}

// The same bytes through a loopback socket and into a file, with nothing else.
double PlainCopy()
{
    Fixture& f = Shared();
    const QString path = f.dir.filePath(QStringLiteral("plain.kvs"));
    return Seconds([&] {
        OverLoopback([&](int s) { SendAll(s, f.content.constData(), f.content.size()); },
                     [&](int c) {
                         std::FILE* out = std::fopen(QFile::encodeName(path).constData(), "wb");
                         static char buf[65536];
                         ssize_t n = 0;
                         while ((n = ::recv(c, buf, sizeof buf, 0)) > 0) {
                             std::fwrite(buf, 1, size_t(n), out);
                         }
                         std::fclose(out);
                     });
    });
}

// The file's blocks as the receiver sends them, CRCs chained.
QByteArray Blocks(int blockSize)
{
    const QByteArray& content = Shared().content;
    QByteArray out;
    out.reserve(content.size() + content.size() / blockSize * 6 + blockSize + 6);
    uint16_t crc = 0;
    uint16_t number = 0;
    for (qsizetype pos = 0;; pos += blockSize) {
        const qsizetype n = std::min<qsizetype>(blockSize, content.size() - pos);
        const bool last = pos + blockSize >= content.size();
        const qsizetype start = out.size();
        const uint16_t field = last ? uint16_t(n) : number++;
        out.append(last ? '\x04' : '\x02');
        out.append(char(field & 0xFF));
        out.append(char(field >> 8));
        out.append(content.constData() + pos, n);
        out.append(QByteArray(blockSize - n, '\0'));
        crc = Crc16(out.constData() + start, size_t(blockSize + 3), crc);
        out.append(char(crc & 0xFF));
        out.append(char(crc >> 8));
        out.append('\x03');
        if (last) {
            return out;
        }
    }
}

// The blocks through a loopback socket, one answer byte after each, the data into a file: the protocol with
// nothing else.
void StopAndWaitCopy(const QByteArray& blocks, int blockSize)
{
    const int length = blockSize + 6;
    const QString path = Shared().dir.filePath(QStringLiteral("stopwait.kvs"));
    OverLoopback(
        [&](int s) {
            char answer = 0;
            for (qsizetype pos = 0; pos < blocks.size(); pos += length) {
                if (!SendAll(s, blocks.constData() + pos, length) || ::recv(s, &answer, 1, 0) != 1) {
                    return;
                }
            }
        },
        [&](int c) {
            std::FILE* out = std::fopen(QFile::encodeName(path).constData(), "wb");
            std::vector<char> block(static_cast<size_t>(length));
            const char ack = 0x06;
            for (qsizetype pos = 0; pos < blocks.size(); pos += length) {
                for (int got = 0; got < length;) {
                    const ssize_t n = ::recv(c, block.data() + got, size_t(length - got), 0);
                    if (n <= 0) {
                        std::fclose(out);
                        return;
                    }
                    got += int(n);
                }
                std::fwrite(block.data() + 3, 1, size_t(blockSize), out);
                ::send(c, &ack, 1, 0);
            }
            std::fclose(out);
        });
}

// Runs `work` once per iteration after a plain copy, timing only `work`; reports both rates and their ratio. With
// `blocks`, every iteration also times a plain stop-and-wait copy of them: "vs_stopwait" is the share of the best
// any implementation of the protocol could do, measured under the same load.
void Measure(benchmark::State& state, const std::function<bool(std::string*)>& work, const QByteArray* blocks = nullptr)
{
    double plain = 0;
    double stopWait = 0;
    double worked = 0;
    for (auto _ : state) {
        plain += PlainCopy();
        if (blocks) {
            stopWait += Seconds([&] { StopAndWaitCopy(*blocks, int(state.range(0))); });
        }
        std::string error;
        bool ok = true;
        const double t = Seconds([&] { ok = work(&error); });
        if (!ok) {
            state.SkipWithError(error.c_str());
            return;
        }
        worked += t;
        state.SetIterationTime(t);
    }
    const double n = double(state.iterations());
    state.SetBytesProcessed(int64_t(state.iterations()) * kFileSize);
    state.counters["plain_MBps"] = n * double(kFileSize) / plain / 1e6;
    state.counters["MBps"] = n * double(kFileSize) / worked / 1e6;
    state.counters["ratio"] = plain / worked;
    if (blocks) {
        state.counters["stopwait_MBps"] = n * double(kFileSize) / stopWait / 1e6;
        state.counters["vs_stopwait"] = stopWait / worked;
    }
}

void Download(benchmark::State& state, const QString& receiverName)
{
    Fixture& f = Shared();
    CReceiver receiver;
    if (!receiver.Open(&f.connection, receiverName)) {
        state.SkipWithError(receiver.GetReplyString().toStdString().c_str());
        return;
    }
    receiver.SendCommand(QStringLiteral("%%dm"));
    const QString path = f.dir.filePath(QStringLiteral("big.kvs"));
    const QByteArray blocks = Blocks(int(state.range(0)));
    Measure(
        state,
        [&](std::string* error) {
            QFile::remove(path);
            CFileTransfer transfer(receiver);
            const auto r = transfer.Download(QStringLiteral("BIG"), path, int(state.range(0)));
            *error = r.text.toStdString();
            return r.ok;
        },
        &blocks);
}

void BM_DownloadInProcess(benchmark::State& state)
{
    Download(state, QStringLiteral("SIM:bench"));
}

void BM_DownloadTcp(benchmark::State& state)
{
    Download(state, QStringLiteral("127.0.0.1:%1").arg(Shared().tcp->Port()));
}

void BM_PlainStopAndWait(benchmark::State& state)
{
    const int blockSize = int(state.range(0));
    const QByteArray blocks = Blocks(blockSize);
    Measure(state, [&](std::string*) {
        StopAndWaitCopy(blocks, blockSize);
        return true;
    });
}

void BM_LinkSide(benchmark::State& state)
{
    const int blockSize = int(state.range(0));
    const QByteArray blocks = Blocks(blockSize);
    const int length = blockSize + 6;
    DownloadPlan plan;
    plan.name = QStringLiteral("BIG");
    plan.finalPath = Shared().dir.filePath(QStringLiteral("linkside.kvs"));
    plan.size = kFileSize;
    plan.blockSize = blockSize;
    Measure(state, [&](std::string* error) {
        QFile::remove(plan.finalPath);
        CDownloadFiles files;
        QString why;
        if (!files.Open(plan.finalPath, false, &why) || !files.StartFresh(QByteArray(), &why)) {
            *error = why.toStdString();
            return false;
        }
        CDownloadSession session(plan, std::move(files));
        session.Begin();
        for (qsizetype pos = 0; pos < blocks.size() && !session.Finished(); pos += length) {
            session.Feed(QByteArray::fromRawData(blocks.constData() + pos, length));
        }
        *error = session.FinalNotice().toStdString();
        return session.FinalNotice().startsWith("RE");
    });
}

void BlockSizes(benchmark::internal::Benchmark* b)
{
    for (int bs = 512; bs <= 16384; bs *= 2) {
        b->Arg(bs);
    }
    b->Iterations(kIterations)->UseManualTime()->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK(BM_PlainStopAndWait)->Apply(BlockSizes);
BENCHMARK(BM_LinkSide)->Apply(BlockSizes);
BENCHMARK(BM_DownloadInProcess)->Apply(BlockSizes);
BENCHMARK(BM_DownloadTcp)->Apply(BlockSizes);

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
