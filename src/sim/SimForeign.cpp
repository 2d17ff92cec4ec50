#include "sim/SimForeign.h"

#include <QDateTime>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

constexpr int64_t kGpsEpochUtcMs = 315964800000;  // 1980-01-06
constexpr int64_t kGpsMinusUtcMs = 18000;
constexpr int64_t kGlonassMinusUtcMs = 3 * 3600000;
constexpr int64_t kWeekMs = 604800000;
constexpr int64_t kDayMs = 86400000;

QByteArray Sentence(const QByteArray& body)
{
    uint8_t sum = 0;
    for (const char c : body) {
        sum ^= static_cast<uint8_t>(c);
    }
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", sum);
    return '$' + body + tail;
}

QByteArray UtcText(int64_t utcMs)
{
    const int64_t ms = (utcMs % kDayMs + kDayMs) % kDayMs;
    char text[16];
    std::snprintf(text, sizeof text, "%02d%02d%02d.%02d", int(ms / 3600000), int(ms / 60000 % 60), int(ms / 1000 % 60),
                  int(ms % 1000 / 10));
    return text;
}

// "ddmm.mmmmm,N,dddmm.mmmmm,E", or four empty fields without a position.
QByteArray LatLonText(const EpochData& e)
{
    if (e.solution == 0) {
        return ",,,";
    }
    auto part = [](double rad, int degDigits, char pos, char neg) {
        const double deg = std::fabs(rad) * 180.0 / kPi;
        int whole = int(deg);
        double minutes = (deg - whole) * 60.0;
        if (minutes >= 59.999995) {  // would print as 60.00000
            minutes = 0;
            ++whole;
        }
        char text[32];
        std::snprintf(text, sizeof text, "%0*d%08.5f,%c", degDigits, whole, minutes, rad < 0 ? neg : pos);
        return QByteArray(text);
    };
    return part(e.lat, 2, 'N', 'S') + ',' + part(e.lon, 3, 'E', 'W');
}

int GgaQuality(int solution)
{
    static const int kQuality[] = {0, 1, 2, 5, 4, 7};
    return solution >= 0 && solution < 6 ? kQuality[solution] : 0;
}

// Satellite numbers as NMEA gives them: GPS 1-32, SBAS 33-64, GLONASS 65-96, Galileo 1-36 under its own talker.
int NmeaNumber(const SimSatellite& s)
{
    switch (s.system) {
        case GnssSystem::Gps:
            return s.number;
        case GnssSystem::Sbas:
            return s.number - 87;
        case GnssSystem::Glonass:
            return s.number + 64;
        case GnssSystem::Galileo:
            return s.number;
    }
    return 0;
}

// The talkers of the per-system sentences and the systems each speaks for.
struct Talker
{
    const char* name;
    GnssSystem a, b;
};
constexpr Talker kTalkers[] = {{"GP", GnssSystem::Gps, GnssSystem::Sbas},
                               {"GL", GnssSystem::Glonass, GnssSystem::Glonass},
                               {"GA", GnssSystem::Galileo, GnssSystem::Galileo}};

QByteArray Gsv(const EpochData& e)
{
    QByteArray out;
    for (const Talker& t : kTalkers) {
        std::vector<const EpochSat*> sats;
        for (const EpochSat& s : e.sats) {
            if (s.sat->system == t.a || s.sat->system == t.b) {
                sats.push_back(&s);
            }
        }
        if (sats.empty()) {
            continue;
        }
        const int total = int(sats.size() + 3) / 4;
        for (int n = 0; n < total; ++n) {
            QByteArray body = QByteArray(t.name) + "GSV," + QByteArray::number(total) + ',' +
                              QByteArray::number(n + 1) + ',' + QByteArray::number(int(sats.size()));
            for (size_t i = size_t(n) * 4; i < sats.size() && i < size_t(n) * 4 + 4; ++i) {
                const EpochSat& s = *sats[i];
                char field[40];
                const int cn0 = s.cn0[0] == 255 ? -1 : s.cn0[0];
                std::snprintf(field, sizeof field, ",%02d,%02d,%03d,", NmeaNumber(*s.sat),
                              std::max(0, int(std::lround(s.view.elevationDeg))),
                              int(std::lround(s.view.azimuthDeg)) % 360);
                body += field;
                if (cn0 >= 0) {
                    body += QByteArray::number(cn0).rightJustified(2, '0');
                }
            }
            out += Sentence(body);
        }
    }
    return out;
}

// The mode indicator of RMC, GLL and VTG: no fix, autonomous, differential.
char ModeIndicator(int solution)
{
    return solution == 0 ? 'N' : solution == 1 ? 'A' : 'D';
}

struct Track
{
    double knots = 0;   // speed over ground
    double course = 0;  // true course, degrees
};

// From the velocity's east and north parts; zero without a solution.
Track TrackOf(const EpochData& e)
{
    Track t;
    if (e.solution) {
        const Vec3 enu = EcefDeltaToEnu(e.lat, e.lon, e.vel);
        t.knots = std::hypot(enu.x, enu.y) * 3600.0 / 1852.0;
        t.course = std::atan2(enu.x, enu.y) * 180.0 / kPi;
        t.course = t.course < 0 ? t.course + 360.0 : t.course;
    }
    return t;
}

// GSA for each system with satellites used in the solution (GPS with SBAS, GLONASS, Galileo), twelve numbers a
// sentence; the fix is 3D with a solution, none (1) without one (then one empty GPS sentence).
QByteArray Gsa(const EpochData& e)
{
    char dops[48] = ",,,";
    if (e.dops.valid && e.solution) {
        std::snprintf(dops, sizeof dops, ",%.1f,%.1f,%.1f", e.dops.Pdop(), e.dops.hdop, e.dops.vdop);
    }
    QByteArray out;
    for (const Talker& t : kTalkers) {
        std::vector<int> used;
        for (const EpochSat& s : e.sats) {
            if (s.used && (s.sat->system == t.a || s.sat->system == t.b)) {
                used.push_back(NmeaNumber(*s.sat));
            }
        }
        if (used.empty() && (e.solution || t.a != GnssSystem::Gps)) {
            continue;
        }
        // Twelve fields a sentence: more satellites take more sentences.
        for (size_t from = 0; from == 0 || from < used.size(); from += 12) {
            QByteArray numbers;
            const size_t to = std::min(used.size(), from + 12);
            for (size_t i = from; i < to; ++i) {
                numbers += ',' + QByteArray::number(used[i]).rightJustified(2, '0');
            }
            out += Sentence(QByteArray(t.name) + "GSA,A," + (e.solution ? "3" : "1") + numbers +
                            QByteArray(int(12 - (to - from)), ',') + dops);
        }
    }
    return out;
}

class CBits
{
public:
    void Put(uint64_t value, int bits)
    {
        for (int i = bits - 1; i >= 0; --i) {
            if (m_bits % 8 == 0) {
                m_bytes.push_back(0);
            }
            if ((value >> i) & 1u) {
                m_bytes.back() = uint8_t(m_bytes.back() | (0x80u >> (m_bits % 8)));
            }
            ++m_bits;
        }
    }
    void PutSigned(int64_t value, int bits) { Put(uint64_t(value) & ((uint64_t(1) << bits) - 1), bits); }
    const std::vector<uint8_t>& Bytes() const { return m_bytes; }

private:
    std::vector<uint8_t> m_bytes;
    int m_bits = 0;
};

QByteArray Frame(const CBits& message)
{
    std::vector<uint8_t> f;
    const size_t n = message.Bytes().size();
    f.push_back(0xD3);
    f.push_back(uint8_t((n >> 8) & 0x03));
    f.push_back(uint8_t(n & 0xFF));
    f.insert(f.end(), message.Bytes().begin(), message.Bytes().end());
    const uint32_t crc = Crc24q(f.data(), f.size());
    f.push_back(uint8_t(crc >> 16));
    f.push_back(uint8_t(crc >> 8));
    f.push_back(uint8_t(crc));
    return QByteArray(reinterpret_cast<const char*>(f.data()), qsizetype(f.size()));
}

int LockIndicator(double seconds)
{
    const int t = int(seconds);
    if (t < 24) {
        return std::max(0, t);
    }
    if (t < 72) {
        return (t + 24) / 2;
    }
    if (t < 168) {
        return (t + 120) / 4;
    }
    if (t < 360) {
        return (t + 408) / 8;
    }
    if (t < 744) {
        return (t + 1176) / 16;
    }
    if (t < 937) {
        return (t + 3096) / 32;
    }
    return 127;
}

// Phase range less pseudorange in units of 0.5 mm, brought within the field by whole 1500-cycle steps (the
// carrier's ambiguity is arbitrary); the field's "invalid" value when there is no phase.
int64_t PhaseMinusRange(double phaseCycles, double lambda, double rangeM)
{
    if (phaseCycles == 0) {
        return -(int64_t(1) << 19);
    }
    double d = phaseCycles * lambda - rangeM;
    const double step = 1500.0 * lambda;
    d -= std::round(d / step) * step;
    return std::llround(d / 0.0005);
}

void Observables(CBits& m, const EpochSat& s, bool glonass)
{
    const double modulus = glonass ? 599584.916 : 299792.458;
    const double l1 = Wgs84::kC / CarrierHz(*s.sat, SimSignal::CaL1);
    const double l2 = Wgs84::kC / CarrierHz(*s.sat, SimSignal::PL2);
    const int64_t ambiguity = int64_t(std::floor(s.pseudorange[0] * Wgs84::kC / modulus));
    const int64_t rest = std::llround((s.pseudorange[0] * Wgs84::kC - double(ambiguity) * modulus) / 0.02);
    // Every difference below is taken against the L1 pseudorange as transmitted, rounded to its 0.02 m, so that a
    // decoder gets phase and L2 code back to their own fields' resolution.
    const double r1 = double(ambiguity) * modulus + double(rest) * 0.02;
    m.Put(uint64_t(s.sat->number), 6);
    m.Put(0, 1);  // C/A code
    if (glonass) {
        m.Put(uint64_t(s.sat->channel + 7), 5);
    }
    m.Put(uint64_t(rest), glonass ? 25 : 24);
    m.PutSigned(PhaseMinusRange(s.phase[0], l1, r1), 20);
    m.Put(uint64_t(LockIndicator(s.lockSeconds)), 7);
    m.Put(uint64_t(ambiguity), glonass ? 7 : 8);
    m.Put(s.cn0[0] == 255 ? 0 : uint64_t(s.cn0[0]) * 4, 8);
    const bool haveL2 = s.pseudorange[2] > 0;
    const double r2 = s.pseudorange[2] * Wgs84::kC;
    m.Put(haveL2 ? (glonass ? 1 : 3) : 0, 2);  // P code; no L2 shows in the invalid difference below
    m.PutSigned(haveL2 ? std::clamp<int64_t>(std::llround((r2 - r1) / 0.02), -8191, 8191) : -8192, 14);
    m.PutSigned(haveL2 ? PhaseMinusRange(s.phase[2], l2, r1) : -(int64_t(1) << 19), 20);
    m.Put(haveL2 ? uint64_t(LockIndicator(s.lockSeconds)) : 0, 7);
    m.Put(haveL2 && s.cn0[2] != 255 ? uint64_t(s.cn0[2]) * 4 : 0, 8);
}

}  // namespace

QByteArray NmeaSentences(const QByteArray& id, const EpochData& e, int64_t utcMs)
{
    if (id == "GGA") {
        int used = 0;
        for (const EpochSat& s : e.sats) {
            used += s.used ? 1 : 0;
        }
        char tail[96];
        // Altitude above the geoid, then the geoid above the ellipsoid: together the ellipsoidal height.
        std::snprintf(tail, sizeof tail, ",%d,%02d,%.1f,%.3f,M,%.3f,M,,", GgaQuality(e.solution), used,
                      e.dops.valid ? e.dops.hdop : 99.9, e.solution ? e.height - e.geoidSeparation : 0.0,
                      e.geoidSeparation);
        return Sentence("GPGGA," + UtcText(utcMs) + ',' + LatLonText(e) + tail);
    }
    if (id == "RMC") {
        const QDate d = QDateTime::fromMSecsSinceEpoch(utcMs, Qt::UTC).date();
        const Track t = TrackOf(e);
        char tail[64];
        std::snprintf(tail, sizeof tail, ",%.3f,%.2f,%02d%02d%02d,,,%c", t.knots, t.course, d.day(), d.month(),
                      d.year() % 100, ModeIndicator(e.solution));
        return Sentence("GPRMC," + UtcText(utcMs) + (e.solution ? ",A," : ",V,") + LatLonText(e) + tail);
    }
    if (id == "GSV") {
        return Gsv(e);
    }
    if (id == "GSA") {
        return Gsa(e);
    }
    if (id == "GLL") {
        return Sentence("GPGLL," + LatLonText(e) + ',' + UtcText(utcMs) + (e.solution ? ",A," : ",V,") +
                        ModeIndicator(e.solution));
    }
    if (id == "VTG") {
        const Track t = TrackOf(e);
        char body[96];
        std::snprintf(body, sizeof body, "GPVTG,%.2f,T,,M,%.3f,N,%.3f,K,%c", t.course, t.knots, t.knots * 1.852,
                      ModeIndicator(e.solution));
        return Sentence(body);
    }
    if (id == "ZDA") {
        const QDate d = QDateTime::fromMSecsSinceEpoch(utcMs, Qt::UTC).date();
        char tail[32];
        std::snprintf(tail, sizeof tail, ",%02d,%02d,%04d,00,00", d.day(), d.month(), d.year());
        return Sentence("GPZDA," + UtcText(utcMs) + tail);
    }
    return QByteArray();
}

QByteArray Rtcm3Frame(int number, const EpochData& e, const Vec3& station, int stationId, int64_t utcMs, bool more)
{
    CBits m;
    m.Put(uint64_t(number), 12);
    m.Put(uint64_t(stationId & 0xFFF), 12);
    if (number == 1005 || number == 1006) {
        m.Put(0, 6);       // reference frame realisation year
        m.Put(0b1101, 4);  // GPS, GLONASS, no Galileo; a physical reference station
        m.PutSigned(std::llround(station.x / 0.0001), 38);
        m.Put(0, 2);  // single-receiver oscillator, reserved
        m.PutSigned(std::llround(station.y / 0.0001), 38);
        m.Put(0, 2);  // quarter-cycle indicator
        m.PutSigned(std::llround(station.z / 0.0001), 38);
        if (number == 1006) {
            m.Put(0, 16);  // antenna height
        }
        return Frame(m);
    }
    if (number != 1004 && number != 1012) {
        return QByteArray();
    }
    const bool glonass = number == 1012;
    std::vector<const EpochSat*> sats;
    for (const EpochSat& s : e.sats) {
        if (s.sat->system == (glonass ? GnssSystem::Glonass : GnssSystem::Gps) && s.pseudorange[0] > 0 &&
            s.sat->number >= 1 && s.sat->number <= (glonass ? 24 : 32) && sats.size() < 31) {
            sats.push_back(&s);
        }
    }
    if (glonass) {
        m.Put(uint64_t(((utcMs + kGlonassMinusUtcMs) % kDayMs + kDayMs) % kDayMs), 27);
    } else {
        m.Put(uint64_t((utcMs + kGpsMinusUtcMs - kGpsEpochUtcMs) % kWeekMs), 30);
    }
    m.Put(more ? 1 : 0, 1);
    m.Put(uint64_t(sats.size()), 5);
    m.Put(0, 4);  // no smoothing
    for (const EpochSat* s : sats) {
        Observables(m, *s, glonass);
    }
    return Frame(m);
}
