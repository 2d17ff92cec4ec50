#include "app/ReceiverState.h"

#include "link/Checksum.h"
#include "link/GpsData.h"
#include "link/SatValues.h"

#include <QtEndian>

#include <array>
#include <cmath>
#include <cstring>
#include <optional>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kGpsL1Hz = 1575.42e6;
constexpr double kGloL1BaseHz = 1602.0e6;
constexpr double kGloL1StepHz = 0.5625e6;

template <typename T>
T Read(const QByteArray& body, int offset)
{
    T value;
    std::memcpy(&value, body.constData() + offset, sizeof value);
    return qFromLittleEndian(value);
}

double ReadF8(const QByteArray& body, int offset)
{
    const quint64 bits = Read<quint64>(body, offset);
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

float ReadF4(const QByteArray& body, int offset)
{
    const quint32 bits = Read<quint32>(body, offset);
    float v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

// The body of a raw message, or an empty array when its header is malformed or it is cut short.
QByteArray BodyOf(const QByteArray& message)
{
    if (message.size() < 5) {
        return {};
    }
    int len = 0;
    for (int i = 2; i < 5; ++i) {
        const int d = HexDigitValue(message[i]);
        if (d < 0) {
            return {};
        }
        len = len * 16 + d;
    }
    if (message.size() < 5 + len) {
        return {};
    }
    return message.mid(5, len);
}

QString Signed(double v)
{
    return v > 0 ? QStringLiteral("+") : QString();
}

// The satellite lists put several of these in every satellite's row at each epoch, where formatting them was most
// of decoding's time: those of a byte's values are shared copies of texts made once.
QString TwoDigits(int v)
{
    static const auto kTexts = [] {
        std::array<QString, 256> texts;
        for (int i = 0; i < 256; ++i) {
            texts[size_t(i)] = QString::asprintf("%02d", i);
        }
        return texts;
    }();
    return v >= 0 && v < 256 ? kTexts[size_t(v)] : QString::asprintf("%02d", v);
}

const char* const kSolutionTexts[] = {"(no solution)", "(standalone)", "(code differential)", "(RTK float)",
                                      "(RTK fixed)"};

}  // namespace

// ---------------------------------------------------------------------------------------------------------------
// Lists

int SatColumnCount(int list)
{
    return list == kListGlonass ? 11 : 10;
}

int SatColumnIndex(int list, SatColumn column)
{
    return list == kListGlonass ? int(column) + 1 : int(column);
}

QStringList SatColumnTitles(int list)
{
    switch (list) {
    case kListGps:
        return {"#", "EL", "AZ", "CA", "P1", "P2", "L2C", "L5", "TC", "SS"};
    case kListGlonass:
        return {"Sn", "Fn", "EL", "AZ", "CA", "P1", "P2", "L2C", "L3", "TC", "SS"};
    default:
        return {"#", "EL", "AZ", "CA", "P1", "P2", "L2", "L5", "TC", "SS"};
    }
}

std::vector<int> SatHiddenColumns(int list)
{
    switch (list) {
    case kListGps:
        return {7};
    case kListGlonass:
        return {8};
    default:
        return {4, 5, 6};
    }
}

bool SatColumnIsNumeric(int list, int column)
{
    return column == SatColumnIndex(list, kColEl) || column == SatColumnIndex(list, kColAz) ||
           column == SatColumnIndex(list, kColTc);
}

DegreeParts SplitDegrees(double valueDeg, int secondDecimals)
{
    // Beyond this the degrees would not fit an int; callers refuse such angles, this only keeps the maths defined.
    if (!std::isfinite(valueDeg) || std::fabs(valueDeg) > 1e6) {
        return {};
    }
    // Work in units of the last shown decimal so that 59.99996" shows as the next minute, not as 60".
    const double scale = std::pow(10.0, secondDecimals);
    const double total = std::round(std::fabs(valueDeg) * 3600.0 * scale);
    const double perMinute = 60.0 * scale;
    const double perDegree = 3600.0 * scale;
    DegreeParts p;
    p.degrees = int(std::floor(total / perDegree));
    const double rest = total - p.degrees * perDegree;
    p.minutes = int(std::floor(rest / perMinute));
    p.seconds = (rest - p.minutes * perMinute) / scale;
    p.minutePad = p.minutes <= 9 ? QStringLiteral("0") : QString();
    p.secondPad = p.seconds < 10 ? QStringLiteral("0") : QString();
    return p;
}

// ---------------------------------------------------------------------------------------------------------------

CReceiverState::CReceiverState()
{
    Reset();
    m_snapshot.summary = QStringLiteral("Satellites  0 : 0 : 0");
    m_snapshot.solution = QStringLiteral("standalone");
    m_snapshot.eventA = QStringLiteral("EVENTA");
    m_snapshot.eventB = QStringLiteral("EVENTB");
}

void CReceiverState::Reset()
{
    StatusSnapshot& s = m_snapshot;
    for (auto& list : s.lists) {
        list.clear();
    }
    for (auto& rows : m_rowSats) {
        rows.clear();
    }
    s.position = QStringLiteral("Lon:\nLat:\nAlt:");
    s.cartesian = QStringLiteral("X:\nY:\nZ:");
    s.targetLat = QStringLiteral("Lat:");
    s.targetLon = QStringLiteral("Lon:");
    s.target = QStringLiteral("ETT:\nNTT:\nDTT:\nCTT:");
    s.velocity = QStringLiteral("Vel:");
    s.rmsPos = QStringLiteral("RMS Pos:");
    s.rmsVel = QStringLiteral("RMS Vel:");
    s.pdop = QStringLiteral("PDOP:");
    // HDOP too: a value kept from before the reset would pass for a live one.
    s.hdop = QStringLiteral("HDOP:");
    s.time.clear();
    s.date.clear();
    s.trackingTime.clear();
    s.clockOffset.clear();
    s.oscOffset.clear();
    s.solution.clear();
    s.linkQuality.clear();
    s.eventA.clear();
    s.eventB.clear();
    s.summary.clear();
    s.lastPg.clear();
    m_gpsAlmanac.fill(false);
    m_gloAlmanac.fill(false);
    m_eventsA = 0;
    m_eventsB = 0;
}

void CReceiverState::SetTarget(double latRad, double lonRad)
{
    m_targetLat = latRad;
    m_targetLon = lonRad;
}

void CReceiverState::Decode(const QByteArray& message)
{
    if (message.size() < 5) {
        return;
    }
    const uint16_t id = MsgId(message[0], message[1]);
    if (id == MsgId('M', 'S')) {
        OnMs(message);
        return;
    }
    const QByteArray body = BodyOf(message);
    if (body.isEmpty()) {
        return;
    }
    switch (id) {
    case MsgId('P', 'G'):
        OnPg(body);
        break;
    case MsgId('P', 'O'):
        OnPo(body);
        break;
    case MsgId('V', 'E'):
        OnVe(body);
        break;
    case MsgId('P', 'V'):
        OnPv(body);
        break;
    case MsgId('D', 'P'):
        OnDp(body);
        break;
    case MsgId('S', 'G'):
        OnSg(body);
        break;
    case MsgId('~', '~'):
        OnTime(body);
        break;
    case MsgId('R', 'D'):
        OnDate(body);
        break;
    case MsgId('T', 'T'):
        OnTrackingTime(body);
        break;
    case MsgId('X', 'A'):
        OnEvent(false);
        break;
    case MsgId('X', 'B'):
        OnEvent(true);
        break;
    case MsgId('G', 'A'):
        OnAlmanac(false, body);
        break;
    case MsgId('N', 'A'):
        OnAlmanac(true, body);
        break;
    case MsgId('O', 'O'):
        OnOscillator(body);
        break;
    case MsgId('D', 'O'):
        OnDrift(body);
        break;
    case MsgId('S', 'I'):
        OnSi(body);
        break;
    case MsgId('N', 'N'):
        OnSlots(body);
        break;
    default:
        // The per-satellite messages, as the satellite values know them.
        if (satvalues::Width(id) > 0) {
            OnSatValues(id, body);
        }
        break;
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Position

void CReceiverState::OnPg(const QByteArray& body)
{
    if (body.size() < 29) {
        return;
    }
    const double latRad = ReadF8(body, 0);
    const double lonRad = ReadF8(body, 8);
    const double alt = ReadF8(body, 16);
    const double lat = latRad * kRadToDeg;
    const double lon = lonRad * kRadToDeg;
    // A position no receiver can report (a corrupted stream) leaves every label as it was.
    if (!std::isfinite(lat) || !std::isfinite(lon) || !std::isfinite(alt) || std::fabs(lat) > 90 ||
        std::fabs(lon) > 360) {
        return;
    }
    m_lastPg = body.left(kPgKeep);
    m_snapshot.lastPg = m_lastPg;
    const DegreeParts la = SplitDegrees(lat, 4);
    const DegreeParts lo = SplitDegrees(lon, 4);
    // Both lines put the blank before the seconds; a blank inside them would read as two numbers.
    m_snapshot.position = QString::asprintf(
        "Lat: %d°%s%d' %s%6.4lf\" %c\nLon: %d°%s%d' %s%6.4lf\" %c\nAlt:  %8.4lf m", la.degrees,
        qPrintable(la.minutePad), la.minutes, qPrintable(la.secondPad), la.seconds, lat < 0 ? 'S' : 'N',
        lo.degrees, qPrintable(lo.minutePad), lo.minutes, qPrintable(lo.secondPad), lo.seconds,
        lon < 0 ? 'W' : 'E', alt);

    const int solution = static_cast<unsigned char>(body[28]);
    m_snapshot.solution = solution <= 4 ? QString::fromLatin1(kSolutionTexts[solution]) : QString();

    // A target read from a damaged settings file shows no numbers rather than wrong ones.
    const bool targetValid = std::isfinite(m_targetLat) && std::isfinite(m_targetLon) &&
                             std::fabs(m_targetLat * kRadToDeg) <= 90 && std::fabs(m_targetLon * kRadToDeg) <= 360;
    if (!targetValid) {
        return;
    }
    if (m_noData) {
        m_noData = false;
        const double tLat = m_targetLat * kRadToDeg;
        const double tLon = m_targetLon * kRadToDeg;
        const DegreeParts a = SplitDegrees(tLat, 4);
        const DegreeParts b = SplitDegrees(tLon, 4);
        m_snapshot.targetLat =
            QString::asprintf("Lat:    %d°%s%d'%s%6.4lf\" %c", a.degrees, qPrintable(a.minutePad), a.minutes,
                              qPrintable(a.secondPad), a.seconds, tLat < 0 ? 'S' : 'N');
        m_snapshot.targetLon =
            QString::asprintf("Lon:   %d°%s%d'%s%6.4lf\" %c", b.degrees, qPrintable(b.minutePad), b.minutes,
                              qPrintable(b.secondPad), b.seconds, tLon < 0 ? 'W' : 'E');
    }

    // The shorter way round: two points either side of the 180° meridian are close, not a world apart.
    const double east =
        std::remainder(m_targetLon - lonRad, 2 * kPi) * kEarthRadius * std::cos((m_targetLat + latRad) / 2);
    const double north = (m_targetLat - latRad) * kEarthRadius;
    const double distance = std::sqrt(north * north + east * east);
    // The course takes both signs into account: a target due south lies at 180°, not at 0°.
    double course = (north == 0 && east == 0) ? 0 : std::atan2(east, north) * kRadToDeg;
    if (course < 0) {
        course += 360;
    }
    const DegreeParts c = SplitDegrees(course, 2);
    m_snapshot.target = QString::asprintf("ETT:%15.3lf m\nNTT:%15.3lf m\nDTT:%15.3lf m\nCTT:    %d°%s%d'%s%.2lf\"",
                                          east, north, distance, c.degrees, qPrintable(c.minutePad), c.minutes,
                                          qPrintable(c.secondPad), c.seconds);
}

void CReceiverState::SetCartesian(double x, double y, double z)
{
    if (std::isfinite(x) && std::isfinite(y) && std::isfinite(z)) {
        m_snapshot.cartesian = QString::asprintf("X: %15.4lf\nY: %15.4lf\nZ: %15.4lf", x, y, z);
    }
}

void CReceiverState::OnPo(const QByteArray& body)
{
    if (body.size() < 29 || body[28] == 0) {
        return;
    }
    SetCartesian(ReadF8(body, 0), ReadF8(body, 8), ReadF8(body, 16));
}

void CReceiverState::OnVe(const QByteArray& body)
{
    if (body.size() < 17 || body[16] == 0) {
        return;
    }
    const double vx = ReadF4(body, 0), vy = ReadF4(body, 4), vz = ReadF4(body, 8);
    m_snapshot.velocity = QString::asprintf("%7.4lf m/s", std::sqrt(vx * vx + vy * vy + vz * vz));
}

void CReceiverState::OnPv(const QByteArray& body)
{
    if (body.size() < 45 || body[44] == 0) {
        return;
    }
    SetCartesian(ReadF8(body, 0), ReadF8(body, 8), ReadF8(body, 16));
    const double vx = ReadF4(body, 28), vy = ReadF4(body, 32), vz = ReadF4(body, 36);
    m_snapshot.velocity = QString::asprintf("Vel: %7.4lf m/s", std::sqrt(vx * vx + vy * vy + vz * vz));
}

void CReceiverState::OnDp(const QByteArray& body)
{
    if (body.size() < 8) {
        return;
    }
    const float h = ReadF4(body, 0);
    const float v = ReadF4(body, 4);
    m_snapshot.pdop = QString::asprintf("PDOP: %7.4f", double(std::sqrt(h * h + v * v)));
    m_snapshot.hdop = QString::asprintf("HDOP: %7.4f", double(h));
}

void CReceiverState::OnSg(const QByteArray& body)
{
    if (body.size() < 16) {
        return;
    }
    const float a = ReadF4(body, 0), b = ReadF4(body, 4), c = ReadF4(body, 8), d = ReadF4(body, 12);
    m_snapshot.rmsPos =
        QStringLiteral("RMS Pos: ") + QString::asprintf("%10.4f m", double(std::sqrt(a * a + b * b))).trimmed();
    m_snapshot.rmsVel =
        QStringLiteral("RMS Vel:  ") + QString::asprintf("%10.4f m/s", double(std::sqrt(c * c + d * d))).trimmed();
}

// ---------------------------------------------------------------------------------------------------------------
// Time, clock, events, almanac, link quality

void CReceiverState::OnTime(const QByteArray& body)
{
    if (body.size() < 4) {
        return;
    }
    const quint32 seconds = Read<quint32>(body, 0) / 1000;
    m_snapshot.time = QString::asprintf("Receiver time: %02d:%02d:%02d", int(seconds / 3600), int(seconds / 60 % 60),
                                        int(seconds % 60));
}

void CReceiverState::OnDate(const QByteArray& body)
{
    if (body.size() < 4) {
        return;
    }
    m_snapshot.date = QString::asprintf("Receiver date: %d.%d.%d", int(static_cast<unsigned char>(body[3])),
                                        int(static_cast<unsigned char>(body[2])), int(Read<quint16>(body, 0)));
}

void CReceiverState::OnTrackingTime(const QByteArray& body)
{
    if (body.size() < 4) {
        return;
    }
    const quint32 v = Read<quint32>(body, 0);
    const int s = int(v % 60), m = int(v / 60 % 60), h = int(v / 3600 % 24), d = int(v / 86400);
    m_snapshot.trackingTime = d > 0 ? QString::asprintf("Tracking time:%0dd %02d:%02d:%02d", d, h, m, s)
                                    : QString::asprintf("Tracking time: %02d:%02d:%02d", h, m, s);
}

void CReceiverState::OnEvent(bool b)
{
    if (b) {
        m_snapshot.eventB = QString::asprintf("Event B: %d", ++m_eventsB);
    } else {
        m_snapshot.eventA = QString::asprintf("Event A: %d", ++m_eventsA);
    }
}

void CReceiverState::OnAlmanac(bool glonass, const QByteArray& body)
{
    const int n = static_cast<unsigned char>(body[0]);
    if (glonass && n >= 1 && n <= 24) {
        m_gloAlmanac[size_t(n - 1)] = true;
    } else if (!glonass && n >= 1 && n <= 37) {
        m_gpsAlmanac[size_t(n - 1)] = true;
    }
}

void CReceiverState::OnOscillator(const QByteArray& body)
{
    if (body.size() < 4) {
        return;
    }
    const double ppm = double(ReadF4(body, 0)) * 1e6;
    m_snapshot.oscOffset = QString::asprintf("Osc. offset: %s%4.4lf ppm", qPrintable(Signed(ppm)), ppm);
}

void CReceiverState::OnDrift(const QByteArray& body)
{
    if (body.size() < 4) {
        return;
    }
    m_drift = ReadF4(body, 0);
    const double ppm = m_drift * 1e6;
    m_snapshot.clockOffset = QString::asprintf("Clock offset: %s%4.4f ppm", qPrintable(Signed(ppm)), ppm);
}

bool CReceiverState::TextChecksumOk(const QByteArray& message)
{
    const QByteArray body = BodyOf(message);
    const int total = 5 + int(body.size());
    if (message.size() < 5 || body.size() < 2) {
        return false;
    }
    const int hi = HexDigitValue(message[total - 2]);
    const int lo = HexDigitValue(message[total - 1]);
    return hi >= 0 && lo >= 0 && Checksum8(message.constData(), size_t(total - 2)) == hi * 16 + lo;
}

void CReceiverState::OnMs(const QByteArray& message)
{
    if (!TextChecksumOk(message)) {
        return;
    }
    const QString text = QString::fromLatin1(message.left(5 + int(BodyOf(message).size()))).left(128);
    if (text == QLatin1String("MS020,RTCMST,999,0000,0000,100.00,@1F")) {
        m_snapshot.linkQuality.clear();
    } else {
        m_snapshot.linkQuality =
            QStringLiteral("LQ:") + text.mid(27, 5) + QStringLiteral("%(") + text.mid(13, 13) + QStringLiteral(")");
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Satellite lists

void CReceiverState::OnSi(const QByteArray& body)
{
    m_lastSi = body;
    const int n = int(body.size()) - 1;
    m_sats.clear();
    std::array<int, kListCount> rows{};
    for (int i = 0; i < n; ++i) {
        SatRef ref;
        ref.number = static_cast<unsigned char>(body[i]);
        if (ref.number >= 1 && ref.number <= 37) {
            ref.list = kListGps;
        } else if (ref.number >= 38 && ref.number <= 70) {
            ref.list = kListGlonass;
        } else if (ref.number >= 71 && ref.number <= 103) {
            ref.list = kListGalileo;
        } else if (ref.number >= 121 && ref.number <= 138) {
            ref.list = kListSbas;
        }
        if (ref.list >= 0) {
            ref.row = rows[size_t(ref.list)]++;
        }
        m_sats.push_back(ref);
    }
    for (int list = 0; list < kListCount; ++list) {
        auto& l = m_snapshot.lists[size_t(list)];
        l.resize(size_t(rows[size_t(list)]));
        for (QStringList& row : l) {
            while (row.size() < SatColumnCount(list)) {
                row << QString();
            }
        }
    }
    std::array<std::vector<int>, kListCount> rowSats;
    for (int list = 0; list < kListCount; ++list) {
        rowSats[size_t(list)].assign(size_t(rows[size_t(list)]), 0);
    }
    for (const SatRef& ref : m_sats) {
        if (ref.list < 0) {
            continue;
        }
        QStringList& row = m_snapshot.lists[size_t(ref.list)][size_t(ref.row)];
        // Values of the satellite that had this row before must not show as this one's.
        const std::vector<int>& before = m_rowSats[size_t(ref.list)];
        if (size_t(ref.row) >= before.size() || before[size_t(ref.row)] != ref.number) {
            for (QString& cell : row) {
                cell.clear();
            }
        }
        rowSats[size_t(ref.list)][size_t(ref.row)] = ref.number;
        switch (ref.list) {
        case kListGps:
            row[0] = TwoDigits(ref.number) + (GpsAlmanac(ref.number) ? QString() : QStringLiteral("*"));
            break;
        case kListGlonass:
            row[1] = TwoDigits(ref.number - 45);
            break;
        case kListGalileo:
            row[0] = TwoDigits(ref.number - 70);
            break;
        default:
            row[0] = TwoDigits(ref.number);
            break;
        }
    }
    m_rowSats = rowSats;
    UpdateSummary();
}

void CReceiverState::UpdateSummary()
{
    const auto& l = m_snapshot.lists;
    m_snapshot.summary = QString::asprintf("Satellites  %d : %d : %d : %d", int(l[0].size()), int(l[1].size()),
                                           int(l[2].size()), int(l[3].size()));
}

void CReceiverState::OnSlots(const QByteArray& body)
{
    auto& rows = m_snapshot.lists[kListGlonass];
    const int n = int(body.size()) - 1;
    for (int i = 0; i < n && i < int(rows.size()); ++i) {
        const int slot = static_cast<unsigned char>(body[i]);
        rows[size_t(i)][0] = slot == 255 ? QStringLiteral("??") : TwoDigits(slot);
    }
}

void CReceiverState::OnSatValues(uint16_t id, const QByteArray& body)
{
    // After a status reset the rows come back from the last "SI".
    std::array<int, kListCount> expected{};
    for (const SatRef& ref : m_sats) {
        if (ref.list >= 0) {
            ++expected[size_t(ref.list)];
        }
    }
    for (int list = 0; list < kListCount; ++list) {
        if (int(m_snapshot.lists[size_t(list)].size()) != expected[size_t(list)]) {
            OnSi(QByteArray(m_lastSi));
            break;
        }
    }
    const int size = int(body.size());
    // A list that disagrees with the last "SI" only fills the satellites both know.
    const int n = std::min(satvalues::Count(id, size), int(m_sats.size()));
    for (int i = 0; i < n; ++i) {
        const SatRef& ref = m_sats[size_t(i)];
        if (ref.list < 0 || ref.row >= int(m_snapshot.lists[size_t(ref.list)].size())) {
            continue;
        }
        QStringList& row = m_snapshot.lists[size_t(ref.list)][size_t(ref.row)];
        const std::optional<int> v = satvalues::Read(id, body.constData(), size, i);
        auto set = [&](SatColumn column, const QString& text) { row[SatColumnIndex(ref.list, column)] = text; };
        auto number = [&](SatColumn column) { set(column, v ? QString::number(*v) : QStringLiteral("??")); };
        auto signal = [&](SatColumn column) { set(column, v ? TwoDigits(*v) : QStringLiteral("??")); };
        switch (id) {
        case MsgId('E', 'L'):
            number(kColEl);
            break;
        case MsgId('A', 'Z'):
            number(kColAz);
            break;
        case MsgId('E', 'C'):
            signal(kColCa);
            break;
        case MsgId('E', '1'):
            signal(kColP1);
            break;
        case MsgId('E', '2'):
            signal(kColP2);
            break;
        case MsgId('E', '3'):
            signal(kColL2);
            break;
        case MsgId('E', '5'):
            signal(kColL5);
            break;
        case MsgId('T', 'C'): {
            const int tc = v.value_or(0);
            set(kColTc, tc < 60      ? QLatin1Char(':') + TwoDigits(tc)
                        : tc == 65535 ? QStringLiteral("inf")
                                      : QString::number(tc / 60));
            break;
        }
        case MsgId('S', 'S'):
            set(kColSs, TwoDigits(v.value_or(0)) + (satvalues::IsUsed(v.value_or(0)) ? QStringLiteral("+")
                                                                                    : QStringLiteral("-")));
            break;
        case MsgId('D', 'C'): {
            QString& cell = row[SatColumnIndex(ref.list, kColEl)];
            if (!v) {
                cell += QStringLiteral("  ");
                break;
            }
            // A GLONASS satellite transmits on its own channel's frequency; the others on L1.
            double f = kGpsL1Hz;
            if (ref.list == kListGlonass && ref.number != 70) {
                f = kGloL1BaseHz + kGloL1StepHz * (ref.number - 45);
            }
            const double r = -(*v * 1e-4 + m_drift * f);
            if (!cell.isEmpty() && !cell.endsWith(QLatin1Char('+')) && !cell.endsWith(QLatin1Char('-'))) {
                cell += std::fabs(r) < 1 ? QStringLiteral("^") : r < 0 ? QStringLiteral("--") : QStringLiteral("+");
            }
            break;
        }
        default:
            break;
        }
    }
}
