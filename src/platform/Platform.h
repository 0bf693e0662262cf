// SPDX-License-Identifier: GPL-2.0-or-later
// The few operating-system services the decoder relies on: the heap, memory
// copy, the power function and 8-bit to wide-character text conversion.
#ifndef VORLIX_PLATFORM_H
#define VORLIX_PLATFORM_H

#include <cstddef>
#include <cstdint>

// Heap shared with libmad and libid3tag: PlatformFree also releases blocks
// that those libraries handed out.
void *PlatformAlloc(size_t bytes);
void PlatformFree(void *block);
void PlatformCopy(void *to, const void *from, size_t bytes);

double PlatformPow(double base, double exponent);

// Converts zero-terminated 8-bit text (each byte read as Latin-1) to 16-bit
// units, terminator included, into room units at most. Text that does not fit
// is cut to room - 1 characters and terminated. Units after the terminator
// keep what they held.
void PlatformTextToWide(const char *text, uint16_t *wide, int32_t room);

// Test hooks: a count of successful PlatformAlloc calls, and a countdown that
// makes the allocation after that many succeed-able ones fail (-1: never).
// They stay in the shipped library (hidden, an increment and a compare per
// allocation, a few per stream) so that the tests run the very objects that ship.
extern int64_t platformAllocCount;
extern int32_t platformFailAfter;

#endif
