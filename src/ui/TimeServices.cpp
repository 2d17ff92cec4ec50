#include "ui/TimeServices.h"

#include <chrono>
#include <cstring>

#include <cerrno>
#include <ctime>

int64_t CSteadyTickSource::TickMs() const
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

QDateTime CLocalWallClock::LocalNow() const
{
    return QDateTime::currentDateTime();
}

int64_t CLocalWallClock::UtcMs() const
{
    return QDateTime::currentMSecsSinceEpoch();
}

ISystemClockSetter::Result CSystemClockSetter::SetUtc(const QDateTime& utc)
{
    Result result;
    if (!utc.isValid()) {
        result.error = QStringLiteral("Invalid time");
        return result;
    }
#if defined(Q_OS_LINUX) || defined(Q_OS_UNIX)
    const qint64 ms = utc.toMSecsSinceEpoch();
    if (ms < 0) {
        result.error = QStringLiteral("Invalid time");
        return result;
    }
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(ms / 1000);
    ts.tv_nsec = static_cast<long>((ms % 1000) * 1000000);
    if (clock_settime(CLOCK_REALTIME, &ts) == 0) {
        result.ok = true;
        return result;
    }
    const int err = errno;
    if (err == EPERM) {
        result.error = QStringLiteral(
            "Not permitted to set the system clock: run the program as root or give it the CAP_SYS_TIME capability");
    } else {
        result.error =
            QStringLiteral("Cannot set the system clock: %1").arg(QString::fromLocal8Bit(std::strerror(err)));
    }
#else
    result.error = QStringLiteral("Setting the system clock is not supported on this platform");
#endif
    return result;
}

TimeServices TimeServices::System()
{
    static CSteadyTickSource tick;
    static CLocalWallClock wallClock;
    static CSystemClockSetter setter;
    return TimeServices{&tick, &wallClock, &setter};
}
