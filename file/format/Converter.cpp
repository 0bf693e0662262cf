// SPDX-License-Identifier: GPL-2.0-or-later
#include "format/Converter.h"

namespace {

constexpr int32_t mpegRates[9] = {48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000};

bool MpegRate(int32_t rate)
{
    for (const int32_t r : mpegRates)
        if (r == rate)
            return true;
    return false;
}

} // namespace

int32_t ConvertedLength(int32_t from, int32_t length, int32_t to)
{
    if (from == to || !MpegRate(from) || !MpegRate(to))
        return length;
    if (length < 2)
        return 0;
    // the converter's walk over one frame: input samples per output sample
    // in 4.28 fixed point, rounded to nearest; a position within 0x80 of a
    // whole input sample snaps to it; an output needs both of its neighbours
    // inside the frame
    const uint32_t ratio = static_cast<uint32_t>(((uint64_t{static_cast<uint32_t>(from)} << 29) + static_cast<uint32_t>(to)) /
                                                 (2 * uint64_t{static_cast<uint32_t>(to)}));
    uint32_t position = 0;
    int32_t at = 0, outputs = 0;
    for (;;) {
        const int32_t whole = static_cast<int32_t>(position >> 28);
        if (length - at <= whole + 1)
            return outputs;
        at += whole;
        position &= 0x0fffffffu;
        ++outputs;
        position += ratio;
        const uint32_t snapped = position + 0x80;
        if ((snapped & 0x0fffff00u) == 0)
            position = snapped & 0xf0000000u;
    }
}
