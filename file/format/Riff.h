// SPDX-License-Identifier: GPL-2.0-or-later
// RIFF/WAVE: MPEG audio wrapped in a WAV file.
#ifndef VORLIX_FILE_RIFF_H
#define VORLIX_FILE_RIFF_H

#include <cstddef>
#include <cstdint>

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

#endif
