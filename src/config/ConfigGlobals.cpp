#include "config/ConfigGlobals.h"

IConfigSheet* g_configSheet = nullptr;
CMessageBuffer g_pgMessage;
std::atomic<float> g_lastOutputPeriod{0.0f};
CConfigPage* g_positionPage = nullptr;
CConfigPage* g_roverPage = nullptr;

void CMessageBuffer::Store(const char* body, int length)
{
    std::lock_guard lock(m_mutex);
    if (body && length > 0) {
        m_body = QByteArray(body, length);
    } else {
        m_body.clear();
    }
}

QByteArray CMessageBuffer::Body() const
{
    std::lock_guard lock(m_mutex);
    return m_body;
}

void CMessageBuffer::Clear()
{
    std::lock_guard lock(m_mutex);
    m_body.clear();
}
