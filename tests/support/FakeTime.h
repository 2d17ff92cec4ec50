#pragma once

#include "ui/TimeServices.h"

#include <vector>

// Clocks that move only when a test moves them.

class CFakeTickSource : public ITickSource
{
public:
    int64_t TickMs() const override { return m_ms; }
    void Set(int64_t ms) { m_ms = ms; }
    void Advance(int64_t ms) { m_ms += ms; }

private:
    int64_t m_ms = 1000000;
};

class CFakeWallClock : public IWallClock
{
public:
    QDateTime LocalNow() const override { return m_now; }
    void Set(const QDateTime& now) { m_now = now; }

private:
    QDateTime m_now = QDateTime(QDate(2024, 1, 2), QTime(3, 4, 5));
};

// Records the times it was asked to set; fails with `error` when one is given.
class CFakeClockSetter : public ISystemClockSetter
{
public:
    Result SetUtc(const QDateTime& utc) override
    {
        m_calls.push_back(utc);
        Result r;
        r.ok = m_error.isEmpty();
        r.error = m_error;
        return r;
    }
    void FailWith(const QString& error) { m_error = error; }
    const std::vector<QDateTime>& Calls() const { return m_calls; }

private:
    QString m_error;
    std::vector<QDateTime> m_calls;
};

// The three fakes together, ready to hand over as TimeServices.
struct FakeTime
{
    CFakeTickSource tick;
    CFakeWallClock wallClock;
    CFakeClockSetter clockSetter;

    TimeServices Services() { return TimeServices{&tick, &wallClock, &clockSetter}; }
};
