// SPDX-License-Identifier: GPL-2.0-or-later
#include "StreamFacts.h"

uint64_t StreamFacts::Samples() const
{
    const uint64_t all = frames * static_cast<uint64_t>(samplesPerFrame);
    return all > trim.start + trim.end ? all - trim.start - trim.end : 0;
}

StreamFacts Describe(const HostDecoder &decoder, const FrameIndex *scan, bool gapless)
{
    const FrameHeader &first = decoder.First();
    const HeaderFrame &header = decoder.Header();
    StreamFacts f;
    f.rate = first.sampleRate;
    f.samplesPerFrame = first.SamplesPerFrame();
    if (scan != nullptr) {
        f.frames = scan->Frames();
        f.known = f.scanned = true;
    } else if (header.CountBelievable()) {
        f.frames = header.frames;
        f.known = true;
    }
    if (gapless && header.Gapless()) {
        f.trim = Trim(header.delay, header.padding, f.rate, f.rate);
        // a stream cut short of its header frame's count has lost its padding
        if (scan != nullptr && header.CountBelievable() && scan->Frames() < header.frames)
            f.trim.end = 0;
    }

    f.mode = header.Mode();
    if (f.mode == BitrateMode::Unknown && scan != nullptr)
        f.mode = scan->ConstantBitrate() ? BitrateMode::Cbr : BitrateMode::Vbr;
    f.bitrate = decoder.AudioFirst().bitrate;  // not the header frame's
    if (f.mode != BitrateMode::Cbr && f.known && f.frames > 0) {
        const uint64_t bytes = scan != nullptr ? scan->Bytes() : header.bytes;
        const uint64_t samples = f.frames * static_cast<uint64_t>(f.samplesPerFrame);
        if (bytes > 0)
            f.bitrate = static_cast<int32_t>((bytes * 8 * static_cast<uint64_t>(f.rate) + samples / 2) / samples);
    }
    return f;
}
