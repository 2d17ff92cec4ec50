#include "link/LinkWorker.h"

#include "link/AutoResetEvent.h"
#include "link/DownloadSession.h"
#include "link/Transports.h"

#include <QLoggingCategory>
#include <QThread>
#include <QTimer>

Q_LOGGING_CATEGORY(lcLink, "nemola.link")

namespace {

constexpr uint16_t kIdRE = MsgId('R', 'E');
constexpr uint16_t kIdER = MsgId('E', 'R');

}  // namespace

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
