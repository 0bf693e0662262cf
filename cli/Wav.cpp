// SPDX-License-Identifier: GPL-2.0-or-later
#include "Wav.h"

#include <cstring>

namespace {

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
