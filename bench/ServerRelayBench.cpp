// Relay through a real nemola-server process on loopback: latency from the receiver's bytes in to the client's
// bytes out (p50, p99 over 10 000 messages) and throughput in MB/s.
// Run: build/release/bench/bench_server_relay
#include "link/Checksum.h"
#include "link/ServerWire.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace ServerWire;

namespace {

QByteArray Message(const char* id, const QByteArray& payload)
{
    QByteArray out = QByteArray(id, 2) + QByteArray::number(payload.size() + 1, 16).toUpper().rightJustified(3, '0');
    out += payload;
    out += char(Checksum8(out.constData(), size_t(out.size())));
    return out + '\n';
}

// Reads frames from a blocking socket; data frames are appended to `data`.
bool ReadFrame(QTcpSocket& s, CFrameReader& reader, char& type, QByteArray& payload)
{
    for (int i = 0; i < 5000; ++i) {
        const auto r = reader.Next(type, payload);
        if (r == CFrameReader::Result::Frame) {
            return true;
        }
        if (r == CFrameReader::Result::Bad || (!s.bytesAvailable() && !s.waitForReadyRead(1000))) {
            return false;
        }
        reader.Append(s.readAll());
    }
    return false;
}

bool Expect(QTcpSocket& s, CFrameReader& reader, char want, QByteArray& payload)
{
    char type = 0;
    while (ReadFrame(s, reader, type, payload)) {
        if (type != kBeat && type != kNotice) {
            return type == want;
        }
    }
    return false;
}

int Fail(const char* what)
{
    std::fprintf(stderr, "bench_server_relay: %s\n", what);
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    QTcpServer receiverPort;
    receiverPort.listen(QHostAddress::LocalHost, 0);
    QFile conf(dir.filePath(QStringLiteral("server.conf")));
    conf.open(QIODevice::WriteOnly);
    conf.write(QStringLiteral("[server]\nlisten=127.0.0.1:0\niterations=4096\nmax_queue_bytes=67108864\n"
                              "[receivers]\nfake=127.0.0.1:%1\n")
                   .arg(receiverPort.serverPort())
                   .toUtf8());
    conf.close();
    QProcess add;
    add.start(QStringLiteral(NEMOLA_SERVER_BIN),
              {QStringLiteral("--config"), conf.fileName(), QStringLiteral("--add-user"), QStringLiteral("bench")});
    add.waitForStarted();
    add.write("bench-pw\n");
    add.closeWriteChannel();
    add.waitForFinished(10000);

    QProcess server;
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start(QStringLiteral(NEMOLA_SERVER_BIN), {QStringLiteral("--config"), conf.fileName()});
    if (!server.waitForReadyRead(10000)) {
        return Fail("the server did not start");
    }
    const quint16 port = quint16(server.readAllStandardOutput().mid(5).trimmed().toUInt());
    if (!receiverPort.waitForNewConnection(10000)) {
        return Fail("the server did not connect to the receiver");
    }
    QTcpSocket* receiver = receiverPort.nextPendingConnection();

    QTcpSocket client;
    client.connectToHost(QStringLiteral("127.0.0.1"), port);
    client.waitForConnected(3000);
    CFrameReader reader;
    QByteArray p;
    QStringList w;
    QByteArray body;
    const QByteArray cn = RandomBytes(16);
    if (!Expect(client, reader, kHello, p)) {
        return Fail("no hello");
    }
    client.write(Frame(kUser, Pack({QStringLiteral("bench"), QString::fromLatin1(cn.toBase64())})));
    if (!Expect(client, reader, kSalt, p) || !Unpack(p, w, body) || w.size() != 3) {
        return Fail("no salt");
    }
    const QByteArray nonce = QByteArray::fromBase64(w[2].toLatin1());
    const auto keys = DeriveKeys(QStringLiteral("bench-pw"), QByteArray::fromBase64(w[0].toLatin1()), w[1].toInt());
    client.write(Frame(kProof, ClientProof(keys, AuthMessage(QStringLiteral("bench"), cn, nonce)).toBase64()));
    if (!Expect(client, reader, kWelcome, p)) {
        return Fail("login refused");
    }
    // The receiver's TCP link waits for a possible greeting before it opens.
    QByteArray opened;
    for (int i = 0; i < 50 && !opened.startsWith("OK"); ++i) {
        client.write(Frame(kOpen, Pack({QStringLiteral("fake")})));
        if (!Expect(client, reader, kAnswer, opened)) {
            return Fail("no answer to open");
        }
        if (!opened.startsWith("OK")) {
            client.waitForReadyRead(100);
        }
    }
    if (!opened.startsWith("OK")) {
        return Fail("the receiver did not open");
    }

    // Latency: one 46-byte position message at a time, as the holder gets what nobody asked for by name.
    constexpr int kMessages = 10000;
    std::vector<double> micros;
    micros.reserve(kMessages);
    QElapsedTimer clock;
    for (int i = 0; i < kMessages; ++i) {
        QByteArray payload(45, char(i));
        const QByteArray msg = Message("PV", payload);
        clock.start();
        receiver->write(msg);
        receiver->flush();
        QByteArray got;
        char type = 0;
        while (got.size() < msg.size()) {
            if (!ReadFrame(client, reader, type, p)) {
                return Fail("relay stalled");
            }
            if (type == kData) {
                got += p;
            }
        }
        micros.push_back(double(clock.nsecsElapsed()) / 1000.0);
    }
    std::sort(micros.begin(), micros.end());
    std::printf("relay latency over %d messages: p50 %.0f us, p99 %.0f us\n", kMessages, micros[kMessages / 2],
                micros[kMessages * 99 / 100]);

    // Throughput: 64 MiB of 4 KiB messages.
    const QByteArray block = Message("ZZ", QByteArray(4000, 'x'));
    const qint64 total = 64ll * 1024 * 1024 / block.size() * block.size();
    qint64 received = 0;
    qint64 sent = 0;
    clock.start();
    while (received < total) {
        while (sent < total && receiver->bytesToWrite() < 1024 * 1024) {
            receiver->write(block);
            sent += block.size();
        }
        receiver->waitForBytesWritten(0);
        char type = 0;
        if (client.bytesAvailable() || client.waitForReadyRead(1000)) {
            reader.Append(client.readAll());
        } else if (!receiver->bytesToWrite()) {
            return Fail("throughput stalled");
        }
        while (reader.Next(type, p) == CFrameReader::Result::Frame) {
            if (type == kData) {
                received += p.size();
            }
        }
    }
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    std::printf("relay throughput: %.1f MB/s (%lld bytes in %.2f s)\n", double(total) / 1e6 / seconds, total, seconds);
    server.kill();
    server.waitForFinished(5000);
    return 0;
}
