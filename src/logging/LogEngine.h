#pragma once

#include "link/Framer.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

// Where a recording's bytes go. Writes are all-or-nothing from the engine's view: a failed or short write is a
// failure, and the engine cuts the file back to the last good size before closing it.
class ILogFileWriter
{
public:
    virtual ~ILogFileWriter() = default;
    // Creates `path` for writing; an existing file is refused unless `replace`.
    virtual bool Create(const QString& path, bool replace, QString* error) = 0;
    virtual bool Write(const char* data, int64_t size, QString* error) = 0;
    virtual void Truncate(int64_t size) = 0;
    virtual bool Close(QString* error) = 0;
};

using LogWriterFactory = std::function<std::unique_ptr<ILogFileWriter>()>;

// The plain file writer (readers may open the file while it grows).
std::unique_ptr<ILogFileWriter> MakeFileWriter();

// Message types of a recording; the index is also the link channel they arrive on.
enum class LogType { Kvs = 0, Cmr = 1, Nmea = 2, Rtcm = 3 };

QString LogTypeExtension(LogType type);

struct LogOptions
{
    LogType type = LogType::Kvs;
    QString folder;  // ends with a path separator
    bool singleFile = false;
    QString singleName;  // "Save to:" name
    QString prefix = QStringLiteral("Site");
    bool timeNames = false;  // "Date & Time" rather than "Ascending Count"
    int counter = 1;         // next ascending number
    int every = 10;          // "New file every"
    int unitSeconds = 60;    // 60, 3600 or 86400
    bool overwrite = false;  // the user agreed to replace existing files
    // Recording interval in seconds: the time jitter a file change allows for is half of it. 0: measured from the
    // stream (a port that already outputs, at an interval nobody chose here).
    double interval = 1.0;
    // The stream carries no KV / MF of its own (a receiver already outputting): the engine opens each file at an
    // epoch start with its own header, so that date and time messages are not held back.
    bool ownHeader = false;
    // Bytes gathered before they go to the file; none waits longer than CLogEngine::kFlushMs.
    int flushBytes = 256 * 1024;
};

// What a recording has done so far; 64-bit so that long unattended runs do not wrap. Messages and bytes are those
// written or waiting to be; after a write error, only those on the medium, and the lost ones apart.
struct LogCounts
{
    int64_t messages = 0;  // whole recording
    int64_t bytes = 0;
    int64_t fileMessages = 0;  // current file
    int64_t fileBytes = 0;
    int64_t files = 0;
    int64_t lostMessages = 0;  // after a write error: since the last good write
    int64_t lostBytes = 0;
    std::map<uint16_t, int64_t> byType;  // written messages by identifier (first character in the high byte)
};

using LogClock = std::function<std::chrono::steady_clock::time_point()>;

// The recording engine, free of any window: fed with each delivered message on the link's thread, it writes the
// files, changes files at the boundaries of the receiver's time and stops at the first write error, leaving every
// file with whole records. One lock makes feeding, Start, Stop, rotation, the counters and the engine's own
// flushing thread exclusive; the engine never calls the link, so the lock is never held across Attach, Detach or
// a command.
class CLogEngine
{
public:
    enum class State { Idle, Running, Failed };
    // Called, outside the lock, when the engine stopped by itself (a write or create error), with its text.
    // It may run on the link's thread: a window posts it to its own thread.
    using StoppedCallback = std::function<void(const QString& reason)>;
    // Called, outside the lock, with a finished file's full path after it was flushed and closed.
    using FileDoneCallback = std::function<void(const QString& path)>;

    // `clock` (steady time) decides when gathered bytes are due; tests give one that stands still.
    explicit CLogEngine(LogWriterFactory factory = {}, LogClock clock = {});
    ~CLogEngine();

    void SetStoppedCallback(StoppedCallback callback);
    void SetFileDoneCallback(FileDoneCallback callback);

    // Starts a recording. The day counter and recording time start again; the first file is created at once
    // (ascending names, single file) or with the first date and time (date-and-time names, own header).
    // False with the reason when the first file cannot be created.
    bool Start(const LogOptions& options, QString* error = nullptr);
    // Ends the recording: flushes and closes the file. Harmless when idle. A failed flush or close leaves the
    // engine Failed, as a write error does.
    void Stop();
    // Writes what is gathered and returns when it is on the medium; a failure stops the recording as any write
    // error does.
    void Flush();
    // Ends a recording that never got going (the receiver refused its messages): the current file is closed and
    // removed, and the counts start again.
    void Discard();
    // One delivered message (identifier, length digits, body) from link channel `channel`.
    void Feed(const char* data, int size, int channel);
    // A piece of a raw KVS stream (the link's raw output, channel 0), framed here: a piece costs one lock, not one
    // a message. The first frame counts only where the receiver ends frames, so the stream may be met anywhere.
    void FeedStream(const char* data, int size);
    // What the framing of FeedStream has seen (checksum errors among it).
    CFramer::Stats StreamStats() const;

    State GetState() const;
    QString LastError() const;
    LogCounts Counts() const;
    QString FileName() const;  // current (or last) file, without the folder
    // Next file change, in units since the first day of the recording.
    int64_t NextBoundary() const;

    // The saved receiver time and date messages (with their LF), for callers that show them.
    QByteArray SavedTime() const;
    QByteArray SavedDate() const;

    // Gathered bytes go to the file when there are flushBytes of them, and none waits much longer than this: a
    // crash loses at most about that much. A thread of the engine writes them, so that the link never waits for
    // the medium (but for one block: at most two are kept).
    static constexpr int kFlushMs = 1000;

private:
    struct Impl;
    // Runs `step(impl, effects)` under the lock, then the callbacks for what it did.
    template <typename Step>
    void Run(Step&& step);

    std::unique_ptr<Impl> d;
};

// Boundary arithmetic, kept apart for tests: the first boundary (in units) after time of day `seconds`, a
// multiple of `every`; and the boundary that follows `x` units in one step.
// A file holds the epochs from its boundary up to the next one: it changes at the first epoch at or past the
// boundary, allowing half an interval for the receiver's time jitter.
int64_t FirstBoundary(double seconds, int unitSeconds, int every);
int64_t BoundaryAfter(double units, int every);
// Days since 1 January 1970 of a receiver date message's year, month and day, and back.
int64_t DayNumber(int year, int month, int day);
void CivilDate(int64_t days, int* year, int* month, int* day);
