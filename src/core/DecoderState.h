// SPDX-License-Identifier: GPL-2.0-or-later
// The process-wide decoder record and the lifecycle calls that work on it.
#ifndef VORLIX_DECODERSTATE_H
#define VORLIX_DECODERSTATE_H

#include <cstdint>
#include <mad.h>

#include "dsp/FixedMul.h"
#include "dsp/Resampler.h"
#include "vorlix.h"

struct DecoderState {
    // control
    int32_t idle = 1;       // objects to be initialised by the next Init; no buffer yet
    int32_t eqEnabled = 0;  // gain stage, equalizer and gain update on

    // gains, 4.28
    mad_fixed_t masterGain = fixedOne;
    mad_fixed_t clipReduction = 0x08000000;
    mad_fixed_t eqGains[32] = {};

    // output rate requested by the probe
    int32_t resampleEnabled = 0;
    int32_t targetRate = 0;

    // error-feedback residues of the PCM output stage
    mad_fixed_t residueLeft = 0;
    mad_fixed_t residueRight = 0;

    // positions, bytes: this_frame within the current buffer, and the stream
    // position of the current buffer's first byte
    int32_t consumed = 0;
    int32_t streamBase = 0;

    mad_stream stream = {};
    mad_frame frame = {};
    mad_synth synth = {};

    // tag collection of the probe
    int32_t tagSize = 0;
    int32_t tagOutstanding = 0;
    uint8_t *tagBuffer = nullptr;

    // Zeroed libmad objects behave as initialised ones except for a bit
    // pointer; they are initialised properly on first use. (Not the same as
    // idle: after Exit the objects are ready and the decoder is idle.)
    bool objectsReady = false;

    // Caches, for speed only: nothing a host sees depends on them. The
    // conversion blocks and the plan of the last ratio and frame length are
    // kept from frame to frame and released by Exit.
    struct ConversionCache {
        mad_fixed_t *left = nullptr;
        mad_fixed_t *right = nullptr;
        uint32_t capacity = 0;  // samples each
        ResamplePlan plan;
    } cache;
};

extern DecoderState state;

/** Initialises the libmad objects once if nothing has done so since load. */
void EnsureObjects();

/** Releases the conversion blocks and plan. */
void ReleaseConversion();

/** Offset of this_frame within the current buffer, in bytes (not a stream
 *  position: add streamBase for that). */
inline int32_t FrameOffset()
{
    return static_cast<int32_t>(state.stream.this_frame - state.stream.buffer);
}

/** streamBase + consumed, wrapping like the 32-bit positions they are. */
inline int32_t StreamPosition()
{
    return static_cast<int32_t>(static_cast<uint32_t>(state.streamBase) +
                                static_cast<uint32_t>(state.consumed));
}

/** Result when libmad ran out of bytes: the unused rest of the buffer from
 *  this_frame, or NeedMoreData when that rest is all of it (length) or
 *  nothing. A rest of exactly 0x8000 reads as NeedMoreData too. */
inline int32_t UnusedRestResult(int32_t length)
{
    const int32_t rest = static_cast<int32_t>(state.stream.bufend - state.stream.this_frame);
    return (rest == length || rest == 0) ? int32_t{NeedMoreData} : rest;
}

#endif
