#include "dsp/PcmOutput.h"

#include "core/DecoderState.h"
#include "dsp/FixedMul.h"

namespace {

constexpr int32_t pcmMax = 0x0fffffff;   // just below +1.0
constexpr int32_t pcmMin = -0x10000000;  // -1.0
constexpr int32_t stepMask = ~0x1fff;    // one 16-bit step is 0x2000
constexpr int32_t peakResidueLimit = 0x7fff;

// A sample whose sum with the residue left the 16-bit range.
[[gnu::noinline, gnu::cold]] int32_t Clip(int32_t a, int32_t r, mad_fixed_t &residue,
                                          mad_fixed_t *clipPeak)
{
    int32_t v, excess;
    if (a > pcmMax) {
        v = pcmMax;
        excess = a - pcmMax;
    } else {
        v = pcmMin;
        excess = pcmMin - a;
    }
    // a clip while a large residue is pending only echoes the previous
    // clip's excess, so it does not count towards the peak
    if (excess > *clipPeak && r <= peakResidueLimit && r >= -peakResidueLimit)
        *clipPeak = excess;
    const int32_t q = v & stepMask;
    // residue from the unclipped sum: a clip carries its excess forward
    residue = a - q;
    return q >> 13;
}

// One sample through the channel's error feedback; returns the 16-bit value.
inline int32_t Quantise(mad_fixed_t sample, mad_fixed_t &residue, mad_fixed_t *clipPeak)
{
    const int32_t r = residue;
    int32_t a;
    if (__builtin_add_overflow(sample, r, &a)) [[unlikely]]
        a = sample < 0 ? INT32_MIN : INT32_MAX;  // saturate rather than flip sign
    if (static_cast<uint32_t>(a) + 0x10000000u < 0x20000000u) [[likely]] {
        // in range: the low 13 bits go to the residue, the rest out
        residue = a & ~stepMask;
        return a >> 13;
    }
    return Clip(a, r, residue, clipPeak);
}

inline void Store(uint8_t *out, int32_t v)
{
    out[0] = static_cast<uint8_t>(v & 0xff);
    out[1] = static_cast<uint8_t>((v >> 8) & 0xff);
}

} // namespace

int32_t WritePcm(uint8_t *out, uint32_t count, const mad_fixed_t *left,
                 const mad_fixed_t *right, mad_fixed_t *clipPeak)
{
    if (right == nullptr) {
        for (uint32_t i = 0; i < count; ++i)
            Store(out + 2 * i, Quantise(left[i], state.residueLeft, clipPeak));
        return static_cast<int32_t>(2 * count);
    }
    for (uint32_t i = 0; i < count; ++i) {
        const int32_t l = Quantise(left[i], state.residueLeft, clipPeak);
        const int32_t r = Quantise(right[i], state.residueRight, clipPeak);
        Store(out + 4 * i, l);
        Store(out + 4 * i + 2, r);
    }
    return static_cast<int32_t>(4 * count);
}
