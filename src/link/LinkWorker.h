#pragma once

#include "link/ReceiverLink.h"
#include "link/ReceiverName.h"
#include "link/Transport.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <deque>
#include <memory>

class CDownloadSession;

// The link's I/O thread: opens and owns the transport, frames what it reads, hands replies to the pairing and
// messages to their attachments, and runs a download's steps. A command's thread that reads the socket itself
// frames through it too (FrameAsCaller), so that one framer sees the stream in order.
class CLinkWorker : public QObject
{
public:
    CLinkWorker(ReceiverLink* link, ReceiverAddress address, QString password)
        : m_link(link), m_address(std::move(address)), m_password(std::move(password))
    {
    }

    void Start();
    void Shutdown();
    void Write(const QByteArray& bytes)
    {
        if (m_transport) {
            m_transport->Write(bytes);
        }
    }
    // The download takes the stream over from the framer until its final notice.
    void StartDownload(std::shared_ptr<CDownloadSession> download);
    void CancelDownload();

    // A command's thread that holds the reader's lease (see link/DirectReader.h): frames what it read, pairs the
    // replies at once and leaves everything else to the I/O thread, in order. With `routeTables`, messages that
    // only fill tables are routed here when nothing else waits for the I/O thread (see Frame).
    void FrameAsCaller(const QByteArray& bytes, bool routeTables = false) { FrameBytes(bytes, routeTables); }
    // With the lease: when the stream went quiet with a guessed frame waiting, gives the guess up; else returns
    // when that will be due (the time point's max when no guess waits).
    Clock::time_point GiveUpQuietGuess(Clock::time_point now);
    // With the lease, as it ends: the I/O thread's resync timer takes over a guess that still waits.
    void HandBackGuess();

private:
    void OnDownloadBytes(const QByteArray& bytes);
    void OnBlockTimeout();
    // How long the download's next step waits for a byte: the block time-out, or a short quiet.
    int StepWaitMs() const;
    void AfterDownloadStep(const QByteArray& answer);
    void EndDownload();
    void OnDrainTimer();
    // The download is over and the line quiet (or given up): commands may go out again.
    void FinishDownload();
    // Closes the transport of a receiver that cannot be used any more and reports the link lost.
    void GiveUpLink(const QString& why);
    void Notify(const QByteArray& notice);
    void OnReceived(const QByteArray& bytes);
    void OnResyncQuiet();
    // With the reader's lease, if there is a reader: runs `step` (a framer call), pairs replies at once and
    // queues the rest of what it produces for Dispatch. With `routeTables` (a caller's thread), the messages are
    // routed at once instead when every attachment fills a table, no raw output is wanted and the I/O thread has
    // nothing left to hand on: filling a table needs no particular thread, and the I/O thread is not woken.
    template <typename Step>
    void Frame(Step&& step, bool routeTables = false);
    // Frames received bytes, or hands them on as they came while the link passes its stream through.
    void FrameBytes(const QByteArray& bytes, bool routeTables = false);
    // I/O thread: routes the queued messages and hands the raw output on.
    void Dispatch();
    // I/O thread: with the lease when it is free, (re)starts or stops the resync timer.
    void RefreshResyncTimer();
    std::shared_ptr<CDirectReader> Reader() const;
    void OnDropped(const QString& why);
    // What one framing pass leaves for the I/O thread.
    struct Pending
    {
        std::vector<QByteArray> frames;  // to route, in order
        QByteArray raw;                  // raw output (the frames included)
    };
    void HandleFrame(const char* data, int size, Pending& pending);
    // Queues a pass for Dispatch (posting it when not on the I/O thread).
    void Queue(Pending pending, bool onIoThread);
    bool TakeReply(const QByteArray& frame);
    void Route(const QByteArray& frame);

    ReceiverLink* m_link;
    ReceiverAddress m_address;
    QString m_password;
    CTransport* m_transport = nullptr;
    // Framing state: touched only under the reader's lease (or on the I/O thread when there is no reader).
    CFramer m_framer;
    bool m_passedThrough = false;  // bytes went by the framer, which then joins the stream in its middle
    bool m_afterReply = false;
    Clock::time_point m_guessDue = Clock::time_point::max();
    QTimer* m_resyncTimer = nullptr;
    std::mutex m_queueMutex;
    std::deque<Pending> m_queue;
    bool m_dispatchPosted = false;  // under m_queueMutex
    std::shared_ptr<CDownloadSession> m_download;
    QTimer* m_blockTimer = nullptr;
    QElapsedTimer m_blockClock;  // since the last step of the download
    int m_blockTimerMs = 0;      // the interval m_blockTimer was last started with
    QTimer* m_drainTimer = nullptr;
    QElapsedTimer m_drainClock;  // since the drain began
    QElapsedTimer m_drainQuiet;  // since the last byte of the drain
    int m_blockTimeoutMs = 0;
    QByteArray m_finalNotice;
};
