#include "link/DirectReader.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

CDirectReader::~CDirectReader()
{
    Close();
}

bool CDirectReader::Open(int fd)
{
    std::lock_guard lock(m_mutex);
    if (m_fd >= 0 || fd < 0) {
        return false;
    }
    m_closed = false;
    m_error.clear();
    m_fd = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    m_watch = ::epoll_create1(EPOLL_CLOEXEC);
    m_interrupt = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = m_fd;
    if (m_fd < 0 || m_watch < 0 || m_interrupt < 0 || ::epoll_ctl(m_watch, EPOLL_CTL_ADD, m_fd, &event) != 0) {
        CloseDescriptors();
        return false;
    }
    return true;
}

void CDirectReader::CloseDescriptors()
{
    for (int* fd : {&m_watch, &m_fd, &m_interrupt}) {
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
    if (m_interrupt >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_interrupt, &one, sizeof one);
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
    if (caller && ::epoll_ctl(m_watch, EPOLL_CTL_DEL, m_fd, nullptr) != 0) {
        return false;
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
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = m_fd;
        if (::epoll_ctl(m_watch, EPOLL_CTL_ADD, m_fd, &event) != 0 && errno != EEXIST) {
            // Without the socket in its set the I/O thread would never read again: report it as a lost link.
            m_error = QStringLiteral("can't watch the socket: ") + QString::fromLocal8Bit(std::strerror(errno));
        }
    }
    m_callerLease = false;
    m_leaseEnded.notify_all();
}

CDirectReader::Status CDirectReader::Read(QByteArray& into, qsizetype max)
{
    // Only the lease holder reads, and Close() leaves the descriptor to it: no lock needed for m_fd.
    const qsizetype at = into.size();
    into.resize(at + max);
    for (;;) {
        const ssize_t n = ::recv(m_fd, into.data() + at, size_t(max), MSG_DONTWAIT);
        if (n > 0) {
            into.resize(at + qsizetype(n));
            return Status::Data;
        }
        into.resize(at);
        if (n == 0) {
            return Status::Closed;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return Status::Again;
        }
        std::lock_guard lock(m_mutex);
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        return Status::Error;
    }
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
            uint64_t count = 0;
            [[maybe_unused]] const ssize_t r = ::read(m_interrupt, &count, sizeof count);
            std::lock_guard lock(m_mutex);
            return m_closed ? Wake::Closing : Wake::Interrupted;
        }
        return Wake::Readable;  // POLLIN, POLLHUP or POLLERR: Read() tells which
    }
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
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_interrupt, &one, sizeof one);
    }
}

QString CDirectReader::Error() const
{
    std::lock_guard lock(m_mutex);
    return m_error;
}
