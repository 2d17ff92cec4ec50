#include "link/DirectReader.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

bool Readable(int fd)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1;
}

struct Pair
{
    Pair() { EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fd), 0); }
    ~Pair()
    {
        for (int f : fd) {
            if (f >= 0) {
                ::close(f);
            }
        }
    }
    int fd[2] = {-1, -1};
};

}  // namespace

// The I/O thread must not be woken for bytes a caller reads, and must see at once what is left when the caller
// lets go; only one thread reads at a time.
TEST(DirectReaderTest, ACallersLeaseHidesTheSocketFromTheWatchSetUntilItEnds)
{
    Pair pair;
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

// Interrupt() ends a wait at once, also one that starts after it; Close() ends a caller's wait and waits for its
// lease before the descriptors go.
TEST(DirectReaderTest, InterruptAndCloseEndACallersWait)
{
    Pair pair;
    CDirectReader reader;
    ASSERT_TRUE(reader.Open(pair.fd[0]));
    ASSERT_TRUE(reader.TryLease(true));
    reader.Interrupt();
    EXPECT_EQ(reader.Wait(10000), CDirectReader::Wake::Interrupted);
    EXPECT_EQ(reader.Wait(0), CDirectReader::Wake::TimedOut);
    reader.EndLease();

    const auto start = std::chrono::steady_clock::now();
    CDirectReader::Wake wake = CDirectReader::Wake::TimedOut;
    std::atomic<bool> leased{false};
    std::thread caller([&] {
        leased = reader.TryLease(true);
        wake = reader.Wait(10000);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));  // Close() must wait for this
        reader.EndLease();
    });
    while (!leased) {
        std::this_thread::yield();
    }
    reader.Close();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    caller.join();
    EXPECT_EQ(wake, CDirectReader::Wake::Closing);
    EXPECT_GE(seconds, 0.1);
    EXPECT_LT(seconds, 5.0);
    EXPECT_EQ(reader.WatchDescriptor(), -1);
    EXPECT_FALSE(reader.TryLease(true));
}
