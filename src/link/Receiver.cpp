#include "link/Receiver.h"

#include "link/DownloadSession.h"
#include "link/FileListing.h"
#include "link/LinkWorker.h"
#include "link/ReceiverLink.h"
#include "link/ReceiverName.h"
#include "link/Scan.h"
#include "link/Transports.h"

#include <QThread>

#include <chrono>
#include <mutex>

namespace {

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

// The link's own notice set: routed locally, never asked of the receiver.
const QString kNoticeSet = QStringLiteral("WL");

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
