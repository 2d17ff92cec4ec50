#include "link/PgPosition.h"

#include <QtEndian>

#include <cmath>
#include <numbers>

bool ReadPgPosition(const QByteArray& body, PgPosition* position)
{
    // f8 latitude, f8 longitude, f8 height, f4 position error, u1 solution type.
    constexpr int kSolutionByte = 28;
    constexpr double kMaxHeight = 1.0e7;
    if (body.size() <= kSolutionByte || body[kSolutionByte] == 0) {
        return false;
    }
    PgPosition p;
    p.latRad = qFromLittleEndian<double>(body.constData());
    p.lonRad = qFromLittleEndian<double>(body.constData() + 8);
    p.height = qFromLittleEndian<double>(body.constData() + 16);
    if (!std::isfinite(p.latRad) || !std::isfinite(p.lonRad) || !std::isfinite(p.height) ||
        std::abs(p.latRad) > std::numbers::pi / 2 || std::abs(p.lonRad) > std::numbers::pi ||
        std::abs(p.height) > kMaxHeight) {
        return false;
    }
    *position = p;
    return true;
}
