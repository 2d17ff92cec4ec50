#pragma once

#include "server/ServerConfig.h"

#include <QHash>
#include <QObject>
#include <QSet>

#include <memory>

class CClientSession;
class CMessageStore;
class CServedReceiver;
class CUserStore;
class QTcpServer;

// The receiver server: owns the configured receivers, logs clients in, relays receiver streams and commands,
// and keeps the users' messages. Single-threaded: everything runs on the thread that created it.
class CReceiverServer : public QObject
{
    Q_OBJECT
public:
    // Failed logins per user and address: each one delays the verdict further, up to kMaxLoginDelayMs; from
    // kLockoutFailures on, the pair is refused for kLockoutMs.
    static constexpr int kFirstLoginDelayMs = 250;
    static constexpr int kMaxLoginDelayMs = 8000;
    static constexpr int kLockoutFailures = 10;
    static constexpr int kLockoutMs = 5 * 60 * 1000;
    static constexpr int kLoginTimeoutMs = 10000;
    static constexpr int kMaxClients = 256;

    CReceiverServer(ServerConfig config, CUserStore* users, QObject* parent = nullptr);
    ~CReceiverServer() override;

    // Listens on the configured address; false with `error` set.
    bool Start(QString* error);
    quint16 Port() const;

    // For sessions.
    const ServerConfig& Config() const { return m_config; }
    CUserStore& Users() { return *m_users; }
    CMessageStore& Store() { return *m_store; }
    CServedReceiver* Receiver(const QString& name) const;
    QStringList ReceiverNames() const;
    int LoginDelayMs(const QString& key) const;
    bool LockedOut(const QString& key) const;
    void CountFailure(const QString& key);
    void ClearFailures(const QString& key);
    QByteArray FakeSalt(const QString& user) const;
    // Tells every control session of `user` (code 254 and friends).
    void Notify(const QString& user, int code, const QString& text);
    void Forget(CClientSession* session);
    QList<CClientSession*> Sessions() const { return m_sessions.values(); }

private:
    void OnNewConnection();

    ServerConfig m_config;
    CUserStore* m_users;
    std::unique_ptr<CMessageStore> m_store;
    QTcpServer* m_listener = nullptr;
    QHash<QString, CServedReceiver*> m_receivers;
    QSet<CClientSession*> m_sessions;
    struct Failures
    {
        int count = 0;
        qint64 lastMs = 0;
    };
    QHash<QString, Failures> m_failures;
    QByteArray m_fakeSaltKey;
};
