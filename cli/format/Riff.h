// SPDX-License-Identifier: GPL-2.0-or-later
// RIFF/WAVE: MPEG audio wrapped in a WAV file on input, and the header of
// the WAV (or RF64, past 4 GiB) files written on output.
#ifndef VORLIX_CLI_RIFF_H
#define VORLIX_CLI_RIFF_H

#include <cstddef>
#include <cstdint>
#include <vector>

enum class RiffKind {
    NotRiff,   // no RIFF/WAVE header at the start
    NeedMore,  // the chunks before `data` run past the bytes given
    NotMpeg,   // a WAVE file of another format (PCM, ...)
    Mpeg,      // format tag 0x0055 (Layer III) or 0x0050 (MPEG)
};

struct RiffAudio {
    RiffKind kind = RiffKind::NotRiff;
    uint64_t offset = 0;  // of the data chunk's first byte
    uint64_t size = 0;    // of the data chunk, as its header gives it
};

/** Looks for a RIFF/WAVE header at p (n bytes from the input's start; eof
 *  when nothing follows them) and the stream held in its data chunk. */
RiffAudio ParseRiff(const uint8_t *p, size_t n, bool eof);

/** Bytes of the WAV header that WavHeader writes. */
size_t WavHeaderSize(bool reserve);

/** A 16-bit PCM WAV header for dataBytes of data. With reserve, a JUNK chunk
 *  keeps room for a ds64 chunk: data past 4 GiB then makes the header RF64,
 *  the same size; without it, sizes past 32 bits are capped (streaming). */
std::vector<uint8_t> WavHeader(int32_t channels, int32_t rate, uint64_t dataBytes, bool reserve);

#endif
