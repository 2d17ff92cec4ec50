#pragma once

#include <condition_variable>
#include <mutex>

// An auto-reset event: Set() wakes one Wait(), and the event is cleared when a waiter takes it.
class CAutoResetEvent
{
public:
    void Set()
    {
        {
            std::lock_guard lock(m_mutex);
            m_signalled = true;
        }
        m_cv.notify_one();
    }

    // Takes the event when it is set, without waiting.
    bool TryTake()
    {
        std::lock_guard lock(m_mutex);
        const bool was = m_signalled;
        m_signalled = false;
        return was;
    }

    // Returns true when woken by Set(), false when the time ran out.
    bool Wait(int timeoutMs)
    {
        std::unique_lock lock(m_mutex);
        const bool woken =
            m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_signalled; });
        m_signalled = false;
        return woken;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_signalled = false;
};
