// SPDX-License-Identifier: GPL-2.0-or-later
#include "format/Timeline.h"

#include <algorithm>

namespace {

constexpr int64_t decoderDelay = 529;

uint64_t Scale(int64_t samples, int32_t from, int32_t to)
{
    if (samples <= 0)
        return 0;
    // rounded to nearest
    return (static_cast<uint64_t>(samples) * static_cast<uint64_t>(to) + static_cast<uint64_t>(from) / 2) /
           static_cast<uint64_t>(from);
}

} // namespace

GaplessTrim Trim(int32_t delay, int32_t padding, int32_t streamRate, int32_t outputRate)
{
    GaplessTrim t;
    if (delay < 0 || padding < 0 || streamRate <= 0)
        return t;
    t.start = Scale(delay + decoderDelay, streamRate, outputRate);
    t.end = Scale(padding - decoderDelay, streamRate, outputRate);
    return t;
}

Timeline::Timeline(uint64_t begin, uint64_t end, uint64_t holdBack, int32_t channels)
    : begin_(begin), end_(std::max(begin, end)), holdBack_(holdBack),
      horizon_(end_ > UINT64_MAX - holdBack ? UINT64_MAX : end_ + holdBack),
      frameBytes_(2 * static_cast<size_t>(channels))
{
}

void Timeline::Push(uint64_t number, const uint8_t *pcm, size_t bytes, std::vector<uint8_t> &out)
{
    const uint64_t samples = bytes / frameBytes_;
    if (!started_) {
        started_ = true;
        perFrame_ = samples;
        position_ = number * samples;
    } else if (number > lastNumber_ + 1) {
        position_ += (number - lastNumber_ - 1) * perFrame_;
    }
    lastNumber_ = number;

    // the part of this frame inside [begin, end + holdBack) joins the held samples
    const uint64_t from = std::max(position_, begin_), to = std::min(position_ + samples, horizon_);
    if (from < to)
        held_.insert(held_.end(), pcm + (from - position_) * frameBytes_, pcm + (to - position_) * frameBytes_);
    position_ += samples;

    // what lies more than holdBack samples before the stream's current end goes out
    const uint64_t heldSamples = held_.size() / frameBytes_;
    if (heldSamples <= holdBack_)
        return;
    const uint64_t room = (end_ - begin_) - emitted_;
    const uint64_t ready = std::min(heldSamples - holdBack_, room);
    out.insert(out.end(), held_.begin(), held_.begin() + static_cast<long>(ready * frameBytes_));
    held_.erase(held_.begin(), held_.begin() + static_cast<long>((heldSamples - holdBack_) * frameBytes_));
    emitted_ += ready;
}

void Timeline::Finish(bool trimEnd, std::vector<uint8_t> &out)
{
    if (trimEnd)
        return;
    const uint64_t room = (end_ - begin_) - emitted_;
    const uint64_t ready = std::min<uint64_t>(held_.size() / frameBytes_, room);
    out.insert(out.end(), held_.begin(), held_.begin() + static_cast<long>(ready * frameBytes_));
    held_.clear();
    emitted_ += ready;
}
