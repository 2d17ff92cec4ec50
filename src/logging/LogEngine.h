#pragma once

#include <QByteArray>
#include <QString>

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
    double interval = 1.0;   // recording interval in seconds
    // The stream carries no KV / MF of its own (a receiver already outputting): the engine opens each file at an
    // epoch start with its own header, so that date and time messages are not held back.
    bool ownHeader = false;
    // Bytes gathered before they go to the file; a second also sends them.
    int flushBytes = 256 * 1024;
};

// What a recording has done so far; 64-bit so that long unattended runs do not wrap.
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

// The recording engine, free of any window: fed with each delivered message on the link's thread, it writes the
// files, changes files at the boundaries of the receiver's time and stops at the first write error. One lock
// makes feeding, Start, Stop, rotation and the counters exclusive; the engine never calls the link, so the lock
// is never held across Attach, Detach or a command.
class CLogEngine
{
public:
    enum class State { Idle, Running, Failed };
    // Called, outside the lock, when the engine stopped by itself (a write or create error), with its text.
    // It may run on the link's thread: a window posts it to its own thread.
    using StoppedCallback = std::function<void(const QString& reason)>;
    // Called, outside the lock, with a finished file's full path after it was flushed and closed.
    using FileDoneCallback = std::function<void(const QString& path)>;

    explicit CLogEngine(LogWriterFactory factory = {});
    ~CLogEngine();

    void SetStoppedCallback(StoppedCallback callback);
    void SetFileDoneCallback(FileDoneCallback callback);

    // Starts a recording. The day counter and recording time start again; the first file is created at once
    // (ascending names, single file) or with the first date and time (date-and-time names, own header).
    // False with the reason when the first file cannot be created.
    bool Start(const LogOptions& options, QString* error = nullptr);
    // Ends the recording: flushes and closes the file. Harmless when idle.
    void Stop();
    // One delivered message (identifier, length digits, body) from link channel `channel`.
    void Feed(const char* data, int size, int channel);

    State GetState() const;
    QString LastError() const;
    LogCounts Counts() const;
    QString FileName() const;  // current (or last) file, without the folder
    // Next file change, in units since the first day of the recording.
    int64_t NextBoundary() const;

    // The saved receiver time and date messages (with their LF), for callers that show them.
    QByteArray SavedTime() const;
    QByteArray SavedDate() const;

    static constexpr int kFlushMs = 1000;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// Boundary arithmetic, kept apart for tests: the first boundary (in units) after time of day `seconds`, a
// multiple of `every`; and the boundary that follows `x` units in one step.
int64_t FirstBoundary(double seconds, int unitSeconds, int every);
int64_t BoundaryAfter(double units, int every);
// Days since 1 January 1970 of a receiver date message's year, month and day.
int64_t DayNumber(int year, int month, int day);
