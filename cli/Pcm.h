// SPDX-License-Identifier: GPL-2.0-or-later
// Samples as the programs write them: 16-bit little-endian, the layout of
// WAV data, raw PCM and ALSA's S16_LE, whatever the machine's byte order.
#ifndef VORLIX_CLI_PCM_H
#define VORLIX_CLI_PCM_H

#include <cstddef>
#include <cstdint>
#include <vector>

/** The count samples as 2 * count little-endian bytes (bytes resized). */
inline void LittleEndian(const int16_t *samples, size_t count, std::vector<uint8_t> &bytes)
{
    bytes.resize(2 * count);
    for (size_t i = 0; i < count; ++i) {
        const auto v = static_cast<uint16_t>(samples[i]);
        bytes[2 * i] = static_cast<uint8_t>(v & 0xff);
        bytes[2 * i + 1] = static_cast<uint8_t>(v >> 8);
    }
}

#endif
