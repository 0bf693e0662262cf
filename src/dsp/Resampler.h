// SPDX-License-Identifier: GPL-2.0-or-later
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

/** Where each output of a fresh record (position 0) falls for count input
 *  samples: the input index and the fraction towards the next sample. The
 *  same for every block with that ratio and count, so it is made once. */
struct ResamplePlan {
    mad_fixed_t ratio = 0;
    int32_t count = 0;
    int32_t outputs = 0;
    int32_t *index = nullptr;    // outputs entries
    uint32_t *fraction = nullptr;
};

/** Fills plan for ratio and count; index and fraction must hold the bound.
 *  Equal rates are a plain copy in Resample; their plan is not used. */
void MakeResamplePlan(ResamplePlan *plan, mad_fixed_t ratio, int32_t count);

/** Converts one block as Resample does from a fresh record, by the plan;
 *  returns plan->outputs. */
int32_t ResampleByPlan(const ResamplePlan *plan, const mad_fixed_t *in, mad_fixed_t *out);

#endif
