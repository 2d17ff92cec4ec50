#include "sim/SimPty.h"

#include "sim/Simulator.h"

#include <QLoggingCategory>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <mutex>

Q_DECLARE_LOGGING_CATEGORY(lcSim)

namespace {

struct PtyOutbox
{
    std::mutex mutex;
    QByteArray bytes;
    bool dropped = false;
    bool posted = false;
};

}  // namespace

class CSimPtyWorker : public QObject
{
public:
    CSimPtyWorker(std::shared_ptr<CSimReceiver> receiver, QString port)
        : m_receiver(std::move(receiver)), m_port(std::move(port))
    {
    }

    bool Open(QString* error, QString* slavePath);
    void Shutdown();

private:
    void OnReadable();
    void OnWritable();
    void OnTimer();
    void OpenSession();
    void Drain();
    void WritePending();

    std::shared_ptr<CSimReceiver> m_receiver;
    QString m_port;
    int m_master = -1;
    QSocketNotifier* m_readNotifier = nullptr;
    QSocketNotifier* m_writeNotifier = nullptr;
    QTimer* m_timer = nullptr;
    std::unique_ptr<IDeviceSession> m_session;
    std::shared_ptr<PtyOutbox> m_outbox;
    QByteArray m_pending;
};

bool CSimPtyWorker::Open(QString* error, QString* slavePath)
{
    m_master = posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0) {
        *error = QStringLiteral("Can't create a pseudo-terminal: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        Shutdown();
        return false;
    }
    char name[128] = {};
    if (ptsname_r(m_master, name, sizeof(name)) != 0) {
        *error = QStringLiteral("Can't name the pseudo-terminal: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        Shutdown();
        return false;
    }
    *slavePath = QString::fromLocal8Bit(name);
    // Raw mode is a property of the slave side; it stays for whoever opens the slave later.
    const int slave = ::open(name, O_RDWR | O_NOCTTY);
    if (slave >= 0) {
        termios tio{};
        if (tcgetattr(slave, &tio) == 0) {
            cfmakeraw(&tio);
            cfsetispeed(&tio, B115200);
            cfsetospeed(&tio, B115200);
            tcsetattr(slave, TCSANOW, &tio);
        }
        ::close(slave);
    }
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);

    m_readNotifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &CSimPtyWorker::OnReadable);
    m_writeNotifier = new QSocketNotifier(m_master, QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &CSimPtyWorker::OnWritable);
    m_timer = new QTimer(this);
    connect(m_timer, &QTimer::timeout, this, &CSimPtyWorker::OnTimer);
    m_timer->start(CSimPty::kRetryMs);
    OpenSession();
    return true;
}

void CSimPtyWorker::OpenSession()
{
    m_outbox = std::make_shared<PtyOutbox>();
    std::weak_ptr<PtyOutbox> weak = m_outbox;
    CSimPtyWorker* self = this;  // the session, and with it every sink call, ends before the worker does
    auto post = [self](const std::shared_ptr<PtyOutbox>& box) {
        if (!box->posted) {
            box->posted = true;
            QMetaObject::invokeMethod(
                self, [self] { self->Drain(); }, Qt::QueuedConnection);
        }
    };
    IInProcessDevice::Sink sink;
    sink.output = [weak, post](const QByteArray& bytes) {
        if (auto box = weak.lock()) {
            std::lock_guard lock(box->mutex);
            box->bytes += bytes;
            post(box);
        }
    };
    sink.dropped = [weak, post](const QString&) {
        if (auto box = weak.lock()) {
            std::lock_guard lock(box->mutex);
            box->dropped = true;
            post(box);
        }
    };
    QString error;
    m_session = m_receiver->OpenSessionOn(m_port, std::move(sink), &error);
    if (!m_session) {
        m_outbox.reset();
    }
}

void CSimPtyWorker::OnTimer()
{
    if (m_master < 0) {
        return;
    }
    if (!m_session) {
        OpenSession();  // the receiver is back from a restart
    }
    if (!m_readNotifier->isEnabled()) {
        m_readNotifier->setEnabled(true);  // see whether a program has opened the slave again
    }
}

void CSimPtyWorker::OnReadable()
{
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(m_master, buf, sizeof(buf));
        if (n > 0) {
            if (m_session) {
                m_session->Write(QByteArray(buf, int(n)));
            }
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
            // Nobody has the slave open: wait for the timer instead of spinning on the hang-up.
            m_readNotifier->setEnabled(false);
        }
        return;
    }
}

void CSimPtyWorker::Drain()
{
    if (!m_outbox) {
        return;
    }
    bool dropped = false;
    {
        std::lock_guard lock(m_outbox->mutex);
        m_pending += m_outbox->bytes;
        m_outbox->bytes.clear();
        dropped = m_outbox->dropped;
        m_outbox->posted = false;
    }
    if (m_pending.size() > CSimPty::kMaxPendingOutput) {
        m_pending = m_pending.right(CSimPty::kMaxPendingOutput);
    }
    WritePending();
    if (dropped) {
        m_session.reset();
        m_outbox.reset();
    }
}

void CSimPtyWorker::OnWritable()
{
    m_writeNotifier->setEnabled(false);
    WritePending();
}

void CSimPtyWorker::WritePending()
{
    while (!m_pending.isEmpty() && m_master >= 0) {
        const ssize_t n = ::write(m_master, m_pending.constData(), size_t(m_pending.size()));
        if (n > 0) {
            m_pending.remove(0, int(n));
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            m_writeNotifier->setEnabled(true);
            return;
        }
        m_pending.clear();  // nobody listens on the line
        return;
    }
}

void CSimPtyWorker::Shutdown()
{
    m_session.reset();
    m_outbox.reset();
    delete m_readNotifier;
    delete m_writeNotifier;
    delete m_timer;
    m_readNotifier = nullptr;
    m_writeNotifier = nullptr;
    m_timer = nullptr;
    if (m_master >= 0) {
        ::close(m_master);
        m_master = -1;
    }
}

// ---------------------------------------------------------------------------------------------------------------

CSimPty::CSimPty(std::shared_ptr<CSimReceiver> receiver, const QString& port)
    : m_receiver(std::move(receiver)), m_port(port)
{
}

CSimPty::~CSimPty()
{
    Close();
}

bool CSimPty::Open(QString* error)
{
    Close();
    m_thread = new QThread;
    m_thread->setObjectName(QStringLiteral("sim pty"));
    m_worker = new CSimPtyWorker(m_receiver, m_port);
    m_worker->moveToThread(m_thread);
    QObject::connect(m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    m_thread->start();
    bool ok = false;
    QString why;
    QString path;
    CSimPtyWorker* w = m_worker;
    QMetaObject::invokeMethod(
        w, [w, &ok, &why, &path] { ok = w->Open(&why, &path); }, Qt::BlockingQueuedConnection);
    if (!ok) {
        if (error) {
            *error = why;
        }
        Close();
        return false;
    }
    m_slavePath = path;
    qCInfo(lcSim) << "serving" << m_port << "on" << path;
    return true;
}

QString CSimPty::SlavePath() const
{
    return m_slavePath;
}

void CSimPty::Close()
{
    if (!m_thread) {
        return;
    }
    CSimPtyWorker* w = m_worker;
    QMetaObject::invokeMethod(
        w, [w] { w->Shutdown(); }, Qt::BlockingQueuedConnection);
    m_thread->quit();
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
    m_worker = nullptr;
}
