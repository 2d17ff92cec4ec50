#pragma once

#include <QMetaObject>
#include <QObject>
#include <QString>
#include <QThread>

// A worker object that lives on a thread of its own, as the simulator's servers keep theirs: the owner's calls
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
