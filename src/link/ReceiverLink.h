#pragma once

// What the CReceiver facade, the callers' side of the command channel and the link's I/O thread share. Internal to
// the link: see docs/link.md.

#include "link/CommandText.h"
#include "link/Connection.h"
#include "link/DirectReader.h"
#include "link/DirectWriter.h"
#include "link/Framer.h"
#include "link/Receiver.h"
#include "link/ReplyPairing.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QThread>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

class CAutoResetEvent;
class CLinkWorker;

using Clock = std::chrono::steady_clock;

// A channel's attachment: the message set it asked for and where its messages go.
struct Attachment
{
    unsigned char channel = 0;
    CReceiver::MessageCallback callback;
    GpsDataTable* table = nullptr;
    std::set<uint16_t> ids;
    QStringList names;
    bool notices = false;  // the set named "WL": the link's own download notices
};

// What the callers of CReceiver and the I/O thread share.
struct LinkShared
{
    std::mutex mutex;
    std::condition_variable cv;
    bool openDone = false;
    bool linkUp = false;
    bool closing = false;
    QString openError;
    QString dropReason;
    CReplyPairing pairing;
    // The transport's writer for other threads, null when writes go through the I/O thread.
    std::shared_ptr<CDirectWriter> writer;
    // The transport's reader for a thread that waits for replies, null when only the I/O thread reads.
    std::shared_ptr<CDirectReader> reader;
    // Framing passes that left messages or raw output for the I/O thread, and how many of them it handed on.
    uint64_t queued = 0;
    uint64_t dispatched = 0;
    // Counts Cancel() calls; a command compares it with the value it started with.
    uint64_t cancels = 0;
    CReceiver::RawOutputCallback raw;
    // A listen-only link that has sent nothing yet can get no reply: its bytes go to the raw output unframed.
    bool passThrough = false;
    std::vector<std::shared_ptr<Attachment>> attachments;
    CFramer::Stats stats;
    // A download owns the stream from its "get" reply until its final notice.
    bool downloading = false;
    int64_t downloadSize = 0;
    int64_t downloadReceived = 0;

    // With `mutex` held: wakes a command waiting for its replies, also one that reads the socket itself.
    void WakeWaiters()
    {
        cv.notify_all();
        if (reader) {
            reader->Interrupt();
        }
    }

    // A fresh start for a new Open; cancels and the mutex stay, so that Cancel() may run at any time.
    void Reset()
    {
        openDone = false;
        linkUp = false;
        closing = false;
        openError.clear();
        dropReason.clear();
        pairing = CReplyPairing{};
        writer.reset();
        reader.reset();
        raw = nullptr;
        passThrough = false;
        attachments.clear();
        stats = CFramer::Stats{};
        downloading = false;
        downloadSize = 0;
        downloadReceived = 0;
    }
};

// A CReceiver's state and the callers' side of its command channel: a command's thread sends its lines, pairs
// the replies (reading the socket itself while it holds the reader's lease) and waits for them here; the I/O
// thread's part is CLinkWorker.
struct ReceiverLink
{
    CReceiver* owner = nullptr;
    std::shared_ptr<ConnectionCore> conn;
    std::shared_ptr<LinkShared> shared = std::make_shared<LinkShared>();
    QThread* thread = nullptr;
    CLinkWorker* worker = nullptr;
    QString name;
    bool open = false;

    mutable std::mutex replyMutex;
    QString reply;
    CReceiver::Failure failure = CReceiver::Failure::None;
    CReceiver::WaitingCallback waiting;  // under shared->mutex

    // Held while messages are dispatched, so that Detach and Close return only when no callback runs.
    std::recursive_mutex dispatchMutex;
    // The message being dispatched; touched only on the I/O thread.
    QByteArray curMsg;
    unsigned char curChannel = 0;

    void SetReply(const QString& text, CReceiver::Failure why = CReceiver::Failure::None)
    {
        std::lock_guard lock(replyMutex);
        reply = text;
        failure = why;
    }
    bool OnIoThread() const { return thread && QThread::currentThread() == thread; }
    void Post(std::function<void()> fn);
    // With `shared->mutex` held: writes from this thread when the transport allows it, else through the I/O thread.
    void Send(const QByteArray& bytes);

    struct LineResult
    {
        std::vector<QByteArray> frames;                         // in statement order, tags restored
        bool answered = false;                                  // every statement that should answer did
        bool error = false;                                     // some reply was an error
        CReceiver::Failure failure = CReceiver::Failure::None;  // why not answered
        QString why;
        int untagged = 0;  // untagged replies that came while the line waited
    };
    // Sends one line and waits for its replies; `cancelsAtStart` is the cancel count when the command began.
    LineResult RunLine(const QString& line, uint64_t cancelsAtStart);
    // Sends lines of one statement each ahead of their replies, at most kPipelineBytes of them unanswered, and
    // waits for all; the frames are those the lines would have got one by one (up to the first that failed).
    LineResult RunPipelined(const QStringList& lines, uint64_t cancelsAtStart);
    // Under the shared lock: true, with the reason in `result`, when no line may go out now (the link is down, or
    // a download owns it: any byte would be read as a block answer).
    bool RefusesLines(LineResult& result) const;
    // Under the shared lock, before a line goes out: true when this thread got the reader's lease and reads the
    // replies itself.
    bool LeaseReader();
    // Waits under `lock` until the pairing completes or fails; `progress` runs at every wake-up. With `leased`,
    // this thread reads the socket itself until the lease has to end (see ReadAsCaller), then waits as others do.
    void WaitForReplies(std::unique_lock<std::mutex>& lock, uint64_t cancelsAtStart, LineResult& result, bool leased,
                        const std::function<void()>& progress = {});
    // One wait of a thread that holds the lease, until `deadline` at most, with `lock` released meanwhile; false
    // when the lease has ended (the link is closing, or the socket closed or failed: the I/O thread reads again
    // and reports it).
    bool ReadAsCaller(std::unique_lock<std::mutex>& lock, Clock::time_point deadline, bool routeTables = false);
    // Waits for a table's event, reading the socket meanwhile when this thread gets the lease (see
    // CReceiver::WaitTableEvent).
    bool WaitTableEvent(CAutoResetEvent& event, int timeoutMs);
    void EndCallerLease();
    static constexpr int kHandOnWaitMs = 1000;
    // What the lease holder reads into; kept, so that a command does not allocate a buffer for its reply.
    QByteArray readBuffer;
    // Statement k's reply as the caller sees it: its own tag or none, a split reply joined into one line.
    QByteArray ReplyFrame(size_t k, const Statement& statement) const;
    uint64_t Cancels() const
    {
        std::lock_guard lock(shared->mutex);
        return shared->cancels;
    }
    void StopThread();
};
