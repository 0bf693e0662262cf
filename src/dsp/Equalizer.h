// SPDX-License-Identifier: GPL-2.0-or-later
#ifndef VORLIX_EQUALIZER_H
#define VORLIX_EQUALIZER_H

#include <cstdint>
#include <mad.h>

/** Band (0..9) of each of the 32 subbands. */
extern const uint8_t subbandBand[32];

/** dB to a 4.28 gain, capped at +18 dB, rounded to nearest. */
mad_fixed_t DbToGain(double level);

/** Fills the 32 subband gains from ten band levels plus a preamp, all in dB. */
void SetEqGains(const int8_t *bandSettings, int32_t preamp, mad_fixed_t gains[32]);

/** Scales every subband sample of the frame by the master gain, then subband
 *  sb by gains[sb]: FixedMul twice, in one sweep. Gains are not negative. */
void ApplyGains(mad_frame *frame, mad_fixed_t gain, const mad_fixed_t *gains);

/** The master gain after a frame whose largest clipping excess was clipPeak:
 *  gain / (1 + clipPeak * clipReduction), rounded. */
mad_fixed_t ReducedGain(mad_fixed_t gain, mad_fixed_t clipPeak, mad_fixed_t clipReduction);

#endif
