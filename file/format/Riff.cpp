// SPDX-License-Identifier: GPL-2.0-or-later
#include "format/Riff.h"

#include <cstring>

namespace {

uint32_t Le32(const uint8_t *p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

} // namespace

RiffAudio ParseRiff(const uint8_t *p, size_t n, bool eof)
{
    RiffAudio r;
    if (n < 12) {
        if (!eof && (n < 4 ? std::memcmp(p, "RIFF", n) == 0 : std::memcmp(p, "RIFF", 4) == 0))
            r.kind = RiffKind::NeedMore;
        return r;
    }
    if (std::memcmp(p, "RIFF", 4) != 0 || std::memcmp(p + 8, "WAVE", 4) != 0)
        return r;
    int format = -1;
    for (uint64_t at = 12;;) {
        if (at + 8 > n) {
            r.kind = eof ? RiffKind::NotMpeg : RiffKind::NeedMore;
            return r;
        }
        const uint8_t *chunk = p + at;
        const uint32_t size = Le32(chunk + 4);
        if (std::memcmp(chunk, "data", 4) == 0) {
            r.kind = format == 0x55 || format == 0x50 ? RiffKind::Mpeg : RiffKind::NotMpeg;
            r.offset = at + 8;
            r.size = size;
            return r;
        }
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            if (at + 10 > n) {
                r.kind = eof ? RiffKind::NotMpeg : RiffKind::NeedMore;
                return r;
            }
            format = chunk[8] | (chunk[9] << 8);
        }
        at += 8 + uint64_t{size} + (size & 1);
    }
}
