// SPDX-License-Identifier: GPL-2.0-or-later
#include "format/FrameIndex.h"
#include <algorithm>

void FrameIndex::Add(uint64_t offset, const FrameHeader &h, uint64_t length)
{
    if (runs_.empty() || runs_.back().rate != h.sampleRate || runs_.back().length != h.SamplesPerFrame())
        runs_.push_back({offsets_.size(), h.sampleRate, h.SamplesPerFrame()});
    offsets_.push_back(offset);
    const uint64_t overhead = 4 + (h.crc ? 2 : 0) + static_cast<uint64_t>(h.SideInfoSize());
    mainData_.push_back(static_cast<uint16_t>(length > overhead ? std::min<uint64_t>(length - overhead, UINT16_MAX) : 0));
    samples_ += static_cast<uint64_t>(h.SamplesPerFrame());
    bytes_ += length;
    if (firstBitrate_ < 0)
        firstBitrate_ = h.bitrate;
    else if (h.bitrate != firstBitrate_)
        constant_ = false;
}

size_t FrameIndex::Preroll(size_t frame, uint32_t reservoir) const
{
    if (frame == 0)
        return 0;
    size_t start = frame - 1;  // its overlap completes the wanted frame's first granule
    uint32_t held = 0;
    while (start > 0 && held < reservoir) {
        --start;
        held += mainData_[start];
    }
    return start;
}

uint32_t ReservoirBytes(const FrameHeader &h)
{
    return h.version == MpegVersion::Mpeg1 ? 511 : 255;
}
