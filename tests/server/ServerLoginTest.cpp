// Who gets in, and what a login tells about whom: connection limits per address, unknown names and locks across
// restarts, the time for the key derivation, and a server at its descriptor limit. Real sockets from several
// loopback addresses.

#include "ServerProcess.h"

#include "link/ServerClient.h"
#include "server/ReceiverServer.h"
#include "server/UserStore.h"

#include <QDir>
#include <QElapsedTimer>
#include <QThread>

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

using namespace ServerWire;

namespace {

// The first frame a connection from `from` gets other than heartbeats.
CPeer::Got Greeting(CPeer& peer, const QString& address, const QString& from)
{
    return peer.Connect(address, from) ? peer.Next() : CPeer::Got{};
}

TEST(ServerAdmissionTest, OneAddressCannotKeepOthersFromLoggingIn)
{
    CInProcessServer server({}, [](ServerConfig& c) { c.limits.maxPendingLogins = 16; });
    // Idle connections from one address: eight wait for their login, the others are told why at once.
    std::vector<std::unique_ptr<CPeer>> idle;
    int refused = 0;
    for (int i = 0; i < 300; ++i) {
        idle.push_back(std::make_unique<CPeer>());
        const CPeer::Got first = Greeting(*idle.back(), server.Address(), "127.0.0.2");
        if (first.type != kHello) {
            ++refused;
            EXPECT_EQ(first.payload, "Too many connections from your address; try again later");
            EXPECT_TRUE(idle.back()->ClosedWithin(3000));
            idle.pop_back();
        }
    }
    EXPECT_EQ(refused, 292);
    // Meanwhile a user from elsewhere logs in and, logged in, no longer counts among those waiting.
    CServerClient alice(ServerLogin{server.Address(), "alice", "alice-pw"}, nullptr);
    QString why;
    ASSERT_TRUE(alice.Open(why)) << why.toStdString();
    for (int i = 0; i < 8; ++i) {
        idle.push_back(std::make_unique<CPeer>());
        EXPECT_EQ(Greeting(*idle.back(), server.Address(), "127.0.0.3").type, kHello);
    }
    // Now the server as a whole has as many waiting as it lets wait.
    CPeer late;
    EXPECT_EQ(Greeting(late, server.Address(), "127.0.0.4").payload, "The server is busy; try again later");
    EXPECT_TRUE(alice.Request({"RCVLIST"}).ok);

    // One site has a whole IPv6 /64, and an IPv4 client may come in IPv6 form.
    const auto key = [](const char* address) { return CReceiverServer::AddressKey(QHostAddress(address)); };
    EXPECT_EQ(key("2001:db8:1:2:a::1"), key("2001:db8:1:2:ffff::9"));
    EXPECT_NE(key("2001:db8:1:2::1"), key("2001:db8:1:3::1"));
    EXPECT_EQ(key("::ffff:192.0.2.7"), key("192.0.2.7"));
    EXPECT_NE(key("192.0.2.7"), key("192.0.2.8"));
}

TEST(ServerLoginTest, NeitherARestartNorANewCountTellsUnknownNamesApartOrLiftsALock)
{
    const auto quick = [](ServerConfig& c) {
        c.limits.helloTimeoutMs = 200;  // the key derivation below takes many times that
        c.limits.firstLoginDelayMs = 1;
        c.limits.maxLoginDelayMs = 10;
        c.limits.lockoutFailures = 3;
    };
    CInProcessServer server({}, quick);
    server.Stop();
    CUserStore users(server.UsersFile());
    QString error;
    ASSERT_TRUE(users.Load(&error) && users.Add("dave", "dave-pw", 5000, &error));
    // A user at the highest count the protocol allows, keys made beforehand (the server never derives them).
    ASSERT_TRUE(WriteFile(server.UsersFile(), ReadFile(server.UsersFile()) +
                                                  "max 1000000 c2l4dGVlbi1ieXRlLXNsdA== "
                                                  "xgTKcw/WPeT5fAF94CgJXiYg1LiSfJ3Y/6MpMKK5u2k= "
                                                  "6nNRgv58PD2ROTCpsqKjq7whwbDi+0pR33iInvmiw9Q=\n"));
    ASSERT_TRUE(server.Start());

    auto offer = [&](const QString& user) {
        CPeer peer;
        if (Greeting(peer, server.Address(), "127.0.0.1").type != kHello) {
            return QStringList{};
        }
        peer.Send(kUser, Pack({user, QString::fromLatin1(RandomBytes(16).toBase64())}));
        QStringList w;
        QByteArray body;
        return Unpack(peer.Next().payload, w, body) && w.size() == 3 ? w.mid(0, 2) : QStringList{};
    };
    auto login = [&](const QString& password, const QString& from) {
        CPeer peer;
        return peer.Connect(server.Address(), from) ? peer.Login("alice", password) : CPeer::Got{};
    };
    const QStringList names = {"alice", "dave", "nobody", "ghost"};
    QList<QStringList> before;
    for (const QString& name : names) {
        before.append(offer(name));
    }
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(login("guess", "127.0.0.1").payload, "Wrong user name or password");
    }

    ASSERT_TRUE(server.Start([&](ServerConfig& c) {
        quick(c);
        c.iterations = 30000;
    }));
    for (int i = 0; i < names.size(); ++i) {
        ASSERT_EQ(before[i].size(), 2) << names[i].toStdString();
        EXPECT_EQ(offer(names[i]), before[i]) << names[i].toStdString();
        EXPECT_TRUE(QStringList({"4096", "5000", "1000000"}).contains(before[i][1])) << names[i].toStdString();
    }
    // The lock holds for its name and address, also against the right password; other addresses are not locked.
    EXPECT_EQ(login("alice-pw", "127.0.0.1").payload, "Too many wrong passwords; try again later");
    EXPECT_EQ(login("alice-pw", "127.0.0.2").type, kWelcome);
    EXPECT_EQ(FileMode(QDir(server.Dir()).filePath("store/.unknown-users-key")), 0600);
    EXPECT_EQ(FileMode(QDir(server.Dir()).filePath("store/.login-locks")), 0600);

    // The program's client at the highest count: its key derivation outlasts the time for the user frame.
    CServerClient max(ServerLogin{server.Address(), "max", "max-pw"}, nullptr);
    EXPECT_TRUE(max.Open(error)) << error.toStdString();
}

// The child runs with few descriptors; a flood of connections uses them up, first down to the reserve the server
// keeps for its own files, then, with the limit lowered under the running server, until accepting fails outright.
TEST(ServerAdmissionTest, AtItsDescriptorLimitTheServerWaitsInsteadOfSpinningAndServesAgainAfterwards)
{
    CServerProcess server;
    server.SetFileLimit(40);
    ASSERT_TRUE(server.Start()) << server.Log().toStdString();
    auto cpuTicks = [&] {
        const QList<QByteArray> f =
            ReadFile(QStringLiteral("/proc/%1/stat").arg(server.Pid())).split(')').value(1).trimmed().split(' ');
        return f.value(11).toLongLong() + f.value(12).toLongLong();  // user and system time
    };
    auto setFileLimit = [&](rlim_t files) {
        const rlimit limit{files, 40};
        return ::prlimit(pid_t(server.Pid()), RLIMIT_NOFILE, &limit, nullptr) == 0;
    };
    auto starved = [&] { return int(server.ReadLog().count("can't accept connections")); };
    // Running short, the server says so, and half a second of it costs next to no processor time (spinning, it
    // took a quarter of a busy machine); afterwards it logs in a user again. Connections turned away free
    // descriptors, so the reserve may run short several times; without them, it says so once.
    auto flood = [&](int connections, bool once, const QString& user) {
        const int before = starved();
        std::vector<std::unique_ptr<CPeer>> peers;
        for (int i = 0; i < connections; ++i) {
            peers.push_back(std::make_unique<CPeer>());
            ASSERT_TRUE(peers.back()->Connect(server.Address(), QStringLiteral("127.0.0.%1").arg(10 + i / 8)));
        }
        QElapsedTimer clock;
        clock.start();
        while (starved() == before && clock.elapsed() < 5000) {
            QThread::msleep(20);
        }
        const qint64 ticks = cpuTicks();
        QThread::msleep(500);
        EXPECT_LT(cpuTicks() - ticks, ::sysconf(_SC_CLK_TCK) / 20);
        EXPECT_GT(starved(), before);
        if (once) {
            EXPECT_EQ(starved(), before + 1) << server.Log().toStdString();
        }
        ASSERT_TRUE(setFileLimit(40));
        peers.clear();
        // The connections left in the server's queue are taken when there is room again, and may fill the
        // reserve once more: as any client would, this one tries again when told the server is busy.
        bool in = false;
        for (clock.restart(); !in && clock.elapsed() < 5000;) {
            ServerClient client;
            in = client.Open(server.Address(), user);
            const QString why = client.connection.GetMsgText();
            EXPECT_TRUE(in || why.contains("busy")) << why.toStdString();
            if (!in) {
                QThread::msleep(100);
            }
        }
        EXPECT_TRUE(in) << user.toStdString();
    };
    flood(48, false, "alice");
    // Below the reserve: accept itself fails for want of descriptors.
    const auto open = QDir(QStringLiteral("/proc/%1/fd").arg(server.Pid()))
                          .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)
                          .size();
    ASSERT_LT(open + 4, 40 - 16);
    ASSERT_TRUE(setFileLimit(rlim_t(open + 4)));
    flood(16, true, "bob");
}

}  // namespace
