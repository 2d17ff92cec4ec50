// The raw data as an independent user sees them: GE and NE decoded and evaluated by the interface documents'
// algorithms and a standard troposphere against the ranges, phases and Doppler the receiver reports.

#include "sim/MessageGenerator.h"
#include "sim/SkyModel.h"

#include <QDateTime>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>

namespace {

constexpr double kC = 299792458.0;
const int64_t kStartUtcMs = QDateTime(QDate(2024, 6, 1), QTime(12, 0), QTimeZone::utc()).toMSecsSinceEpoch();

// A field of an ephemeris frame (after its five header bytes).
template <typename T>
double Get(const QByteArray& frame, int at)
{
    T v;
    std::memcpy(&v, frame.constData() + 5 + at, sizeof v);
    return double(v);
}

// IS-GPS-200's satellite clock from GE at GPS second of week `t`: af0 + af1 dt + af2 dt^2 and the relativistic
// term F e sqrt(A) sin E.
double GpsClock(const QByteArray& f, double t)
{
    const double dt = t - Get<int32_t>(f, 8), tk = t - Get<int32_t>(f, 32);
    const double a = std::pow(Get<double>(f, 38), 2), e = Get<double>(f, 46);
    const double m = (Get<double>(f, 54) + Get<float>(f, 86) * tk) * kPi + std::sqrt(3.986005e14 / (a * a * a)) * tk;
    double ek = m;
    for (int i = 0; i < 20; ++i) {
        ek = m + e * std::sin(ek);
    }
    return Get<float>(f, 28) + Get<float>(f, 24) * dt + Get<float>(f, 20) * dt * dt -
           4.442807633e-10 * e * Get<double>(f, 38) * std::sin(ek);
}

// The GLONASS interface document's orbit: NE's state at tb (km) integrated by fourth-order Runge-Kutta under PZ-90's
// central field with J2 and the broadcast luni-solar acceleration, for `seconds`.
Vec3 GlonassPosition(const QByteArray& f, double seconds)
{
    auto km = [&](int at, bool wide) {
        return wide ? 1e3 * Vec3{Get<double>(f, at), Get<double>(f, at + 8), Get<double>(f, at + 16)}
                    : 1e3 * Vec3{Get<float>(f, at), Get<float>(f, at + 4), Get<float>(f, at + 8)};
    };
    auto rate = [&](const Vec3& p, const Vec3& v) {
        constexpr double kMu = 398600.4418e9, kAe = 6378136.0, kJ2 = 1082625.75e-9, kW = 7.292115e-5;
        const double r = Norm(p), j = 1.5 * kJ2 * kMu * kAe * kAe / std::pow(r, 5), z = 5 * p.z * p.z / (r * r);
        return std::pair(v, Vec3{kW * kW * p.x + 2 * kW * v.y - j * p.x * (1 - z),
                                 kW * kW * p.y - 2 * kW * v.x - j * p.y * (1 - z), -j * p.z * (3 - z)} +
                                km(51, false) + (-kMu / (r * r * r)) * p);
    };
    Vec3 p = km(15, true), v = km(39, false);
    const int steps = int(std::ceil(std::fabs(seconds) / 30));
    const double h = seconds / steps;
    for (int n = 0; n < steps; ++n) {
        const auto k1 = rate(p, v), k2 = rate(p + h / 2 * k1.first, v + h / 2 * k1.second);
        const auto k3 = rate(p + h / 2 * k2.first, v + h / 2 * k2.second),
                   k4 = rate(p + h * k3.first, v + h * k3.second);
        p = p + h / 6 * (k1.first + 2 * k2.first + 2 * k3.first + k4.first);
        v = v + h / 6 * (k1.second + 2 * k2.second + 2 * k3.second + k4.second);
    }
    return p;
}

struct Mean
{
    double sum = 0;
    int count = 0;
    void Add(double v) { sum += v, ++count; }
};

// Every tracked satellite's `id` (GE or NE) from `t` on, asked once a second for as many seconds as satellites.
std::map<int, QByteArray> Ephemerides(CMessageGenerator& g, const char* id, int64_t t)
{
    std::map<int, QByteArray> out;
    for (int64_t k = 0; k < 40; ++k) {
        const QByteArray f = g.Frames(id, t + 1000 * k, 1000, {});
        if (f.size() > 5) {
            out.try_emplace(uint8_t(f[5]), f);
        }
    }
    return out;
}

}  // namespace

// GPS: the ionosphere-free ranges less the broadcast clock with the relativistic term and a standard troposphere
// (Saastamoinen, 1/sin(elevation)) are the geometric ranges plus the receiver clock, and so is L1 with TGD applied
// once the ionosphere is out. GLONASS: a state integrated over its quarter hour lands on the next quarter hour's,
// and tau-n and gamma-n tell the clock the ranges carry.
TEST(BroadcastModelTest, RangesFitTheBroadcastOrbitsAndClocks)
{
    CMessageGenerator g(50.087, 14.421, 245, 7, kStartUtcMs);
    g.Step(20000);
    const std::map<int, QByteArray> ge = Ephemerides(g, "GE", 20000), ne = Ephemerides(g, "NE", 20000);
    const double h = g.Sky().HeightM(), pressure = 1013.25 * std::pow(1 - 2.2557e-5 * h, 5.2568);
    const double kelvin = 288.15 - 6.5e-3 * h, vapour = 4.2756 * std::exp((17.15 * kelvin - 4684) / (kelvin - 38.45));
    const double zenith = 0.0022768 * pressure / (1 - 0.00266 * std::cos(2 * g.Sky().LatRad()) - 0.00028 * h / 1e3) +
                          0.002277 * (1255 / kelvin + 0.05) * vapour;
    std::map<std::pair<int, bool>, Mean> residuals;  // PRN, L1 alone
    for (int64_t t = 60000; t <= 900000; t += 2000) {
        g.Step(t);
        const EpochData& e = g.Epoch(t, {});
        for (const EpochSat& s : e.sats) {
            if (s.sat->system != GnssSystem::Gps || !ge.count(s.sat->number) || s.view.elevationDeg < 15) {
                continue;
            }
            const QByteArray& f = ge.at(s.sat->number);
            const double tx = double(kStartUtcMs + t + 18000 - 315964800000) / 1000 - s.view.range / kC;
            const double model = s.view.range + kC * (e.clockOffset - GpsClock(f, std::fmod(tx, 604800))) +
                                 zenith / std::sin(s.view.elevationDeg * kDegToRad);
            const double p1 = s.pseudorange[0] * kC, p2 = s.pseudorange[2] * kC, gamma = std::pow(77.0 / 60, 2);
            residuals[{s.sat->number, false}].Add((gamma * p1 - p2) / (gamma - 1) - model);
            residuals[{s.sat->number, true}].Add(p1 - model - s.iono - kC * Get<float>(f, 16));
        }
    }
    int checked = 0;
    for (const auto& [sat, m] : residuals) {
        if (m.count >= 100) {
            EXPECT_LT(std::fabs(m.sum / m.count), 0.3) << "G" << sat.first << (sat.second ? " L1" : "");
            ++checked;
        }
    }
    EXPECT_GE(checked, 12);

    const std::map<int, QByteArray> later = Ephemerides(g, "NE", 920000);
    int integrated = 0;
    for (const auto& [slot, f] : ne) {
        if (!later.count(slot)) {
            continue;
        }
        ASSERT_EQ(Get<int32_t>(later.at(slot), 8), Get<int32_t>(f, 8) + 900);
        const QByteArray& next = later.at(slot);
        EXPECT_LT(Norm(GlonassPosition(f, 900) -
                       1e3 * Vec3{Get<double>(next, 15), Get<double>(next, 23), Get<double>(next, 31)}),
                  1.0)
            << slot;
        for (const SimSatellite& sat : g.Sky().Satellites()) {
            if (sat.system == GnssSystem::Glonass && sat.number == slot) {
                for (double dt = -900; dt <= 900; dt += 450) {  // tb is 15:00 Moscow time, model second 0
                    EXPECT_NEAR((-Get<float>(f, 71) + Get<float>(f, 75) * dt) * kC, SatClock(sat, dt) * kC, 0.05);
                }
            }
        }
        ++integrated;
    }
    EXPECT_GE(integrated, 4);
}

// Doppler is the rate of the carrier phase, satellite clock and atmosphere included, near the horizon too. Doppler
// carries the receiver clock's measured drift, the phase the steered clock: less that noise, their difference
// averages to nothing for every satellite.
TEST(BroadcastModelTest, DopplerIsThePhaseRate)
{
    CMessageGenerator g(50.087, 14.421, 245, 7, kStartUtcMs);
    std::vector<std::map<const SimSatellite*, EpochSat>> seconds;
    std::vector<double> driftNoise;
    for (int64_t t = 10000; t <= 1210000; t += 1000) {
        g.Step(t);
        const EpochData& e = g.Epoch(t, {});
        driftNoise.push_back(e.drift - e.smoothedDrift);
        auto& now = seconds.emplace_back();
        for (const EpochSat& s : e.sats) {
            now[s.sat] = s;
        }
    }
    std::map<std::pair<const SimSatellite*, bool>, Mean> residuals;  // all epochs, or those below 8 degrees
    for (size_t k = 1; k + 1 < seconds.size(); ++k) {
        for (const auto& [sat, s] : seconds[k]) {
            if (seconds[k - 1].count(sat) && seconds[k + 1].count(sat)) {
                const double r = (seconds[k + 1][sat].phase[0] - seconds[k - 1][sat].phase[0]) / 2 - s.doppler * 1e-4 +
                                 driftNoise[k] * CarrierHz(*sat, SimSignal::CaL1);
                residuals[{sat, false}].Add(r);
                if (s.view.elevationDeg < 8) {
                    residuals[{sat, true}].Add(r);
                }
            }
        }
    }
    int checked[2] = {0, 0};
    for (const auto& [key, m] : residuals) {
        if (m.count >= 60) {
            EXPECT_LT(std::fabs(m.sum / m.count), 0.002) << int(key.first->system) << " " << key.first->number;
            ++checked[key.second];
        }
    }
    EXPECT_TRUE(checked[0] >= 20 && checked[1] >= 2) << checked[0] << " " << checked[1];
}
