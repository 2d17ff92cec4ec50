#pragma once

#include "sim/SimServing.h"

#include <QHostAddress>
#include <QString>

#include <memory>

class CSimReceiver;
class CSimTcpWorker;

// Serves a simulated receiver on a TCP port: every client is a session on the next free "/dev/tcp/x" port.
// With `login` the client is greeted with "#..." lines and "login:", answers a port letter (or an empty line for
// any free port) and then the password (/par/net/passwd). The server runs on a thread of its own, so that a
// caller blocked in a command on the same process does not stall it.
class CSimTcpServer
{
public:
    static constexpr int kLoginTimeoutMs = 30000;

    CSimTcpServer(std::shared_ptr<CSimReceiver> receiver, bool login);
    ~CSimTcpServer();
    CSimTcpServer(const CSimTcpServer&) = delete;
    CSimTcpServer& operator=(const CSimTcpServer&) = delete;

    // Port 0 takes a free one. Returns false with `error` set when it can't listen.
    bool Listen(const QHostAddress& address, quint16 port, QString* error);
    quint16 Port() const;
    // Stops listening and closes every client.
    void Close();

private:
    std::shared_ptr<CSimReceiver> m_receiver;
    bool m_login;
    CSimWorkerThread<CSimTcpWorker> m_thread;
    quint16 m_port = 0;
};
