// SPDX-License-Identifier: GPL-2.0-or-later
#include "core/DecoderState.h"
#include "dsp/Equalizer.h"
#include "dsp/FixedMul.h"
#include "dsp/PcmOutput.h"
#include "dsp/Resampler.h"
#include "platform/Platform.h"
#include "vorlix.h"

namespace {

// Result of a failed decode, by libmad's error.
int32_t FailureResult(int32_t length)
{
    switch (state.stream.error) {
    case MAD_ERROR_BUFLEN:
        return UnusedRestResult(length);
    case MAD_ERROR_BADFRAMELEN:
        return NeedMoreData;
    default:
        // drop the frame; the next attempt searches for the next sync word
        state.stream.sync = 0;
        return 0;
    }
}

// Blocks of room for samples per channel (and a plan of that many outputs),
// grown when a frame needs more and kept for the next frames; false when they
// cannot be had.
bool ConversionBlocks(uint32_t samples)
{
    if (samples <= state.cache.capacity)
        return true;
    ReleaseConversion();
    const size_t bytes = size_t{samples} * sizeof(mad_fixed_t);
    state.cache.left = static_cast<mad_fixed_t *>(PlatformAlloc(bytes));
    state.cache.right = static_cast<mad_fixed_t *>(PlatformAlloc(bytes));
    state.cache.plan.index = static_cast<int32_t *>(PlatformAlloc(bytes));
    state.cache.plan.fraction = static_cast<uint32_t *>(PlatformAlloc(bytes));
    if (!state.cache.left || !state.cache.right || !state.cache.plan.index || !state.cache.plan.fraction) {
        ReleaseConversion();
        return false;
    }
    state.cache.capacity = samples;
    return true;
}

// Converts each channel of the frame as a fresh converter does, into the
// blocks; returns the converted count, or -1 when the frame goes out at its
// own rate (a rate outside the table, or no memory for the blocks).
int32_t Convert(const mad_pcm &pcm)
{
    Resampler resampler;
    if (ResamplerInit(&resampler, pcm.samplerate, static_cast<uint32_t>(state.targetRate)) != 0 ||
        !ConversionBlocks(ResampleBound(&resampler, pcm.length)))
        return -1;
    const int32_t length = pcm.length;
    // a fresh record makes nothing of fewer than two samples (libmad's frames
    // hold 384 at the least)
    if (resampler.ratio != fixedOne && length < 2)
        return 0;
    if (resampler.ratio == fixedOne) {
        int32_t count = Resample(&resampler, length, pcm.samples[0], state.cache.left);
        if (pcm.channels != 1)
            count = Resample(&resampler, length, pcm.samples[1], state.cache.right);
        return count;
    }
    // every channel of every frame starts from a fresh record, so where the
    // outputs fall depends only on the ratio and the length
    if (state.cache.plan.ratio != resampler.ratio || state.cache.plan.count != length)
        MakeResamplePlan(&state.cache.plan, resampler.ratio, length);
    int32_t count = ResampleByPlan(&state.cache.plan, pcm.samples[0], state.cache.left);
    if (pcm.channels != 1)
        count = ResampleByPlan(&state.cache.plan, pcm.samples[1], state.cache.right);
    return count;
}

} // namespace

extern "C" VORLIX_API int32_t DecompressAudio(const uint8_t *data, int32_t length,
                                              uint8_t *outBuffer, uint32_t /*reserved*/,
                                              int32_t *outBytes, int32_t *streamPosition)
{
    if (data != nullptr) {
        EnsureObjects();
        mad_stream_buffer(&state.stream, data, length > 0 ? static_cast<unsigned long>(length) : 0);
        // the new buffer begins at the position reported last: where the
        // previous buffer began, plus how far into it this_frame had come
        const int32_t lastReported = StreamPosition();
        state.streamBase = lastReported;
        state.idle = 0;
    } else if (state.idle) {
        *outBytes = 0;
        return NeedMoreData;
    }

    mad_fixed_t clipPeak = 0;

    const int decoded = mad_frame_decode(&state.frame, &state.stream);
    state.consumed = FrameOffset();
    *streamPosition = StreamPosition();
    if (decoded == -1) {
        *outBytes = 0;
        return FailureResult(length);
    }

    if (state.eqEnabled)
        ApplyGains(&state.frame, state.masterGain, state.eqGains);

    mad_synth_frame(&state.synth, &state.frame);
    const mad_pcm &pcm = state.synth.pcm;

    const mad_fixed_t *left = pcm.samples[0];
    const mad_fixed_t *right = pcm.channels == 1 ? nullptr : pcm.samples[1];
    uint32_t count = pcm.length;
    if (state.resampleEnabled) {
        const int32_t converted = Convert(pcm);
        if (converted >= 0) {
            left = state.cache.left;
            right = pcm.channels == 1 ? nullptr : state.cache.right;
            count = static_cast<uint32_t>(converted);
        }
    }

    *outBytes = WritePcm(outBuffer, count, left, right, &clipPeak, state.residueLeft, state.residueRight);

    if (state.eqEnabled)
        state.masterGain = ReducedGain(state.masterGain, clipPeak, state.clipReduction);
    return 0;
}
