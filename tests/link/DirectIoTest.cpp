#include "link/DirectReader.h"
#include "link/DirectWriter.h"

#include <QList>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

struct SocketPair
{
    SocketPair() { EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fd), 0); }
    ~SocketPair()
    {
        for (int f : fd) {
            if (f >= 0) {
                ::close(f);
            }
        }
    }
    int fd[2] = {-1, -1};
};

bool Readable(int fd)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1;
}

}  // namespace

// Two threads write numbered lines into a socket nobody reads yet, so that most of them wait in the writer; the
// I/O thread's part (WritePending when woken) then gets everything out, each thread's lines in their order.
TEST(DirectWriterTest, KeepsOrderWhenTheSocketIsFullAndDrainsWhatWaits)
{
    SocketPair pair;
    CDirectWriter writer;
    std::atomic<int> wakes{0};
    ASSERT_TRUE(writer.Open(pair.fd[0], [&] { ++wakes; }));
    constexpr int kLines = 20000;
    const auto writeLines = [&](char who) {
        for (int i = 0; i < kLines; ++i) {
            writer.Write(QByteArray(1, who) + QByteArray::number(i) + QByteArray(40, '.') + '\n');
        }
    };
    std::thread a(writeLines, 'a');
    std::thread b(writeLines, 'b');
    a.join();
    b.join();
    EXPECT_GT(wakes.load(), 0);  // a socket pair holds far less than 1.7 MB

    QByteArray received;
    char buffer[65536];
    while (!writer.WritePending() || received.count('\n') < 2 * kLines) {
        const ssize_t n = ::read(pair.fd[1], buffer, sizeof buffer);
        ASSERT_GT(n, 0);
        received.append(buffer, qsizetype(n));
    }
    int next[2] = {0, 0};
    for (const QByteArray& line : received.split('\n')) {
        if (!line.isEmpty()) {
            const int who = line[0] - 'a';
            ASSERT_EQ(line.mid(1, line.indexOf('.') - 1).toInt(), next[who]++) << line.constData();
        }
    }
    EXPECT_EQ(next[0], kLines);
    EXPECT_EQ(next[1], kLines);
    EXPECT_TRUE(writer.Error().isEmpty());
}

TEST(DirectWriterTest, ReportsALostPeerAndStepsAsideOnceClosed)
{
    SocketPair pair;
    CDirectWriter writer;
    EXPECT_EQ(writer.Write("x"), CDirectWriter::Result::Closed);
    std::atomic<int> wakes{0};
    ASSERT_TRUE(writer.Open(pair.fd[0], [&] { ++wakes; }));
    ::close(pair.fd[1]);
    pair.fd[1] = -1;
    writer.Write("lost\r\n");
    EXPECT_FALSE(writer.Error().isEmpty());
    EXPECT_EQ(wakes.load(), 1);                                       // the I/O thread reports the drop
    EXPECT_EQ(writer.Write("more"), CDirectWriter::Result::Written);  // dropped, as into a lost link
    writer.Close();
    EXPECT_EQ(writer.Descriptor(), -1);
    EXPECT_EQ(writer.Write("x"), CDirectWriter::Result::Closed);
}

// The I/O thread must not be woken for bytes a caller reads, and must see at once what is left when the caller
// lets go; only one thread reads at a time.
TEST(DirectReaderTest, ACallersLeaseHidesTheSocketFromTheWatchSetUntilItEnds)
{
    SocketPair pair;
    CDirectReader reader;
    ASSERT_TRUE(reader.Open(pair.fd[0]));
    ASSERT_EQ(::write(pair.fd[1], "abc", 3), 3);
    EXPECT_TRUE(Readable(reader.WatchDescriptor()));

    ASSERT_TRUE(reader.TryLease(true));
    EXPECT_FALSE(Readable(reader.WatchDescriptor()));
    EXPECT_FALSE(reader.TryLease(false));
    EXPECT_EQ(reader.Wait(1000), CDirectReader::Wake::Readable);
    QByteArray bytes;
    EXPECT_EQ(reader.Read(bytes, 2), CDirectReader::Status::Data);
    EXPECT_EQ(bytes, "ab");
    reader.EndLease();
    EXPECT_TRUE(Readable(reader.WatchDescriptor())) << "the byte left must wake the I/O thread";

    ASSERT_TRUE(reader.TryLease(false));  // the I/O thread's own lease leaves the set alone
    EXPECT_TRUE(Readable(reader.WatchDescriptor()));
    EXPECT_EQ(reader.Read(bytes, 64), CDirectReader::Status::Data);
    EXPECT_EQ(reader.Read(bytes, 64), CDirectReader::Status::Again);
    EXPECT_EQ(bytes, "abc");
    ::close(pair.fd[1]);
    pair.fd[1] = -1;
    EXPECT_EQ(reader.Read(bytes, 64), CDirectReader::Status::Closed);
    reader.EndLease();
}

// A run of callers' leases leaves the socket out of the watch set; bytes that come after the run must still reach
// the I/O thread (through the hand-back timer), and a lone lease must give the socket back at once.
TEST(DirectReaderTest, ARunOfCallersParksTheSocketAndItComesBackAfterTheRun)
{
    SocketPair pair;
    CDirectReader reader(CDirectReader::Timing{std::chrono::milliseconds(1000), std::chrono::milliseconds(20)});
    ASSERT_TRUE(reader.Open(pair.fd[0]));
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(reader.TryLease(true));
        reader.EndLease();
    }
    ASSERT_EQ(::write(pair.fd[1], "x", 1), 1);
    QByteArray bytes;
    for (int wakes = 0; bytes.isEmpty() && wakes < 50; ++wakes) {
        pollfd p{reader.WatchDescriptor(), POLLIN, 0};
        ASSERT_EQ(::poll(&p, 1, 5000), 1) << "the I/O thread is never woken for the byte";
        reader.OnWatchWake();
        ASSERT_TRUE(reader.TryLease(false));
        reader.Read(bytes, 64);
        reader.EndLease();
    }
    EXPECT_EQ(bytes, "x");
    // Back in the set once the run is over: the next byte wakes the I/O thread by itself.
    ::usleep(30'000);
    reader.OnWatchWake();
    ASSERT_EQ(::write(pair.fd[1], "y", 1), 1);
    EXPECT_TRUE(Readable(reader.WatchDescriptor()));
}

// A caller's Receive blocks in recv on the socket the I/O thread shares: the I/O thread's reads must still never
// block, and a reply, an interrupt, a close from another thread and a peer that hangs up must each end a long wait.
TEST(DirectReaderTest, AReceiveThatBlocksInRecvStillEndsEveryWayAndLeavesTheIoThreadNonBlocking)
{
    SocketPair pair;
    SocketPair other;
    CDirectReader reader;
    CDirectReader hungUp;
    ASSERT_TRUE(reader.Open(pair.fd[0]) && hungUp.Open(other.fd[0]));
    QByteArray bytes;
    const auto receiveWhile = [&](CDirectReader& r, const std::function<void()>& meanwhile, CDirectReader::Wake wake,
                                  CDirectReader::Status status) {
        ASSERT_TRUE(r.TryLease(true));
        std::thread t([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            meanwhile();
        });
        const auto start = std::chrono::steady_clock::now();
        auto w = CDirectReader::Wake::TimedOut;
        auto s = CDirectReader::Status::Again;
        while (w != CDirectReader::Wake::Interrupted && w != CDirectReader::Wake::Closing &&
               s == CDirectReader::Status::Again &&
               std::chrono::steady_clock::now() - start < std::chrono::seconds(5)) {
            w = r.Receive(bytes, 64, 20'000, s);
        }
        EXPECT_EQ(w, wake);
        EXPECT_EQ(s, status);
        r.EndLease();  // a Close waits for it
        t.join();
    };
    receiveWhile(
        reader, [&] { EXPECT_EQ(::write(pair.fd[1], "reply", 5), 5); }, CDirectReader::Wake::Readable,
        CDirectReader::Status::Data);
    EXPECT_EQ(bytes, "reply");
    ASSERT_TRUE(reader.TryLease(false));
    EXPECT_EQ(reader.Read(bytes, 64), CDirectReader::Status::Again) << "the I/O thread's read must not block";
    reader.EndLease();
    receiveWhile(
        reader, [&] { reader.Interrupt(); }, CDirectReader::Wake::Interrupted, CDirectReader::Status::Again);
    receiveWhile(
        reader, [&] { reader.Close(); }, CDirectReader::Wake::Closing, CDirectReader::Status::Again);
    EXPECT_EQ(reader.WatchDescriptor(), -1);
    receiveWhile(
        hungUp, [&] { ::shutdown(other.fd[1], SHUT_RDWR); }, CDirectReader::Wake::Readable,
        CDirectReader::Status::Closed);
}
