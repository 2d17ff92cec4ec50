// Who gets in, and what the login tells about whom: connection limits per address, unknown names across restarts,
// the lock-out, time limits, and a server out of descriptors. Real sockets from several loopback addresses.

#include "ServerProcess.h"

#include "link/ServerClient.h"
#include "server/ReceiverServer.h"
#include "server/UserStore.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace ServerWire;

namespace {

const QString kBusy = QStringLiteral("The server is busy; try again later");
const QString kTooMany = QStringLiteral("Too many connections from your address; try again later");

// What the server offers `user` at login: salt and iteration count.
QStringList Offer(const QString& address, const QString& user)
{
    CPeer peer;
    if (!peer.Connect(address) || peer.Next().type != kHello) {
        return {};
    }
    peer.Send(kUser, Pack({user, QString::fromLatin1(RandomBytes(16).toBase64())}));
    QStringList w;
    QByteArray body;
    const CPeer::Got salt = peer.Next();
    return salt.type == kSalt && Unpack(salt.payload, w, body) && w.size() == 3 ? w.mid(0, 2) : QStringList{};
}

TEST(ServerAdmissionTest, OneAddressCannotKeepOthersFromLoggingIn)
{
    CInProcessServer server({}, [](ServerConfig& c) {
        c.limits.maxPendingPerAddress = 8;
        c.limits.maxPendingLogins = 16;
    });
    // A flood of idle connections from one address: a few wait for their login, the others are told why at once.
    std::vector<std::unique_ptr<CPeer>> flood;
    int hellos = 0;
    int refused = 0;
    for (int i = 0; i < 300; ++i) {
        flood.push_back(std::make_unique<CPeer>());
        ASSERT_TRUE(flood.back()->Connect(server.Address(), "127.0.0.2"));
        const CPeer::Got first = flood.back()->Next();
        hellos += first.type == kHello;
        if (first.type == kRefused) {
            ++refused;
            EXPECT_EQ(first.payload, kTooMany.toUtf8());
            EXPECT_TRUE(flood.back()->ClosedWithin(3000));
            flood.pop_back();
        }
    }
    EXPECT_EQ(hellos, 8);
    EXPECT_EQ(refused, 292);

    // Meanwhile a user from elsewhere logs in, and, logged in, no longer counts among those waiting.
    CServerClient alice(ServerLogin{server.Address(), "alice", "alice-pw"}, nullptr);
    QString why;
    ASSERT_TRUE(alice.Open(why)) << why.toStdString();
    for (int i = 0; i < 8; ++i) {
        flood.push_back(std::make_unique<CPeer>());
        ASSERT_TRUE(flood.back()->Connect(server.Address(), "127.0.0.3"));
        EXPECT_EQ(flood.back()->Next().type, kHello);
    }
    // Now the server as a whole has as many waiting as it lets wait.
    CPeer late;
    ASSERT_TRUE(late.Connect(server.Address(), "127.0.0.4"));
    const CPeer::Got busy = late.Next();
    EXPECT_EQ(busy.type, kRefused);
    EXPECT_EQ(busy.payload, kBusy.toUtf8());
    EXPECT_TRUE(alice.Request({"RCVLIST"}).ok);
}

TEST(ServerAdmissionTest, TheProofHasTimeForAHighCountWhileAnIdleConnectionIsDroppedSoon)
{
    CInProcessServer server({}, [](ServerConfig& c) {
        c.limits.helloTimeoutMs = 200;
        c.limits.proofTimeoutMs = 20000;
    });
    CPeer idle;
    ASSERT_TRUE(idle.Connect(server.Address()));
    EXPECT_EQ(idle.Next().type, kHello);
    EXPECT_TRUE(idle.ClosedWithin(5000));

    // A user at the highest count the protocol allows (keys made beforehand: the server never derives them), logged
    // in by the program's client, whose key derivation outlasts the time for the user frame many times over.
    server.Stop();
    QFile users(server.UsersFile());
    ASSERT_TRUE(users.open(QIODevice::Append));
    users.write(
        "max 1000000 c2l4dGVlbi1ieXRlLXNsdA== xgTKcw/WPeT5fAF94CgJXiYg1LiSfJ3Y/6MpMKK5u2k= "
        "6nNRgv58PD2ROTCpsqKjq7whwbDi+0pR33iInvmiw9Q=\n");
    users.close();
    ASSERT_TRUE(server.Start());
    CServerClient client(ServerLogin{server.Address(), "max", "max-pw"}, nullptr);
    QString why;
    EXPECT_TRUE(client.Open(why)) << why.toStdString();
}

TEST(ServerLoginTest, AnUnknownNameIsOfferedWhatAUserIsAndTheSameAfterARestart)
{
    CInProcessServer server;
    server.Stop();
    CUserStore users(server.UsersFile());
    QString error;
    ASSERT_TRUE(users.Load(&error) && users.Add("dave", "dave-pw", 5000, &error));
    ASSERT_TRUE(server.Start());

    const QStringList names = {"alice", "dave", "nobody", "ghost"};
    QList<QStringList> before;
    for (const QString& name : names) {
        before.append(Offer(server.Address(), name));
        ASSERT_EQ(before.back().size(), 2) << name.toStdString();
    }
    EXPECT_EQ(before[1][1], "5000");
    // A restart with another configured count changes nothing a client sees.
    ASSERT_TRUE(server.Start([](ServerConfig& c) { c.iterations = 30000; }));
    for (int i = 0; i < names.size(); ++i) {
        EXPECT_EQ(Offer(server.Address(), names[i]), before[i]) << names[i].toStdString();
        EXPECT_TRUE(before[i][1] == "4096" || before[i][1] == "5000") << names[i].toStdString();
    }
    EXPECT_EQ(QByteArray::fromBase64(before[2][0].toLatin1()).size(), 16);
    EXPECT_EQ(FileMode(QDir(server.Dir()).filePath("store/.unknown-users-key")), 0600);
}

TEST(ServerLoginTest, ALockedNameStaysLockedForItsAddressAlsoWithTheRightPasswordAndAfterARestart)
{
    CInProcessServer server({}, [](ServerConfig& c) {
        c.limits.firstLoginDelayMs = 1;
        c.limits.maxLoginDelayMs = 10;
        c.limits.lockoutFailures = 3;
    });
    auto login = [&](const QString& password, const QString& from) {
        CPeer peer;
        return peer.Connect(server.Address(), from) ? peer.Login("alice", password) : CPeer::Got{};
    };
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(login("guess", "127.0.0.1").payload, "Wrong user name or password");
    }
    for (int restart = 0; restart < 2; ++restart) {
        EXPECT_EQ(login("alice-pw", "127.0.0.1").payload, "Too many wrong passwords; try again later") << restart;
        EXPECT_EQ(login("alice-pw", "127.0.0.2").type, kWelcome) << restart;
        ASSERT_TRUE(server.Start());
    }
    EXPECT_EQ(FileMode(QDir(server.Dir()).filePath("store/.login-locks")), 0600);
}

// The child runs with few descriptors; a flood of connections from several addresses uses them up.
TEST(ServerAdmissionTest, OutOfDescriptorsTheServerWaitsInsteadOfSpinningAndServesAgainAfterwards)
{
    CServerProcess server;
    server.SetFileLimit(40);
    ASSERT_TRUE(server.Start()) << server.Log().toStdString();
    std::vector<std::unique_ptr<CPeer>> flood;
    for (int i = 0; i < 48; ++i) {
        flood.push_back(std::make_unique<CPeer>());
        ASSERT_TRUE(flood.back()->Connect(server.Address(), QStringLiteral("127.0.0.%1").arg(10 + i / 8)));
    }
    QElapsedTimer clock;
    clock.start();
    while (!server.ReadLog().contains("can't accept connections") && clock.elapsed() < 5000) {
        QThread::msleep(20);
    }
    ASSERT_TRUE(server.ReadLog().contains("can't accept connections")) << server.Log().toStdString();
    // A second of being full costs the server next to no processor time (spinning, it took a quarter of a busy
    // machine and all of an idle one).
    auto cpuTicks = [&] {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(server.Pid()));
        stat.open(QIODevice::ReadOnly);
        const QList<QByteArray> f = stat.readAll().split(')').value(1).trimmed().split(' ');
        return f.value(11).toLongLong() + f.value(12).toLongLong();  // utime, stime
    };
    const qint64 before = cpuTicks();
    QThread::msleep(1000);
    EXPECT_LT(cpuTicks() - before, ::sysconf(_SC_CLK_TCK) / 10);
    EXPECT_EQ(server.ReadLog().count("can't accept connections"), 1) << server.Log().toStdString();
    flood.clear();
    ServerClient alice;
    EXPECT_TRUE(alice.Open(server.Address(), "alice")) << alice.connection.GetMsgText().toStdString();
}

}  // namespace
