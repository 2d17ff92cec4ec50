#include "manual/RawOutputGate.h"

#include "manual/TerminalOutput.h"

#include <QMetaObject>
#include <QObject>

void CRawOutputGate::SetTarget(QObject* target, Handler handler)
{
    // The link thread never waits for this thread while it holds the lock, so a plain wait is enough here.
    std::lock_guard lock(m_lock);
    m_target = target;
    m_handler = target ? std::move(handler) : Handler();
}

std::function<void(const char*, int)> CRawOutputGate::Callback()
{
    return [gate = shared_from_this()](const char* data, int length) { gate->Deliver(data, length); };
}

void CRawOutputGate::Deliver(const char* data, int length)
{
    if (!data || length <= 0) {
        return;
    }
    std::unique_lock lock(m_lock, std::try_to_lock);
    if (!lock.owns_lock()) {
        ++m_dropped;
        return;
    }
    if (!m_target || !m_accepting) {
        return;
    }
    QByteArray bytes(data, length);
    QString display = FilterRawOutput(data, length);
    // Posted while the lock is held, so the target cannot go away in between; a call still queued when the
    // target is deleted is discarded with it.
    QMetaObject::invokeMethod(
        m_target,
        [handler = m_handler, bytes = std::move(bytes), display = std::move(display)] { handler(bytes, display); },
        Qt::QueuedConnection);
}
