#pragma once

#include "link/Transport.h"

#include <QElapsedTimer>

#include <memory>
#include <mutex>

class IDeviceSession;
class QSerialPort;
class QSocketNotifier;
class QTcpSocket;
class QTimer;
struct ReceiverAddress;

class CSerialTransport : public CTransport
{
    Q_OBJECT
public:
    CSerialTransport(const QString& device, int baud, bool rtsCts, QObject* parent = nullptr);
    ~CSerialTransport() override;
    void Open() override;
    void Close() override;
    void Write(const QByteArray& bytes) override;

private:
    void ReportDrop(const QString& why);

    QString m_device;
    int m_baud;
    bool m_rtsCts;
    QSerialPort* m_port = nullptr;
    bool m_dropped = false;
};

// A receiver's own TCP command port, with its optional greeting and login.
class CTcpTransport : public CTransport
{
    Q_OBJECT
public:
    // A receiver that greets does so as soon as it accepts the connection: the wait for a greeting is this many
    // times the connect's round trip, within these bounds.
    static constexpr int kGreetingRoundTrips = 8;
    static constexpr int kGreetingMinWaitMs = 100;
    static constexpr int kGreetingWaitMs = 300;
    // After the last "#" line, this much quiet without "login:" means the receiver asks for no login.
    static constexpr int kGreetingQuietMs = 300;
    static constexpr int kLoginTimeoutMs = 5000;
    static constexpr int kConnectTimeoutMs = 5000;
    // A greeting and login longer than this is not one.
    static constexpr int kMaxGreetingBytes = 16 * 1024;

    // Without `greets` the port opens as soon as it is connected (see ReceiverAddress::greets).
    CTcpTransport(const QString& host, quint16 port, const QString& password, bool greets = true,
                  QObject* parent = nullptr);
    ~CTcpTransport() override;
    void Open() override;
    void Close() override;
    void Write(const QByteArray& bytes) override;
    std::shared_ptr<CDirectWriter> DirectWriter() const override;
    std::shared_ptr<CDirectReader> DirectReader() const override;

    // The most read in one go.
    static constexpr qsizetype kReadChunk = 64 * 1024;

private:
    enum class State { Closed, Connecting, Greeting, Password, Verdict, Open };
    // The direct writer has bytes waiting or failed.
    void OnWriterWake();
    // The reader's watch set is readable: reads unless a caller does.
    void OnReadable();
    void ReportDrop(const QString& why);
    // Stops and closes the direct reader and writer (waiting for a caller that reads to let go).
    void CloseDirect();
    void OnConnected();
    void OnReadyRead();
    void OnGreetingTimeout();
    // Reads greeting and login lines from m_greeting; false once the transport has opened or failed.
    bool ReadGreeting();
    void FinishOpen(QByteArray pending);
    void Fail(const QString& why);
    QString Where() const;

    QString m_host;
    quint16 m_port;
    QString m_password;
    bool m_greets;
    QTcpSocket* m_socket = nullptr;
    QTimer* m_timer = nullptr;
    // Commands are written from the sending thread once the port is open; see link/DirectWriter.h.
    std::shared_ptr<CDirectWriter> m_writer;
    QSocketNotifier* m_writable = nullptr;
    // Once open, the socket is read through this (the QTcpSocket is gone); see link/DirectReader.h.
    std::shared_ptr<CDirectReader> m_reader;
    QSocketNotifier* m_readable = nullptr;
    QByteArray m_readBuffer;
    State m_state = State::Closed;
    QByteArray m_greeting;  // unread greeting bytes
    qint64 m_greetingBytes = 0;
    qint64 m_connectStartMs = 0;
    QElapsedTimer m_clock;
};

// The in-process simulator: output of the device is queued and handed over on this transport's thread.
class CInProcessTransport : public CTransport
{
    Q_OBJECT
public:
    explicit CInProcessTransport(const QString& key, QObject* parent = nullptr);
    ~CInProcessTransport() override;
    void Open() override;
    void Close() override;
    void Write(const QByteArray& bytes) override;

    struct Inbox
    {
        std::mutex mutex;
        QByteArray bytes;
        QString dropReason;
        bool dropped = false;
        bool posted = false;
        CInProcessTransport* target = nullptr;  // cleared under `mutex` before the transport dies
    };

private:
    void Drain();

    QString m_key;
    std::unique_ptr<IDeviceSession> m_session;
    std::shared_ptr<Inbox> m_inbox;
    bool m_reportedDrop = false;
};

// Creates the transport for a parsed receiver name; null for an invalid one.
CTransport* CreateTransport(const ReceiverAddress& address, const QString& password);
