// SPDX-License-Identifier: GPL-2.0-or-later
// Where each audio frame of a stream starts, from a scan of the frame
// headers: the exact length of a stream without a header frame, and the
// frame to start from when seeking.
#ifndef VORLIX_FILE_FRAMEINDEX_H
#define VORLIX_FILE_FRAMEINDEX_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "format/FrameHeader.h"

class FrameIndex {
public:
    /** Frames from `first` on have one rate and length, up to the next run. */
    struct Run {
        uint64_t first;
        int32_t rate, length;  // Hz; samples per channel of each frame
    };

    void Add(uint64_t offset, const FrameHeader &h, uint64_t length);

    size_t Frames() const { return offsets_.size(); }
    uint64_t Offset(size_t frame) const { return offsets_[frame]; }
    /** Samples per channel of all frames, at their own rates. */
    uint64_t Samples() const { return samples_; }
    /** Bytes of all frames, and whether every frame has the first one's bit rate. */
    uint64_t Bytes() const { return bytes_; }
    bool ConstantBitrate() const { return constant_; }
    /** The runs of frames of one format, in order (one, unless the stream
     *  changes its rate or layer). */
    const std::vector<Run> &Runs() const { return runs_; }

    /** The frame to start decoding from so that frame `frame` decodes as in a
     *  decode from the start: the frame before it whole (the synthesis
     *  overlap), and before that, frames holding at least `reservoir` bytes
     *  of main data (511 for MPEG-1, 255 for MPEG-2 and 2.5). */
    size_t Preroll(size_t frame, uint32_t reservoir) const;

private:
    std::vector<uint64_t> offsets_;
    std::vector<uint16_t> mainData_;
    std::vector<Run> runs_;  // bytes after header, CRC and side information
    uint64_t samples_ = 0, bytes_ = 0;
    int32_t firstBitrate_ = -1;
    bool constant_ = true;
};

/** Bytes of main data a frame may borrow from the frames before it. */
uint32_t ReservoirBytes(const FrameHeader &h);

#endif
