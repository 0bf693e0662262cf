// SPDX-License-Identifier: GPL-2.0-or-later
#include "format/StreamWalker.h"

#include <cstring>

#include "format/Tags.h"

namespace {

// Longest free-format frame looked for.
constexpr size_t maxFreeFormat = walkerLookahead - 8;

constexpr int64_t needMore = 0, notFound = -1;

// Length of the frame at p: from its header, or for free format the distance
// to the next sync word of the same stream. Once in step, a free-format frame
// is as long as the stream's frames (`expected`, padding included; 0:
// unknown) where a header of the stream stands there, so that a sync word in
// its main data does not cut it; only then does one without a sync after it
// run to the end of the input, or (whole frames pushed) to the end of the
// bytes so far where they are that long.
int64_t FrameLength(const uint8_t *p, size_t n, bool eof, const FrameHeader &h, bool inStep, size_t expected = 0,
                    bool wholeFrames = false)
{
    if (const int32_t length = h.Length(); length != 0)
        return length;
    if (inStep && expected != 0) {
        FrameHeader next;
        if (expected + 4 <= n && ParseFrameHeader(p + expected, next) && SameStream(h, next))
            return static_cast<int64_t>(expected);
        if (wholeFrames && n == expected)
            return static_cast<int64_t>(n);
    }
    for (size_t i = 4 + h.SideInfoSize(); i + 4 <= n && i <= maxFreeFormat; ++i) {
        FrameHeader next;
        if (p[i] == 0xff && ParseFrameHeader(p + i, next) && SameStream(h, next))
            return static_cast<int64_t>(i);
    }
    if (eof)
        return inStep ? static_cast<int64_t>(n) : notFound;  // the last frame
    return n < maxFreeFormat + 4 ? needMore : notFound;
}

// A tag begins at p, whose n bytes run to the end of the input when eof: an
// ID3v1 tag that ends the input, an ID3v2 or APEv2 tag, or Lyrics3.
bool TagAt(const uint8_t *p, size_t n, bool eof)
{
    if (n >= 3 && std::memcmp(p, "TAG", 3) == 0)
        return eof && n == 128;
    return (n >= id3v2HeaderSize && Id3v2Size(p) != 0) || (n >= 8 && std::memcmp(p, "APETAGEX", 8) == 0) ||
           (n >= 11 && std::memcmp(p, "LYRICSBEGIN", 11) == 0);
}

enum class Start { No, Yes, NeedMore };

// A free-format stream's first two sync words are only two bytes that any
// junk may hold: the frame after them must stand where the first frame's
// length (give or take its padding) puts it.
Start FreeFormatHolds(const uint8_t *p, size_t n, bool eof, const FrameHeader &h, const FrameHeader &next,
                      size_t end)
{
    const size_t slot = h.layer == 1 ? 4 : 1;
    const size_t second = end + end - (h.padding ? slot : 0) + (next.padding ? slot : 0);
    if (second + 4 <= n) {
        FrameHeader third;
        return ParseFrameHeader(p + second, third) && SameStream(h, third) ? Start::Yes : Start::No;
    }
    if (!eof && n < walkerLookahead)
        return Start::NeedMore;
    return !eof || second == n ? Start::Yes : Start::No;
}

// Whether a stream starts with the frame at p: another header of the same
// stream follows it. A frame whose length its header gives may also be the
// only one: followed by a tag, or by the end of the input.
Start StartsStream(const uint8_t *p, size_t n, bool eof, const FrameHeader &h, int64_t &length)
{
    // a frame the decoder refuses does not start a stream (junk that looks
    // like a header): the search goes on after it
    if (!SideInfoDecodes(p, n, h))
        return Start::No;
    length = FrameLength(p, n, eof, h, false);
    if (length == needMore)
        return Start::NeedMore;
    if (length == notFound)
        return Start::No;
    const size_t end = static_cast<size_t>(length);
    const bool fixed = h.Length() != 0;
    if (end + 4 <= n) {
        FrameHeader next;
        if (ParseFrameHeader(p + end, next) && SameStream(h, next))
            return fixed ? Start::Yes : FreeFormatHolds(p, n, eof, h, next, end);
        return fixed && TagAt(p + end, n - end, eof) ? Start::Yes : Start::No;
    }
    if (!eof)
        return Start::NeedMore;
    return fixed && end == n ? Start::Yes : Start::No;
}

bool Candidate(uint8_t b)
{
    return b == 0xff || b == 'I' || b == 'A';
}

} // namespace

Span StreamWalker::Next(const uint8_t *p, size_t n, bool eof)
{
    Span span = Classify(p, n, eof);
    edge_ = span.kind == SpanKind::Frame || span.kind == SpanKind::Tag ||
            (span.kind == SpanKind::NeedMore && edge_);
    return span;
}

Span StreamWalker::Classify(const uint8_t *p, size_t n, bool eof)
{
    Span span;
    if (n == 0)
        return span;
    if (trusted_ && n >= 4) {
        trusted_ = false;
        FrameHeader h;
        if (ParseFrameHeader(p, h)) {
            synced_ = true;
            last_ = h;
        }
    }
    const auto need = [&](size_t bytes) { return n < bytes && !eof; };

    // the items of an APE tag without header, where the frames end
    if (edge_ && p[0] != 0xff) {
        if (need(8 + 257))
            return span;
        if (const uint64_t size = ApeItemSize(p, n); size != 0) {
            span.kind = SpanKind::Tag;
            span.length = size;
            return span;
        }
    }

    if (p[0] == 'I' || p[0] == 'A') {
        const size_t header = p[0] == 'I' ? id3v2HeaderSize : apeHeaderSize;
        if (need(header))
            return span;
        if (n >= header) {
            const uint64_t size = p[0] == 'I' ? Id3v2Size(p) : ApeSizeFromHeader(p);
            if (size != 0) {
                span.kind = SpanKind::Tag;
                span.length = size;
                return span;
            }
        }
    } else if (p[0] == 0xff) {
        if (need(4))
            return span;
        FrameHeader h;
        if (n >= 4 && ParseFrameHeader(p, h)) {
            int64_t length = 0;
            Start start;
            if (synced_ && SameStream(last_, h)) {
                const size_t padding = h.padding ? (h.layer == 1 ? 4 : 1) : 0;
                length = FrameLength(p, n, eof, h, true, freeLength_ != 0 ? freeLength_ + padding : 0, wholeFrames_);
                start = length == needMore ? Start::NeedMore
                        : length == notFound ? Start::No : Start::Yes;
                if (start == Start::Yes && static_cast<uint64_t>(length) > n) {
                    if (!eof)
                        return span;
                    length = static_cast<int64_t>(n);  // the stream ends inside this frame
                    span.cut = true;
                }
            } else {
                start = StartsStream(p, n, eof, h, length);
            }
            if (start == Start::NeedMore)
                return span;
            if (start == Start::Yes) {
                synced_ = true;
                last_ = h;
                if (h.Length() == 0 && !span.cut)
                    freeLength_ = static_cast<size_t>(length) - (h.padding ? (h.layer == 1 ? 4 : 1) : 0);
                span.kind = SpanKind::Frame;
                span.length = static_cast<uint64_t>(length);
                span.header = h;
                return span;
            }
        }
    }

    // junk up to the next byte that could begin a frame or a tag
    synced_ = false;
    size_t i = 1;
    while (i < n && !Candidate(p[i]))
        ++i;
    span.kind = SpanKind::Junk;
    span.length = i;
    return span;
}
