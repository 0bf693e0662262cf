// SPDX-License-Identifier: GPL-2.0-or-later
// The host's byte-level code on arbitrary input: the stream walker with the
// lookahead a reader gives and with everything at once, trailing tag spans,
// RIFF parsing and frame headers. Spans must make progress and stay inside
// the input; ends must stay inside their bounds.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "format/FrameHeader.h"
#include "format/FrameIndex.h"
#include "format/HeaderFrame.h"
#include "format/Id3.h"
#include "Wav.h"
#include "format/Riff.h"
#include "format/StreamWalker.h"
#include "format/TagFields.h"
#include "format/Tags.h"

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

// Walks the input as a reader does, with windows of at most `window` bytes;
// reads each frame as a header frame too, and notes it in an index.
void Walk(const uint8_t *data, size_t size, size_t window)
{
    StreamWalker walker;
    FrameIndex index;
    for (size_t at = 0; at < size;) {
        const size_t n = size - at < window ? size - at : window;
        // an exact copy of a window, so that a read past it is caught (the
        // whole input is an exact copy already)
        std::vector<uint8_t> copy;
        const uint8_t *p = data + at;
        if (n < size - at) {
            copy.assign(p, p + n);
            p = copy.data();
        }
        const Span span = walker.Next(p, n, at + n == size);
        if (span.kind == SpanKind::NeedMore) {
            Check(n < walkerLookahead && at + n < size);
            window = walkerLookahead;
            continue;
        }
        Check(span.length > 0);
        if (span.kind == SpanKind::Frame) {
            Check(span.length <= n);
            FrameHeader h;
            Check(ParseFrameHeader(p, h));
            Check(h.sampleRate == span.header.sampleRate);
            const HeaderFrame f = ParseHeaderFrame(p, static_cast<size_t>(span.length), h);
            Check(!f.hasLame || f.encoder.size() <= 9);
            Check(f.delay < 4096 && f.padding < 4096);
            index.Add(at, h, span.length);
            Check(index.Preroll(index.Frames() - 1, ReservoirBytes(h)) < index.Frames());
        } else if (span.kind == SpanKind::Junk) {
            Check(span.length <= n);
        }
        if (span.length >= size - at)
            break;
        at += static_cast<size_t>(span.length);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Walk(data, size, walkerLookahead);
    Walk(data, size, size ? size : 1);
    Walk(data, size, 300);  // short windows: the walker asks for more

    const ReadAt read = [&](uint64_t offset, size_t n, uint8_t *out) {
        if (offset > size || n > size - offset)
            return false;
        std::memcpy(out, data + offset, n);
        return true;
    };
    const uint64_t floor = size ? data[0] % (size + 1) : 0;
    const uint64_t end = AudioEnd(read, size, floor);
    Check(end <= size && (end >= floor || end == size));

    std::vector<uint8_t> copy(data, data + size);
    const RiffAudio riff = ParseRiff(copy.data(), copy.size(), true);
    if (riff.kind == RiffKind::Mpeg)
        Check(riff.offset <= size);
    for (size_t at = 0; at + 32 <= size; at += 7) {
        Id3v2Size(copy.data() + at);
        ApeSizeFromHeader(copy.data() + at);
        Check(ApeItemSize(copy.data() + at, size - at) == 0 || ApeItemSize(copy.data() + at, size - at) > 8);
    }
    // the input as the bytes of a tag: an ID3v2 header made valid in front,
    // of each version, with and without unsynchronisation
    for (const uint8_t version : {2, 3, 4}) {
        std::vector<uint8_t> tag = {'I', 'D', '3', version, 0, static_cast<uint8_t>(size % 2 ? 0x80 : 0)};
        const uint32_t body = static_cast<uint32_t>(size & 0x0fffffff);
        for (int shift : {21, 14, 7, 0})
            tag.push_back(static_cast<uint8_t>((body >> shift) & 0x7f));
        tag.insert(tag.end(), data, data + size);
        const Id3v2Tag parsed = ParseId3v2(tag.data(), tag.size());
        for (const Id3Frame &f : parsed.frames) {
            Check((f.id.size() == 4 || (version == 2 && f.id.size() == 3)) && f.data.size() <= size);
            TextValues(f);
            Id3Comment c;
            ParseComment(f, c);
        }
        TagInfo info;
        ReadTag(tag, info);
    }
    if (size == 128) {
        TagInfo info;
        ReadTag(copy, info);
    }
    if (size >= 9) {
        uint64_t bytes;
        std::memcpy(&bytes, data + 1, 8);
        const std::vector<uint8_t> h = WavHeader(1 + (data[0] & 1), 44100, bytes, data[0] & 2);
        Check(h.size() == WavHeaderSize(data[0] & 2));
    }
    return 0;
}
