// SPDX-License-Identifier: GPL-2.0-or-later
// The library's public tables: its version, the output rates its converter
// offers and the named equalizer curves, so that the programs and the
// GStreamer element share one list of each.
#include "vorlixfile.h"

#include <cstring>
#include <iterator>

namespace {

constexpr int outputRates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};

struct EqPreset {
    const char *name;
    int8_t bands[11];  // ten band levels from low to high, then the preamp, in dB
};

constexpr EqPreset eqPresets[] = {
    {"flat", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
    {"bass", {6, 5, 4, 2, 0, 0, 0, 0, 0, 0, -4}},
    {"treble", {0, 0, 0, 0, 0, 0, 1, 3, 5, 6, -4}},
    {"voice", {-4, -2, 0, 2, 4, 4, 3, 1, -1, -3, -2}},
    {"loudness", {5, 4, 2, 0, -1, -1, 0, 2, 4, 5, -3}},
};

constexpr int rateCount = static_cast<int>(std::size(outputRates));
constexpr int presetCount = static_cast<int>(std::size(eqPresets));

} // namespace

extern "C" {

VORLIXFILE_API int vf_version(void)
{
    return VORLIXFILE_VERSION;
}

VORLIXFILE_API int vf_rate_count(void)
{
    return rateCount;
}

VORLIXFILE_API int vf_rate_at(int i)
{
    return i >= 0 && i < rateCount ? outputRates[i] : 0;
}

VORLIXFILE_API int vf_eq_preset_count(void)
{
    return presetCount;
}

VORLIXFILE_API const char *vf_eq_preset_name(int i)
{
    return i >= 0 && i < presetCount ? eqPresets[i].name : nullptr;
}

VORLIXFILE_API int vf_eq_preset(const char *name, int8_t bands[11])
{
    if (name == nullptr || bands == nullptr)
        return VF_EINVAL;
    for (const EqPreset &p : eqPresets) {
        if (std::strcmp(name, p.name) == 0) {
            std::memcpy(bands, p.bands, sizeof p.bands);
            return 0;
        }
    }
    return VF_EINVAL;
}

} // extern "C"
