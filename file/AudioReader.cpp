// SPDX-License-Identifier: GPL-2.0-or-later
#include "AudioReader.h"

#include <algorithm>

#include "format/Riff.h"
#include "format/Tags.h"

namespace {

constexpr size_t readChunk = 1 << 16;
// Junk passed over before the first frame, at most: an input with no frame
// in its first mebibyte (tags aside) is not MPEG audio.
constexpr uint64_t maxLeadingJunk = 1 << 20;
// Bytes past a span that must be there before it is read: the walker's
// lookahead and the longest frame.
constexpr int64_t spanRoom = static_cast<int64_t>(walkerLookahead) + 4096;

} // namespace

void AudioReader::Fill()
{
    const int64_t want = std::min<int64_t>(pos_ + static_cast<int64_t>(walkerLookahead), end_);
    if (pos_ - winStart_ > static_cast<int64_t>(readChunk)) {
        window_.erase(window_.begin(), window_.begin() + (pos_ - winStart_));
        winStart_ = pos_;
    }
    while (!exhausted_ && winStart_ + static_cast<int64_t>(window_.size()) < want) {
        if (in_->Read(window_, readChunk) == 0) {
            // pushed bytes still to come are not the end
            exhausted_ = in_->Ready(winStart_ + static_cast<int64_t>(window_.size()) + 1);
            break;
        }
    }
}

bool AudioReader::Judgeable(int64_t pos) const
{
    // whole frames: the walker judges what has come, or asks for more
    return in_->Ready(std::min(pos + (in_->Framed() ? 1 : spanRoom), end_));
}

Span AudioReader::Next()
{
    starved_ = !Judgeable(pos_);
    if (starved_)
        return Span{};
    Fill();
    const int64_t winEnd = winStart_ + static_cast<int64_t>(window_.size());
    const int64_t stop = std::min(winEnd, end_);
    const size_t avail = stop > pos_ ? static_cast<size_t>(stop - pos_) : 0;
    const bool eof = exhausted_ || winEnd >= end_;
    Span span = walker_.Next(window_.data() + (pos_ - winStart_), avail, eof);
    // a tag is passed over only once the bytes after it are there
    if (span.kind == SpanKind::Tag && !Judgeable(pos_ + static_cast<int64_t>(span.length))) {
        starved_ = true;
        return Span{};
    }
    // short of the lookahead before the end (whole frames fed): wait, but
    // only for bytes still to be pushed; any other input has ended here
    if (span.kind == SpanKind::NeedMore && !eof)
        starved_ = !in_->Ready(winEnd + 1);
    return span;
}

bool AudioReader::Seek(int64_t offset)
{
    walker_.Resync();
    window_.clear();
    winStart_ = pos_ = offset;
    exhausted_ = false;
    return in_->Seek(offset);
}

bool AudioReader::SeekToFrame(int64_t offset)
{
    const bool at = Seek(offset);
    walker_.ResumeAtFrame();
    return at;
}

AudioReader::Found AudioReader::Find(Input &in)
{
    in_ = &in;
    in.Keep(true);
    walker_.WholeFrames(in.Framed());
    regionStart_ = 0;
    end_ = INT64_MAX;
    starved_ = false;
    if (!Seek(0))
        return Found::ReadError;
    if (!Judgeable(0))
        return Found::NeedInput;
    Fill();
    // the chunks before a RIFF file's data may run past the lookahead: read
    // on (pushed bytes: wait for them) until they end or pass the junk limit
    RiffAudio riff = ParseRiff(window_.data(), window_.size(), exhausted_);
    while (riff.kind == RiffKind::NeedMore && !exhausted_ && window_.size() <= maxLeadingJunk) {
        const int64_t have = winStart_ + static_cast<int64_t>(window_.size());
        if (!in.Ready(have + 1))
            return Found::NeedInput;
        if (in.Read(window_, readChunk) == 0)
            exhausted_ = true;
        riff = ParseRiff(window_.data(), window_.size(), exhausted_);
    }
    if (in.Failed())
        return Found::ReadError;
    if (riff.kind == RiffKind::NotMpeg)
        return Found::NoAudio;
    // chunks before the data that pass the junk limit: not taken for a
    // wrapper; frames are looked for as in a file without one
    if (riff.kind == RiffKind::Mpeg) {
        regionStart_ = static_cast<int64_t>(riff.offset);
        // a streaming writer leaves the size at its maximum: read to the end
        if (riff.size != 0 && riff.size < UINT32_MAX - riff.offset)
            end_ = static_cast<int64_t>(riff.offset + riff.size);
    }
    if (in.Seekable()) {
        const uint64_t end = std::min<uint64_t>(static_cast<uint64_t>(in.Size()), static_cast<uint64_t>(end_));
        const ReadAt readAt = [&in](uint64_t offset, size_t n, uint8_t *out) {
            return in.ReadAt(offset, n, out);
        };
        end_ = static_cast<int64_t>(AudioEnd(readAt, end, static_cast<uint64_t>(regionStart_)));
    }
    pos_ = regionStart_;
    uint64_t junk = 0;
    for (;;) {
        const Span span = Next();
        if (span.kind == SpanKind::Frame) {
            firstFrame_ = pos_;
            firstLength_ = span.length;
            first_ = span.header;
            return Found::Audio;
        }
        if (starved_)
            return Found::NeedInput;
        if (in.Failed())
            return Found::ReadError;
        if (span.kind == SpanKind::Junk)
            junk += span.length;
        if (span.kind == SpanKind::NeedMore || junk > maxLeadingJunk)
            return in.Failed() ? Found::ReadError : Found::NoAudio;
        Advance(span.length);
    }
}

std::vector<uint8_t> AudioReader::FirstFrameBytes() const
{
    const auto from = window_.begin() + (firstFrame_ - winStart_);
    return std::vector<uint8_t>(from, from + static_cast<long>(firstLength_));
}

// Moves past a span; a tag that runs past the window is skipped in the input.
void AudioReader::Advance(uint64_t length)
{
    pos_ += static_cast<int64_t>(length);
    if (pos_ > winStart_ + static_cast<int64_t>(window_.size())) {
        const int64_t to = std::min(pos_, end_);
        walker_.Resync();
        window_.clear();
        winStart_ = pos_ = to;
        if (!exhausted_ && !in_->Seek(to))
            exhausted_ = true;
    }
}

size_t AudioReader::Read(std::vector<uint8_t> &out, size_t n, std::vector<uint32_t> &lengths,
                         std::vector<int64_t> *offsets)
{
    size_t got = 0;
    while (got < n) {
        const Span span = Next();
        if (span.kind == SpanKind::NeedMore)
            break;
        // a last frame cut short cannot decode: it is not audio
        if (span.kind == SpanKind::Frame && !span.cut) {
            const auto from = window_.begin() + (pos_ - winStart_);
            out.insert(out.end(), from, from + static_cast<long>(span.length));
            lengths.push_back(static_cast<uint32_t>(span.length));
            if (offsets != nullptr)
                offsets->push_back(pos_);
            got += span.length;
        }
        Advance(span.length);
    }
    return got;
}

void AudioReader::Scan(FrameIndex &index)
{
    for (;;) {
        const Span span = Next();
        if (span.kind == SpanKind::NeedMore)
            return;
        // a last frame cut short decodes to nothing: it does not count
        if (span.kind == SpanKind::Frame && !span.cut)
            index.Add(static_cast<uint64_t>(pos_), span.header, span.length);
        Advance(span.length);
    }
}
