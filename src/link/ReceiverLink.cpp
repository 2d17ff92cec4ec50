#include "link/ReceiverLink.h"

#include "link/AutoResetEvent.h"
#include "link/LinkWorker.h"
#include "link/Transports.h"

#include <atomic>

namespace {

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

}  // namespace

void ReceiverLink::Post(std::function<void()> fn)
{
    QMetaObject::invokeMethod(worker, std::move(fn), Qt::QueuedConnection);
}

void ReceiverLink::Send(const QByteArray& bytes)
{
    shared->passThrough = false;  // replies may come from now on
    if (!shared->writer || shared->writer->Write(bytes) == CDirectWriter::Result::Closed) {
        Post([w = worker, bytes] { w->Write(bytes); });
    }
}

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
