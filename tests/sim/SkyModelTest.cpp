// The sky model on its own: geodesy, orbits, what the site sees over a day, DOPs and tracking.

#include "sim/SkyModel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <iterator>
#include <map>

namespace {

CSkyModel Prague()
{
    return CSkyModel(50.0870, 14.4210, 245.0, 1);
}

}  // namespace

TEST(SkyModelTest, GeodeticConversionsRoundTrip)
{
    const double lats[] = {-89.9, -33.9, 0.0, 50.087, 78.2};
    for (const double lat : lats) {
        const Vec3 p = GeodeticToEcef(lat * kDegToRad, -71.3 * kDegToRad, 1234.5);
        double la = 0, lo = 0, h = 0;
        EcefToGeodetic(p, &la, &lo, &h);
        EXPECT_NEAR(la / kDegToRad, lat, 1e-9);
        EXPECT_NEAR(lo / kDegToRad, -71.3, 1e-9);
        EXPECT_NEAR(h, 1234.5, 1e-4);
        const Vec3 enu = {3.0, -4.0, 12.0};
        const Vec3 back = EcefDeltaToEnu(la, lo, EnuToEcefDelta(la, lo, enu));
        EXPECT_NEAR(back.x, 3.0, 1e-9);
        EXPECT_NEAR(back.y, -4.0, 1e-9);
        EXPECT_NEAR(back.z, 12.0, 1e-9);
    }
    // The equator at Greenwich lies on the x axis, one semi-major axis out.
    const Vec3 p = GeodeticToEcef(0, 0, 0);
    EXPECT_NEAR(p.x, Wgs84::kA, 1e-6);
    EXPECT_NEAR(p.y, 0, 1e-6);
}

TEST(SkyModelTest, OrbitsHaveTheirSizeAndVelocitiesMatchTheMotion)
{
    // Orbit radius and tolerance per system; a geostationary orbit is exact.
    const std::map<GnssSystem, std::pair<double, double>> kRadius = {{GnssSystem::Gps, {26.56e6, 0.4e6}},
                                                                     {GnssSystem::Glonass, {25.51e6, 0.4e6}},
                                                                     {GnssSystem::Galileo, {29.6e6, 0.4e6}},
                                                                     {GnssSystem::Sbas, {42.164e6, 1e3}}};
    const CSkyModel sky = Prague();
    std::map<GnssSystem, int> count;
    for (const SimSatellite& s : sky.Satellites()) {
        ++count[s.system];
        const SatState a = Propagate(s, 1000.0);
        const auto [radius, tolerance] = kRadius.at(s.system);
        EXPECT_NEAR(Norm(a.pos), radius, tolerance) << int(s.system) << " " << s.number;
        // Galileo's index in SI follows its number (GLONASS and SBAS indices: the message stream's tests).
        if (s.system == GnssSystem::Galileo) {
            EXPECT_EQ(s.siIndex, 70 + s.number);
        }
        // The analytic velocity is the derivative of the position.
        const SatState b = Propagate(s, 1000.5);
        const Vec3 numeric = 2.0 * (b.pos - a.pos);
        const SatState mid = Propagate(s, 1000.25);
        EXPECT_LT(Norm(numeric - mid.vel), 0.05) << int(s.system) << " " << s.number;
    }
    EXPECT_EQ(count[GnssSystem::Gps], 32);
    EXPECT_EQ(count[GnssSystem::Glonass], 24);
}

TEST(SkyModelTest, TheSiteSeesARealisticSkyThatRisesAndSets)
{
    const CSkyModel sky = Prague();
    const auto& sats = sky.Satellites();
    std::vector<double> minEl(sats.size(), 90), maxEl(sats.size(), -90);
    // Every 20 minutes over a day.
    for (double t = 0; t <= 86400; t += 1200) {
        std::map<GnssSystem, int> up;
        for (size_t i = 0; i < sats.size(); ++i) {
            const SatView v = sky.View(sats[i], t);
            ASSERT_TRUE(std::fabs(v.elevationDeg) <= 90 && v.azimuthDeg >= 0 && v.azimuthDeg < 360)
                << v.elevationDeg << " " << v.azimuthDeg;
            EXPECT_NEAR(v.elevationDeg, sky.Elevation(sats[i], t), 0.01);
            minEl[i] = std::min(minEl[i], v.elevationDeg);
            maxEl[i] = std::max(maxEl[i], v.elevationDeg);
            up[sats[i].system] += v.elevationDeg > 5 ? 1 : 0;
        }
        EXPECT_GE(up[GnssSystem::Gps], 6) << t;
        EXPECT_LE(up[GnssSystem::Gps], 13) << t;
        EXPECT_GE(up[GnssSystem::Glonass], 4) << t;
        EXPECT_LE(up[GnssSystem::Glonass], 11) << t;
        EXPECT_GE(up[GnssSystem::Galileo], 4) << t;
        EXPECT_LE(up[GnssSystem::Galileo], 11) << t;
    }
    int risingAndSetting = 0;
    for (size_t i = 0; i < sats.size(); ++i) {
        if (sats[i].geo) {
            EXPECT_NEAR(minEl[i], maxEl[i], 1e-6);  // a geostationary satellite stands still
        } else if (minEl[i] < 0 && maxEl[i] > 10) {
            ++risingAndSetting;
        }
    }
    EXPECT_GE(risingAndSetting, 60);
}

TEST(SkyModelTest, DopsFollowTheGeometry)
{
    auto dir = [](double elDeg, double azDeg) {
        const double el = elDeg * kDegToRad, az = azDeg * kDegToRad;
        return Vec3{std::cos(el) * std::sin(az), std::cos(el) * std::cos(az), std::sin(el)};
    };
    // Zenith and three on the horizon 120 degrees apart: the classic textbook case.
    const std::vector<Vec3> four = {dir(90, 0), dir(0, 0), dir(0, 120), dir(0, 240)};
    const Dops d = ComputeDops(four, {});
    ASSERT_TRUE(d.valid);
    EXPECT_NEAR(d.hdop, std::sqrt(4.0 / 3.0), 1e-9);
    EXPECT_NEAR(d.vdop, std::sqrt(4.0 / 3.0), 1e-9);  // up and clock share the zenith satellite
    EXPECT_NEAR(d.edop * d.edop + d.ndop * d.ndop, d.hdop * d.hdop, 1e-9);

    // More satellites never make it worse; a GLONASS clock of its own costs one satellite.
    std::vector<Vec3> more = four;
    more.push_back(dir(45, 60));
    more.push_back(dir(30, 200));
    const Dops better = ComputeDops(more, {});
    EXPECT_LT(better.Pdop(), d.Pdop());
    EXPECT_FALSE(ComputeDops(four, {false, false, false, true}).valid);
    EXPECT_TRUE(ComputeDops(more, {false, false, false, false, true, true}).valid);

    // Too few or all in one direction: no DOP.
    EXPECT_FALSE(ComputeDops({dir(90, 0), dir(10, 0), dir(10, 90)}, {}).valid);
    EXPECT_FALSE(ComputeDops({dir(40, 10), dir(40, 10), dir(40, 10), dir(40, 10), dir(40, 10)}, {}).valid);
}

TEST(SkyModelTest, TrackingStartsSecondsAfterBoot)
{
    CSkyModel sky = Prague();
    const auto& sats = sky.Satellites();
    sky.Reboot(0);
    sky.Step(0.5);
    for (size_t i = 0; i < sats.size(); ++i) {
        EXPECT_LT(sky.LockStart(i), 0);
    }
    int sbas = 0;
    for (double t = 1; t <= 5; t += 1) {
        sky.Step(t);
    }
    for (size_t i = 0; i < sats.size(); ++i) {
        const bool up = sky.Elevation(sats[i], 5) > 0;
        if (sats[i].system == GnssSystem::Sbas) {
            sbas += sky.LockStart(i) >= 0 ? 1 : 0;
        } else {
            EXPECT_EQ(sky.LockStart(i) >= 0, up) << sats[i].number;
        }
    }
    EXPECT_GE(sbas, 2);
    EXPECT_LE(sbas, CSkyModel::kMaxSbasTracked);
}

// A GLONASS position is the same bits whatever was asked before it (ports never influence each other), before the
// start and days ahead too, past the three days after which the oldest quarter hours kept are dropped.
TEST(SkyModelTest, GlonassTrajectoryDoesNotDependOnWhatWasAskedBefore)
{
    const CSkyModel a = Prague(), b = Prague();
    const double times[] = {123.4, -1700.0, 3.2 * 86400.0 + 17.0, 899.99, 900.0, 86400.0 + 5};
    const SimSatellite &x = a.Satellites()[32], &y = b.Satellites()[32];
    ASSERT_EQ(x.system, GnssSystem::Glonass);
    for (const double t : times) {
        (void)Propagate(x, t);
    }
    for (auto t = std::rbegin(times); t != std::rend(times); ++t) {
        const SatState p = Propagate(x, *t), q = Propagate(y, *t);
        EXPECT_EQ(std::memcmp(&p, &q, sizeof p), 0) << *t;
        EXPECT_NEAR(Norm(p.pos), 25.51e6, 0.4e6) << *t;
    }
}
