// SPDX-License-Identifier: GPL-2.0-or-later
// The four-byte MPEG audio frame header: what a host needs to walk a stream
// and describe it (version, layer, rate, mode, frame length).
#ifndef VORLIX_FILE_FRAMEHEADER_H
#define VORLIX_FILE_FRAMEHEADER_H

#include <cstddef>
#include <cstdint>

enum class MpegVersion : uint8_t { Mpeg1, Mpeg2, Mpeg25 };
enum class ChannelMode : uint8_t { Stereo, Joint, Dual, Mono };

struct FrameHeader {
    MpegVersion version = MpegVersion::Mpeg1;
    uint8_t layer = 3;          // 1, 2 or 3
    bool crc = false;           // a 16-bit CRC follows the header
    uint8_t bitrateIndex = 0;   // 0: free format
    int32_t bitrate = 0;        // bits per second, 0 for free format
    int32_t sampleRate = 0;     // Hz
    bool padding = false;
    ChannelMode mode = ChannelMode::Stereo;
    uint8_t modeExtension = 0;
    uint8_t emphasis = 0;

    int32_t Channels() const { return mode == ChannelMode::Mono ? 1 : 2; }
    /** PCM samples per channel that the frame decodes to. */
    int32_t SamplesPerFrame() const;
    /** Frame length in bytes, header included; 0 for free format. */
    int32_t Length() const;
    /** Bytes of side information after the header (and CRC); Layer III only. */
    int32_t SideInfoSize() const;
};

/** Reads a header from four bytes; false when the sync, version, layer,
 *  bit-rate or sample-rate field is invalid. */
bool ParseFrameHeader(const uint8_t *p, FrameHeader &header);

/** Whether a Layer III frame's side information (the n bytes at p, header
 *  included) holds nothing the decoder refuses: a count of big values past
 *  288, a block type 0 where the window switches, or in MPEG-1 a short
 *  block sharing scale factors. True for other layers, and where the side
 *  information is not all there. */
bool SideInfoDecodes(const uint8_t *p, size_t n, const FrameHeader &h);

/** Frames of one stream share version, layer, sample rate and the use of
 *  free format; everything else may vary from frame to frame. */
bool SameStream(const FrameHeader &a, const FrameHeader &b);

const char *VersionName(MpegVersion version);  // "MPEG-1", "MPEG-2", "MPEG-2.5"
const char *LayerName(uint8_t layer);          // "Layer I", "Layer II", "Layer III"
const char *ModeName(ChannelMode mode);        // "stereo", "joint stereo", ...

#endif
