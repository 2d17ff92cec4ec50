#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

class QObject;

// Carries raw receiver output from the link's I/O thread to the terminal on the GUI thread. The link thread only
// tries the output lock and gives up at once when it is held: such a chunk is lost, neither shown nor logged.
// Nothing here touches a widget; the chunk reaches the handler through a queued call on the target's thread.
class CRawOutputGate : public std::enable_shared_from_this<CRawOutputGate>
{
public:
    // Runs on the target's thread with the chunk's bytes and its display text (FilterRawOutput).
    using Handler = std::function<void(const QByteArray& bytes, const QString& display)>;

    // From the GUI thread: where chunks go from now on. A null target closes the gate; when this returns, no
    // further chunk is handed over.
    void SetTarget(QObject* target, Handler handler);
    // While off, chunks are dropped (e.g. while the window is used as an editor).
    void SetAccepting(bool accepting) { m_accepting = accepting; }

    // The callback for CReceiver::SendCommand; it keeps the gate alive for as long as the link holds it.
    std::function<void(const char*, int)> Callback();

    // Called by the link with a chunk of raw output.
    void Deliver(const char* data, int length);

    std::mutex& OutputLock() { return m_lock; }
    // Chunks lost because the lock was held.
    int DroppedChunks() const { return m_dropped; }

private:
    std::mutex m_lock;
    QObject* m_target = nullptr;
    Handler m_handler;
    std::atomic<bool> m_accepting{true};
    std::atomic<int> m_dropped{0};
};
