// SPDX-License-Identifier: GPL-2.0-or-later
#include "format/Riff.h"

#include <cstring>

namespace {

uint32_t Le32(const uint8_t *p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Writes little-endian fields and chunk ids one after another.
struct Writer {
    uint8_t *at;
    void Put(uint64_t v, int bytes)
    {
        for (int i = 0; i < bytes; ++i)
            *at++ = static_cast<uint8_t>(v >> (8 * i));
    }
    void PutId(const char *id)
    {
        std::memcpy(at, id, 4);
        at += 4;
    }
};

constexpr size_t ds64Size = 28;  // riff size, data size, sample count, table length

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

size_t WavHeaderSize(bool reserve)
{
    return 44 + (reserve ? 8 + ds64Size : 0);
}

std::vector<uint8_t> WavHeader(int32_t channels, int32_t rate, uint64_t dataBytes, bool reserve)
{
    const uint64_t riffSize = WavHeaderSize(reserve) - 8 + dataBytes;
    const bool rf64 = reserve && riffSize > UINT32_MAX;
    const uint32_t blockAlign = static_cast<uint32_t>(channels) * 2;
    uint8_t bytes[80];
    Writer h{bytes};
    h.PutId(rf64 ? "RF64" : "RIFF");
    h.Put(rf64 || riffSize > UINT32_MAX ? UINT32_MAX : riffSize, 4);
    h.PutId("WAVE");
    if (reserve) {
        h.PutId(rf64 ? "ds64" : "JUNK");
        h.Put(ds64Size, 4);
        h.Put(rf64 ? riffSize : 0, 8);
        h.Put(rf64 ? dataBytes : 0, 8);
        h.Put(rf64 ? dataBytes / blockAlign : 0, 8);
        h.Put(0, 4);
    }
    h.PutId("fmt ");
    h.Put(16, 4);
    h.Put(1, 2);  // integer PCM
    h.Put(static_cast<uint32_t>(channels), 2);
    h.Put(static_cast<uint32_t>(rate), 4);
    h.Put(static_cast<uint32_t>(rate) * blockAlign, 4);
    h.Put(blockAlign, 2);
    h.Put(16, 2);
    h.PutId("data");
    const uint64_t dataRoom = UINT32_MAX - (WavHeaderSize(reserve) - 8);
    h.Put(rf64 ? UINT32_MAX : dataBytes < dataRoom ? dataBytes : dataRoom, 4);
    return std::vector<uint8_t>(bytes, h.at);
}
