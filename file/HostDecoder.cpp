// SPDX-License-Identifier: GPL-2.0-or-later
#include "HostDecoder.h"

#include <algorithm>
#include <cstring>

#include "format/Converter.h"

namespace {

constexpr size_t readChunk = 1 << 16;
constexpr size_t streamGuard = 8;  // zero bytes after the end, so the last frame decodes
// Frames awaited, pushed, for a stream joined mid-way to decode (their bit
// reservoir lies before them): as far as the largest reservoir reaches.
constexpr size_t joinFrames = 16;
// Frames dropped in a row whose offsets are noted for their silence.
constexpr size_t droppedNoted = 16;

int16_t Sample(const uint8_t *p)
{
    return static_cast<int16_t>(p[0] | (p[1] << 8));
}

} // namespace

HostDecoder::Status HostDecoder::Open(Input &in, int32_t rate, bool stereo)
{
    in_ = &in;
    switch (reader_.Find(in)) {
    case AudioReader::Found::ReadError:
        return Status::ReadError;
    case AudioReader::Found::NoAudio:
        return Status::NoAudio;
    case AudioReader::Found::NeedInput:
        return Status::NeedInput;
    case AudioReader::Found::Audio:
        break;
    }
    rate_ = rate != 0 ? rate : First().sampleRate;
    channels_ = stereo ? 2 : First().Channels();
    leadingSilence_ = !in.Framed();
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
    return Status::Ok;
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
    kept_.clear();
    base_ = 0;
    fresh_ = true;
    padded_ = false;
    lastPosition_ = -1;
    nextNumber_ = number;
    expected_ = number;
    holding_ = false;
    output_ = false;
    dropped_.clear();
    restart_ = true;
}

void HostDecoder::Silence(DecodedFrame &frame, uint64_t number, const FrameHeader &like)
{
    const size_t samples = static_cast<size_t>(ConvertedLength(like.sampleRate, like.SamplesPerFrame(), rate_));
    frame.pcm.assign(samples * 2 * static_cast<size_t>(channels_), 0);
    frame.number = number;
    frame.offset = -1;
    for (const Pending &p : dropped_)
        if (p.number == number)
            frame.offset = p.offset;
    for (const Pending &p : frames_)
        if (p.number == number)
            frame.offset = p.offset;
    frame.header = like;
    frame.formatChanged = false;
}

bool HostDecoder::Start(bool eq, const int8_t *bands)
{
    SetEqualizer(eq, bands);
    last_ = First();
    Restart(0);
    skipBelow_ = 0;
    const bool at = reader_.Seek(audioStart_);
    in_->Keep(false);
    return at;
}

void HostDecoder::SetEqualizer(bool eq, const int8_t *bands)
{
    eq_ = eq;
    if (eq && bands != nullptr)
        std::memcpy(bands_, bands, sizeof bands_);
    if (lib_ == nullptr)
        return;
    // during decoding, Init changes only the equalizer
    const std::unique_lock<std::mutex> lock = Lock();
    if (use_->owner == this && !restart_)
        lib_->init(eq_ ? 1 : 0, eq_ ? bands_ : nullptr);
}

bool HostDecoder::SeekToFrame(const FrameIndex &index, uint64_t frame)
{
    if (index.Frames() == 0)
        return false;
    const size_t from = std::min(index.Preroll(frame > 0 ? frame - 1 : 0, ReservoirBytes(First())), index.Frames() - 1);
    const bool at = reader_.SeekToFrame(static_cast<int64_t>(index.Offset(from)));
    Restart(from);
    skipBelow_ = 0;
    return at;
}

HostDecoder::Step HostDecoder::Next(DecodedFrame &frame)
{
    if (holding_)
        return HandOutHeld(frame);
    for (;;) {
        Step step = Step::End;
        if (fresh_ && Refill(frame, step))
            return step;
        int32_t r = 0, bytes = 0, position = 0;
        switch (Decode(r, bytes, position, step)) {
        case Call::Stop:
            return step;
        case Call::Again:
            continue;
        case Call::Decoded:
            break;
        }
        if (r != 0) {
            Consume(position);
            continue;
        }
        const uint32_t pos = static_cast<uint32_t>(position);
        lastPosition_ = position;
        PassOver(pos);
        if (bytes <= 0 ? Dropped(pos, frame) : Decoded(pos, bytes, frame))
            return Emit(frame);
    }
}

HostDecoder::Step HostDecoder::HandOutHeld(DecodedFrame &frame)
{
    if (expected_ < held_.number) {
        Silence(frame, expected_++, held_.header);
        return Step::Frame;
    }
    std::swap(frame, held_);
    holding_ = false;
    expected_ = frame.number + 1;
    dropped_.clear();
    return Step::Frame;
}

bool HostDecoder::Refill(DecodedFrame &frame, Step &step)
{
    lengths_.clear();
    offsets_.clear();
    uint32_t at = base_ + static_cast<uint32_t>(buffer_.size());
    if (reader_.Read(buffer_, readChunk, lengths_, &offsets_) == 0) {
        if (reader_.Starved()) {
            step = Step::NeedInput;
            return true;
        }
        if (in_->Failed()) {
            step = Step::End;
            return true;
        }
        if (padded_) {
            // frames read that the decoder dropped at the end
            step = Step::End;
            if ((output_ || leadingSilence_) && expected_ < nextNumber_) {
                Silence(frame, expected_++, last_);
                step = Step::Frame;
            }
            return true;
        }
        buffer_.insert(buffer_.end(), streamGuard, 0);
        padded_ = true;
    }
    for (size_t k = 0; k < lengths_.size(); ++k) {
        frames_.push_back({at, nextNumber_++, lengths_[k], offsets_[k]});
        at += lengths_[k];
    }
    return false;
}

HostDecoder::Call HostDecoder::Decode(int32_t &result, int32_t &bytes, int32_t &position, Step &step)
{
    if (lib_ == nullptr)
        Attach();
    const std::unique_lock<std::mutex> lock = Lock();
    nothingLeft_ = false;
    if ((use_->owner != this || restart_) && !TakeOver()) {
        if (!nothingLeft_) {
            // no frame read decodes yet (a stream joined mid-way: their bit
            // reservoir lies before them): pushed frames still to come may
            step = reader_.Starved() && frames_.size() < joinFrames ? Step::NeedInput : Step::NoAudio;
            return Call::Stop;
        }
        // nothing to decode: end as the stream's end does
        buffer_.assign(streamGuard, 0);
        frames_.clear();
        fresh_ = true;
        padded_ = true;
        return Call::Again;
    }
    position = static_cast<int32_t>(base_);
    result = lib_->decompress(fresh_ ? buffer_.data() : nullptr, static_cast<int32_t>(buffer_.size()), pcm_.data(), 0,
                              &bytes, &position);
    fresh_ = false;
    return Call::Decoded;
}

void HostDecoder::Consume(int32_t position)
{
    // the unused rest, then more
    const uint32_t used = static_cast<uint32_t>(position) - base_;
    buffer_.erase(buffer_.begin(), buffer_.begin() + std::min<size_t>(used, buffer_.size()));
    base_ = static_cast<uint32_t>(position);
    lastPosition_ = -1;
    fresh_ = true;
}

void HostDecoder::PassOver(uint32_t position)
{
    // their offsets for their silence; kept all the same, so that the run
    // of kept frames stays unbroken and a takeover after them finds the
    // reservoir
    while (!frames_.empty() && static_cast<int32_t>(frames_.front().position - position) < 0) {
        if (frames_.front().number >= expected_ && dropped_.size() < droppedNoted)
            dropped_.push_back(frames_.front());
        Keep(frames_.front());
        frames_.pop_front();
    }
}

bool HostDecoder::Dropped(uint32_t position, DecodedFrame &frame)
{
    // a damaged frame (or one whose reservoir is missing): its silence,
    // where it is known which frame it was
    if (frames_.empty() || frames_.front().position != position)
        return false;
    Keep(frames_.front());
    if (frames_.front().number < std::max(expected_, skipBelow_) || !(output_ || leadingSilence_))
        return false;
    const size_t at = position - base_;
    FrameHeader h;
    Silence(frame, frames_.front().number, at + 4 <= buffer_.size() && ParseFrameHeader(buffer_.data() + at, h) ? h : last_);
    return true;
}

bool HostDecoder::Decoded(uint32_t position, int32_t bytes, DecodedFrame &frame)
{
    // a frame that starts where no frame was handed over is one the decoder
    // found inside another's bytes (a sync word in free-format data): not
    // audio of the stream
    if (frames_.empty() || frames_.front().position != position)
        return false;
    frame.number = frames_.front().number;
    frame.offset = frames_.front().offset;
    Keep(frames_.front());
    if (frame.number < skipBelow_)
        return false;  // decoded again for a takeover: its output went out before

    // the frame's own format, from its header at the reported position
    const size_t at = position - base_;
    FrameHeader h;
    frame.header = at + 4 <= buffer_.size() && ParseFrameHeader(buffer_.data() + at, h) ? h : last_;
    const int32_t channels = frame.header.Channels();
    frame.formatChanged = frame.header.sampleRate != last_.sampleRate || channels != last_.Channels();
    last_ = frame.header;
    ToChannels(pcm_.data(), static_cast<size_t>(bytes), channels, frame);
    return true;
}

void HostDecoder::ToChannels(const uint8_t *p, size_t bytes, int32_t channels, DecodedFrame &frame)
{
    const size_t count = bytes / 2;  // samples, all channels
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
}

HostDecoder::Step HostDecoder::Emit(DecodedFrame &frame)
{
    if (frame.number > expected_ && (output_ || leadingSilence_)) {
        // the frames before it were dropped: their silence first
        std::swap(frame, held_);
        holding_ = true;
        output_ = true;
        Silence(frame, expected_++, held_.header);
        return Step::Frame;
    }
    expected_ = frame.number + 1;
    output_ = true;
    dropped_.clear();
    return Step::Frame;
}
