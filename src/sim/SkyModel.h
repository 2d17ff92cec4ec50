#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// The simulated sky: GPS, Galileo and SBAS satellites on Keplerian orbits, GLONASS satellites on orbits integrated
// as their navigation message describes them, seen from one site through the troposphere, and the receiver's
// tracking of them. Times are seconds since the simulator started ("model seconds"); the absolute
// GPS time of model second 0 is given at construction. UI-free and without clocks of its own.

namespace Wgs84 {
constexpr double kA = 6378137.0;
constexpr double kF = 1.0 / 298.257223563;
constexpr double kE2 = kF * (2.0 - kF);
constexpr double kMu = 3.986005e14;              // m^3/s^2, as the broadcast orbits use it
constexpr double kOmegaEarth = 7.2921151467e-5;  // rad/s
constexpr double kC = 299792458.0;
}  // namespace Wgs84

constexpr double kPi = 3.14159265358979323846;
constexpr double kDegToRad = kPi / 180.0;

struct Vec3
{
    double x = 0, y = 0, z = 0;
};
inline Vec3 operator+(const Vec3& a, const Vec3& b)
{
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline Vec3 operator-(const Vec3& a, const Vec3& b)
{
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline Vec3 operator*(double k, const Vec3& a)
{
    return {k * a.x, k * a.y, k * a.z};
}
inline double Dot(const Vec3& a, const Vec3& b)
{
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
double Norm(const Vec3& a);

Vec3 GeodeticToEcef(double latRad, double lonRad, double heightM);
void EcefToGeodetic(const Vec3& p, double* latRad, double* lonRad, double* heightM);
// East, north and up offsets at a site turned into an ECEF vector, and back.
Vec3 EnuToEcefDelta(double latRad, double lonRad, const Vec3& enu);
Vec3 EcefDeltaToEnu(double latRad, double lonRad, const Vec3& d);

// Deterministic noise: a pure function of its keys, so that what one port sees never depends on what another
// port asked for, and the same seed gives the same stream.
namespace SimNoise {
uint64_t Hash(uint64_t a, uint64_t b = 0, uint64_t c = 0, uint64_t d = 0);
double Uniform(uint64_t a, uint64_t b = 0, uint64_t c = 0, uint64_t d = 0);  // [0, 1)
double Gauss(uint64_t a, uint64_t b = 0, uint64_t c = 0, uint64_t d = 0);    // mean 0, sigma 1
}  // namespace SimNoise

enum class GnssSystem : uint8_t { Gps, Glonass, Galileo, Sbas };

// Signals a satellite transmits; the order of the C/N0 messages EC, E1, E2, E3, E5.
namespace SimSignal {
enum : uint8_t { CaL1 = 1, PL1 = 2, PL2 = 4, CaL2 = 8, L5 = 16 };
constexpr int kCount = 5;
}  // namespace SimSignal

// Orbit in the broadcast form. Angles in radians; `omega0` is the longitude of the ascending node (Earth-fixed)
// at `toe`; `toe` in model seconds.
struct OrbitElements
{
    double sqrtA = 0;
    double e = 0;
    double i0 = 0;
    double omega0 = 0;
    double argPerigee = 0;
    double m0 = 0;
    double deltaN = 0;
    double omegaDot = 0;
    double iDot = 0;
    double crc = 0, crs = 0, cuc = 0, cus = 0, cic = 0, cis = 0;
    double toe = 0;
};

class CGlonassOrbit;

struct SimSatellite
{
    GnssSystem system = GnssSystem::Gps;
    int number = 0;   // PRN; the slot for GLONASS
    int channel = 0;  // GLONASS frequency channel -7..+6
    int siIndex = 0;  // its index in SI
    uint8_t signalMask = 0;
    bool geo = false;  // SBAS: fixed above the equator at `geoLongitude`
    double geoLongitude = 0;
    // The orbit in broadcast form; for GLONASS the nominal one its integrated trajectory starts from.
    OrbitElements orbit;
    std::shared_ptr<const CGlonassOrbit> glonass;
    double clockBias = 0;   // s at model second 0
    double clockDrift = 0;  // s/s
    double tgd = 0;         // GPS L1 group delay [s]; L2 has (f1/f2)^2 of it
};

struct SatState
{
    Vec3 pos;  // ECEF [m]
    Vec3 vel;  // ECEF [m/s]
};

// Position and velocity in the Earth-fixed frame at model second `t`.
SatState Propagate(const SimSatellite& sat, double t);
// The satellite clock's error [s] at model second `t` (of transmission) as the signals carry it, and the part of
// it the navigation message broadcasts: GPS and Galileo leave out the relativistic effect of the orbit's
// eccentricity, which every user adds from the ephemeris (IS-GPS-200); GLONASS broadcasts the whole clock.
double SatClock(const SimSatellite& sat, double t);
double BroadcastClock(const SimSatellite& sat, double t);
double RelativisticClock(const SimSatellite& sat, double t);
// Carrier frequency [Hz] of L1 (signal CaL1/PL1), L2 (PL2/CaL2) or L5.
double CarrierHz(const SimSatellite& sat, uint8_t signal);

// One satellite as the site sees it at one moment.
struct SatView
{
    double elevationDeg = 0;
    double azimuthDeg = 0;  // 0..360, from north through east
    double range = 0;       // from the satellite at transmission to the antenna at reception [m]
    double rangeRate = 0;   // [m/s]
    Vec3 los;               // unit vector from the site to the satellite, east/north/up
};

struct Dops
{
    bool valid = false;
    double hdop = 0, vdop = 0, tdop = 0, edop = 0, ndop = 0;
    double Pdop() const;
};
// From unit line-of-sight vectors (east, north, up); satellites of `system` true get a clock of their own
// (GLONASS), the others share one. Needs at least as many satellites as unknowns.
Dops ComputeDops(const std::vector<Vec3>& los, const std::vector<bool>& ownClock);

class CSkyModel
{
public:
    static constexpr int kMaxSbasTracked = 3;

    CSkyModel(double latDeg, double lonDeg, double heightM, uint32_t seed);

    const std::vector<SimSatellite>& Satellites() const { return m_sats; }
    double LatRad() const { return m_lat; }
    double LonRad() const { return m_lon; }
    double HeightM() const { return m_height; }
    const Vec3& SiteEcef() const { return m_site; }

    SatView View(const SimSatellite& sat, double t) const;
    // Slant delay of the troposphere [m]: Saastamoinen's zenith delay for a standard atmosphere at the site,
    // mapped to the elevation with Chao's function (finite down to the horizon).
    double Troposphere(double elevationDeg) const;
    double Elevation(const SimSatellite& sat, double t) const;  // degrees, cheap (no light time)

    // Tracking: a receiver that came up at `bootT` locks onto each satellite above the horizon a few seconds
    // later; Step (once a second) notices rises and sets.
    void Reboot(double bootT);
    void Step(double t);
    // Model second since which the satellite is tracked without a break, or a negative number.
    double LockStart(size_t index) const { return m_lockStart[index]; }
    double BootTime() const { return m_boot; }

private:
    void Build(uint32_t seed);

    double m_lat, m_lon, m_height;
    Vec3 m_site;
    double m_zenithDelay = 0;
    uint32_t m_seed;
    std::vector<SimSatellite> m_sats;
    std::vector<double> m_lockStart;
    double m_boot = 0;
};
