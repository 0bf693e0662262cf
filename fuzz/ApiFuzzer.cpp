// SPDX-License-Identifier: GPL-2.0-or-later
// Drives the whole public API as a host would, with the call shape chosen by
// a control prefix: buffer sizes, an output rate, the equalizer, seeks, extra
// Init/Exit calls and calls out of the usual order that the rules allow.
#include <algorithm>
#include <memory>

#include "FuzzHost.h"

namespace {

constexpr size_t controlBytes = 24;
const int32_t requests[16] = {0, 48000, 44100, 32000, 24000, 22050, 16000, 12000,
                              11025, 8000, 0, 96000, 44101, 1, -8000, 0};

size_t Size(uint8_t selector)
{
    static const size_t sizes[8] = {1, 7, 8, 9, 100, 417, 1500, 4096};
    return selector < 0xe0 ? sizes[selector & 7] + (selector >> 3) * 53 : size_t{1} << (selector & 15);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ResetDecoder();
    Control c(data, size, controlBytes);
    const size_t probeSize = Size(c.Next());
    const size_t refillSize = Size(c.Next());
    const int32_t request = requests[c.Next() & 15];
    const uint8_t eq = c.Next();
    int8_t bands[11];
    for (size_t i = 0; i < sizeof bands; ++i)
        bands[i] = static_cast<int8_t>(c.Next());
    const uint8_t seekAt = c.Next();
    const uint8_t oddCalls = c.Next();
    const uint8_t seekTo = c.Next();
    const uint8_t limit = c.Next();
    const uint8_t *stream = data + c.Used();
    const size_t length = size - c.Used();

    uint16_t text[3][VORLIX_TEXT_UNITS] = {};
    std::unique_ptr<uint8_t[]> out(new uint8_t[VORLIX_MAX_OUTPUT_BYTES]);
    int32_t bytes = 0, position = 0;

    if (oddCalls & 1) {  // decoding before anything else
        DecompressAudio(nullptr, 0, out.get(), 0, &bytes, &position);
    }
    if (oddCalls & 2)
        Init(eq & 1, (eq & 2) ? bands : nullptr);

    // probe: the next bytes after NeedMoreData, the unused rest after a count
    ProbeStream(stream, length, [&] { return probeSize; }, request, text[0], text[1], text[2]);
    size_t start = 0, end = 0;
    int32_t r;

    Init(eq & 1, (eq & 2) ? bands : nullptr);
    if (oddCalls & 4) {  // a closed decoder handed input
        Exit();
    }

    // decode from the start, refilling from the reported position
    size_t buffers = 0;
    const size_t maxBuffers = 64 + size_t{limit} * 16;
    std::vector<uint8_t> padded(stream, stream + length);
    padded.insert(padded.end(), 8, 0);
    // the library reads the current buffer until the next one is passed
    std::unique_ptr<ExactCopy> current;
    while (end < padded.size() && buffers++ < maxBuffers) {
        end = std::min(padded.size(), std::max(end, start) + refillSize);
        auto next = std::make_unique<ExactCopy>(padded.data() + start, end - start);
        const ExactCopy &buffer = *next;
        r = DecompressAudio(buffer.data(), buffer.size(), out.get(), 0, &bytes, &position);
        current = std::move(next);
        int frames = 0;
        while (r == 0 && frames++ < 200) {
            if (oddCalls & 8 && frames == 3)
                Init(eq & 1, nullptr);  // during decoding: only the equalizer changes
            r = DecompressAudio(nullptr, buffer.size(), out.get(), 0, &bytes, &position);
        }
        start += static_cast<size_t>(state.consumed);
        if (buffers == seekAt) {
            SeekStart();
            if (oddCalls & 16)
                SeekStart();
            start = end = (length * seekTo) / 256;
            SeekEnd();
        }
        if (oddCalls & 32 && buffers == 2) {
            Exit();
            Init(0, nullptr);
            start = end = 0;
        }
    }
    if (oddCalls & 64)
        DecompressAudio(nullptr, 0, out.get(), 0, &bytes, &position);
    Exit();
    return 0;
}
