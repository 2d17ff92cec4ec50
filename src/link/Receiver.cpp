#include "link/Receiver.h"

#include "link/AutoResetEvent.h"
#include "link/CommandText.h"
#include "link/Connection.h"
#include "link/DirectReader.h"
#include "link/DirectWriter.h"
#include "link/DownloadSession.h"
#include "link/FileListing.h"
#include "link/ReceiverName.h"
#include "link/ReplyPairing.h"
#include "link/Scan.h"
#include "link/Transports.h"

#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>

Q_LOGGING_CATEGORY(lcLink, "nemola.link")

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint16_t kIdRE = MsgId('R', 'E');
constexpr uint16_t kIdER = MsgId('E', 'R');

std::atomic<uint32_t> g_nextTag{1};

QByteArray NewPrivateTag()
{
    // Tags of the link's own begin with "nm" so that a trace shows where they came from.
    char digits[16];
    char* p = digits + sizeof digits;
    for (uint32_t n = g_nextTag.fetch_add(1); p == digits + sizeof digits || n != 0; n /= 36) {
        *--p = "0123456789abcdefghijklmnopqrstuvwxyz"[n % 36];
    }
    *--p = 'm';
    *--p = 'n';
    return QByteArray(p, digits + sizeof digits - p);
}

bool IsErrorFrame(const QByteArray& frame)
{
    return frame.startsWith("ER");
}

struct SetItem
{
    QString name;
    QString interval;
};

std::vector<SetItem> ParseMessageSet(const QString& set)
{
    std::vector<SetItem> items;
    for (const QString& raw : set.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString item = raw.trimmed();
        const int colon = item.indexOf(QLatin1Char(':'));
        SetItem s;
        s.name = (colon < 0 ? item : item.left(colon)).trimmed();
        s.interval = colon < 0 ? QString() : item.mid(colon + 1).trimmed();
        if (s.name.size() == 2) {
            items.push_back(s);
        }
    }
    return items;
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------------

struct Attachment
{
    unsigned char channel = 0;
    CReceiver::MessageCallback callback;
    GpsDataTable* table = nullptr;
    std::set<uint16_t> ids;
    QStringList names;
    bool notices = false;  // the set named "WL": the link's own download notices
};

// The link's own notice set: routed locally, never asked of the receiver.
const QString kNoticeSet = QStringLiteral("WL");

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
    void Post(std::function<void()> fn) { QMetaObject::invokeMethod(worker, std::move(fn), Qt::QueuedConnection); }
    // With `shared->mutex` held: writes from this thread when the transport allows it, else through the I/O thread.
    void Send(const QByteArray& bytes)
    {
        shared->passThrough = false;  // replies may come from now on
        if (!shared->writer || shared->writer->Write(bytes) == CDirectWriter::Result::Closed) {
            Post([w = worker, bytes] { w->Write(bytes); });
        }
    }

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

// ---------------------------------------------------------------------------------------------------------------
// I/O thread

void CLinkWorker::Start()
{
    m_transport = CreateTransport(m_address, m_password);
    auto shared = m_link->shared;
    if (!m_transport) {
        std::lock_guard lock(shared->mutex);
        shared->openDone = true;
        shared->openError = QStringLiteral("Unknown receiver");
        shared->cv.notify_all();
        return;
    }
    m_transport->setParent(this);
    m_resyncTimer = new QTimer(this);
    m_resyncTimer->setSingleShot(true);
    connect(m_resyncTimer, &QTimer::timeout, this, &CLinkWorker::OnResyncQuiet);
    connect(m_transport, &CTransport::Opened, this, [this, shared] {
        std::lock_guard lock(shared->mutex);
        shared->writer = m_transport->DirectWriter();
        shared->reader = m_transport->DirectReader();
        shared->linkUp = true;
        shared->openDone = true;
        shared->cv.notify_all();
    });
    connect(m_transport, &CTransport::Failed, this, [shared](const QString& why) {
        std::lock_guard lock(shared->mutex);
        shared->openDone = true;
        shared->openError = why;
        shared->cv.notify_all();
    });
    connect(m_transport, &CTransport::Received, this, &CLinkWorker::OnReceived);
    connect(m_transport, &CTransport::Dropped, this, &CLinkWorker::OnDropped);
    m_transport->Open();
}

void CLinkWorker::Shutdown()
{
    if (m_resyncTimer) {
        m_resyncTimer->stop();
    }
    if (m_transport) {
        m_transport->disconnect(this);
        m_transport->Close();
        delete m_transport;
        m_transport = nullptr;
    }
}

void CLinkWorker::OnDropped(const QString& why)
{
    auto shared = m_link->shared;
    bool report = false;
    {
        std::lock_guard lock(shared->mutex);
        report = shared->linkUp && !shared->closing;
        shared->linkUp = false;
        shared->dropReason = why;
        shared->WakeWaiters();
    }
    qCInfo(lcLink) << "link lost:" << why;
    if (m_download) {
        m_download->OnLinkLost(why);
        EndDownload();
    }
    if (report && m_link->conn) {
        m_link->conn->PostSystemMessage(m_transport ? m_transport->DropCode() : uint8_t(CConnection::kMsgLinkLost),
                                        why);
    }
}

void CLinkWorker::OnReceived(const QByteArray& bytes)
{
    if (m_download || m_drainTimer) {
        OnDownloadBytes(bytes);
        return;
    }
    FrameBytes(bytes);
    Dispatch();
}

void CLinkWorker::OnResyncQuiet()
{
    const std::shared_ptr<CDirectReader> reader = Reader();
    if (reader && !reader->TryLease(false)) {
        return;  // the command that reads gives the guess up itself
    }
    Frame([&](auto&& sink) { m_framer.GiveUpGuess(sink); });
    if (reader) {
        reader->EndLease();
    }
    Dispatch();
}

std::shared_ptr<CDirectReader> CLinkWorker::Reader() const
{
    std::lock_guard lock(m_link->shared->mutex);
    return m_link->shared->reader;
}

void CLinkWorker::RefreshResyncTimer()
{
    const std::shared_ptr<CDirectReader> reader = Reader();
    if (!reader || !reader->TryLease(false)) {
        return;  // a command reads again and watches the guess itself
    }
    if (m_framer.WaitingOnGuess()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(m_guessDue - Clock::now()).count();
        m_resyncTimer->start(int(std::clamp<long long>(left, 0, CReceiver::kResyncQuietMs)));
    } else {
        m_resyncTimer->stop();
    }
    reader->EndLease();
}

void CLinkWorker::FrameBytes(const QByteArray& bytes, bool routeTables)
{
    bool passThrough = false;
    {
        std::lock_guard lock(m_link->shared->mutex);
        passThrough = m_link->shared->passThrough;
    }
    if (passThrough) {
        m_passedThrough = true;
        Pending pending;
        pending.raw = bytes;
        Queue(std::move(pending), m_link->OnIoThread());
        return;
    }
    if (m_passedThrough) {
        m_passedThrough = false;
        m_framer.StartMidStream();
    }
    Frame([&](auto&& sink) { m_framer.Feed(bytes.constData(), size_t(bytes.size()), sink); }, routeTables);
}

Clock::time_point CLinkWorker::GiveUpQuietGuess(Clock::time_point now)
{
    if (m_guessDue <= now) {
        Frame([&](auto&& sink) { m_framer.GiveUpGuess(sink); });
    }
    return m_guessDue;
}

void CLinkWorker::HandBackGuess()
{
    if (m_framer.WaitingOnGuess()) {
        QMetaObject::invokeMethod(this, &CLinkWorker::RefreshResyncTimer, Qt::QueuedConnection);
    }
}

template <typename Step>
void CLinkWorker::Frame(Step&& step, bool routeTables)
{
    Pending pending;
    step([&](const CFramer::Event& e) {
        switch (e.kind) {
        case CFramer::EventKind::Frame:
            HandleFrame(e.data, e.size, pending);
            break;
        case CFramer::EventKind::Skipped: {
            // The line end after a reply belongs to the reply, not to the raw output.
            int from = 0;
            if (m_afterReply && from < e.size && e.data[from] == '\r') {
                ++from;
            }
            if (m_afterReply && from < e.size && e.data[from] == '\n') {
                ++from;
                m_afterReply = false;
            }
            m_afterReply = m_afterReply && from == e.size;
            pending.raw.append(e.data + from, e.size - from);
            break;
        }
        case CFramer::EventKind::TextLine:
            m_afterReply = false;
            pending.raw.append(e.data, e.size);
            break;
        case CFramer::EventKind::BadChecksum:
            // Its bytes are searched again and reach the raw output as they are passed over.
            break;
        }
    });
    m_guessDue = m_framer.WaitingOnGuess() ? Clock::now() + std::chrono::milliseconds(CReceiver::kResyncQuietMs)
                                           : Clock::time_point::max();
    const bool onIoThread = m_link->OnIoThread();
    if (onIoThread && m_framer.WaitingOnGuess()) {
        m_resyncTimer->start(CReceiver::kResyncQuietMs);
    } else if (onIoThread) {
        m_resyncTimer->stop();
    }
    auto& shared = *m_link->shared;
    {
        std::lock_guard lock(shared.mutex);
        const uint16_t partial = m_framer.PendingFrameId();
        if (partial == kIdRE || partial == kIdER) {
            shared.pairing.OnReplyBytes(Clock::now());  // a long reply is still arriving
        }
        shared.stats = m_framer.GetStats();
        if (pending.frames.empty() && pending.raw.isEmpty()) {
            return;
        }
        routeTables = routeTables && !onIoThread && !shared.raw &&
                      std::none_of(shared.attachments.begin(), shared.attachments.end(),
                                   [](const auto& a) { return bool(a->callback); });
    }
    if (routeTables) {
        // Under the dispatch lock, so that a pass the I/O thread is handing on is done before this one.
        std::lock_guard dispatch(m_link->dispatchMutex);
        bool idle = false;
        {
            std::lock_guard lock(m_queueMutex);
            idle = m_queue.empty();
        }
        if (idle) {
            for (const QByteArray& frame : pending.frames) {
                Route(frame);
            }
            return;
        }
    }
    Queue(std::move(pending), onIoThread);
}

void CLinkWorker::Queue(Pending pending, bool onIoThread)
{
    {
        std::lock_guard lock(m_link->shared->mutex);
        ++m_link->shared->queued;
    }
    bool post = false;
    {
        std::lock_guard lock(m_queueMutex);
        m_queue.push_back(std::move(pending));
        post = !onIoThread && !m_dispatchPosted;
        m_dispatchPosted = m_dispatchPosted || post;
    }
    if (post) {
        // Still under the lease, so that the worker outlives the post (closing waits for the lease).
        QMetaObject::invokeMethod(this, &CLinkWorker::Dispatch, Qt::QueuedConnection);
    }
}

void CLinkWorker::Dispatch()
{
    std::lock_guard dispatch(m_link->dispatchMutex);
    for (;;) {
        Pending pending;
        {
            std::lock_guard lock(m_queueMutex);
            m_dispatchPosted = false;
            if (m_queue.empty()) {
                return;
            }
            pending = std::move(m_queue.front());
            m_queue.pop_front();
        }
        for (const QByteArray& frame : pending.frames) {
            Route(frame);
        }
        CReceiver::RawOutputCallback raw;
        {
            std::lock_guard lock(m_link->shared->mutex);
            raw = m_link->shared->raw;
        }
        if (raw && !pending.raw.isEmpty()) {
            raw(pending.raw.constData(), int(pending.raw.size()));
        }
        std::lock_guard lock(m_link->shared->mutex);
        ++m_link->shared->dispatched;
        m_link->shared->cv.notify_all();
    }
}

void CLinkWorker::HandleFrame(const char* data, int size, Pending& pending)
{
    const QByteArray frame(data, size);
    const uint16_t id = MsgId(data[0], data[1]);
    m_afterReply = false;
    if (id == kIdRE || id == kIdER) {
        if (TakeReply(frame)) {
            m_afterReply = true;
        } else {
            pending.raw.append(frame);
        }
        return;
    }
    pending.frames.push_back(frame);
    pending.raw.append(frame);
}

// ---------------------------------------------------------------------------------------------------------------
// Download: the only place where the stream bypasses the framer.

void CLinkWorker::StartDownload(std::shared_ptr<CDownloadSession> download)
{
    m_download = std::move(download);
    m_framer.Reset();
    m_resyncTimer->stop();
    m_blockTimeoutMs = m_link->conn ? m_link->conn->TimeoutMs() : 1500;
    m_blockTimer = new QTimer(this);
    m_blockTimer->setSingleShot(true);
    connect(m_blockTimer, &QTimer::timeout, this, &CLinkWorker::OnBlockTimeout);
    AfterDownloadStep(m_download->Begin());
}

void CLinkWorker::CancelDownload()
{
    if (m_download) {
        const QByteArray answer = m_download->Cancel();
        Write(answer);
        EndDownload();
    }
}

void CLinkWorker::OnDownloadBytes(const QByteArray& bytes)
{
    if (m_download) {
        AfterDownloadStep(m_download->Feed(bytes));
    } else {
        m_drainQuiet.start();  // still draining: the quiet starts again
    }
}

int CLinkWorker::StepWaitMs() const
{
    return m_download->WantsQuiet() ? std::min(CReceiver::kDrainQuietMs, m_blockTimeoutMs) : m_blockTimeoutMs;
}

void CLinkWorker::OnBlockTimeout()
{
    if (!m_download) {
        return;
    }
    // The timer is not restarted for every block (a timer registration each time): it runs out once per
    // time-out and looks at when the last block came.
    const qint64 left = StepWaitMs() - m_blockClock.elapsed();
    if (left > 0) {
        m_blockTimerMs = int(left);
        m_blockTimer->start(m_blockTimerMs);
        return;
    }
    AfterDownloadStep(m_download->OnTimeout());
}

void CLinkWorker::AfterDownloadStep(const QByteArray& answer)
{
    Write(answer);
    {
        std::lock_guard lock(m_link->shared->mutex);
        m_link->shared->downloadReceived = m_download->Received();
    }
    if (m_download->Finished()) {
        EndDownload();
        return;
    }
    m_blockClock.start();
    const int wait = StepWaitMs();
    if (!m_blockTimer->isActive() || wait < m_blockTimerMs) {
        m_blockTimerMs = wait;
        m_blockTimer->start(wait);
    }
    if (m_download->ProgressDue()) {
        Notify("IN:");
    }
}

void CLinkWorker::EndDownload()
{
    const bool drain = m_download->NeedsDrain();
    m_finalNotice = m_download->FinalNotice();
    m_download.reset();
    m_blockTimer->deleteLater();  // this may run inside its own time-out
    m_blockTimer = nullptr;
    bool up = false;
    {
        std::lock_guard lock(m_link->shared->mutex);
        up = m_link->shared->linkUp;
    }
    if (!drain || !up) {
        FinishDownload();
        return;
    }
    // Whatever the receiver still sends after an abort is read and dropped until the line is quiet, for a while.
    m_drainClock.start();
    m_drainQuiet.start();
    m_drainTimer = new QTimer(this);
    m_drainTimer->setSingleShot(true);
    connect(m_drainTimer, &QTimer::timeout, this, &CLinkWorker::OnDrainTimer);
    m_drainTimer->start(CReceiver::kDrainQuietMs);
}

void CLinkWorker::OnDrainTimer()
{
    const qint64 quiet = m_drainQuiet.elapsed();
    if (quiet >= CReceiver::kDrainQuietMs) {
        FinishDownload();
        return;
    }
    const qint64 left = CReceiver::kDrainLimitMs - m_drainClock.elapsed();
    if (left > 0) {
        m_drainTimer->start(int(std::min<qint64>(CReceiver::kDrainQuietMs - quiet, left)));
        return;
    }
    const QString why = QStringLiteral("the receiver kept sending after the transfer had ended");
    if (m_finalNotice.startsWith("ER")) {
        m_finalNotice += "; " + why.toUtf8() + ": the link is closed";
    }
    GiveUpLink(why);
    FinishDownload();
}

void CLinkWorker::FinishDownload()
{
    if (m_drainTimer) {
        m_drainTimer->deleteLater();  // this may run inside its own time-out
        m_drainTimer = nullptr;
    }
    {
        std::lock_guard lock(m_link->shared->mutex);
        m_link->shared->downloading = false;
        m_link->shared->cv.notify_all();
    }
    Notify(m_finalNotice);
}

void CLinkWorker::GiveUpLink(const QString& why)
{
    if (m_transport) {
        m_transport->Close();
    }
    OnDropped(why);
}

void CLinkWorker::Notify(const QByteArray& notice)
{
    std::vector<std::shared_ptr<Attachment>> targets;
    {
        std::lock_guard lock(m_link->shared->mutex);
        for (const auto& a : m_link->shared->attachments) {
            if (a->notices && a->callback) {
                targets.push_back(a);
            }
        }
    }
    std::lock_guard dispatch(m_link->dispatchMutex);
    for (const auto& a : targets) {
        m_link->curMsg = notice;
        m_link->curChannel = a->channel;
        a->callback(m_link->owner);
        m_link->curMsg.clear();
    }
}

// Hands a reply frame to the pairing. Returns false for an unsolicited untagged reply (raw output).
bool CLinkWorker::TakeReply(const QByteArray& frame)
{
    auto& shared = *m_link->shared;
    std::lock_guard lock(shared.mutex);
    switch (shared.pairing.OnReplyFrame(frame, Clock::now())) {
    case CReplyPairing::Take::Paired:
        shared.cv.notify_all();
        return true;
    case CReplyPairing::Take::Dropped:
        qCDebug(lcLink) << "dropped a reply of no waiting statement:" << frame.left(24);
        return true;
    case CReplyPairing::Take::Unsolicited:
        break;
    }
    return false;
}

void CLinkWorker::Route(const QByteArray& frame)
{
    const uint16_t id = MsgId(frame[0], frame[1]);
    std::vector<std::shared_ptr<Attachment>> targets;
    std::shared_ptr<CDirectReader> reader;
    {
        auto& shared = *m_link->shared;
        std::lock_guard lock(shared.mutex);
        reader = shared.reader;
        for (const auto& a : shared.attachments) {
            if (a->ids.count(id)) {
                targets.push_back(a);
            }
        }
    }
    for (const auto& a : targets) {
        if (a->table) {
            CAutoResetEvent* wake = nullptr;
            {
                std::lock_guard lock(m_link->conn->tableLock);
                for (GPSDATA& entry : *a->table) {
                    if (entry.id == 0) {
                        break;
                    }
                    if (entry.id == id) {
                        KeepMessage(entry, frame);
                        wake = entry.event;
                        break;
                    }
                }
            }
            if (wake) {
                wake->Set();
                if (reader && m_link->OnIoThread()) {
                    reader->InterruptCaller();  // a thread in WaitTableEvent may be reading the socket
                }
            }
        } else if (a->callback) {
            m_link->curMsg = frame;
            m_link->curChannel = a->channel;
            a->callback(m_link->owner);
            m_link->curMsg.clear();
        }
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Callers' side

bool CReceiver::IsPipelinable(const CommandBatch& batch)
{
    if (!batch.scripted || batch.stopOnErrors || batch.lines.size() < 2) {
        return false;
    }
    for (const QString& line : batch.lines) {
        const std::vector<Statement> chain = SplitChain(line);
        if (chain.size() != 1 ||
            !chain.front().text.trimmed().startsWith(QLatin1String("print,"), Qt::CaseInsensitive)) {
            return false;
        }
    }
    return true;
}

ReceiverLink::LineResult ReceiverLink::RunLine(const QString& line, uint64_t cancelsAtStart)
{
    LineResult result;
    const std::vector<Statement> statements = SplitChain(line);
    const size_t n = statements.size();
    QString wire;
    std::vector<CReplyPairing::Statement> expected;
    expected.reserve(n);
    const bool record = conn && conn->RecordsStatements();
    for (const Statement& s : statements) {
        if (record) {
            conn->RecordStatement((s.tagged ? QLatin1Char('%') + s.tag + QLatin1Char('%') : QString()) + s.text);
        }
        expected.push_back({NewPrivateTag(), s.separator == QLatin1String("&&")});
        wire += TaggedStatement(s, QString::fromLatin1(expected.back().tag));
        wire += s.separator;
    }
    wire += QLatin1String("\r\n");
    const int silenceMs = conn ? conn->TimeoutMs() : CConnection::kDefaultTimeout * CConnection::kTimeoutUnitMs;

    std::unique_lock lock(shared->mutex);
    if (RefusesLines(result)) {
        return result;
    }
    CReplyPairing& p = shared->pairing;
    p.Start(expected, silenceMs, Clock::now());
    const bool leased = LeaseReader();
    Send(wire.toLatin1());
    WaitForReplies(lock, cancelsAtStart, result, leased);

    for (size_t k = 0; k < n; ++k) {
        // A failed line keeps only the replies that are whole.
        if (result.answered ? p.Frames()[k].empty() : !p.IsWhole(k)) {
            continue;
        }
        result.error = result.error || IsErrorFrame(p.Frames()[k].front());
        result.frames.push_back(ReplyFrame(k, statements[k]));
    }
    return result;
}

bool ReceiverLink::RefusesLines(LineResult& result) const
{
    if (!shared->linkUp) {
        result.failure = CReceiver::Failure::LinkLost;
        result.why = shared->dropReason.isEmpty() ? QStringLiteral("The receiver is not connected")
                                                  : QStringLiteral("Link lost: ") + shared->dropReason;
        return true;
    }
    if (shared->downloading) {
        result.failure = CReceiver::Failure::LinkLost;
        result.why = QStringLiteral("A file download is running");
        return true;
    }
    return false;
}

ReceiverLink::LineResult ReceiverLink::RunPipelined(const QStringList& lines, uint64_t cancelsAtStart)
{
    LineResult result;
    std::vector<Statement> statements;
    std::vector<QByteArray> wires;
    std::vector<CReplyPairing::Statement> expected;
    for (const QString& line : lines) {
        const std::vector<Statement> chain = SplitChain(line);
        const Statement& s = chain.front();
        expected.push_back({NewPrivateTag(), false});
        wires.push_back(
            (TaggedStatement(s, QString::fromLatin1(expected.back().tag)) + QLatin1String("\r\n")).toLatin1());
        statements.push_back(s);
    }
    const size_t n = statements.size();
    const int silenceMs = conn ? conn->TimeoutMs() : CConnection::kDefaultTimeout * CConnection::kTimeoutUnitMs;

    std::unique_lock lock(shared->mutex);
    if (RefusesLines(result)) {
        return result;
    }
    CReplyPairing& p = shared->pairing;
    p.Start(expected, silenceMs, Clock::now());
    size_t sent = 0;
    const auto sendMore = [&] {
        qsizetype inFlight = 0;
        for (size_t k = 0; k < sent; ++k) {
            if (!p.IsWhole(k)) {
                inFlight += wires[k].size();
            }
        }
        QByteArray bytes;
        // A line longer than the window goes alone.
        while (sent < n && (inFlight == 0 || inFlight + wires[sent].size() <= CReceiver::kPipelineBytes)) {
            if (conn && conn->RecordsStatements()) {
                // Recorded as sent: a batch that fails has not sent the lines after its window.
                const Statement& s = statements[sent];
                conn->RecordStatement((s.tagged ? QLatin1Char('%') + s.tag + QLatin1Char('%') : QString()) + s.text);
            }
            inFlight += wires[sent].size();
            bytes += wires[sent++];
        }
        if (!bytes.isEmpty()) {
            p.OnMoreSent(Clock::now());
            Send(bytes);
        }
    };
    const bool leased = LeaseReader();
    sendMore();
    WaitForReplies(lock, cancelsAtStart, result, leased, sendMore);

    for (size_t k = 0; k < n && p.IsWhole(k); ++k) {
        result.error = result.error || IsErrorFrame(p.Frames()[k].front());
        result.frames.push_back(ReplyFrame(k, statements[k]));
    }
    return result;
}

bool ReceiverLink::LeaseReader()
{
    // Taken before the line goes out, so that its reply does not wake the I/O thread first.
    return shared->reader && !shared->downloading && shared->reader->TryLease(true);
}

bool ReceiverLink::ReadAsCaller(std::unique_lock<std::mutex>& lock, Clock::time_point deadline, bool routeTables)
{
    const std::shared_ptr<CDirectReader> reader = shared->reader;
    lock.unlock();
    Clock::time_point now = Clock::now();
    deadline = std::min(deadline, worker->GiveUpQuietGuess(now));
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
    bool keep = true;
    readBuffer.resize(0);  // keeps its capacity
    CDirectReader::Status status = CDirectReader::Status::Again;
    // A table waiter is woken by the I/O thread's Interrupt when it sets the event, which a blocked recv would see
    // only at the end of its slice.
    switch (reader->Receive(readBuffer, CTcpTransport::kReadChunk, int(std::clamp<long long>(wait, 0, 60'000)), status,
                            !routeTables)) {
    case CDirectReader::Wake::Readable: {
        if (status == CDirectReader::Status::Data) {
            worker->FrameAsCaller(readBuffer, routeTables);
        }
        keep = status == CDirectReader::Status::Data || status == CDirectReader::Status::Again;
        break;
    }
    case CDirectReader::Wake::TimedOut:
        worker->GiveUpQuietGuess(Clock::now());
        break;
    case CDirectReader::Wake::Interrupted:
        break;
    case CDirectReader::Wake::Closing:
        keep = false;
        break;
    }
    if (!keep) {
        EndCallerLease();
    }
    lock.lock();
    return keep;
}

bool ReceiverLink::WaitTableEvent(CAutoResetEvent& event, int timeoutMs)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    {
        std::unique_lock lock(shared->mutex);
        bool leased = shared->linkUp && LeaseReader();
        while (leased) {
            if (event.TryTake()) {
                EndCallerLease();
                return true;
            }
            if (Clock::now() >= deadline) {
                EndCallerLease();
                return false;
            }
            leased = ReadAsCaller(lock, deadline, true);
        }
    }
    // No lease, or it had to end: the I/O thread reads and sets the event.
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return event.Wait(int(std::max<long long>(left, 0)));
}

void ReceiverLink::EndCallerLease()
{
    worker->HandBackGuess();
    shared->reader->EndLease();
}

void ReceiverLink::WaitForReplies(std::unique_lock<std::mutex>& lock, uint64_t cancelsAtStart, LineResult& result,
                                  bool leased, const std::function<void()>& progress)
{
    CReplyPairing& p = shared->pairing;
    const bool usedLease = leased;
    Clock::time_point callbackDue =
        waiting ? Clock::now() + std::chrono::milliseconds(CReceiver::kWaitingCallbackMs) : Clock::time_point::max();
    for (;;) {
        // Completion first: a reply that arrived just before the link went down still counts.
        const CReplyPairing::State state = p.Check(Clock::now());
        if (state == CReplyPairing::State::Complete) {
            result.answered = true;
            break;
        }
        if (shared->cancels != cancelsAtStart) {
            result.failure = CReceiver::Failure::Cancelled;
            result.why = QStringLiteral("Cancelled by the user");
            break;
        }
        if (!shared->linkUp) {
            result.failure = CReceiver::Failure::LinkLost;
            result.why = QStringLiteral("Link lost: ") + shared->dropReason;
            break;
        }
        if (state == CReplyPairing::State::TimedOut) {
            result.failure = CReceiver::Failure::TimedOut;
            result.why = QStringLiteral("No reply from the receiver");
            break;
        }
        if (state == CReplyPairing::State::TooSlow) {
            result.failure = CReceiver::Failure::TimedOut;
            result.why = QStringLiteral("The receiver's reply took too long");
            break;
        }
        if (state == CReplyPairing::State::TooLarge) {
            result.failure = CReceiver::Failure::TimedOut;
            result.why = QStringLiteral("The receiver's reply is too long");
            break;
        }
        if (progress) {
            progress();
        }
        if (Clock::now() >= callbackDue) {
            callbackDue = Clock::time_point::max();
            const CReceiver::WaitingCallback callback = waiting;
            lock.unlock();
            callback();
            lock.lock();
            // What came meanwhile is read before the time-out is judged: the callback may have taken long.
            if (leased) {
                leased = ReadAsCaller(lock, Clock::now());
            }
            continue;
        }
        const Clock::time_point until = std::min(p.NextDeadline(), callbackDue);
        if (leased) {
            leased = ReadAsCaller(lock, until);
            continue;
        }
        shared->cv.wait_until(lock, until);
    }
    if (leased) {
        EndCallerLease();
    }
    p.Stop();
    if (usedLease) {
        // What this thread read before its replies is handed on before the command returns, as when the I/O
        // thread reads (a terminal shows the receiver's output in the order it came). Bounded: a message callback
        // that waits for this thread must not stall it.
        const uint64_t target = shared->queued;
        shared->cv.wait_for(lock, std::chrono::milliseconds(kHandOnWaitMs), [&] {
            return shared->dispatched >= target || !shared->linkUp || shared->cancels != cancelsAtStart;
        });
    }
    result.untagged = p.UntaggedWhileWaiting();
}

QByteArray ReceiverLink::ReplyFrame(size_t k, const Statement& statement) const
{
    const auto& frames = shared->pairing.Frames()[k];
    const QByteArray& first = frames.front();
    // The private tag gives way to the caller's own, or to none.
    QByteArrayView rest = QByteArrayView(first).sliced(CFramer::kHeaderSize);
    if (rest.startsWith('%') && rest.indexOf('%', 1) > 0) {
        rest = rest.sliced(rest.indexOf('%', 1) + 1);
    }
    QByteArray body;
    if (statement.tagged) {
        body = '%' + statement.tag.toLatin1() + '%';
    }
    body += rest;
    // A reply split over several frames is one line for the caller: the continuations lose their marking
    // blank and join the first frame. Its length field then says "FFF", the most three digits can hold.
    for (size_t c = 1; c < frames.size(); ++c) {
        body += QByteArrayView(frames[c]).sliced(std::min<qsizetype>(frames[c].size(), CFramer::kHeaderSize + 1));
    }
    QByteArray reply = BuildFrame(first.constData(), body);
    reply += QByteArrayView(body).sliced(std::min<qsizetype>(body.size(), CFramer::kMaxBody));
    return reply;
}

void ReceiverLink::StopThread()
{
    if (!thread) {
        return;
    }
    {
        std::lock_guard lock(shared->mutex);
        shared->closing = true;
        shared->linkUp = false;
        shared->WakeWaiters();
    }
    CLinkWorker* w = worker;
    QMetaObject::invokeMethod(
        worker, [w] { w->Shutdown(); }, Qt::BlockingQueuedConnection);
    thread->quit();
    thread->wait();
    delete worker;
    delete thread;
    worker = nullptr;
    thread = nullptr;
    open = false;
    std::lock_guard lock(shared->mutex);
    shared->attachments.clear();
}

// ---------------------------------------------------------------------------------------------------------------

CReceiver::CReceiver() : m_link(std::make_unique<ReceiverLink>())
{
    m_link->owner = this;
}

CReceiver::~CReceiver()
{
    Close(true);
}

int CReceiver::Open(CConnection* connection, const QString& name, int flags)
{
    const bool listenOnly = (flags & kOpenListenOnly) != 0;
    const uint64_t cancels = m_link->Cancels();
    if (!connection) {
        m_link->SetReply(QStringLiteral("No connection"), Failure::LinkLost);
        return 0;
    }
    if (m_link->OnIoThread()) {
        m_link->SetReply(QStringLiteral("A receiver can't be opened from its own message callback"), Failure::LinkLost);
        return 0;
    }
    if (m_link->open && m_link->name == name && m_link->conn == connection->Core()) {
        std::lock_guard lock(m_link->shared->mutex);
        if (m_link->shared->linkUp) {
            return 1;
        }
    }
    Close(false);

    const ReceiverAddress address = connection->AddressOf(name);
    if (address.kind == ReceiverAddress::Kind::Invalid) {
        m_link->SetReply(QStringLiteral("Unknown receiver \"%1\"").arg(name), Failure::LinkLost);
        return 0;
    }
    m_link->conn = connection->Core();
    m_link->name = name;
    {
        std::lock_guard lock(m_link->shared->mutex);
        RawOutputCallback raw = listenOnly ? std::move(m_link->shared->raw) : nullptr;
        m_link->shared->Reset();
        m_link->shared->raw = std::move(raw);
        m_link->shared->passThrough = listenOnly;
    }
    m_link->thread = new QThread;
    m_link->thread->setObjectName(QStringLiteral("link ") + ReceiverShortName(name));
    m_link->worker = new CLinkWorker(m_link.get(), address, connection->GetPassword());
    m_link->worker->moveToThread(m_link->thread);
    m_link->thread->start();
    m_link->Post([w = m_link->worker] { w->Start(); });

    auto& shared = *m_link->shared;
    {
        std::unique_lock lock(shared.mutex);
        shared.cv.wait_for(lock, std::chrono::milliseconds(kTransportOpenTimeoutMs),
                           [&] { return shared.openDone || shared.cancels != cancels; });
        if (!shared.openDone || !shared.linkUp) {
            const bool cancelled = !shared.openDone && shared.cancels != cancels;
            const QString why = shared.openDone ? shared.openError
                                : cancelled     ? QStringLiteral("Cancelled by the user")
                                                : QStringLiteral("%1: the port did not open").arg(name);
            lock.unlock();
            m_link->StopThread();
            m_link->SetReply(why, cancelled ? Failure::Cancelled : Failure::LinkLost);
            return 0;
        }
    }
    m_link->open = true;
    if (listenOnly) {
        m_link->SetReply(QString());
        return 1;
    }

    ReceiverLink::LineResult probe;
    for (int attempt = 1; attempt <= kOpenAttempts; ++attempt) {
        if (m_link->conn->ReportAttempt(uint32_t(attempt))) {
            Close(false);
            m_link->SetReply(QStringLiteral("Connection to %1 cancelled").arg(ReceiverShortName(name)),
                             Failure::Cancelled);
            return 0;
        }
        probe = m_link->RunLine(QStringLiteral("print,/par/rcv/model"), cancels);
        if (probe.answered) {
            m_link->SetReply(QString());
            return 1;
        }
        if (probe.failure != Failure::TimedOut) {
            break;
        }
    }
    QString why = probe.why;
    if (probe.failure == Failure::TimedOut) {
        // Replies without the link's tags can't be told from stray output; say so rather than "no answer".
        why = probe.untagged > 0
                  ? QStringLiteral("The receiver on %1 answers without identifier tags").arg(ReceiverShortName(name))
                  : QStringLiteral("The receiver on %1 does not answer").arg(ReceiverShortName(name));
    }
    Close(false);
    m_link->SetReply(why, probe.failure);
    return 0;
}

void CReceiver::Close(bool /*force*/)
{
    if (m_link->OnIoThread()) {
        // Can't join the thread we are on; stop routing so that nothing more arrives.
        std::lock_guard lock(m_link->shared->mutex);
        m_link->shared->attachments.clear();
        return;
    }
    // Joining the I/O thread is what guarantees that no callback runs afterwards.
    m_link->StopThread();
}

bool CReceiver::IsOpen() const
{
    if (!m_link->open) {
        return false;
    }
    std::lock_guard lock(m_link->shared->mutex);
    return m_link->shared->linkUp;
}

QString CReceiver::GetName() const
{
    return m_link->name;
}

int CReceiver::SendCommand(const QString& text, RawOutputCallback callback)
{
    const uint64_t cancels = m_link->Cancels();
    {
        std::lock_guard lock(m_link->shared->mutex);
        m_link->shared->raw = std::move(callback);
    }
    if (text.trimmed().isEmpty()) {
        return 1;
    }
    if (m_link->OnIoThread()) {
        m_link->SetReply(QStringLiteral("Commands can't be sent from a message callback"), Failure::LinkLost);
        return 0;
    }
    if (!m_link->open) {
        m_link->SetReply(QStringLiteral("The receiver is not open"), Failure::LinkLost);
        return 0;
    }
    const CommandBatch batch = ParseCommandBatch(text);
    QByteArray reply;
    Failure failure = Failure::None;
    QString why;
    if (IsPipelinable(batch)) {
        // Error replies do not stop such a batch, so its lines may go ahead of their answers.
        const auto r = m_link->RunPipelined(batch.lines, cancels);
        for (const QByteArray& frame : r.frames) {
            reply += frame;
            reply += "\r\n";
        }
        if (!r.answered) {
            failure = r.failure;
            why = r.why;
        }
        m_link->SetReply(why.isEmpty() ? QString::fromLatin1(reply) : QString::fromLatin1(reply) + why, failure);
        return failure == Failure::None ? 1 : 0;
    }
    for (const QString& line : batch.lines) {
        const auto r = m_link->RunLine(line, cancels);
        for (const QByteArray& frame : r.frames) {
            reply += frame;
            reply += "\r\n";
        }
        if (!r.answered) {
            failure = r.failure;
            why = r.why;
            break;
        }
        if (r.error) {
            if (!batch.scripted || batch.stopOnErrors) {
                failure = Failure::ErrorReply;
            }
            if (batch.scripted && batch.stopOnErrors) {
                break;
            }
        }
    }
    m_link->SetReply(why.isEmpty() ? QString::fromLatin1(reply) : QString::fromLatin1(reply) + why, failure);
    return failure == Failure::None ? 1 : 0;
}

void CReceiver::SetWaitingCallback(WaitingCallback callback)
{
    std::lock_guard lock(m_link->shared->mutex);
    m_link->waiting = std::move(callback);
}

QString CReceiver::GetReplyString() const
{
    std::lock_guard lock(m_link->replyMutex);
    return m_link->reply;
}

CReceiver::Failure CReceiver::LastFailure() const
{
    std::lock_guard lock(m_link->replyMutex);
    return m_link->failure;
}

bool CReceiver::WaitTableEvent(CAutoResetEvent& event, int timeoutMs)
{
    return m_link->WaitTableEvent(event, timeoutMs);
}

void CReceiver::WakeTableWaiter()
{
    std::lock_guard lock(m_link->shared->mutex);
    m_link->shared->WakeWaiters();
}

void CReceiver::Cancel()
{
    std::lock_guard lock(m_link->shared->mutex);
    ++m_link->shared->cancels;
    m_link->shared->WakeWaiters();
}

int CReceiver::Attach(unsigned char channel, MessageCallback callback, const QString& messageSet, GpsDataTable* table)
{
    if ((callback == nullptr) == (table == nullptr)) {
        m_link->SetReply(QStringLiteral("Attach needs either a message table or a callback"));
        return 0;
    }
    const auto items = ParseMessageSet(messageSet);
    if (items.empty()) {
        m_link->SetReply(QStringLiteral("Empty message set"));
        return 0;
    }
    auto a = std::make_shared<Attachment>();
    a->channel = channel;
    a->callback = std::move(callback);
    a->table = table;
    QStringList group;
    for (const SetItem& item : items) {
        if (item.name == kNoticeSet) {
            a->notices = true;
            continue;
        }
        const QByteArray wire = KvsStreamId(item.name);
        a->ids.insert(MsgId(wire[0], wire[1]));
        a->names << item.name;
        group << QLatin1Char('/') + item.name + QLatin1Char(':') +
                     (item.interval.isEmpty() ? QStringLiteral("1") : item.interval);
    }
    // Route first, so that nothing sent in answer to the em command is missed.
    {
        std::lock_guard lock(m_link->shared->mutex);
        auto& list = m_link->shared->attachments;
        list.erase(std::remove_if(list.begin(), list.end(), [channel](const auto& x) { return x->channel == channel; }),
                   list.end());
        list.push_back(a);
    }
    if (group.isEmpty() || SendCommand(QStringLiteral("em,,kvs{") + group.join(QLatin1Char(',')) + QLatin1Char('}'))) {
        return 1;
    }
    {
        std::lock_guard lock(m_link->shared->mutex);
        auto& list = m_link->shared->attachments;
        list.erase(std::remove(list.begin(), list.end(), a), list.end());
    }
    return 0;
}

int CReceiver::Detach(unsigned char channel)
{
    QStringList stop;
    {
        std::lock_guard lock(m_link->shared->mutex);
        auto& list = m_link->shared->attachments;
        std::shared_ptr<Attachment> gone;
        for (auto it = list.begin(); it != list.end(); ++it) {
            if ((*it)->channel == channel) {
                gone = *it;
                list.erase(it);
                break;
            }
        }
        if (!gone) {
            return 1;
        }
        for (const QString& name : gone->names) {
            bool used = false;
            for (const auto& other : list) {
                used = used || other->names.contains(name);
            }
            if (!used) {
                stop << QLatin1Char('/') + name;
            }
        }
    }
    if (m_link->OnIoThread()) {
        return 1;
    }
    // Wait until a callback of this channel that is running has returned.
    {
        std::lock_guard dispatch(m_link->dispatchMutex);
    }
    if (!stop.isEmpty() && IsOpen()) {
        const QString reply = GetReplyString();
        const Failure failure = LastFailure();
        SendCommand(QStringLiteral("dm,,kvs{") + stop.join(QLatin1Char(',')) + QLatin1Char('}'));
        m_link->SetReply(reply, failure);
    }
    return 1;
}

unsigned char CReceiver::readMsgBuf(int i) const
{
    const QByteArray& m = m_link->curMsg;
    return i >= 0 && i < m.size() ? static_cast<unsigned char>(m[i]) : 0;
}

char* CReceiver::getMsgBuf(int offset)
{
    QByteArray& m = m_link->curMsg;
    return offset >= 0 && offset <= m.size() ? m.data() + offset : nullptr;
}

int CReceiver::getMsgBufSize() const
{
    return int(m_link->curMsg.size());
}

bool CReceiver::IsMsgBufEmpty() const
{
    return m_link->curMsg.isEmpty();
}

void CReceiver::setMsgBuf(int i, unsigned char value)
{
    QByteArray& m = m_link->curMsg;
    if (i >= 0 && i < m.size()) {
        m[i] = static_cast<char>(value);
    }
}

void CReceiver::add2MsgBuf(unsigned char value)
{
    m_link->curMsg.append(static_cast<char>(value));
}

unsigned char CReceiver::getMsgChannel() const
{
    return m_link->curChannel;
}

CFramer::Stats CReceiver::GetStreamStats() const
{
    std::lock_guard lock(m_link->shared->mutex);
    return m_link->shared->stats;
}

// ---------------------------------------------------------------------------------------------------------------
// Download, callers' side

int CReceiver::DownloadFile(const QString& name, const QString& localPath, int blockSize, bool replace)
{
    const uint64_t cancels = m_link->Cancels();
    auto fail = [this](const QString& why, Failure failure = Failure::ErrorReply) {
        m_link->SetReply(why, failure);
        return 0;
    };
    if (m_link->OnIoThread()) {
        return fail(QStringLiteral("Commands can't be sent from a message callback"), Failure::LinkLost);
    }
    if (!m_link->open) {
        return fail(QStringLiteral("The receiver is not open"), Failure::LinkLost);
    }
    const QString problem = FileNameProblem(name);
    if (!problem.isEmpty()) {
        return fail(problem + QStringLiteral(": \"") + PrintableName(name) + QLatin1Char('"'));
    }
    if (blockSize < 512 || blockSize > 16384) {
        return fail(QStringLiteral("Block size %1 is not in 512 to 16384").arg(blockSize));
    }
    // The local names are checked before the receiver is asked anything.
    CDownloadFiles files;
    QString why;
    if (localPath.isEmpty() || !files.Open(localPath, replace, &why)) {
        return fail(why.isEmpty() ? QStringLiteral("No local file name") : why);
    }
    // One command at a time; its reply text is the failure's text.
    auto run = [&](const QString& command, QString* value) {
        const auto r = m_link->RunLine(command, cancels);
        QString text;
        for (const QByteArray& frame : r.frames) {
            text += QString::fromLatin1(frame) + QStringLiteral("\r\n");
        }
        if (!r.answered || r.error) {
            m_link->SetReply(text + r.why, r.answered ? Failure::ErrorReply : r.failure);
            return false;
        }
        *value = text;
        return true;
    };
    QString reply;
    if (!run(QStringLiteral("print,/log/%1&size").arg(name), &reply)) {
        return 0;
    }
    DownloadPlan plan;
    plan.name = name;
    plan.finalPath = localPath;
    plan.blockSize = blockSize;
    bool ok = false;
    plan.size = AnswerValue(reply).toLongLong(&ok);
    if (!ok || plan.size < 0) {
        return fail(QStringLiteral("The receiver gave no size for ") + name);
    }
    // The listing gives the file's time, so that a partial file is resumed only for the same file.
    int64_t time = -1;
    QString listing;
    if (run(QStringLiteral("print,/log/&[name,size,time]"), &listing)) {
        // A record the listing could not read is passed over, so the others still give their times.
        for (const ReceiverFileRecord& r : ParseFileListing(listing)) {
            if (r.name == name && r.size == plan.size) {
                time = r.time;
            }
        }
    }
    const QByteArray source = name.toUtf8() + '\n' + QByteArray::number(qlonglong(plan.size)) + '\n' +
                              QByteArray::number(qlonglong(time)) + '\n';
    plan.offset = time >= 0 ? files.Resume(source, plan.size) : 0;
    if (plan.offset == 0 && !files.StartFresh(time >= 0 ? source : QByteArray(), &why)) {
        return fail(why);
    }
    auto download = std::make_shared<CDownloadSession>(plan, std::move(files));
    const QString offset = plan.offset > 0 ? QLatin1Char(',') + QString::number(plan.offset) : QString();
    if (!run(QStringLiteral("get,/log/%1%2:{%3,%4}").arg(name, offset).arg(kGetTimeoutS).arg(blockSize), &reply)) {
        return 0;
    }
    {
        std::lock_guard lock(m_link->shared->mutex);
        m_link->shared->downloading = true;
        m_link->shared->downloadSize = plan.size;
        m_link->shared->downloadReceived = plan.offset;
    }
    m_link->Post([w = m_link->worker, download] { w->StartDownload(download); });
    m_link->SetReply(QString());
    return 1;
}

void CReceiver::CancelDownload()
{
    if (m_link->worker) {
        m_link->Post([w = m_link->worker] { w->CancelDownload(); });
    }
}

bool CReceiver::IsDownloading() const
{
    std::lock_guard lock(m_link->shared->mutex);
    return m_link->shared->downloading;
}

int64_t CReceiver::GetDownloadSize() const
{
    std::lock_guard lock(m_link->shared->mutex);
    return m_link->shared->downloadSize;
}

int64_t CReceiver::GetDownloadReceived() const
{
    std::lock_guard lock(m_link->shared->mutex);
    return m_link->shared->downloadReceived;
}
