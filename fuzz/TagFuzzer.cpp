// SPDX-License-Identifier: GPL-2.0-or-later
// Aims at the tag step: an ID3v2 tag (valid, truncated, lying about its size,
// with or without a footer, unsynchronised, compressed frames: whatever the
// bytes say) or an ID3v1 tag in front of audio, probed in small buffers.
#include <algorithm>
#include <memory>

#include "FuzzHost.h"

namespace {

constexpr size_t controlBytes = 8;

// A few frames of a real MPEG-2.5 stream, so that probes can end in success.
const uint8_t frameHeader[4] = {0xff, 0xe3, 0x28, 0xc4};  // 16 kbit/s, 8000 Hz: 144 bytes

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ResetDecoder();
    Control c(data, size, controlBytes);
    const size_t piece = 8 + c.Next() * 4u;
    const uint8_t mode = c.Next();
    const uint8_t version = 2 + c.Next() % 3;
    const uint8_t flags = c.Next();
    uint8_t sizeBytes[4];
    for (auto &b : sizeBytes)
        b = c.Next();
    const uint8_t *body = data + c.Used();
    const size_t bodyLength = size - c.Used();

    std::vector<uint8_t> stream;
    switch (mode % 4) {
    case 0:  // the bytes as they are
        break;
    case 1: {  // an ID3v2 header whose size may lie, then the body
        const uint8_t header[10] = {'I', 'D', '3', version, 0, flags,
                                    static_cast<uint8_t>(sizeBytes[0] & 0x7f), static_cast<uint8_t>(sizeBytes[1] & 0x7f),
                                    static_cast<uint8_t>(sizeBytes[2] & 0x7f), static_cast<uint8_t>(sizeBytes[3] & 0x7f)};
        stream.assign(header, header + 10);
        break;
    }
    case 2:  // an ID3v1 tag
        stream.assign({'T', 'A', 'G'});
        break;
    case 3: {  // an ID3v2 footer first
        const uint8_t footer[10] = {'3', 'D', 'I', version, 0, flags, 0, 0, 0,
                                    static_cast<uint8_t>(sizeBytes[0] & 0x7f)};
        stream.assign(footer, footer + 10);
        break;
    }
    }
    stream.insert(stream.end(), body, body + bodyLength);
    // audio after the tag: frame headers of a silent stream
    for (int i = 0; i < 6; ++i) {
        stream.insert(stream.end(), frameHeader, frameHeader + 4);
        stream.insert(stream.end(), 140, 0);
    }
    stream.insert(stream.end(), 8, 0);

    uint16_t text[3][VORLIX_TEXT_UNITS] = {};
    ProbeStream(stream.data(), stream.size(), [&] { return piece; }, 0, text[0], text[1], text[2]);
    for (auto &t : text) {  // every text ends within its buffer
        bool terminated = false;
        for (uint16_t u : t)
            terminated |= u == 0;
        if (!terminated)
            __builtin_trap();
    }
    Exit();
    return 0;
}
