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
#include <chrono>
#include <cstring>
#include <deque>
#include <mutex>

Q_DECLARE_LOGGING_CATEGORY(lcSim)

namespace {

using Clock = std::chrono::steady_clock;

// One direction of a paced line: bytes leave one after another at the line rate and arrive a latency later.
class LinePace
{
public:
    // An adapter hands bytes on in small packets; a chunk this long is delivered at once.
    static constexpr int kChunk = 16;

    void Set(int baud, int latencyMs)
    {
        m_baud = baud;
        m_latency = std::chrono::milliseconds(latencyMs);
    }
    bool Paced() const { return m_baud > 0; }
    void Push(const QByteArray& bytes, Clock::time_point now)
    {
        for (int pos = 0; pos < bytes.size(); pos += kChunk) {
            const QByteArray chunk = bytes.mid(pos, kChunk);
            m_free = std::max(m_free, now) + std::chrono::duration_cast<Clock::duration>(
                                                 std::chrono::duration<double>(chunk.size() * 10.0 / m_baud));
            m_queue.push_back({m_free + m_latency, chunk});
            m_queued += chunk.size();
        }
    }
    // The bytes that have arrived by `now`.
    QByteArray Take(Clock::time_point now)
    {
        QByteArray out;
        while (!m_queue.empty() && m_queue.front().first <= now) {
            out += m_queue.front().second;
            m_queued -= m_queue.front().second.size();
            m_queue.pop_front();
        }
        return out;
    }
    bool Empty() const { return m_queue.empty(); }
    Clock::time_point Next() const { return m_queue.front().first; }
    int64_t Queued() const { return m_queued; }
    void Clear()
    {
        m_queue.clear();
        m_queued = 0;
    }

private:
    int m_baud = 0;
    Clock::duration m_latency{};
    Clock::time_point m_free{};
    std::deque<std::pair<Clock::time_point, QByteArray>> m_queue;
    int64_t m_queued = 0;
};

}  // namespace

class CSimPtyWorker : public QObject
{
public:
    CSimPtyWorker(std::shared_ptr<CSimReceiver> receiver, QString port, int baud, int latencyMs)
        : m_receiver(std::move(receiver)), m_port(std::move(port))
    {
        m_toReceiver.Set(baud, latencyMs);
        m_toProgram.Set(baud, latencyMs);
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
    // Hands on what a paced line has delivered by now and waits for the next delivery.
    void Deliver();

    std::shared_ptr<CSimReceiver> m_receiver;
    QString m_port;
    int m_master = -1;
    QSocketNotifier* m_readNotifier = nullptr;
    QSocketNotifier* m_writeNotifier = nullptr;
    QTimer* m_timer = nullptr;
    std::unique_ptr<IDeviceSession> m_session;
    std::shared_ptr<SimOutbox> m_outbox;
    QByteArray m_pending;
    LinePace m_toReceiver;
    LinePace m_toProgram;
    QTimer* m_paceTimer = nullptr;
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
    m_paceTimer = new QTimer(this);
    m_paceTimer->setSingleShot(true);
    m_paceTimer->setTimerType(Qt::PreciseTimer);
    connect(m_paceTimer, &QTimer::timeout, this, &CSimPtyWorker::Deliver);
    OpenSession();
    return true;
}

void CSimPtyWorker::OpenSession()
{
    m_outbox = std::make_shared<SimOutbox>();
    CSimPtyWorker* self = this;  // the session, and with it every sink call, ends before the worker does
    IInProcessDevice::Sink sink = OutboxSink(m_outbox, [self] {
        QMetaObject::invokeMethod(
            self, [self] { self->Drain(); }, Qt::QueuedConnection);
    });
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
            if (m_toReceiver.Paced()) {
                m_toReceiver.Push(QByteArray(buf, int(n)), Clock::now());
                Deliver();
            } else if (m_session) {
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
    m_pending += m_outbox->Take(&dropped);
    if (m_toProgram.Paced()) {
        // Output beyond what the line could carry is lost, as from a receiver's full output buffer.
        if (m_toProgram.Queued() + m_pending.size() < CSimPty::kMaxPendingOutput) {
            m_toProgram.Push(m_pending, Clock::now());
        }
        m_pending.clear();
        Deliver();
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

void CSimPtyWorker::Deliver()
{
    const Clock::time_point now = Clock::now();
    const QByteArray in = m_toReceiver.Take(now);
    if (!in.isEmpty() && m_session) {
        m_session->Write(in);
    }
    const QByteArray out = m_toProgram.Take(now);
    if (!out.isEmpty()) {
        m_pending += out;
        WritePending();
    }
    Clock::time_point next = Clock::time_point::max();
    if (!m_toReceiver.Empty()) {
        next = m_toReceiver.Next();
    }
    if (!m_toProgram.Empty()) {
        next = std::min(next, m_toProgram.Next());
    }
    if (next != Clock::time_point::max()) {
        const auto wait = std::chrono::duration_cast<std::chrono::microseconds>(next - Clock::now());
        // Rounded up: a timer that fires early would only find nothing due and wait again.
        m_paceTimer->start(int(std::max<int64_t>(0, (wait.count() + 999) / 1000)));
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
    delete m_paceTimer;
    m_paceTimer = nullptr;
    m_toReceiver.Clear();
    m_toProgram.Clear();
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
    m_thread.Start(QStringLiteral("sim pty"), new CSimPtyWorker(m_receiver, m_port, m_baud, m_latencyMs));
    bool ok = false;
    QString why;
    QString path;
    m_thread.Call([&](CSimPtyWorker& w) { ok = w.Open(&why, &path); });
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

void CSimPty::SetLine(int baud, int latencyMs)
{
    m_baud = std::max(0, baud);
    m_latencyMs = std::max(0, latencyMs);
}

QString CSimPty::SlavePath() const
{
    return m_slavePath;
}

void CSimPty::Close()
{
    m_thread.Stop();
}
