#include "dsp/Equalizer.h"

#include "core/DecoderState.h"
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
    return static_cast<mad_fixed_t>(g * 268435456.0 + 0.5);
}

void SetEqGains(const int8_t *bandSettings, int32_t preamp)
{
    for (int sb = 0; sb < 32; ++sb) {
        const double level = static_cast<double>(bandSettings[subbandBand[sb]] + preamp);
        state.eqGains[sb] = DbToGain(level);
    }
}

void ApplyMasterGain(mad_frame *frame, mad_fixed_t gain)
{
    const int channels = MAD_NCHANNELS(&frame->header);
    const int rows = MAD_NSBSAMPLES(&frame->header);
    for (int ch = 0; ch < channels; ++ch)
        for (int row = 0; row < rows; ++row)
            for (int sb = 0; sb < 32; ++sb)
                frame->sbsample[ch][row][sb] = FixedMul(frame->sbsample[ch][row][sb], gain);
}

void ApplyEqGains(mad_frame *frame, const mad_fixed_t *gains)
{
    const int channels = MAD_NCHANNELS(&frame->header);
    const int rows = MAD_NSBSAMPLES(&frame->header);
    for (int ch = 0; ch < channels; ++ch)
        for (int row = 0; row < rows; ++row)
            for (int sb = 0; sb < 32; ++sb)
                frame->sbsample[ch][row][sb] = FixedMul(frame->sbsample[ch][row][sb], gains[sb]);
}

void UpdateMasterGain(mad_fixed_t clipPeak)
{
    constexpr double toUnit = 3.725290298461914e-09;  // 2^-28
    const int32_t k = static_cast<int32_t>(
        static_cast<uint32_t>(FixedMul(clipPeak, state.clipReduction)) + uint32_t{0x10000000});
    const double x = static_cast<double>(state.masterGain) * toUnit;
    const double y = static_cast<double>(k) * toUnit;
    const double z = x / y * 268435456.0 + 0.5;
    state.masterGain = static_cast<mad_fixed_t>(z);
}
