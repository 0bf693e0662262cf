// SPDX-License-Identifier: GPL-2.0-or-later
#include "dsp/Equalizer.h"

#include "dsp/FixedMul.h"
#include "platform/Platform.h"

const uint8_t subbandBand[32] = {
    0, 1, 2, 3, 4, 5, 6, 6, 7, 7, 7, 7, 8, 8, 8, 8,
    8, 8, 8, 8, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9,
};

mad_fixed_t DbToGain(double level)
{
    if (level > 18.0)
        level = 18.0;
    const double g = PlatformPow(10.0, level * 0.05);
    return static_cast<mad_fixed_t>(g * fixedOne + 0.5);
}

void SetEqGains(const int8_t *bandSettings, int32_t preamp, mad_fixed_t gains[32])
{
    for (int sb = 0; sb < 32; ++sb) {
        const double level = static_cast<double>(bandSettings[subbandBand[sb]] + preamp);
        gains[sb] = DbToGain(level);
    }
}

namespace {

// The subband samples a frame uses: its channels, and rows below its count,
// as one run of rows of 32 (channel 1's rows follow channel 0's 36).
struct Rows {
    int channels, count;
    explicit Rows(const mad_frame *frame)
        : channels(MAD_NCHANNELS(&frame->header)), count(MAD_NSBSAMPLES(&frame->header))
    {
    }
};

VORLIX_VECTOR_CLONES
void ScaleRows(mad_fixed_t (*rows)[32], int count, const FixedGain &master, const FixedGain *band)
{
    for (int row = 0; row < count; ++row)
        for (int sb = 0; sb < 32; ++sb)
            rows[row][sb] = band[sb](master(rows[row][sb]));
}

} // namespace

void ApplyGains(mad_frame *frame, mad_fixed_t gain, const mad_fixed_t *gains)
{
    // gains are never negative: DbToGain and ReducedGain make none
    const FixedGain master(gain);
    FixedGain band[32];
    for (int sb = 0; sb < 32; ++sb)
        band[sb] = FixedGain(gains[sb]);
    // each product rounds on its own, exactly as FixedMul by the master gain,
    // then by the subband's gain
    const Rows rows(frame);
    for (int ch = 0; ch < rows.channels; ++ch)
        ScaleRows(frame->sbsample[ch], rows.count, master, band);
}

mad_fixed_t ReducedGain(mad_fixed_t gain, mad_fixed_t clipPeak, mad_fixed_t clipReduction)
{
    constexpr double toUnit = 3.725290298461914e-09;  // 2^-28
    const int32_t k = static_cast<int32_t>(
        static_cast<uint32_t>(FixedMul(clipPeak, clipReduction)) + static_cast<uint32_t>(fixedOne));
    const double x = static_cast<double>(gain) * toUnit;
    const double y = static_cast<double>(k) * toUnit;
    const double z = x / y * fixedOne + 0.5;
    return static_cast<mad_fixed_t>(z);
}
