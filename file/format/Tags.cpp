// SPDX-License-Identifier: GPL-2.0-or-later
#include "format/Tags.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "format/FrameHeader.h"

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

namespace {

// The longest frame whose header gives its length: Layer II at 8 kHz, 160 kbit/s.
constexpr uint64_t maxFrameLength = 2881;

// Bytes of the input from an offset on, read once for the frame checks below.
struct Window {
    uint64_t from = 0;
    std::vector<uint8_t> bytes;

    bool Load(const ReadAt &read, uint64_t at, uint64_t to)
    {
        from = at;
        bytes.resize(static_cast<size_t>(to - at));
        return read(at, bytes.size(), bytes.data());
    }
    bool Holds(uint64_t at, uint64_t n) const { return at >= from && at - from + n <= bytes.size(); }
};

// A frame at `at` whose header gives its length.
bool FrameAt(const Window &w, uint64_t at, FrameHeader &h, uint64_t &length)
{
    if (!w.Holds(at, 4) || !ParseFrameHeader(w.bytes.data() + (at - w.from), h))
        return false;
    length = static_cast<uint64_t>(h.Length());
    return length > 0;
}

// A frame is one of a stream when depth frames of that stream end back to
// back where it begins, or when it begins where the audio may begin.
bool Chained(const Window &w, uint64_t at, const FrameHeader &h, int depth, uint64_t floor)
{
    if (depth == 0 || at == floor)
        return true;
    const uint64_t lowest = std::max(w.from, floor);
    for (uint64_t back = 1; back <= maxFrameLength && back <= at - lowest; ++back) {
        FrameHeader g;
        uint64_t length;
        if (FrameAt(w, at - back, g, length) && length == back && SameStream(g, h) &&
            Chained(w, at - back, g, depth - 1, floor))
            return true;
    }
    return false;
}

// A tag's claimed start s may fall inside the last frame: a tag written over
// a frame's tail, a size that counts more than the tag. The frame is whole
// with those bytes and trusted decoders play it, so the audio ends after the
// frames that run on back to back from there. 0 when the frame before s is
// whole without the tag's bytes, or ends past the input anyway, or no stream
// is seen before s.
uint64_t AudioAcross(const ReadAt &read, uint64_t s, uint64_t floor, uint64_t end)
{
    Window w;
    const uint64_t reach = 3 * maxFrameLength;
    if (!w.Load(read, s - floor > reach ? s - reach : floor, std::min(end, s + 3)))
        return 0;
    const uint64_t lowest = std::max(w.from, s > maxFrameLength ? s - maxFrameLength : 0);
    for (uint64_t p = s; p-- > lowest;) {
        FrameHeader h;
        uint64_t length;
        if (!FrameAt(w, p, h, length) || !Chained(w, p, h, 2, floor))
            continue;
        if (p + length <= s || p + length > end)
            return 0;
        uint64_t at = p + length;
        for (;;) {
            if (!w.Holds(at, 4) && (end - at < 4 || !w.Load(read, at, std::min(end, at + 65536))))
                break;
            FrameHeader next;
            if (!FrameAt(w, at, next, length) || !SameStream(next, h) || length > end - at)
                break;
            at += length;
        }
        return at;
    }
    return 0;
}

} // namespace

uint64_t AudioEnd(const ReadAt &read, uint64_t end, uint64_t floor)
{
    const uint64_t inputEnd = end;
    // each pass removes one tag from the end; a bounded number of them
    for (int pass = 0; pass < 16 && end > floor; ++pass) {
        uint8_t b[128];
        const uint64_t room = end - floor;
        uint64_t tag = 0;  // the size of the tag that ends here
        if (room >= 128 && read(end - 128, 128, b) && std::memcmp(b, "TAG", 3) == 0)
            tag = 128;
        if (tag == 0 && room >= apeHeaderSize && read(end - apeHeaderSize, apeHeaderSize, b)) {
            const uint32_t size = ApeFooterSize(b);
            const uint64_t whole = size + ((Le32(b + 20) & apeHasHeader) ? apeHeaderSize : 0);
            if (size != 0 && whole <= room)
                tag = whole;
        }
        // Lyrics3v2: "LYRICSBEGIN" ... six size digits, "LYRICS200"
        if (tag == 0 && room >= 15 + 11 && read(end - 15, 15, b) && std::memcmp(b + 6, "LYRICS200", 9) == 0) {
            uint64_t size = 0;
            bool digits = true;
            for (int i = 0; i < 6; ++i) {
                digits = digits && b[i] >= '0' && b[i] <= '9';
                size = size * 10 + static_cast<uint64_t>(b[i] - '0');
            }
            if (digits && size + 15 <= room && read(end - 15 - size, 11, b) &&
                std::memcmp(b, "LYRICSBEGIN", 11) == 0)
                tag = size + 15;
        }
        // an ID3v2 tag appended at the end, found by its footer
        if (tag == 0 && room >= 2 * id3v2HeaderSize && read(end - id3v2HeaderSize, id3v2HeaderSize, b) &&
            std::memcmp(b, "3DI", 3) == 0) {
            b[0] = 'I', b[1] = 'D', b[2] = '3';
            const uint64_t size = Id3v2Size(b);
            if (size != 0 && size <= room)
                tag = size;
        }
        if (tag == 0)
            break;
        // a tag only ends the audio where the frame before it is whole without it
        const uint64_t across = AudioAcross(read, end - tag, floor, inputEnd);
        if (across != 0)
            return across;
        end -= tag;
    }
    return end;
}
