#include "app/EpochDispatcher.h"

#include "app/MessageTable.h"

CEpochDispatcher::CEpochDispatcher()
    : m_table(BuildMessageTable([this](const QByteArray& message) { Decode(message); }))
{
    m_copies.resize(m_table.size());
}

void CEpochDispatcher::ArmEvent(std::mutex& lock)
{
    std::lock_guard guard(lock);
    m_table.front().event = &m_event;
}

void CEpochDispatcher::DisarmEvent(std::mutex& lock)
{
    std::lock_guard guard(lock);
    m_table.front().event = nullptr;
}

CEpochDispatcher::Result CEpochDispatcher::TakeEpoch(std::mutex& lock, const std::atomic<bool>* running)
{
    int count = 0;
    {
        std::lock_guard guard(lock);
        for (size_t i = 0; i < m_table.size() && m_table[i].id != 0; ++i) {
            m_copies[i].clear();
            if (!m_table[i].buffer.isEmpty()) {
                m_copies[i].swap(m_table[i].buffer);
                ++count;
            }
        }
    }
    m_lastCount = count;
    if (count <= kSparseTypes) {
        m_state.Reset();
        m_state.SetNoData(true);
        return Result::NoData;
    }
    for (size_t i = 0; i < m_table.size() && m_table[i].id != 0; ++i) {
        if (m_copies[i].isEmpty() || !m_table[i].handler) {
            continue;
        }
        ForEachMessage(m_copies[i], [&](const QByteArray& message) {
            if (!running || running->load()) {
                m_table[i].handler(message);
            }
        });
    }
    return Result::Dispatched;
}

void CEpochDispatcher::OnTimeout()
{
    m_lastCount = 0;
    m_state.Reset();
    m_state.SetNoData(true);
}

void CEpochDispatcher::Clear(std::mutex& lock)
{
    {
        std::lock_guard guard(lock);
        for (GPSDATA& entry : m_table) {
            entry.buffer.clear();
        }
    }
    OnTimeout();
}

void CEpochDispatcher::Feed(const QByteArray& message)
{
    if (message.size() < 2) {
        return;
    }
    const uint16_t id = MsgId(message[0], message[1]);
    for (GPSDATA& entry : m_table) {
        if (entry.id == 0) {
            return;
        }
        if (entry.id == id) {
            KeepMessage(entry, message);
            return;
        }
    }
}

void CEpochDispatcher::Decode(const QByteArray& message)
{
    if (message.size() >= 5 && MsgId(message[0], message[1]) == MsgId('S', 'E')) {
        // Kept for the tools that read it; nothing shows it.
        m_se = message.mid(5, kSeKeep);
        return;
    }
    m_state.Decode(message);
}
