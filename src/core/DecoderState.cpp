// SPDX-License-Identifier: GPL-2.0-or-later
#include "core/DecoderState.h"

#include "dsp/Equalizer.h"
#include "dsp/FixedMul.h"
#include "platform/Platform.h"
#include "vorlix.h"

constinit DecoderState state;

namespace {

void InitObjects()
{
    // finishing first releases what a probe or a decode left attached;
    // finishing zeroed or finished objects is harmless
    mad_frame_finish(&state.frame);
    mad_stream_finish(&state.stream);
    mad_stream_init(&state.stream);
    mad_frame_init(&state.frame);
    mad_synth_init(&state.synth);
    state.objectsReady = true;
}

} // namespace

void ReleaseConversion()
{
    PlatformFree(state.cache.left);
    PlatformFree(state.cache.right);
    PlatformFree(state.cache.plan.index);
    PlatformFree(state.cache.plan.fraction);
    state.cache.left = state.cache.right = nullptr;
    state.cache.capacity = 0;
    state.cache.plan = ResamplePlan{};
}

void EnsureObjects()
{
    if (!state.objectsReady)
        InitObjects();
}

extern "C" VORLIX_API void Init(int32_t eqEnabled, const int8_t *bandSettings)
{
    if (state.idle) {
        InitObjects();
        state.streamBase = 0;
        state.consumed = 0;
    }
    state.eqEnabled = eqEnabled;
    state.masterGain = fixedOne;
    if (bandSettings != nullptr)
        SetEqGains(bandSettings, bandSettings[10], state.eqGains);
}

extern "C" VORLIX_API void Exit(void)
{
    mad_frame_finish(&state.frame);
    mad_stream_finish(&state.stream);
    ReleaseConversion();
    // Fresh objects rather than finished ones: libmad's finish keeps the
    // reservoir length while dropping the reservoir, so a later decode on
    // finished objects would read uninitialised main data.
    mad_stream_init(&state.stream);
    mad_frame_init(&state.frame);
    state.idle = 1;
}

extern "C" VORLIX_API void SeekStart(void)
{
    Exit();
}

extern "C" VORLIX_API void SeekEnd(void)
{
    Init(state.eqEnabled, nullptr);
}

CVorlix::CVorlix() = default;

CVorlix &CVorlix::operator=(const CVorlix &)
{
    return *this;
}
