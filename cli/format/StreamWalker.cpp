// SPDX-License-Identifier: GPL-2.0-or-later
#include "format/StreamWalker.h"

#include "format/Tags.h"

namespace {

// Longest free-format frame looked for.
constexpr size_t maxFreeFormat = walkerLookahead - 8;

constexpr int64_t needMore = 0, notFound = -1;

// Length of the frame at p: from its header, or for free format the distance
// to the next sync word of the same stream.
int64_t FrameLength(const uint8_t *p, size_t n, bool eof, const FrameHeader &h)
{
    if (const int32_t length = h.Length(); length != 0)
        return length;
    for (size_t i = 4 + h.SideInfoSize(); i + 4 <= n && i <= maxFreeFormat; ++i) {
        FrameHeader next;
        if (p[i] == 0xff && ParseFrameHeader(p + i, next) && SameStream(h, next))
            return static_cast<int64_t>(i);
    }
    if (eof)
        return static_cast<int64_t>(n);  // the last frame
    return n < maxFreeFormat + 4 ? needMore : notFound;
}

enum class Start { No, Yes, NeedMore };

Start StartsStream(const uint8_t *p, size_t n, bool eof, const FrameHeader &h, int64_t &length)
{
    length = FrameLength(p, n, eof, h);
    if (length == needMore)
        return Start::NeedMore;
    if (length == notFound)
        return Start::No;
    const size_t end = static_cast<size_t>(length);
    if (end + 4 <= n) {
        FrameHeader next;
        return ParseFrameHeader(p + end, next) && SameStream(h, next) ? Start::Yes : Start::No;
    }
    if (!eof)
        return Start::NeedMore;
    return end == n ? Start::Yes : Start::No;
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
                length = FrameLength(p, n, eof, h);
                start = length == needMore ? Start::NeedMore
                        : length == notFound ? Start::No : Start::Yes;
                if (start == Start::Yes && static_cast<uint64_t>(length) > n) {
                    if (!eof)
                        return span;
                    length = static_cast<int64_t>(n);  // the stream ends inside this frame
                }
            } else {
                start = StartsStream(p, n, eof, h, length);
            }
            if (start == Start::NeedMore)
                return span;
            if (start == Start::Yes) {
                synced_ = true;
                last_ = h;
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
