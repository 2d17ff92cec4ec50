#include "sim/SimTcpServer.h"

#include "sim/SimCommands.h"
#include "sim/Simulator.h"

#include <QLoggingCategory>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <map>
#include <mutex>

Q_DECLARE_LOGGING_CATEGORY(lcSim)

namespace {

constexpr int kMaxLoginLine = 64;

}  // namespace

class CSimTcpWorker : public QObject
{
public:
    CSimTcpWorker(std::shared_ptr<CSimReceiver> receiver, bool login) : m_receiver(std::move(receiver)), m_login(login)
    {
    }

    bool Listen(const QHostAddress& address, quint16 port, QString* error, quint16* bound);
    void Shutdown();

private:
    enum class State { Login, Password, Open };
    struct Client
    {
        int id = 0;
        QTcpSocket* socket = nullptr;
        State state = State::Open;
        QByteArray line;
        bool lastWasCr = false;
        QString port;
        std::shared_ptr<SimOutbox> outbox = std::make_shared<SimOutbox>();
        std::unique_ptr<IDeviceSession> session;
    };

    void OnNewConnection();
    void OnReadyRead(int id);
    void HandleLoginLine(Client& c, const QByteArray& line);
    bool StartSession(Client& c);
    void Drain(int id);
    void CloseClient(int id, bool flush);
    Client* FindClient(int id);

    std::shared_ptr<CSimReceiver> m_receiver;
    bool m_login;
    QTcpServer* m_server = nullptr;
    std::map<int, std::unique_ptr<Client>> m_clients;
    int m_nextId = 1;
};

bool CSimTcpWorker::Listen(const QHostAddress& address, quint16 port, QString* error, quint16* bound)
{
    if (!m_server) {
        m_server = new QTcpServer(this);
        connect(m_server, &QTcpServer::newConnection, this, &CSimTcpWorker::OnNewConnection);
    }
    if (!m_server->listen(address, port)) {
        *error = m_server->errorString();
        return false;
    }
    *bound = m_server->serverPort();
    return true;
}

void CSimTcpWorker::Shutdown()
{
    if (m_server) {
        m_server->close();
    }
    while (!m_clients.empty()) {
        CloseClient(m_clients.begin()->first, false);
    }
}

CSimTcpWorker::Client* CSimTcpWorker::FindClient(int id)
{
    auto it = m_clients.find(id);
    return it == m_clients.end() ? nullptr : it->second.get();
}

void CSimTcpWorker::OnNewConnection()
{
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        auto client = std::make_unique<Client>();
        Client& c = *client;
        c.id = m_nextId++;
        c.socket = socket;
        socket->setParent(this);
        // An epoch goes out as it is made, not held back to fill a segment.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        const int id = c.id;
        m_clients[id] = std::move(client);
        connect(socket, &QTcpSocket::readyRead, this, [this, id] { OnReadyRead(id); });
        connect(socket, &QTcpSocket::disconnected, this, [this, id] { CloseClient(id, false); });
        if (m_login) {
            c.state = State::Login;
            const QString model = m_receiver->Param(QStringLiteral("/par/rcv/model"));
            socket->write(QStringLiteral("#Simulated GNSS receiver %1\r\n#Answer a port letter (a-e) or an empty "
                                         "line\r\nlogin: ")
                              .arg(model)
                              .toLatin1());
            QTimer::singleShot(CSimTcpServer::kLoginTimeoutMs, this, [this, id] {
                Client* late = FindClient(id);
                if (late && late->state != State::Open) {
                    CloseClient(id, true);
                }
            });
        } else if (!StartSession(c)) {
            CloseClient(id, true);
        }
    }
}

bool CSimTcpWorker::StartSession(Client& c)
{
    if (c.port.isEmpty()) {
        c.port = m_receiver->FreePort(QStringLiteral("tcp"));
    }
    QPointer<CSimTcpWorker> self(this);
    const int id = c.id;
    IInProcessDevice::Sink sink = OutboxSink(c.outbox, [self, id] {
        if (self) {
            QMetaObject::invokeMethod(
                self.data(),
                [self, id] {
                    if (self) {
                        self->Drain(id);
                    }
                },
                Qt::QueuedConnection);
        }
    });
    QString error;
    c.session = c.port.isEmpty() ? nullptr : m_receiver->OpenSessionOn(c.port, std::move(sink), &error);
    if (!c.session) {
        if (error.isEmpty()) {
            error = QStringLiteral("no free TCP port");
        }
        qCInfo(lcSim) << "TCP client refused:" << error;
        c.socket->write(ReplyFrames("ER", "{2,," + error.toLatin1() + "}"));
        return false;
    }
    c.state = State::Open;
    return true;
}

void CSimTcpWorker::OnReadyRead(int id)
{
    Client* c = FindClient(id);
    if (!c) {
        return;
    }
    QByteArray bytes = c->socket->readAll();
    while (c->state != State::Open && !bytes.isEmpty()) {
        const char ch = bytes[0];
        bytes.remove(0, 1);
        if (ch == '\n' && c->lastWasCr) {
            c->lastWasCr = false;
            continue;
        }
        c->lastWasCr = ch == '\r';
        if (ch == '\r' || ch == '\n') {
            const QByteArray line = c->line;
            c->line.clear();
            HandleLoginLine(*c, line);
            c = FindClient(id);
            if (!c) {
                return;
            }
        } else if (c->line.size() < kMaxLoginLine) {
            c->line.append(ch);
        }
    }
    if (c->state == State::Open && c->session && !bytes.isEmpty()) {
        // What the receiver answers while it takes these bytes goes out right after them, not a pass of the event
        // loop later: a download waits for each block.
        {
            std::lock_guard lock(c->outbox->mutex);
            c->outbox->posted = true;
        }
        c->session->Write(bytes);
        Drain(id);
    }
}

void CSimTcpWorker::HandleLoginLine(Client& c, const QByteArray& rawLine)
{
    const QByteArray line = rawLine.trimmed();
    if (c.state == State::Login) {
        if (line.isEmpty()) {
            c.port.clear();
        } else if (line.size() == 1 && line[0] >= 'a' && line[0] <= 'e') {
            c.port = QStringLiteral("/dev/tcp/") + QLatin1Char(line[0]);
        } else {
            c.socket->write(ReplyFrames("ER", "{2,,wrong port}"));
            CloseClient(c.id, true);
            return;
        }
        c.state = State::Password;
        c.socket->write("password: ");
        return;
    }
    // The password.
    if (QString::fromLatin1(line) != m_receiver->Param(QStringLiteral("/par/net/passwd"))) {
        c.socket->write(ReplyFrames("ER", "{3,,wrong password}"));
        CloseClient(c.id, true);
        return;
    }
    if (!StartSession(c)) {
        CloseClient(c.id, true);
        return;
    }
    c.socket->write(ReplyFrames("RE", "%Logged in on " + c.port.toLatin1() + '%'));
}

void CSimTcpWorker::Drain(int id)
{
    Client* c = FindClient(id);
    if (!c) {
        return;
    }
    bool dropped = false;
    const QByteArray bytes = c->outbox->Take(&dropped);
    if (!bytes.isEmpty()) {
        c->socket->write(bytes);
        c->socket->flush();
    }
    if (dropped) {
        CloseClient(id, true);
    }
}

void CSimTcpWorker::CloseClient(int id, bool flush)
{
    auto it = m_clients.find(id);
    if (it == m_clients.end()) {
        return;
    }
    std::unique_ptr<Client> c = std::move(it->second);
    m_clients.erase(it);
    // The session goes first: from then on its sink is never called.
    c->session.reset();
    c->socket->disconnect(this);
    if (flush && c->socket->state() == QAbstractSocket::ConnectedState) {
        c->socket->flush();
        c->socket->disconnectFromHost();
    } else {
        c->socket->abort();
    }
    c->socket->deleteLater();
}

// ---------------------------------------------------------------------------------------------------------------

CSimTcpServer::CSimTcpServer(std::shared_ptr<CSimReceiver> receiver, bool login)
    : m_receiver(std::move(receiver)), m_login(login)
{
}

CSimTcpServer::~CSimTcpServer()
{
    Close();
}

bool CSimTcpServer::Listen(const QHostAddress& address, quint16 port, QString* error)
{
    if (!m_thread.Running()) {
        m_thread.Start(QStringLiteral("sim tcp"), new CSimTcpWorker(m_receiver, m_login));
    }
    bool ok = false;
    QString why;
    quint16 bound = 0;
    m_thread.Call([&](CSimTcpWorker& w) { ok = w.Listen(address, port, &why, &bound); });
    if (!ok) {
        if (error) {
            *error = why;
        }
        return false;
    }
    m_port = bound;
    return true;
}

quint16 CSimTcpServer::Port() const
{
    return m_port;
}

void CSimTcpServer::Close()
{
    m_thread.Stop();
    m_port = 0;
}
