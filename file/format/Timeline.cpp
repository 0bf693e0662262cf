// SPDX-License-Identifier: GPL-2.0-or-later
#include "format/Timeline.h"

#include <algorithm>
#include <map>
#include <tuple>

#include "format/Converter.h"

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

FrameClock::FrameClock(int32_t outputRate, int32_t rate, int32_t length)
    : runs_{{0, 0, ConvertedLength(rate, length, outputRate)}}
{
}

FrameClock::FrameClock(int32_t outputRate, const FrameIndex &index)
{
    // a hostile stream may change format at every frame: each format's
    // count is worked out once
    std::map<std::pair<int32_t, int32_t>, int32_t> lengths;
    uint64_t start = 0, first = 0;
    int32_t last = 0;
    for (const FrameIndex::Run &r : index.Runs()) {
        start += (r.first - first) * static_cast<uint64_t>(last);
        auto [at, fresh] = lengths.try_emplace({r.rate, r.length}, 0);
        if (fresh)
            at->second = ConvertedLength(r.rate, r.length, outputRate);
        runs_.push_back({r.first, start, at->second});
        first = r.first;
        last = at->second;
    }
}

uint64_t FrameClock::Start(uint64_t frame) const
{
    if (runs_.empty())
        return 0;
    // the last run that begins at or before the frame
    auto r = std::upper_bound(runs_.begin(), runs_.end(), frame, [](uint64_t n, const Run &run) { return n < run.first; });
    --r;
    return r->start + (frame - r->first) * static_cast<uint64_t>(r->length);
}

uint64_t FrameClock::FrameAt(uint64_t sample) const
{
    if (runs_.empty())
        return 0;
    auto r = std::upper_bound(runs_.begin(), runs_.end(), sample, [](uint64_t s, const Run &run) { return s < run.start; });
    --r;
    return r->length > 0 ? r->first + (sample - r->start) / static_cast<uint64_t>(r->length) : r->first;
}

Timeline::Timeline(uint64_t begin, uint64_t end, uint64_t holdBack, int32_t channels)
    : begin_(begin), end_(std::max(begin, end)), holdBack_(holdBack),
      horizon_(end_ > UINT64_MAX - holdBack ? UINT64_MAX : end_ + holdBack),
      frameBytes_(2 * static_cast<size_t>(channels))
{
}

void Timeline::Push(uint64_t number, uint64_t start, const uint8_t *pcm, size_t bytes, std::vector<uint8_t> &out)
{
    const uint64_t samples = bytes / frameBytes_;
    if (!started_ || (number > lastNumber_ + 1 && start > position_))
        position_ = start;
    started_ = true;
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
