// SPDX-License-Identifier: GPL-2.0-or-later
#include "host/ProtocolHost.h"

#include <algorithm>
#include <cstdlib>
#include <random>

#include "core/DecoderState.h"
#include "platform/Platform.h"

void ResetDecoder()
{
    Exit();
    PlatformFree(state.tagBuffer);
    state = DecoderState{};
    platformFailAfter = -1;
}

Probed ProbeStream(const uint8_t *stream, size_t length, const std::function<size_t()> &next, int32_t request,
                   uint16_t *title, uint16_t *artist, uint16_t *album,
                   const std::function<void(int32_t, size_t)> &seen)
{
    Probed p;
    size_t start = 0;
    while (p.end < length) {
        p.end = std::min(length, p.end + std::max<size_t>(1, next()));
        const ExactCopy buffer(stream + start, p.end - start);
        p.rate = request;
        p.result = GetHeaderInfo(buffer.data(), buffer.size(), &p.rate, &p.channels, &p.bitRate, title, artist, album);
        if (seen)
            seen(p.result, p.end - start);
        if (p.result == 0)
            break;
        const size_t size = p.end - start;
        start = (p.result == NeedMoreData || static_cast<size_t>(p.result) > size) ? p.end
                                                                                  : p.end - static_cast<size_t>(p.result);
    }
    return p;
}

uint32_t TestSeed()
{
    if (const char *text = std::getenv("VORLIX_SEED"))
        return static_cast<uint32_t>(std::strtoul(text, nullptr, 10));
    return std::random_device{}();
}

std::string SeedNote(uint32_t seed)
{
    return "seed " + std::to_string(seed) + " (replay with VORLIX_SEED=" + std::to_string(seed) + ")";
}
