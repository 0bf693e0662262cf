// SPDX-License-Identifier: GPL-2.0-or-later
// Which decoded samples go out: the gapless trims at the start and the end,
// and the stretch asked for with a start and a duration.
//
// Positions count samples per channel of the decoded stream (header frame
// excluded) at the output rate. Frame n starts at n times the first frame's
// sample count, so that a decode that starts at a later frame (a seek) places
// its samples where a decode from the start does; after that frame, samples
// follow one another, and a dropped frame leaves a gap of its length.
#ifndef VORLIX_FILE_TIMELINE_H
#define VORLIX_FILE_TIMELINE_H

#include <cstddef>
#include <cstdint>
#include <vector>

class Timeline {
public:
    /** Samples [begin, end) go out, except the last holdBack samples of the
     *  stream (the end trim). */
    Timeline(uint64_t begin, uint64_t end, uint64_t holdBack, int32_t channels);

    /** Takes frame `number`'s samples (interleaved 16-bit bytes) and appends
     *  to out what may go out now. */
    void Push(uint64_t number, const uint8_t *pcm, size_t bytes, std::vector<uint8_t> &out);

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
    uint64_t perFrame_ = 0;  // samples of the first frame taken
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
