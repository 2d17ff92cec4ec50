#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <mutex>

// Writes to a connected socket from any thread, so that a command leaves from the thread that sends it instead of
// waiting for a pass of the I/O thread's event loop (a thread hop and a wake-up per command).
//
// The transport's QTcpSocket lives on the I/O thread and keeps reading; this writer has a duplicate of its
// descriptor and touches no QObject. The duplicate is ours, so the descriptor number can never be reused by
// something else while a write is under way; it is closed under the lock, before the socket is. Every write after
// the link opened goes through here, also those of the I/O thread, so the bytes leave in the order they were
// written: what the kernel does not take at once waits here, and later writes queue behind it until the I/O
// thread, woken by `wake`, writes it out when the socket can take more.
class CDirectWriter
{
public:
    enum class Result {
        Written,  // the kernel took every byte
        Queued,   // some bytes wait for the I/O thread
        Closed,   // nothing written: the writer is not open (the caller writes through the I/O thread)
    };

    CDirectWriter() = default;
    ~CDirectWriter();
    CDirectWriter(const CDirectWriter&) = delete;
    CDirectWriter& operator=(const CDirectWriter&) = delete;

    // I/O thread. Starts writing on a duplicate of `fd`; `wake` is called (with the writer's lock held, so it must
    // only post) when bytes start waiting or a write failed. False when the descriptor can't be duplicated.
    bool Open(int fd, std::function<void()> wake);
    // I/O thread. No more writes; bytes still waiting are dropped (the link is closing or lost).
    void Close();
    // The duplicate descriptor, -1 when closed (for the I/O thread's write notifier).
    int Descriptor() const;

    // Any thread.
    Result Write(const QByteArray& bytes);
    // I/O thread, when the socket can take more: writes what waits. True when nothing waits any more.
    bool WritePending();
    // Why a write failed, empty while none did. A failed writer drops what it is given: the link is lost.
    QString Error() const;

private:
    // With `m_mutex` held: sends from `m_pending`; false on a failure other than a full socket.
    bool SendPending();

    mutable std::mutex m_mutex;
    int m_fd = -1;
    QByteArray m_pending;
    QString m_error;
    std::function<void()> m_wake;
};
