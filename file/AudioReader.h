// SPDX-License-Identifier: GPL-2.0-or-later
// The audio frames of an input, without the tags and junk around them: the
// bytes a host hands to DecompressAudio.
#ifndef VORLIX_FILE_AUDIOREADER_H
#define VORLIX_FILE_AUDIOREADER_H

#include <cstdint>
#include <vector>

#include "Input.h"
#include "format/FrameHeader.h"
#include "format/FrameIndex.h"
#include "format/StreamWalker.h"

class AudioReader {
public:
    enum class Found { Audio, NoAudio, ReadError, NeedInput };

    /** Finds the stream in the input: the data chunk of a RIFF/WAVE wrapper,
     *  the end before trailing tags (seekable inputs), and the first frame,
     *  where the reader then stands. A stream keeps what was read, so that
     *  the caller can Seek back as far as the region's start. NeedInput:
     *  pushed bytes are awaited; Find again from the start when they came. */
    Found Find(Input &in);

    int64_t RegionStart() const { return regionStart_; }  // tags included
    int64_t FirstFrame() const { return firstFrame_; }
    const FrameHeader &First() const { return first_; }

    /** Goes to an absolute offset of the input; the next frame found there
     *  must start a stream. */
    bool Seek(int64_t offset);
    /** Goes to a frame a scan found: it is read even where junk follows it
     *  (garbage between frames), as it was in the scan. */
    bool SeekToFrame(int64_t offset);

    /** Appends up to about n bytes of whole frames, the length of each
     *  frame to lengths and its input offset to offsets (when given); 0 at
     *  the end, or where pushed bytes are awaited (Starved). Pushed bytes
     *  are read only with the lookahead after them. */
    size_t Read(std::vector<uint8_t> &out, size_t n, std::vector<uint32_t> &lengths,
                std::vector<int64_t> *offsets = nullptr);

    /** Reads on to the end, noting each whole frame (from the reader's
     *  position). */
    void Scan(FrameIndex &index);

    /** The bytes of the first frame, as far as the window holds them (right
     *  after Find). */
    std::vector<uint8_t> FirstFrameBytes() const;

    /** End of the audio region; INT64_MAX when unknown. */
    int64_t End() const { return end_; }

    /** The last Read or Find stopped for want of pushed bytes. */
    bool Starved() const { return starved_; }

    /** Offset of the next byte Read looks at. */
    int64_t Position() const { return pos_; }

private:
    /** Fills the window to walkerLookahead bytes past pos_, or as far as
     *  pushed bytes go. */
    void Fill();
    /** Whether the span at pos can be judged now: the walker's lookahead
     *  and the longest frame are there (with whole frames fed, a byte); or
     *  the input ends before. */
    bool Judgeable(int64_t pos) const;
    /** The next span at pos_ (NeedMore only at the very end, or starved). */
    Span Next();
    void Advance(uint64_t length);

    Input *in_ = nullptr;
    StreamWalker walker_;
    std::vector<uint8_t> window_;  // input bytes from winStart_
    int64_t winStart_ = 0;
    int64_t pos_ = 0;
    int64_t end_ = INT64_MAX;      // end of the audio region
    bool exhausted_ = false;       // the input has no more bytes
    bool starved_ = false;
    int64_t regionStart_ = 0;
    int64_t firstFrame_ = 0;
    uint64_t firstLength_ = 0;
    FrameHeader first_;
};

#endif
