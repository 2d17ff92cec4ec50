#include "link/Connection.h"

#include "link/Profile.h"

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

int CConnection::Open(const QString& server, const QString& /*user*/, const QString& password,
                      const QString& /*application*/, AttemptCallback attempt)
{
    std::lock_guard lock(m_core->mutex);
    m_core->server = server.trimmed();
    m_core->password = password;
    m_core->attempt = std::move(attempt);
    if (!m_core->server.isEmpty()) {
        // Receiver servers are reached through their own transport, which is not part of this build yet.
        m_core->msgText = QStringLiteral("Can't connect to server %1: receiver servers are not supported")
                              .arg(m_core->server);
        m_core->open = false;
        return 0;
    }
    m_core->msgText.clear();
    m_core->open = true;
    return 1;
}

void CConnection::Close()
{
    std::lock_guard lock(m_core->mutex);
    m_core->open = false;
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
    return {};
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
