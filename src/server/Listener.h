#pragma once

#include <QHostAddress>
#include <QObject>

class QSocketNotifier;
class QTimer;

// Accepts connections on a listening socket of its own, so that it knows how close the process is to its
// descriptor limit. Near it (a few descriptors kept for the message store, the locks file and TLS), or when an
// accept fails for want of descriptors, it stops for a moment and says so once, instead of spinning on a socket
// that stays readable; the connections meanwhile wait in the kernel's queue.
class CListener : public QObject
{
    Q_OBJECT
public:
    // Descriptors kept free for what the server opens itself.
    static constexpr int kSpareDescriptors = 16;

    explicit CListener(int pauseMs, QObject* parent = nullptr);
    ~CListener() override;

    bool Listen(const QHostAddress& host, quint16 port, QString* error);
    quint16 Port() const { return m_port; }

signals:
    // A connected socket's descriptor, non-blocking; the receiver owns it. `lastOne`: it took one of the spare
    // descriptors and should be turned away at once.
    void Accepted(qintptr descriptor, bool lastOne);

private:
    void OnReadable();
    void Pause(const QString& why);
    void Resume();

    int m_pauseMs;
    int m_fd = -1;
    int m_spareFrom = 0;  // accepted descriptors from this number on eat into the spare ones
    quint16 m_port = 0;
    QSocketNotifier* m_notifier = nullptr;
    QTimer* m_resume;
    bool m_starved = false;
};
