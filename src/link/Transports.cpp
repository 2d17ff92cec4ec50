#include "link/Transports.h"

#include "link/Checksum.h"
#include "link/DirectReader.h"
#include "link/DirectWriter.h"
#include "link/InProcessDevice.h"
#include "link/ReceiverName.h"
#include "link/ServerTransport.h"

#include <QLoggingCategory>
#include <QPointer>
#include <QSerialPort>
#include <QSocketNotifier>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <map>

Q_LOGGING_CATEGORY(lcTransport, "nemola.link.transport")

// ---------------------------------------------------------------------------------------------------------------
// Registry of in-process receivers

namespace {

std::mutex g_registryMutex;
std::map<QString, std::shared_ptr<IInProcessDevice>>& Registry()
{
    static std::map<QString, std::shared_ptr<IInProcessDevice>> registry;
    return registry;
}

}  // namespace

void RegisterInProcessDevice(const QString& key, std::shared_ptr<IInProcessDevice> device)
{
    std::lock_guard lock(g_registryMutex);
    Registry()[key] = std::move(device);
}

void UnregisterInProcessDevice(const QString& key)
{
    std::lock_guard lock(g_registryMutex);
    Registry().erase(key);
}

std::shared_ptr<IInProcessDevice> FindInProcessDevice(const QString& key)
{
    std::lock_guard lock(g_registryMutex);
    auto it = Registry().find(key);
    return it == Registry().end() ? nullptr : it->second;
}

// ---------------------------------------------------------------------------------------------------------------
// Serial port

CSerialTransport::CSerialTransport(const QString& device, int baud, bool rtsCts, QObject* parent)
    : CTransport(parent), m_device(device), m_baud(baud), m_rtsCts(rtsCts)
{
}

CSerialTransport::~CSerialTransport()
{
    Close();
}

void CSerialTransport::Open()
{
    m_port = new QSerialPort(this);
    m_port->setPortName(m_device);
    if (!m_port->open(QIODevice::ReadWrite)) {
        const QString why = QStringLiteral("Can't open %1: %2").arg(m_device, m_port->errorString());
        delete m_port;
        m_port = nullptr;
        emit Failed(why);
        return;
    }
    // Settings go after open(): QSerialPort applies them to the open descriptor.
    m_port->setBaudRate(m_baud);
    m_port->setDataBits(QSerialPort::Data8);
    m_port->setParity(QSerialPort::NoParity);
    m_port->setStopBits(QSerialPort::OneStop);
    m_port->setFlowControl(m_rtsCts ? QSerialPort::HardwareControl : QSerialPort::NoFlowControl);
    connect(m_port, &QSerialPort::readyRead, this, [this] {
        if (m_port) {
            emit Received(m_port->readAll());
        }
    });
    connect(m_port, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError error) {
        // A line that hangs up (adapter unplugged, far end of a pseudo-terminal closed) shows as a read error.
        if (error == QSerialPort::ResourceError || error == QSerialPort::PermissionError ||
            error == QSerialPort::DeviceNotFoundError || error == QSerialPort::ReadError) {
            ReportDrop(QStringLiteral("Lost %1: %2").arg(m_device, m_port ? m_port->errorString() : QString()));
        }
    });
    emit Opened();
}

void CSerialTransport::ReportDrop(const QString& why)
{
    if (m_dropped) {
        return;
    }
    m_dropped = true;
    if (m_port) {
        m_port->close();
    }
    emit Dropped(why);
}

void CSerialTransport::Close()
{
    // The port is a child of the transport and goes with it; closing here keeps it out of signal handlers.
    if (m_port) {
        m_port->disconnect(this);
        m_port->close();
    }
}

void CSerialTransport::Write(const QByteArray& bytes)
{
    if (m_port && m_port->isOpen()) {
        m_port->write(bytes);
        m_port->flush();  // now, not at the next pass of the event loop: a command waits for it
    }
}

// ---------------------------------------------------------------------------------------------------------------
// TCP

CTcpTransport::CTcpTransport(const QString& host, quint16 port, const QString& password, bool greets, QObject* parent)
    : CTransport(parent), m_host(host), m_port(port), m_password(password), m_greets(greets)
{
}

CTcpTransport::~CTcpTransport()
{
    Close();
}

QString CTcpTransport::Where() const
{
    return QStringLiteral("%1:%2").arg(m_host).arg(m_port);
}

void CTcpTransport::Open()
{
    m_socket = new QTcpSocket(this);
    m_timer = new QTimer(this);
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &CTcpTransport::OnGreetingTimeout);
    connect(m_socket, &QTcpSocket::connected, this, &CTcpTransport::OnConnected);
    connect(m_socket, &QTcpSocket::readyRead, this, &CTcpTransport::OnReadyRead);
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) {
        const QString why = Where() + QStringLiteral(": ") + m_socket->errorString();
        if (m_state == State::Open) {
            ReportDrop(why);
        } else if (m_state != State::Closed) {
            Fail(why);
        }
    });
    connect(m_socket, &QTcpSocket::disconnected, this, [this] {
        if (m_state == State::Open) {
            ReportDrop(Where() + QStringLiteral(": connection closed by the receiver"));
        } else if (m_state != State::Closed) {
            Fail(Where() + QStringLiteral(": connection closed by the receiver"));
        }
    });
    m_state = State::Connecting;
    m_clock.start();
    m_timer->start(kConnectTimeoutMs);
    m_socket->connectToHost(m_host, m_port);
}

void CTcpTransport::OnConnected()
{
    // Commands are small writes that wait for their answer: a line must not wait for the acknowledgement of the
    // one before it (a pipelined batch sends more while earlier lines are unanswered).
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_state = State::Greeting;
    m_connectStartMs = m_clock.elapsed();
    if (!m_greets) {
        FinishOpen({});  // the reader fails the link if a login prompt comes after all
        return;
    }
    const qint64 wait = std::clamp<qint64>(kGreetingRoundTrips * m_connectStartMs, kGreetingMinWaitMs, kGreetingWaitMs);
    m_timer->start(int(wait));
}

void CTcpTransport::OnReadyRead()
{
    const QByteArray bytes = m_socket->readAll();
    if (m_state == State::Open) {
        emit Received(bytes);
        return;
    }
    m_greeting += bytes;
    m_greetingBytes += bytes.size();
    // Whatever ends the greeting is the receiver's output, however much of it came at once: only bytes still read
    // as greeting or login count against the limit.
    if (!ReadGreeting()) {
        return;
    }
    if (m_greetingBytes > kMaxGreetingBytes) {
        Fail(Where() + QStringLiteral(": the receiver's greeting does not end"));
        return;
    }
    if (m_state == State::Greeting) {
        // Quiet after greeting bytes opens; greeting lines without end run into the login time-out.
        const qint64 left = kLoginTimeoutMs - (m_clock.elapsed() - m_connectStartMs);
        if (left <= 0) {
            Fail(Where() + QStringLiteral(": the receiver's greeting does not end"));
            return;
        }
        m_timer->start(int(std::min<qint64>(left, kGreetingQuietMs)));
    }
}

bool CTcpTransport::ReadGreeting()
{
    static const QByteArray kLogin = "login:";
    static const QByteArray kPassword = "password:";
    for (;;) {
        if (m_state == State::Greeting) {
            // A greeting is "#" lines and the login prompt (or at once the password prompt). Anything else ends it
            // at once and is handed on as it came: neither can start a frame (an identifier is two characters
            // 0x30..0x7E and three hex digits), so a port that already outputs opens on its first message.
            qsizetype lead = 0;
            while (lead < m_greeting.size() && (m_greeting[lead] == '\r' || m_greeting[lead] == '\n' ||
                                                m_greeting[lead] == ' ' || m_greeting[lead] == '\t')) {
                ++lead;
            }
            // Enough to tell a prompt; the case of "Password:" varies between receivers.
            const QByteArray start = m_greeting.mid(lead, kPassword.size()).toLower();
            if (start.startsWith('#')) {
                const qsizetype lineEnd = m_greeting.indexOf('\n', lead);
                if (lineEnd < 0) {
                    return true;
                }
                m_greeting.remove(0, lineEnd + 1);
                continue;
            }
            if (start.startsWith(kLogin) || start == kPassword) {
                // An empty answer to "login:" lets the receiver choose a free TCP port.
                if (start.startsWith(kLogin)) {
                    m_socket->write("\r\n");
                    m_greeting.remove(0, lead + kLogin.size());
                }
                m_state = State::Password;
                m_timer->start(std::max(1, kLoginTimeoutMs - int(m_clock.elapsed() - m_connectStartMs)));
                continue;
            }
            // Nothing yet, or a prompt still arriving.
            if (kLogin.startsWith(start) || kPassword.startsWith(start)) {
                return true;
            }
            FinishOpen(m_greeting);
            return false;
        }
        // Past the prompts only lines matter: "#" lines are chatter, a reply frame is the verdict.
        if (m_state == State::Password) {
            const int at = m_greeting.indexOf("assword:");
            if (at >= 0) {
                m_socket->write(m_password.toLatin1() + "\r\n");
                m_greeting.remove(0, at + 8);
                m_state = State::Verdict;
                continue;
            }
        }
        const int lineEnd = m_greeting.indexOf('\n');
        if (lineEnd < 0) {
            return true;
        }
        const QByteArray line = m_greeting.left(lineEnd).trimmed();
        m_greeting.remove(0, lineEnd + 1);
        const bool frame = line.size() >= 5 && HexDigitValue(line[2]) >= 0 && HexDigitValue(line[3]) >= 0 &&
                           HexDigitValue(line[4]) >= 0;
        if (frame && line.startsWith("RE") && line.contains("Logged in")) {
            FinishOpen(m_greeting);
            return false;
        }
        if (frame && line.startsWith("ER")) {
            Fail(Where() + QStringLiteral(": the receiver refused the login"));
            return false;
        }
    }
}

void CTcpTransport::OnGreetingTimeout()
{
    if (m_state == State::Greeting) {
        // Silence, or greeting lines without a login prompt: the port is open as it is.
        FinishOpen(m_greeting);
    } else if (m_state == State::Connecting) {
        Fail(Where() + QStringLiteral(": no answer"));
    } else if (m_state == State::Password || m_state == State::Verdict) {
        Fail(Where() + QStringLiteral(": no login answer from the receiver"));
    }
}

void CTcpTransport::FinishOpen(QByteArray pending)
{
    m_timer->stop();
    m_greeting.clear();
    m_state = State::Open;
    // Login bytes still in the socket's buffer would be overtaken: then this connection writes through the socket.
    if (m_socket->bytesToWrite() == 0) {
        auto writer = std::make_shared<CDirectWriter>();
        QPointer<CTcpTransport> self(this);
        const auto wake = [self] {
            QMetaObject::invokeMethod(self, &CTcpTransport::OnWriterWake, Qt::QueuedConnection);
        };
        if (writer->Open(int(m_socket->socketDescriptor()), wake)) {
            m_writer = writer;
            m_writable = new QSocketNotifier(writer->Descriptor(), QSocketNotifier::Write, this);
            m_writable->setEnabled(false);
            connect(m_writable, &QSocketNotifier::activated, this, &CTcpTransport::OnWriterWake);
            auto reader = std::make_shared<CDirectReader>();
            if (reader->Open(int(m_socket->socketDescriptor()), !m_greets)) {
                // The socket is read through the reader from now on: the QTcpSocket must not read any more, and
                // closing it leaves the connection to our duplicates (close() alone does not end a connection).
                pending += m_socket->readAll();
                m_socket->disconnect(this);
                m_socket->abort();
                m_reader = reader;
                m_readable = new QSocketNotifier(reader->WatchDescriptor(), QSocketNotifier::Read, this);
                connect(m_readable, &QSocketNotifier::activated, this, &CTcpTransport::OnReadable);
            }
        }
    }
    // Before Opened: from then on a command's thread may read (and frame) in the reader's lease.
    if (!pending.isEmpty()) {
        emit Received(pending);
    }
    emit Opened();
}

void CTcpTransport::Fail(const QString& why)
{
    m_timer->stop();
    m_state = State::Closed;
    m_greeting.clear();
    m_socket->abort();
    emit Failed(why);
}

void CTcpTransport::ReportDrop(const QString& why)
{
    m_state = State::Closed;
    // Our duplicates would keep the connection open after the socket closed its own descriptor.
    CloseDirect();
    emit Dropped(why);
}

void CTcpTransport::CloseDirect()
{
    if (m_readable) {
        m_readable->setEnabled(false);
    }
    if (m_writable) {
        m_writable->setEnabled(false);
    }
    if (m_reader) {
        m_reader->Close();
    }
    if (m_writer) {
        m_writer->Close();
    }
}

void CTcpTransport::OnReadable()
{
    if (m_reader) {
        m_reader->OnWatchWake();  // the set may have woken for the socket parked by a run of commands
    }
    if (!m_reader || m_state != State::Open || !m_reader->TryLease(false)) {
        return;  // a caller reads: it took the socket out of the watch set
    }
    // Within the lease, so that bytes a caller reads next are framed after these. One chunk a pass: a socket
    // with more stays readable and other events get their turn.
    m_readBuffer.resize(0);  // keeps its capacity
    const CDirectReader::Status status = m_reader->Read(m_readBuffer, kReadChunk);
    if (status == CDirectReader::Status::Data) {
        emit Received(m_readBuffer);
    }
    m_reader->EndLease();
    if (m_state != State::Open) {
        return;
    }
    if (status == CDirectReader::Status::Closed) {
        ReportDrop(Where() + QStringLiteral(": connection closed by the receiver"));
    } else if (status == CDirectReader::Status::Error) {
        ReportDrop(Where() + QStringLiteral(": ") + m_reader->Error());
    }
}

std::shared_ptr<CDirectReader> CTcpTransport::DirectReader() const
{
    return m_reader;
}

void CTcpTransport::OnWriterWake()
{
    if (!m_writer || m_state != State::Open) {
        return;
    }
    const bool drained = m_writer->WritePending();
    const QString error = m_writer->Error();
    if (!error.isEmpty()) {
        ReportDrop(Where() + QStringLiteral(": ") + error);
        return;
    }
    m_writable->setEnabled(!drained);
}

std::shared_ptr<CDirectWriter> CTcpTransport::DirectWriter() const
{
    return m_writer;
}

void CTcpTransport::Close()
{
    m_state = State::Closed;
    CloseDirect();
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
    if (m_timer) {
        m_timer->stop();
    }
}

void CTcpTransport::Write(const QByteArray& bytes)
{
    if (m_writer && m_state == State::Open) {
        // On this thread too, so that the bytes keep their order with those written from others.
        if (m_writer->Write(bytes) != CDirectWriter::Result::Closed) {
            return;
        }
    }
    if (m_socket && m_state == State::Open) {
        m_socket->write(bytes);
        m_socket->flush();  // now, not at the next pass of the event loop: a command waits for it
    }
}

// ---------------------------------------------------------------------------------------------------------------
// In-process simulator

CInProcessTransport::CInProcessTransport(const QString& key, QObject* parent)
    : CTransport(parent), m_key(key), m_inbox(std::make_shared<Inbox>())
{
    m_inbox->target = this;
}

CInProcessTransport::~CInProcessTransport()
{
    Close();
}

void CInProcessTransport::Open()
{
    auto device = FindInProcessDevice(m_key);
    if (!device) {
        emit Failed(QStringLiteral("No simulated receiver \"SIM:%1\"").arg(m_key));
        return;
    }
    std::weak_ptr<Inbox> weak = m_inbox;
    auto post = [](const std::shared_ptr<Inbox>& inbox) {
        // Called with the inbox locked.
        if (!inbox->posted && inbox->target) {
            inbox->posted = true;
            QMetaObject::invokeMethod(inbox->target, &CInProcessTransport::Drain, Qt::QueuedConnection);
        }
    };
    IInProcessDevice::Sink sink;
    sink.output = [weak, post](const QByteArray& bytes) {
        if (auto inbox = weak.lock()) {
            std::lock_guard lock(inbox->mutex);
            inbox->bytes += bytes;
            post(inbox);
        }
    };
    sink.dropped = [weak, post](const QString& why) {
        if (auto inbox = weak.lock()) {
            std::lock_guard lock(inbox->mutex);
            inbox->dropped = true;
            inbox->dropReason = why;
            post(inbox);
        }
    };
    QString error;
    m_session = device->OpenSession(std::move(sink), &error);
    if (!m_session) {
        emit Failed(error.isEmpty() ? QStringLiteral("The simulated receiver does not answer") : error);
        return;
    }
    emit Opened();
}

void CInProcessTransport::Drain()
{
    QByteArray bytes;
    bool dropped = false;
    QString why;
    {
        std::lock_guard lock(m_inbox->mutex);
        bytes.swap(m_inbox->bytes);
        dropped = m_inbox->dropped;
        why = m_inbox->dropReason;
        m_inbox->posted = false;
    }
    if (!bytes.isEmpty()) {
        emit Received(bytes);
    }
    if (dropped && !m_reportedDrop) {
        m_reportedDrop = true;
        m_session.reset();
        emit Dropped(why);
    }
}

void CInProcessTransport::Close()
{
    m_session.reset();
    std::lock_guard lock(m_inbox->mutex);
    m_inbox->target = nullptr;
}

void CInProcessTransport::Write(const QByteArray& bytes)
{
    if (m_session) {
        m_session->Write(bytes);
    }
}

// ---------------------------------------------------------------------------------------------------------------

CTransport* CreateTransport(const ReceiverAddress& address, const QString& password)
{
    switch (address.kind) {
    case ReceiverAddress::Kind::Simulator:
        return new CInProcessTransport(address.simKey);
    case ReceiverAddress::Kind::Serial:
        return new CSerialTransport(address.device, address.baud, address.rtsCts);
    case ReceiverAddress::Kind::Tcp:
        return new CTcpTransport(address.host, address.port, password, address.greets);
    case ReceiverAddress::Kind::Server:
        return new CServerTransport(ServerLogin{address.server, address.user, password}, address.remoteName);
    case ReceiverAddress::Kind::Invalid:
        break;
    }
    return nullptr;
}
