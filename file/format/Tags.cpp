// SPDX-License-Identifier: GPL-2.0-or-later
#include "format/Tags.h"

#include <cstring>

namespace {

uint32_t Le32(const uint8_t *p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Syncsafe 28-bit size; false when a byte has its top bit set.
bool Syncsafe(const uint8_t *p, uint64_t &size)
{
    size = 0;
    for (int i = 0; i < 4; ++i) {
        if (p[i] & 0x80)
            return false;
        size = (size << 7) | p[i];
    }
    return true;
}

constexpr uint32_t apeHasHeader = 1u << 31;
constexpr uint32_t apeIsHeader = 1u << 29;

// Size field of an APE header or footer at p (items + footer), 0 when invalid.
uint32_t ApeSize(const uint8_t *p)
{
    if (std::memcmp(p, "APETAGEX", 8) != 0)
        return 0;
    const uint32_t version = Le32(p + 8), size = Le32(p + 12);
    if ((version != 1000 && version != 2000) || size < apeHeaderSize)
        return 0;
    return size;
}

} // namespace

uint64_t Id3v2Size(const uint8_t *p)
{
    if (std::memcmp(p, "ID3", 3) != 0 || p[3] < 2 || p[3] > 4 || p[4] == 0xff)
        return 0;
    // flags that the version does not define must be clear
    static const uint8_t unused[5] = {0, 0, 0x3f, 0x1f, 0x0f};
    if (p[5] & unused[p[3]])
        return 0;
    uint64_t size;
    if (!Syncsafe(p + 6, size))
        return 0;
    const bool footer = p[3] == 4 && (p[5] & 0x10);
    return id3v2HeaderSize + size + (footer ? id3v2HeaderSize : 0);
}

uint64_t ApeSizeFromHeader(const uint8_t *p)
{
    const uint32_t size = ApeSize(p);
    if (size == 0 || !(Le32(p + 20) & apeIsHeader))
        return 0;
    return apeHeaderSize + uint64_t{size};
}

uint32_t ApeFooterSize(const uint8_t *p)
{
    const uint32_t size = ApeSize(p);
    return size != 0 && !(Le32(p + 20) & apeIsHeader) ? size : 0;
}

uint64_t ApeItemSize(const uint8_t *p, size_t n)
{
    constexpr uint32_t maxValue = 1u << 26;
    if (n < 11)
        return 0;
    const uint32_t size = Le32(p), flags = Le32(p + 4);
    if (flags > 7 || size > maxValue)
        return 0;
    size_t key = 0;
    while (8 + key < n && key < 256 && p[8 + key] >= 0x20 && p[8 + key] <= 0x7e)
        ++key;
    if (key < 2 || 8 + key >= n || p[8 + key] != 0)
        return 0;
    return 8 + key + 1 + uint64_t{size};
}

uint64_t AudioEnd(const ReadAt &read, uint64_t end, uint64_t floor)
{
    // each pass removes one tag from the end; a bounded number of them
    for (int pass = 0; pass < 16 && end > floor; ++pass) {
        uint8_t b[128];
        const uint64_t room = end - floor;
        if (room >= 128 && read(end - 128, 128, b) && std::memcmp(b, "TAG", 3) == 0) {
            end -= 128;
            continue;
        }
        if (room >= apeHeaderSize && read(end - apeHeaderSize, apeHeaderSize, b)) {
            const uint32_t size = ApeFooterSize(b);
            if (size != 0) {
                const uint64_t whole = size + ((Le32(b + 20) & apeHasHeader) ? apeHeaderSize : 0);
                if (whole <= room) {
                    end -= whole;
                    continue;
                }
            }
        }
        // Lyrics3v2: "LYRICSBEGIN" ... six size digits, "LYRICS200"
        if (room >= 15 + 11 && read(end - 15, 15, b) && std::memcmp(b + 6, "LYRICS200", 9) == 0) {
            uint64_t size = 0;
            bool digits = true;
            for (int i = 0; i < 6; ++i) {
                digits = digits && b[i] >= '0' && b[i] <= '9';
                size = size * 10 + static_cast<uint64_t>(b[i] - '0');
            }
            if (digits && size + 15 <= room && read(end - 15 - size, 11, b) &&
                std::memcmp(b, "LYRICSBEGIN", 11) == 0) {
                end -= size + 15;
                continue;
            }
        }
        // an ID3v2 tag appended at the end, found by its footer
        if (room >= 2 * id3v2HeaderSize && read(end - id3v2HeaderSize, id3v2HeaderSize, b) &&
            std::memcmp(b, "3DI", 3) == 0) {
            b[0] = 'I', b[1] = 'D', b[2] = '3';
            const uint64_t size = Id3v2Size(b);
            if (size != 0 && size <= room) {
                end -= size;
                continue;
            }
        }
        break;
    }
    return end;
}
