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

// Converted channel blocks of one frame; empty when the frame goes out at
// its own rate (no conversion asked for, a rate outside the table, or no
// memory).
struct Converted {
    mad_fixed_t *left = nullptr;
    mad_fixed_t *right = nullptr;
    int32_t count = 0;

    ~Converted()
    {
        PlatformFree(left);
        PlatformFree(right);
    }
};

bool Convert(const mad_pcm &pcm, Converted &blocks)
{
    Resampler resampler;
    if (ResamplerInit(&resampler, pcm.samplerate, static_cast<uint32_t>(state.targetRate)) != 0)
        return false;
    const size_t bytes = size_t{ResampleBound(&resampler, pcm.length)} * sizeof(mad_fixed_t);
    blocks.left = static_cast<mad_fixed_t *>(PlatformAlloc(bytes));
    if (pcm.channels != 1)
        blocks.right = static_cast<mad_fixed_t *>(PlatformAlloc(bytes));
    if (blocks.left == nullptr || (pcm.channels != 1 && blocks.right == nullptr))
        return false;

    const int32_t length = pcm.length;
    blocks.count = Resample(&resampler, length, pcm.samples[0], blocks.left);
    if (pcm.channels != 1) {
        ResamplerInit(&resampler, pcm.samplerate, static_cast<uint32_t>(state.targetRate));
        blocks.count = Resample(&resampler, length, pcm.samples[1], blocks.right);
    }
    return true;
}

} // namespace

extern "C" VORLIX_API int32_t DecompressAudio(const uint8_t *data, int32_t length,
                                              uint8_t *outBuffer, uint32_t /*reserved*/,
                                              int32_t *outBytes, int32_t *streamPosition)
{
    if (data != nullptr) {
        EnsureObjects();
        mad_stream_buffer(&state.stream, data, length > 0 ? static_cast<unsigned long>(length) : 0);
        state.streamBase = StreamPosition();
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

    if (state.eqEnabled) {
        ApplyMasterGain(&state.frame, state.masterGain);
        ApplyEqGains(&state.frame, state.eqGains);
    }

    mad_synth_frame(&state.synth, &state.frame);
    const mad_pcm &pcm = state.synth.pcm;

    Converted blocks;
    const mad_fixed_t *left = pcm.samples[0];
    const mad_fixed_t *right = pcm.channels == 1 ? nullptr : pcm.samples[1];
    uint32_t count = pcm.length;
    if (state.resampleEnabled && Convert(pcm, blocks)) {
        left = blocks.left;
        right = blocks.right;
        count = static_cast<uint32_t>(blocks.count);
    }

    *outBytes = WritePcm(outBuffer, count, left, right, &clipPeak);

    if (state.eqEnabled)
        UpdateMasterGain(clipPeak);
    return 0;
}
