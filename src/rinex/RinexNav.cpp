// The navigation file: the ephemeris messages' broadcast elements in RINEX 3.04 records.
#include "rinex/RinexWriter.h"

#include <QTimeZone>

#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

constexpr double kPi = 3.14159265358979323846;

template <typename T>
T Get(const QByteArray& b, int at)
{
    T v;
    std::memcpy(&v, b.constData() + at, sizeof v);
    return v;
}

QByteArray Label(QByteArray content, const char* label)
{
    return content.left(60).leftJustified(60, ' ') + QByteArray(label).leftJustified(20, ' ') + '\n';
}

// D19.12 as "E" exponent; blank when not finite.
QByteArray Num(double v)
{
    if (!std::isfinite(v)) {
        return QByteArray(19, ' ');
    }
    char b[32];
    std::snprintf(b, sizeof b, "%19.12E", v);
    return QByteArray(b).right(19);
}

QByteArray Line(std::initializer_list<double> values)
{
    QByteArray l(4, ' ');
    for (double v : values) {
        l += Num(v);
    }
    return l + '\n';
}

QByteArray Head(char sys, int prn, const QDateTime& t, double a, double b, double c)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%c%02d %04d %02d %02d %02d %02d %02d", sys, prn % 100, t.date().year(),
                  t.date().month(), t.date().day(), t.time().hour(), t.time().minute(), t.time().second());
    return QByteArray(buf) + Num(a) + Num(b) + Num(c) + '\n';
}

const QDateTime kGpsEpoch(QDate(1980, 1, 6), QTime(0, 0), QTimeZone::utc());

}  // namespace

QByteArray CRinexWriter::Navigation(const KvsResult& data, const RinexHeaderInfo& info, const RinexOptions& o)
{
    QByteArray out;
    const bool gps = !o.noGps && !data.gpsEphemerides.empty();
    const bool glo = !o.noGlonass && !data.glonassEphemerides.empty();
    const char* sys = gps && glo ? "M: MIXED" : glo ? "R: GLONASS" : "G: GPS";
    out += Label(QByteArray("     3.04           N: GNSS NAV DATA    ") + sys, "RINEX VERSION / TYPE");
    const QDateTime created = o.created.isValid() ? o.created.toUTC() : QDateTime::currentDateTimeUtc();
    out += Label(o.program.toLatin1().left(20).leftJustified(20, ' ') +
                     info.Field("RUN BY").toLatin1().left(20).leftJustified(20, ' ') +
                     created.toString(QStringLiteral("yyyyMMdd HHmmss")).toLatin1() + " UTC",
                 "PGM / RUN BY / DATE");
    out += SourceComment(o.source);
    if (!data.epochs.empty()) {
        const int leap = CKvsReader::LeapSeconds(data.epochs.front().gpsTime.date());
        if (leap >= 0) {
            out += Label(QByteArray::number(leap).rightJustified(6, ' '), "LEAP SECONDS");
        }
    }
    out += Label(QByteArray(), "END OF HEADER");
    if (gps) {
        for (const auto& [key, b] : data.gpsEphemerides) {
            const int prn = uint8_t(b[0]);
            const double week = Get<int16_t>(b, 14);
            const QDateTime toc = kGpsEpoch.addSecs(qint64(week) * 604800 + Get<int32_t>(b, 8));
            out += Head('G', prn, toc, Get<float>(b, 28), Get<float>(b, 24), Get<float>(b, 20));
            const double toe = Get<int32_t>(b, 32);
            out += Line(
                {double(Get<int16_t>(b, 36)), Get<float>(b, 102), Get<float>(b, 86) * kPi, Get<double>(b, 54) * kPi});
            out += Line({Get<float>(b, 106), Get<double>(b, 46), Get<float>(b, 110), Get<double>(b, 38)});
            out += Line({toe, Get<float>(b, 114), Get<double>(b, 62) * kPi, Get<float>(b, 118)});
            out +=
                Line({Get<double>(b, 70) * kPi, Get<float>(b, 98), Get<double>(b, 78) * kPi, Get<float>(b, 90) * kPi});
            // Codes on L2 and the L2 P data flag: the message layouts do not carry them (its flags byte has no
            // documented meaning), so 0, unknown.
            out += Line({Get<float>(b, 94) * kPi, 0.0, week, 0.0});
            // URA index to metres (the broadcast table's upper bounds, within the indices a receiver sends).
            static const double kUra[] = {2.4, 3.4, 4.85, 6.85, 9.65, 13.65, 24,  48,
                                          96,  192, 384,  768,  1536, 3072,  6144};
            const int ura = int8_t(b[12]);
            out += Line({ura >= 0 && ura < 15 ? kUra[ura] : 6144.0, double(uint8_t(b[13])), Get<float>(b, 16),
                         double(Get<int16_t>(b, 6))});
            out += Line({double(Get<uint32_t>(b, 1)), 4.0});
        }
    }
    if (glo) {
        for (const auto& [key, b] : data.glonassEphemerides) {
            const int slot = uint8_t(b[0]);
            const int day = Get<uint16_t>(b, 2);
            const int n4 = uint8_t(b[84]);
            // Reference time tb is Moscow time of the day in the four-year interval; RINEX wants UTC.
            const QDateTime dayStart(QDate(1996 + 4 * (n4 - 1), 1, 1).addDays(day - 1), QTime(0, 0), QTimeZone::utc());
            const QDateTime toc = dayStart.addSecs(Get<int32_t>(b, 8) - 3 * 3600);
            const double tk =
                std::fmod(double(kGpsEpoch.secsTo(dayStart.addSecs(Get<int32_t>(b, 4) - 3 * 3600))), 604800.0);
            out += Head('R', slot, toc, -double(Get<float>(b, 71)), Get<float>(b, 75), tk);
            // The state is in km, km/s and km/s^2 in the message as in RINEX.
            out += Line({Get<double>(b, 15), Get<float>(b, 39), Get<float>(b, 51), double(uint8_t(b[12]))});
            out += Line({Get<double>(b, 23), Get<float>(b, 43), Get<float>(b, 55), double(int8_t(b[1]))});
            out += Line({Get<double>(b, 31), Get<float>(b, 47), Get<float>(b, 59), double(uint8_t(b[13]))});
        }
    }
    return out;
}
