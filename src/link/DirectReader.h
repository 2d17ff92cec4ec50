#pragma once

#include <QByteArray>
#include <QString>

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

// Lets the thread that waits for a command's reply read the socket itself, so that a reply reaches its caller
// without waking the I/O thread and then the caller (two wake-ups a command, each slow on a busy or virtual machine).
//
// One thread at a time reads: the holder of the lease. The I/O thread watches `WatchDescriptor()`, an epoll set
// that holds the socket while no caller reads; a caller's lease takes the socket out of that set, so bytes that
// arrive while it waits wake only the caller, and puts it back when the lease ends (a socket with bytes left makes
// the set readable at once, and the I/O thread reads them). Nobody ever blocks to get the lease: a thread that
// does not get it leaves the reading to the one that has it. The bytes must be handled (framed) under the lease
// too, so that they are handled in the order they came.
//
// A run of commands (a script's lines, a batch sent line by line) would take the socket out of the set and put it
// back for every command: two system calls, as much CPU time as sending the command. A caller's lease that is
// part of a run (it began soon after the previous one ended, and was short) leaves the socket out when it ends
// ("parked"), so that the next one need not take it out; a timer in the watch set wakes the I/O thread now and
// then while the run goes on, and it takes the socket back once the run is over (OnWatchWake). Bytes that come
// between the commands of a run are read by the next command, or by the I/O thread within the park time.
//
// A command's reply usually comes within a fraction of a millisecond. Receive() then blocks in the socket's own
// recv() for at most a short slice (the socket's receive time-out) before it falls back to polling the socket
// beside the interrupt descriptor: one send and one recv a command, as a plain blocking client does. A blocked
// recv cannot see the interrupt descriptor, so Interrupt() ends it within the slice; Close() ends it at once by
// shutting the socket's reading side down.
//
// The socket is a duplicate of the transport's descriptor, so its number can never be reused by something else
// while a caller polls it; Close() waits for a lease to end before closing it.
class CDirectReader
{
public:
    struct Timing
    {
        // A caller's lease is part of a run when it began within this time of the previous caller's lease's end
        // and lasted no longer. A thread that waits for a table event (tens of milliseconds) is no run.
        std::chrono::milliseconds runSpacing{2};
        // A parked socket goes back to the I/O thread when no caller leased it for this long.
        std::chrono::milliseconds parkTime{10};
    };
    enum class Status {
        Data,    // bytes were read
        Again,   // nothing there now
        Closed,  // the peer closed the connection
        Error,   // see Error()
    };
    enum class Wake {
        Readable,     // bytes (or the end of the connection) wait
        Interrupted,  // Interrupt() was called
        TimedOut,
        Closing,  // Close() waits for the lease: end it
    };

    CDirectReader();
    explicit CDirectReader(Timing timing);
    ~CDirectReader();
    CDirectReader(const CDirectReader&) = delete;
    CDirectReader& operator=(const CDirectReader&) = delete;

    // I/O thread. Starts reading a duplicate of `fd`; false when the descriptors can't be made. With
    // `refuseLogin` the peer was said to send no greeting: leading "#" lines are dropped, and a login or
    // password prompt before its first other byte fails the link (the command already sent went as the answer).
    bool Open(int fd, bool refuseLogin = false);
    // Any thread. Leases fail from now on; waits for a lease held by another thread to end (Interrupt() ends a
    // caller's wait at once), then closes the descriptors.
    void Close();
    // The descriptor the I/O thread watches for reading, -1 when closed.
    int WatchDescriptor() const;
    // I/O thread, whenever the watch descriptor woke it, before it leases: takes a parked socket back once its run
    // of commands is over.
    void OnWatchWake();

    // Any thread; never blocks. True when this thread now reads alone. A caller's lease (`caller`) takes the
    // socket out of the I/O thread's watch set until it ends.
    bool TryLease(bool caller);
    void EndLease();

    // With the lease: reads at most `max` bytes without waiting, appending them to `into`.
    Status Read(QByteArray& into, qsizetype max);
    // With a caller's lease: waits until the socket is readable, Interrupt() is called or `timeoutMs` passed.
    Wake Wait(int timeoutMs);
    // With a caller's lease: Wait, then Read into `status` when readable. With `mayBlock` the first
    // kMaxBlockingMs (at most) are spent in a blocking recv, which an Interrupt() ends only when that slice ends.
    Wake Receive(QByteArray& into, qsizetype max, int timeoutMs, Status& status, bool mayBlock = true);
    static constexpr int kMaxBlockingMs = 5;
    // Any thread: ends the current Wait at once, or the next one when none runs.
    void Interrupt();
    // Any thread: as Interrupt(), but only while a caller holds the lease (a caller that leases afterwards looks
    // at what it waits for before it waits).
    void InterruptCaller();
    QString Error() const;

private:
    using Clock = std::chrono::steady_clock;
    void CloseDescriptors();
    // With m_mutex held: makes the interrupt descriptor readable.
    void Poke();
    // With the lease: the socket blocks in recv() without MSG_DONTWAIT for at most the slice; false when it
    // can't (then Receive only polls).
    bool PrepareBlocking(int sliceMs);
    Status AfterRecv(QByteArray& into, qsizetype at, ssize_t n);
    // With the lease: the bytes at `at` of `into` are the peer's first, with refuseLogin.
    Status ReadOpening(QByteArray& into, qsizetype at);
    // With m_mutex held: puts the socket back into the watch set.
    void Unpark();
    // With m_mutex held: the hand-back timer fires at `when`.
    void ArmHandBack(Clock::time_point when);

    const Timing m_timing;

    mutable std::mutex m_mutex;
    std::condition_variable m_leaseEnded;
    int m_fd = -1;
    int m_watch = -1;      // epoll set
    int m_interrupt = -1;  // eventfd
    int m_handBack = -1;   // timerfd, in the watch set
    bool m_inWatch = false;
    bool m_handBackArmed = false;
    Clock::time_point m_leaseStart;
    Clock::time_point m_lastCallerEnd;  // of the last caller's lease
    bool m_leased = false;
    bool m_callerLease = false;
    bool m_closed = false;
    // Set with the interrupt descriptor, cleared when a Wait takes it: a blocking Receive must not start then.
    std::atomic<bool> m_poked{false};
    std::thread::id m_holder;
    QString m_error;
    // Read by the lease holder only.
    bool m_refuseLogin = false;  // until the peer's first byte that is no greeting
    bool m_loginRefused = false;
    enum class Blocking { Unknown, Ready, Unable } m_blocking = Blocking::Unknown;
    int m_sliceMs = 0;     // the socket's receive time-out
    QByteArray m_opening;  // bytes held until that is known
};
