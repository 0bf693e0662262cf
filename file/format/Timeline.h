// SPDX-License-Identifier: GPL-2.0-or-later
// Which decoded samples go out: the gapless trims at the start and the end,
// and the stretch asked for with a start and a duration.
//
// Positions count samples per channel of the decoded stream (header frame
// excluded) at the output rate. A frame's start comes from the frame clock,
// so that a decode that starts at a later frame (a seek) places its samples
// where a decode from the start does.
#ifndef VORLIX_FILE_TIMELINE_H
#define VORLIX_FILE_TIMELINE_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "format/FrameIndex.h"

/** Where each frame starts in the output, in samples per channel at the
 *  output rate before any trim: from a scan's runs of one format, or for a
 *  stream not scanned, every frame as long as the first. The decoder's
 *  converter makes the same count of every frame of one format. */
class FrameClock {
public:
    FrameClock() = default;
    FrameClock(int32_t outputRate, int32_t rate, int32_t length);
    FrameClock(int32_t outputRate, const FrameIndex &index);

    uint64_t Start(uint64_t frame) const;
    /** The frame whose samples hold output sample `sample` (past the last
     *  frame, counted on as the last run goes). */
    uint64_t FrameAt(uint64_t sample) const;

private:
    struct Run {
        uint64_t first, start;  // frame, and its output sample
        int32_t length;         // output samples of each frame
    };
    std::vector<Run> runs_;
};

class Timeline {
public:
    /** Samples [begin, end) go out, except the last holdBack samples of the
     *  stream (the end trim). */
    Timeline(uint64_t begin, uint64_t end, uint64_t holdBack, int32_t channels);

    /** Takes the samples (interleaved 16-bit bytes) of frame `number`, which
     *  starts at output sample `start`, and appends to out what may go out
     *  now. The first frame taken stands at its start; after it, samples
     *  follow one another, and a frame that did not come leaves a gap. */
    void Push(uint64_t number, uint64_t start, const uint8_t *pcm, size_t bytes, std::vector<uint8_t> &out);

    /** At the end of the stream: when the end trim does not apply (a stream
     *  cut short of where its header frame says it ends), the samples held
     *  back go out too. */
    void Finish(bool trimEnd, std::vector<uint8_t> &out);

    /** Nothing more can go out. */
    bool Done() const { return emitted_ >= end_ - begin_ || position_ >= horizon_; }
    /** Position of the next sample of the stream. */
    uint64_t Position() const { return position_; }

private:
    uint64_t begin_, end_, holdBack_;
    uint64_t horizon_;   // end + holdBack: samples past it change nothing
    size_t frameBytes_;  // bytes per sample, all channels
    bool started_ = false;
    uint64_t lastNumber_ = 0;
    uint64_t position_ = 0;
    uint64_t emitted_ = 0;
    std::vector<uint8_t> held_;  // samples in the window, kept back until more follow
};

/** Samples (per channel) the common gapless decoders trim: the encoder delay
 *  plus the decoder's own 529 samples at the start, the padding less those
 *  529 at the end; scaled from the stream's rate to the output's. */
struct GaplessTrim {
    uint64_t start = 0, end = 0;
};
GaplessTrim Trim(int32_t delay, int32_t padding, int32_t streamRate, int32_t outputRate);

#endif
