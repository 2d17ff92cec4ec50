#pragma once

#include "sim/SkyModel.h"

#include <array>
#include <cstdint>
#include <map>

// A GLONASS satellite moves as its navigation message says it does: in the Earth-fixed PZ-90 frame, under the
// Earth's central field with its J2 term and a luni-solar acceleration that stays constant. A receiver that
// integrates a broadcast state with these equations over its quarter hour lands on this trajectory.
namespace Pz90 {
constexpr double kMu = 398600.4418e9;        // m^3/s^2
constexpr double kA = 6378136.0;             // m
constexpr double kJ2 = 1082625.75e-9;        // second zonal harmonic
constexpr double kOmegaEarth = 7.292115e-5;  // rad/s
}  // namespace Pz90

// The acceleration of a satellite at a state in the rotating frame, the luni-solar part included.
Vec3 GlonassAcceleration(const SatState& s, const Vec3& lunisolar);
// One fourth-order Runge-Kutta step of `h` seconds (backwards when negative).
SatState GlonassStep(const SatState& s, const Vec3& lunisolar, double h);

// The trajectory through a state at model second 0, evaluated at any model second. The same time always gives
// the same bits, whatever was asked before: every state is integrated along one fixed path from second 0. Keeps a
// few recent quarter hours and one state a day; not thread-safe (the sky model's owner serialises its use).
class CGlonassOrbit
{
public:
    CGlonassOrbit(const SatState& atZero, const Vec3& lunisolar);

    SatState At(double t) const;
    const Vec3& Lunisolar() const { return m_lunisolar; }

    static constexpr double kStep = 10.0;  // integration step [s]
    static constexpr int kNodeSeconds = 60;
    static constexpr int kChunkSeconds = 900;

private:
    static constexpr int kNodes = kChunkSeconds / kNodeSeconds + 1;
    struct Chunk
    {
        int64_t index = INT64_MIN;
        std::array<SatState, kNodes> nodes;
    };

    const SatState& Boundary(int64_t k) const;
    const Chunk& ChunkAt(int64_t k) const;
    SatState Integrate(SatState s, double seconds) const;

    Vec3 m_lunisolar;
    mutable std::map<int64_t, SatState> m_bounds;  // states at k * kChunkSeconds
    mutable std::array<Chunk, 3> m_chunks;
    mutable size_t m_nextChunk = 0;
};
