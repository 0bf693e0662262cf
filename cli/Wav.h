// SPDX-License-Identifier: GPL-2.0-or-later
// The header of the WAV (or RF64, past 4 GiB) files the programs write.
#ifndef VORLIX_CLI_WAV_H
#define VORLIX_CLI_WAV_H

#include <cstddef>
#include <cstdint>
#include <vector>

/** Bytes of the WAV header that WavHeader writes. */
size_t WavHeaderSize(bool reserve);

/** A 16-bit PCM WAV header for dataBytes of data. With reserve, a JUNK chunk
 *  keeps room for a ds64 chunk: data past 4 GiB then makes the header RF64,
 *  the same size; without it, sizes past 32 bits are capped (streaming). */
std::vector<uint8_t> WavHeader(int32_t channels, int32_t rate, uint64_t dataBytes, bool reserve);

#endif
