// SPDX-License-Identifier: GPL-2.0-or-later
// Reading: the decoding starts with the output fixed, the frames go through
// the timeline, and the samples out of it to the host.
#include "vorlixfile.h"

#include <algorithm>
#include <cstdint>
#include <new>

#include "Handle.h"
#include "HostDecoder.h"
#include "Input.h"
#include "format/Timeline.h"

int StartDecoding(VorlixFile *f)
{
    if (f->started)
        return 0;
    const int r = Describe(f);
    if (r < 0)
        return r;
    f->decoder.SetOutput(f->rateRequest, f->stereo);
    if (!f->decoder.Start(false, nullptr))
        return VF_EREAD;
    ApplyEqualizer(f);
    const HeaderFrame &h = f->decoder.Header();
    f->trim = f->gapless && h.Gapless() ? Trim(h.delay, h.padding, f->facts.rate, f->decoder.Rate()) : GaplessTrim{};
    f->timeline = Timeline(f->trim.start, UINT64_MAX, f->trim.end, f->decoder.Channels());
    f->clock = Clock(f, f->decoder.Rate());
    f->started = true;
    return 0;
}

namespace {

// Decodes until `want` bytes are ready or the stream ends; a code when it
// cannot go on.
int Decode(VorlixFile *f, size_t want)
{
    while (f->ready.size() - f->readyFrom < want && !f->ended) {
        switch (f->decoder.Next(f->frame)) {
        case HostDecoder::Step::NeedInput:
            return VF_ENEEDMORE;
        case HostDecoder::Step::NoAudio:
            f->ended = true;
            f->error = VF_ENOTAUDIO;
            return 0;
        case HostDecoder::Step::End:
            f->ended = true;
            if (f->in->Failed())
                f->error = VF_EREAD;
            else
                f->timeline.Finish(f->decoder.ReachedEnd(), f->ready);
            return 0;
        case HostDecoder::Step::Frame:
            break;
        }
        if (f->readyFrom > (1u << 16)) {
            f->ready.erase(f->ready.begin(), f->ready.begin() + static_cast<long>(f->readyFrom));
            f->readyFrom = 0;
        }
        if (f->frame.formatChanged && f->formatCallback != nullptr) {
            const uint64_t at = f->timeline.Position();
            f->formatCallback(f->formatUser, static_cast<int64_t>(at > f->trim.start ? at - f->trim.start : 0),
                              f->frame.header.sampleRate, f->frame.header.Channels());
        }
        f->timeline.Push(f->frame.number, f->clock.Start(f->frame.number), f->frame.pcm.data(), f->frame.pcm.size(), f->ready);
        f->readyOffset = f->frame.offset;
    }
    return 0;
}

// Hands out `have` samples per channel of the ready ones.
void Take(VorlixFile *f, int16_t *pcm, size_t have)
{
    // little-endian bytes to native samples
    const size_t values = have * static_cast<size_t>(f->decoder.Channels());
    const uint8_t *p = f->ready.data() + f->readyFrom;
    for (size_t i = 0; i < values; ++i)
        pcm[i] = static_cast<int16_t>(p[2 * i] | (p[2 * i + 1] << 8));
    f->readyFrom += 2 * values;
    f->position += static_cast<int64_t>(have);
}

} // namespace

extern "C" {

VORLIXFILE_API int vf_read(VorlixFile *f, int16_t *pcm, int samples)
try {
    if (f == nullptr || pcm == nullptr || samples < 0)
        return VF_EINVAL;
    // nothing asked: not a read, so the output can still be chosen
    if (samples == 0)
        return 0;
    if (const int r = StartDecoding(f); r < 0)
        return r;
    const size_t frameBytes = 2 * static_cast<size_t>(f->decoder.Channels());
    const size_t want = static_cast<size_t>(samples) * frameBytes;
    const int r = Decode(f, want);
    const size_t have = std::min(want, f->ready.size() - f->readyFrom) / frameBytes;
    if (have == 0)
        return r < 0 ? r : f->error;
    Take(f, pcm, have);
    return static_cast<int>(have);
} catch (const std::bad_alloc &) {
    return VF_EFAULT;
}

VORLIXFILE_API int vf_read_frame(VorlixFile *f, int16_t *pcm, int samples, int64_t *offset)
try {
    if (f == nullptr || pcm == nullptr || samples < 0)
        return VF_EINVAL;
    if (samples == 0)
        return 0;
    if (const int r = StartDecoding(f); r < 0)
        return r;
    const size_t frameBytes = 2 * static_cast<size_t>(f->decoder.Channels());
    // the rest of the frame read last, or the next frame with samples
    const int r = f->ready.size() == f->readyFrom ? Decode(f, 1) : 0;
    const size_t have = std::min(static_cast<size_t>(samples) * frameBytes, f->ready.size() - f->readyFrom) / frameBytes;
    if (have == 0)
        return r < 0 ? r : f->error;
    if (offset != nullptr)
        *offset = f->readyOffset;
    Take(f, pcm, have);
    return static_cast<int>(have);
} catch (const std::bad_alloc &) {
    return VF_EFAULT;
}

} // extern "C"
