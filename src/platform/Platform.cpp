// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/Platform.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

int64_t platformAllocCount = 0;
int32_t platformFailAfter = -1;

void *PlatformAlloc(size_t bytes)
{
    if (platformFailAfter == 0)
        return nullptr;
    if (platformFailAfter > 0)
        --platformFailAfter;
    void *block = std::malloc(bytes ? bytes : 1);
    if (block)
        ++platformAllocCount;
    return block;
}

void PlatformFree(void *block)
{
    std::free(block);
}

void PlatformCopy(void *to, const void *from, size_t bytes)
{
    if (bytes)
        std::memcpy(to, from, bytes);
}

double PlatformPow(double base, double exponent)
{
    return std::pow(base, exponent);
}

void PlatformTextToWide(const char *text, uint16_t *wide, int32_t room)
{
    if (room <= 0)
        return;
    int32_t n = 0;
    for (; n < room - 1 && text[n] != '\0'; ++n)
        wide[n] = static_cast<uint8_t>(text[n]);
    wide[n] = 0;
}
