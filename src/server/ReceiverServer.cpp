#include "server/ReceiverServer.h"

#include "server/ClientSession.h"
#include "server/Listener.h"
#include "server/MessageStore.h"
#include "server/ServedReceiver.h"
#include "server/UserStore.h"

#include "link/ServerWire.h"

#include <QFile>
#include <QLoggingCategory>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <QTimer>

#include <unistd.h>

Q_LOGGING_CATEGORY(lcServer, "nemola.server")

namespace {

const QLatin1String kBusy("The server is busy; try again later");

}  // namespace

CReceiverServer::CReceiverServer(ServerConfig config, CUserStore* users, QObject* parent)
    : QObject(parent),
      m_config(std::move(config)),
      m_users(users),
      m_store(std::make_unique<CMessageStore>(m_config.storeDir)),
      m_failures(m_config.limits, m_config.storeDir + QLatin1Char('/') + QLatin1String(kLocksFile)),
      m_saveLocks(new QTimer(this)),
      m_unknownUsers(m_config.storeDir + QLatin1Char('/') + QLatin1String(kUnknownUsersKeyFile))
{
    m_saveLocks->setSingleShot(true);
    connect(m_saveLocks, &QTimer::timeout, this, &CReceiverServer::SaveLocks);
}

CReceiverServer::~CReceiverServer()
{
    for (CClientSession* s : Sessions()) {
        s->disconnect();
        delete s;
    }
    m_sessions.clear();
    SaveLocks();
}

bool CReceiverServer::Start(QString* error)
{
    if (!m_store->Open(error) || !m_unknownUsers.Load(error) || !m_failures.Load(error)) {
        return false;
    }
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
        m_tlsConfig = QSslConfiguration::defaultConfiguration();
        m_tlsConfig.setLocalCertificate(cert);
        m_tlsConfig.setPrivateKey(key);
        m_tlsConfig.setPeerVerifyMode(QSslSocket::VerifyNone);
        m_tls = true;
    }
    m_listener = new CListener(Limits().acceptPauseMs, this);
    connect(m_listener, &CListener::Accepted, this, &CReceiverServer::OnAccepted);
    const QHostAddress host = m_config.listenHost == QLatin1String("localhost") ? QHostAddress(QHostAddress::LocalHost)
                                                                                : QHostAddress(m_config.listenHost);
    QString why = QStringLiteral("not an IP address");
    if (host.isNull() || !m_listener->Listen(host, m_config.listenPort, &why)) {
        *error = QStringLiteral("Can't listen on %1:%2: %3").arg(m_config.listenHost).arg(m_config.listenPort).arg(why);
        return false;
    }
    for (const auto& [name, address] : m_config.receivers) {
        auto* r = new CServedReceiver(name, address, this);
        m_receivers.insert(name, r);
        r->Start();
    }
    qCInfo(lcServer).noquote() << "listening on" << m_config.listenHost << Port() << (m_tls ? "(TLS)" : "");
    return true;
}

quint16 CReceiverServer::Port() const
{
    return m_listener ? m_listener->Port() : 0;
}

QString CReceiverServer::AddressKey(const QHostAddress& address)
{
    bool v4 = false;
    const quint32 ip4 = address.toIPv4Address(&v4);  // also an IPv4 address in IPv6 form
    if (v4) {
        return QHostAddress(ip4).toString();
    }
    Q_IPV6ADDR ip6 = address.toIPv6Address();
    std::fill(std::begin(ip6.c) + 8, std::end(ip6.c), quint8(0));
    return QHostAddress(ip6).toString() + QStringLiteral("/64");
}

QString CReceiverServer::Admission(const QString& address) const
{
    int pending = 0;
    int fromAddress = 0;
    for (const CClientSession* s : m_sessions) {
        if (!s->LoggedIn()) {
            ++pending;
            fromAddress += s->Address() == address ? 1 : 0;
        }
    }
    if (fromAddress >= Limits().maxPendingPerAddress) {
        return QStringLiteral("Too many connections from your address; try again later");
    }
    if (pending >= Limits().maxPendingLogins || m_sessions.size() >= Limits().maxClients) {
        return kBusy;
    }
    return {};
}

void CReceiverServer::OnAccepted(qintptr descriptor, bool lastOne)
{
    QTcpSocket* socket = m_tls ? new QSslSocket(this) : new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        ::close(int(descriptor));
        delete socket;
        return;
    }
    if (m_tls) {
        auto* ssl = static_cast<QSslSocket*>(socket);
        ssl->setSslConfiguration(m_tlsConfig);
        ssl->startServerEncryption();
    }
    const QString address = AddressKey(socket->peerAddress());
    const QString refusal = lastOne ? QString(kBusy) : Admission(address);
    if (!refusal.isEmpty()) {
        TurnAway(socket, refusal);
        return;
    }
    m_sessions.insert(new CClientSession(this, socket, address));
}

void CReceiverServer::TurnAway(QTcpSocket* socket, const QString& why)
{
    // Each of these costs a socket (and over TLS a handshake) until it is gone: beyond a few, no word is said.
    if (m_turnedAway >= Limits().maxTurnedAway) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    ++m_turnedAway;
    connect(socket, &QObject::destroyed, this, [this] { --m_turnedAway; });
    connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QAbstractSocket::errorOccurred, socket, &QObject::deleteLater);
    QTimer::singleShot(Limits().helloTimeoutMs, socket, &QObject::deleteLater);
    const auto say = [socket, text = why.toUtf8()] {
        socket->write(ServerWire::Frame(ServerWire::kRefused, text));
        socket->disconnectFromHost();
    };
    auto* ssl = qobject_cast<QSslSocket*>(socket);
    if (ssl && !ssl->isEncrypted()) {
        connect(ssl, &QSslSocket::encrypted, socket, say);
    } else {
        say();
    }
}

void CReceiverServer::CountFailure(const QString& key)
{
    m_failures.Count(key);
    if (m_failures.Dirty() && !m_saveLocks->isActive()) {
        m_saveLocks->start(kLockSaveDelayMs);
    }
}

void CReceiverServer::SaveLocks()
{
    QString error;
    if (!m_failures.Save(&error)) {
        qCWarning(lcServer).noquote() << "can't keep the login locks:" << error;
    }
}

QByteArray CReceiverServer::Salt(const QString& user) const
{
    const CUserStore::User* u = m_users->Find(user);
    return u ? u->salt : m_unknownUsers.Salt(user);
}

int CReceiverServer::Iterations(const QString& user) const
{
    const CUserStore::User* u = m_users->Find(user);
    return u ? u->iterations : m_unknownUsers.Iterations(user, m_users->IterationCounts(), m_config.iterations);
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
