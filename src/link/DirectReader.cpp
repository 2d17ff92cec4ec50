#include "link/DirectReader.h"

#include "link/Opening.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <unistd.h>

CDirectReader::CDirectReader() : m_timing(Timing{}) {}

CDirectReader::CDirectReader(Timing timing) : m_timing(timing) {}

CDirectReader::~CDirectReader()
{
    Close();
}

namespace {

// More than this before the first byte that is no greeting: it is the peer's output after all.
constexpr qsizetype kMaxOpening = 16 * 1024;

}  // namespace

bool CDirectReader::Open(int fd, bool refuseLogin)
{
    m_refuseLogin = refuseLogin;
    m_loginRefused = false;
    m_opening.clear();
    m_blocking = Blocking::Unknown;
    std::lock_guard lock(m_mutex);
    if (m_fd >= 0 || fd < 0) {
        return false;
    }
    m_closed = false;
    m_error.clear();
    m_fd = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    m_watch = ::epoll_create1(EPOLL_CLOEXEC);
    m_interrupt = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_handBack = ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = m_fd;
    epoll_event timer{};
    timer.events = EPOLLIN;
    timer.data.fd = m_handBack;
    if (m_fd < 0 || m_watch < 0 || m_interrupt < 0 || m_handBack < 0 ||
        ::epoll_ctl(m_watch, EPOLL_CTL_ADD, m_fd, &event) != 0 ||
        ::epoll_ctl(m_watch, EPOLL_CTL_ADD, m_handBack, &timer) != 0) {
        CloseDescriptors();
        return false;
    }
    m_inWatch = true;
    m_handBackArmed = false;
    m_lastCallerEnd = {};
    return true;
}

void CDirectReader::CloseDescriptors()
{
    for (int* fd : {&m_watch, &m_fd, &m_interrupt, &m_handBack}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
}

void CDirectReader::Close()
{
    std::unique_lock lock(m_mutex);
    m_closed = true;
    Poke();
    if (m_leased && m_callerLease && m_holder != std::this_thread::get_id() && m_fd >= 0) {
        ::shutdown(m_fd, SHUT_RD);  // a caller blocked in recv sees the end at once
    }
    // A lease held by this very thread (closing from inside its own read pass) ends later: EndLease closes.
    m_leaseEnded.wait(lock, [&] { return !m_leased || m_holder == std::this_thread::get_id(); });
    if (!m_leased) {
        CloseDescriptors();
    }
}

int CDirectReader::WatchDescriptor() const
{
    std::lock_guard lock(m_mutex);
    return m_watch;
}

bool CDirectReader::TryLease(bool caller)
{
    std::lock_guard lock(m_mutex);
    if (m_leased || m_closed || m_fd < 0) {
        return false;
    }
    if (caller) {
        if (m_inWatch && ::epoll_ctl(m_watch, EPOLL_CTL_DEL, m_fd, nullptr) != 0) {
            return false;
        }
        m_inWatch = false;
        m_leaseStart = Clock::now();
    }
    m_leased = true;
    m_callerLease = caller;
    m_holder = std::this_thread::get_id();
    return true;
}

void CDirectReader::EndLease()
{
    std::lock_guard lock(m_mutex);
    if (!m_leased) {
        return;
    }
    m_leased = false;
    m_holder = {};
    if (m_closed) {
        CloseDescriptors();
    } else if (m_callerLease) {
        const Clock::time_point now = Clock::now();
        const bool run =
            m_leaseStart - m_lastCallerEnd < m_timing.runSpacing && now - m_leaseStart < m_timing.runSpacing;
        m_lastCallerEnd = now;
        if (!run) {
            Unpark();
        } else if (!m_handBackArmed) {
            ArmHandBack(now + m_timing.parkTime);
        }
    }
    m_callerLease = false;
    m_leaseEnded.notify_all();
}

void CDirectReader::OnWatchWake()
{
    std::lock_guard lock(m_mutex);
    if (m_handBack < 0) {
        return;
    }
    // A timer that is not armed has not fired: no read for every wake of a download's blocks.
    uint64_t expirations = 0;
    if (m_handBackArmed && ::read(m_handBack, &expirations, sizeof expirations) == sizeof expirations) {
        m_handBackArmed = false;
    }
    if (m_inWatch || m_handBackArmed || (m_leased && m_callerLease)) {
        return;  // a caller that holds the lease parks the socket again (and arms the timer) or puts it back
    }
    const Clock::time_point due = m_lastCallerEnd + m_timing.parkTime;
    if (Clock::now() >= due) {
        Unpark();
    } else {
        ArmHandBack(due);
    }
}

void CDirectReader::Unpark()
{
    if (m_inWatch) {
        return;
    }
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = m_fd;
    if (::epoll_ctl(m_watch, EPOLL_CTL_ADD, m_fd, &event) != 0 && errno != EEXIST) {
        // Without the socket in its set the I/O thread would never read again: report it as a lost link.
        m_error = QStringLiteral("can't watch the socket: ") + QString::fromLocal8Bit(std::strerror(errno));
        return;
    }
    m_inWatch = true;
}

void CDirectReader::ArmHandBack(Clock::time_point when)
{
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(when.time_since_epoch()).count();
    itimerspec spec{};
    spec.it_value.tv_sec = time_t(ns / 1000000000);
    spec.it_value.tv_nsec = long(ns % 1000000000);
    if (spec.it_value.tv_sec == 0 && spec.it_value.tv_nsec == 0) {
        spec.it_value.tv_nsec = 1;  // zero would disarm it
    }
    if (::timerfd_settime(m_handBack, TFD_TIMER_ABSTIME, &spec, nullptr) == 0) {
        m_handBackArmed = true;
    } else {
        Unpark();  // no timer to hand it back later: at once
    }
}

CDirectReader::Status CDirectReader::Read(QByteArray& into, qsizetype max)
{
    // Only the lease holder reads, and Close() leaves the descriptor to it: no lock needed for m_fd.
    if (m_loginRefused) {
        return Status::Error;
    }
    const qsizetype at = into.size();
    into.resize(at + max);
    for (;;) {
        const ssize_t n = ::recv(m_fd, into.data() + at, size_t(max), MSG_DONTWAIT);
        if (n >= 0 || errno != EINTR) {
            return AfterRecv(into, at, n);
        }
    }
}

CDirectReader::Status CDirectReader::AfterRecv(QByteArray& into, qsizetype at, ssize_t n)
{
    if (n > 0) {
        into.resize(at + qsizetype(n));
        return m_refuseLogin ? ReadOpening(into, at) : Status::Data;
    }
    into.resize(at);
    if (n == 0) {
        return Status::Closed;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
        return Status::Again;
    }
    std::lock_guard lock(m_mutex);
    m_error = QString::fromLocal8Bit(std::strerror(errno));
    return Status::Error;
}

CDirectReader::Status CDirectReader::ReadOpening(QByteArray& into, qsizetype at)
{
    m_opening.append(into.constData() + at, into.size() - at);
    into.resize(at);
    const Opening opening = ClassifyOpening(m_opening);
    if (opening == Opening::Prompt) {
        m_loginRefused = true;
        std::lock_guard lock(m_mutex);
        m_error = QStringLiteral("the receiver asks for a login: connect to it without \"nogreeting\"");
        // Whoever else reads or waits learns it from the socket's end.
        ::shutdown(m_fd, SHUT_RDWR);
        return Status::Error;
    }
    if (opening == Opening::Unknown && m_opening.size() <= kMaxOpening) {
        return Status::Again;
    }
    m_refuseLogin = false;
    into += m_opening;
    m_opening = QByteArray();
    return Status::Data;
}

CDirectReader::Wake CDirectReader::Wait(int timeoutMs)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_closed) {
            return Wake::Closing;
        }
    }
    pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_interrupt, POLLIN, 0}};
    for (;;) {
        const int n = ::poll(fds, 2, timeoutMs);
        if (n < 0 && errno == EINTR) {
            continue;  // the caller's next Wait counts the time again from its deadline
        }
        if (n <= 0) {
            return Wake::TimedOut;
        }
        if (fds[1].revents != 0) {
            std::lock_guard lock(m_mutex);
            uint64_t count = 0;
            [[maybe_unused]] const ssize_t r = ::read(m_interrupt, &count, sizeof count);
            m_poked = false;
            return m_closed ? Wake::Closing : Wake::Interrupted;
        }
        return Wake::Readable;  // POLLIN, POLLHUP or POLLERR: Read() tells which
    }
}

CDirectReader::Wake CDirectReader::Receive(QByteArray& into, qsizetype max, int timeoutMs, Status& status,
                                           bool mayBlock)
{
    status = Status::Again;
    if (m_loginRefused) {
        status = Status::Error;
        return Wake::Readable;
    }
    const int slice = std::min(timeoutMs, kMaxBlockingMs);
    if (mayBlock && slice > 0 && !m_poked.load(std::memory_order_acquire) && PrepareBlocking(slice)) {
        const qsizetype at = into.size();
        into.resize(at + max);
        const ssize_t n = ::recv(m_fd, into.data() + at, size_t(max), 0);
        if (n == 0) {
            std::lock_guard lock(m_mutex);
            if (m_closed) {
                into.resize(at);
                return Wake::Closing;  // Close() shut the reading side down under us
            }
        }
        status = AfterRecv(into, at, n);
        if (status != Status::Again) {
            return Wake::Readable;
        }
        if (timeoutMs == slice) {
            return Wake::TimedOut;  // or a signal: the caller looks at its clock again either way
        }
        // A long wait spends the rest of its time where an interrupt is seen at once.
        timeoutMs -= slice;
    }
    const Wake wake = Wait(timeoutMs);
    if (wake == Wake::Readable) {
        status = Read(into, max);
    }
    return wake;
}

bool CDirectReader::PrepareBlocking(int sliceMs)
{
    if (m_blocking == Blocking::Unable) {
        return false;
    }
    if (m_blocking == Blocking::Unknown) {
        // The file description is shared with the writer's and the I/O thread's duplicates; both pass
        // MSG_DONTWAIT, so only this thread's recv ever blocks.
        const int flags = ::fcntl(m_fd, F_GETFL);
        if (flags < 0 || ((flags & O_NONBLOCK) != 0 && ::fcntl(m_fd, F_SETFL, flags & ~O_NONBLOCK) != 0)) {
            m_blocking = Blocking::Unable;
            return false;
        }
        m_blocking = Blocking::Ready;
        m_sliceMs = 0;
    }
    // A run of commands waits the same time each (until its waiting callback is due): one setsockopt for the run.
    if (sliceMs != m_sliceMs) {
        const timeval slice{sliceMs / 1000, (sliceMs % 1000) * 1000};
        if (::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &slice, sizeof slice) != 0) {
            // A blocking socket without a receive time-out would block forever: back to MSG_DONTWAIT and polling.
            const int flags = ::fcntl(m_fd, F_GETFL);
            if (flags >= 0) {
                ::fcntl(m_fd, F_SETFL, flags | O_NONBLOCK);
            }
            m_blocking = Blocking::Unable;
            return false;
        }
        m_sliceMs = sliceMs;
    }
    return true;
}

void CDirectReader::Interrupt()
{
    std::lock_guard lock(m_mutex);
    Poke();
}

void CDirectReader::InterruptCaller()
{
    std::lock_guard lock(m_mutex);
    if (m_leased && m_callerLease) {
        Poke();
    }
}

void CDirectReader::Poke()
{
    if (m_interrupt >= 0) {
        m_poked = true;
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_interrupt, &one, sizeof one);
    }
}

QString CDirectReader::Error() const
{
    std::lock_guard lock(m_mutex);
    return m_error;
}
