// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <random>

#include "TestSupport.h"
#include "dsp/PcmOutput.h"

namespace {

class PcmOutput : public ::testing::Test {
protected:
    // the error-feedback residues the stage carries from call to call
    struct {
        mad_fixed_t left = 0, right = 0;
    } residues;

    // One mono sample from the given residue: returns the 16-bit output.
    int16_t One(int32_t sample, int32_t residue)
    {
        residues.left = residue;
        uint8_t out[2];
        EXPECT_EQ(WritePcm(out, 1, &sample, nullptr, &peak, residues.left, residues.right), 2);
        return static_cast<int16_t>(out[0] | (out[1] << 8));
    }

    mad_fixed_t peak = 0;
};

struct Case {
    int32_t sample, residue;
    int16_t output;
    int32_t newResidue, peak;  // peak after, from 0
};

TEST_F(PcmOutput, EdgeTable)
{
    const Case cases[] = {
        {0x0fffffff, 0, 32767, 0x1fff, 0},          // top of range
        {0x10000000, 0, 32767, 0x1fff, 1},          // just above: excess 1, the clipped value's error
        {-0x10000000, 0, -32768, 0, 0},             // bottom of range
        {-0x10000001, 0, -32768, 0, 1},             // just below
        {0x1000, 0, 0, 0x1000, 0},                  // half a step
        {0x1000, 0x1000, 1, 0, 0},
        {-1, 0, -1, 0x1fff, 0},
        {0x10010000, 0x7fff, 32767, 0x1fff, 0x18000},   // residue 0x7fff still counts
        {0x10010000, 0x8000, 32767, 0x1fff, 0},         // residue too large to count
        {-0x10010000, -0x8000, -32768, 0, 0},
        {-0x10010000, -0x7fff, -32768, 0, 0x17fff},
        // a sum past 32 bits saturates and clips above, never wraps below
        {0x40000000, 0x60000000, 32767, 0x1fff, 0},
        {-0x40000000, -0x60000000, -32768, 0, 0},
    };
    for (const Case &c : cases) {
        peak = 0;
        SCOPED_TRACE(::testing::Message() << std::hex << "sample 0x" << c.sample << " residue 0x" << c.residue);
        EXPECT_EQ(One(c.sample, c.residue), c.output);
        EXPECT_EQ(residues.left, c.newResidue);
        EXPECT_EQ(peak, c.peak);
    }
}

TEST_F(PcmOutput, HalfStepAlternatesAndMinusOneRecursEvery8192)
{
    std::vector<int16_t> outs;
    for (int i = 0; i < 6; ++i)
        outs.push_back(One(0x1000, residues.left));
    EXPECT_EQ(outs, (std::vector<int16_t>{0, 1, 0, 1, 0, 1}));

    residues.left = 0;
    std::vector<mad_fixed_t> in(8192 * 2 + 1, -1);
    std::vector<uint8_t> out(in.size() * 2);
    WritePcm(out.data(), static_cast<uint32_t>(in.size()), in.data(), nullptr, &peak, residues.left, residues.right);
    for (size_t i = 0; i < in.size(); ++i) {
        const int16_t v = static_cast<int16_t>(out[2 * i] | (out[2 * i + 1] << 8));
        EXPECT_EQ(v, i % 8192 == 0 ? -1 : 0) << "sample " << i;
    }
}

TEST_F(PcmOutput, AClipLeavesOnlyTheClippedValuesErrorAndThePeakKeepsTheLargestExcess)
{
    // after a clip the signal is back near zero: the next output follows it
    // instead of being pushed to full scale by the excess
    const mad_fixed_t in[4] = {0x10010000, 0x2000 * 5, 0x20000000, 0x10000100};
    uint8_t out[8];
    WritePcm(out, 4, in, nullptr, &peak, residues.left, residues.right);
    const int16_t expected[4] = {32767, 5, 32767, 32767};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(static_cast<int16_t>(out[2 * i] | (out[2 * i + 1] << 8)), expected[i]) << "sample " << i;
    EXPECT_EQ(residues.left, 0x1fff);
    EXPECT_EQ(peak, 0x20000000 + 0x1fff - 0x0fffffff);
    // a smaller excess later does not lower it
    mad_fixed_t small = 0x10000010;
    residues.left = 0;
    WritePcm(out, 1, &small, nullptr, &peak, residues.left, residues.right);
    EXPECT_EQ(peak, 0x20000000 + 0x1fff - 0x0fffffff);
    // below the range the clipped value is a whole step: nothing is left over
    const mad_fixed_t low[2] = {-0x10010000, -0x2000 * 3};
    WritePcm(out, 2, low, nullptr, &peak, residues.left, residues.right);
    EXPECT_EQ(static_cast<int16_t>(out[2] | (out[3] << 8)), -3);
    EXPECT_EQ(residues.left, 0);
}

TEST_F(PcmOutput, StereoInterleavesLeftFirstLowByteFirst)
{
    residues.right = 0x123;
    const mad_fixed_t left[2] = {0x2000 * 0x1234, -0x2000};
    const mad_fixed_t right[2] = {-0x2000 * 2, 0x2000 * 0x7f};
    uint8_t out[8];
    EXPECT_EQ(WritePcm(out, 2, left, right, &peak, residues.left, residues.right), 8);
    const uint8_t expected[8] = {0x34, 0x12, 0xfe, 0xff, 0xff, 0xff, 0x7f, 0x00};
    EXPECT_EQ(0, memcmp(out, expected, 8));
    EXPECT_EQ(residues.left, 0);
    EXPECT_EQ(residues.right, 0x123);
}

TEST_F(PcmOutput, MonoLeavesTheRightResidueAndZeroCountChangesNothing)
{
    residues.right = 0x777;
    residues.left = 0x55;
    const mad_fixed_t in[1] = {0x7fffffff};
    uint8_t out[4] = {0xaa, 0xaa, 0xaa, 0xaa};
    EXPECT_EQ(WritePcm(out, 0, in, in, &peak, residues.left, residues.right), 0);
    EXPECT_EQ(out[0], 0xaa);
    EXPECT_EQ(residues.left, 0x55);
    EXPECT_EQ(peak, 0);
    WritePcm(out, 1, in, nullptr, &peak, residues.left, residues.right);
    EXPECT_EQ(residues.right, 0x777);
    EXPECT_EQ(out[2], 0xaa);
}

TEST_F(PcmOutput, ErrorFeedbackContinuesAcrossCalls)
{
    std::vector<mad_fixed_t> in(1000);
    for (size_t i = 0; i < in.size(); ++i)
        in[i] = static_cast<mad_fixed_t>((i * 2654435761u) % 0x30000000) - 0x18000000;
    std::vector<uint8_t> whole(in.size() * 4), split(in.size() * 4);
    WritePcm(whole.data(), 1000, in.data(), in.data(), &peak, residues.left, residues.right);
    const int32_t left = residues.left, right = residues.right;

    residues.left = residues.right = 0;
    mad_fixed_t peak2 = 0;
    WritePcm(split.data(), 333, in.data(), in.data(), &peak2, residues.left, residues.right);
    WritePcm(split.data() + 333 * 4, 667, in.data() + 333, in.data() + 333, &peak2, residues.left, residues.right);
    EXPECT_EQ(whole, split);
    EXPECT_EQ(residues.left, left);
    EXPECT_EQ(residues.right, right);
    EXPECT_EQ(peak, peak2);
}

// The output stage works in runs when nothing clips; any mix of quiet, loud
// and clipping samples must give what the plain rule gives, sample by sample.
TEST_F(PcmOutput, MatchesThePlainRuleOnAnySignal)
{
    const uint32_t seed = TestSeed();
    SCOPED_TRACE(SeedNote(seed));
    std::mt19937 rng(seed);
    ReferenceOutput rule;
    for (int call = 0; call < 400; ++call) {
        const uint32_t count = rng() % 300;
        const bool stereo = rng() % 2;
        std::vector<int32_t> l(count), r(count);
        const int style = static_cast<int>(rng() % 4);
        for (uint32_t i = 0; i < count; ++i) {
            for (int32_t *v : {&l[i], &r[i]}) {
                const uint32_t x = rng();
                switch (style) {
                case 0: *v = static_cast<int32_t>(x) >> 4; break;              // within range
                case 1: *v = static_cast<int32_t>(x) >> 2; break;              // clips often
                case 2: *v = x % 97 == 0 ? static_cast<int32_t>(x) : static_cast<int32_t>(x) >> 5; break;
                default: *v = x % 2 ? INT32_MAX - static_cast<int32_t>(x % 9000) : INT32_MIN + static_cast<int32_t>(x % 9000);
                }
            }
        }
        Bytes expected;
        const int32_t expectedPeak = rule.Write(expected, l, stereo ? &r : nullptr);
        Bytes got(count * 4 + 4, 0xee);
        mad_fixed_t peak = 0;
        ASSERT_EQ(WritePcm(got.data(), count, l.data(), stereo ? r.data() : nullptr, &peak, residues.left, residues.right),
                  static_cast<int32_t>(expected.size()));
        ASSERT_TRUE(std::equal(expected.begin(), expected.end(), got.begin())) << "call " << call;
        ASSERT_EQ(got[expected.size()], 0xee);
        ASSERT_EQ(peak, expectedPeak) << "call " << call;
        ASSERT_EQ(residues.left, rule.residue[0]);
        if (stereo) {
            ASSERT_EQ(residues.right, rule.residue[1]);
        } else {
            residues.right = rule.residue[1];
        }
    }
}

} // namespace
