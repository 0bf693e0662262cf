// SPDX-License-Identifier: GPL-2.0-or-later
#include "HostDecoder.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "format/Converter.h"

namespace {

constexpr size_t readChunk = 1 << 16;
constexpr size_t streamGuard = 8;  // zero bytes after the end, so the last frame decodes
// Frames kept for a takeover: the one before the position whole, and before
// it enough for the largest bit reservoir.
constexpr size_t keptFrames = 16;

int16_t Sample(const uint8_t *p)
{
    return static_cast<int16_t>(p[0] | (p[1] << 8));
}

// The process's copy of the library, shared by handles without one of their own.
std::mutex libraryLock;
HostDecoder::Use shared;

// Locks the shared copy; a private one needs no lock.
std::unique_lock<std::mutex> LockFor(const std::unique_ptr<Instance> &instance)
{
    return instance ? std::unique_lock<std::mutex>() : std::unique_lock<std::mutex>(libraryLock);
}

// Bytes of main data in a frame: what it lends to the frames after it.
uint32_t MainData(const std::vector<uint8_t> &frame)
{
    FrameHeader h;
    if (frame.size() < 4 || !ParseFrameHeader(frame.data(), h))
        return 0;
    const size_t overhead = 4 + (h.crc ? 2 : 0) + static_cast<size_t>(h.SideInfoSize());
    return frame.size() > overhead ? static_cast<uint32_t>(frame.size() - overhead) : 0;
}

} // namespace

void ForgetDecoderUse()
{
    std::lock_guard<std::mutex> lock(libraryLock);
    shared = {};
}

HostDecoder::~HostDecoder()
{
    // a private copy closes and goes with its handle; the last user of the
    // shared one closes it, releasing its memory
    if (instance_ || lib_ == nullptr)
        return;
    std::lock_guard<std::mutex> lock(libraryLock);
    if (shared.owner == this) {
        lib_->exit();
        shared.owner = nullptr;
    }
}

void HostDecoder::Attach()
{
    instance_ = Instance::Load();
    lib_ = instance_ ? &instance_->Calls() : &SharedCalls();
    use_ = instance_ ? &ownUse_ : &shared;
}

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

// The probe sets the library's converter to this handle's rate. A frame can
// fail it where a decode goes on: its main data lies in frames before it (a
// file cut in the middle of a song), or its CRC is wrong. Then the probe gets
// the frames after it, whose main data libmad has kept from the frames it saw.
bool HostDecoder::Probe(const uint8_t *frames, size_t size, const std::vector<uint32_t> &lengths)
{
    std::vector<uint8_t> buffer(frames, frames + size);
    buffer.insert(buffer.end(), streamGuard, 0);  // so that the last frame decodes
    size_t from = 0;
    for (const uint32_t length : lengths) {
        int32_t rate = rate_, channels = 0, bitRate = 0;
        uint16_t text[3][VORLIX_TEXT_UNITS] = {};
        const int32_t r = lib_->headerInfo(buffer.data() + from, static_cast<int32_t>(buffer.size() - from), &rate,
                                        &channels, &bitRate, text[0], text[1], text[2]);
        if (r == 0)
            return true;
        from += length;  // this frame failed: the next
    }
    return false;
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
    const std::unique_lock<std::mutex> lock = LockFor(instance_);
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

// A decoded frame's bytes, kept for a takeover.
void HostDecoder::Keep(const Pending &frame)
{
    const uint64_t number = frame.number;
    const size_t at = frame.position - base_;
    if (at + frame.length > buffer_.size())
        return;
    if (!kept_.empty()) {
        if (number >= kept_.front().number && number <= kept_.back().number)
            return;  // decoded again after a takeover: kept already
        if (number != kept_.back().number + 1)
            kept_.clear();  // only an unbroken run is of use
    }
    // the oldest frame's block is reused: no allocation per frame
    std::vector<uint8_t> bytes;
    if (kept_.size() >= keptFrames) {
        bytes = std::move(kept_.front().bytes);
        kept_.pop_front();
    }
    bytes.assign(buffer_.begin() + static_cast<long>(at), buffer_.begin() + static_cast<long>(at + frame.length));
    kept_.push_back({number, frame.offset, std::move(bytes)});
}

bool HostDecoder::TakeOver()
{
    // the frames still to decode: after the one decoded last, or the whole
    // buffer when it is still to be passed
    size_t from = 0;
    if (!fresh_) {
        from = buffer_.size() - (padded_ ? streamGuard : 0);
        for (const Pending &p : frames_)
            if (static_cast<int64_t>(p.position) > lastPosition_ && p.position >= base_) {
                from = p.position - base_;
                break;
            }
    }
    std::deque<Pending> pending;
    for (const Pending &p : frames_)
        if (int64_t{p.position} >= int64_t{base_} + static_cast<int64_t>(from))
            pending.push_back(p);
    const uint64_t next = pending.empty() ? nextNumber_ : pending.front().number;

    // before them, the kept frames that the synthesis overlap (the frame
    // before, whole) and the bit reservoir need
    // (a takeover in the middle of another one's preroll starts from a frame
    // before the kept ones' last: the run ends at the frame before `next`)
    size_t first = 0, end = 0;
    if (!kept_.empty() && next > kept_.front().number && next - 1 <= kept_.back().number) {
        end = static_cast<size_t>(next - kept_.front().number);
        first = end - 1;
        uint32_t held = 0;
        const uint32_t reservoir = ReservoirBytes(First());
        while (first > 0 && held < reservoir) {
            --first;
            held += MainData(kept_[first].bytes);
        }
        // and one more: the first frame of a restart lacks its own main
        // data and decodes to nothing useful, so it only feeds the reservoir
        if (first > 0)
            --first;
    }
    std::vector<uint8_t> buffer;
    std::deque<Pending> frames;
    std::vector<uint32_t> lengths;
    for (size_t k = first; k < end; ++k) {
        const uint32_t length = static_cast<uint32_t>(kept_[k].bytes.size());
        frames.push_back({static_cast<uint32_t>(buffer.size()), kept_[k].number, length, kept_[k].offset});
        lengths.push_back(length);
        buffer.insert(buffer.end(), kept_[k].bytes.begin(), kept_[k].bytes.end());
    }
    // no whole frame left to decode: the stream has ended, whoever used the
    // library before
    if (lengths.empty() && pending.empty()) {
        nothingLeft_ = true;
        return false;
    }
    const uint32_t shift = static_cast<uint32_t>(buffer.size());
    for (Pending p : pending) {
        p.position = p.position - base_ - static_cast<uint32_t>(from) + shift;
        frames.push_back(p);
        lengths.push_back(p.length);
    }
    buffer.insert(buffer.end(), buffer_.begin() + static_cast<long>(from), buffer_.end());
    buffer_ = std::move(buffer);
    frames_ = std::move(frames);
    base_ = 0;
    fresh_ = true;
    lastPosition_ = -1;
    skipBelow_ = std::max(skipBelow_, next);

    // the library as this handle had it: the converter set to its rate by a
    // probe, or restarted; then its equalizer
    // a decode from a start or a seek probes as a decode in a process of its
    // own does, so that whether it decodes never depends on who used the
    // library before
    if (use_->rate != rate_ || restart_) {
        if (!Probe(buffer_.data(), buffer_.size() - (padded_ ? streamGuard : 0), lengths)) {
            // the failed probe left the decoder pointing at its own bytes
            // with the converter off: no one may go on from that state
            use_->owner = nullptr;
            use_->rate = 0;
            return false;
        }
        use_->rate = rate_;
    } else {
        lib_->seekStart();
        lib_->seekEnd();
    }
    lib_->init(eq_ ? 1 : 0, eq_ ? bands_ : nullptr);
    use_->owner = this;
    restart_ = false;
    return true;
}

HostDecoder::Step HostDecoder::Next(DecodedFrame &frame)
{
    if (holding_) {
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
    for (;;) {
        int32_t bytes = 0, position = static_cast<int32_t>(base_);
        int32_t r;
        if (fresh_) {
            lengths_.clear();
            offsets_.clear();
            uint32_t at = base_ + static_cast<uint32_t>(buffer_.size());
            if (reader_.Read(buffer_, readChunk, lengths_, &offsets_) == 0) {
                if (reader_.Starved())
                    return Step::NeedInput;
                if (in_->Failed())
                    return Step::End;
                if (padded_) {
                    // frames read that the decoder dropped at the end
                    if ((output_ || leadingSilence_) && expected_ < nextNumber_) {
                        Silence(frame, expected_++, last_);
                        return Step::Frame;
                    }
                    return Step::End;
                }
                buffer_.insert(buffer_.end(), streamGuard, 0);
                padded_ = true;
            }
            for (size_t k = 0; k < lengths_.size(); ++k) {
                frames_.push_back({at, nextNumber_++, lengths_[k], offsets_[k]});
                at += lengths_[k];
            }
        }
        if (lib_ == nullptr)
            Attach();
        {
            const std::unique_lock<std::mutex> lock = LockFor(instance_);
            nothingLeft_ = false;
            if ((use_->owner != this || restart_) && !TakeOver()) {
                // no frame read decodes yet (a stream joined mid-way: their
                // bit reservoir lies before them): pushed frames still to
                // come may, as far as the largest reservoir reaches
                if (!nothingLeft_)
                    return reader_.Starved() && frames_.size() < keptFrames ? Step::NeedInput : Step::NoAudio;
                // nothing to decode: end as the stream's end does
                buffer_.assign(streamGuard, 0);
                frames_.clear();
                fresh_ = true;
                padded_ = true;
                continue;
            }
            position = static_cast<int32_t>(base_);
            r = lib_->decompress(fresh_ ? buffer_.data() : nullptr, static_cast<int32_t>(buffer_.size()), pcm_.data(),
                                0, &bytes, &position);
        }
        fresh_ = false;
        if (r != 0) {
            // the next buffer begins at the reported position: the unused rest, then more
            const uint32_t used = static_cast<uint32_t>(position) - base_;
            buffer_.erase(buffer_.begin(), buffer_.begin() + std::min<size_t>(used, buffer_.size()));
            base_ = static_cast<uint32_t>(position);
            lastPosition_ = -1;
            fresh_ = true;
            continue;
        }
        const uint32_t pos = static_cast<uint32_t>(position);
        lastPosition_ = position;
        // which frame it was, by its position
        // (a frame passed over was dropped: its offset for its silence; it is
        // kept all the same, so that the run of kept frames stays unbroken
        // and a takeover after it finds the reservoir)
        while (!frames_.empty() && static_cast<int32_t>(frames_.front().position - pos) < 0) {
            if (frames_.front().number >= expected_ && dropped_.size() < keptFrames)
                dropped_.push_back(frames_.front());
            Keep(frames_.front());
            frames_.pop_front();
        }
        const size_t at = pos - base_;
        FrameHeader h;
        if (bytes <= 0) {
            // a damaged frame, dropped: its silence, where it is known which
            // frame it was
            if (frames_.empty() || frames_.front().position != pos)
                continue;
            Keep(frames_.front());
            if (frames_.front().number < std::max(expected_, skipBelow_) || !(output_ || leadingSilence_))
                continue;
            Silence(frame, frames_.front().number,
                    at + 4 <= buffer_.size() && ParseFrameHeader(buffer_.data() + at, h) ? h : last_);
            return Emit(frame);
        }
        // a frame that starts where no frame was handed over is one the
        // decoder found inside another's bytes (a sync word in free-format
        // data): not audio of the stream
        if (frames_.empty() || frames_.front().position != pos)
            continue;
        frame.number = frames_.front().number;
        frame.offset = frames_.front().offset;
        Keep(frames_.front());
        if (frame.number < skipBelow_)
            continue;  // decoded again for a takeover: its output went out before

        // the frame's own format, from its header at the reported position
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
        return Emit(frame);
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
