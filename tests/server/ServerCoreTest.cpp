// The server's pieces without a process: names, filters, keys, frames; and a client that does not read.

#include "ServerProcess.h"

#include "link/Receiver.h"
#include "link/ServerClient.h"
#include "link/ServerWire.h"
#include "server/LoginFailures.h"
#include "server/MessageStore.h"
#include "server/ServedReceiver.h"
#include "server/ServerConfig.h"
#include "server/UnknownUsers.h"
#include "server/UserStore.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace ServerWire;

namespace {

TEST(ServerCoreTest, MessageNamesFromTheNetworkNeverNameAPath)
{
    const struct
    {
        const char* wanted;
        const char* sanitized;
        bool validAsIs;
    } cases[] = {
        {"track.bin", "track.bin", true},
        {"../../etc/passwd", "passwd", false},
        {"..\\x", "x", false},
        {".hidden", "hidden", false},
        {"a b", "a_b", false},
        {"x.meta", "x.meta_", false},
        {"", "text", false},
        {"..", "text", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CMessageStore::SanitizeName(QString::fromUtf8(c.wanted)), QLatin1String(c.sanitized)) << c.wanted;
        EXPECT_EQ(CMessageStore::IsValidName(QString::fromUtf8(c.wanted)), c.validAsIs) << c.wanted;
        EXPECT_TRUE(CMessageStore::IsValidName(CMessageStore::SanitizeName(QString::fromUtf8(c.wanted))));
    }
}

TEST(ServerCoreTest, StreamFiltersFollowEmAndDm)
{
    auto id = [](const char* two) { return quint16((quint8(two[0]) << 8) | quint8(two[1])); };
    StreamFilter f;
    f.Apply("kvs{/PG:1,/RT:1,/EE:1}", true);
    EXPECT_TRUE(f.Matches(id("PG")) && f.Matches(id("~~")) && f.Matches(id("||")));
    EXPECT_FALSE(f.Matches(id("SI")));
    f.Apply("/msg/kvs/SI:{1.00}", true);
    EXPECT_TRUE(f.Matches(id("SI")));
    f.Apply("kvs{/PG}", false);
    EXPECT_FALSE(f.Matches(id("PG")));
    f.Apply("", false);
    EXPECT_TRUE(f.Empty());
    f.Apply("def:{1.00}", true);
    EXPECT_TRUE(f.Matches(id("XA")));
}

TEST(ServerCoreTest, ProofsProveThePasswordOnlyForTheirOwnNonce)
{
    const QByteArray salt = RandomBytes(16);
    const ScramKeys stored = DeriveKeys("secret", salt, kMinIterations);
    const QByteArray auth = AuthMessage("alice", "clientnonce", "clientnonceserver");
    const QByteArray proof = ClientProof(stored, auth);
    EXPECT_TRUE(VerifyProof(stored.storedKey, auth, proof));
    EXPECT_FALSE(VerifyProof(stored.storedKey, AuthMessage("alice", "clientnonce", "other"), proof));
    EXPECT_FALSE(VerifyProof(stored.storedKey, auth, ClientProof(DeriveKeys("Secret", salt, kMinIterations), auth)));
    // The stored keys are not the proof's key: replaying them does not log in.
    EXPECT_FALSE(VerifyProof(stored.storedKey, auth, stored.storedKey));

    CFrameReader reader;
    reader.Append(Frame(kBeat, {}) + QByteArray("D\x7f\xff\xff\xff", 5));
    char type = 0;
    QByteArray payload;
    EXPECT_EQ(reader.Next(type, payload), CFrameReader::Result::Frame);
    EXPECT_EQ(reader.Next(type, payload), CFrameReader::Result::Bad);
}

TEST(ServerTlsTest, TheClientTrustsOnlyACertificateItCanVerify)
{
    QTemporaryDir keys;
    QProcess openssl;
    openssl.start("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj", "/CN=localhost",
                              "-addext", "subjectAltName=IP:127.0.0.1,DNS:localhost", "-keyout",
                              keys.filePath("server.key"), "-out", keys.filePath("server.crt")});
    ASSERT_TRUE(openssl.waitForFinished(30000));
    ASSERT_EQ(openssl.exitCode(), 0) << openssl.readAllStandardError().toStdString();
    CServerProcess server(
        {}, QStringLiteral("certificate=%1\nkey=%2\n").arg(keys.filePath("server.crt"), keys.filePath("server.key")));
    ASSERT_TRUE(server.Start()) << server.Log().toStdString();
    const QString address = "tls://" + server.Address();

    qunsetenv("NEMOLA_SERVER_CA");
    CConnection untrusted;
    EXPECT_FALSE(untrusted.Open(address, "alice", "alice-pw", QString()));
    EXPECT_TRUE(untrusted.GetMsgText().contains("certificate", Qt::CaseInsensitive))
        << untrusted.GetMsgText().toStdString();
    // A plain client gets nothing it could read as a server, and its plain frames end the connection.
    CPeer plain;
    ASSERT_TRUE(plain.Connect(server.Address()));
    EXPECT_EQ(plain.Next(300).type, 0);
    plain.Send(kUser, Pack({"alice", "bm9uY2Vub25jZQ=="}));
    EXPECT_EQ(plain.Next(300).type, 0);
    EXPECT_TRUE(plain.ClosedWithin(5000));

    qputenv("NEMOLA_SERVER_CA", keys.filePath("server.crt").toUtf8());
    ServerClient alice;
    ASSERT_TRUE(alice.Open(address, "alice")) << alice.connection.GetMsgText().toStdString();
    EXPECT_TRUE(alice.connection.SetMsg("bob", "over TLS", "hello"));
    CReceiver receiver;
    EXPECT_TRUE(receiver.Open(&alice.connection, "sim")) << receiver.GetReplyString().toStdString();
    receiver.Close();
    qunsetenv("NEMOLA_SERVER_CA");
}

TEST(ServerStoreTest, UploadsBecomeMessagesWholeOrNotAtAll)
{
    QTemporaryDir root;
    CMessageStore store(root.path());
    QString error;
    {
        // Dropped half-way: nothing is listed and no file stays behind.
        auto up = store.Begin("bob", "alice", "s", "a.txt", 4, &error);
        ASSERT_TRUE(up);
        ASSERT_TRUE(up->Append("ab", &error));
        EXPECT_FALSE(store.Commit(*up, &error));
    }
    EXPECT_TRUE(store.List("bob").isEmpty());
    EXPECT_TRUE(QDir(root.filePath("bob")).entryList(QDir::Files | QDir::Hidden).isEmpty());

    // Two uploads of one name at once get two names; the body is read back by range.
    auto first = store.Begin("bob", "alice", "s", "a.txt", 4, &error);
    auto second = store.Begin("bob", "carol", "t", "a.txt", 0, &error);
    ASSERT_TRUE(first && second);
    EXPECT_NE(first->Meta().name, second->Meta().name);
    EXPECT_FALSE(first->Append("abcde", &error));  // more than announced
    ASSERT_TRUE(first->Append("abcd", &error));
    ASSERT_TRUE(store.Commit(*first, &error) && store.Commit(*second, &error));
    QByteArray bytes;
    ASSERT_TRUE(store.Read("bob", "a.txt", 1, 2, bytes, &error));
    EXPECT_EQ(bytes, "bc");
    EXPECT_FALSE(store.Read("bob", "a.txt", 5, 1, bytes, &error));
    EXPECT_TRUE(store.HasUnread("bob"));
    EXPECT_TRUE(store.MarkRead("bob", "a.txt"));
    EXPECT_TRUE(store.MarkRead("bob", second->Meta().name));
    EXPECT_FALSE(store.HasUnread("bob"));
    // Another store on the same folder (a restarted server) sees the same messages.
    EXPECT_EQ(CMessageStore(root.path()).List("bob").size(), 2);
}

TEST(ServerStoreTest, UsersAndConfigurationRefuseBrokenInput)
{
    QTemporaryDir dir;
    const QString usersPath = dir.filePath("users");
    QString error;
    CUserStore users(usersPath);
    ASSERT_TRUE(users.Load(&error));  // no file yet: no users
    EXPECT_FALSE(users.Add("a/b", "pw", kMinIterations, &error));
    ASSERT_TRUE(users.Add("alice", "pw", kMinIterations, &error));
    ASSERT_TRUE(users.Add("bob", "pw", kMinIterations, &error));
    ASSERT_TRUE(users.Remove("bob", &error));
    EXPECT_FALSE(users.Remove("bob", &error));
    CUserStore again(usersPath);
    ASSERT_TRUE(again.Load(&error));
    EXPECT_EQ(again.Names(), QStringList{"alice"});
    // Keys of the right size: only the count decides.
    const QByteArray key = QByteArray(kKeyBytes, 'k').toBase64();
    const QByteArray kept = ReadFile(usersPath);
    ASSERT_TRUE(WriteFile(usersPath, kept + "mallory 4095 c2FsdA== " + key + ' ' + key + '\n'));
    EXPECT_FALSE(again.Load(&error));
    ASSERT_TRUE(WriteFile(usersPath, kept + "mallory 4096 c2FsdA== " + key + ' ' + key + '\n'));
    EXPECT_TRUE(again.Load(&error)) << error.toStdString();

    const struct
    {
        const char* text;
        bool ok;
    } configs[] = {
        {"[server]\nlisten=127.0.0.1:7020\n[receivers]\nsim=SIM:\n", true},
        {"[server]\nlisten=7020\n", false},
        {"[server]\nlisten=host:99999\n", false},
        {"[server]\ncertificate=a.crt\n", false},
        {"[server]\niterations=10\n", false},
        {"[server]\nmax_queue_bytes=abc\n", false},
        {"[receivers]\nbad name=SIM:\n", false},
    };
    for (const auto& c : configs) {
        ASSERT_TRUE(WriteFile(dir.filePath("c.conf"), c.text));
        ServerConfig config;
        EXPECT_EQ(ServerConfig::Load(dir.filePath("c.conf"), config, &error), c.ok) << c.text;
    }
    ServerConfig config;
    EXPECT_FALSE(ServerConfig::Load(dir.filePath("missing.conf"), config, &error));
}

TEST(ServerStoreTest, AFloodOfInventedNamesNeitherLiftsALockNorGrowsTheTable)
{
    QTemporaryDir dir;
    qint64 now = 1700000000000;
    const ServerLimits limits;
    CLoginFailures failures(limits, dir.filePath("locks"), [&] { return now; });
    for (int i = 0; i < limits.lockoutFailures; ++i) {
        EXPECT_FALSE(failures.Locked("alice@10.0.0.1"));
        failures.Count("alice@10.0.0.1");
    }
    ASSERT_TRUE(failures.Locked("alice@10.0.0.1"));
    EXPECT_EQ(failures.DelayMs("alice@10.0.0.1"), limits.maxLoginDelayMs);
    for (int i = 0; i <= limits.maxFailureKeys; ++i) {
        failures.Count(QStringLiteral("x%1@10.0.0.1").arg(i));
        now += 1;
    }
    EXPECT_TRUE(failures.Locked("alice@10.0.0.1"));
    EXPECT_LE(failures.Size(), limits.maxFailureKeys);
    now += limits.lockoutMs + 1;
    EXPECT_FALSE(failures.Locked("alice@10.0.0.1"));
    EXPECT_EQ(failures.DelayMs("alice@10.0.0.1"), limits.firstLoginDelayMs);
}

TEST(ServerStoreTest, UnknownNamesGetTheUsersCountsInProportion)
{
    QTemporaryDir dir;
    CUnknownUsers unknown(dir.filePath("key"));
    QString error;
    ASSERT_TRUE(unknown.Load(&error));
    EXPECT_EQ(unknown.Iterations("nobody", {}, 7777), 7777);
    const QList<int> counts = {4096, 4096, 4096, 50000};
    int high = 0;
    for (int i = 0; i < 400; ++i) {
        const int n = unknown.Iterations(QStringLiteral("name%1").arg(i), counts, 7777);
        ASSERT_TRUE(n == 4096 || n == 50000) << n;
        high += n == 50000;
    }
    EXPECT_GT(high, 50);
    EXPECT_LT(high, 150);
    // A broken key is not silently replaced: that would change every unknown name's salt.
    ASSERT_TRUE(WriteFile(dir.filePath("key"), "short"));
    EXPECT_FALSE(CUnknownUsers(dir.filePath("key")).Load(&error));
}

// Requests through the wire, against a server core with real sockets: numbers, uploads, names and file modes.
TEST(ServerRequestTest, NumbersAreStrictNamesStayInTheirMailboxAndMessagesAreTheUsersAlone)
{
    CInProcessServer server;
    auto open = [&](const QString& user) {
        auto c = std::make_unique<CServerClient>(ServerLogin{server.Address(), user, user + "-pw"}, nullptr);
        QString why;
        EXPECT_TRUE(c->Open(why)) << why.toStdString();
        return c;
    };
    auto alice = open("alice");
    auto bob = open("bob");
    for (const char* size : {"-1", "", "0x10", "1e3", "+1", " 1", "1 "}) {
        const auto a = alice->Request({"SEND", "bob", "s", "n", QLatin1String(size)}, "x");
        EXPECT_FALSE(a.ok) << size;
        EXPECT_EQ(a.text, "Invalid size") << size;
    }
    EXPECT_EQ(alice->Request({"ABORT", "999"}).text, "No such transfer");
    // A name with letters beyond ASCII is cleaned into one that lists and reads.
    EXPECT_EQ(alice->Request({"SEND", "bob", "s", QString::fromUtf8("caf\xc3\xa9 \xc3\xbc.txt"), "2"}, "hi").text,
              "Message sent to bob");
    EXPECT_TRUE(alice->Request({"SEND", "alice", "own", "mine", "1"}, "x").ok);
    const auto list = bob->Request({"MSGLIST"});
    QStringList w;
    QByteArray body;
    ASSERT_TRUE(Unpack(list.body, w, body) && !w.isEmpty()) << list.body.toStdString();
    const QString name = w[0];
    EXPECT_EQ(name, "caf___.txt");
    EXPECT_EQ(bob->Request({"GETMSG", name, "0", "10"}).body, "hi");
    for (const char* offset : {"+1", " 1", "-1", "0x1", "1e0", ""}) {
        EXPECT_EQ(bob->Request({"GETMSG", name, QLatin1String(offset), "10"}).text, "Invalid offset") << offset;
    }
    // Alice has a mailbox of her own, through which a path would reach Bob's.
    EXPECT_FALSE(alice->Request({"GETMSG", "../bob/" + name, "0", "10"}).ok);
    EXPECT_FALSE(alice->Request({"DELMSG", "../bob/" + name}).ok);
    EXPECT_EQ(bob->Request({"GETMSG", name, "0", "10"}).body, "hi");
    // Names meant to climb out of the mailbox, hide or pose as a message's own files land inside it, visible.
    for (const char* hostile : {"../../../evil", "/etc/passwd", ".hidden", "x.meta"}) {
        EXPECT_TRUE(alice->Request({"SEND", "bob", hostile, hostile, "1"}, "x").ok) << hostile;
    }
    // A size past any medium and a body longer than announced are refused too.
    EXPECT_FALSE(alice->Request({"SEND", "bob", "s", "n", "99999999999"}, "").ok);
    EXPECT_FALSE(alice->Request({"SEND", "bob", "s", "n", "1"}, "xy").ok);

    const QDir store(QDir(server.Dir()).filePath("store"));
    const QStringList files = QDir(store.filePath("bob")).entryList(QDir::Files | QDir::Hidden);
    EXPECT_EQ(files.size(), 10) << files.join(QLatin1Char(' ')).toStdString();
    for (const QString& f : files) {
        EXPECT_FALSE(f.startsWith(QLatin1Char('.'))) << f.toStdString();
    }
    EXPECT_TRUE(QDir(server.Dir()).entryList({"evil*"}).isEmpty());
    EXPECT_TRUE(store.entryList({"evil*"}).isEmpty());
    EXPECT_EQ(FileMode(store.path()), 0700);
    EXPECT_EQ(FileMode(store.filePath("bob")), 0700);
    EXPECT_EQ(FileMode(store.filePath("bob/" + name)), 0600);
    EXPECT_EQ(FileMode(store.filePath("bob/" + name + ".meta")), 0600);
    EXPECT_EQ(FileMode(server.UsersFile()), 0600);
}

// Clients that send garbage or never read their output are dropped; another client carries on meanwhile.
TEST(ServerMisbehavingClientTest, GarbageAndUnreadOutputDropTheClientOnly)
{
    CServerProcess server;
    ASSERT_TRUE(server.Start());
    ServerClient alice;
    ASSERT_TRUE(alice.Open(server.Address(), "alice"));
    const QStringList hp = server.Address().split(QLatin1Char(':'));
    for (const QByteArray& garbage :
         {QByteArray("U\x7f\xff\xff\xffxxxx", 9), QByteArray(8192, 'G'), Frame(kRequest, "1 USRLIST\n")}) {
        QTcpSocket s;
        s.connectToHost(hp[0], quint16(hp[1].toUInt()));
        ASSERT_TRUE(s.waitForConnected(3000));
        s.write(garbage);
        s.waitForBytesWritten(1000);
        // The server closes on it; bounded wait.
        bool closed = false;
        for (int i = 0; i < 50 && !closed; ++i) {
            s.waitForReadyRead(100);
            s.readAll();
            closed = s.state() == QAbstractSocket::UnconnectedState;
        }
        EXPECT_TRUE(closed) << garbage.left(16).toHex().toStdString();
        int users = 0;
        EXPECT_TRUE(alice.connection.GetUsrList(&users));
    }

    CPeer peer;
    QTcpSocket& slow = peer.socket;
    slow.setReadBufferSize(256);
    slow.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
    ASSERT_TRUE(peer.Open(server.Address(), "carol", "carol-pw", "sim"));
    // Thousands of replies the slow client never takes.
    const QByteArray flood = QByteArray("print,/par/rcv/model\r\n").repeated(200);
    QElapsedTimer clock;
    clock.start();
    bool dropped = false;
    for (int round = 0; round < 1000 && !dropped && clock.elapsed() < 15000; ++round) {
        slow.write(Frame(kData, flood));
        slow.waitForBytesWritten(100);
        int users = 0;
        ASSERT_TRUE(alice.connection.GetUsrList(&users));
        dropped = server.ReadLog().contains("does not read its output");
    }
    EXPECT_TRUE(dropped) << server.ReadLog().toStdString();
}

}  // namespace
