#include "sim/MessageGenerator.h"

#include "link/Checksum.h"
#include "sim/GlonassOrbit.h"
#include "sim/SimMessages.h"

#include <QDateTime>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <initializer_list>

namespace {

constexpr int64_t kDayMs = 86400000;
constexpr double kWeek = 604800.0;
constexpr int64_t kGpsEpochUtcMs = 315964800000;  // 1980-01-06
constexpr int64_t kGlonassMinusUtcMs = 3 * 3600000;
constexpr int64_t kMaxEventAgeMs = 86400000;
constexpr size_t kMaxEvents = 1024;
// Room for a fault to lengthen SI by two satellites within the three length digits.
constexpr qsizetype kMaxBody = 0xFFF;

// Position noise [m] and velocity noise [m/s] per unit of DOP, by solution type.
constexpr double kPosSigma[5] = {0, 3.0, 0.6, 0.2, 0.012};
constexpr double kVelSigma[5] = {0, 0.05, 0.03, 0.01, 0.005};
// RTK fixes after a short float.
constexpr int64_t kFloatBeforeFixMs = 15000;

// Keys of the noise streams.
enum NoiseKey : uint64_t {
    kNoiseCn0 = 1,
    kNoiseCn0Bias,
    kNoisePos,
    kNoiseVel,
    kNoiseCode,
    kNoiseCarrier,
    kNoiseAmbiguity,
    kNoiseClock,
    kNoiseDrift,
    kNoiseEvent,
    kNoiseAlmanac,
    kNoiseIono,
};

void PutU1(QByteArray& b, int v)
{
    b.append(static_cast<char>(v & 0xFF));
}
// Puts the given numbers over the first bytes of a list, appending where it is shorter (fault injection).
void OverwriteHead(QByteArray& b, std::initializer_list<int> values)
{
    int k = 0;
    for (int v : values) {
        if (k < b.size()) {
            b[k] = static_cast<char>(v);
        } else {
            PutU1(b, v);
        }
        ++k;
    }
}
void PutU2(QByteArray& b, uint32_t v)
{
    b.append(static_cast<char>(v & 0xFF));
    b.append(static_cast<char>((v >> 8) & 0xFF));
}
void PutU4(QByteArray& b, uint32_t v)
{
    for (int i = 0; i < 4; ++i) {
        b.append(static_cast<char>((v >> (8 * i)) & 0xFF));
    }
}
void PutF4(QByteArray& b, double v)
{
    const float f = static_cast<float>(v);
    uint32_t u = 0;
    std::memcpy(&u, &f, 4);
    PutU4(b, u);
}
void PutF8(QByteArray& b, double v)
{
    uint64_t u = 0;
    std::memcpy(&u, &v, 8);
    PutU4(b, uint32_t(u & 0xFFFFFFFFu));
    PutU4(b, uint32_t(u >> 32));
}

bool IsTextMessage(const QByteArray& id)
{
    return id == "MS" || id == "GS" || id == "NS";
}

// A slowly wandering value with zero mean and unit spread.
double Wander(uint32_t seed, uint64_t key, uint64_t axis, int64_t t)
{
    const double s = double(t) / 1000.0;
    const double p1 = 2 * kPi * SimNoise::Uniform(seed, key, axis, 1);
    const double p2 = 2 * kPi * SimNoise::Uniform(seed, key, axis, 2);
    return 1.1 * (0.8 * std::sin(2 * kPi * s / 317.0 + p1) + 0.6 * std::sin(2 * kPi * s / 61.0 + p2) +
                  0.55 * SimNoise::Gauss(seed, key, axis, uint64_t(t)));
}

double SemicirclesOf(double rad)
{
    double a = std::fmod(rad, 2 * kPi);
    if (a >= kPi) {
        a -= 2 * kPi;
    } else if (a < -kPi) {
        a += 2 * kPi;
    }
    return a / kPi;
}

// The broadcast elements of a satellite's orbit referred to another time `ref` (model seconds) whose time of
// week is `refTow`.
struct Broadcast
{
    double m0, omega0, i0, n;
};
Broadcast ElementsAt(const SimSatellite& s, double ref, double refTow)
{
    const OrbitElements& o = s.orbit;
    const double a = o.sqrtA * o.sqrtA;
    Broadcast b;
    b.n = std::sqrt(Wgs84::kMu / (a * a * a)) + o.deltaN;
    const double dt = ref - o.toe;
    b.m0 = o.m0 + b.n * dt;
    // The broadcast node is counted from the start of the week: Omega = Omega0 + (Omega-dot - wE) tk - wE toe.
    b.omega0 = o.omega0 + (o.omegaDot - Wgs84::kOmegaEarth) * dt + Wgs84::kOmegaEarth * refTow;
    b.i0 = o.i0 + o.iDot * dt;
    return b;
}

// GLONASS day number within its four-year interval and the interval's number (1996-1999 is 1).
void GlonassDay(int64_t gloMs, int* dayInInterval, int* n4, int* secOfDay)
{
    const QDateTime dt = QDateTime::fromMSecsSinceEpoch(gloMs, Qt::UTC);
    const QDate d = dt.date();
    *n4 = (d.year() - 1996) / 4 + 1;
    const QDate first(1996 + 4 * (*n4 - 1), 1, 1);
    *dayInInterval = int(first.daysTo(d)) + 1;
    *secOfDay = int(((gloMs % kDayMs) + kDayMs) % kDayMs / 1000);
}

}  // namespace

QByteArray TextFrame(const char id[2], const QByteArray& text)
{
    QByteArray frame;
    frame.append(id, 2);
    frame.append(QByteArray::number(text.size() + 3, 16).toUpper().rightJustified(3, '0'));
    frame.append(text);
    frame.append('@');
    frame.append(
        QByteArray::number(Checksum8(frame.constData(), size_t(frame.size())), 16).toUpper().rightJustified(2, '0'));
    frame.append('\n');
    return frame;
}

CMessageGenerator::CMessageGenerator(double latDeg, double lonDeg, double heightM, uint32_t seed, int64_t startUtcMs)
    : m_sky(latDeg, lonDeg, heightM, seed), m_seed(seed), m_startUtcMs(startUtcMs)
{
    Reboot(0);
}

void CMessageGenerator::Reboot(int64_t bootMs)
{
    m_bootMs = bootMs;
    m_sky.Reboot(ModelSeconds(bootMs));
    m_epoch = EpochData{};
    m_events.clear();
}

void CMessageGenerator::Step(int64_t t)
{
    m_sky.Step(ModelSeconds(t));
    m_epoch.t = -1;
}

double CMessageGenerator::GpsSeconds(int64_t t) const
{
    return double(m_startUtcMs + t + kGpsMinusUtcMs - kGpsEpochUtcMs) / 1000.0;
}

void CMessageGenerator::AddEvent(char input, int64_t atMs)
{
    const uint32_t ns =
        uint32_t(SimNoise::Hash(m_seed, kNoiseEvent, uint64_t(atMs), uint64_t(m_events.size())) % 1000000u);
    m_events.push_back({input, atMs, ns});
    while (m_events.size() > kMaxEvents || (!m_events.empty() && m_events.front().atMs < atMs - kMaxEventAgeMs)) {
        m_events.pop_front();
    }
}

void CMessageGenerator::InjectFault(SimFault fault, const QByteArray& id, int count)
{
    if (count > 0) {
        m_faults.push_back({fault, id, count});
    }
}

bool CMessageGenerator::NextFaultIs(const QByteArray& id, SimFault fault) const
{
    for (const PendingFault& p : m_faults) {
        if (p.id == id) {
            return p.fault == fault;
        }
    }
    return false;
}

bool CMessageGenerator::TakeFault(const QByteArray& id, SimFault* fault)
{
    for (auto it = m_faults.begin(); it != m_faults.end(); ++it) {
        if (it->id == id) {
            *fault = it->fault;
            if (--it->left <= 0) {
                m_faults.erase(it);
            }
            return true;
        }
    }
    return false;
}

std::vector<int> CMessageGenerator::KnownAlmanac(GnssSystem system, int64_t t, const ReceiverStatus& status) const
{
    // The almanac arrives page by page: each satellite's record some time after the start, all within a few
    // minutes (longer when the receiver lost its memory).
    const double spread = status.almanacValid ? 180.0 : 280.0;
    const double since = double(t - m_bootMs) / 1000.0;
    std::vector<int> known;
    for (const SimSatellite& s : m_sky.Satellites()) {
        if (s.system != system) {
            continue;
        }
        const double due =
            20.0 + spread * SimNoise::Uniform(m_seed, kNoiseAlmanac, uint64_t(system), uint64_t(s.number));
        if (since >= due) {
            known.push_back(s.number);
        }
    }
    return known;
}

const EpochData& CMessageGenerator::Epoch(int64_t t, const ReceiverStatus& status)
{
    if (m_epoch.t != t) {
        ComputeEpoch(t, status);
    }
    return m_epoch;
}

void CMessageGenerator::ComputeEpoch(int64_t t, const ReceiverStatus& status)
{
    EpochData& e = m_epoch;
    e = EpochData{};
    e.t = t;
    e.geoidSeparation = m_geoidSeparation;
    const double ts = ModelSeconds(t);
    ModelClock(t, e);

    // The epoch is tagged with the receiver's time: its signals arrived when true time was that less the receiver
    // clock's offset.
    const double arrival = ts - e.clockOffset;
    const std::vector<SimSatellite>& sats = m_sky.Satellites();
    std::vector<Vec3> los;
    std::vector<bool> ownClock;
    for (size_t i = 0; i < sats.size(); ++i) {
        const double lock = m_sky.LockStart(i);
        if (lock < 0 || lock > ts) {
            continue;
        }
        EpochSat es;
        es.sat = &sats[i];
        es.view = m_sky.View(sats[i], arrival);
        if (es.view.elevationDeg <= 0) {
            continue;  // set since the last step
        }
        es.lockSeconds = ts - lock;
        Observe(i, lock, t, arrival, e, status, es);
        e.sats.push_back(es);
        if (es.used) {
            los.push_back(es.view.los);
            ownClock.push_back(sats[i].system == GnssSystem::Glonass);
        }
    }
    // SI order: by system, then by number.
    std::stable_sort(e.sats.begin(), e.sats.end(), [](const EpochSat& a, const EpochSat& b) {
        if (a.sat->system != b.sat->system) {
            return a.sat->system < b.sat->system;
        }
        return a.sat->number < b.sat->number;
    });

    e.dops = ComputeDops(los, ownClock);
    e.solution = SolutionKind(e, t, status);
    if (e.solution == 0) {
        for (EpochSat& s : e.sats) {
            if (s.used) {
                s.status = kStatusNoSolution;
            }
        }
        return;
    }
    PlaceSolution(t, e);
}

void CMessageGenerator::ModelClock(int64_t t, EpochData& e) const
{
    const double ts = ModelSeconds(t);
    // Receiver clock: a steered oscillator whose offset stays within half a millisecond (it jumps back by 1 ms).
    const double d0 = (SimNoise::Uniform(m_seed, kNoiseClock, 1) - 0.5) * 4e-9;
    const double b0 = (SimNoise::Uniform(m_seed, kNoiseClock, 2) - 0.5) * 4e-4;
    const double phi = 2 * kPi * SimNoise::Uniform(m_seed, kNoiseClock, 3);
    constexpr double kWobble = 3e-10, kWobblePeriod = 1800.0;
    const double w = 2 * kPi / kWobblePeriod;
    e.smoothedDrift = d0 + kWobble * std::sin(w * ts + phi);
    e.drift = e.smoothedDrift + 2e-11 * SimNoise::Gauss(m_seed, kNoiseDrift, uint64_t(t));
    double offset = b0 + d0 * ts - kWobble / w * (std::cos(w * ts + phi) - std::cos(phi));
    e.clockOffset = offset - std::round(offset / 1e-3) * 1e-3;
    e.oscillator = (SimNoise::Uniform(m_seed, kNoiseClock, 4) - 0.5) * 1.2e-6 + 5e-9 * std::sin(2 * kPi * ts / 3600);
}

void CMessageGenerator::Observe(size_t i, double lock, int64_t t, double arrival, const EpochData& e,
                                const ReceiverStatus& status, EpochSat& es) const
{
    const SimSatellite& s = *es.sat;
    const bool systemOn = status.systems[size_t(s.system)];
    es.used = systemOn && es.view.elevationDeg >= status.elevationMask;
    es.status = !systemOn ? kStatusSystemOff : es.used ? kStatusUsed : kStatusBelowMask;

    // Signal strength grows with elevation.
    const double sinEl = std::sin(es.view.elevationDeg * kDegToRad);
    const double base = 33.0 + 17.0 * std::pow(sinEl, 0.6) + 2.0 * (SimNoise::Uniform(m_seed, kNoiseCn0Bias, i) - 0.5) +
                        0.7 * SimNoise::Gauss(m_seed, kNoiseCn0, i, uint64_t(t));
    const double offsets[SimSignal::kCount] = {0.0, -3.0, -5.0, -2.0, 2.0};
    for (int k = 0; k < SimSignal::kCount; ++k) {
        const uint8_t sig = uint8_t(1u << k);
        const bool has = (s.signalMask & sig) && (!status.l1Only || sig == SimSignal::CaL1);
        es.cn0[size_t(k)] = has ? uint8_t(std::clamp(std::lround(base + offsets[k]), 20L, 58L)) : 255;
    }

    // Raw data: code and carrier on CA/L1, P/L1, P/L2. The ionosphere delays the code and advances the carrier
    // by the same amount, more the lower the satellite.
    const double ionoScale = 2.0 + 4.0 * SimNoise::Uniform(m_seed, kNoiseIono, i);
    auto ionoL1 = [ionoScale](double elevationDeg) {
        return ionoScale / std::sqrt(1.0 - std::pow(0.94 * std::cos(elevationDeg * kDegToRad), 2));
    };
    // The L1 carrier's path without the receiver clock: range, satellite clock at transmission, atmosphere.
    auto carrierPath = [&](const SatView& v, double at) {
        return v.range - Wgs84::kC * SatClock(s, at - v.range / Wgs84::kC) + m_sky.Troposphere(v.elevationDeg) -
               ionoL1(v.elevationDeg);
    };
    const double f1 = CarrierHz(s, SimSignal::CaL1);
    // Doppler is the rate of that same path (a central difference, exact to well under a millimetre a second)
    // with the receiver clock's measured drift; positive while the path grows, as the receiver reports it
    // (the opposite of RINEX's sign).
    constexpr double kHalfSpan = 0.05;
    const double pathRate = (carrierPath(m_sky.View(s, arrival + kHalfSpan), arrival + kHalfSpan) -
                             carrierPath(m_sky.View(s, arrival - kHalfSpan), arrival - kHalfSpan)) /
                            (2 * kHalfSpan);
    es.doppler = int32_t(std::lround((pathRate / Wgs84::kC + e.drift) * f1 * 1e4));
    es.iono = ionoL1(es.view.elevationDeg);
    MeasureRanges(i, lock, t, arrival, e, status, es);
}

void CMessageGenerator::MeasureRanges(size_t i, double lock, int64_t t, double arrival, const EpochData& e,
                                      const ReceiverStatus& status, EpochSat& es) const
{
    const SimSatellite& s = *es.sat;
    const double f1 = CarrierHz(s, SimSignal::CaL1);
    const double tropo = m_sky.Troposphere(es.view.elevationDeg);
    const double iono1 = es.iono;
    const double clocks = Wgs84::kC * (e.clockOffset - SatClock(s, arrival - es.view.range / Wgs84::kC));
    const uint8_t rawSignals[3] = {SimSignal::CaL1, SimSignal::PL1, SimSignal::PL2};
    const uint64_t lockKey = uint64_t(std::llround(lock * 1000)) + (uint64_t(SlipCount(s, t)) << 40);
    const bool slipped = SlipAt(s, t);
    for (size_t k = 0; k < 3; ++k) {
        const uint8_t sig = rawSignals[k];
        if (!(s.signalMask & sig) || (status.l1Only && sig != SimSignal::CaL1)) {
            continue;
        }
        const double f = CarrierHz(s, sig);
        const double iono = iono1 * (f1 / f) * (f1 / f);
        // The satellite's group delay: all of TGD on L1, (f1/f2)^2 of it on L2, none in the ionosphere-free
        // combination the broadcast clock refers to.
        const double groupDelay = Wgs84::kC * s.tgd * (f1 / f) * (f1 / f);
        // Tracking noise grows as the signal weakens, as the square root of the noise density over the signal: at
        // 45 dB-Hz 0.15 m on C/A, 0.25 m on the P codes, 0.002 cycles of carrier.
        const double weakness = std::pow(10.0, (45.0 - es.cn0[k]) / 20.0);
        const double codeNoise =
            (k == 0 ? 0.15 : 0.25) * weakness * SimNoise::Gauss(m_seed, kNoiseCode + 16 * k, i, uint64_t(t));
        es.pseudorange[k] = (es.view.range + clocks + tropo + iono + groupDelay + codeNoise) / Wgs84::kC;
        const double ambiguity =
            std::floor((SimNoise::Uniform(m_seed, kNoiseAmbiguity + 16 * k, i, lockKey) - 0.5) * 2e6);
        const double lambda = Wgs84::kC / f;
        es.phase[k] = (es.view.range + clocks + tropo - iono) / lambda + ambiguity +
                      0.002 * weakness * SimNoise::Gauss(m_seed, kNoiseCarrier + 16 * k, i, uint64_t(t));
        es.lockFlags[k] = es.lockSeconds >= 2.0 && !slipped ? 0x11 : 0x10;
    }
}

int CMessageGenerator::SolutionKind(const EpochData& e, int64_t t, const ReceiverStatus& status)
{
    if (!e.dops.valid || t - status.bootMs < kFirstFixMs) {
        return 0;
    }
    const QString& m = status.posMode;
    if (m == QLatin1String("cd") || m == QLatin1String("wd")) {
        return 2;
    }
    if (m == QLatin1String("pf")) {
        return 3;
    }
    if (m == QLatin1String("pd")) {
        return t - status.bootMs >= kFirstFixMs + kFloatBeforeFixMs ? 4 : 3;
    }
    return 1;
}

void CMessageGenerator::PlaceSolution(int64_t t, EpochData& e) const
{
    const double sigma = kPosSigma[e.solution];
    const double vSigma = kVelSigma[e.solution];
    const Vec3 enu = {sigma * e.dops.hdop / std::sqrt(2.0) * Wander(m_seed, kNoisePos, 0, t),
                      sigma * e.dops.hdop / std::sqrt(2.0) * Wander(m_seed, kNoisePos, 1, t),
                      sigma * e.dops.vdop * Wander(m_seed, kNoisePos, 2, t)};
    e.pos = m_sky.SiteEcef() + EnuToEcefDelta(m_sky.LatRad(), m_sky.LonRad(), enu);
    EcefToGeodetic(e.pos, &e.lat, &e.lon, &e.height);
    if (m_exactPosition) {
        e.pos = m_sky.SiteEcef();
        e.lat = m_sky.LatRad();
        e.lon = m_sky.LonRad();
        e.height = m_sky.HeightM();
    }
    const Vec3 venu = {vSigma * e.dops.hdop / std::sqrt(2.0) * SimNoise::Gauss(m_seed, kNoiseVel, 0, uint64_t(t)),
                       vSigma * e.dops.hdop / std::sqrt(2.0) * SimNoise::Gauss(m_seed, kNoiseVel, 1, uint64_t(t)),
                       vSigma * e.dops.vdop * SimNoise::Gauss(m_seed, kNoiseVel, 2, uint64_t(t))};
    e.vel = EnuToEcefDelta(m_sky.LatRad(), m_sky.LonRad(), venu);
    e.posError = float(sigma * e.dops.Pdop());
    e.velError = float(vSigma * e.dops.Pdop());
    e.hRms = float(sigma * e.dops.hdop);
    e.vRms = float(sigma * e.dops.vdop);
    e.hVelRms = float(vSigma * e.dops.hdop);
    e.vVelRms = float(vSigma * e.dops.vdop);
}

QByteArray CMessageGenerator::Frames(const QByteArray& id, int64_t t, int64_t periodMs, const ReceiverStatus& status)
{
    if (id.size() != 2) {
        return QByteArray();
    }
    // Times, dates, epoch ends and event markers need no sky: a stream of only those costs nothing per epoch.
    const bool timeOnly = id == "~~" || id == "::" || id == "RD" || id == "||" || id == "XA" || id == "XB";
    const EpochData& e = timeOnly ? m_noEpoch : Epoch(t, status);
    if (id == "XA" || id == "XB") {
        // Every event since the previous output of this port, each in a marker of its own.
        const char input = id[1];
        QByteArray out;
        int n = 0;
        for (const Event& ev : m_events) {
            if (ev.input != input || ev.atMs < t - periodMs || ev.atMs >= t || n >= kMaxEventsPerOutput) {
                continue;
            }
            const int64_t gps = m_startUtcMs + ev.atMs + kGpsMinusUtcMs;
            QByteArray body;
            PutU4(body, uint32_t(((gps % kDayMs) + kDayMs) % kDayMs));
            PutU4(body, ev.ns);
            PutU1(body, 0);
            SimFault fault;
            const bool faulty = TakeFault(id, &fault);
            if (faulty && fault == SimFault::TruncatedBody) {
                body.truncate(body.size() / 2);
            }
            QByteArray frame = BinaryFrame(id.constData(), body);
            if (faulty && fault == SimFault::BadChecksum) {
                frame[frame.size() - 2] = static_cast<char>(frame[frame.size() - 2] ^ 0x5A);
            }
            out += frame;
            ++n;
        }
        return out;
    }

    SimFault fault = SimFault::BadChecksum;
    bool faulty = false;
    auto faultOf = [&](SimFault f) { return faulty && fault == f; };

    if (IsTextMessage(id)) {
        // A fault is taken only by a message that goes out.
        QByteArray text = Text(id, e, status, NextFaultIs(id, SimFault::OutOfRangeSatellites));
        if (text.isEmpty()) {
            return QByteArray();
        }
        if (text.size() + 3 > kMaxBody) {
            return QByteArray();  // a length the header cannot carry is never sent
        }
        faulty = TakeFault(id, &fault);
        if (faultOf(SimFault::TruncatedBody)) {
            text.truncate(text.size() / 2);
        }
        QByteArray frame = TextFrame(id.constData(), text);
        if (faultOf(SimFault::BadChecksum)) {
            const int sum = QByteArray::fromHex(frame.mid(frame.size() - 3, 2)).at(0) & 0xFF;
            const QByteArray wrong = QByteArray::number(sum ^ 0x5A, 16).toUpper().rightJustified(2, '0');
            frame.replace(frame.size() - 3, 2, wrong);
        }
        return frame;
    }

    if (SuppressSi(id, e)) {
        return QByteArray();
    }
    QByteArray body;
    if (!Body(id, e, t, periodMs, status, NextFaultIs(id, SimFault::OutOfRangeSatellites), &body) ||
        body.size() + 3 > kMaxBody) {
        return QByteArray();
    }
    faulty = TakeFault(id, &fault);
    if (faultOf(SimFault::TruncatedBody)) {
        body.truncate(body.size() / 2);
    } else if (id == "SI" && faultOf(SimFault::SiShorter)) {
        body.chop(std::min<qsizetype>(2, body.size()));
    } else if (id == "SI" && faultOf(SimFault::SiLonger)) {
        // Two GPS satellites that are not tracked.
        int added = 0;
        for (int prn = 1; prn <= 32 && added < 2; ++prn) {
            if (!body.contains(static_cast<char>(prn))) {
                PutU1(body, prn);
                ++added;
            }
        }
    }
    QByteArray frame = BinaryFrame(id.constData(), body);
    if (faultOf(SimFault::BadChecksum)) {
        frame[frame.size() - 2] = static_cast<char>(frame[frame.size() - 2] ^ 0x5A);
    }
    return frame;
}

bool CMessageGenerator::Body(const QByteArray& id, const EpochData& e, int64_t t, int64_t periodMs,
                             const ReceiverStatus& status, bool outOfRange, QByteArray* body) const
{
    QByteArray& b = *body;
    if (id == "~~" || id == "::") {
        PutU4(b, uint32_t(((ScaleMs(t) % kDayMs) + kDayMs) % kDayMs));
        return true;
    }
    if (id == "RD") {
        const QDate d = QDateTime::fromMSecsSinceEpoch(ScaleMs(t), Qt::UTC).date();
        PutU2(b, uint32_t(d.year()));
        PutU1(b, d.month());
        PutU1(b, d.day());
        PutU1(b, m_raw.timeScale);
        return true;
    }
    if (id == "||") {
        return true;
    }
    if (SatelliteListBody(id, e, outOfRange, b) || SolutionBody(id, e, t, status, b)) {
        return true;
    }
    // Almanacs and ephemerides go round the satellites, one a period.
    const int64_t slot = periodMs > 0 ? t / periodMs : 0;
    if (id == "GA" || id == "NA") {
        const GnssSystem sys = id == "GA" ? GnssSystem::Gps : GnssSystem::Glonass;
        const SimSatellite* sat = AlmanacSatellite(sys, t, slot, status);
        if (!sat) {
            return false;
        }
        if (sys == GnssSystem::Gps) {
            PutGpsAlmanac(*sat, t, outOfRange, b);
        } else {
            PutGlonassAlmanac(*sat, t, outOfRange, b);
        }
        return true;
    }
    if (id == "GE" || id == "NE") {
        const GnssSystem sys = id == "GE" ? GnssSystem::Gps : GnssSystem::Glonass;
        const SimSatellite* sat = TrackedSatellite(sys, e, slot);
        if (!sat) {
            return false;
        }
        if (sys == GnssSystem::Gps) {
            PutGpsEphemeris(*sat, t, b);
        } else {
            PutGlonassEphemeris(*sat, t, b);
        }
        return true;
    }
    return false;  // ids without content ("==", "WL")
}

bool CMessageGenerator::SatelliteListBody(const QByteArray& id, const EpochData& e, bool outOfRange,
                                          QByteArray& b) const
{
    const char a = id[0], c = id[1];
    auto is = [&](const char* x) { return a == x[0] && c == x[1]; };
    if (is("SI")) {
        for (const EpochSat& s : e.sats) {
            const bool noChannel = s.sat->system == GnssSystem::Glonass && s.sat->number == m_raw.noChannelSlot;
            PutU1(b, noChannel ? 70 : s.sat->siIndex);
        }
        if (outOfRange) {
            // Beyond every system's range, and the reserved 0.
            OverwriteHead(b, {250, 0});
        }
        return true;
    }
    if (is("NN")) {
        for (const EpochSat& s : e.sats) {
            if (s.sat->system == GnssSystem::Glonass) {
                PutU1(b, s.sat->number == m_raw.unknownSlot ? 255 : s.sat->number);
            }
        }
        if (outOfRange) {
            OverwriteHead(b, {25, 0});
        }
        return true;
    }
    if (is("EL")) {
        for (const EpochSat& s : e.sats) {
            PutU1(b, int(std::lround(s.view.elevationDeg)));
        }
        return true;
    }
    if (is("AZ")) {
        for (const EpochSat& s : e.sats) {
            PutU1(b, int(std::lround(s.view.azimuthDeg / 2)) % 180);
        }
        return true;
    }
    const char* const cn0Ids[SimSignal::kCount] = {"EC", "E1", "E2", "E3", "E5"};
    for (size_t k = 0; k < SimSignal::kCount; ++k) {
        if (is(cn0Ids[k])) {
            for (const EpochSat& s : e.sats) {
                PutU1(b, s.cn0[k]);
            }
            return true;
        }
    }
    if (is("TC")) {
        for (const EpochSat& s : e.sats) {
            PutU2(b, uint32_t(std::min(65535.0, std::floor(s.lockSeconds))));
        }
        return true;
    }
    if (is("SS")) {
        for (const EpochSat& s : e.sats) {
            PutU1(b, s.status);
        }
        PutU1(b, e.solution);
        return true;
    }
    if (is("DC")) {
        for (const EpochSat& s : e.sats) {
            PutU4(b, uint32_t(s.doppler));
        }
        return true;
    }
    const char* const flagIds[3] = {"FC", "F1", "F2"};
    const char* const rangeIds[3] = {"RC", "R1", "R2"};
    const char* const phaseIds[3] = {"PC", "P1", "P2"};
    for (size_t k = 0; k < 3; ++k) {
        if (is(flagIds[k])) {
            for (const EpochSat& s : e.sats) {
                PutU2(b, s.lockFlags[k]);
            }
            return true;
        }
        if (is(rangeIds[k]) || is(phaseIds[k])) {
            for (const EpochSat& s : e.sats) {
                PutF8(b, is(rangeIds[k]) ? s.pseudorange[k] : s.phase[k]);
            }
            return true;
        }
    }
    return false;
}

bool CMessageGenerator::SolutionBody(const QByteArray& id, const EpochData& e, int64_t t, const ReceiverStatus& status,
                                     QByteArray& b) const
{
    const char a = id[0], c = id[1];
    auto is = [&](const char* x) { return a == x[0] && c == x[1]; };
    if (is("PG")) {
        PutF8(b, e.lat);
        PutF8(b, e.lon);
        PutF8(b, e.height);
        PutF4(b, e.posError);
        PutU1(b, e.solution);
        return true;
    }
    if (is("PO") || is("PV")) {
        PutF8(b, e.pos.x);
        PutF8(b, e.pos.y);
        PutF8(b, e.pos.z);
        PutF4(b, e.posError);
        if (is("PV")) {
            PutF4(b, e.vel.x);
            PutF4(b, e.vel.y);
            PutF4(b, e.vel.z);
            PutF4(b, e.velError);
        }
        PutU1(b, e.solution);
        return true;
    }
    if (is("VE")) {
        PutF4(b, e.vel.x);
        PutF4(b, e.vel.y);
        PutF4(b, e.vel.z);
        PutF4(b, e.velError);
        PutU1(b, e.solution);
        return true;
    }
    if (is("SG")) {
        PutF4(b, e.hRms);
        PutF4(b, e.vRms);
        PutF4(b, e.hVelRms);
        PutF4(b, e.vVelRms);
        PutU1(b, e.solution);
        return true;
    }
    if (is("DP")) {
        const bool ok = e.dops.valid;
        PutF4(b, ok ? e.dops.hdop : 99.99);
        PutF4(b, ok ? e.dops.vdop : 99.99);
        PutF4(b, ok ? e.dops.tdop : 99.99);
        PutU1(b, e.solution);
        PutF4(b, ok ? e.dops.edop : 99.99);
        return true;
    }
    if (is("DO")) {
        PutF4(b, e.drift);
        PutF4(b, e.smoothedDrift);
        return true;
    }
    if (is("OO")) {
        PutF4(b, e.oscillator);
        return true;
    }
    if (is("TT")) {
        PutU4(b, uint32_t(std::max<int64_t>(0, t - status.trackingSinceMs) / 1000));
        return true;
    }
    if (is("SE")) {
        const uint64_t h = SimNoise::Hash(m_seed, 0x5E);
        for (int k = 0; k < 5; ++k) {
            PutU1(b, int((h >> (8 * k)) & 0xFF));
        }
        return true;
    }
    return false;
}

const SimSatellite* CMessageGenerator::AlmanacSatellite(GnssSystem sys, int64_t t, int64_t slot,
                                                        const ReceiverStatus& status) const
{
    const std::vector<int> known = KnownAlmanac(sys, t, status);
    if (known.empty()) {
        return nullptr;
    }
    const int number = known[size_t(slot % int64_t(known.size()))];
    const SimSatellite* sat = nullptr;
    for (const SimSatellite& s : m_sky.Satellites()) {
        if (s.system == sys && s.number == number) {
            sat = &s;
        }
    }
    return sat;
}

const SimSatellite* CMessageGenerator::TrackedSatellite(GnssSystem sys, const EpochData& e, int64_t slot)
{
    std::vector<const EpochSat*> tracked;
    for (const EpochSat& s : e.sats) {
        if (s.sat->system == sys) {
            tracked.push_back(&s);
        }
    }
    return tracked.empty() ? nullptr : tracked[size_t(slot % int64_t(tracked.size()))]->sat;
}

void CMessageGenerator::PutGpsAlmanac(const SimSatellite& sat, int64_t t, bool outOfRange, QByteArray& b) const
{
    const double ts = ModelSeconds(t);
    const double gps = GpsSeconds(t);
    const OrbitElements& o = sat.orbit;
    // toa on the 4096 s grid of its week.
    const double week = std::floor(gps / kWeek);
    const double toa = std::floor((gps - week * kWeek) / 4096.0) * 4096.0;
    const double toaAbs = week * kWeek + toa;
    const double ref = ts - (gps - toaAbs);
    const Broadcast br = ElementsAt(sat, ref, toa);
    PutU1(b, outOfRange ? 38 : sat.number);
    PutU2(b, uint32_t(week));
    PutU4(b, uint32_t(toa));
    PutU1(b, 0);
    PutU1(b, 0);
    PutU1(b, 0x0B);
    PutF4(b, sat.clockDrift);
    PutF4(b, BroadcastClock(sat, ref));
    PutF4(b, o.sqrtA);
    PutF4(b, o.e);
    PutF4(b, SemicirclesOf(br.m0));
    PutF4(b, SemicirclesOf(br.omega0));
    PutF4(b, SemicirclesOf(o.argPerigee));
    PutF4(b, br.i0 / kPi - 0.3);
    PutF4(b, o.omegaDot / kPi);
}

void CMessageGenerator::PutGlonassAlmanac(const SimSatellite& sat, int64_t t, bool outOfRange, QByteArray& b) const
{
    const double ts = ModelSeconds(t);
    const OrbitElements& o = sat.orbit;
    int day = 0, n4 = 0, sec = 0;
    GlonassDay(m_startUtcMs + t + kGlonassMinusUtcMs, &day, &n4, &sec);
    const double dayStart = ts - sec;
    const Broadcast br = ElementsAt(sat, dayStart, 0);
    const double u0 = o.argPerigee + br.m0;
    const double tLambda = std::fmod(std::fmod(-u0, 2 * kPi) + 2 * kPi, 2 * kPi) / br.n;
    const double lambda = o.omega0 + (o.omegaDot - Wgs84::kOmegaEarth) * (dayStart + tLambda - o.toe);
    PutU1(b, outOfRange ? 25 : sat.number);
    PutU1(b, sat.channel);
    PutU2(b, uint32_t(day));
    PutF4(b, tLambda);
    PutU1(b, 0);
    PutF4(b, -BroadcastClock(sat, ts));
    PutF8(b, SemicirclesOf(lambda));
    PutF4(b, br.i0 / kPi - 63.0 / 180.0);
    PutF4(b, o.e);
    PutF4(b, SemicirclesOf(o.argPerigee));
    PutF8(b, 2 * kPi / br.n - 43200.0);
    PutF4(b, 0.0);
    PutU1(b, n4);
}

void CMessageGenerator::PutGpsEphemeris(const SimSatellite& sat, int64_t t, QByteArray& b) const
{
    const double ts = ModelSeconds(t);
    const double gps = GpsSeconds(t);
    const OrbitElements& o = sat.orbit;
    const double week = std::floor(gps / kWeek);
    const double tow = gps - week * kWeek;
    const double toeAbs = std::floor(gps / 7200.0) * 7200.0;
    const double toeWeek = std::floor(toeAbs / kWeek);
    const double toe = toeAbs - toeWeek * kWeek;
    const double ref = ts - (gps - toeAbs);
    const Broadcast br = ElementsAt(sat, ref, toe);
    const int iode = int(std::fmod(toeAbs / 7200.0, 256.0));
    PutU1(b, sat.number);
    PutU4(b, uint32_t(tow));
    PutU1(b, 0);
    PutU2(b, uint32_t(iode));
    PutU4(b, uint32_t(toe));
    PutU1(b, 2);
    PutU1(b, 0);
    PutU2(b, uint32_t(toeWeek));
    PutF4(b, sat.tgd);
    PutF4(b, 0.0);
    PutF4(b, sat.clockDrift);
    PutF4(b, BroadcastClock(sat, ref));
    PutU4(b, uint32_t(toe));
    PutU2(b, uint32_t(iode));
    PutF8(b, o.sqrtA);
    PutF8(b, o.e);
    PutF8(b, SemicirclesOf(br.m0));
    PutF8(b, SemicirclesOf(br.omega0));
    PutF8(b, br.i0 / kPi);
    PutF8(b, SemicirclesOf(o.argPerigee));
    PutF4(b, o.deltaN / kPi);
    PutF4(b, o.omegaDot / kPi);
    PutF4(b, o.iDot / kPi);
    PutF4(b, o.crc);
    PutF4(b, o.crs);
    PutF4(b, o.cuc);
    PutF4(b, o.cus);
    PutF4(b, o.cic);
    PutF4(b, o.cis);
}

void CMessageGenerator::PutGlonassEphemeris(const SimSatellite& sat, int64_t t, QByteArray& b) const
{
    const double ts = ModelSeconds(t);
    int day = 0, n4 = 0, sec = 0;
    GlonassDay(m_startUtcMs + t + kGlonassMinusUtcMs, &day, &n4, &sec);
    const int tb = sec / 900 * 900;
    const double ref = ts - (sec - tb) - double(((m_startUtcMs + t) % 1000 + 1000) % 1000) / 1000.0;
    // The state at tb on the trajectory the satellite follows, in km, km/s and km/s^2 as GLONASS broadcasts it.
    const SatState st = Propagate(sat, ref);
    const Vec3 lunisolar = sat.glonass ? sat.glonass->Lunisolar() : Vec3{};
    PutU1(b, sat.number);
    PutU1(b, sat.channel);
    PutU2(b, uint32_t(day));
    PutU4(b, uint32_t(tb));
    PutU4(b, uint32_t(tb));
    PutU1(b, 0);
    PutU1(b, 0);
    PutU1(b, 0);
    for (const double v : {st.pos.x, st.pos.y, st.pos.z}) {
        PutF8(b, v / 1e3);
    }
    for (const double v : {st.vel.x, st.vel.y, st.vel.z, lunisolar.x, lunisolar.y, lunisolar.z}) {
        PutF4(b, v / 1e3);
    }
    PutF8(b, -2.3e-8);
    // The satellite clock is -tau-n + gamma-n (t - tb); L1 and L2 leave at the same time (delta-tau-n 0).
    PutF4(b, -BroadcastClock(sat, ref));
    PutF4(b, sat.clockDrift);
    PutF4(b, 0.0);
    PutU1(b, 2);
    PutU1(b, n4);
    PutU2(b, 0);
}

QByteArray CMessageGenerator::Text(const QByteArray& id, const EpochData& e, const ReceiverStatus& status,
                                   bool outOfRange) const
{
    if (id == "MS") {
        if (!status.roverMode) {
            return QByteArrayLiteral(",RTCMST,999,0000,0000,100.00,");
        }
        // A rover hears its base: a couple of messages a second, now and then a damaged one.
        const int64_t secs = std::max<int64_t>(0, e.t - status.bootMs) / 1000;
        const int ok = int((2 * secs) % 10000);
        const int bad = int((secs / 250) % 10000);
        const int age = 1 + (secs % 7 == 0 ? 1 : 0);
        const double percent = ok + bad > 0 ? 100.0 * ok / (ok + bad) : 100.0;
        return QString::asprintf(",RTCMST,%03d,%04d,%04d,%.2f,", age, ok, bad, percent).toLatin1();
    }
    // Satellite status for the satellites plot: {number,[channel,]el,az,{ca,p1,p2,ca2,l5},status} per satellite;
    // an empty list is "{}", so that a reader always finds the opening brace after the count.
    const bool glonass = id == "NS";
    const GnssSystem sys = glonass ? GnssSystem::Glonass : GnssSystem::Gps;
    QByteArrayList entries;
    for (const EpochSat& s : e.sats) {
        if (s.sat->system != sys) {
            continue;
        }
        int number = s.sat->number;
        if (outOfRange) {
            number = entries.isEmpty() ? (glonass ? 25 : 38) : entries.size() == 1 ? 0 : number;
        }
        int cn[SimSignal::kCount];
        for (size_t k = 0; k < SimSignal::kCount; ++k) {
            cn[k] = s.cn0[k] == 255 ? 0 : s.cn0[k];
        }
        QByteArray entry = QByteArray::number(number) + ',';
        if (glonass) {
            entry += QByteArray::number(s.sat->channel) + ',';
        }
        entry +=
            QString::asprintf("%ld,%ld,{%d,%d,%d,%d,%d},%d", std::lround(s.view.elevationDeg),
                              std::lround(s.view.azimuthDeg) % 360, cn[0], cn[1], cn[2], cn[3], cn[4], int(s.status))
                .toLatin1();
        entries << '{' + entry + '}';
    }
    return (glonass ? QByteArrayLiteral(",GLSVST,") : QByteArrayLiteral(",GPSVST,")) +
           QByteArray::number(entries.size()) + ',' +
           (entries.isEmpty() ? QByteArrayLiteral("{}") : entries.join(',')) + ',';
}

void CMessageGenerator::SetRawProfile(const RawDataProfile& profile)
{
    m_raw = profile;
    m_lastSi.clear();
}

void CMessageGenerator::InjectCycleSlip(GnssSystem system, int number, int64_t atMs)
{
    m_slips.push_back({system, number, atMs});
    m_epoch.t = -1;
}

int CMessageGenerator::SlipCount(const SimSatellite& sat, int64_t t) const
{
    int n = 0;
    for (const Slip& s : m_slips) {
        n += s.system == sat.system && s.number == sat.number && s.atMs <= t;
    }
    return n;
}

bool CMessageGenerator::SlipAt(const SimSatellite& sat, int64_t t) const
{
    for (const Slip& s : m_slips) {
        if (s.system == sat.system && s.number == sat.number && s.atMs == t) {
            return true;
        }
    }
    return false;
}

int64_t CMessageGenerator::ScaleMs(int64_t t) const
{
    const int64_t utc = m_startUtcMs + t;
    switch (m_raw.timeScale) {
        case 1:
        case 3:
            return utc;
        case 2:
            return utc + kGlonassMinusUtcMs;
        default:
            return utc + kGpsMinusUtcMs;
    }
}

bool CMessageGenerator::SuppressSi(const QByteArray& id, const EpochData& e)
{
    if (!m_raw.siOnlyOnChange || (id != "SI" && id != "NN")) {
        return false;
    }
    QByteArray set;
    for (const EpochSat& s : e.sats) {
        set += char(s.sat->siIndex);
    }
    if (id == "SI") {
        const bool same = set == m_lastSi;
        m_lastSi = set;
        if (!same) {
            m_siSentAt = e.t;
        }
        return same;
    }
    return m_siSentAt != e.t;  // NN goes with its SI
}
