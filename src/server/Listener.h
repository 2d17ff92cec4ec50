#pragma once

#include <QHostAddress>
#include <QObject>

class QSocketNotifier;
class QTimer;

// Accepts connections on a listening socket of its own, so that it knows why an accept failed: out of descriptors
// it stops for a moment (and says so once) instead of spinning on a socket that stays readable; the connections
// meanwhile wait in the kernel's queue.
class CListener : public QObject
{
    Q_OBJECT
public:
    explicit CListener(int pauseMs, QObject* parent = nullptr);
    ~CListener() override;

    bool Listen(const QHostAddress& host, quint16 port, QString* error);
    quint16 Port() const { return m_port; }

signals:
    // A connected socket's descriptor, non-blocking; the receiver owns it.
    void Accepted(qintptr descriptor);

private:
    void OnReadable();

    int m_pauseMs;
    int m_fd = -1;
    quint16 m_port = 0;
    QSocketNotifier* m_notifier = nullptr;
    QTimer* m_resume;
    bool m_starved = false;
};
