#include "rinex/RinexWriter.h"

#include "rinex/FixedField.h"

#include <QList>
#include <QTimeZone>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>

namespace {

constexpr double kC = 299792458.0;
// The longest epoch line and observation line (a satellite, 16 columns for each of at most four types of each raw
// signal, the line end); the room reserved for a file's data is bounded, beyond it the array grows as it must.
constexpr size_t kEpochLineMax = 64;
constexpr size_t kSatelliteLineMax = 8 + 16 * 4 * Kvs::kRawSignals + 1;
constexpr size_t kReserveMax = size_t(1) << 30;

struct ObsType
{
    char code[4];  // "C1C"
    int signal;    // raw signal index (0 CA/L1, 1 P/L1, 2 P/L2)
    char kind;     // C, L, D, S
};

// Observation codes by raw signal: GPS and GLONASS P code as W / P, everything else C/A; Galileo's E1 is tracked as
// the combined data and pilot signal (B+C), which RINEX calls X.
QByteArray Attribute(KvsSystem sys, int signal)
{
    if (signal == 0) {
        return sys == KvsSystem::Galileo ? "X" : "C";
    }
    return sys == KvsSystem::Glonass ? "P" : "W";
}

char SystemLetter(KvsSystem s)
{
    static const char k[] = {'G', 'R', 'E', 'S', 'J'};
    return k[int(s)];
}

QByteArray Label(QByteArray content, const char* label)
{
    content = content.left(60);
    return content.leftJustified(60, ' ') + QByteArray(label).leftJustified(20, ' ').left(20) + '\n';
}

QByteArray Cut(const QString& s, int width)
{
    QByteArray b = s.toLatin1();
    for (char& c : b) {
        if (uchar(c) < 0x20 || uchar(c) > 0x7E) {
            c = ' ';  // the format is ASCII; a line end would break the columns
        }
    }
    return b.left(width).leftJustified(width, ' ');
}

bool Wanted(KvsSystem sys, int signal, const RinexOptions& o)
{
    if ((sys == KvsSystem::Gps && o.noGps) || (sys == KvsSystem::Glonass && o.noGlonass)) {
        return false;
    }
    const bool l2 = signal == 2;
    return !(l2 ? o.noL2 : o.noL1);
}

// The types each system has data for, in a fixed order: per signal C, L, D (L1 C/A only), S.
std::map<KvsSystem, std::vector<ObsType>> Types(const KvsResult& data, const RinexOptions& o)
{
    // Per system, bit 4 * signal + kind (C, L, D, S): a pass over every observation sets bits, and the sets are
    // made once from them.
    static constexpr char kKinds[] = {'C', 'L', 'D', 'S'};
    std::array<uint16_t, 256> has{};
    for (const KvsEpoch& e : data.epochs) {
        for (const KvsSatellite& s : e.sats) {
            uint16_t& bits = has[uint8_t(s.system)];
            for (int k = 0; k < Kvs::kRawSignals; ++k) {
                if (!Wanted(s.system, k, o)) {
                    continue;
                }
                const KvsSignal& g = s.signal[size_t(k)];
                bits |= uint16_t((g.pseudorange == g.pseudorange) << (4 * k) | (g.phase == g.phase) << (4 * k + 1) |
                                 (g.cn0 >= 0) << (4 * k + 3));
            }
            if (s.doppler == s.doppler && Wanted(s.system, 0, o)) {
                bits |= 1 << 2;
            }
        }
    }
    std::map<KvsSystem, std::set<std::pair<int, char>>> seen;
    for (size_t sys = 0; sys < has.size(); ++sys) {
        for (int bit = 0; bit < 16; ++bit) {
            if (has[sys] >> bit & 1) {
                seen[KvsSystem(sys)].insert({bit / 4, kKinds[bit % 4]});
            }
        }
    }
    std::map<KvsSystem, std::vector<ObsType>> out;
    for (const auto& [sys, set] : seen) {
        for (int k = 0; k < Kvs::kRawSignals; ++k) {
            for (char kind : {'C', 'L', 'D', 'S'}) {
                if (set.count({k, kind})) {
                    ObsType t{};
                    const QByteArray code = QByteArray(1, kind) + (k == 2 ? "2" : "1") + Attribute(sys, k);
                    std::memcpy(t.code, code.constData(), 3);
                    t.signal = k;
                    t.kind = kind;
                    out[sys].push_back(t);
                }
            }
        }
    }
    return out;
}

// Writes the satellite's column ("G01") into `out` (room for 16); returns its length.
int SatId(const KvsSatellite& s, char* out)
{
    const int number = s.prn % 100;
    if (number < 0) {
        return std::snprintf(out, 16, "%c%02d", SystemLetter(s.system), number);
    }
    out[0] = SystemLetter(s.system);
    out[1] = char('0' + number / 10);
    out[2] = char('0' + number % 10);
    return 3;
}

QByteArray TimeFields(const QDateTime& t)
{
    const QDate d = t.date();
    const QTime tm = t.time();
    char b[64];
    std::snprintf(b, sizeof b, "%6d%6d%6d%6d%6d%13.7f", d.year(), d.month(), d.day(), tm.hour(), tm.minute(),
                  tm.second() + tm.msec() / 1000.0);
    return b;
}

// What each satellite's phase was at its previous epoch, for the loss-of-lock indicator. The satellites a receiver
// reports (system * 1000 + number below 5000) sit in a table, others in a map.
class CPhaseHistory
{
public:
    struct Entry
    {
        bool seen = false;
        bool hadPhase = false;
        bool timeValid = false;
        qint64 ms = 0;
    };
    Entry& At(int satKey, int signal)
    {
        if (satKey >= 0 && satKey < kTableKeys) {
            return m_table[size_t(satKey) * Kvs::kRawSignals + size_t(signal)];
        }
        return m_others[{satKey, signal}];
    }

private:
    static constexpr int kTableKeys = 5000;
    std::vector<Entry> m_table = std::vector<Entry>(size_t(kTableKeys) * Kvs::kRawSignals);
    std::map<std::pair<int, int>, Entry> m_others;
};

// Appends the observation line of each satellite of `e` that has a value to `lines`; returns how many.
int SatelliteLines(const KvsEpoch& e, const std::map<KvsSystem, std::vector<ObsType>>& types, double interval,
                   CPhaseHistory& lastPhase, QByteArray& lines)
{
    const bool timeValid = e.gpsTime.isValid();
    const qint64 ms = timeValid ? e.gpsTime.toMSecsSinceEpoch() : 0;
    int count = 0;
    for (const KvsSatellite& s : e.sats) {
        auto it = types.find(s.system);
        if (it == types.end()) {
            continue;
        }
        char line[kSatelliteLineMax + 8];
        int n = SatId(s, line);
        bool any = false;
        for (const ObsType& t : it->second) {
            const KvsSignal& g = s.signal[size_t(t.signal)];
            double v = Kvs::kNaN;
            char lli = ' ';
            switch (t.kind) {
                case 'C':
                    v = g.pseudorange * kC;
                    break;
                case 'L': {
                    v = g.phase;
                    CPhaseHistory::Entry& prev = lastPhase.At(int(s.system) * 1000 + s.prn, t.signal);
                    const bool locked = g.lockFlags < 0 || (g.lockFlags & 1);
                    if (v == v) {
                        // A satellite back after a gap in its phase may have slipped unseen.
                        const qint64 since = timeValid && prev.timeValid ? ms - prev.ms : 0;
                        const bool gap = prev.seen && (!prev.hadPhase || (interval > 0 && since > interval * 1500));
                        if (!locked || gap) {
                            lli = '1';
                        }
                    }
                    prev = {true, v == v, timeValid, ms};
                    break;
                }
                case 'D':
                    v = -s.doppler;  // RINEX: positive for an approaching satellite
                    break;
                case 'S':
                    v = g.cn0 >= 0 ? double(g.cn0) : Kvs::kNaN;
                    break;
            }
            char* field = line + n;
            n += 16;
            if (!WriteFixed(field, v, 14, 3)) {
                std::memset(field, ' ', 16);
                continue;
            }
            any = true;
            field[14] = lli;
            field[15] = ' ';
        }
        if (!any) {
            continue;
        }
        while (line[n - 1] == ' ') {
            --n;
        }
        line[n++] = '\n';
        lines.append(line, n);
        ++count;
    }
    return count;
}

}  // namespace

RinexHeaderInfo RinexHeaderInfo::Parse(const QByteArray& profileText)
{
    RinexHeaderInfo info;
    for (QByteArray line : profileText.split('\n')) {
        line = line.trimmed();
        const qsizetype eq = line.indexOf('=');
        if (line.isEmpty() || line.startsWith('[') || eq <= 0) {
            continue;
        }
        QString value = QString::fromUtf8(line.mid(eq + 1));
        if (value.startsWith(QLatin1Char(' '))) {
            value.remove(0, 1);
        }
        info.fields.insert(QString::fromUtf8(line.left(eq)).trimmed(), value);
    }
    return info;
}

QByteArray CRinexWriter::Fixed(double value, int width, int decimals)
{
    QByteArray b(std::max(width, 0), ' ');
    WriteFixed(b.data(), value, width, decimals);
    return b;
}

double CRinexWriter::Interval(const KvsResult& data)
{
    std::map<qint64, int> counts;
    for (size_t i = 1; i < data.epochs.size(); ++i) {
        ++counts[data.epochs[i - 1].gpsTime.msecsTo(data.epochs[i].gpsTime)];
    }
    qint64 best = 0;
    int bestCount = 0;
    for (const auto& [ms, c] : counts) {
        if (c > bestCount) {
            best = ms;
            bestCount = c;
        }
    }
    return best / 1000.0;
}

QString CRinexWriter::LongName(const KvsResult& data, const QString& markerName, const QString& fallback,
                               const RinexOptions& options, const QString& kind)
{
    auto station = [](const QString& s) {
        QString out;
        for (QChar c : s.toUpper()) {
            if (out.size() < 4 && ((c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
                                   (c >= QLatin1Char('0') && c <= QLatin1Char('9')))) {
                out += c;
            }
        }
        return out;
    };
    QString st = station(markerName);
    if (st.isEmpty()) {
        st = station(fallback);
    }
    st = st.leftJustified(4, QLatin1Char('0'));
    QDateTime start =
        data.epochs.empty() ? QDateTime(QDate(1980, 1, 6), QTime(0, 0), QTimeZone::utc()) : data.epochs.front().gpsTime;
    const double interval = Interval(data);
    // A logging run changes files one and a half intervals before a whole minute, so a file's first epoch may lie
    // just before the minute it stands for: named after the minute before, it would take the previous file's name.
    const QDateTime minute(start.date(), QTime(start.time().hour(), start.time().minute()), QTimeZone::utc());
    const qint64 toNext = start.msecsTo(minute.addSecs(60));
    if (interval > 0 && toNext < 60000 && toNext <= 1500 * interval) {
        start = minute.addSecs(60);
    }
    const double span =
        data.epochs.empty() ? 0 : data.epochs.front().gpsTime.msecsTo(data.epochs.back().gpsTime) / 1000.0 + interval;
    QString period;
    if (span <= 99 * 60) {
        period = QString::asprintf("%02dM", std::max(1, int(std::ceil(span / 60 - 1e-9))));
    } else if (span <= 99 * 3600.0 && span < 86400) {
        period = QString::asprintf("%02dH", int(std::ceil(span / 3600 - 1e-9)));
    } else {
        period = QString::asprintf("%02dD", std::min(99, int(std::ceil(span / 86400 - 1e-9))));
    }
    QString rate;
    if (interval <= 0) {
        rate = QStringLiteral("00U");
    } else if (interval < 1) {
        rate = QString::asprintf("%02dC", std::min(99, int(std::lround(1 / interval))));
    } else if (interval < 100) {
        rate = QString::asprintf("%02dS", int(std::lround(interval)));
    } else {
        rate = QString::asprintf("%02dM", std::min(99, int(std::lround(interval / 60))));
    }
    const auto types = Types(data, options);
    const QChar sys = types.size() == 1 ? QLatin1Char(SystemLetter(types.begin()->first)) : QLatin1Char('M');
    return st + QStringLiteral("00XXX_R_") +
           QString::asprintf("%04d%03d", start.date().year(), start.date().dayOfYear()) +
           start.toString(QStringLiteral("HHmm")) + QLatin1Char('_') + period + QLatin1Char('_') +
           (kind.isEmpty() ? rate + QLatin1Char('_') + sys + QStringLiteral("O") : kind) + QStringLiteral(".rnx");
}

QByteArray CRinexWriter::SourceComment(const QString& source)
{
    return source.isEmpty() ? QByteArray() : Label(Cut(QStringLiteral("converted from ") + source, 60), "COMMENT");
}

namespace {

QByteArray ObsTypeLines(const std::map<KvsSystem, std::vector<ObsType>>& types)
{
    QByteArray h;
    for (const auto& [sys, list] : types) {
        QByteArray line = QByteArray(1, SystemLetter(sys)) + "  " +
                          QByteArray::number(qulonglong(list.size())).rightJustified(3, ' ');
        int onLine = 0;
        for (const ObsType& t : list) {
            if (onLine == 13) {
                h += Label(line, "SYS / # / OBS TYPES");
                line = QByteArray(6, ' ');
                onLine = 0;
            }
            line += ' ' + QByteArray(t.code, 3);
            ++onLine;
        }
        h += Label(line, "SYS / # / OBS TYPES");
    }
    return h;
}

QByteArray PhaseShiftLines(const std::map<KvsSystem, std::vector<ObsType>>& types)
{
    QByteArray h;
    for (const auto& [sys, list] : types) {
        for (const ObsType& t : list) {
            if (t.kind == 'L') {
                h += Label(QByteArray(1, SystemLetter(sys)) + ' ' + QByteArray(t.code, 3), "SYS / PHASE SHIFT");
            }
        }
    }
    return h;
}

// The frequency channel of every GLONASS slot the recording names one for.
QByteArray GlonassSlotLines(const KvsResult& data)
{
    QByteArray h;
    std::map<int, int> frequencies;
    for (const KvsEpoch& e : data.epochs) {
        for (const KvsSatellite& s : e.sats) {
            if (s.system == KvsSystem::Glonass && s.channelKnown) {
                frequencies[s.prn] = s.channel;
            }
        }
    }
    QByteArray line = QByteArray::number(qulonglong(frequencies.size())).rightJustified(3, ' ') + ' ';
    int onLine = 0;
    for (const auto& [slot, ch] : frequencies) {
        if (onLine == 8) {
            h += Label(line, "GLONASS SLOT / FRQ #");
            line = QByteArray(4, ' ');
            onLine = 0;
        }
        char b[16];
        std::snprintf(b, sizeof b, "R%02d %2d ", slot, ch);
        line += b;
        ++onLine;
    }
    h += Label(line, "GLONASS SLOT / FRQ #");
    h += Label(" C1C    0.000 C1P    0.000 C2C    0.000 C2P    0.000", "GLONASS COD/PHS/BIS");
    return h;
}

}  // namespace

QByteArray CRinexWriter::Observation(const KvsResult& data, const RinexHeaderInfo& info, const RinexOptions& o,
                                     int* epochsWritten)
{
    int written = 0;
    const auto types = Types(data, o);
    QByteArray h;
    const char sysChar = types.size() == 1 ? SystemLetter(types.begin()->first) : 'M';
    h += Label(QByteArray("     3.04           O                   ") + sysChar, "RINEX VERSION / TYPE");
    const QDateTime created = o.created.isValid() ? o.created.toUTC() : QDateTime::currentDateTimeUtc();
    h += Label(Cut(o.program, 20) + Cut(info.Field("RUN BY"), 20) +
                   created.toString(QStringLiteral("yyyyMMdd HHmmss")).toLatin1() + " UTC",
               "PGM / RUN BY / DATE");
    h += SourceComment(o.source);
    const QString comment = info.Field("COMMENT");
    if (!comment.isEmpty()) {
        h += Label(Cut(comment, 60), "COMMENT");
    }
    h += Label(Cut(info.Field("MARKER NAME"), 60), "MARKER NAME");
    if (!info.Field("MARKER NUMBER").isEmpty()) {
        h += Label(Cut(info.Field("MARKER NUMBER"), 20), "MARKER NUMBER");
    }
    h += Label(Cut(QStringLiteral("GEODETIC"), 20), "MARKER TYPE");
    h += Label(Cut(info.Field("OBSERVER"), 20) + Cut(info.Field("AGENCY"), 40), "OBSERVER / AGENCY");
    h += Label(Cut(info.Field("REC #"), 20) + Cut(info.Field("REC TYPE"), 20) + Cut(QString(), 20),
               "REC # / TYPE / VERS");
    h += Label(Cut(info.Field("ANT #"), 20) + Cut(info.Field("ANT TYPE"), 20), "ANT # / TYPE");
    h += Label(Fixed(data.x, 14, 4) + Fixed(data.y, 14, 4) + Fixed(data.z, 14, 4), "APPROX POSITION XYZ");
    auto delta = [&](const char* k) { return Fixed(info.Field(k).toDouble(), 14, 4); };
    h += Label(delta("ANT DELTA H") + delta("ANT DELTA E") + delta("ANT DELTA N"), "ANTENNA: DELTA H/E/N");
    h += ObsTypeLines(types);
    h += Label(Cut(QStringLiteral("DBHZ"), 20), "SIGNAL STRENGTH UNIT");
    const double interval = Interval(data);
    if (interval > 0) {
        h += Label(Fixed(interval, 10, 3), "INTERVAL");
    }
    if (!data.epochs.empty()) {
        h += Label(TimeFields(data.epochs.front().gpsTime) + "     GPS", "TIME OF FIRST OBS");
        h += Label(TimeFields(data.epochs.back().gpsTime) + "     GPS", "TIME OF LAST OBS");
    }
    h += PhaseShiftLines(types);
    if (types.count(KvsSystem::Glonass)) {
        h += GlonassSlotLines(data);
    }
    h += Label(QByteArray(), "END OF HEADER");

    CPhaseHistory lastPhase;
    // The data go straight after the header, into room for all of them: a file of an hour is tens of megabytes,
    // and each copy or regrowth of it costs as much as formatting it.
    QByteArray& body = h;
    size_t most = 0;
    for (const KvsEpoch& e : data.epochs) {
        most += kEpochLineMax + e.sats.size() * kSatelliteLineMax;
    }
    body.reserve(h.size() + qsizetype(std::min<size_t>(most, kReserveMax)));
    QByteArray lines;
    for (const KvsEpoch& e : data.epochs) {
        lines.resize(0);  // keeps its capacity
        const int count = SatelliteLines(e, types, interval, lastPhase, lines);
        if (count == 0) {
            continue;
        }
        const QDate d = e.gpsTime.date();
        const QTime tm = e.gpsTime.time();
        char b[64];
        std::snprintf(b, sizeof b, "> %4d %02d %02d %02d %02d%11.7f  0%3d\n", d.year(), d.month(), d.day(), tm.hour(),
                      tm.minute(), tm.second() + tm.msec() / 1000.0, count);
        body += b;
        body += lines;
        ++written;
    }
    if (epochsWritten) {
        *epochsWritten = written;
    }
    return h;
}
