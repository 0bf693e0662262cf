// SPDX-License-Identifier: GPL-2.0-or-later
#include "HostDecoder.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr size_t readChunk = 1 << 16;
constexpr size_t streamGuard = 8;  // zero bytes after the end, so the last frame decodes

int16_t Sample(const uint8_t *p)
{
    return static_cast<int16_t>(p[0] | (p[1] << 8));
}

} // namespace

std::string Utf8(const uint16_t *text)
{
    std::string s;
    for (; *text != 0; ++text) {
        const uint32_t c = *text;
        if (c < 0x80) {
            s += static_cast<char>(c);
        } else if (c < 0x800) {
            s += static_cast<char>(0xc0 | (c >> 6));
            s += static_cast<char>(0x80 | (c & 0x3f));
        } else {
            s += static_cast<char>(0xe0 | (c >> 12));
            s += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
            s += static_cast<char>(0x80 | (c & 0x3f));
        }
    }
    return s;
}

HostDecoder::Status HostDecoder::Open(Input &in, int32_t rate)
{
    in_ = &in;
    switch (reader_.Find(in)) {
    case AudioReader::Found::ReadError:
        return Status::ReadError;
    case AudioReader::Found::NoAudio:
        return Status::NoAudio;
    case AudioReader::Found::Audio:
        break;
    }
    rate_ = rate != 0 ? rate : First().sampleRate;
    channels_ = First().Channels();
    // a header frame (Xing, Info, VBRI) decodes to silence: audio starts after it
    const std::vector<uint8_t> first = reader_.FirstFrameBytes();
    header_ = ParseHeaderFrame(first.data(), first.size(), First());
    audioStart_ = reader_.FirstFrame() + (header_.kind != HeaderKind::None ? static_cast<int64_t>(first.size()) : 0);
    audioFirst_ = First();
    if (header_.kind != HeaderKind::None && reader_.Seek(audioStart_)) {
        std::vector<uint8_t> frame;
        std::vector<uint32_t> lengths;
        FrameHeader h;
        if (reader_.Read(frame, 1, lengths) != 0 && ParseFrameHeader(frame.data(), h))
            audioFirst_ = h;
    }
    // the probe sees the leading tags too: that is where it reads the text
    if (!in.Seek(reader_.RegionStart()) || !Probe(in))
        return in.Failed() ? Status::ReadError : Status::NoAudio;
    return Status::Ok;
}

// The probe's side of the protocol: the next bytes after NeedMoreData, the
// unused rest and more after a count. It first sees the leading tags (the
// bytes before the first frame), where it reads the text, then whole frames
// from the first frame on: whatever it left unused of the tags is not audio.
bool HostDecoder::Probe(Input &in)
{
    const int64_t audio = reader_.FirstFrame();
    std::vector<uint8_t> buffer;
    while (in.Offset() < audio) {
        const size_t want = static_cast<size_t>(std::min<int64_t>(audio - in.Offset(), readChunk));
        if (in.Read(buffer, want) == 0)
            return false;
        int32_t rate = rate_, channels = 0, bitRate = 0;
        const int32_t r = GetHeaderInfo(buffer.data(), static_cast<int32_t>(buffer.size()), &rate, &channels,
                                        &bitRate, text_.title, text_.artist, text_.album);
        if (r == 0)
            return true;
        if (r == NeedMoreData || static_cast<size_t>(r) > buffer.size() || in.Offset() == audio)
            buffer.clear();
        else
            buffer.erase(buffer.begin(), buffer.end() - r);
    }
    return ProbeFrames();
}

// The audio part of the probe. A frame can fail it where a decode goes on:
// its main data lies in frames before it (a file cut in the middle of a
// song), or its CRC is wrong. Then the probe gets the frames after it, whose
// main data libmad has kept from the frames it saw.
bool HostDecoder::ProbeFrames()
{
    if (!reader_.Seek(reader_.FirstFrame()))
        return false;
    std::vector<uint8_t> buffer;
    std::vector<uint32_t> lengths;
    size_t from = 0, frame = 0;  // the buffer's first byte and first frame in use
    bool ended = false;
    for (;;) {
        if (lengths.size() - frame < 2 && !ended) {
            // read on; what was passed over goes first, so that dropping
            // frames one by one stays cheap
            buffer.erase(buffer.begin(), buffer.begin() + static_cast<long>(from));
            lengths.erase(lengths.begin(), lengths.begin() + static_cast<long>(frame));
            from = frame = 0;
            if (reader_.Read(buffer, readChunk, lengths) != 0)
                continue;
            if (in_->Failed())
                return false;
            buffer.insert(buffer.end(), streamGuard, 0);  // so that the last frame decodes
            ended = true;
        }
        if (frame == lengths.size())
            return false;
        int32_t rate = rate_, channels = 0, bitRate = 0;
        const int32_t r = GetHeaderInfo(buffer.data() + from, static_cast<int32_t>(buffer.size() - from), &rate,
                                        &channels, &bitRate, text_.title, text_.artist, text_.album);
        if (r == 0)
            return true;
        if (r == NeedMoreData) {
            // two frames or the end are in, so the first one failed: the next
            from += lengths[frame++];
            continue;
        }
        // the last r bytes hold no whole frame: go on from the frame they begin with
        const size_t rest = buffer.size() - std::min<size_t>(static_cast<size_t>(r), buffer.size() - from);
        const size_t before = frame;
        while (frame < lengths.size() && from + lengths[frame] <= rest)
            from += lengths[frame++];
        if (frame == before)
            from += lengths[frame++];  // always move on
        if (ended)
            return false;
    }
}

void HostDecoder::Scan(FrameIndex &index)
{
    reader_.Seek(audioStart_);
    reader_.Scan(index);
}

void HostDecoder::Restart(uint64_t number)
{
    buffer_.clear();
    frames_.clear();
    base_ = 0;
    fresh_ = true;
    padded_ = false;
    nextNumber_ = number;
}

bool HostDecoder::Start(bool eq, const int8_t *bands)
{
    Init(eq ? 1 : 0, eq ? bands : nullptr);
    last_ = First();
    Restart(0);
    const bool at = reader_.Seek(audioStart_);
    in_->Keep(false);
    return at;
}

bool HostDecoder::SeekToSample(const FrameIndex &index, uint64_t sample)
{
    if (index.Frames() == 0)
        return false;
    const uint64_t frame = sample / static_cast<uint64_t>(First().SamplesPerFrame());
    const size_t from = std::min(index.Preroll(frame > 0 ? frame - 1 : 0, ReservoirBytes(First())), index.Frames() - 1);
    SeekStart();
    const bool at = reader_.Seek(static_cast<int64_t>(index.Offset(from)));
    SeekEnd();
    Restart(from);
    return at;
}

bool HostDecoder::Next(DecodedFrame &frame)
{
    for (;;) {
        int32_t bytes = 0, position = static_cast<int32_t>(base_);
        int32_t r;
        if (fresh_) {
            lengths_.clear();
            uint32_t at = base_ + static_cast<uint32_t>(buffer_.size());
            if (reader_.Read(buffer_, readChunk, lengths_) == 0) {
                if (padded_ || in_->Failed())
                    return false;
                buffer_.insert(buffer_.end(), streamGuard, 0);
                padded_ = true;
            }
            for (uint32_t length : lengths_) {
                frames_.emplace_back(at, nextNumber_++);
                at += length;
            }
            r = DecompressAudio(buffer_.data(), static_cast<int32_t>(buffer_.size()), pcm_.data(), 0,
                                &bytes, &position);
            fresh_ = false;
        } else {
            r = DecompressAudio(nullptr, static_cast<int32_t>(buffer_.size()), pcm_.data(), 0,
                                &bytes, &position);
        }
        if (r != 0) {
            // the next buffer begins at the reported position: the unused rest, then more
            const uint32_t used = static_cast<uint32_t>(position) - base_;
            buffer_.erase(buffer_.begin(), buffer_.begin() + std::min<size_t>(used, buffer_.size()));
            base_ = static_cast<uint32_t>(position);
            fresh_ = true;
            continue;
        }
        if (bytes <= 0)
            continue;  // a damaged frame, dropped

        // which frame it was, by its position
        const uint32_t pos = static_cast<uint32_t>(position);
        while (!frames_.empty() && static_cast<int32_t>(frames_.front().first - pos) < 0)
            frames_.pop_front();
        if (!frames_.empty() && frames_.front().first == pos)
            frame.number = frames_.front().second;
        else
            ++frame.number;

        // the frame's own format, from its header at the reported position
        const size_t at = static_cast<uint32_t>(position) - base_;
        FrameHeader h;
        frame.header = at + 4 <= buffer_.size() && ParseFrameHeader(buffer_.data() + at, h) ? h : last_;
        const int32_t channels = frame.header.Channels();
        frame.formatChanged = frame.header.sampleRate != last_.sampleRate || channels != last_.Channels();
        last_ = frame.header;

        const uint8_t *p = pcm_.data();
        const size_t count = static_cast<size_t>(bytes) / 2;  // samples, all channels
        if (channels == channels_) {
            frame.pcm.assign(p, p + bytes);
        } else if (channels == 1) {
            // a mono frame in a stereo output: the same sample on both sides
            frame.pcm.resize(count * 4);
            for (size_t i = 0; i < count; ++i) {
                std::memcpy(&frame.pcm[4 * i], p + 2 * i, 2);
                std::memcpy(&frame.pcm[4 * i + 2], p + 2 * i, 2);
            }
        } else {
            // a stereo frame in a mono output: the mean of both sides, rounded down
            frame.pcm.resize(count);
            for (size_t i = 0; i < count / 2; ++i) {
                const int32_t mean = (Sample(p + 4 * i) + Sample(p + 4 * i + 2)) >> 1;
                frame.pcm[2 * i] = static_cast<uint8_t>(mean);
                frame.pcm[2 * i + 1] = static_cast<uint8_t>(static_cast<uint32_t>(mean) >> 8);
            }
        }
        return true;
    }
}
