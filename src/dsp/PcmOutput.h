// SPDX-License-Identifier: GPL-2.0-or-later
#ifndef VORLIX_PCMOUTPUT_H
#define VORLIX_PCMOUTPUT_H

#include <cstdint>
#include <mad.h>

/** Quantises count samples per channel to little-endian 16-bit PCM with
 *  error feedback, interleaved when right is not null. The residues carry the
 *  feedback from one call to the next (residueRight only with right). Raises
 *  *clipPeak to the largest clipping excess. Returns the bytes written:
 *  2 * count (mono) or 4 * count (stereo). */
int32_t WritePcm(uint8_t *out, uint32_t count, const mad_fixed_t *left, const mad_fixed_t *right,
                 mad_fixed_t *clipPeak, mad_fixed_t &residueLeft, mad_fixed_t &residueRight);

#endif
