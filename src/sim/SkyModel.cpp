#include "sim/SkyModel.h"

#include "sim/GlonassOrbit.h"

#include <algorithm>
#include <cmath>

namespace {

// Orbital periods [s]: half a sidereal day for GPS, the others' nominal ones.
constexpr double kGpsPeriod = 43082.0;
constexpr double kGlonassPeriod = 40544.0;
constexpr double kGalileoPeriod = 50680.0;
constexpr double kGeoRadius = 42164170.0;

// Frequency channel of each GLONASS slot 1-24; satellites on opposite sides of a plane share one.
constexpr int kGlonassChannels[24] = {1, -4, 5, 6, 1, -4, 5, 6, -2, -7, 0, -1, -2, -7, 0, -1, 4, -3, 3, 2, 4, -3, 3, 2};

constexpr int kGalileoPrns[] = {1, 2, 3, 4, 5, 7, 8, 9, 10, 11, 12, 13, 14, 15, 18, 19, 21, 24, 25, 26, 27, 30, 31, 33};

struct Geo
{
    int prn;
    double longitudeDeg;
};
// Spread around the globe so that every site sees a few.
constexpr Geo kSbas[] = {{121, -15.5},  {123, 31.5},   {126, 25.0}, {127, 82.5},  {128, 55.0},  {129, 127.9},
                         {131, -117.0}, {133, -129.0}, {136, 5.0},  {137, 127.0}, {138, -107.3}};

double SemiMajorAxis(double period)
{
    const double n = 2 * kPi / period;
    return std::cbrt(Wgs84::kMu / (n * n));
}

double Wrap2Pi(double a)
{
    a = std::fmod(a, 2 * kPi);
    return a < 0 ? a + 2 * kPi : a;
}

// Kepler's equation by Newton's method; a near-circular orbit converges in two or three steps.
double EccentricAnomaly(const OrbitElements& o, double tk, double* meanMotion)
{
    const double a = o.sqrtA * o.sqrtA;
    *meanMotion = std::sqrt(Wgs84::kMu / (a * a * a)) + o.deltaN;
    const double m = o.m0 + *meanMotion * tk;
    double e = m + o.e * std::sin(m);
    for (int i = 0; i < 8; ++i) {
        const double step = (e - o.e * std::sin(e) - m) / (1 - o.e * std::cos(e));
        e -= step;
        if (std::fabs(step) < 1e-12) {
            break;
        }
    }
    return e;
}

SatState PropagateKepler(const OrbitElements& o, double t)
{
    SatState s;
    const double tk = t - o.toe;
    const double a = o.sqrtA * o.sqrtA;
    double n = 0;
    const double e = EccentricAnomaly(o, tk, &n);
    const double sinE = std::sin(e), cosE = std::cos(e);
    const double den = 1 - o.e * cosE;
    const double root = std::sqrt(1 - o.e * o.e);
    const double v = std::atan2(root * sinE, cosE - o.e);
    const double phi = v + o.argPerigee;
    const double s2 = std::sin(2 * phi), c2 = std::cos(2 * phi);
    const double u = phi + o.cus * s2 + o.cuc * c2;
    const double r = a * den + o.crs * s2 + o.crc * c2;
    const double inc = o.i0 + o.cis * s2 + o.cic * c2 + o.iDot * tk;
    const double om = o.omega0 + (o.omegaDot - Wgs84::kOmegaEarth) * tk;

    const double xp = r * std::cos(u), yp = r * std::sin(u);
    const double so = std::sin(om), co = std::cos(om), si = std::sin(inc), ci = std::cos(inc);
    s.pos = {xp * co - yp * ci * so, xp * so + yp * ci * co, yp * si};

    const double eDot = n / den;
    const double phiDot = eDot * root / den;
    const double uDot = phiDot * (1 + 2 * (o.cus * c2 - o.cuc * s2));
    const double rDot = a * o.e * sinE * eDot + 2 * phiDot * (o.crs * c2 - o.crc * s2);
    const double incDot = o.iDot + 2 * phiDot * (o.cis * c2 - o.cic * s2);
    const double omDot = o.omegaDot - Wgs84::kOmegaEarth;
    const double xpDot = rDot * std::cos(u) - r * uDot * std::sin(u);
    const double ypDot = rDot * std::sin(u) + r * uDot * std::cos(u);
    const double w = ypDot * ci - yp * si * incDot;
    s.vel = {xpDot * co - w * so - omDot * s.pos.y, xpDot * so + w * co + omDot * s.pos.x,
             ypDot * si + yp * ci * incDot};
    return s;
}

uint64_t Mix(uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

}  // namespace

namespace SimNoise {

uint64_t Hash(uint64_t a, uint64_t b, uint64_t c, uint64_t d)
{
    return Mix(Mix(Mix(Mix(a) ^ b) ^ c) ^ d);
}

double Uniform(uint64_t a, uint64_t b, uint64_t c, uint64_t d)
{
    return double(Hash(a, b, c, d) >> 11) * (1.0 / 9007199254740992.0);
}

double Gauss(uint64_t a, uint64_t b, uint64_t c, uint64_t d)
{
    const uint64_t h = Hash(a, b, c, d);
    const double u1 = (double((h >> 11) & 0x3FFFFFF) + 0.5) / 67108864.0;
    const double u2 = double(Mix(h) >> 11) * (1.0 / 9007199254740992.0);
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(2 * kPi * u2);
}

}  // namespace SimNoise

double Norm(const Vec3& a)
{
    return std::sqrt(Dot(a, a));
}

Vec3 GeodeticToEcef(double lat, double lon, double h)
{
    const double s = std::sin(lat);
    const double n = Wgs84::kA / std::sqrt(1 - Wgs84::kE2 * s * s);
    return {(n + h) * std::cos(lat) * std::cos(lon), (n + h) * std::cos(lat) * std::sin(lon),
            (n * (1 - Wgs84::kE2) + h) * s};
}

void EcefToGeodetic(const Vec3& p, double* lat, double* lon, double* h)
{
    const double rho = std::hypot(p.x, p.y);
    double phi = std::atan2(p.z, rho * (1 - Wgs84::kE2));
    double height = 0;
    for (int i = 0; i < 6; ++i) {
        const double s = std::sin(phi);
        const double n = Wgs84::kA / std::sqrt(1 - Wgs84::kE2 * s * s);
        height = rho / std::cos(phi) - n;
        phi = std::atan2(p.z, rho * (1 - Wgs84::kE2 * n / (n + height)));
    }
    *lat = phi;
    *lon = std::atan2(p.y, p.x);
    *h = height;
}

Vec3 EnuToEcefDelta(double lat, double lon, const Vec3& enu)
{
    const double sl = std::sin(lat), cl = std::cos(lat), so = std::sin(lon), co = std::cos(lon);
    return {-so * enu.x - sl * co * enu.y + cl * co * enu.z, co * enu.x - sl * so * enu.y + cl * so * enu.z,
            cl * enu.y + sl * enu.z};
}

Vec3 EcefDeltaToEnu(double lat, double lon, const Vec3& d)
{
    const double sl = std::sin(lat), cl = std::cos(lat), so = std::sin(lon), co = std::cos(lon);
    return {-so * d.x + co * d.y, -sl * co * d.x - sl * so * d.y + cl * d.z, cl * co * d.x + cl * so * d.y + sl * d.z};
}

SatState Propagate(const SimSatellite& sat, double t)
{
    if (sat.geo) {
        SatState s;
        s.pos = {kGeoRadius * std::cos(sat.geoLongitude), kGeoRadius * std::sin(sat.geoLongitude), 0};
        return s;
    }
    return sat.glonass ? sat.glonass->At(t) : PropagateKepler(sat.orbit, t);
}

double BroadcastClock(const SimSatellite& sat, double t)
{
    return sat.clockBias + sat.clockDrift * t;
}

double RelativisticClock(const SimSatellite& sat, double t)
{
    if (sat.geo || sat.glonass) {
        return 0;
    }
    // F e sqrt(A) sin(E), F = -2 sqrt(mu) / c^2.
    constexpr double kF = -4.442807633e-10;
    double n = 0;
    return kF * sat.orbit.e * sat.orbit.sqrtA * std::sin(EccentricAnomaly(sat.orbit, t - sat.orbit.toe, &n));
}

double SatClock(const SimSatellite& sat, double t)
{
    return BroadcastClock(sat, t) + RelativisticClock(sat, t);
}

double CarrierHz(const SimSatellite& sat, uint8_t signal)
{
    const bool l2 = signal == SimSignal::PL2 || signal == SimSignal::CaL2;
    if (sat.system == GnssSystem::Glonass) {
        if (signal == SimSignal::L5) {
            return 1202.025e6;
        }
        return l2 ? 1246.0e6 + 0.4375e6 * sat.channel : 1602.0e6 + 0.5625e6 * sat.channel;
    }
    if (signal == SimSignal::L5) {
        return 1176.45e6;
    }
    return l2 ? 1227.60e6 : 1575.42e6;
}

double Dops::Pdop() const
{
    return std::sqrt(hdop * hdop + vdop * vdop);
}

Dops ComputeDops(const std::vector<Vec3>& los, const std::vector<bool>& ownClock)
{
    Dops d;
    bool groups[2] = {false, false};
    for (size_t i = 0; i < los.size(); ++i) {
        groups[i < ownClock.size() && ownClock[i] ? 1 : 0] = true;
    }
    const int clock0 = 3;
    const int clock1 = groups[0] ? 4 : 3;
    const int dim = 3 + int(groups[0]) + int(groups[1]);
    if (int(los.size()) < dim || dim < 4) {
        return d;
    }
    double n[5][10] = {};
    for (size_t k = 0; k < los.size(); ++k) {
        double row[5] = {-los[k].x, -los[k].y, -los[k].z, 0, 0};
        row[(k < ownClock.size() && ownClock[k]) ? clock1 : clock0] = 1;
        for (int i = 0; i < dim; ++i) {
            for (int j = 0; j < dim; ++j) {
                n[i][j] += row[i] * row[j];
            }
        }
    }
    // Gauss-Jordan on [N | I].
    for (int i = 0; i < dim; ++i) {
        n[i][dim + i] = 1;
    }
    for (int col = 0; col < dim; ++col) {
        int pivot = col;
        for (int r = col + 1; r < dim; ++r) {
            if (std::fabs(n[r][col]) > std::fabs(n[pivot][col])) {
                pivot = r;
            }
        }
        if (std::fabs(n[pivot][col]) < 1e-9) {
            return d;
        }
        for (int j = 0; j < 2 * dim; ++j) {
            std::swap(n[col][j], n[pivot][j]);
        }
        const double p = n[col][col];
        for (int j = 0; j < 2 * dim; ++j) {
            n[col][j] /= p;
        }
        for (int r = 0; r < dim; ++r) {
            if (r != col && n[r][col] != 0) {
                const double f = n[r][col];
                for (int j = 0; j < 2 * dim; ++j) {
                    n[r][j] -= f * n[col][j];
                }
            }
        }
    }
    auto q = [&](int i) { return n[i][dim + i]; };
    d.edop = std::sqrt(q(0));
    d.ndop = std::sqrt(q(1));
    d.hdop = std::sqrt(q(0) + q(1));
    d.vdop = std::sqrt(q(2));
    d.tdop = std::sqrt(q(3));
    d.valid = std::isfinite(d.hdop) && std::isfinite(d.vdop) && std::isfinite(d.tdop);
    return d;
}

CSkyModel::CSkyModel(double latDeg, double lonDeg, double heightM, uint32_t seed)
    : m_lat(latDeg * kDegToRad), m_lon(lonDeg * kDegToRad), m_height(heightM), m_seed(seed)
{
    m_site = GeodeticToEcef(m_lat, m_lon, m_height);
    // Saastamoinen with a standard atmosphere at the site's height: 1013.25 hPa and 15 degrees C at sea level,
    // 70 % relative humidity.
    const double h = std::max(m_height, 0.0);
    const double pressure = 1013.25 * std::pow(1 - 2.2557e-5 * h, 5.2568);
    const double kelvin = 15.0 - 6.5e-3 * h + 273.16;
    const double vapour = 6.108 * 0.7 * std::exp((17.15 * kelvin - 4684.0) / (kelvin - 38.45));
    const double hydrostatic = 0.0022768 * pressure / (1 - 0.00266 * std::cos(2 * m_lat) - 0.00028 * h / 1e3);
    m_zenithDelay = hydrostatic + 0.002277 * (1255.0 / kelvin + 0.05) * vapour;
    Build(seed);
    m_lockStart.assign(m_sats.size(), -1.0);
}

void CSkyModel::Build(uint32_t seed)
{
    auto u = [seed](int sys, int num, int what) {
        return SimNoise::Uniform(seed, uint64_t(sys), uint64_t(num), uint64_t(what));
    };
    auto orbit = [&](int sys, int num, double period, double incDeg, double nodeDeg, double latArgDeg) {
        OrbitElements o;
        o.sqrtA = std::sqrt(SemiMajorAxis(period));
        o.e = 0.001 + 0.012 * u(sys, num, 1);
        o.i0 = (incDeg + (u(sys, num, 2) - 0.5) * 1.5) * kDegToRad;
        o.omega0 = Wrap2Pi((nodeDeg + (u(sys, num, 3) - 0.5) * 4) * kDegToRad);
        o.argPerigee = (u(sys, num, 4) * 360 - 180) * kDegToRad;
        o.m0 = Wrap2Pi((latArgDeg + (u(sys, num, 5) - 0.5) * 6) * kDegToRad - o.argPerigee);
        o.deltaN = (3.5 + 2 * u(sys, num, 6)) * 1e-9;
        o.omegaDot = -(7.5 + u(sys, num, 7)) * 1e-9;
        o.iDot = (u(sys, num, 8) - 0.5) * 6e-10;
        o.crc = 150 + 150 * u(sys, num, 9);
        o.crs = (u(sys, num, 10) - 0.5) * 200;
        o.cuc = (u(sys, num, 11) - 0.5) * 1e-5;
        o.cus = (u(sys, num, 12) - 0.5) * 1e-5;
        o.cic = (u(sys, num, 13) - 0.5) * 2e-7;
        o.cis = (u(sys, num, 14) - 0.5) * 2e-7;
        return o;
    };
    auto clock = [&](SimSatellite& s, int sys) {
        s.clockBias = (u(sys, s.number, 20) - 0.5) * 4e-4;
        s.clockDrift = (u(sys, s.number, 21) - 0.5) * 2e-11;
    };

    // GPS: six planes, 32 satellites.
    const int perPlane[6] = {6, 6, 5, 5, 5, 5};
    int prn = 1;
    for (int p = 0; p < 6; ++p) {
        for (int k = 0; k < perPlane[p]; ++k, ++prn) {
            SimSatellite s;
            s.system = GnssSystem::Gps;
            s.number = prn;
            s.siIndex = prn;
            s.signalMask = SimSignal::CaL1 | SimSignal::PL1 | SimSignal::PL2;
            if (prn % 4 != 1) {
                s.signalMask |= SimSignal::CaL2;
            }
            if (prn % 2 == 0) {
                s.signalMask |= SimSignal::L5;
            }
            s.orbit = orbit(0, prn, kGpsPeriod, 55.0, p * 60.0, k * 360.0 / perPlane[p] + p * 12.0);
            clock(s, 0);
            s.tgd = -1.1e-8 + 1e-9 * (prn % 7);
            m_sats.push_back(s);
        }
    }
    // GLONASS: three planes of eight slots.
    for (int slot = 1; slot <= 24; ++slot) {
        const int p = (slot - 1) / 8, k = (slot - 1) % 8;
        SimSatellite s;
        s.system = GnssSystem::Glonass;
        s.number = slot;
        s.channel = kGlonassChannels[slot - 1];
        s.siIndex = 45 + s.channel;
        s.signalMask = SimSignal::CaL1 | SimSignal::PL1 | SimSignal::PL2;
        if (slot % 7 != 0) {
            s.signalMask |= SimSignal::CaL2;
        }
        if (slot % 6 == 0) {
            s.signalMask |= SimSignal::L5;
        }
        s.orbit = orbit(1, slot, kGlonassPeriod, 64.8, p * 120.0 + 10.0, k * 45.0 + p * 15.0);
        // From its nominal orbit's state at second 0 on, the satellite follows the broadcast model; the
        // luni-solar acceleration of a few micrometres per second squared stays as broadcast.
        auto lunisolar = [&](uint64_t axis) {
            return (SimNoise::Uniform(seed, 0xACE, uint64_t(slot), axis) - 0.5) * 4e-6;
        };
        s.glonass = std::make_shared<CGlonassOrbit>(PropagateKepler(s.orbit, 0),
                                                    Vec3{lunisolar(0), lunisolar(1), lunisolar(2)});
        clock(s, 1);
        m_sats.push_back(s);
    }
    // Galileo: three planes of eight.
    int i = 0;
    for (const int g : kGalileoPrns) {
        const int p = i / 8, k = i % 8;
        ++i;
        SimSatellite s;
        s.system = GnssSystem::Galileo;
        s.number = g;
        s.siIndex = 70 + g;
        s.signalMask = SimSignal::CaL1 | SimSignal::L5;
        s.orbit = orbit(2, g, kGalileoPeriod, 56.0, p * 120.0 + 40.0, k * 45.0 + p * 15.0);
        clock(s, 2);
        m_sats.push_back(s);
    }
    for (const Geo& g : kSbas) {
        SimSatellite s;
        s.system = GnssSystem::Sbas;
        s.number = g.prn;
        s.siIndex = g.prn;
        s.signalMask = SimSignal::CaL1;
        if (g.prn % 3 == 0) {
            s.signalMask |= SimSignal::L5;
        }
        s.geo = true;
        s.geoLongitude = g.longitudeDeg * kDegToRad;
        clock(s, 3);
        m_sats.push_back(s);
    }
}

SatView CSkyModel::View(const SimSatellite& sat, double t) const
{
    SatView v;
    double tau = 0.07;
    SatState s;
    Vec3 pos;
    // Two rounds of light time leave well under a millimetre.
    for (int iter = 0; iter < 2; ++iter) {
        s = Propagate(sat, t - tau);
        // The Earth turns while the signal travels: express the transmit position in the frame of reception.
        const double a = Wgs84::kOmegaEarth * tau;
        pos = {s.pos.x * std::cos(a) + s.pos.y * std::sin(a), -s.pos.x * std::sin(a) + s.pos.y * std::cos(a), s.pos.z};
        tau = Norm(pos - m_site) / Wgs84::kC;
    }
    const Vec3 d = pos - m_site;
    v.range = Norm(d);
    v.rangeRate = Dot(d, s.vel) / v.range;
    const Vec3 enu = EcefDeltaToEnu(m_lat, m_lon, d);
    v.los = (1.0 / v.range) * enu;
    v.elevationDeg = std::asin(std::clamp(v.los.z, -1.0, 1.0)) / kDegToRad;
    double az = std::atan2(v.los.x, v.los.y) / kDegToRad;
    v.azimuthDeg = az < 0 ? az + 360 : az;
    return v;
}

double CSkyModel::Troposphere(double elevationDeg) const
{
    const double el = std::max(elevationDeg, 0.0) * kDegToRad;
    return m_zenithDelay / (std::sin(el) + 0.00143 / (std::tan(el) + 0.0445));
}

double CSkyModel::Elevation(const SimSatellite& sat, double t) const
{
    const Vec3 d = Propagate(sat, t).pos - m_site;
    const Vec3 enu = EcefDeltaToEnu(m_lat, m_lon, d);
    return std::asin(std::clamp(enu.z / Norm(d), -1.0, 1.0)) / kDegToRad;
}

void CSkyModel::Reboot(double bootT)
{
    m_boot = bootT;
    std::fill(m_lockStart.begin(), m_lockStart.end(), -1.0);
}

void CSkyModel::Step(double t)
{
    std::vector<std::pair<double, size_t>> sbas;
    for (size_t i = 0; i < m_sats.size(); ++i) {
        const SimSatellite& s = m_sats[i];
        const double el = Elevation(s, t);
        bool up = el > 0;
        if (up && s.system == GnssSystem::Sbas) {
            sbas.emplace_back(el, i);
            continue;
        }
        const double acquire = m_boot + 1.0 + 3.0 * SimNoise::Uniform(m_seed, i, 0xACC);
        if (!up) {
            m_lockStart[i] = -1;
        } else if (m_lockStart[i] < 0 && t >= acquire) {
            m_lockStart[i] = t;
        }
    }
    // The receiver has only a few SBAS channels: it keeps the highest.
    std::sort(sbas.begin(), sbas.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    for (size_t i = 0; i < m_sats.size(); ++i) {
        if (m_sats[i].system != GnssSystem::Sbas) {
            continue;
        }
        int rank = -1;
        for (size_t k = 0; k < sbas.size(); ++k) {
            if (sbas[k].second == i) {
                rank = int(k);
            }
        }
        if (rank < 0 || rank >= kMaxSbasTracked) {
            m_lockStart[i] = -1;
        } else if (m_lockStart[i] < 0 && t >= m_boot + 3.0) {
            m_lockStart[i] = t;
        }
    }
}
