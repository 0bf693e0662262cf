// SPDX-License-Identifier: GPL-2.0-or-later
// The named equalizer curves the programs and the GStreamer element offer:
// ten band levels from low to high, then the preamp, in dB.
#ifndef VORLIX_CLI_EQPRESETS_H
#define VORLIX_CLI_EQPRESETS_H

#include <cstdint>
#include <cstring>

struct EqPreset {
    const char *name;
    int8_t bands[11];
};

inline constexpr EqPreset eqPresets[] = {
    {"flat", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
    {"bass", {6, 5, 4, 2, 0, 0, 0, 0, 0, 0, -4}},
    {"treble", {0, 0, 0, 0, 0, 0, 1, 3, 5, 6, -4}},
    {"voice", {-4, -2, 0, 2, 4, 4, 3, 1, -1, -3, -2}},
    {"loudness", {5, 4, 2, 0, -1, -1, 0, 2, 4, 5, -3}},
};

/** Band settings of a named curve; false when there is none. */
inline bool PresetBands(const char *name, int8_t bands[11])
{
    for (const EqPreset &p : eqPresets) {
        if (std::strcmp(name, p.name) == 0) {
            std::memcpy(bands, p.bands, 11);
            return true;
        }
    }
    return false;
}

#endif
