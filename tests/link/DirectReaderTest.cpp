#include "link/DirectReader.h"

#include <gtest/gtest.h>

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
