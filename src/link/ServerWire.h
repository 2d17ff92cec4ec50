#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The receiver server's wire format (docs/server-protocol.md), shared by the server and the link's client side.
namespace ServerWire {

constexpr int kHeaderSize = 5;  // type byte, 4-byte big-endian payload length
constexpr int kMaxPayload = 1 << 20;
// Message bodies travel in chunks of at most this size.
constexpr int kChunkBytes = 256 * 1024;
constexpr int kHeartbeatMs = 1000;
// A peer that sent nothing (not even a heartbeat) for this long is gone.
constexpr int kPeerSilenceMs = 4000;
constexpr int kNonceBytes = 18;
constexpr int kKeyBytes = 32;
constexpr int kDefaultIterations = 20000;
constexpr int kMinIterations = 4096;
constexpr int kMaxIterations = 1000000;

enum Type : char {
    kHello = 'H',    // server: protocol name and version
    kUser = 'U',     // client: user name, client nonce
    kSalt = 'S',     // server: salt, iterations, combined nonce
    kProof = 'P',    // client: client proof
    kWelcome = 'K',  // server: server signature, session id
    kRefused = 'E',  // server: why the login or relay was refused; the connection closes
    kRequest = 'Q',
    kAnswer = 'A',
    kOpen = 'O',    // client: relay a receiver on this connection
    kData = 'D',    // relayed receiver bytes, both ways
    kNotice = 'N',  // server: system message "<code> <text>"
    kBeat = 'B',
};

QByteArray Frame(char type, const QByteArray& payload);

// Cuts frames out of a byte stream; a length beyond kMaxPayload is a broken peer.
class CFrameReader
{
public:
    enum class Result { Frame, Need, Bad };
    void Append(const QByteArray& bytes) { m_buf.append(bytes); }
    Result Next(char& type, QByteArray& payload);
    qsizetype Buffered() const { return m_buf.size() - m_pos; }

private:
    QByteArray m_buf;
    qsizetype m_pos = 0;
};

// Request and answer payloads: a header line of space-separated, percent-encoded words, then a binary body.
QByteArray Encode(const QString& word);
QString Decode(const QByteArray& word);
QByteArray Pack(const QStringList& words, const QByteArray& body = {});
// False when the payload has no header line.
bool Unpack(const QByteArray& payload, QStringList& words, QByteArray& body);

// SCRAM-style keys: the server keeps StoredKey and ServerKey, which are not enough to log in.
struct ScramKeys
{
    QByteArray storedKey;
    QByteArray serverKey;
    QByteArray clientKey;  // only on the client, never stored
};
ScramKeys DeriveKeys(const QString& password, const QByteArray& salt, int iterations);
QByteArray AuthMessage(const QString& user, const QByteArray& clientNonce, const QByteArray& nonce);
QByteArray ClientProof(const ScramKeys& keys, const QByteArray& authMessage);
bool VerifyProof(const QByteArray& storedKey, const QByteArray& authMessage, const QByteArray& proof);
QByteArray ServerSignature(const QByteArray& serverKey, const QByteArray& authMessage);
QByteArray RandomBytes(int n);

// User and message names: no "/", no line breaks, no control characters, bounded length.
bool IsValidUserName(const QString& name);

}  // namespace ServerWire
