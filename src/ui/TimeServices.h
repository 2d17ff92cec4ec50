#pragma once

#include <QDateTime>
#include <QString>

#include <cstdint>

// Time as the program sees it, injected so that timers and "hours since connecting" are testable without
// waiting. The real implementations are below; tests use the fakes of tests/support/FakeTime.h.

// A monotonic millisecond count (arbitrary origin).
class ITickSource
{
public:
    virtual ~ITickSource() = default;
    virtual int64_t TickMs() const = 0;
};

// The controller's local wall clock.
class IWallClock
{
public:
    virtual ~IWallClock() = default;
    virtual QDateTime LocalNow() const = 0;
    // Milliseconds since 1970 UTC: tells when the local second changes without asking for the time zone, which
    // the C library looks up on the disk again at every local time.
    virtual int64_t UtcMs() const { return LocalNow().toMSecsSinceEpoch(); }
};

// Sets the controller's UTC clock.
class ISystemClockSetter
{
public:
    struct Result
    {
        bool ok = false;
        QString error;  // why it failed, for the user
    };
    virtual ~ISystemClockSetter() = default;
    virtual Result SetUtc(const QDateTime& utc) = 0;
};

class CSteadyTickSource : public ITickSource
{
public:
    int64_t TickMs() const override;
};

class CLocalWallClock : public IWallClock
{
public:
    QDateTime LocalNow() const override;
    int64_t UtcMs() const override;
};

// Changes the real clock (clock_settime on Linux): needs administrator rights, which is reported as such.
class CSystemClockSetter : public ISystemClockSetter
{
public:
    Result SetUtc(const QDateTime& utc) override;
};

// The three services a component uses; every pointer is non-null.
struct TimeServices
{
    ITickSource* tick;
    IWallClock* wallClock;
    ISystemClockSetter* clockSetter;

    // The real clocks of this machine (static instances, live for the whole run).
    static TimeServices System();
};
