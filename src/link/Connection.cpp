#include "link/Connection.h"

#include "link/Profile.h"
#include "link/ReceiverName.h"
#include "link/ServerClient.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

CConnection::CConnection() : m_core(std::make_shared<ConnectionCore>())
{
    m_core->owner = this;
}

CConnection::~CConnection()
{
    std::lock_guard callbackLock(m_core->callbackMutex);
    std::lock_guard lock(m_core->mutex);
    m_core->owner = nullptr;
    m_core->sysMsg = nullptr;
    m_core->attempt = nullptr;
    m_core->open = false;
}

void CConnection::SetSysMsgCallback(SysMsgCallback callback)
{
    std::lock_guard lock(m_core->mutex);
    m_core->sysMsg = std::move(callback);
}

void CConnection::SetLogDetailLevel(int /*level*/)
{
    // The link keeps no trace log of its own; Qt's logging categories serve that purpose.
}

int CConnection::Open(const QString& server, const QString& user, const QString& password,
                      const QString& /*application*/, AttemptCallback attempt)
{
    m_server.reset();
    {
        std::lock_guard lock(m_core->mutex);
        m_core->server = server.trimmed();
        m_core->user = user.trimmed();
        m_core->password = password;
        m_core->attempt = std::move(attempt);
        m_core->msgText.clear();
        m_core->open = m_core->server.isEmpty();
        if (m_core->open) {
            return 1;
        }
    }
    // The session reports through the core, which outlives this connection while anything uses it.
    std::weak_ptr<ConnectionCore> weak = m_core;
    auto client = std::make_unique<CServerClient>(ServerLogin{server.trimmed(), user.trimmed(), password},
                                                  [weak](uint8_t code, const QString& text) {
                                                      if (auto core = weak.lock()) {
                                                          core->PostSystemMessage(code, text);
                                                      }
                                                  });
    QString why;
    if (!client->Open(why)) {
        return Fail(why);
    }
    m_server = std::move(client);
    std::lock_guard lock(m_core->mutex);
    m_core->open = true;
    return 1;
}

void CConnection::Close()
{
    m_server.reset();
    std::lock_guard lock(m_core->mutex);
    m_core->open = false;
}

int CConnection::Fail(const QString& why)
{
    std::lock_guard lock(m_core->mutex);
    m_core->msgText = why;
    return 0;
}

int CConnection::Succeed(const QString& text)
{
    Fail(text);
    return 1;
}

ReceiverAddress CConnection::AddressOf(const QString& receiverName) const
{
    std::lock_guard lock(m_core->mutex);
    if (m_core->server.isEmpty()) {
        return ParseReceiverName(receiverName);
    }
    ReceiverAddress a;
    if (!receiverName.trimmed().isEmpty()) {
        a.kind = ReceiverAddress::Kind::Server;
        a.server = m_core->server;
        a.user = m_core->user;
        a.remoteName = receiverName.trimmed();
    }
    return a;
}

namespace {

QString NotConnected()
{
    return QStringLiteral("Not connected to a receiver server");
}

}  // namespace

int CConnection::GetUsrList(int* count)
{
    if (count) {
        *count = 0;
    }
    if (!m_server) {
        return Fail(NotConnected());
    }
    const auto a = m_server->Request({QStringLiteral("USRLIST")});
    if (!a.ok) {
        return Fail(a.text);
    }
    QString reply = QStringLiteral("USR");
    int n = 0;
    for (const QByteArray& line : a.body.split('\n')) {
        const QString entry = QString::fromUtf8(line);
        const int slash = entry.lastIndexOf(QLatin1Char('/'));
        // The reader takes the name up to the first "/": names that could break it are not passed on.
        if (slash <= 0 || slash + 2 != entry.size() || !ServerWire::IsValidUserName(entry.left(slash))) {
            continue;
        }
        reply += entry + QLatin1Char('\n');
        ++n;
    }
    if (count) {
        *count = n;
    }
    std::lock_guard lock(m_core->mutex);
    m_core->replyString = reply;
    return 1;
}

int CConnection::GetMsgList(std::vector<REMOTE_MSG>& list)
{
    list.clear();
    if (!m_server) {
        return Fail(NotConnected());
    }
    const auto a = m_server->Request({QStringLiteral("MSGLIST")});
    if (!a.ok) {
        return Fail(a.text);
    }
    for (const QByteArray& line : a.body.split('\n')) {
        QStringList w;
        for (const QByteArray& f : line.split(' ')) {
            w.append(ServerWire::Decode(f));
        }
        bool ok = false;
        const qint64 size = w.value(2).toLongLong(&ok);
        if (w.size() != 5 || !ok || size < 0) {
            continue;
        }
        list.push_back(REMOTE_MSG{w[0], w[1], QString::number(size), w[3], w[4]});
    }
    return 1;
}

bool CConnection::SplitMsgText(const QString& text, QString& subject, QString& body)
{
    const int eol = text.indexOf(QLatin1Char('\n'));
    if (eol < 0) {
        return false;
    }
    subject = text.left(eol);
    body = text.mid(eol + 1);
    return true;
}

int CConnection::GetMsg(const QString& name, const QString& folder)
{
    if (!m_server) {
        return Fail(NotConnected());
    }
    if (folder.isEmpty()) {
        const auto a = m_server->Request(
            {QStringLiteral("GETMSG"), name, QStringLiteral("0"), QString::number(kMaxInlineMsg + 1)});
        if (!a.ok) {
            return Fail(a.text);
        }
        bool ok = false;
        const qint64 size = a.words.value(0).toLongLong(&ok);
        if (!ok || size != a.body.size() || size > kMaxInlineMsg) {
            return Fail(QStringLiteral("The message is too long to be shown; save it to a folder"));
        }
        return Succeed(a.words.value(1) + QLatin1Char('\n') + QString::fromUtf8(a.body));
    }
    // The name comes from the server: only its last component is used, so it cannot leave the chosen folder.
    const QString base = QFileInfo(name).fileName();
    if (base.isEmpty() || base == QLatin1String(".") || base == QLatin1String("..") || base != name) {
        return Fail(QStringLiteral("Invalid message name \"%1\"").arg(name));
    }
    return FetchMsg(name, QDir(folder).filePath(base), -1);
}

int CConnection::FetchMsg(const QString& name, const QString& path, qint64 /*size*/)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return Fail(QStringLiteral("Can't write %1: %2").arg(path, file.errorString()));
    }
    qint64 offset = 0;
    qint64 total = -1;
    // Bounded by the size the server announced; each round moves at least one byte or ends.
    for (;;) {
        const auto a = m_server->Request(
            {QStringLiteral("GETMSG"), name, QString::number(offset), QString::number(ServerWire::kChunkBytes)});
        if (!a.ok) {
            file.cancelWriting();
            return Fail(a.text);
        }
        bool ok = false;
        const qint64 size = a.words.value(0).toLongLong(&ok);
        if (!ok || size < 0 || (total >= 0 && size != total) || offset + a.body.size() > size) {
            file.cancelWriting();
            return Fail(QStringLiteral("The server sent a broken message"));
        }
        total = size;
        file.write(a.body);
        offset += a.body.size();
        if (offset == total) {
            break;
        }
        if (a.body.isEmpty()) {
            file.cancelWriting();
            return Fail(QStringLiteral("The server sent a broken message"));
        }
    }
    if (!file.commit()) {
        return Fail(QStringLiteral("Can't write %1: %2").arg(path, file.errorString()));
    }
    return Succeed(QStringLiteral("Saved to %1").arg(path));
}

int CConnection::SetMsg(const QString& user, const QString& subject, const QString& text)
{
    if (!m_server) {
        return Fail(NotConnected());
    }
    const QByteArray body = text.toUtf8();
    if (body.size() > ServerWire::kChunkBytes) {
        return Fail(QStringLiteral("The text is too long; send it as a file"));
    }
    const auto a =
        m_server->Request({QStringLiteral("SEND"), user, subject, QString(), QString::number(body.size())}, body);
    return a.ok ? Succeed(a.text) : Fail(a.text);
}

int CConnection::SetMsg(const QString& user, const QString& subject, const QString& path, ProgressCallback progress)
{
    if (!m_server) {
        return Fail(NotConnected());
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return Fail(QStringLiteral("Can't read %1: %2").arg(path, file.errorString()));
    }
    const qint64 total = file.size();
    QByteArray chunk = file.read(ServerWire::kChunkBytes);
    auto a = m_server->Request(
        {QStringLiteral("SEND"), user, subject, QFileInfo(path).fileName(), QString::number(total)}, chunk);
    if (!a.ok) {
        return Fail(a.text);
    }
    const QString upload = a.words.value(1);
    qint64 done = chunk.size();
    // Each round sends one chunk of the file, so the loop ends with the file.
    while (done < total) {
        if (progress && !progress(done, total)) {
            m_server->Request({QStringLiteral("ABORT"), upload});
            return Fail(QStringLiteral("Aborted by user!"));
        }
        chunk = file.read(ServerWire::kChunkBytes);
        if (chunk.isEmpty()) {
            m_server->Request({QStringLiteral("ABORT"), upload});
            return Fail(QStringLiteral("Can't read %1: the file got shorter").arg(path));
        }
        a = m_server->Request({QStringLiteral("DATA"), upload}, chunk);
        if (!a.ok) {
            return Fail(a.text);
        }
        done += chunk.size();
    }
    if (progress) {
        progress(total, total);
    }
    return Succeed(a.text);
}

std::shared_ptr<CMessageUpload> CConnection::StartSetMsg(const QString& user, const QString& subject,
                                                         const QString& path,
                                                         std::function<void(qint64 done, qint64 total)> progress,
                                                         std::function<void(bool ok, const QString& text)> done)
{
    if (!m_server) {
        Fail(NotConnected());
        return nullptr;
    }
    QString why;
    auto upload = CMessageUpload::Start(*m_server, user, subject, path, std::move(progress), std::move(done), why);
    if (!upload) {
        Fail(why);
    }
    return upload;
}

int CConnection::DeleteMsg(const QString& name)
{
    if (!m_server) {
        return Fail(NotConnected());
    }
    const auto a = m_server->Request({QStringLiteral("DELMSG"), name});
    return a.ok ? 1 : Fail(a.text);
}

bool CConnection::IsOpen() const
{
    std::lock_guard lock(m_core->mutex);
    return m_core->open;
}

void CConnection::SetTimeout(unsigned int timeout)
{
    std::lock_guard lock(m_core->mutex);
    m_core->timeout = timeout;
}

void CConnection::SetStatementRecorder(StatementRecorder recorder)
{
    std::lock_guard lock(m_core->mutex);
    m_core->recorder = std::move(recorder);
}

unsigned int CConnection::GetTimeout() const
{
    std::lock_guard lock(m_core->mutex);
    return m_core->timeout;
}

QStringList CConnection::GetRcvList()
{
    if (!m_server) {
        return {};
    }
    const auto a = m_server->Request({QStringLiteral("RCVLIST")});
    if (!a.ok) {
        Fail(a.text);
        return {};
    }
    QStringList names;
    for (const QByteArray& line : a.body.split('\n')) {
        if (!line.isEmpty()) {
            names.append(QString::fromUtf8(line));
        }
    }
    return names;
}

bool CConnection::isLocalServerConn() const
{
    std::lock_guard lock(m_core->mutex);
    return m_core->server.isEmpty();
}

CProfile* CConnection::getProfile()
{
    return CProfile::Instance();
}

QString CConnection::GetMsgText() const
{
    std::lock_guard lock(m_core->mutex);
    return m_core->msgText;
}

uint8_t CConnection::GetMsgCode() const
{
    std::lock_guard lock(m_core->mutex);
    return m_core->msgCode;
}

QString CConnection::GetReplyString() const
{
    std::lock_guard lock(m_core->mutex);
    return m_core->replyString;
}

std::mutex& CConnection::GetLock()
{
    return m_core->tableLock;
}

QString CConnection::GetPassword() const
{
    std::lock_guard lock(m_core->mutex);
    return m_core->password;
}

void ConnectionCore::PostSystemMessage(uint8_t code, const QString& text)
{
    std::lock_guard callbackLock(callbackMutex);
    CConnection::SysMsgCallback callback;
    CConnection* connection = nullptr;
    {
        std::lock_guard lock(mutex);
        msgCode = code;
        msgText = text;
        callback = sysMsg;
        connection = owner;
    }
    if (callback && connection) {
        callback(connection);
    }
}

bool ConnectionCore::ReportAttempt(uint32_t number)
{
    CConnection::AttemptCallback callback;
    {
        std::lock_guard lock(mutex);
        callback = attempt;
    }
    if (!callback) {
        return false;
    }
    OPEN_ATTEMPT record;
    record.attempt = number;
    return callback(record);
}

int ConnectionCore::TimeoutMs() const
{
    std::lock_guard lock(mutex);
    return static_cast<int>(timeout) * CConnection::kTimeoutUnitMs;
}

bool ConnectionCore::RecordsStatements() const
{
    std::lock_guard lock(mutex);
    return bool(recorder);
}

void ConnectionCore::RecordStatement(const QString& statement)
{
    CConnection::StatementRecorder record;
    {
        std::lock_guard lock(mutex);
        record = recorder;
    }
    if (record) {
        record(statement);
    }
}
