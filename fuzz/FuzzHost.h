// SPDX-License-Identifier: GPL-2.0-or-later
// Shared by the fuzz targets: a clean decoder per input, and exact-size
// copies of every buffer handed to the library so that AddressSanitizer sees
// any read past its end.
#ifndef VORLIX_FUZZHOST_H
#define VORLIX_FUZZHOST_H

#include <cstdint>
#include <cstring>
#include <vector>

#include "core/DecoderState.h"
#include "platform/Platform.h"
#include "vorlix.h"

/** Back to the state at load, so that every input starts alike (the tag step
 *  reads one tag per load). */
inline void ResetLibrary()
{
    Exit();
    PlatformFree(state.tagBuffer);
    state = DecoderState{};
}

/** A heap copy of exactly n bytes (at least one, so the pointer is real). */
class ExactCopy {
public:
    ExactCopy(const uint8_t *data, size_t n) : bytes_(new uint8_t[n ? n : 1]), size_(n)
    {
        if (n)
            std::memcpy(bytes_, data, n);
    }
    ~ExactCopy() { delete[] bytes_; }
    ExactCopy(const ExactCopy &) = delete;
    ExactCopy &operator=(const ExactCopy &) = delete;
    const uint8_t *data() const { return bytes_; }
    int32_t size() const { return static_cast<int32_t>(size_); }

private:
    uint8_t *bytes_;
    size_t size_;
};

/** Reads control bytes from the front of the input, zeros once used up. */
class Control {
public:
    Control(const uint8_t *data, size_t n, size_t take) : data_(data), n_(n < take ? n : take) {}
    uint8_t Next() { return at_ < n_ ? data_[at_++] : 0; }
    size_t Used() const { return n_; }

private:
    const uint8_t *data_;
    size_t n_, at_ = 0;
};

#endif
