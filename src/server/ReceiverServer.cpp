#include "server/ReceiverServer.h"

#include "server/ClientSession.h"
#include "server/MessageStore.h"
#include "server/ServedReceiver.h"
#include "server/UserStore.h"

#include "link/ServerWire.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QLoggingCategory>
#include <QMessageAuthenticationCode>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QTcpServer>

Q_LOGGING_CATEGORY(lcServer, "nemola.server")

CReceiverServer::CReceiverServer(ServerConfig config, CUserStore* users, QObject* parent)
    : QObject(parent),
      m_config(std::move(config)),
      m_users(users),
      m_store(std::make_unique<CMessageStore>(m_config.storeDir)),
      m_fakeSaltKey(ServerWire::RandomBytes(32))
{
}

CReceiverServer::~CReceiverServer()
{
    for (CClientSession* s : Sessions()) {
        s->disconnect();
        delete s;
    }
    m_sessions.clear();
}

bool CReceiverServer::Start(QString* error)
{
    if (!m_config.certificateFile.isEmpty()) {
        QFile certFile(m_config.certificateFile);
        QFile keyFile(m_config.keyFile);
        if (!certFile.open(QIODevice::ReadOnly) || !keyFile.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("Can't read the certificate or its key");
            return false;
        }
        const QSslCertificate cert(&certFile, QSsl::Pem);
        const QSslKey key(&keyFile, QSsl::Rsa, QSsl::Pem);
        if (cert.isNull() || key.isNull()) {
            *error = QStringLiteral("The certificate or its key is not valid PEM (RSA)");
            return false;
        }
        auto* ssl = new QSslServer(this);
        QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
        conf.setLocalCertificate(cert);
        conf.setPrivateKey(key);
        conf.setPeerVerifyMode(QSslSocket::VerifyNone);
        ssl->setSslConfiguration(conf);
        m_listener = ssl;
    } else {
        m_listener = new QTcpServer(this);
    }
    m_listener->setMaxPendingConnections(kMaxClients);
    // QSslServer announces a connection once the handshake is done; the plain server at once.
    connect(m_listener, &QTcpServer::pendingConnectionAvailable, this, &CReceiverServer::OnNewConnection);
    const QHostAddress host = m_config.listenHost == QLatin1String("localhost") ? QHostAddress(QHostAddress::LocalHost)
                                                                                : QHostAddress(m_config.listenHost);
    if (host.isNull() || !m_listener->listen(host, m_config.listenPort)) {
        *error = QStringLiteral("Can't listen on %1:%2: %3")
                     .arg(m_config.listenHost)
                     .arg(m_config.listenPort)
                     .arg(m_listener->errorString());
        return false;
    }
    for (const auto& [name, address] : m_config.receivers) {
        auto* r = new CServedReceiver(name, address, this);
        m_receivers.insert(name, r);
        r->Start();
    }
    qCInfo(lcServer).noquote() << "listening on" << m_config.listenHost << Port()
                               << (m_config.certificateFile.isEmpty() ? "" : "(TLS)");
    return true;
}

quint16 CReceiverServer::Port() const
{
    return m_listener ? m_listener->serverPort() : 0;
}

void CReceiverServer::OnNewConnection()
{
    while (QTcpSocket* socket = m_listener->nextPendingConnection()) {
        if (m_sessions.size() >= kMaxClients) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        m_sessions.insert(new CClientSession(this, socket));
    }
}

CServedReceiver* CReceiverServer::Receiver(const QString& name) const
{
    return m_receivers.value(name);
}

QStringList CReceiverServer::ReceiverNames() const
{
    QStringList names;
    for (const auto& r : m_config.receivers) {
        names.append(r.first);
    }
    return names;
}

int CReceiverServer::LoginDelayMs(const QString& key) const
{
    const int failures = m_failures.value(key).count;
    return std::min(kMaxLoginDelayMs, kFirstLoginDelayMs << std::min(failures, 10));
}

bool CReceiverServer::LockedOut(const QString& key) const
{
    const auto it = m_failures.constFind(key);
    return it != m_failures.cend() && it->count >= kLockoutFailures &&
           QDateTime::currentMSecsSinceEpoch() - it->lastMs < kLockoutMs;
}

void CReceiverServer::CountFailure(const QString& key)
{
    if (m_failures.size() > 10000) {
        m_failures.clear();  // bounded: a flood of invented names must not fill memory
    }
    Failures& f = m_failures[key];
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (now - f.lastMs > kLockoutMs) {
        f.count = 0;
    }
    ++f.count;
    f.lastMs = now;
}

void CReceiverServer::ClearFailures(const QString& key)
{
    m_failures.remove(key);
}

QByteArray CReceiverServer::FakeSalt(const QString& user) const
{
    return QMessageAuthenticationCode::hash(user.toUtf8(), m_fakeSaltKey, QCryptographicHash::Sha256).left(16);
}

void CReceiverServer::Notify(const QString& user, int code, const QString& text)
{
    for (CClientSession* s : Sessions()) {
        if (s->IsControl() && s->User() == user) {
            s->SendNotice(code, text);
        }
    }
}

void CReceiverServer::Forget(CClientSession* session)
{
    m_sessions.remove(session);
}
