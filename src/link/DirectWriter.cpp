#include "link/DirectWriter.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

CDirectWriter::~CDirectWriter()
{
    Close();
}

bool CDirectWriter::Open(int fd, std::function<void()> wake)
{
    std::lock_guard lock(m_mutex);
    if (m_fd >= 0 || fd < 0) {
        return false;
    }
    m_fd = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (m_fd < 0) {
        return false;
    }
    m_pending.clear();
    m_error.clear();
    m_wake = std::move(wake);
    return true;
}

void CDirectWriter::Close()
{
    std::lock_guard lock(m_mutex);
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_pending.clear();
    m_wake = nullptr;
}

int CDirectWriter::Descriptor() const
{
    std::lock_guard lock(m_mutex);
    return m_fd;
}

QString CDirectWriter::Error() const
{
    std::lock_guard lock(m_mutex);
    return m_error;
}

CDirectWriter::Result CDirectWriter::Write(const QByteArray& bytes)
{
    std::lock_guard lock(m_mutex);
    if (m_fd < 0) {
        return Result::Closed;
    }
    if (!m_error.isEmpty()) {
        return Result::Written;  // into a lost link, as a socket's write buffer would take it
    }
    const bool wasWaiting = !m_pending.isEmpty();
    m_pending += bytes;
    if (wasWaiting) {
        return Result::Queued;  // behind bytes the I/O thread was already woken for
    }
    const bool sent = SendPending();
    if (sent && m_pending.isEmpty()) {
        return Result::Written;
    }
    if (m_wake) {
        m_wake();
    }
    return Result::Queued;
}

bool CDirectWriter::WritePending()
{
    std::lock_guard lock(m_mutex);
    if (m_fd < 0) {
        return true;
    }
    if (!SendPending() && m_wake) {
        m_wake();
    }
    return m_pending.isEmpty();
}

bool CDirectWriter::SendPending()
{
    while (!m_pending.isEmpty() && m_error.isEmpty()) {
        // A full socket must never block a caller that holds locks: what does not fit waits here.
        const ssize_t n = ::send(m_fd, m_pending.constData(), size_t(m_pending.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n == m_pending.size()) {
            m_pending.clear();  // the usual case, and without the copy a removal from shared bytes makes
        } else if (n > 0) {
            m_pending.remove(0, qsizetype(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return true;
        } else {
            m_error = QString::fromLocal8Bit(std::strerror(n < 0 ? errno : EPIPE));
            m_pending.clear();
            return false;
        }
    }
    return m_error.isEmpty();
}
