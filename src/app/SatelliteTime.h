#pragma once

#include <QDateTime>
#include <QString>

// The receiver's UTC from the reply to "print,/par/time/utc/" ("RE019{2024-06-01,12:00:00.000}\r\n"), read from
// its sixth character on, blanks around it ignored. False when the reply holds no complete time or an impossible one.
bool ParseSatelliteTime(const QString& reply, QDateTime* utc);

// The part of that reply shown when the clock was set: the date and the time to the second, without braces and
// milliseconds ("2024-06-01,12:00:00" of the reply above).
QString SatelliteTimeShown(const QString& reply);
