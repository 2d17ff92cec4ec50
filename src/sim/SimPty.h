#pragma once

#include "sim/SimServing.h"

#include <QString>

#include <memory>

class CSimPtyWorker;
class CSimReceiver;

// Serves one port of a simulated receiver ("/dev/ser/a") on a pseudo-terminal in raw mode, so that a program
// can open the slave device as a serial port. Like a real serial line it stays when the receiver restarts: the
// port's session is opened again as soon as the receiver is back. Runs on a thread of its own.
class CSimPty
{
public:
    // Output nobody reads is dropped beyond this, as on a serial line without a listener.
    static constexpr int kMaxPendingOutput = 65536;
    static constexpr int kRetryMs = 50;

    explicit CSimPty(std::shared_ptr<CSimReceiver> receiver, const QString& port = QStringLiteral("/dev/ser/a"));
    ~CSimPty();
    CSimPty(const CSimPty&) = delete;
    CSimPty& operator=(const CSimPty&) = delete;

    // A serial line's pace: each direction carries `baud` / 10 bytes a second (start, eight data and stop bits),
    // and every byte arrives `latencyMs` later, as through a USB serial adapter. 0 baud: as fast as the pty goes.
    // Takes effect at the next Open.
    void SetLine(int baud, int latencyMs);

    // Creates the pseudo-terminal; false with `error` set when that fails.
    bool Open(QString* error);
    // The device path a program opens, e.g. "/dev/pts/3".
    QString SlavePath() const;
    // Closes the receiver's side: the program on the slave sees the line go away.
    void Close();

private:
    std::shared_ptr<CSimReceiver> m_receiver;
    QString m_port;
    QString m_slavePath;
    CSimWorkerThread<CSimPtyWorker> m_thread;
    int m_baud = 0;
    int m_latencyMs = 0;
};
