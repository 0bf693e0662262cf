// SPDX-License-Identifier: GPL-2.0-or-later
#include "core/DecoderState.h"
#include "probe/TagCollect.h"
#include "vorlix.h"

namespace {

// Errors the probe passes over: lost sync, and false frame headers whose
// layer, bit-rate or sample-rate field is reserved. Either may be a tag.
bool PassOver(mad_error error)
{
    return error == MAD_ERROR_LOSTSYNC || error == MAD_ERROR_BADLAYER ||
           error == MAD_ERROR_BADBITRATE || error == MAD_ERROR_BADSAMPLERATE;
}

} // namespace

extern "C" VORLIX_API int32_t GetHeaderInfo(const uint8_t *data, int32_t length,
                                            int32_t *sampleRate, int32_t *channels,
                                            int32_t *bitRate, uint16_t *title,
                                            uint16_t *artist, uint16_t *album)
{
    EnsureObjects();
    state.resampleEnabled = 0;
    const bool usable = data != nullptr && length > 0;
    mad_stream_buffer(&state.stream, data, usable ? static_cast<unsigned long>(length) : 0);

    while (mad_frame_decode(&state.frame, &state.stream) == -1) {
        if (PassOver(state.stream.error)) {
            if (CollectTag(title, artist, album) == TagStep::NeedMoreData)
                return NeedMoreData;
            continue;
        }
        state.consumed = FrameOffset();
        if (state.stream.error != MAD_ERROR_BUFLEN)
            return NeedMoreData;
        return UnusedRestResult(length);
    }

    const mad_header &header = state.frame.header;
    if (*sampleRate != 0) {
        state.resampleEnabled = 1;
        state.targetRate = *sampleRate;
    } else {
        *sampleRate = static_cast<int32_t>(header.samplerate);
    }
    *bitRate = static_cast<int32_t>(header.bitrate);
    *channels = header.mode == MAD_MODE_SINGLE_CHANNEL ? 1 : 2;

    Exit();
    Init(state.eqEnabled, nullptr);
    return 0;
}
