#pragma once

#include "link/InProcessDevice.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// A receiver of one file that misbehaves on purpose, reached as "SIM:<key>" through the real link. It answers the
// commands of a download (the size, the listing, "get"; anything else with a plain "RE") and serves the file with
// the block protocol, with one fault:
// - ChattyAfterAbort: it never sends block `faultBlock`, and after the host's abort it keeps sending bytes (for
//   at most kChatterMs);
// - RepeatBlock: after the ACK of block `faultBlock` it sends that block again, every time (kMaxRepeats at most,
//   then it falls silent);
// - StallMidBlock: block `faultBlock` stops after its first half for `stallMs`, then its rest follows; what the
//   host sends meanwhile is read after that.
class CHostileReceiver : public IInProcessDevice
{
public:
    enum class Fault { None, ChattyAfterAbort, RepeatBlock, StallMidBlock };
    static constexpr int kChatterMs = 6000;
    static constexpr int kMaxRepeats = 2000;

    CHostileReceiver(QString key, QByteArray content, Fault fault, int faultBlock = 3, int stallMs = 0);
    ~CHostileReceiver() override;

    std::unique_ptr<IDeviceSession> OpenSession(Sink sink, QString* error) override;
    QString Name() const { return QStringLiteral("SIM:") + m_key; }
    QString FileName() const { return QStringLiteral("F"); }
    // NAKs and blocks seen or sent since the "get".
    int Naks() const { return m_naks; }
    int BlocksSent() const { return m_blocksSent; }
    bool Aborted() const { return m_aborted; }

private:
    friend class CHostileSession;
    void OnBytes(const QByteArray& bytes);
    void OnLine(const QByteArray& line);
    void OnAnswer(char c);
    QByteArray CurrentBlock() const;
    void SendCurrent();
    // Sends `bytes` after `delayMs` on a thread of its own (stopped when the receiver goes), then runs `then`.
    void Later(int delayMs, QByteArray bytes, int repeatEveryMs = 0, int untilMs = 0, std::function<void()> then = {});
    void Out(const QByteArray& bytes);

    QString m_key;
    QByteArray m_content;
    Fault m_fault;
    int m_faultBlock;
    int m_stallMs;

    std::mutex m_mutex;  // the session's sink
    IInProcessDevice::Sink m_sink;
    bool m_haveSink = false;
    QByteArray m_pending;  // an unfinished command line
    bool m_transfer = false;
    int m_blockSize = 512;
    int64_t m_pos = 0;  // file offset of the current block
    uint16_t m_number = 0;
    uint16_t m_crcBefore = 0;
    int m_repeats = 0;
    bool m_stalled = false;
    bool m_busy = false;    // the rest of a stalled block is still to go out
    QByteArray m_deferred;  // what the host sent meanwhile
    std::atomic<int> m_naks{0};
    std::atomic<int> m_blocksSent{0};
    std::atomic<bool> m_aborted{false};

    std::mutex m_threadMutex;
    std::condition_variable m_stopCv;
    bool m_stop = false;
    std::vector<std::thread> m_threads;
};
