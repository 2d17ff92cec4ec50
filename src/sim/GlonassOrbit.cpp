#include "sim/GlonassOrbit.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iterator>

namespace {

constexpr int kStepsPerChunk = int(CGlonassOrbit::kChunkSeconds / CGlonassOrbit::kStep);
constexpr int kStepsPerNode = int(CGlonassOrbit::kNodeSeconds / CGlonassOrbit::kStep);
// Quarter hours kept for good: one a day, from which any other is a day's integration at most.
constexpr int64_t kKeptEvery = 96;
constexpr size_t kMaxBounds = 256;
constexpr int64_t kNearby = 8;

SatState Derivative(const SatState& s, const Vec3& lunisolar)
{
    return {s.vel, GlonassAcceleration(s, lunisolar)};
}

SatState Advance(const SatState& s, const SatState& d, double h)
{
    return {s.pos + h * d.pos, s.vel + h * d.vel};
}

}  // namespace

Vec3 GlonassAcceleration(const SatState& s, const Vec3& lunisolar)
{
    const Vec3& p = s.pos;
    const double r2 = Dot(p, p);
    const double r = std::sqrt(r2);
    const double central = Pz90::kMu / (r2 * r);
    const double j2 = 1.5 * Pz90::kJ2 * Pz90::kMu * Pz90::kA * Pz90::kA / (r2 * r2 * r);
    const double z2 = 5.0 * p.z * p.z / r2;
    const double w2 = Pz90::kOmegaEarth * Pz90::kOmegaEarth;
    return {-central * p.x - j2 * p.x * (1.0 - z2) + w2 * p.x + 2.0 * Pz90::kOmegaEarth * s.vel.y + lunisolar.x,
            -central * p.y - j2 * p.y * (1.0 - z2) + w2 * p.y - 2.0 * Pz90::kOmegaEarth * s.vel.x + lunisolar.y,
            -central * p.z - j2 * p.z * (3.0 - z2) + lunisolar.z};
}

SatState GlonassStep(const SatState& s, const Vec3& lunisolar, double h)
{
    const SatState k1 = Derivative(s, lunisolar);
    const SatState k2 = Derivative(Advance(s, k1, h / 2), lunisolar);
    const SatState k3 = Derivative(Advance(s, k2, h / 2), lunisolar);
    const SatState k4 = Derivative(Advance(s, k3, h), lunisolar);
    return {s.pos + (h / 6) * (k1.pos + 2.0 * k2.pos + 2.0 * k3.pos + k4.pos),
            s.vel + (h / 6) * (k1.vel + 2.0 * k2.vel + 2.0 * k3.vel + k4.vel)};
}

CGlonassOrbit::CGlonassOrbit(const SatState& atZero, const Vec3& lunisolar) : m_lunisolar(lunisolar)
{
    m_bounds[0] = atZero;
}

SatState CGlonassOrbit::Integrate(SatState s, double seconds) const
{
    const int n = int(std::ceil(std::fabs(seconds) / kStep - 1e-9));
    for (int i = 0; i < n; ++i) {
        s = GlonassStep(s, m_lunisolar, seconds / n);
    }
    return s;
}

const SatState& CGlonassOrbit::Boundary(int64_t k) const
{
    auto found = m_bounds.find(k);
    if (found != m_bounds.end()) {
        return found->second;
    }
    // Outwards from second 0, one quarter hour at a time, always in the same steps.
    const int64_t dir = k > 0 ? 1 : -1;
    auto from = k > 0 ? std::prev(m_bounds.upper_bound(k)) : m_bounds.lower_bound(k);
    int64_t at = from->first;
    SatState s = from->second;
    while (at != k) {
        for (int i = 0; i < kStepsPerChunk; ++i) {
            s = GlonassStep(s, m_lunisolar, double(dir) * kStep);
        }
        at += dir;
        m_bounds[at] = s;
    }
    if (m_bounds.size() > kMaxBounds) {
        for (auto it = m_bounds.begin(); it != m_bounds.end();) {
            const bool keep = it->first % kKeptEvery == 0 || std::llabs(it->first - k) <= kNearby;
            it = keep ? std::next(it) : m_bounds.erase(it);
        }
    }
    return m_bounds.at(k);
}

const CGlonassOrbit::Chunk& CGlonassOrbit::ChunkAt(int64_t k) const
{
    for (const Chunk& c : m_chunks) {
        if (c.index == k) {
            return c;
        }
    }
    Chunk& c = m_chunks[m_nextChunk];
    m_nextChunk = (m_nextChunk + 1) % m_chunks.size();
    c.index = k;
    SatState s = Boundary(k);
    c.nodes[0] = s;
    for (int n = 1; n < kNodes; ++n) {
        for (int i = 0; i < kStepsPerNode; ++i) {
            s = GlonassStep(s, m_lunisolar, kStep);
        }
        c.nodes[size_t(n)] = s;
    }
    return c;
}

SatState CGlonassOrbit::At(double t) const
{
    const int64_t k = int64_t(std::floor(t / kChunkSeconds));
    const double inChunk = t - double(k) * kChunkSeconds;
    const int node = std::clamp(int(std::lround(inChunk / kNodeSeconds)), 0, kNodes - 1);
    // At most half a node interval from the nearest node.
    return Integrate(ChunkAt(k).nodes[size_t(node)], inChunk - double(node) * kNodeSeconds);
}
