// SPDX-License-Identifier: GPL-2.0-or-later
#include "dsp/PcmOutput.h"

#include <bit>
#include <cstring>

#include "dsp/FixedMul.h"

namespace {

constexpr int32_t pcmMax = fixedOne - 1;  // just below +1.0
constexpr int32_t pcmMin = -fixedOne;     // -1.0
constexpr int32_t stepMask = ~0x1fff;    // one 16-bit step is 0x2000
constexpr int32_t peakResidueLimit = 0x7fff;

struct Quantised {
    int32_t value;     // the 16-bit output
    int32_t residue;
};

// A sample whose sum with the residue left the 16-bit range.
[[gnu::noinline, gnu::cold]] Quantised Clip(int32_t a, int32_t r, mad_fixed_t *clipPeak)
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
    // clip's excess, so it does not count towards the peak (the residues
    // this stage leaves are always small, so the test guards a caller's)
    if (excess > *clipPeak && r <= peakResidueLimit && r >= -peakResidueLimit)
        *clipPeak = excess;
    const int32_t q = v & stepMask;
    // the residue is the quantisation error of the clipped value: carrying
    // the excess forward would hold the following samples at full scale
    return {q >> 13, v - q};
}

// One sample through the channel's error feedback.
inline Quantised Quantise(mad_fixed_t sample, int32_t r, mad_fixed_t *clipPeak)
{
    int32_t a;
    if (__builtin_add_overflow(sample, r, &a)) [[unlikely]]
        a = sample < 0 ? INT32_MIN : INT32_MAX;  // saturate rather than flip sign
    if (static_cast<uint32_t>(a) + 0x10000000u < 0x20000000u) [[likely]]
        return {a >> 13, a & ~stepMask};  // the low 13 bits stay behind
    return Clip(a, r, clipPeak);
}

// Low byte first. On a little-endian machine that is the value's own byte
// order, and one 16-bit store lets the output loops vectorise.
inline void Store(uint8_t *out, int32_t v)
{
    if constexpr (std::endian::native == std::endian::little) {
        const uint16_t bits = static_cast<uint16_t>(v);
        std::memcpy(out, &bits, 2);
    } else {
        out[0] = static_cast<uint8_t>(v & 0xff);
        out[1] = static_cast<uint8_t>((v >> 8) & 0xff);
    }
}

} // namespace

int32_t WritePcm(uint8_t *out, uint32_t count, const mad_fixed_t *left, const mad_fixed_t *right,
                 mad_fixed_t *clipPeak, mad_fixed_t &residueLeftIo, mad_fixed_t &residueRightIo)
{
    // The residues stay in registers for the frame: through memory, every
    // sample's dependency chain would hold a store and a load. The chain
    // itself (each residue feeds the next sample) keeps this loop sequential.
    int32_t residueLeft = residueLeftIo;
    if (right == nullptr) {
        for (uint32_t i = 0; i < count; ++i) {
            const Quantised q = Quantise(left[i], residueLeft, clipPeak);
            Store(out + 2 * i, q.value);
            residueLeft = q.residue;
        }
        residueLeftIo = residueLeft;
        return static_cast<int32_t>(2 * count);
    }
    int32_t residueRight = residueRightIo;
    for (uint32_t i = 0; i < count; ++i) {
        // left before right: the order in which a clip raises the peak
        const Quantised l = Quantise(left[i], residueLeft, clipPeak);
        const Quantised r = Quantise(right[i], residueRight, clipPeak);
        Store(out + 4 * i, l.value);
        Store(out + 4 * i + 2, r.value);
        residueLeft = l.residue;
        residueRight = r.residue;
    }
    residueLeftIo = residueLeft;
    residueRightIo = residueRight;
    return static_cast<int32_t>(4 * count);
}
