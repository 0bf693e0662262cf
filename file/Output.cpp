// SPDX-License-Identifier: GPL-2.0-or-later
// The output a handle gives: its rate and channels, the gapless trims, the
// equalizer and ReplayGain, the host's word of format changes.
#include "vorlixfile.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "Handle.h"
#include "HostDecoder.h"

namespace {

// The ReplayGain of the mode, in whole dB (halves away from zero); 0 when
// there is none.
int GainDb(VorlixFile *f)
{
    if (f->gainMode == VF_REPLAYGAIN_OFF)
        return 0;
    VorlixFileReplayGain g{};
    ReplayGainOf(f, g);
    double db = 0;
    if (f->gainMode == VF_REPLAYGAIN_ALBUM)
        db = g.has_album ? g.album_gain : g.has_track ? g.track_gain : 0;
    else
        db = g.has_track ? g.track_gain : g.has_album ? g.album_gain : 0;
    return static_cast<int>(std::lround(db));
}

} // namespace

void ApplyEqualizer(VorlixFile *f)
{
    const int gain = GainDb(f) + (f->gainMode != VF_REPLAYGAIN_OFF ? f->gainExtra : 0);
    if (gain == 0) {
        f->decoder.SetEqualizer(f->eq, f->eq ? f->bands : nullptr);
        return;
    }
    int8_t bands[11] = {};
    if (f->eq)
        std::memcpy(bands, f->bands, sizeof bands);
    bands[10] = static_cast<int8_t>(std::clamp(bands[10] + gain, -128, 127));
    f->decoder.SetEqualizer(true, bands);
}

extern "C" {

VORLIXFILE_API int vf_set_output(VorlixFile *f, int rate, int stereo)
{
    if (f == nullptr)
        return VF_EINVAL;
    bool offered = rate == 0;
    for (int i = 0; i < vf_rate_count() && !offered; ++i)
        offered = vf_rate_at(i) == rate;
    if (!offered)
        return VF_EINVAL;
    if (f->started)
        return VF_ELATE;
    f->rateRequest = rate;
    f->stereo = stereo != 0;
    return 0;
}

VORLIXFILE_API int vf_rate(VorlixFile *f)
try {
    if (f == nullptr)
        return VF_EINVAL;
    if (const int r = Describe(f); r < 0)
        return r;
    return f->rateRequest != 0 ? f->rateRequest : f->decoder.First().sampleRate;
} catch (const std::bad_alloc &) {
    return VF_EFAULT;
}

VORLIXFILE_API int vf_channels(VorlixFile *f)
try {
    if (f == nullptr)
        return VF_EINVAL;
    if (const int r = Describe(f); r < 0)
        return r;
    return f->stereo ? 2 : f->decoder.First().Channels();
} catch (const std::bad_alloc &) {
    return VF_EFAULT;
}

VORLIXFILE_API int vf_set_gapless(VorlixFile *f, int on)
try {
    if (f == nullptr)
        return VF_EINVAL;
    if (f->started)
        return VF_ELATE;
    f->gapless = on != 0;
    if (f->open)
        f->facts = ::Describe(f->decoder, f->in->Seekable() ? &f->index : nullptr, f->gapless);
    return 0;
} catch (const std::bad_alloc &) {
    return VF_EFAULT;
}

VORLIXFILE_API int vf_set_equalizer(VorlixFile *f, const int8_t *bands)
{
    if (f == nullptr)
        return VF_EINVAL;
    f->eq = bands != nullptr;
    if (bands != nullptr)
        std::memcpy(f->bands, bands, sizeof f->bands);
    if (f->started)
        ApplyEqualizer(f);
    return 0;
}

VORLIXFILE_API int vf_set_replaygain(VorlixFile *f, int mode, int extra_db)
{
    if (f == nullptr || mode < VF_REPLAYGAIN_OFF || mode > VF_REPLAYGAIN_ALBUM || extra_db < -60 || extra_db > 60)
        return VF_EINVAL;
    f->gainMode = mode;
    f->gainExtra = extra_db;
    if (f->started)
        ApplyEqualizer(f);
    return 0;
}

VORLIXFILE_API int vf_set_format_callback(VorlixFile *f, VorlixFileFormatCallback callback, void *user)
{
    if (f == nullptr)
        return VF_EINVAL;
    f->formatCallback = callback;
    f->formatUser = user;
    return 0;
}

} // extern "C"
