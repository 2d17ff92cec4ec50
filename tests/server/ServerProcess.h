#pragma once

#include "link/Connection.h"
#include "link/ServerWire.h"
#include "server/ServerConfig.h"
#include "support/SimHarness.h"

#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

class CReceiverServer;
class CUserStore;

// A real nemola-server process on 127.0.0.1 (a free port), with a private store and users alice, bob and carol
// (passwords "<name>-pw"), serving the in-process simulator "sim" and any extra receivers given.
class CServerProcess
{
public:
    // `receivers` adds lines to [receivers], `serverKeys` to [server].
    explicit CServerProcess(const QString& receivers = {}, const QString& serverKeys = {});
    ~CServerProcess();
    bool Start();
    void Kill();
    void Signal(int sig);
    // The descriptors the next Start's process may open.
    void SetFileLimit(int files) { m_fileLimit = files; }
    qint64 Pid() const { return m_process ? m_process->processId() : 0; }
    QString Address() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }
    QString Dir() const { return m_dir.path(); }
    QString Log() const { return m_log; }
    // Takes what the server logged so far.
    QString ReadLog();

private:
    QTemporaryDir m_dir;
    std::unique_ptr<QProcess> m_process;
    quint16 m_port = 0;
    QString m_log;
    int m_fileLimit = 0;
};

// A server core on a thread of its own, so that the test's thread may block in client calls, with users alice and
// bob (passwords "<name>-pw") in a private store. Stop and Start again make a restarted server on the same store.
class CInProcessServer
{
public:
    using Adjust = std::function<void(ServerConfig&)>;
    explicit CInProcessServer(QList<QPair<QString, QString>> receivers = {}, Adjust adjust = {});
    CInProcessServer(const QString& name, const QString& address) : CInProcessServer({{name, address}}) {}
    ~CInProcessServer();
    // Loads the users file and starts; `adjust` (when given) replaces the one before.
    bool Start(Adjust adjust = {});
    void Stop();
    QString Address() const;
    QString Dir() const { return m_dir.path(); }
    QString UsersFile() const { return m_dir.filePath(QStringLiteral("users")); }

private:
    QTemporaryDir m_dir;
    QList<QPair<QString, QString>> m_receivers;
    Adjust m_adjust;
    quint16 m_port = 0;
    QThread m_thread;
    QObject m_context;
    std::unique_ptr<CUserStore> m_users;
    std::unique_ptr<CReceiverServer> m_server;
};

// A CConnection to the server that counts the system messages it gets.
struct ServerClient
{
    CConnection connection;
    std::atomic<int> lastCode{0};
    std::atomic<int> newMessages{0};
    std::vector<int> codes;
    std::mutex mutex;
    bool Open(const QString& address, const QString& user, const QString& password = {});
    // Waits (bounded) until a system message with `code` came.
    bool WaitFor(int code, int timeoutMs);
};

// A file's permission bits, or -1.
int FileMode(const QString& path);

// A client that speaks frames over a blocking socket and reads only what it is asked to.
class CPeer
{
public:
    struct Got
    {
        char type = 0;  // none came: quiet or closed
        QByteArray payload;
    };
    // To "host:port", from a loopback address of its own choosing.
    bool Connect(const QString& address, const QString& from = QStringLiteral("127.0.0.1"));
    void Send(char type, const QByteArray& payload);
    // The next frame other than heartbeats and notices, within `timeoutMs`.
    Got Next(int timeoutMs = 5000);
    // Logs in up to the answer to the proof: a welcome, or a refusal with why.
    Got Login(const QString& user, const QString& password);
    // Logs in and opens `receiver`.
    bool Open(const QString& address, const QString& user, const QString& password, const QString& receiver);
    // Relayed receiver bytes until `enough` says so (bounded); `onData` may answer each piece.
    QByteArray Relayed(const std::function<bool(const QByteArray&)>& enough,
                       const std::function<void(const QByteArray&)>& onData = {});
    // Whether the server closed the connection within `timeoutMs`.
    bool ClosedWithin(int timeoutMs);

    QTcpSocket socket;
    QByteArray seen;  // the type of every frame read

private:
    ServerWire::CFrameReader m_reader;
};
