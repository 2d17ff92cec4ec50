#pragma once

#include "server/LoginFailures.h"
#include "server/ServerConfig.h"
#include "server/UnknownUsers.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QSslConfiguration>

#include <memory>

class CClientSession;
class CListener;
class CMessageStore;
class CServedReceiver;
class CUserStore;
class QHostAddress;
class QTcpSocket;
class QTimer;

// The receiver server: owns the configured receivers, logs clients in, relays receiver streams and commands,
// and keeps the users' messages. Single-threaded: everything runs on the thread that created it.
class CReceiverServer : public QObject
{
    Q_OBJECT
public:
    // Locks are written at most this often, so that a flood of failures is not a flood of writes.
    static constexpr int kLockSaveDelayMs = 1000;
    // Files of the store beside the mailboxes (user names never begin with a dot).
    static constexpr const char* kUnknownUsersKeyFile = ".unknown-users-key";
    static constexpr const char* kLocksFile = ".login-locks";

    CReceiverServer(ServerConfig config, CUserStore* users, QObject* parent = nullptr);
    ~CReceiverServer() override;

    // Opens the store's keys and locks and listens on the configured address; false with `error` set.
    bool Start(QString* error);
    quint16 Port() const;

    // For sessions.
    const ServerConfig& Config() const { return m_config; }
    const ServerLimits& Limits() const { return m_config.limits; }
    CUserStore& Users() { return *m_users; }
    CMessageStore& Store() { return *m_store; }
    CServedReceiver* Receiver(const QString& name) const;
    QStringList ReceiverNames() const;
    int LoginDelayMs(const QString& key) const { return m_failures.DelayMs(key); }
    bool LockedOut(const QString& key) const { return m_failures.Locked(key); }
    // Counts a wrong proof, and has new locks written soon.
    void CountFailure(const QString& key);
    void ClearFailures(const QString& key) { m_failures.Clear(key); }
    // Salt and iteration count offered for `user`, whether it exists or not.
    QByteArray Salt(const QString& user) const;
    int Iterations(const QString& user) const;
    // Tells every control session of `user` (code 254 and friends).
    void Notify(const QString& user, int code, const QString& text);
    void Forget(CClientSession* session);
    QList<CClientSession*> Sessions() const { return m_sessions.values(); }

    // What the limits count as one address: IPv4 addresses each, IPv6 ones by their /64 network (one site's).
    static QString AddressKey(const QHostAddress& address);

private:
    void OnAccepted(qintptr descriptor, bool lastOne);
    // Why a new connection from `address` is refused, or empty.
    QString Admission(const QString& address) const;
    void TurnAway(QTcpSocket* socket, const QString& why);
    void SaveLocks();

    ServerConfig m_config;
    CUserStore* m_users;
    std::unique_ptr<CMessageStore> m_store;
    CListener* m_listener = nullptr;
    bool m_tls = false;
    QSslConfiguration m_tlsConfig;
    QHash<QString, CServedReceiver*> m_receivers;
    QSet<CClientSession*> m_sessions;
    int m_turnedAway = 0;
    CLoginFailures m_failures;
    QTimer* m_saveLocks;
    CUnknownUsers m_unknownUsers;
};
