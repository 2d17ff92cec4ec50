#include "app/SatelliteTime.h"

#include "link/Scan.h"

bool ParseSatelliteTime(const QString& reply, QDateTime* utc)
{
    unsigned short year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, ms = 0;
    // Some receivers put a blank before the value.
    if (ScanText(AnswerValue(reply), "{%4hu-%2hu-%2hu,%2hu:%2hu:%2hu.%3hu}", &year, &month, &day, &hour, &minute,
                 &second, &ms) != 7) {
        return false;
    }
    const QDate date(year, month, day);
    const QTime time(hour, minute, second, ms);
    if (!date.isValid() || !time.isValid()) {
        return false;
    }
    *utc = QDateTime(date, time, Qt::UTC);
    return utc->isValid();
}

QString SatelliteTimeShown(const QString& reply)
{
    const QString value = AnswerValue(reply);
    return value.mid(1, std::max<qsizetype>(0, value.length() - 6));
}
