#include "link/ServerTransport.h"

#include <QFile>
#include <QLoggingCategory>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTimer>

Q_LOGGING_CATEGORY(lcServerLink, "nemola.link.server")

using namespace ServerWire;

bool ParseServerAddress(const QString& server, QString& host, quint16& port, bool& tls)
{
    QString rest = server.trimmed();
    tls = rest.startsWith(QLatin1String("tls://"), Qt::CaseInsensitive);
    if (tls) {
        rest = rest.mid(6);
    }
    const int colon = rest.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0) {
        return false;
    }
    bool ok = false;
    const uint p = rest.mid(colon + 1).toUInt(&ok);
    if (!ok || p == 0 || p > 65535) {
        return false;
    }
    host = rest.left(colon);
    port = quint16(p);
    return true;
}

CServerLink::CServerLink(ServerLogin login, QObject* parent) : QObject(parent), m_login(std::move(login)) {}

CServerLink::~CServerLink()
{
    Close();
}

void CServerLink::Open()
{
    QString host;
    quint16 port = 0;
    bool tls = false;
    if (!ParseServerAddress(m_login.server, host, port, tls)) {
        Fail(QStringLiteral("Invalid server address \"%1\"").arg(m_login.server));
        return;
    }
    auto* socket = new QSslSocket(this);
    m_socket = socket;
    m_tick = new QTimer(this);
    m_tick->setInterval(kHeartbeatMs / 4);
    connect(m_tick, &QTimer::timeout, this, &CServerLink::OnTick);
    connect(socket, &QTcpSocket::readyRead, this, &CServerLink::OnReadyRead);
    connect(socket, &QTcpSocket::disconnected, this, [this] {
        if (m_state == State::Open) {
            m_state = State::Closed;
            emit Lost(QStringLiteral("Link to server %1 lost: the server closed the connection").arg(m_login.server));
        } else {
            Fail(QStringLiteral("Can't connect to server %1: the connection was closed").arg(m_login.server));
        }
    });
    connect(socket, &QAbstractSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) {
        if (m_state != State::Open && m_state != State::Closed) {
            Fail(QStringLiteral("Can't connect to server %1: %2").arg(m_login.server, m_socket->errorString()));
        }
    });
    connect(socket, qOverload<const QList<QSslError>&>(&QSslSocket::sslErrors), this,
            [this](const QList<QSslError>& errors) {
                // Never ignored: a certificate that does not verify ends the connection.
                Fail(QStringLiteral("Can't connect to server %1: %2")
                         .arg(m_login.server, errors.isEmpty() ? QString() : errors.first().errorString()));
            });
    m_state = State::Connecting;
    m_sinceStart.start();
    m_sinceHeard.start();
    m_tick->start();
    if (tls) {
        QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
        const QString caFile = qEnvironmentVariable("NEMOLA_SERVER_CA");
        if (!caFile.isEmpty()) {
            auto cas = conf.caCertificates();
            cas += QSslCertificate::fromPath(caFile);
            conf.setCaCertificates(cas);
        }
        conf.setPeerVerifyMode(QSslSocket::VerifyPeer);
        socket->setSslConfiguration(conf);
        socket->connectToHostEncrypted(host, port);
    } else {
        socket->connectToHost(host, port);
    }
    m_state = State::Hello;
}

void CServerLink::Close()
{
    m_state = State::Closed;
    if (m_tick) {
        m_tick->stop();
    }
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
        m_socket->deleteLater();
        m_socket = nullptr;
    }
}

void CServerLink::Send(char type, const QByteArray& payload)
{
    if (m_socket && m_state != State::Closed) {
        m_socket->write(Frame(type, payload));
    }
}

void CServerLink::Fail(const QString& why)
{
    if (m_state == State::Closed) {
        return;
    }
    const bool wasOpen = m_state == State::Open;
    Close();
    if (wasOpen) {
        emit Lost(why);
    } else {
        emit Failed(why);
    }
}

void CServerLink::OnTick()
{
    if (m_state == State::Open) {
        if (m_sinceHeard.elapsed() > kPeerSilenceMs) {
            Fail(QStringLiteral("Link to server %1 lost: no heartbeat").arg(m_login.server));
            return;
        }
        Send(kBeat, {});
    } else if (m_state != State::Closed && m_sinceStart.elapsed() > kLoginTimeoutMs) {
        Fail(QStringLiteral("Can't connect to server %1: no login in time").arg(m_login.server));
    }
}

void CServerLink::OnReadyRead()
{
    m_sinceHeard.restart();
    m_reader.Append(m_socket->readAll());
    char type = 0;
    QByteArray payload;
    for (;;) {
        const auto r = m_reader.Next(type, payload);
        if (r == CFrameReader::Result::Need) {
            return;
        }
        if (r == CFrameReader::Result::Bad) {
            Fail(QStringLiteral("Link to server %1 lost: the server sent garbage").arg(m_login.server));
            return;
        }
        OnFrame(type, payload);
        if (m_state == State::Closed) {
            return;
        }
    }
}

void CServerLink::OnFrame(char type, const QByteArray& payload)
{
    if (type == kBeat) {
        return;
    }
    if (type == kRefused) {
        Fail(QString::fromUtf8(payload));
        return;
    }
    switch (m_state) {
        case State::Hello:
            if (type != kHello || !payload.startsWith("nemola-server/1")) {
                Fail(QStringLiteral("Can't connect to server %1: not a receiver server").arg(m_login.server));
                return;
            }
            m_clientNonce = RandomBytes(kNonceBytes);
            Send(kUser, Pack({m_login.user, QString::fromLatin1(m_clientNonce.toBase64())}));
            m_state = State::Salt;
            return;
        case State::Salt: {
            QStringList w;
            QByteArray body;
            bool ok = false;
            if (type != kSalt || !Unpack(payload, w, body) || w.size() != 3) {
                Fail(QStringLiteral("Can't connect to server %1: broken login").arg(m_login.server));
                return;
            }
            const QByteArray salt = QByteArray::fromBase64(w[0].toLatin1());
            const int iterations = w[1].toInt(&ok);
            const QByteArray nonce = QByteArray::fromBase64(w[2].toLatin1());
            // The combined nonce must extend ours, and the work factor must be sane, or the server is not honest.
            if (!ok || iterations < kMinIterations || iterations > kMaxIterations || !nonce.startsWith(m_clientNonce) ||
                nonce.size() <= m_clientNonce.size()) {
                Fail(QStringLiteral("Can't connect to server %1: broken login").arg(m_login.server));
                return;
            }
            const ScramKeys keys = DeriveKeys(m_login.password, salt, iterations);
            m_authMessage = AuthMessage(m_login.user, m_clientNonce, nonce);
            m_serverKey = keys.serverKey;
            Send(kProof, ClientProof(keys, m_authMessage).toBase64());
            m_state = State::Welcome;
            m_sinceStart.restart();
            return;
        }
        case State::Welcome: {
            QStringList w;
            QByteArray body;
            if (type != kWelcome || !Unpack(payload, w, body) || w.size() != 2 ||
                QByteArray::fromBase64(w[0].toLatin1()) != ServerSignature(m_serverKey, m_authMessage)) {
                Fail(QStringLiteral("Can't connect to server %1: the server did not prove its identity")
                         .arg(m_login.server));
                return;
            }
            m_sessionId = w[1];
            m_state = State::Open;
            emit LoggedIn();
            return;
        }
        case State::Open:
            emit FrameIn(type, payload);
            return;
        case State::Closed:
        case State::Connecting:
            return;
    }
}

// ---------------------------------------------------------------------------------------------------------------

CServerTransport::CServerTransport(ServerLogin login, QString receiver, QObject* parent)
    : CTransport(parent), m_link(new CServerLink(std::move(login), this)), m_receiver(std::move(receiver))
{
    connect(m_link, &CServerLink::LoggedIn, this, [this] { m_link->Send(kOpen, Pack({m_receiver})); });
    connect(m_link, &CServerLink::Failed, this, [this](const QString& why) {
        if (!m_done) {
            m_done = true;
            emit Failed(why);
        }
    });
    connect(m_link, &CServerLink::Lost, this, [this](const QString& why) {
        if (m_open) {
            m_open = false;
            emit Dropped(why);
        } else if (!m_done) {
            m_done = true;
            emit Failed(why);
        }
    });
    connect(m_link, &CServerLink::FrameIn, this, &CServerTransport::OnFrame);
}

void CServerTransport::Open()
{
    m_link->Open();
}

void CServerTransport::Close()
{
    m_open = false;
    m_done = true;
    m_link->Close();
}

void CServerTransport::Write(const QByteArray& bytes)
{
    for (qsizetype at = 0; at < bytes.size(); at += kChunkBytes) {
        m_link->Send(kData, bytes.mid(at, kChunkBytes));
    }
}

void CServerTransport::OnFrame(char type, const QByteArray& payload)
{
    if (type == kData && m_open) {
        emit Received(payload);
    } else if (type == kAnswer && !m_open && !m_done) {
        QStringList w;
        QByteArray body;
        if (Unpack(payload, w, body) && w.value(0) == QLatin1String("OK")) {
            m_open = true;
            m_done = true;
            emit Opened();
        } else {
            m_done = true;
            emit Failed(w.value(1, QStringLiteral("The server refused the receiver")));
            m_link->Close();
        }
    } else if (type == kNotice && payload.startsWith("247 ") && m_open) {
        m_open = false;
        m_receiverLost = true;
        emit Dropped(QString::fromUtf8(payload.mid(4)));
        m_link->Close();
    }
}
