// SPDX-License-Identifier: GPL-2.0-or-later
// Walks a byte stream span by span: MPEG audio frames, tags and the junk
// between them, so that only frames reach the decoder.
//
// A stream starts where a valid frame header is followed by another valid
// header of the same stream at the first frame's computed length (for free
// format, the next sync word of the same stream); a frame whose header gives
// its length may also stand alone, followed by a tag or ending exactly at the
// end of the input. Once in step, each frame boundary holds the next header;
// where it does not, the walker searches again.
#ifndef VORLIX_FILE_STREAMWALKER_H
#define VORLIX_FILE_STREAMWALKER_H

#include <cstddef>
#include <cstdint>

#include "format/FrameHeader.h"

/** Bytes past the current position that Next may need to decide. */
constexpr size_t walkerLookahead = 8192;

enum class SpanKind : uint8_t {
    NeedMore,  // give more bytes (fewer than walkerLookahead were given)
    Frame,     // an audio frame; header describes it
    Tag,       // an ID3v2 or APEv2 tag, or an APE item where the audio ends;
               // length may run past the bytes given
    Junk,      // neither: bytes to pass over
};

struct Span {
    SpanKind kind = SpanKind::NeedMore;
    uint64_t length = 0;
    FrameHeader header;  // of a Frame
    bool cut = false;    // a Frame the input ends inside: no decoder outputs it
};

class StreamWalker {
public:
    /** Classifies the bytes at the current position. p holds n bytes from
     *  there; eof: nothing follows them. The caller then moves on by length
     *  (for NeedMore, nothing). */
    Span Next(const uint8_t *p, size_t n, bool eof);

    /** Each push holds whole frames: once in step, a free-format frame runs
     *  to the end of the bytes given when they are as long as the stream's
     *  frames (padding aside), without waiting for the next frame's sync. */
    void WholeFrames(bool whole) { wholeFrames_ = whole; }

    /** After a jump to another position: search for a stream start again. */
    void Resync() { synced_ = edge_ = trusted_ = false; }
    /** After a jump to where a frame is known to start (a scan found it
     *  there): its header is taken as in step, whatever follows it. */
    void ResumeAtFrame()
    {
        Resync();
        trusted_ = true;
    }
    bool Synced() const { return synced_; }

private:
    Span Classify(const uint8_t *p, size_t n, bool eof);

    bool synced_ = false;
    bool edge_ = false;  // right after a frame or a tag: where an APE item may begin
    bool wholeFrames_ = false;
    bool trusted_ = false;  // a frame is known to start at the next position
    size_t freeLength_ = 0;  // of the last free-format frame, padding aside
    FrameHeader last_;
};

#endif
