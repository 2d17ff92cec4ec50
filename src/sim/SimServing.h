#pragma once

#include "link/InProcessDevice.h"

#include <QByteArray>
#include <QMetaObject>
#include <QObject>
#include <QString>
#include <QThread>

#include <functional>
#include <memory>
#include <mutex>
#include <utility>

// What the simulator's servers (the pty, the TCP server) share to carry a session to its client.

// A session's output, handed from whichever thread the receiver sends on to the server's thread.
struct SimOutbox
{
    std::mutex mutex;
    QByteArray bytes;
    bool dropped = false;
    bool posted = false;  // a take is on its way

    // Takes what has come and whether the session was dropped; the next output posts a take again.
    QByteArray Take(bool* wasDropped)
    {
        std::lock_guard lock(mutex);
        QByteArray out;
        out.swap(bytes);
        *wasDropped = dropped;
        posted = false;
        return out;
    }
};

// A session's sink that collects into `box` and calls `post` (with the box locked) once until the next Take.
// Output after the box is gone is dropped.
inline IInProcessDevice::Sink OutboxSink(const std::shared_ptr<SimOutbox>& box, std::function<void()> post)
{
    std::weak_ptr<SimOutbox> weak = box;
    auto put = [weak, post = std::move(post)](const std::function<void(SimOutbox&)>& change) {
        if (auto b = weak.lock()) {
            std::lock_guard lock(b->mutex);
            change(*b);
            if (!b->posted) {
                b->posted = true;
                post();
            }
        }
    };
    IInProcessDevice::Sink sink;
    sink.output = [put](const QByteArray& bytes) { put([&bytes](SimOutbox& b) { b.bytes += bytes; }); };
    sink.dropped = [put](const QString&) { put([](SimOutbox& b) { b.dropped = true; }); };
    return sink;
}

// A worker object that lives on a thread of its own, as the servers keep theirs: the owner's calls
// run there while the owner waits, so that a caller blocked in a command on the same process does not stall it.
// The worker, and every object it owns, is deleted on that thread as the thread finishes.
template <typename Worker>
class CSimWorkerThread
{
public:
    CSimWorkerThread() = default;
    ~CSimWorkerThread() { Stop(); }
    CSimWorkerThread(const CSimWorkerThread&) = delete;
    CSimWorkerThread& operator=(const CSimWorkerThread&) = delete;

    bool Running() const { return m_thread != nullptr; }

    // Starts the thread named `name` with `worker`, which it owns from then on.
    void Start(const QString& name, Worker* worker)
    {
        m_thread = new QThread;
        m_thread->setObjectName(name);
        m_worker = worker;
        m_worker->moveToThread(m_thread);
        QObject::connect(m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
        m_thread->start();
    }

    // Runs `job` with the worker on its thread and returns once it has run.
    template <typename Job>
    void Call(Job&& job)
    {
        Worker* w = m_worker;
        QMetaObject::invokeMethod(
            w, [w, &job] { job(*w); }, Qt::BlockingQueuedConnection);
    }

    // Has the worker shut down on its thread, then ends the thread.
    void Stop()
    {
        if (!m_thread) {
            return;
        }
        Call([](Worker& w) { w.Shutdown(); });
        m_thread->quit();
        m_thread->wait();
        delete m_thread;
        m_thread = nullptr;
        m_worker = nullptr;
    }

private:
    QThread* m_thread = nullptr;
    Worker* m_worker = nullptr;
};
