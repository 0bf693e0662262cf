#ifndef VORLIX_RESAMPLER_H
#define VORLIX_RESAMPLER_H

#include <cstdint>
#include <mad.h>

/** Linear-interpolation converter state of one channel. */
struct Resampler {
    mad_fixed_t ratio;     // input samples per output sample, 4.28
    int32_t position;      // next output, in input samples from the next block's
                           // first; negative: between last and that first
    mad_fixed_t last;      // last input sample of the previous block
};

/** Index 0..8 of a supported rate (48000 down to 8000), or -1. */
int32_t RateIndex(uint32_t rate);

/** input rate / output rate, 4.28, by rate index. */
extern const mad_fixed_t (&ratioTable)[9][9];

/** Sets ratio for the two rates and clears position and last; returns 0, or
 *  -1 (record untouched) when a rate is not supported. */
int32_t ResamplerInit(Resampler *resampler, uint32_t fromRate, uint32_t toRate);

/** Largest number of samples Resample writes for count input samples:
 *  ceil(count * 2^28 / ratio). */
uint32_t ResampleBound(const Resampler *resampler, uint32_t count);

/** Converts count (>= 2) samples, carrying the interpolation over from the
 *  previous block; returns the number written to out. */
int32_t Resample(Resampler *resampler, int32_t count, const mad_fixed_t *in, mad_fixed_t *out);

#endif
