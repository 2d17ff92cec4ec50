#include "ServerProcess.h"

#include "link/ServerWire.h"
#include "server/ReceiverServer.h"
#include "server/UserStore.h"

#include <QTcpSocket>

#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <sys/resource.h>
#include <sys/stat.h>
#include <csignal>

CServerProcess::CServerProcess(const QString& receivers, const QString& serverKeys)
{
    QFile conf(m_dir.filePath(QStringLiteral("server.conf")));
    conf.open(QIODevice::WriteOnly);
    conf.write(
        "[server]\nlisten=127.0.0.1:0\niterations=4096\nmax_message_bytes=4194304\n"
        "max_queue_bytes=65536\nsend_buffer_bytes=8192\n" +
        serverKeys.toUtf8() + "[receivers]\nsim=SIM:sim\n" + receivers.toUtf8());
    conf.close();
    for (const char* user : {"alice", "bob", "carol"}) {
        QProcess add;
        add.start(QStringLiteral(NEMOLA_SERVER_BIN),
                  {QStringLiteral("--config"), conf.fileName(), QStringLiteral("--add-user"), QLatin1String(user)});
        add.waitForStarted();
        add.write(QByteArray(user) + "-pw\n");
        add.closeWriteChannel();
        add.waitForFinished(10000);
    }
}

CServerProcess::~CServerProcess()
{
    Kill();
}

bool CServerProcess::Start()
{
    Kill();
    m_process = std::make_unique<QProcess>();
    if (m_fileLimit > 0) {
        m_process->setChildProcessModifier([limit = rlim_t(m_fileLimit)] {
            const rlimit files{limit, limit};
            ::setrlimit(RLIMIT_NOFILE, &files);
        });
    }
    m_process->start(QStringLiteral(NEMOLA_SERVER_BIN),
                     {QStringLiteral("--config"), m_dir.filePath(QStringLiteral("server.conf"))});
    QByteArray out;
    QElapsedTimer clock;
    clock.start();
    while (!out.contains('\n') && clock.elapsed() < 10000 && m_process->state() != QProcess::NotRunning) {
        m_process->waitForReadyRead(200);
        out += m_process->readAllStandardOutput();
    }
    m_log += QString::fromUtf8(m_process->readAllStandardError());
    if (!out.startsWith("port ")) {
        return false;
    }
    m_port = quint16(out.mid(5).trimmed().toUInt());
    return m_port != 0;
}

QString CServerProcess::ReadLog()
{
    if (m_process) {
        // QProcess fills its buffers only while waiting or in an event loop.
        m_process->setReadChannel(QProcess::StandardError);
        m_process->waitForReadyRead(50);
        m_process->setReadChannel(QProcess::StandardOutput);
        m_log += QString::fromUtf8(m_process->readAllStandardError());
    }
    return m_log;
}

void CServerProcess::Signal(int sig)
{
    if (m_process && m_process->state() == QProcess::Running) {
        ::kill(pid_t(m_process->processId()), sig);
    }
}

void CServerProcess::Kill()
{
    if (!m_process) {
        return;
    }
    Signal(SIGCONT);
    m_process->kill();
    m_process->waitForFinished(5000);
    m_log += QString::fromUtf8(m_process->readAllStandardError());
    m_process.reset();
}

bool ServerClient::Open(const QString& address, const QString& user, const QString& password)
{
    connection.SetSysMsgCallback([this](CConnection* c) -> unsigned long {
        const int code = c->GetMsgCode();
        std::lock_guard lock(mutex);
        codes.push_back(code);
        lastCode = code;
        if (code == CConnection::kMsgNewUserMessage) {
            ++newMessages;
        }
        return 1;
    });
    return connection.Open(address, user, password.isEmpty() ? user + QStringLiteral("-pw") : password,
                           QStringLiteral("Nemola-M")) != 0;
}

bool ServerClient::WaitFor(int code, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        {
            std::lock_guard lock(mutex);
            if (std::find(codes.begin(), codes.end(), code) != codes.end()) {
                return true;
            }
        }
        QThread::msleep(20);
    }
    return false;
}

CInProcessServer::CInProcessServer(QList<QPair<QString, QString>> receivers, Adjust adjust)
    : m_receivers(std::move(receivers)), m_adjust(std::move(adjust))
{
    CUserStore users(UsersFile());
    QString error;
    for (const QString& user : {QStringLiteral("alice"), QStringLiteral("bob")}) {
        users.Add(user, user + "-pw", ServerWire::kMinIterations, &error);
    }
    m_thread.start();
    m_context.moveToThread(&m_thread);
    Start();
}

CInProcessServer::~CInProcessServer()
{
    Stop();
    m_thread.quit();
    m_thread.wait();
}

bool CInProcessServer::Start(Adjust adjust)
{
    Stop();
    if (adjust) {
        m_adjust = std::move(adjust);
    }
    bool started = false;
    QMetaObject::invokeMethod(
        &m_context,
        [&] {
            QString error;
            m_users = std::make_unique<CUserStore>(UsersFile());
            ServerConfig config;
            config.listenPort = m_port;  // a restarted server comes back where it was
            config.storeDir = m_dir.filePath("store");
            config.receivers = m_receivers;
            config.maxQueueBytes = 65536;
            config.sendBufferBytes = 8192;
            if (m_adjust) {
                m_adjust(config);
            }
            m_server = std::make_unique<CReceiverServer>(config, m_users.get());
            started = m_users->Load(&error) && m_server->Start(&error);
            m_port = m_server->Port();
        },
        Qt::BlockingQueuedConnection);
    return started;
}

void CInProcessServer::Stop()
{
    QMetaObject::invokeMethod(
        &m_context, [&] { m_server.reset(); }, Qt::BlockingQueuedConnection);
}

QString CInProcessServer::Address() const
{
    return QStringLiteral("127.0.0.1:%1").arg(m_port);
}

int FileMode(const QString& path)
{
    struct stat st = {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
}

bool CPeer::Connect(const QString& address, const QString& from)
{
    const QStringList hp = address.split(QLatin1Char(':'));
    socket.bind(QHostAddress(from));
    socket.connectToHost(hp[0], quint16(hp[1].toUInt()));
    return socket.waitForConnected(3000);
}

void CPeer::Send(char type, const QByteArray& payload)
{
    socket.write(ServerWire::Frame(type, payload));
    socket.flush();
}

CPeer::Got CPeer::Next(int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    Got got;
    for (;;) {
        while (m_reader.Next(got.type, got.payload) == ServerWire::CFrameReader::Result::Frame) {
            seen.append(got.type);
            if (got.type != ServerWire::kBeat && got.type != ServerWire::kNotice) {
                return got;
            }
        }
        const qint64 left = timeoutMs - clock.elapsed();
        if (left <= 0 || (!socket.waitForReadyRead(int(left)) && socket.bytesAvailable() == 0)) {
            return {};
        }
        m_reader.Append(socket.readAll());
    }
}

CPeer::Got CPeer::Login(const QString& user, const QString& password)
{
    Got got = Next();
    if (got.type != ServerWire::kHello) {
        return got;
    }
    const QByteArray cn = ServerWire::RandomBytes(16);
    Send(ServerWire::kUser, ServerWire::Pack({user, QString::fromLatin1(cn.toBase64())}));
    got = Next();
    QStringList w;
    QByteArray body;
    if (got.type != ServerWire::kSalt || !ServerWire::Unpack(got.payload, w, body) || w.size() != 3) {
        return got;
    }
    const QByteArray nonce = QByteArray::fromBase64(w[2].toLatin1());
    const auto keys = ServerWire::DeriveKeys(password, QByteArray::fromBase64(w[0].toLatin1()), w[1].toInt());
    Send(ServerWire::kProof, ServerWire::ClientProof(keys, ServerWire::AuthMessage(user, cn, nonce)).toBase64());
    return Next(20000);
}

bool CPeer::Open(const QString& address, const QString& user, const QString& password, const QString& receiver)
{
    if (!Connect(address) || Login(user, password).type != ServerWire::kWelcome) {
        return false;
    }
    Send(ServerWire::kOpen, ServerWire::Pack({receiver}));
    const Got answer = Next();
    return answer.type == ServerWire::kAnswer && answer.payload.startsWith("OK");
}

QByteArray CPeer::Relayed(const std::function<bool(const QByteArray&)>& enough,
                          const std::function<void(const QByteArray&)>& onData)
{
    QByteArray relayed;
    QElapsedTimer clock;
    clock.start();
    while (!enough(relayed) && clock.elapsed() < 3000) {
        const Got got = Next(100);
        if (got.type == ServerWire::kData) {
            relayed += got.payload;
            if (onData) {
                onData(got.payload);
            }
        }
    }
    return relayed;
}

bool CPeer::ClosedWithin(int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (socket.state() == QAbstractSocket::ConnectedState && clock.elapsed() < timeoutMs) {
        socket.waitForReadyRead(50);
        m_reader.Append(socket.readAll());
    }
    return socket.state() != QAbstractSocket::ConnectedState;
}
