// SPDX-License-Identifier: GPL-2.0-or-later
#include "format/HeaderFrame.h"

#include <cstring>

namespace {

uint32_t Be32(const uint8_t *p)
{
    return (static_cast<uint32_t>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}

uint16_t Be16(const uint8_t *p)
{
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

constexpr size_t lameSize = 36;      // encoder string to the tag's CRC
constexpr size_t lameShortSize = 24; // encoder string to the delay and padding
constexpr size_t lameCrcSpan = 190;  // bytes of the frame that the CRC covers

// The extension after the Xing fields: p holds its n bytes. Where the whole
// frame ends before the extension does (older ffmpeg versions write a frame
// too small for it), the fields through the delay and padding are enough;
// those after them are not read, and the CRC is not checked.
void ParseLame(const uint8_t *p, size_t n, bool frameEnds, const uint8_t *frame, HeaderFrame &f)
{
    if (n < (frameEnds ? lameShortSize : lameSize) || p[0] == 0)
        return;
    f.hasLame = true;
    for (size_t i = 0; i < 9 && p[i] >= 0x20 && p[i] < 0x7f; ++i)
        f.encoder += static_cast<char>(p[i]);
    f.lameMethod = p[9] & 0x0f;
    // ReplayGain: the peak in 9.23 fixed point, then the radio (track) and
    // audiophile (album) gains: 3 bits name, 3 originator, sign, 0.1 dB
    const uint32_t peak = (static_cast<uint32_t>(p[11]) << 24) | (p[12] << 16) | (p[13] << 8) | p[14];
    f.peak = peak / 8388608.0;
    for (const int slot : {0, 1}) {
        const uint16_t v = Be16(p + 15 + 2 * slot);
        if ((v >> 13) != slot + 1 || (v & 0x1ff) == 0)
            continue;
        const double db = ((v & 0x200) ? -1 : 1) * (v & 0x1ff) / 10.0;
        (slot == 0 ? f.trackGain : f.albumGain) = db;
        (slot == 0 ? f.hasTrackGain : f.hasAlbumGain) = true;
    }
    f.delay = (p[21] << 4) | (p[22] >> 4);
    f.padding = ((p[22] & 0x0f) << 8) | p[23];
    const size_t crcAt = static_cast<size_t>(p - frame) + 34;
    f.crcValid = n >= lameSize && crcAt == lameCrcSpan && LameCrc(frame, lameCrcSpan) == Be16(p + 34);
}

} // namespace

uint16_t LameCrc(const uint8_t *p, size_t n)
{
    uint32_t crc = 0;
    for (size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? (crc >> 1) ^ 0xa001 : crc >> 1;
    }
    return static_cast<uint16_t>(crc);
}

BitrateMode HeaderFrame::Mode() const
{
    if (hasLame && lameMethod != 0) {
        if (lameMethod == 1 || lameMethod == 8)
            return BitrateMode::Cbr;
        if (lameMethod == 2 || lameMethod == 9)
            return BitrateMode::Abr;
        return BitrateMode::Vbr;
    }
    switch (kind) {
    case HeaderKind::Info:
        return BitrateMode::Cbr;
    case HeaderKind::Xing:
    case HeaderKind::Vbri:
        return BitrateMode::Vbr;
    default:
        return BitrateMode::Unknown;
    }
}

HeaderFrame ParseHeaderFrame(const uint8_t *p, size_t n, const FrameHeader &h)
{
    HeaderFrame f;
    if (h.layer != 3)
        return f;
    // after the side information; encoders differ on whether a CRC comes first
    const auto tagAt = [&](size_t at) {
        return at + 8 <= n && (std::memcmp(p + at, "Xing", 4) == 0 || std::memcmp(p + at, "Info", 4) == 0);
    };
    size_t at = 4 + static_cast<size_t>(h.SideInfoSize());
    if (h.crc && !tagAt(at))
        at += 2;
    if (tagAt(at)) {
        f.kind = p[at] == 'X' ? HeaderKind::Xing : HeaderKind::Info;
        const uint32_t flags = Be32(p + at + 4);
        size_t q = at + 8;
        // each field the flags name, in order; a frame cut short ends the header
        const auto field = [&](uint32_t flag, size_t size) {
            if (!(flags & flag))
                return true;
            if (q + size > n)
                return false;
            q += size;
            return true;
        };
        if (!field(1, 4))
            return f;
        if (flags & 1)
            f.frames = Be32(p + q - 4);
        if (!field(2, 4))
            return f;
        if (flags & 2)
            f.bytes = Be32(p + q - 4);
        if (!field(4, 100))
            return f;
        if (flags & 4) {
            std::memcpy(f.toc, p + q - 100, 100);
            f.hasToc = true;
        }
        if (!field(8, 4))
            return f;
        if (flags & 8)
            f.quality = static_cast<int32_t>(Be32(p + q - 4));
        if (q < n)
            ParseLame(p + q, n - q, h.Length() > 0 && n >= static_cast<size_t>(h.Length()), p, f);
        return f;
    }
    // VBRI sits 32 bytes after the header, whatever the side information
    if (n >= 4 + 32 + 26 && std::memcmp(p + 36, "VBRI", 4) == 0) {
        const uint8_t *v = p + 36;
        f.kind = HeaderKind::Vbri;
        f.delay = -1;
        f.quality = Be16(v + 8);
        f.bytes = Be32(v + 10);
        f.frames = Be32(v + 14);
    }
    return f;
}
