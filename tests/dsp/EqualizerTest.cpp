// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "TestSupport.h"
#include "dsp/Equalizer.h"
#include "dsp/FixedMul.h"

namespace {

// The two plain passes that the one sweep of ApplyGains equals: the oracle.
void ApplyMasterGain(mad_frame *frame, mad_fixed_t gain)
{
    for (unsigned ch = 0; ch < MAD_NCHANNELS(&frame->header); ++ch)
        for (unsigned row = 0; row < MAD_NSBSAMPLES(&frame->header); ++row)
            for (int sb = 0; sb < 32; ++sb)
                frame->sbsample[ch][row][sb] = FixedMul(frame->sbsample[ch][row][sb], gain);
}

void ApplyEqGains(mad_frame *frame, const mad_fixed_t *gains)
{
    for (unsigned ch = 0; ch < MAD_NCHANNELS(&frame->header); ++ch)
        for (unsigned row = 0; row < MAD_NSBSAMPLES(&frame->header); ++row)
            for (int sb = 0; sb < 32; ++sb)
                frame->sbsample[ch][row][sb] = FixedMul(frame->sbsample[ch][row][sb], gains[sb]);
}

class Equalizer : public ::testing::Test {
protected:
    // A frame whose every subband sample is value.
    static mad_frame Filled(mad_fixed_t value, int mode, bool lsf)
    {
        mad_frame f;
        mad_frame_init(&f);
        f.header.layer = MAD_LAYER_III;
        f.header.mode = static_cast<mad_mode>(mode);
        f.header.flags = lsf ? MAD_FLAG_LSF_EXT : 0;
        for (auto &ch : f.sbsample)
            for (auto &row : ch)
                for (auto &s : row)
                    s = value;
        return f;
    }
};

TEST_F(Equalizer, DbToGainTellingValues)
{
    const std::pair<double, int32_t> table[] = {
        {18, 2132258619}, {19, 2132258619}, {254, 2132258619}, {12, 1068660799},
        {6, 535599149},   {0, 268435456},   {-6, 134536424},  {-20, 26843546},
        {-60, 268435},    {-174, 1},        {-175, 0},        {-256, 0},
    };
    for (const auto &[level, gain] : table)
        EXPECT_EQ(DbToGain(level), gain) << level << " dB";
}

TEST_F(Equalizer, SubbandGainsFromBandsAndPreamp)
{
    mad_fixed_t gains[32];
    const int8_t flat[11] = {};
    SetEqGains(flat, flat[10], gains);
    for (int sb = 0; sb < 32; ++sb)
        EXPECT_EQ(gains[sb], 0x10000000);

    const int8_t band6[11] = {0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0};
    SetEqGains(band6, band6[10], gains);
    for (int sb = 0; sb < 32; ++sb)
        EXPECT_EQ(gains[sb], sb == 6 || sb == 7 ? 379175160 : 0x10000000) << sb;

    // band plus preamp above 18 dB stops at 18 dB; -256 dB is silence
    const int8_t loud[11] = {10, 127, 0, 0, 0, 0, 0, 0, 0, 0, 10};
    SetEqGains(loud, loud[10], gains);
    EXPECT_EQ(gains[0], 2132258619);
    EXPECT_EQ(gains[1], 2132258619);
    EXPECT_EQ(gains[2], DbToGain(10));
    const int8_t quiet[11] = {-128, 0, 0, 0, 0, 0, 0, 0, 0, 0, -128};
    SetEqGains(quiet, quiet[10], gains);
    EXPECT_EQ(gains[0], 0);
    // bands 7, 8, 9 cover 4, 8 and 12 subbands
    const int8_t high[11] = {0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 0};
    SetEqGains(high, high[10], gains);
    for (int sb = 0; sb < 32; ++sb)
        EXPECT_EQ(gains[sb], DbToGain(sb < 8 ? 0 : sb < 12 ? 1 : sb < 20 ? 2 : 3)) << sb;
}

TEST_F(Equalizer, BoostedHotSubbandSaturatesInsteadOfFlippingSign)
{
    mad_frame f = Filled(0x18000000, MAD_MODE_STEREO, false);  // 1.5
    mad_fixed_t gains[32];
    for (int sb = 0; sb < 32; ++sb)
        gains[sb] = sb == 3 ? DbToGain(18) : 0x10000000;
    ApplyEqGains(&f, gains);
    EXPECT_EQ(f.sbsample[0][0][3], INT32_MAX);
    EXPECT_EQ(f.sbsample[1][35][3], INT32_MAX);
    EXPECT_EQ(f.sbsample[0][0][2], 0x18000000);
    mad_frame_finish(&f);
}

TEST_F(Equalizer, UnityGainRoundsToMultiplesOf0x1000)
{
    const std::pair<mad_fixed_t, mad_fixed_t> cases[] = {
        {0x7ff, 0}, {0x800, 0x1000}, {-0x800, 0}, {-0x801, -0x1000}, {0x12345678, 0x12345000}, {0x12345878, 0x12346000}};
    for (const auto &[in, out] : cases) {
        mad_frame f = Filled(in, MAD_MODE_JOINT_STEREO, false);
        ApplyMasterGain(&f, 0x10000000);
        EXPECT_EQ(f.sbsample[1][20][31], out) << in;
        mad_frame_finish(&f);
    }
}

TEST_F(Equalizer, GainsBelowMinus78dBSilence)
{
    mad_fixed_t gains[32];
    for (int sb = 0; sb < 32; ++sb)
        gains[sb] = DbToGain(sb % 2 ? -79 : -78);
    mad_frame f = Filled(0x08000000, MAD_MODE_STEREO, false);
    ApplyEqGains(&f, gains);
    EXPECT_EQ(f.sbsample[0][5][1], 0);
    EXPECT_EQ(f.sbsample[0][5][0], 0x08000000 / 4096);
    mad_frame_finish(&f);
}

TEST_F(Equalizer, PassesTouchOnlyTheFramesChannelsAndRows)
{
    // mono: channel 1 stays; MPEG-2: rows 18..35 stay
    mad_frame f = Filled(0x01000000, MAD_MODE_SINGLE_CHANNEL, true);
    ApplyMasterGain(&f, 0x08000000);
    EXPECT_EQ(f.sbsample[0][17][9], 0x00800000);
    EXPECT_EQ(f.sbsample[0][18][9], 0x01000000);
    EXPECT_EQ(f.sbsample[1][0][9], 0x01000000);
    mad_frame_finish(&f);

    f = Filled(0x01000000, MAD_MODE_DUAL_CHANNEL, false);
    ApplyMasterGain(&f, 0x08000000);
    EXPECT_EQ(f.sbsample[1][35][31], 0x00800000);
    mad_frame_finish(&f);
}

TEST_F(Equalizer, OneSweepEqualsTheTwoPasses)
{
    std::mt19937 rng(11);
    const int8_t curves[][11] = {{18, 12, 6, 0, -6, -20, -60, -79, -78, 3, 0},
                                 {127, 127, 127, 127, 127, 127, 127, 127, 127, 127, 127},
                                 {-128, 0, 0, 0, 0, 0, 0, 0, 0, 0, -128}};
    for (const auto &curve : curves) {
        mad_fixed_t gains[32];
        SetEqGains(curve, curve[10], gains);
        for (mad_fixed_t master : {0x10000000, 0x0AAAAAAB, 0x00001234, 0x7fffffff, 0}) {
            for (int mode : {0, 3}) {
                for (bool lsf : {false, true}) {
                    mad_frame a = Filled(0, mode, lsf);
                    for (auto &ch : a.sbsample)
                        for (auto &row : ch)
                            for (auto &s : row)
                                s = static_cast<mad_fixed_t>(rng()) >> (rng() % 6);
                    mad_frame b = a;
                    ApplyMasterGain(&a, master);
                    ApplyEqGains(&a, gains);
                    ApplyGains(&b, master, gains);
                    ASSERT_EQ(0, memcmp(a.sbsample, b.sbsample, sizeof a.sbsample)) << master;
                }
            }
        }
    }
}

TEST_F(Equalizer, GainUpdateAfterClipping)
{
    constexpr mad_fixed_t reduction = 0x08000000;  // the decoder's clip reduction, 0.5
    EXPECT_EQ(ReducedGain(0x10000000, 0, reduction), 0x10000000);
    EXPECT_EQ(ReducedGain(0x10000000, 0x7ff, reduction), 0x10000000);  // below the first operand's rounding step
    EXPECT_EQ(ReducedGain(0x10000000, 0x10000000, reduction), 0x0AAAAAAB);
    EXPECT_EQ(ReducedGain(0x0fedcba9, 0, reduction), 0x0fedcba9);
    // the largest excess there can be (7.0) keeps the divisor positive
    EXPECT_EQ(ReducedGain(0x10000000, 0x70000000, reduction), static_cast<int32_t>(std::floor(0x10000000 / 4.5 + 0.5)));
}

} // namespace
