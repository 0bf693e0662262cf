// SPDX-License-Identifier: GPL-2.0-or-later
#include "format/FrameHeader.h"

namespace {

// kbit/s by [MPEG-1 or not][layer - 1][index]; index 15 is invalid
constexpr int16_t bitrates[2][3][15] = {
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}},
};

constexpr int32_t rates[3][3] = {
    {44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};

} // namespace

bool ParseFrameHeader(const uint8_t *p, FrameHeader &h)
{
    if (p[0] != 0xff || (p[1] & 0xe0) != 0xe0)
        return false;
    const int versionBits = (p[1] >> 3) & 3;
    const int layerBits = (p[1] >> 1) & 3;
    const int bitrateIndex = p[2] >> 4;
    const int rateIndex = (p[2] >> 2) & 3;
    const int emphasis = p[3] & 3;
    // emphasis 2 is reserved, but libmad decodes such frames and so do
    // other decoders: they are frames
    if (versionBits == 1 || layerBits == 0 || bitrateIndex == 15 || rateIndex == 3)
        return false;
    h.version = versionBits == 3 ? MpegVersion::Mpeg1
                : versionBits == 2 ? MpegVersion::Mpeg2 : MpegVersion::Mpeg25;
    h.layer = static_cast<uint8_t>(4 - layerBits);
    h.crc = (p[1] & 1) == 0;
    h.bitrateIndex = static_cast<uint8_t>(bitrateIndex);
    const int lsf = h.version == MpegVersion::Mpeg1 ? 0 : 1;
    h.bitrate = bitrates[lsf][h.layer - 1][bitrateIndex] * 1000;
    h.sampleRate = rates[static_cast<int>(h.version)][rateIndex];
    h.padding = (p[2] >> 1) & 1;
    h.mode = static_cast<ChannelMode>(p[3] >> 6);
    h.modeExtension = (p[3] >> 4) & 3;
    h.emphasis = static_cast<uint8_t>(emphasis);
    return true;
}

int32_t FrameHeader::SamplesPerFrame() const
{
    if (layer == 1)
        return 384;
    if (layer == 3 && version != MpegVersion::Mpeg1)
        return 576;
    return 1152;
}

int32_t FrameHeader::Length() const
{
    if (bitrate == 0)
        return 0;
    if (layer == 1)
        return (12 * bitrate / sampleRate + padding) * 4;
    const int32_t slots = layer == 3 && version != MpegVersion::Mpeg1 ? 72 : 144;
    return slots * bitrate / sampleRate + padding;
}

int32_t FrameHeader::SideInfoSize() const
{
    if (version == MpegVersion::Mpeg1)
        return mode == ChannelMode::Mono ? 17 : 32;
    return mode == ChannelMode::Mono ? 9 : 17;
}

namespace {

// Reads bits from the side information, most significant first.
struct Bits {
    const uint8_t *p;
    size_t at = 0;
    uint32_t Read(int count)
    {
        uint32_t v = 0;
        for (int i = 0; i < count; ++i, ++at)
            v = (v << 1) | ((p[at >> 3] >> (7 - (at & 7))) & 1u);
        return v;
    }
};

} // namespace

bool SideInfoDecodes(const uint8_t *p, size_t n, const FrameHeader &h)
{
    const size_t from = 4 + (h.crc ? 2 : 0);
    if (h.layer != 3 || n < from + static_cast<size_t>(h.SideInfoSize()))
        return true;
    const bool mpeg1 = h.version == MpegVersion::Mpeg1;
    const int channels = h.Channels();
    Bits bits{p + from};
    bits.Read(mpeg1 ? (channels == 1 ? 14 : 12) : (channels == 1 ? 9 : 10));  // main data begin, private bits
    uint32_t scfsi[2] = {};
    if (mpeg1)
        for (int ch = 0; ch < channels; ++ch)
            scfsi[ch] = bits.Read(4);
    for (int granule = 0; granule < (mpeg1 ? 2 : 1); ++granule)
        for (int ch = 0; ch < channels; ++ch) {
            bits.Read(12);  // part 2 and 3 length
            if (bits.Read(9) > 288)
                return false;
            bits.Read(8 + (mpeg1 ? 4 : 9));  // global gain, scale factor compression
            if (bits.Read(1) != 0) {
                const uint32_t blockType = bits.Read(2);
                if (blockType == 0 || (mpeg1 && blockType == 2 && scfsi[ch] != 0))
                    return false;
                bits.Read(1 + 2 * 5 + 3 * 3);  // mixed, tables, subblock gains
            } else {
                bits.Read(3 * 5 + 4 + 3);  // tables, region counts
            }
            bits.Read(mpeg1 ? 3 : 2);  // preflag (MPEG-1), scale, count1 table
        }
    return true;
}

bool SameStream(const FrameHeader &a, const FrameHeader &b)
{
    return a.version == b.version && a.layer == b.layer && a.sampleRate == b.sampleRate &&
           (a.bitrateIndex == 0) == (b.bitrateIndex == 0);
}

const char *VersionName(MpegVersion version)
{
    switch (version) {
    case MpegVersion::Mpeg1:
        return "MPEG-1";
    case MpegVersion::Mpeg2:
        return "MPEG-2";
    default:
        return "MPEG-2.5";
    }
}

const char *LayerName(uint8_t layer)
{
    return layer == 1 ? "Layer I" : layer == 2 ? "Layer II" : "Layer III";
}

const char *ModeName(ChannelMode mode)
{
    switch (mode) {
    case ChannelMode::Stereo:
        return "stereo";
    case ChannelMode::Joint:
        return "joint stereo";
    case ChannelMode::Dual:
        return "dual channel";
    default:
        return "mono";
    }
}
