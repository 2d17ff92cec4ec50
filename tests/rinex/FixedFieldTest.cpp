// The fixed-point field writer against printf itself: every RINEX value goes through it, and a file must come out
// byte for byte as printf would have written it.

#include "rinex/FixedField.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>

namespace {

// What WriteFixed gives: the field, or "(none)" when the value does not fit.
std::string Ours(double v, int width, int decimals)
{
    std::string out(size_t(width), '#');
    return WriteFixed(out.data(), v, width, decimals) ? out : std::string("(none)");
}

std::string Printf(double v, int width, int decimals)
{
    if (!std::isfinite(v)) {
        return "(none)";
    }
    char b[512];
    const int n = std::snprintf(b, sizeof b, "%*.*f", width, decimals, v);
    return n == width ? std::string(b, size_t(n)) : std::string("(none)");
}

void ExpectAsPrintf(double v, int width, int decimals)
{
    EXPECT_EQ(Ours(v, width, decimals), Printf(v, width, decimals))
        << "value " << std::hexfloat << v << " as F" << width << "." << decimals;
}

TEST(FixedField, TiesGoToTheEvenDigitAsPrintfRoundsThem)
{
    // Exact binary ties: sixteenths with an odd numerator end in 5 at the fourth decimal.
    for (double whole : {0.0, 1.0, 2.0, 123456.0, 999999999.0, 4503599627.0}) {
        for (int k = 1; k < 16; k += 2) {
            ExpectAsPrintf(whole + k / 16.0, 14, 3);
            ExpectAsPrintf(-(whole + k / 16.0), 14, 3);
        }
    }
    EXPECT_EQ(Ours(0.0625, 6, 3), " 0.062");
    EXPECT_EQ(Ours(-0.1875, 6, 3), "-0.188");
    EXPECT_EQ(Ours(2.5, 2, 0), " 2");
    EXPECT_EQ(Ours(3.5, 2, 0), " 4");
    EXPECT_EQ(Ours(0.125, 5, 2), " 0.12");
    // Not ties, though they look like one in decimal: the double lies just below or above.
    for (double v : {0.0005, 1.0005, 2.0005, -2.0005, 0.4995, 1.2345, -1.2345, 33.1235, 1234.5675}) {
        ExpectAsPrintf(v, 14, 3);
    }
}

TEST(FixedField, NegativesKeepTheirSignAlsoWhenTheyRoundToZero)
{
    EXPECT_EQ(Ours(-0.0004, 14, 3), "        -0.000");
    EXPECT_EQ(Ours(-0.0, 6, 3), "-0.000");
    ExpectAsPrintf(-1e-300, 14, 3);
    ExpectAsPrintf(-4.9e-324, 14, 3);
    ExpectAsPrintf(-0.0005, 14, 3);
    ExpectAsPrintf(-0.4, 3, 0);
}

TEST(FixedField, AValueThatRoundsPastItsWidthIsNone)
{
    EXPECT_EQ(Ours(9999999999.9994, 14, 3), "9999999999.999");
    EXPECT_EQ(Ours(9999999999.9995, 14, 3), "(none)");
    EXPECT_EQ(Ours(-999999999.9994, 14, 3), "-999999999.999");
    EXPECT_EQ(Ours(-999999999.9995, 14, 3), "(none)");
    EXPECT_EQ(Ours(1e300, 14, 3), "(none)");
    EXPECT_EQ(Ours(std::numeric_limits<double>::quiet_NaN(), 14, 3), "(none)");
    EXPECT_EQ(Ours(-std::numeric_limits<double>::infinity(), 14, 3), "(none)");
    // A field wide enough for a huge value is written as printf writes it.
    ExpectAsPrintf(1e20, 25, 3);
    ExpectAsPrintf(-0x1.fffffffffffffp+60, 30, 9);
}

TEST(FixedField, ValuesOfEveryMagnitudeEqualPrintf)
{
    std::mt19937_64 random(7);
    const int kFormats[][2] = {{14, 3}, {13, 7}, {11, 7}, {10, 3}, {8, 5}, {9, 2}, {15, 12}};
    for (int i = 0; i < 40000; ++i) {
        double v = 0;
        if (i % 2 == 0) {
            // Any finite double, weighted to where fields fit: exponents from 2^-40 to 2^40.
            const uint64_t bits = (random() & 0x800FFFFFFFFFFFFFull) | uint64_t(1023 - 40 + random() % 81) << 52;
            std::memcpy(&v, &bits, sizeof v);
        } else {
            // A value on a grid of half the last decimal: many ties and near-ties.
            v = double(int64_t(random() % 4000000001ull) - 2000000000) / 2000.0;
        }
        for (const auto& f : kFormats) {
            ExpectAsPrintf(v, f[0], f[1]);
        }
        if (HasFailure()) {
            return;
        }
    }
}

}  // namespace
