// SPDX-License-Identifier: GPL-2.0-or-later
// How many samples the decoder's rate converter makes of a frame. It
// converts every frame on its own, from the same starting point, so the
// count depends only on the two rates and the frame's length: a host can
// know a converted stream's exact length, and where each frame starts in
// it, without decoding.
#ifndef VORLIX_FILE_CONVERTER_H
#define VORLIX_FILE_CONVERTER_H

#include <cstdint>

/** Samples per channel that a frame of `length` samples at `from` Hz gives
 *  at `to` Hz (the length itself when the rates are equal, or either is not
 *  one of the nine MPEG rates). */
int32_t ConvertedLength(int32_t from, int32_t length, int32_t to);

#endif
