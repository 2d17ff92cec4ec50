#include "rinex/FixedField.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// Both compilers this builds with have it; the extension keyword keeps -pedantic quiet.
__extension__ typedef unsigned __int128 U128;

constexpr int kMaxFastDecimals = 9;
constexpr uint64_t kPow10[kMaxFastDecimals + 1] = {1,      10,      100,      1000,      10000,
                                                   100000, 1000000, 10000000, 100000000, 1000000000};

// |value| * 10^decimals rounded as printf rounds it: the double is an integer times a power of two, so the product
// is exact in 128 bits and the rounding looks at the exact remainder. False when the result needs more than 64 bits.
bool ScaledMagnitude(double value, int decimals, uint64_t* out)
{
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    uint64_t mantissa = bits & ((uint64_t(1) << 52) - 1);
    int exponent = int((bits >> 52) & 0x7FF);
    if (exponent == 0) {
        exponent = 1;  // subnormal
    } else {
        mantissa |= uint64_t(1) << 52;
    }
    const int shift = exponent - 1075;  // |value| = mantissa * 2^shift
    const U128 m = static_cast<U128>(mantissa) * kPow10[decimals];  // < 2^83
    U128 q = 0;
    if (shift >= 0) {
        if (shift > 44) {
            return false;
        }
        q = m << shift;
    } else if (-shift < 128) {
        const int s = -shift;
        q = m >> s;
        const U128 rest = m - (q << s);
        const U128 half = static_cast<U128>(1) << (s - 1);
        if (rest > half || (rest == half && (q & 1))) {
            ++q;
        }
    }  // else below 2^-75: rounds to zero
    if (q >> 64) {
        return false;
    }
    *out = uint64_t(q);
    return true;
}

}  // namespace

bool WriteFixed(char* out, double value, int width, int decimals)
{
    if (!std::isfinite(value) || width < 0) {
        return false;
    }
    uint64_t q = 0;
    if (decimals < 0 || decimals > kMaxFastDecimals || !ScaledMagnitude(value, decimals, &q)) {
        // Far outside any field's range: printf itself, which the result must equal anyway.
        const int n = std::snprintf(nullptr, 0, "%*.*f", width, decimals, value);
        if (n != width) {
            return false;
        }
        std::vector<char> b(size_t(n) + 1);
        std::snprintf(b.data(), b.size(), "%*.*f", width, decimals, value);
        std::memcpy(out, b.data(), size_t(n));
        return true;
    }
    // Digits from the right: the decimals, the point, at least one integer digit, the sign.
    char digits[32];
    char* p = digits + sizeof digits;
    for (int k = 0; k < decimals; ++k) {
        *--p = char('0' + q % 10);
        q /= 10;
    }
    if (decimals > 0) {
        *--p = '.';
    }
    do {
        *--p = char('0' + q % 10);
        q /= 10;
    } while (q != 0);
    if (std::signbit(value)) {
        *--p = '-';
    }
    const int n = int(digits + sizeof digits - p);
    if (n > width) {
        return false;
    }
    std::memset(out, ' ', size_t(width - n));
    std::memcpy(out + (width - n), p, size_t(n));
    return true;
}
