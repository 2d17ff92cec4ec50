#include "ServerProcess.h"

#include "link/ServerWire.h"

#include <QTcpSocket>

#include <QElapsedTimer>
#include <QFile>
#include <QThread>

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

bool RawLogin(QTcpSocket& s, const QString& address, const QString& user, const QString& password,
              const QString& receiver)
{
    const QStringList hp = address.split(QLatin1Char(':'));
    s.connectToHost(hp[0], quint16(hp[1].toUInt()));
    if (!s.waitForConnected(3000)) {
        return false;
    }
    ServerWire::CFrameReader reader;
    auto next = [&](char want, QByteArray& payload) {
        char type = 0;
        for (int i = 0; i < 50; ++i) {
            while (reader.Next(type, payload) == ServerWire::CFrameReader::Result::Frame) {
                if (type != ServerWire::kBeat && type != ServerWire::kNotice) {
                    return type == want;
                }
            }
            s.waitForReadyRead(100);
            reader.Append(s.readAll());
        }
        return false;
    };
    QByteArray p;
    QStringList w;
    QByteArray body;
    const QByteArray cn = ServerWire::RandomBytes(16);
    if (!next(ServerWire::kHello, p)) {
        return false;
    }
    s.write(ServerWire::Frame(ServerWire::kUser, ServerWire::Pack({user, QString::fromLatin1(cn.toBase64())})));
    if (!next(ServerWire::kSalt, p) || !ServerWire::Unpack(p, w, body)) {
        return false;
    }
    const QByteArray nonce = QByteArray::fromBase64(w[2].toLatin1());
    const auto keys = ServerWire::DeriveKeys(password, QByteArray::fromBase64(w[0].toLatin1()), w[1].toInt());
    s.write(ServerWire::Frame(ServerWire::kProof,
                              ServerWire::ClientProof(keys, ServerWire::AuthMessage(user, cn, nonce)).toBase64()));
    if (!next(ServerWire::kWelcome, p)) {
        return false;
    }
    s.write(ServerWire::Frame(ServerWire::kOpen, ServerWire::Pack({receiver})));
    return next(ServerWire::kAnswer, p) && p.startsWith("OK");
}
