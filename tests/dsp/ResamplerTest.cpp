// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <random>

#include "TestSupport.h"
#include "dsp/FixedMul.h"
#include "dsp/Resampler.h"

namespace {

constexpr uint32_t rates[9] = {48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000};

Resampler Fresh(uint32_t from, uint32_t to)
{
    Resampler r{};
    EXPECT_EQ(ResamplerInit(&r, from, to), 0);
    return r;
}

std::vector<mad_fixed_t> Ramp(size_t n, mad_fixed_t step = 0x100000)
{
    std::vector<mad_fixed_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<mad_fixed_t>(static_cast<uint32_t>(i) * static_cast<uint32_t>(step));
    return v;
}

std::vector<mad_fixed_t> Convert(Resampler &r, const std::vector<mad_fixed_t> &in)
{
    std::vector<mad_fixed_t> out(in.size() * 6 + 8);
    out.resize(static_cast<size_t>(Resample(&r, static_cast<int32_t>(in.size()), in.data(), out.data())));
    return out;
}

TEST(RateTable, IndicesAndEntries)
{
    for (int32_t i = 0; i < 9; ++i)
        EXPECT_EQ(RateIndex(rates[i]), i);
    for (uint32_t bad : {0u, 96000u, 44101u, 0xffffffffu, 0x80000000u + 8000u})
        EXPECT_EQ(RateIndex(bad), -1);
    EXPECT_EQ(ratioTable[1][0], 0x0eb33333);
    EXPECT_EQ(ratioTable[0][1], 0x116a3b36);
    EXPECT_EQ(ratioTable[4][1], 0x08000000);
    EXPECT_EQ(ratioTable[5][0], 0x05555555);
    EXPECT_EQ(ratioTable[8][0], 0x02aaaaab);
    EXPECT_EQ(ratioTable[0][8], 0x60000000);
    for (int i = 0; i < 9; ++i)
        for (int o = 0; o < 9; ++o) {
            const double exact = static_cast<double>(rates[i]) / rates[o] * 268435456.0;
            EXPECT_LE(std::abs(ratioTable[i][o] - exact), 0.5) << i << "," << o;
        }
}

TEST(ResamplerInitTest, UnsupportedRatesLeaveTheRecordAlone)
{
    for (auto [from, to] : {std::pair{96000u, 48000u}, {44100u, 0u}, {44101u, 44100u}}) {
        Resampler r{0x1234, -0x5678, 0x9abc};
        EXPECT_EQ(ResamplerInit(&r, from, to), -1);
        EXPECT_EQ(r.ratio, 0x1234);
        EXPECT_EQ(r.position, -0x5678);
        EXPECT_EQ(r.last, 0x9abc);
    }
}

TEST(ResampleTest, FreshRecordOutputCounts)
{
    struct Row {
        uint32_t from, to;
        size_t in, out;
    };
    const Row table[] = {
        {44100, 48000, 1152, 1253}, {48000, 44100, 1152, 1058}, {48000, 24000, 1152, 576},
        {22050, 44100, 576, 1150},  {16000, 48000, 576, 1725},  {8000, 48000, 576, 3450},
        {8000, 48000, 1152, 6906},
    };
    for (const Row &row : table) {
        Resampler r = Fresh(row.from, row.to);
        EXPECT_EQ(Convert(r, Ramp(row.in)).size(), row.out) << row.from << "->" << row.to;
    }
}

TEST(ResampleTest, WorkedExampleUpsamplingByTwo)
{
    Resampler r = Fresh(22050, 44100);
    EXPECT_EQ(Convert(r, {0x0, 0x100000, 0x200000}),
              (std::vector<mad_fixed_t>{0x0, 0x80000, 0x100000, 0x180000}));
    EXPECT_EQ(r.last, 0x200000);
    EXPECT_EQ(static_cast<uint32_t>(r.position), 0xf0000000u);
    EXPECT_EQ(Convert(r, {0x300000, 0x400000, 0x500000}),
              (std::vector<mad_fixed_t>{0x200000, 0x280000, 0x300000, 0x380000, 0x400000, 0x480000}));
    EXPECT_EQ(r.last, 0x500000);
    EXPECT_EQ(static_cast<uint32_t>(r.position), 0xf0000000u);
}

TEST(ResampleTest, WorkedExampleDownsamplingByOneAndAHalf)
{
    Resampler r = Fresh(48000, 32000);
    EXPECT_EQ(Convert(r, {0x0, 0x100000, 0x200000, 0x300000}), (std::vector<mad_fixed_t>{0x0, 0x180000}));
    EXPECT_EQ(r.last, 0x300000);
    EXPECT_EQ(static_cast<uint32_t>(r.position), 0xe0000000u);
    EXPECT_EQ(Convert(r, {0x400000, 0x500000, 0x600000, 0x700000}),
              (std::vector<mad_fixed_t>{0x300000, 0x480000, 0x600000}));
    EXPECT_EQ(r.last, 0x700000);
    EXPECT_EQ(static_cast<uint32_t>(r.position), 0xe8000000u);
}

TEST(ResampleTest, EqualRatesCopyAndKeepTheRecord)
{
    Resampler r = Fresh(22050, 22050);
    r.position = -0x123;
    r.last = 77;
    const auto in = Ramp(576, 0x1234567);
    EXPECT_EQ(Convert(r, in), in);
    EXPECT_EQ(r.position, -0x123);
    EXPECT_EQ(r.last, 77);
}

TEST(ResampleTest, ExactRatiosLandOnInputSamples)
{
    std::vector<mad_fixed_t> in(1152);
    std::mt19937 rng(5);
    for (auto &v : in)
        v = static_cast<mad_fixed_t>(rng() % 0x20000000) - 0x10000000;
    Resampler half = Fresh(48000, 24000);
    const auto even = Convert(half, in);
    ASSERT_EQ(even.size(), 576u);
    for (size_t k = 0; k < even.size(); ++k)
        EXPECT_EQ(even[k], in[2 * k]);

    // a third rounded down still lands on every third output exactly
    Resampler triple = Fresh(16000, 48000);
    const std::vector<mad_fixed_t> part(in.begin(), in.begin() + 576);
    const auto up = Convert(triple, part);
    ASSERT_EQ(up.size(), 1725u);
    for (size_t k = 0; k < 575; ++k)
        EXPECT_EQ(up[3 * k], part[k]) << k;

    // 12000 to 44100 (147 outputs per 40 inputs): the positions drift just
    // below whole samples, and the full snap window brings them back
    Resampler odd = Fresh(12000, 44100);
    const auto up147 = Convert(odd, part);
    ASSERT_GT(up147.size(), 294u);
    EXPECT_EQ(up147[147], part[40]);
    EXPECT_EQ(up147[294], part[80]);
}

TEST(ResampleTest, SmallFractionsYieldTheLeftSample)
{
    Resampler r{0x10007fff, 0, 0};  // the fraction grows by 0x7fff per output
    const std::vector<mad_fixed_t> in = {0x1000000, 0x5000000, 0x9000000, 0xd000000};
    const auto out = Convert(r, in);
    ASSERT_GE(out.size(), 2u);
    EXPECT_EQ(out[0], in[0]);
    EXPECT_EQ(out[1], in[1]);  // fraction 0x7fff rounds to nothing
}

TEST(ResampleTest, InterpolationSaturatesInsteadOfWrapping)
{
    // the difference of two far-apart samples does not fit in 32 bits
    Resampler r = Fresh(22050, 44100);
    const auto out = Convert(r, {0x70000000, -0x70000000, 0});
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[1], 0x70000000 + FixedMul(INT32_MIN, 0x08000000));
    EXPECT_GT(out[1], 0);
    // the rounded step can carry the sum past the top
    Resampler near{0x0fff8000, 0, 0};
    const auto top = Convert(near, {INT32_MAX - 0x800, INT32_MAX, INT32_MAX});
    ASSERT_GE(top.size(), 2u);
    EXPECT_EQ(top[1], INT32_MAX);
    // where nothing overflows, the plain rule holds
    Resampler plain = Fresh(22050, 44100);
    const auto mid = Convert(plain, {-0x10000000, 0x10000000, 0});
    EXPECT_EQ(mid[1], -0x10000000 + FixedMul(0x20000000, 0x08000000));
}

// No block ever writes past the bound, whatever the record held; and over
// many blocks the count follows the rate ratio.
TEST(ResampleTest, OutputNeverExceedsTheBound)
{
    const uint32_t seed = TestSeed();
    SCOPED_TRACE(SeedNote(seed));
    std::mt19937 rng(seed);
    constexpr mad_fixed_t guard = 0x5a5a5a5a;
    for (int i = 0; i < 9; ++i)
        for (int o = 0; o < 9; ++o) {
            for (int32_t count : {2, 3, 576, 1152}) {
                Resampler r = Fresh(rates[i], rates[o]);
                const uint32_t bound = ResampleBound(&r, static_cast<uint32_t>(count));
                const auto in = Ramp(static_cast<size_t>(count), 0x1000);
                for (int block = 0; block < 20; ++block) {
                    if (block % 4 == 3) {  // an arbitrary record
                        r.position = static_cast<int32_t>(rng());
                        r.last = static_cast<int32_t>(rng());
                    }
                    std::vector<mad_fixed_t> out(bound + 64, guard);
                    const int32_t n = Resample(&r, count, in.data(), out.data());
                    ASSERT_LE(static_cast<uint32_t>(n), bound) << rates[i] << "->" << rates[o];
                    for (size_t g = static_cast<size_t>(n); g < out.size(); ++g)
                        ASSERT_EQ(out[g], guard) << "written past the count";
                }
            }
            Resampler r = Fresh(rates[i], rates[o]);
            const auto in = Ramp(1152, 0x100);
            std::vector<mad_fixed_t> out(1152 * 6 + 8);
            int64_t total = 0;
            for (int block = 0; block < 200; ++block)
                total += Resample(&r, 1152, in.data(), out.data());
            // short only by the outputs still pending in the record after the last block
            const double step = static_cast<double>(rates[o]) / rates[i];
            const double expected = 200.0 * 1152 * step;
            EXPECT_LE(static_cast<double>(total), expected + 1) << rates[i] << "->" << rates[o];
            EXPECT_GE(static_cast<double>(total), expected - step - 1) << rates[i] << "->" << rates[o];
        }
}

// The decoding call converts by a plan made once per ratio and frame length;
// it must give exactly what Resample gives from a fresh record.
TEST(ResampleTest, PlanEqualsAFreshRecord)
{
    std::mt19937 rng(21);
    for (int i = 0; i < 9; ++i)
        for (int o = 0; o < 9; ++o)
            for (int32_t count : {2, 3, 384, 576, 1152}) {
                if (i == o)
                    continue;  // equal rates copy
                std::vector<mad_fixed_t> in(static_cast<size_t>(count));
                for (auto &v : in)  // loud, and now and then at the very limits
                    v = rng() % 16 == 0 ? (rng() % 2 ? INT32_MAX : INT32_MIN)
                                        : static_cast<mad_fixed_t>(rng()) >> (rng() % 4);
                Resampler r = Fresh(rates[i], rates[o]);
                const uint32_t bound = ResampleBound(&r, static_cast<uint32_t>(count));
                std::vector<int32_t> index(bound);
                std::vector<uint32_t> fraction(bound);
                ResamplePlan plan;
                plan.index = index.data();
                plan.fraction = fraction.data();
                MakeResamplePlan(&plan, r.ratio, count);
                std::vector<mad_fixed_t> byPlan(bound);
                byPlan.resize(static_cast<size_t>(ResampleByPlan(&plan, in.data(), byPlan.data())));
                ASSERT_EQ(byPlan, Convert(r, in)) << rates[i] << "->" << rates[o] << " count " << count;
            }
}

} // namespace
