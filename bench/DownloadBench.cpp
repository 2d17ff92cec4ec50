// File download throughput: a 50 MB receiver file through the whole link (block protocol, CRC chain, partial
// file, rename) from the in-process simulator and from the simulator over loopback TCP, at each block size,
// beside a plain loopback socket copy of the same bytes.
// Run: build/release/bench/bench_download   (figures: bytes_per_second; the ratio is download / plain copy)
#include "files/FileTransfer.h"
#include "link/Connection.h"
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

#include <thread>

namespace {

constexpr int64_t kFileSize = 50LL * 1000 * 1000;

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
    for (auto _ : state) {
        QFile::remove(path);
        CFileTransfer transfer(receiver);
        const auto r = transfer.Download(QStringLiteral("BIG"), path, int(state.range(0)));
        if (!r.ok) {
            state.SkipWithError(r.text.toStdString().c_str());
            return;
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kFileSize);
}

void BM_DownloadInProcess(benchmark::State& state)
{
    Download(state, QStringLiteral("SIM:bench"));
}

void BM_DownloadTcp(benchmark::State& state)
{
    Download(state, QStringLiteral("127.0.0.1:%1").arg(Shared().tcp->Port()));
}

// The same bytes through a loopback socket and into a file, with nothing else.
void BM_PlainSocketCopy(benchmark::State& state)
{
    Fixture& f = Shared();
    const QString path = f.dir.filePath(QStringLiteral("plain.kvs"));
    for (auto _ : state) {
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
            const char* p = f.content.constData();
            int64_t left = f.content.size();
            while (left > 0) {
                const ssize_t n = ::send(s, p, size_t(std::min<int64_t>(left, 65536)), 0);
                if (n <= 0) {
                    break;
                }
                p += n;
                left -= n;
            }
            ::close(s);
        });
        const int c = ::socket(AF_INET, SOCK_STREAM, 0);
        ::connect(c, reinterpret_cast<sockaddr*>(&addr), len);
        std::FILE* out = std::fopen(QFile::encodeName(path).constData(), "wb");
        char buf[65536];
        ssize_t n = 0;
        while ((n = ::recv(c, buf, sizeof buf, 0)) > 0) {
            std::fwrite(buf, 1, size_t(n), out);
        }
        std::fclose(out);
        ::close(c);
        sender.join();
        ::close(server);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kFileSize);
}

void BlockSizes(benchmark::internal::Benchmark* b)
{
    for (int bs = 512; bs <= 16384; bs *= 2) {
        b->Arg(bs);
    }
    b->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK(BM_PlainSocketCopy)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
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
