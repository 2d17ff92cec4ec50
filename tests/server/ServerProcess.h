#pragma once

#include "link/Connection.h"
#include "support/SimHarness.h"

#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <atomic>
#include <memory>
#include <vector>

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

// Logs in with a plain blocking socket that reads only what it is told to, and opens `receiver` on it.
bool RawLogin(QTcpSocket& s, const QString& address, const QString& user, const QString& password,
              const QString& receiver);
