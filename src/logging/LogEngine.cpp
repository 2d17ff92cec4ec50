#include "logging/LogEngine.h"

#include "link/Checksum.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <thread>
#include <vector>

namespace {

constexpr uint16_t Id(char a, char b)
{
    return static_cast<uint16_t>((static_cast<uint8_t>(a) << 8) | static_cast<uint8_t>(b));
}

using Clock = std::chrono::steady_clock;

constexpr int kIdRange = 0x7F - 0x30;
constexpr uint16_t kNoIndex = 0xFFFF;  // a message whose identifier has no counter
constexpr uint16_t kTime = Id('~', '~');
constexpr uint16_t kDate = Id('R', 'D');
constexpr uint16_t kFormat = Id('M', 'F');
constexpr uint16_t kIdent = Id('K', 'V');
constexpr uint16_t kSats = Id('S', 'I');
constexpr uint16_t kSlots = Id('N', 'N');

// The receiver's own message-format frame, for files whose stream brought none yet.
const QByteArray kDefaultFormat = QByteArrayLiteral("MF009KV01010BF\n");

uint32_t U32(const char* p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;  // the wire is little-endian, as are the hosts this runs on
}

// A copy of a message with its LF; the array's block is reused, so that keeping the time of every epoch
// allocates nothing.
void Keep(QByteArray& to, const char* data, int size)
{
    to.resize(size + 1);
    std::memcpy(to.data(), data, size_t(size));
    to[size] = '\n';
}

class CFileWriter : public ILogFileWriter
{
public:
    bool Create(const QString& path, bool replace, QString* error) override
    {
        m_file.setFileName(path);
        const QIODevice::OpenMode mode =
            QIODevice::WriteOnly | QIODevice::Unbuffered | (replace ? QIODevice::Truncate : QIODevice::NewOnly);
        if (m_file.open(mode)) {
            return true;
        }
        *error = m_file.errorString();
        return false;
    }
    bool Write(const char* data, int64_t size, QString* error) override
    {
        while (size > 0) {
            const qint64 n = m_file.write(data, size);
            if (n <= 0) {
                *error = m_file.errorString();
                return false;
            }
            data += n;
            size -= n;
        }
        return true;
    }
    void Truncate(int64_t size) override { m_file.resize(size); }
    bool Close(QString* error) override
    {
        const bool flushed = m_file.flush();
        if (!flushed) {
            *error = m_file.errorString();
        }
        m_file.close();
        return flushed;
    }

private:
    QFile m_file;
};

}  // namespace

std::unique_ptr<ILogFileWriter> MakeFileWriter()
{
    return std::make_unique<CFileWriter>();
}

QString LogTypeExtension(LogType type)
{
    switch (type) {
        case LogType::Kvs:
            return QStringLiteral("kvs");
        case LogType::Cmr:
            return QStringLiteral("cmr");
        case LogType::Nmea:
            return QStringLiteral("nmea");
        case LogType::Rtcm:
            return QStringLiteral("rtcm");
    }
    return QString();
}

int64_t FirstBoundary(double seconds, int unitSeconds, int every)
{
    const int64_t b = static_cast<int64_t>(seconds / unitSeconds) + 1;
    return (b + every - 1) / every * every;
}

int64_t BoundaryAfter(double units, int every)
{
    return (static_cast<int64_t>(std::floor(units / every)) + 1) * every;
}

void CivilDate(int64_t days, int* year, int* month, int* day)
{
    // Civil from days (proleptic Gregorian), the inverse of DayNumber.
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t doe = days - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    *day = int(doy - (153 * mp + 2) / 5 + 1);
    *month = int(mp < 10 ? mp + 3 : mp - 9);
    *year = int(yoe + era * 400 + (*month <= 2));
}

int64_t DayNumber(int year, int month, int day)
{
    // Days from civil date (proleptic Gregorian).
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yoe = year - era * 400;
    const int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

struct CLogEngine::Impl
{
    LogWriterFactory factory;
    LogClock clock;
    StoppedCallback stopped;
    FileDoneCallback fileDone;

    mutable std::mutex lock;
    State state = State::Idle;
    LogOptions opt;
    QString error;
    LogCounts counts;

    std::unique_ptr<ILogFileWriter> file;
    QString fileName;
    // Written messages not yet handed to the writer: a plain block that only grows, so that a message costs one
    // copy and no allocation.
    std::vector<char> buffer;
    size_t buffered = 0;
    // Messages by identifier, both characters 0x30..0x7E as on the wire: a counter per message at the cost of
    // an index, not a tree lookup.
    std::vector<int64_t> byId = std::vector<int64_t>(kIdRange * kIdRange, 0);
    // The counter index of each gathered message, so that a write error takes back exactly what it lost.
    std::vector<uint16_t> bufferIds;
    int64_t bufferMessages = 0;
    int64_t goodBytes = 0;        // of the current file, known to be on the medium
    Clock::time_point lastFlush;  // when gathered bytes last left for the medium

    // Write-behind: a thread of the engine writes one block, outside the engine's lock, while the next gathers, so
    // that a medium that stalls does not stall the link. The block and its result are under `writeLock`, which
    // the writer holds while it writes; it is taken after `lock`, never before. The writer also hands on what
    // waited kFlushMs: an epoch arrives as one burst, so with long intervals nothing in the feed would.
    struct Block
    {
        std::vector<char> bytes;
        size_t size = 0;
        int64_t messages = 0;
        std::vector<uint16_t> ids;
        ILogFileWriter* target = nullptr;
        bool pending = false;  // handed over, not written yet
        bool done = false;     // written or failed, its result not taken yet
        bool ok = true;
        QString error;
    };
    std::mutex writeLock;
    std::condition_variable writerWake, writerIdle;
    Block writing;
    bool quit = false;
    std::thread writer;

    bool waitingForFile = false;  // started, first file opens at an epoch start
    bool firstWritten = false;
    bool formatWritten = false;

    // For FeedStream: a raw stream is joined wherever the recording met it.
    CFramer framer = [] {
        CFramer f;
        f.StartMidStream();
        return f;
    }();

    // Receiver time keeping.
    QByteArray savedTime, savedDate, savedSats, savedSlots, savedFormat;
    int64_t firstDay = -1;  // day number of the first date of the recording
    int64_t day = 0;        // days since firstDay
    uint32_t lastDate = 0;
    int64_t lastTimeMs = -1;
    int64_t measuredMs = 0;  // the last step between epoch times, for a recording without an interval of its own
    double recordingTime = -1;
    int64_t nextBoundary = 0;
    double fileStart = 0;  // recording time the next file stands for (its name)

    Clock::time_point Now() const { return clock ? clock() : Clock::now(); }
    double Interval() const { return opt.interval > 0 ? opt.interval : measuredMs / 1000.0; }
    // The current epoch in units, early by the half interval that time jitter may put an epoch before its boundary.
    double Units() const { return (recordingTime + 0.5 * Interval()) / opt.unitSeconds; }

    // Returns a finished file's path for the done callback, or an error text in `failure`.
    bool OpenNext(QString* failure, QString* finished);
    bool CloseFile(QString* failure, QString* finished);
    // Waits for the writer's block and takes its result: its bytes are on the medium, or `failure` says why not
    // (the block then stays, lost, for Fail to count).
    bool Drain(QString* failure);
    // Sends the gathered bytes on, after the writer's block: `behind`, handed to the writer; else written before it
    // returns.
    bool Send(QString* failure, bool behind);
    bool HandOff(QString* failure) { return Send(failure, true); }
    bool Flush(QString* failure) { return Send(failure, false); }
    void Put(const char* data, int size, uint16_t id, bool lf = false);
    void WriteHeader(const QByteArray& time);
    QString NextName();
    // Ends the recording at a write error; false when it had already failed (the failure is reported once).
    bool Fail(const QString& why);
    void RunWriter();
    // The writer's look at the engine between blocks: a failure stops the recording at once, and what waited a
    // second is handed on.
    void Tick();

    // What taking messages did that the engine's callbacks must hear of, outside the lock.
    struct Effects
    {
        std::vector<QString> finished;
        bool failed = false;
    };
    // One delivered message, under the lock.
    void Take(const char* data, int size, int channel, Effects& fx);
    // Its steps: keep what a new file's header needs (true at an epoch's time), decide whether the file changes
    // (false while no file may open yet), write by the log's header rules, hand the block over when it is due.
    bool KeepSaved(const char* data, int size, uint16_t id, int channel);
    bool FileChangeDue(bool epochStart, bool* change);
    void WriteKvs(const char* data, int size, uint16_t id);
    void HandOffIf(bool due, Effects& fx);
};

QString CLogEngine::Impl::NextName()
{
    const QString ext = LogTypeExtension(opt.type);
    if (opt.singleFile) {
        return opt.singleName.trimmed();
    }
    if (opt.timeNames) {
        int year =
            savedDate.size() >= 9 ? static_cast<uint8_t>(savedDate[5]) | static_cast<uint8_t>(savedDate[6]) << 8 : 0;
        int month = savedDate.size() >= 9 ? static_cast<uint8_t>(savedDate[7]) : 0;
        int mday = savedDate.size() >= 9 ? static_cast<uint8_t>(savedDate[8]) : 0;
        const int64_t start = static_cast<int64_t>(std::max(0.0, fileStart));
        // The day from the day count: at midnight the saved date is still yesterday's when the time arrives.
        if (firstDay >= 0) {
            CivilDate(firstDay + start / 86400, &year, &month, &mday);
        }
        const int64_t tod = start % 86400;
        QString name = opt.prefix.trimmed() + QString::asprintf("%02d%02d%02d %02d%02d%02d", year % 100, month, mday,
                                                                int(tod / 3600), int(tod / 60 % 60), int(tod % 60));
        // Two files in the same second (a restart, a time jump back) never share a name.
        QString candidate = name + QLatin1Char('.') + ext;
        for (int n = 2; !opt.overwrite && QFileInfo::exists(opt.folder + candidate); ++n) {
            candidate = name + QStringLiteral("_%1.").arg(n) + ext;
        }
        return candidate;
    }
    QString candidate;
    do {
        candidate = opt.prefix.trimmed() + QString::asprintf("%03d.", opt.counter++) + ext;
    } while (!opt.overwrite && QFileInfo::exists(opt.folder + candidate) && opt.counter < 1000000);
    return candidate;
}

bool CLogEngine::Impl::Drain(QString* failure)
{
    std::unique_lock w(writeLock);
    writerIdle.wait(w, [&] { return !writing.pending; });
    if (!writing.done) {
        return true;
    }
    if (!writing.ok) {
        *failure = writing.error;
        return false;
    }
    goodBytes += int64_t(writing.size);
    writing.done = false;
    writing.size = 0;
    writing.messages = 0;
    writing.ids.clear();
    return true;
}

bool CLogEngine::Impl::Send(QString* failure, bool behind)
{
    if (!Drain(failure)) {
        return false;
    }
    if (buffered == 0 || !file) {
        return true;
    }
    if (behind) {
        std::lock_guard w(writeLock);
        // The blocks change places: gathering goes on in the one just written, without an allocation.
        std::swap(buffer, writing.bytes);
        std::swap(bufferIds, writing.ids);
        writing.size = buffered;
        writing.messages = bufferMessages;
        writing.target = file.get();
        writing.pending = true;
    } else if (file->Write(buffer.data(), int64_t(buffered), failure)) {
        goodBytes += int64_t(buffered);
    } else {
        return false;
    }
    buffered = 0;
    bufferMessages = 0;
    bufferIds.clear();
    lastFlush = Now();
    if (behind) {
        writerWake.notify_one();
    }
    return true;
}

bool CLogEngine::Impl::CloseFile(QString* failure, QString* finished)
{
    if (!file) {
        return true;
    }
    // A failure keeps the writer: Fail cuts the file back to its whole records before it lets go of it.
    if (!Flush(failure) || !file->Close(failure)) {
        return false;
    }
    *finished = opt.folder + fileName;
    file.reset();
    return true;
}

bool CLogEngine::Impl::OpenNext(QString* failure, QString* finished)
{
    if (!CloseFile(failure, finished)) {
        return false;
    }
    fileName = NextName();
    auto next = factory ? factory() : MakeFileWriter();
    const bool replace = opt.overwrite || opt.singleFile;
    if (!next->Create(opt.folder + fileName, replace, failure)) {
        return false;
    }
    file = std::move(next);
    goodBytes = 0;
    counts.fileBytes = 0;
    counts.fileMessages = 0;
    ++counts.files;
    firstWritten = false;
    formatWritten = false;
    lastFlush = Now();
    return true;
}

void CLogEngine::Impl::Put(const char* data, int size, uint16_t id, bool lf)
{
    const size_t need = buffered + size_t(size) + 1;
    if (need > buffer.size()) {
        buffer.resize(std::max(need, buffer.size() * 2));
    }
    std::memcpy(buffer.data() + buffered, data, size_t(size));
    if (lf) {
        buffer[buffered + size_t(size)] = '\n';
        ++size;
    }
    buffered += size_t(size);
    ++bufferMessages;
    ++counts.messages;
    ++counts.fileMessages;
    counts.bytes += size;
    counts.fileBytes += size;
    const int hi = (id >> 8) - 0x30;
    const int lo = (id & 0xFF) - 0x30;
    uint16_t index = kNoIndex;
    if (hi >= 0 && hi < kIdRange && lo >= 0 && lo < kIdRange) {
        index = uint16_t(hi * kIdRange + lo);
        ++byId[index];
    }
    bufferIds.push_back(index);
}

// A file that starts at an epoch: the format, the date, this epoch's time and the satellite lists the receiver
// may not repeat, so that the file reads on its own.
void CLogEngine::Impl::WriteHeader(const QByteArray& time)
{
    const QByteArray& format = savedFormat.isEmpty() ? kDefaultFormat : savedFormat;
    Put(format.constData(), int(format.size()), kFormat);
    // The date of this epoch: at midnight its own date message comes after its time, so the saved one is
    // yesterday's.
    QByteArray date = savedDate;
    if (firstDay >= 0 && date.size() == 12 && date.startsWith("RD006")) {
        int year = 0, month = 0, mday = 0;
        CivilDate(firstDay + day, &year, &month, &mday);
        date[5] = char(year & 0xFF);
        date[6] = char(year >> 8);
        date[7] = char(month);
        date[8] = char(mday);
        date[10] = char(Checksum8(date.constData(), 10));
    }
    const QByteArray* parts[] = {&date, &time, &savedSats, &savedSlots};
    for (const QByteArray* m : parts) {
        if (!m->isEmpty()) {
            Put(m->constData(), int(m->size()), Id((*m)[0], (*m)[1]));
        }
    }
    firstWritten = true;
    formatWritten = true;
}

bool CLogEngine::Impl::Fail(const QString& why)
{
    if (state == State::Failed) {
        return false;
    }
    // The writer's block, written or not: what failed of it is lost with what was still gathering.
    QString ignored;
    Drain(&ignored);
    Block lost;
    {
        std::lock_guard w(writeLock);
        if (writing.done) {
            lost.size = writing.size;
            lost.messages = writing.messages;
            std::swap(lost.ids, writing.ids);
            writing.done = false;
            writing.size = 0;
            writing.messages = 0;
        }
    }
    lost.size += buffered;
    lost.messages += bufferMessages;
    lost.ids.insert(lost.ids.end(), bufferIds.begin(), bufferIds.end());
    counts.lostMessages = lost.messages;
    counts.lostBytes = int64_t(lost.size);
    // The counts say what is on the medium.
    counts.messages -= lost.messages;
    counts.fileMessages -= lost.messages;
    counts.bytes -= int64_t(lost.size);
    counts.fileBytes -= int64_t(lost.size);
    for (const uint16_t index : lost.ids) {
        if (index != kNoIndex) {
            --byId[index];
        }
    }
    bufferIds.clear();
    buffered = 0;
    bufferMessages = 0;
    if (file) {
        // Keep every byte that reached the medium and nothing of a half-written message.
        file->Truncate(goodBytes);
        QString ignored;
        file->Close(&ignored);
        file.reset();
    }
    error = why;
    state = State::Failed;
    waitingForFile = false;
    return true;
}

void CLogEngine::Impl::RunWriter()
{
    for (;;) {
        {
            std::unique_lock w(writeLock);
            writerWake.wait_for(w, std::chrono::milliseconds(kFlushMs / 8), [&] { return quit || writing.pending; });
            if (quit) {
                return;
            }
            if (writing.pending) {
                QString error;
                writing.ok = writing.target->Write(writing.bytes.data(), int64_t(writing.size), &error);
                writing.error = error;
                writing.pending = false;
                writing.done = true;
                writerIdle.notify_all();
            }
        }
        Tick();
    }
}

void CLogEngine::Impl::Tick()
{
    StoppedCallback callback;
    QString failure;
    {
        // Never waits for the engine: whoever holds it may be waiting for this thread's next block, and takes the
        // result of the last one itself.
        std::unique_lock guard(lock, std::try_to_lock);
        if (!guard.owns_lock() || state != State::Running) {
            return;
        }
        {
            std::lock_guard w(writeLock);
            if (writing.pending) {
                return;  // handed a block meanwhile: this thread is back here after writing it
            }
        }
        bool ok = Drain(&failure);
        if (ok && file && buffered > 0 && Now() - lastFlush >= std::chrono::milliseconds(kFlushMs)) {
            ok = HandOff(&failure);
        }
        if (ok || !Fail(failure)) {
            return;
        }
        callback = stopped;
    }
    if (callback) {
        callback(failure);
    }
}

CLogEngine::CLogEngine(LogWriterFactory factory, LogClock clock) : d(std::make_unique<Impl>())
{
    d->factory = std::move(factory);
    d->clock = std::move(clock);
    d->writer = std::thread([impl = d.get()] { impl->RunWriter(); });
}

CLogEngine::~CLogEngine()
{
    Stop();
    {
        std::lock_guard w(d->writeLock);
        d->quit = true;
    }
    d->writerWake.notify_all();
    d->writer.join();
}

void CLogEngine::SetStoppedCallback(StoppedCallback callback)
{
    std::lock_guard guard(d->lock);
    d->stopped = std::move(callback);
}

void CLogEngine::SetFileDoneCallback(FileDoneCallback callback)
{
    std::lock_guard guard(d->lock);
    d->fileDone = std::move(callback);
}

bool CLogEngine::Start(const LogOptions& options, QString* error)
{
    QString finished;
    QString failure;
    bool ok = true;
    FileDoneCallback done;
    {
        std::lock_guard guard(d->lock);
        if (d->state == State::Running) {
            QString failure;
            if (!d->CloseFile(&failure, &finished)) {
                d->Fail(failure);
            }
        }
        d->opt = options;
        d->opt.every = std::max(1, options.every);
        if (d->opt.unitSeconds <= 0) {
            d->opt.unitSeconds = 60;
        }
        d->opt.interval = std::max(0.0, d->opt.interval);
        if (!d->opt.folder.isEmpty() && !d->opt.folder.endsWith(QLatin1Char('/'))) {
            d->opt.folder += QLatin1Char('/');
        }
        d->counts = LogCounts();
        d->error.clear();
        d->buffered = 0;
        d->bufferIds.clear();
        d->buffer.resize(size_t(std::max(0, d->opt.flushBytes)) + 8192);
        std::fill(d->byId.begin(), d->byId.end(), 0);
        d->bufferMessages = 0;
        // The day count starts again with the next date; the time saved before Start still gives the boundary.
        d->firstDay = -1;
        d->day = 0;
        d->lastDate = 0;
        d->recordingTime = -1;
        // Without a time yet, the first one sets the boundary.
        d->nextBoundary = -1;
        if (d->savedTime.size() >= 10) {
            d->recordingTime = U32(d->savedTime.constData() + 5) / 1000.0;
            d->nextBoundary = FirstBoundary(d->recordingTime, d->opt.unitSeconds, d->opt.every);
            d->fileStart = d->recordingTime;
        }
        d->state = State::Running;
        const bool haveTime = d->savedTime.size() >= 10 && d->savedDate.size() >= 11;
        d->waitingForFile = !d->opt.singleFile && (d->opt.ownHeader || (d->opt.timeNames && !haveTime));
        if (d->opt.ownHeader && d->opt.singleFile) {
            d->waitingForFile = true;
        }
        if (!d->waitingForFile) {
            QString ignored;
            if (!d->OpenNext(&failure, &ignored)) {
                d->Fail(failure);
                ok = false;
            }
        }
        done = d->fileDone;
    }
    if (!finished.isEmpty() && done) {
        done(finished);
    }
    if (!ok && error) {
        *error = failure;
    }
    return ok;
}

void CLogEngine::Stop()
{
    QString finished;
    QString failure;
    FileDoneCallback done;
    {
        std::lock_guard guard(d->lock);
        if (d->state != State::Running) {
            return;
        }
        if (!d->CloseFile(&failure, &finished)) {
            d->Fail(failure);
        } else {
            d->state = State::Idle;
        }
        d->waitingForFile = false;
        done = d->fileDone;
    }
    if (!finished.isEmpty() && done) {
        done(finished);
    }
}

void CLogEngine::Discard()
{
    std::lock_guard guard(d->lock);
    if (d->state != State::Running) {
        return;
    }
    QString ignored;
    d->Drain(&ignored);
    {
        std::lock_guard w(d->writeLock);
        d->writing.done = false;
        d->writing.size = 0;
        d->writing.messages = 0;
        d->writing.ids.clear();
    }
    if (d->file) {
        d->file->Close(&ignored);
        d->file.reset();
        QFile::remove(d->opt.folder + d->fileName);
    }
    d->buffered = 0;
    d->bufferMessages = 0;
    d->bufferIds.clear();
    std::fill(d->byId.begin(), d->byId.end(), 0);
    d->counts = LogCounts();
    d->waitingForFile = false;
    d->state = State::Idle;
}

void CLogEngine::Impl::Take(const char* data, int size, int channel, Effects& fx)
{
    if (size < 5) {
        return;
    }
    const uint16_t id = Id(data[0], data[1]);
    // Most messages only go into the block: nothing saved, no file change, no header rule.
    const bool plain = id != kTime && id != kDate && id != kSats && id != kSlots && id != kFormat && id != kIdent;
    if (plain) {
        if (state != State::Running || waitingForFile || !file) {
            return;
        }
        if (channel == static_cast<int>(opt.type)) {
            const bool kvs = opt.type == LogType::Kvs;
            firstWritten = firstWritten || kvs;
            Put(data, size, id, kvs);
        }
        HandOffIf(buffered >= size_t(opt.flushBytes), fx);
        return;
    }
    const bool epochStart = KeepSaved(data, size, id, channel);
    if (state != State::Running) {
        return;
    }
    bool change = false;
    if (!FileChangeDue(epochStart, &change)) {
        return;
    }
    const bool kvs = opt.type == LogType::Kvs;
    if (change) {
        QString failure;
        QString finished;
        const bool opened = OpenNext(&failure, &finished);
        if (!finished.isEmpty()) {
            fx.finished.push_back(finished);
        }
        if (!opened) {
            fx.failed = Fail(failure) || fx.failed;
            return;
        }
        if (kvs) {
            WriteHeader(savedTime);  // in place of the epoch's time message
        }
    }
    if (!(change && kvs) && channel == static_cast<int>(opt.type) && file) {
        if (kvs) {
            WriteKvs(data, size, id);
        } else {
            Put(data, size, id);
        }
    }
    if (file) {
        HandOffIf(buffered >= size_t(opt.flushBytes) ||
                      (epochStart && Now() - lastFlush >= std::chrono::milliseconds(kFlushMs)),
                  fx);
    }
}

bool CLogEngine::Impl::KeepSaved(const char* data, int size, uint16_t id, int channel)
{
    const bool kvs = opt.type == LogType::Kvs;
    // Copies with their own LF: the frame itself is never written past its end.
    if (id == kTime && size >= 10) {
        Keep(savedTime, data, 10);
        const int64_t ms = U32(data + 5);
        // The first time of a new day arrives before its date: count the day now, the date confirms it.
        if (lastTimeMs >= 0 && ms + 43200000 < lastTimeMs) {
            ++day;
        } else if (lastTimeMs >= 0 && ms > lastTimeMs && ms - lastTimeMs <= 3600000) {
            measuredMs = ms - lastTimeMs;
        }
        lastTimeMs = ms;
        recordingTime = double(day) * 86400.0 + ms / 1000.0;
        return true;
    }
    if (id == kDate && size >= 11) {
        Keep(savedDate, data, 11);
        // Every date, not only a changed one, corrects a day counted from a time that went back.
        lastDate = U32(data + 5);
        const int64_t dn = DayNumber(static_cast<uint8_t>(data[5]) | static_cast<uint8_t>(data[6]) << 8,
                                     static_cast<uint8_t>(data[7]), static_cast<uint8_t>(data[8]));
        if (firstDay < 0) {
            firstDay = dn - day;
        }
        day = dn - firstDay;
        if (lastTimeMs >= 0) {
            recordingTime = double(day) * 86400.0 + lastTimeMs / 1000.0;
        }
    } else if (kvs && channel == 0 && id == kSats) {
        Keep(savedSats, data, size);
    } else if (kvs && channel == 0 && id == kSlots) {
        Keep(savedSlots, data, size);
    } else if (id == kFormat && size >= 14) {
        Keep(savedFormat, data, size);
    }
    return false;
}

bool CLogEngine::Impl::FileChangeDue(bool epochStart, bool* change)
{
    if (waitingForFile) {
        const bool ready = epochStart && (!opt.timeNames || savedDate.size() >= 11);
        if (!ready) {
            return false;
        }
        nextBoundary = BoundaryAfter(Units(), opt.every);
        fileStart = recordingTime;
        waitingForFile = false;
        *change = true;
    } else if (epochStart && nextBoundary < 0) {
        nextBoundary = BoundaryAfter(Units(), opt.every);
    } else if (epochStart && !opt.singleFile) {
        // The epoch's time comes first in the epoch: the file changes before the epoch's first message, so an
        // epoch never spans two files, and the epoch at the boundary is the new file's first.
        const double units = Units();
        if (units >= double(nextBoundary)) {
            // Named after its boundary, not after an epoch that jitter put a little before it.
            fileStart = std::max(recordingTime, double(nextBoundary) * opt.unitSeconds);
            nextBoundary = BoundaryAfter(units, opt.every);
            *change = true;
        } else if (BoundaryAfter(units, opt.every) < nextBoundary) {
            // The receiver's time went back: the boundary follows it rather than waiting out the jump.
            nextBoundary = BoundaryAfter(units, opt.every);
        }
    }
    return true;
}

void CLogEngine::Impl::WriteKvs(const char* data, int size, uint16_t id)
{
    if (id == kIdent && firstWritten) {
        return;  // one identification a file, the one before its first message
    }
    if (id == kFormat) {
        if (formatWritten) {
            return;
        }
        // The format opens the file's stream; the date and time seen before it follow at once.
        firstWritten = true;
        formatWritten = true;
        Put(data, size, id, true);
        const QByteArray* saved2[] = {&savedDate, &savedTime};
        for (const QByteArray* saved : saved2) {
            if (!saved->isEmpty()) {
                Put(saved->constData(), int(saved->size()), Id((*saved)[0], (*saved)[1]));
            }
        }
        return;
    }
    if ((id == kDate || id == kTime) && !(firstWritten && formatWritten)) {
        return;
    }
    firstWritten = true;
    Put(data, size, id, true);
}

void CLogEngine::Impl::HandOffIf(bool due, Effects& fx)
{
    QString failure;
    if (due && !HandOff(&failure) && Fail(failure)) {
        fx.failed = true;
    }
}

template <typename Step>
void CLogEngine::Run(Step&& step)
{
    Impl::Effects fx;
    StoppedCallback stopped;
    FileDoneCallback done;
    QString error;
    {
        std::lock_guard guard(d->lock);
        step(*d, fx);
        // Only copied when needed: this runs for every message.
        if (fx.failed) {
            stopped = d->stopped;
            error = d->error;
        }
        if (!fx.finished.empty()) {
            done = d->fileDone;
        }
    }
    for (const QString& path : fx.finished) {
        if (done) {
            done(path);
        }
    }
    if (fx.failed && stopped) {
        stopped(error);
    }
}

void CLogEngine::Flush()
{
    Run([](Impl& m, Impl::Effects& fx) {
        QString failure;
        if (m.state == State::Running && !m.Flush(&failure) && m.Fail(failure)) {
            fx.failed = true;
        }
    });
}

void CLogEngine::Feed(const char* data, int size, int channel)
{
    Run([&](Impl& m, Impl::Effects& fx) { m.Take(data, size, channel, fx); });
}

void CLogEngine::FeedStream(const char* data, int size)
{
    Run([&](Impl& m, Impl::Effects& fx) {
        m.framer.Feed(data, size_t(std::max(0, size)), [&](const CFramer::Event& e) {
            if (e.kind == CFramer::EventKind::Frame) {
                m.Take(e.data, e.size, 0, fx);
            }
        });
    });
}

CFramer::Stats CLogEngine::StreamStats() const
{
    std::lock_guard guard(d->lock);
    return d->framer.GetStats();
}

CLogEngine::State CLogEngine::GetState() const
{
    std::lock_guard guard(d->lock);
    return d->state;
}

QString CLogEngine::LastError() const
{
    std::lock_guard guard(d->lock);
    return d->error;
}

LogCounts CLogEngine::Counts() const
{
    std::lock_guard guard(d->lock);
    LogCounts c = d->counts;
    for (int i = 0; i < kIdRange * kIdRange; ++i) {
        if (d->byId[size_t(i)] > 0) {
            c.byType[uint16_t(((i / kIdRange + 0x30) << 8) | (i % kIdRange + 0x30))] = d->byId[size_t(i)];
        }
    }
    return c;
}

QString CLogEngine::FileName() const
{
    std::lock_guard guard(d->lock);
    return d->fileName;
}

int64_t CLogEngine::NextBoundary() const
{
    std::lock_guard guard(d->lock);
    return d->nextBoundary;
}

QByteArray CLogEngine::SavedTime() const
{
    std::lock_guard guard(d->lock);
    return d->savedTime;
}

QByteArray CLogEngine::SavedDate() const
{
    std::lock_guard guard(d->lock);
    return d->savedDate;
}
