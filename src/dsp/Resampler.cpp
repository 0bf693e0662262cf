// SPDX-License-Identifier: GPL-2.0-or-later
#include "dsp/Resampler.h"

#include "dsp/FixedMul.h"
#include "platform/Platform.h"

namespace {

constexpr uint32_t rates[9] = {48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000};

constexpr uint32_t fractionMask = 0x0fffffff;
constexpr uint32_t snapWindow = 0x80;

struct RatioRows {
    mad_fixed_t v[9][9];
};

// in/out * 2^28, rounded to nearest (no entry falls on a half)
constexpr RatioRows MakeRatios()
{
    RatioRows t{};
    for (int i = 0; i < 9; ++i)
        for (int o = 0; o < 9; ++o)
            t.v[i][o] = static_cast<mad_fixed_t>(
                ((uint64_t{rates[i]} << 29) + rates[o]) / (2 * uint64_t{rates[o]}));
    return t;
}

constexpr RatioRows ratios = MakeRatios();

static_assert(ratios.v[1][0] == 0x0eb33333 && ratios.v[0][1] == 0x116a3b36);
static_assert(ratios.v[4][1] == 0x08000000 && ratios.v[5][0] == 0x05555555);
static_assert(ratios.v[8][0] == 0x02aaaaab && ratios.v[0][8] == 0x60000000);

inline mad_fixed_t Interpolate(mad_fixed_t a, mad_fixed_t b, uint32_t fraction)
{
    if (fraction == 0)
        return a;
    // saturating, so that samples far out of range keep their sign
    return SatAdd(a, FixedMul(SatSub(b, a), static_cast<int32_t>(fraction)));
}

// Steps to the next output; positions within 0x80 of a whole input sample
// snap to it, so that rounded ratios do not drift off the input grid.
inline uint32_t Advance(uint32_t position, uint32_t ratio)
{
    position += ratio;
    const uint32_t t = position + snapWindow;
    if ((t & 0x0fffff00u) == 0)
        position = t & 0xf0000000u;
    return position;
}

inline int32_t WholePart(uint32_t position)
{
    return static_cast<int32_t>(position) >> 28;
}

// Steps through the outputs whose pair of input samples lies in a block of
// count samples, from position (at or after the block's first sample):
// emit(c, fraction) for each, with in[c] and in[c + 1] the pair. Leaves
// position at the next output and returns the cursor c reached.
template <class Emit>
inline int32_t Walk(uint32_t &position, uint32_t ratio, int32_t count, Emit emit)
{
    int32_t c = 0;
    for (;;) {
        const int32_t whole = WholePart(position);
        if (count - c <= whole + 1)
            break;
        c += whole;
        position &= fractionMask;
        emit(c, position);
        position = Advance(position, ratio);
    }
    return c;
}

} // namespace

const mad_fixed_t (&ratioTable)[9][9] = ratios.v;

int32_t RateIndex(uint32_t rate)
{
    for (int32_t i = 0; i < 9; ++i)
        if (rates[i] == rate)
            return i;
    return -1;
}

int32_t ResamplerInit(Resampler *resampler, uint32_t fromRate, uint32_t toRate)
{
    const int32_t from = RateIndex(fromRate);
    const int32_t to = RateIndex(toRate);
    if (from < 0 || to < 0)
        return -1;
    resampler->ratio = ratioTable[from][to];
    resampler->position = 0;
    resampler->last = 0;
    return 0;
}

uint32_t ResampleBound(const Resampler *resampler, uint32_t count)
{
    const uint64_t ratio = static_cast<uint32_t>(resampler->ratio);
    return static_cast<uint32_t>(((uint64_t{count} << 28) + ratio - 1) / ratio);
}

int32_t Resample(Resampler *resampler, int32_t count, const mad_fixed_t *in, mad_fixed_t *out)
{
    const uint32_t ratio = static_cast<uint32_t>(resampler->ratio);
    if (ratio == static_cast<uint32_t>(fixedOne)) {
        PlatformCopy(out, in, static_cast<size_t>(count) * sizeof *in);
        return count;
    }

    uint32_t position = static_cast<uint32_t>(resampler->position);
    int32_t written = 0;

    if (static_cast<int32_t>(position) < 0) {
        // the next output lies between the previous block's last sample and in[0]
        position = (0u - position) & fractionMask;
        while (position < static_cast<uint32_t>(fixedOne)) {
            out[written++] = Interpolate(resampler->last, in[0], position);
            position = Advance(position, ratio);
        }
        position -= static_cast<uint32_t>(fixedOne);
    }

    const int32_t c = Walk(position, ratio, count, [&](int32_t at, uint32_t fraction) {
        out[written++] = Interpolate(in[at], in[at + 1], fraction);
    });

    const int32_t whole = WholePart(position);
    const int32_t rem = count - c;
    if (rem == whole + 1) {
        resampler->last = in[count - 1];
        position = 0u - position;
    } else {
        position -= static_cast<uint32_t>(rem) << 28;
    }
    resampler->position = static_cast<int32_t>(position);
    return written;
}

void MakeResamplePlan(ResamplePlan *plan, mad_fixed_t ratio, int32_t count)
{
    // Resample's walk from position 0, recording instead of interpolating
    plan->ratio = ratio;
    plan->count = count;
    uint32_t position = 0;
    int32_t n = 0;
    Walk(position, static_cast<uint32_t>(ratio), count, [&](int32_t at, uint32_t fraction) {
        plan->index[n] = at;  // at + 1 < count: both samples lie in the block
        plan->fraction[n] = fraction;
        ++n;
    });
    plan->outputs = n;
}

namespace {

// Interpolate() in the lane forms, so that the loop vectorises.
VORLIX_VECTOR_CLONES
void InterpolateByPlan(int32_t n, const int32_t *__restrict index, const uint32_t *__restrict fraction,
                       const mad_fixed_t *__restrict in, mad_fixed_t *__restrict out)
{
    for (int32_t k = 0; k < n; ++k) {
        const int32_t a = in[index[k]];
        const int32_t b = in[index[k] + 1];
        const uint32_t f = fraction[k];
        const int32_t sum = SatAddLane(a, FixedMulFractionLane(SatSubLane(b, a), f));
        out[k] = f == 0 ? a : sum;
    }
}

} // namespace

int32_t ResampleByPlan(const ResamplePlan *plan, const mad_fixed_t *in, mad_fixed_t *out)
{
    InterpolateByPlan(plan->outputs, plan->index, plan->fraction, in, out);
    return plan->outputs;
}
