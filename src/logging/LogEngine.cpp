#include "logging/LogEngine.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

constexpr uint16_t Id(char a, char b)
{
    return static_cast<uint16_t>((static_cast<uint8_t>(a) << 8) | static_cast<uint8_t>(b));
}

constexpr int kIdRange = 0x7F - 0x30;
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
    int64_t bufferMessages = 0;
    int64_t goodBytes = 0;  // of the current file, known to be on the medium
    std::chrono::steady_clock::time_point lastFlush;
    bool waitingForFile = false;  // started, first file opens at an epoch start
    bool firstWritten = false;
    bool formatWritten = false;

    // Receiver time keeping.
    QByteArray savedTime, savedDate, savedSats, savedSlots, savedFormat;
    int64_t firstDay = -1;  // day number of the first date of the recording
    int64_t day = 0;        // days since firstDay
    uint32_t lastDate = 0;
    int64_t lastTimeMs = -1;
    double recordingTime = -1;
    int64_t nextBoundary = 0;

    // Returns a finished file's path for the done callback, or an error text in `failure`.
    bool OpenNext(QString* failure, QString* finished);
    bool CloseFile(QString* failure, QString* finished);
    bool Flush(QString* failure);
    void Put(const char* data, int size, uint16_t id, bool lf = false);
    void WriteHeader(const QByteArray& time);
    QString NextName();
    void Fail(const QString& why);
};

QString CLogEngine::Impl::NextName()
{
    const QString ext = LogTypeExtension(opt.type);
    if (opt.singleFile) {
        return opt.singleName.trimmed();
    }
    if (opt.timeNames) {
        const int year =
            savedDate.size() >= 9 ? static_cast<uint8_t>(savedDate[5]) | static_cast<uint8_t>(savedDate[6]) << 8 : 0;
        const int month = savedDate.size() >= 9 ? static_cast<uint8_t>(savedDate[7]) : 0;
        const int mday = savedDate.size() >= 9 ? static_cast<uint8_t>(savedDate[8]) : 0;
        const int64_t tod = static_cast<int64_t>(recordingTime) % 86400;
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

bool CLogEngine::Impl::Flush(QString* failure)
{
    if (buffered == 0 || !file) {
        return true;
    }
    if (!file->Write(buffer.data(), int64_t(buffered), failure)) {
        return false;
    }
    goodBytes += int64_t(buffered);
    buffered = 0;
    bufferMessages = 0;
    lastFlush = std::chrono::steady_clock::now();
    return true;
}

bool CLogEngine::Impl::CloseFile(QString* failure, QString* finished)
{
    if (!file) {
        return true;
    }
    bool ok = Flush(failure);
    if (ok) {
        ok = file->Close(failure);
    }
    if (ok) {
        *finished = opt.folder + fileName;
    }
    file.reset();
    return ok;
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
    lastFlush = std::chrono::steady_clock::now();
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
    if (hi >= 0 && hi < kIdRange && lo >= 0 && lo < kIdRange) {
        ++byId[size_t(hi * kIdRange + lo)];
    }
}

// A file that starts at an epoch: the format, the date, this epoch's time and the satellite lists the receiver
// may not repeat, so that the file reads on its own.
void CLogEngine::Impl::WriteHeader(const QByteArray& time)
{
    const QByteArray& format = savedFormat.isEmpty() ? kDefaultFormat : savedFormat;
    Put(format.constData(), int(format.size()), kFormat);
    const QByteArray* parts[] = {&savedDate, &time, &savedSats, &savedSlots};
    for (const QByteArray* m : parts) {
        if (!m->isEmpty()) {
            Put(m->constData(), int(m->size()), Id((*m)[0], (*m)[1]));
        }
    }
    firstWritten = true;
    formatWritten = true;
}

void CLogEngine::Impl::Fail(const QString& why)
{
    counts.lostMessages = bufferMessages;
    counts.lostBytes = int64_t(buffered);
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
}

CLogEngine::CLogEngine(LogWriterFactory factory) : d(std::make_unique<Impl>())
{
    d->factory = std::move(factory);
}

CLogEngine::~CLogEngine()
{
    Stop();
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
            QString ignored;
            d->CloseFile(&ignored, &finished);
        }
        d->opt = options;
        d->opt.every = std::max(1, options.every);
        if (d->opt.unitSeconds <= 0) {
            d->opt.unitSeconds = 60;
        }
        if (d->opt.interval <= 0) {
            d->opt.interval = 1.0;
        }
        if (!d->opt.folder.isEmpty() && !d->opt.folder.endsWith(QLatin1Char('/'))) {
            d->opt.folder += QLatin1Char('/');
        }
        d->counts = LogCounts();
        d->error.clear();
        d->buffered = 0;
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

void CLogEngine::Feed(const char* data, int size, int channel)
{
    if (size < 5) {
        return;
    }
    const uint16_t id = Id(data[0], data[1]);
    // Most messages only go into the block: nothing saved, no file change, no header rule.
    const bool plain = id != kTime && id != kDate && id != kSats && id != kSlots && id != kFormat && id != kIdent;
    if (plain) {
        std::unique_lock guard(d->lock);
        Impl& m = *d;
        if (m.state != State::Running || m.waitingForFile || !m.file) {
            return;
        }
        if (channel == static_cast<int>(m.opt.type)) {
            const bool kvs = m.opt.type == LogType::Kvs;
            m.firstWritten = m.firstWritten || kvs;
            m.Put(data, size, id, kvs);
        }
        if (m.buffered < size_t(m.opt.flushBytes)) {
            return;
        }
        QString failure;
        if (m.Flush(&failure)) {
            return;
        }
        m.Fail(failure);
        const StoppedCallback stopped = m.stopped;
        guard.unlock();
        if (stopped) {
            stopped(failure);
        }
        return;
    }
    QString finished;
    QString failure;
    bool failedNow = false;
    StoppedCallback stopped;
    FileDoneCallback done;
    {
        std::lock_guard guard(d->lock);
        Impl& m = *d;
        const bool kvs = m.opt.type == LogType::Kvs;
        bool epochStart = false;
        // Copies with their own LF: the frame itself is never written past its end.
        if (id == kTime && size >= 10) {
            Keep(m.savedTime, data, 10);
            const int64_t ms = U32(data + 5);
            // The first time of a new day arrives before its date: count the day now, the date confirms it.
            if (m.lastTimeMs >= 0 && ms + 43200000 < m.lastTimeMs) {
                ++m.day;
            }
            m.lastTimeMs = ms;
            m.recordingTime = double(m.day) * 86400.0 + ms / 1000.0;
            epochStart = true;
        } else if (id == kDate && size >= 11) {
            Keep(m.savedDate, data, 11);
            // Every date, not only a changed one, corrects a day counted from a time that went back.
            {
                m.lastDate = U32(data + 5);
                const int64_t dn = DayNumber(static_cast<uint8_t>(data[5]) | static_cast<uint8_t>(data[6]) << 8,
                                             static_cast<uint8_t>(data[7]), static_cast<uint8_t>(data[8]));
                if (m.firstDay < 0) {
                    m.firstDay = dn - m.day;
                }
                m.day = dn - m.firstDay;
                if (m.lastTimeMs >= 0) {
                    m.recordingTime = double(m.day) * 86400.0 + m.lastTimeMs / 1000.0;
                }
            }
        } else if (kvs && channel == 0 && id == kSats) {
            Keep(m.savedSats, data, size);
        } else if (kvs && channel == 0 && id == kSlots) {
            Keep(m.savedSlots, data, size);
        } else if (id == kFormat && size >= 14) {
            Keep(m.savedFormat, data, size);
        }
        if (m.state != State::Running) {
            return;
        }
        bool consumed = false;
        if (m.waitingForFile) {
            const bool ready = epochStart && (!m.opt.timeNames || m.savedDate.size() >= 11);
            if (!ready) {
                return;
            }
            m.nextBoundary = BoundaryAfter((m.recordingTime + 1.5 * m.opt.interval) / m.opt.unitSeconds, m.opt.every);
            m.waitingForFile = false;
            if (!m.OpenNext(&failure, &finished)) {
                m.Fail(failure);
                failedNow = true;
            } else if (kvs) {
                m.WriteHeader(m.savedTime);
                consumed = true;
            }
        } else if (epochStart && m.nextBoundary < 0) {
            m.nextBoundary = FirstBoundary(m.recordingTime, m.opt.unitSeconds, m.opt.every);
        } else if (epochStart && !m.opt.singleFile) {
            // The file changes before the epoch's first message, so an epoch never spans two files.
            const double units = (m.recordingTime + 1.5 * m.opt.interval) / m.opt.unitSeconds;
            if (units >= double(m.nextBoundary)) {
                m.nextBoundary = BoundaryAfter(units, m.opt.every);
                if (!m.OpenNext(&failure, &finished)) {
                    m.Fail(failure);
                    failedNow = true;
                } else if (kvs) {
                    m.WriteHeader(m.savedTime);
                    consumed = true;
                }
            } else if (BoundaryAfter(units, m.opt.every) < m.nextBoundary) {
                // The receiver's time went back: the boundary follows it rather than waiting out the jump.
                m.nextBoundary = BoundaryAfter(units, m.opt.every);
            }
        }
        if (!failedNow && !consumed && channel == static_cast<int>(m.opt.type) && m.file) {
            if (kvs) {
                bool write = true;
                if (id == kIdent && m.firstWritten) {
                    write = false;
                } else if (id == kFormat) {
                    if (m.formatWritten) {
                        write = false;
                    } else {
                        m.firstWritten = true;
                        m.formatWritten = true;
                        m.Put(data, size, id, true);
                        const QByteArray* saved2[] = {&m.savedDate, &m.savedTime};
                        for (const QByteArray* saved : saved2) {
                            if (!saved->isEmpty()) {
                                m.Put(saved->constData(), int(saved->size()), Id((*saved)[0], (*saved)[1]));
                            }
                        }
                        write = false;
                    }
                } else if ((id == kDate || id == kTime) && !(m.firstWritten && m.formatWritten)) {
                    write = false;
                }
                if (write) {
                    m.firstWritten = true;
                    m.Put(data, size, id, true);
                }
            } else {
                m.Put(data, size, id);
            }
        }
        if (!failedNow && m.file) {
            const bool due =
                m.buffered >= size_t(m.opt.flushBytes) ||
                (epochStart && std::chrono::steady_clock::now() - m.lastFlush >= std::chrono::milliseconds(kFlushMs));
            if (due && !m.Flush(&failure)) {
                m.Fail(failure);
                failedNow = true;
            }
        }
        // Only copied when needed: this runs for every message.
        if (failedNow) {
            stopped = m.stopped;
        }
        if (!finished.isEmpty()) {
            done = m.fileDone;
        }
    }
    if (!finished.isEmpty() && done) {
        done(finished);
    }
    if (failedNow && stopped) {
        stopped(LastError());
    }
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
