// SPDX-License-Identifier: GPL-2.0-or-later
// Fixed-point helpers for the 4.28 format of libmad's mad_fixed_t.
#ifndef VORLIX_FIXEDMUL_H
#define VORLIX_FIXEDMUL_H

#include <cstdint>
#include <mad.h>

static_assert(MAD_F_ONE == 0x10000000, "libmad must use 28 fraction bits");
static_assert((-2 >> 1) == -1, "right shifts of negative values must be arithmetic");
static_assert(sizeof(mad_fixed_t) == 4, "mad_fixed_t must be 32 bits");

constexpr mad_fixed_t fixedOne = 0x10000000;

/** Clamps a 64-bit value to the 32-bit range. */
inline int32_t Saturate32(int64_t v)
{
    return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<int32_t>(v);
}

/** 32-bit sum and difference that stop at the limits instead of wrapping. */
inline int32_t SatAdd(int32_t a, int32_t b) { return Saturate32(int64_t{a} + b); }
inline int32_t SatSub(int32_t a, int32_t b) { return Saturate32(int64_t{a} - b); }

/** 4.28 signal x times 4.28 gain y: x is rounded to 20 significant bits
 *  (>> 12), y to 16 (>> 16), both halves upward; the product is 4.28 and
 *  stops at the 32-bit limits instead of wrapping. The operands are not
 *  interchangeable: the signal is always x. */
inline int32_t FixedMul(int32_t x, int32_t y)
{
    const int64_t a = (int64_t{x} + 0x800) >> 12;
    const int64_t b = (int64_t{y} + 0x8000) >> 16;
    return Saturate32(a * b);
}

// Lane forms: the same results as the scalar forms above, in 32-bit
// arithmetic without 64-bit products or branches, so that loops vectorise.

/** FixedMul's signal operand, (x + 0x800) >> 12, without the sum overflowing. */
inline int32_t SignalLane(int32_t x)
{
    return (x >> 12) + ((x >> 11) & 1);
}

/** SatAdd in 32-bit lanes: on overflow (a and b share the sign the sum lacks)
 *  the limit on a's side. */
inline int32_t SatAddLane(int32_t a, int32_t b)
{
    const int32_t s = static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
    return ((a ^ s) & (b ^ s)) < 0 ? (INT32_MAX ^ (a >> 31)) : s;
}

/** SatSub in 32-bit lanes: on overflow (a and b differ in sign and the
 *  difference lacks a's) the limit on a's side. */
inline int32_t SatSubLane(int32_t a, int32_t b)
{
    const int32_t d = static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
    return ((a ^ b) & (a ^ d)) < 0 ? (INT32_MAX ^ (a >> 31)) : d;
}

/** FixedMul(x, y) for a fraction 0 <= y <= fixedOne, in 32-bit lanes: the
 *  rounded factors are at most 2^19 and 2^12, and only their product 2^31
 *  passes the limit. */
inline int32_t FixedMulFractionLane(int32_t x, uint32_t y)
{
    const int32_t a = SignalLane(x);
    const int32_t b = static_cast<int32_t>((y + 0x8000u) >> 16);
    const int32_t p = static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
    return (a == 0x80000 && b == 0x1000) ? INT32_MAX : p;
}

/** FixedMul with its gain operand prepared once for many signal values, in
 *  32-bit lanes. For a gain whose rounded value b is non-negative; Valid()
 *  says so. */
struct FixedGain {
    int32_t b = 0;           // (y + 0x8000) >> 16
    int32_t hi = INT32_MAX;  // largest rounded x whose product with b fits in 32 bits
    int32_t lo = INT32_MIN;  // smallest

    FixedGain() = default;
    explicit FixedGain(int32_t y)
        : b(static_cast<int32_t>((int64_t{y} + 0x8000) >> 16)),
          hi(b > 0 ? INT32_MAX / b : INT32_MAX),
          lo(b > 0 ? static_cast<int32_t>(-((int64_t{1} << 31) / b)) : INT32_MIN)
    {
    }
    bool Valid() const { return b >= 0; }

    int32_t operator()(int32_t x) const
    {
        const int32_t a = SignalLane(x);
        const int32_t p = static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
        return a > hi ? INT32_MAX : a < lo ? INT32_MIN : p;
    }
};

// Hot loops get a wider-vector clone where the processor has one. Only for
// functions local to their file: clang resolves clones of external ones
// only within the file that defines them.
#if defined(__x86_64__) && defined(__GNUC__) && defined(__ELF__) && !defined(VORLIX_NO_CLONES)
#define VORLIX_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define VORLIX_VECTOR_CLONES
#endif

#endif
