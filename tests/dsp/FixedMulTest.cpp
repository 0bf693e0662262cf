// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <random>

#include "dsp/FixedMul.h"
#include "host/ProtocolHost.h"

namespace {

// The product as the format defines it, where nothing overflows.
int64_t Plain(int32_t x, int32_t y)
{
    return ((int64_t{x} + 0x800) >> 12) * ((int64_t{y} + 0x8000) >> 16);
}

TEST(FixedMul, MatchesThePlainProductWhereNothingOverflows)
{
    const uint32_t seed = TestSeed();
    std::mt19937 rng(seed);
    SCOPED_TRACE(SeedNote(seed));
    for (int i = 0; i < 200000; ++i) {
        const int32_t x = static_cast<int32_t>(rng());
        const int32_t y = static_cast<int32_t>(rng()) >> (rng() % 8);
        const int64_t p = Plain(x, y);
        if (p >= INT32_MIN && p <= INT32_MAX && x <= INT32_MAX - 0x800 && y <= INT32_MAX - 0x8000) {
            ASSERT_EQ(FixedMul(x, y), p) << x << " * " << y;
        }
    }
}

TEST(FixedMul, RoundsEachOperandHalfUp)
{
    EXPECT_EQ(FixedMul(0x7ff, fixedOne), 0);
    EXPECT_EQ(FixedMul(0x800, fixedOne), 0x1000);
    EXPECT_EQ(FixedMul(-0x800, fixedOne), 0);
    EXPECT_EQ(FixedMul(-0x801, fixedOne), -0x1000);
    // the gain keeps 12 fraction bits: below 0x8000 it is zero
    EXPECT_EQ(FixedMul(0x0fffffff, 0x7fff), 0);
    EXPECT_EQ(FixedMul(0x10000000, 0x8000), 0x10000);
    // the operands are not interchangeable
    EXPECT_NE(FixedMul(0x12345, 0x10000000), FixedMul(0x10000000, 0x12345));
}

TEST(FixedMul, SaturatesInsteadOfFlippingSign)
{
    const int32_t gain18dB = 0x7f17af3b;
    EXPECT_EQ(FixedMul(0x18000000, gain18dB), INT32_MAX);   // 1.5 x 7.9 would wrap negative
    EXPECT_EQ(FixedMul(-0x18000000, gain18dB), INT32_MIN);
    EXPECT_EQ(FixedMul(INT32_MAX, fixedOne), INT32_MAX);     // the rounding add must not wrap
    EXPECT_EQ(FixedMul(INT32_MIN, fixedOne), INT32_MIN);
    EXPECT_EQ(FixedMul(INT32_MIN, INT32_MIN), INT32_MAX);
}

TEST(FixedMul, PreparedGainGivesTheSameProducts)
{
    const uint32_t seed = TestSeed();
    std::mt19937 rng(seed);
    SCOPED_TRACE(SeedNote(seed));
    const int32_t edges[] = {0, 1, 0x7ff, 0x800, -0x800, -0x801, 0x7ffff7ff, 0x7ffff800, INT32_MAX,
                             INT32_MIN, INT32_MIN + 1, 0x10000000, -0x10000000, 0x18000000};
    const int32_t gains[] = {0, 0x7fff, 0x8000, 0x10000000, 0x0AAAAAAB, 0x7f17af3b, INT32_MAX, 0x00100000};
    for (int32_t y : gains) {
        const FixedGain g(y);
        ASSERT_TRUE(g.Valid());
        for (int32_t x : edges)
            ASSERT_EQ(g(x), FixedMul(x, y)) << x << " " << y;
        for (int i = 0; i < 20000; ++i) {
            const int32_t x = static_cast<int32_t>(rng());
            ASSERT_EQ(g(x), FixedMul(x, y)) << x << " " << y;
        }
    }
    for (int i = 0; i < 200000; ++i) {
        const int32_t x = static_cast<int32_t>(rng()), y = static_cast<int32_t>(rng() >> 1);
        ASSERT_EQ(FixedGain(y)(x), FixedMul(x, y)) << x << " " << y;
    }
    EXPECT_FALSE(FixedGain(-0x10000000).Valid());
}

TEST(FixedMul, LaneFormsGiveTheScalarResults)
{
    const uint32_t seed = TestSeed();
    std::mt19937 rng(seed);
    SCOPED_TRACE(SeedNote(seed));
    const int32_t edges[] = {0, 1, -1, 0x7ff, 0x800, -0x800, -0x801, 0x7ffff7ff, 0x7ffff800, INT32_MAX,
                             INT32_MIN, INT32_MIN + 1, 0x40000000, -0x40000000, 0x10000000, -0x10000000};
    const uint32_t fractions[] = {0, 1, 0x7fff, 0x8000, 0x0fff7fff, 0x0fff8000, 0x0fffffff, 0x10000000};
    const auto check = [](int32_t a, int32_t b, uint32_t f) {
        ASSERT_EQ(SatAddLane(a, b), SatAdd(a, b)) << a << " " << b;
        ASSERT_EQ(SatSubLane(a, b), SatSub(a, b)) << a << " " << b;
        ASSERT_EQ(FixedMulFractionLane(a, f), FixedMul(a, static_cast<int32_t>(f))) << a << " " << f;
        ASSERT_EQ(SignalLane(a), static_cast<int32_t>((int64_t{a} + 0x800) >> 12)) << a;
    };
    for (int32_t a : edges)
        for (int32_t b : edges)
            for (uint32_t f : fractions)
                check(a, b, f);
    for (int i = 0; i < 200000; ++i)
        check(static_cast<int32_t>(rng()), static_cast<int32_t>(rng()), rng() % 0x10000001u);
}

} // namespace
