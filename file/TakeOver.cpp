// SPDX-License-Identifier: GPL-2.0-or-later
// The shared copy of the library: who used it last, its lock, and how a
// handle takes it over. A takeover restarts the decoder and decodes again,
// from bytes the handle keeps, the frames before its position that its state
// depends on: the two frames before whole (the synthesis filter's memory
// reaches into the frame before the one before, whose overlap the frame
// before adds), and before them frames holding the bit reservoir those two
// borrow from.
#include <algorithm>

#include "HostDecoder.h"

namespace {

constexpr size_t streamGuard = 8;  // zero bytes after the end, so the last frame decodes
// The most frames kept, whatever their main data: frames of no main data at
// all would otherwise be kept without end.
constexpr size_t keptMost = 1024;

// The process's copy of the library, shared by handles without one of their own.
std::mutex libraryLock;
HostDecoder::Use shared;

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

std::unique_lock<std::mutex> HostDecoder::Lock() const
{
    return instance_ ? std::unique_lock<std::mutex>() : std::unique_lock<std::mutex>(libraryLock);
}

// Every frame the library went past is kept, dropped ones too, so that the
// run stays unbroken; the oldest go once the frames after them hold what a
// takeover needs.
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
    FrameHeader h;
    uint32_t mainData = 0, reservoir = 0;
    if (frame.length >= 4 && ParseFrameHeader(buffer_.data() + at, h)) {
        const uint32_t overhead = 4 + (h.crc ? 2 : 0) + static_cast<uint32_t>(h.SideInfoSize());
        mainData = frame.length > overhead ? frame.length - overhead : 0;
        reservoir = ReservoirBytes(h);
    }
    // the block of a frame no longer kept is reused: no allocation per frame
    std::vector<uint8_t> bytes = std::move(spare_);
    bytes.assign(buffer_.begin() + static_cast<long>(at), buffer_.begin() + static_cast<long>(at + frame.length));
    kept_.push_back({number, frame.offset, std::move(bytes), mainData, reservoir});
    size_t drop = ReplayStart(kept_.size());
    if (kept_.size() - drop > keptMost)
        drop = kept_.size() - keptMost;
    for (; drop > 0; --drop) {
        spare_ = std::move(kept_.front().bytes);
        kept_.pop_front();
    }
}

size_t HostDecoder::ReplayStart(size_t end) const
{
    // the frame before the one before (or the frame before), whole
    size_t first = end >= 2 ? end - 2 : 0;
    // before it, the frames whose main data it or the frames after it may
    // borrow (the largest reservoir among them: a frame without a header
    // read, or a change of version, must not cut the replay short)
    uint32_t reservoir = 0;
    for (size_t k = first; k < end && k < kept_.size(); ++k)
        reservoir = std::max(reservoir, kept_[k].reservoir);
    uint32_t held = 0;
    while (first > 0 && held < reservoir) {
        --first;
        held += kept_[first].mainData;
    }
    return first;
}

size_t HostDecoder::Unused() const
{
    // after the frame decoded last, or the whole buffer when it is still to
    // be passed
    if (fresh_)
        return 0;
    for (const Pending &p : frames_)
        if (static_cast<int64_t>(p.position) > lastPosition_ && p.position >= base_)
            return p.position - base_;
    return buffer_.size() - (padded_ ? streamGuard : 0);
}

HostDecoder::Replay HostDecoder::MakeReplay() const
{
    Replay replay;
    const size_t from = Unused();
    std::deque<Pending> pending;
    for (const Pending &p : frames_)
        if (int64_t{p.position} >= int64_t{base_} + static_cast<int64_t>(from))
            pending.push_back(p);
    replay.next = pending.empty() ? nextNumber_ : pending.front().number;

    // the kept frames before them (a takeover in the middle of a replay, or
    // of a seek's preroll, starts from a frame before the kept ones' last:
    // the run then ends at the frame before `next`)
    size_t first = 0, end = 0;
    if (!kept_.empty() && replay.next > kept_.front().number && replay.next - 1 <= kept_.back().number) {
        end = static_cast<size_t>(replay.next - kept_.front().number);
        first = ReplayStart(end);
    }
    for (size_t k = first; k < end; ++k) {
        const uint32_t length = static_cast<uint32_t>(kept_[k].bytes.size());
        replay.frames.push_back({static_cast<uint32_t>(replay.buffer.size()), kept_[k].number, length, kept_[k].offset});
        replay.lengths.push_back(length);
        replay.buffer.insert(replay.buffer.end(), kept_[k].bytes.begin(), kept_[k].bytes.end());
    }
    // then the frames still to decode, and the rest of the buffer (the end's
    // zero bytes, or a frame's beginning)
    const uint32_t shift = static_cast<uint32_t>(replay.buffer.size());
    for (Pending p : pending) {
        p.position = p.position - base_ - static_cast<uint32_t>(from) + shift;
        replay.frames.push_back(p);
        replay.lengths.push_back(p.length);
    }
    replay.buffer.insert(replay.buffer.end(), buffer_.begin() + static_cast<long>(from), buffer_.end());
    return replay;
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
    // the failed probe left the decoder pointing at the bytes above, which
    // go now, with the converter off: closed, it reads nothing until the
    // next user sets it up again
    lib_->exit();
    return false;
}

bool HostDecoder::Reset(const Replay &replay)
{
    // a decode from a start or a seek probes as a decode in a process of
    // its own does, so that whether it decodes never depends on who used
    // the library before
    if (use_->rate != rate_ || restart_) {
        if (!Probe(replay.buffer.data(), replay.buffer.size() - (padded_ ? streamGuard : 0), replay.lengths)) {
            // no one may go on from the state it left: whoever decodes
            // next takes the library over and probes
            use_->owner = nullptr;
            use_->rate = 0;
            return false;
        }
        use_->rate = rate_;
    } else {
        lib_->seekStart();
        lib_->seekEnd();
    }
    return true;
}

bool HostDecoder::TakeOver()
{
    Replay replay = MakeReplay();
    // no whole frame left to decode: the stream has ended, whoever used the
    // library before
    if (replay.lengths.empty()) {
        nothingLeft_ = true;
        return false;
    }
    // a failed probe leaves the handle as it was: the next call takes over
    // afresh, with what more frames have come
    if (!Reset(replay))
        return false;
    buffer_ = std::move(replay.buffer);
    frames_ = std::move(replay.frames);
    base_ = 0;
    fresh_ = true;
    lastPosition_ = -1;
    skipBelow_ = std::max(skipBelow_, replay.next);
    // then its equalizer (Init restarts the gain reduction after clipping)
    lib_->init(eq_ ? 1 : 0, eq_ ? bands_ : nullptr);
    use_->owner = this;
    restart_ = false;
    return true;
}
