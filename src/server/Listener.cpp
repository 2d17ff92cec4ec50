#include "server/Listener.h"

#include <QLoggingCategory>
#include <QSocketNotifier>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

Q_DECLARE_LOGGING_CATEGORY(lcServer)

namespace {

// Connections taken per wake-up: a flood of them still lets the event loop serve the clients in between.
constexpr int kAcceptBatch = 64;

QString ErrnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

}  // namespace

CListener::CListener(int pauseMs, QObject* parent) : QObject(parent), m_pauseMs(pauseMs), m_resume(new QTimer(this))
{
    m_resume->setSingleShot(true);
    connect(m_resume, &QTimer::timeout, this, &CListener::Resume);
}

CListener::~CListener()
{
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

bool CListener::Listen(const QHostAddress& host, quint16 port, QString* error)
{
    sockaddr_storage address{};
    socklen_t length = 0;
    if (host.protocol() == QAbstractSocket::IPv4Protocol) {
        auto* a = reinterpret_cast<sockaddr_in*>(&address);
        a->sin_family = AF_INET;
        a->sin_port = htons(port);
        a->sin_addr.s_addr = htonl(host.toIPv4Address());
        length = sizeof(sockaddr_in);
    } else if (host.protocol() == QAbstractSocket::IPv6Protocol) {
        auto* a = reinterpret_cast<sockaddr_in6*>(&address);
        a->sin6_family = AF_INET6;
        a->sin6_port = htons(port);
        const Q_IPV6ADDR ip = host.toIPv6Address();
        std::memcpy(&a->sin6_addr, ip.c, sizeof(ip.c));
        length = sizeof(sockaddr_in6);
    } else {
        *error = QStringLiteral("not an IP address");
        return false;
    }
    m_fd = ::socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int on = 1;
    if (m_fd < 0 || ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on)) != 0 ||
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(m_fd, SOMAXCONN) != 0 ||
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        *error = ErrnoText(errno);
        return false;
    }
    m_port = ntohs(address.ss_family == AF_INET ? reinterpret_cast<sockaddr_in*>(&address)->sin_port
                                                : reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    m_spareFrom = int(std::min<rlim_t>(files.rlim_cur, 1 << 30)) - kSpareDescriptors;
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &CListener::OnReadable);
    return true;
}

void CListener::Pause(const QString& why)
{
    if (!m_starved) {
        m_starved = true;
        qCWarning(lcServer).noquote()
            << QStringLiteral("can't accept connections: %1; new clients wait until connections end").arg(why);
    }
    m_notifier->setEnabled(false);
    m_resume->start(m_pauseMs);
}

void CListener::Resume()
{
    m_notifier->setEnabled(true);
}

void CListener::OnReadable()
{
    for (int i = 0; i < kAcceptBatch; ++i) {
        const int fd = ::accept4(m_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0 && fd >= m_spareFrom) {
            // Descriptors are given lowest first: every one below is taken.
            emit Accepted(fd, true);
            Pause(QStringLiteral("only %1 descriptors left").arg(m_spareFrom + kSpareDescriptors - fd - 1));
            return;
        }
        if (fd >= 0) {
            if (m_starved) {
                m_starved = false;
                qCInfo(lcServer) << "accepting connections again";
            }
            emit Accepted(fd, false);
            continue;
        }
        const int error = errno;
        if (error == EINTR || error == ECONNABORTED || error == EPROTO) {
            continue;  // that one connection is gone; the queue may hold more
        }
        if (error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM) {
            Pause(ErrnoText(error));
        }
        return;
    }
}
