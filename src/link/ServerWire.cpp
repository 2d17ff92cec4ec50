#include "link/ServerWire.h"

#include <QCryptographicHash>
#include <QMessageAuthenticationCode>
#include <QPasswordDigestor>
#include <QRandomGenerator>
#include <QUrl>
#include <QtEndian>

namespace ServerWire {

QByteArray Frame(char type, const QByteArray& payload)
{
    QByteArray out;
    out.reserve(kHeaderSize + payload.size());
    out.append(type);
    char len[4];
    qToBigEndian<quint32>(quint32(payload.size()), len);
    out.append(len, 4);
    out.append(payload);
    return out;
}

CFrameReader::Result CFrameReader::Next(char& type, QByteArray& payload)
{
    if (m_buf.size() - m_pos < kHeaderSize) {
        return Result::Need;
    }
    const quint32 len = qFromBigEndian<quint32>(m_buf.constData() + m_pos + 1);
    if (len > quint32(kMaxPayload)) {
        return Result::Bad;
    }
    if (m_buf.size() - m_pos < kHeaderSize + qsizetype(len)) {
        return Result::Need;
    }
    type = m_buf.at(m_pos);
    payload = m_buf.mid(m_pos + kHeaderSize, len);
    m_pos += kHeaderSize + len;
    if (m_pos == m_buf.size()) {
        m_buf.clear();
        m_pos = 0;
    } else if (m_pos > 64 * 1024) {
        m_buf.remove(0, m_pos);
        m_pos = 0;
    }
    return Result::Frame;
}

QByteArray Encode(const QString& word)
{
    // An empty word still takes its place in the header.
    return word.isEmpty() ? QByteArray("%") : QUrl::toPercentEncoding(word);
}

QString Decode(const QByteArray& word)
{
    return word == "%" ? QString() : QUrl::fromPercentEncoding(word);
}

QByteArray Pack(const QStringList& words, const QByteArray& body)
{
    QByteArray out;
    for (const QString& w : words) {
        if (!out.isEmpty()) {
            out.append(' ');
        }
        out.append(Encode(w));
    }
    out.append('\n');
    out.append(body);
    return out;
}

bool Unpack(const QByteArray& payload, QStringList& words, QByteArray& body)
{
    const qsizetype eol = payload.indexOf('\n');
    if (eol < 0) {
        return false;
    }
    words.clear();
    for (const QByteArray& w : payload.left(eol).split(' ')) {
        if (!w.isEmpty()) {
            words.append(Decode(w));
        }
    }
    body = payload.mid(eol + 1);
    return true;
}

static QByteArray Hmac(const QByteArray& key, const QByteArray& text)
{
    return QMessageAuthenticationCode::hash(text, key, QCryptographicHash::Sha256);
}

ScramKeys DeriveKeys(const QString& password, const QByteArray& salt, int iterations)
{
    const QByteArray salted =
        QPasswordDigestor::deriveKeyPbkdf2(QCryptographicHash::Sha256, password.toUtf8(), salt, iterations, kKeyBytes);
    ScramKeys k;
    k.clientKey = Hmac(salted, "Client Key");
    k.storedKey = QCryptographicHash::hash(k.clientKey, QCryptographicHash::Sha256);
    k.serverKey = Hmac(salted, "Server Key");
    return k;
}

QByteArray AuthMessage(const QString& user, const QByteArray& clientNonce, const QByteArray& nonce)
{
    return user.toUtf8() + ',' + clientNonce.toBase64() + ',' + nonce.toBase64();
}

static QByteArray Xor(const QByteArray& a, const QByteArray& b)
{
    QByteArray out(a.size(), '\0');
    for (qsizetype i = 0; i < a.size() && i < b.size(); ++i) {
        out[i] = char(a[i] ^ b[i]);
    }
    return out;
}

QByteArray ClientProof(const ScramKeys& keys, const QByteArray& authMessage)
{
    return Xor(keys.clientKey, Hmac(keys.storedKey, authMessage));
}

bool VerifyProof(const QByteArray& storedKey, const QByteArray& authMessage, const QByteArray& proof)
{
    if (proof.size() != kKeyBytes || storedKey.size() != kKeyBytes) {
        return false;
    }
    const QByteArray clientKey = Xor(proof, Hmac(storedKey, authMessage));
    const QByteArray check = QCryptographicHash::hash(clientKey, QCryptographicHash::Sha256);
    // Compared without an early exit, so that timing says nothing about the stored key.
    char diff = 0;
    for (int i = 0; i < kKeyBytes; ++i) {
        diff |= char(check[i] ^ storedKey[i]);
    }
    return diff == 0;
}

QByteArray ServerSignature(const QByteArray& serverKey, const QByteArray& authMessage)
{
    return Hmac(serverKey, authMessage);
}

QByteArray RandomBytes(int n)
{
    QByteArray out(n, '\0');
    auto* gen = QRandomGenerator::system();
    for (int i = 0; i < n; ++i) {
        out[i] = char(gen->bounded(256));
    }
    return out;
}

bool IsValidUserName(const QString& name)
{
    if (name.isEmpty() || name.size() > 63 || name.startsWith(QLatin1Char('.'))) {
        return false;
    }
    for (const QChar c : name) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c == QLatin1Char(':') || c.unicode() < 0x20 ||
            c == QChar(0x7F) || c.isSpace()) {
            return false;
        }
    }
    return true;
}

}  // namespace ServerWire
