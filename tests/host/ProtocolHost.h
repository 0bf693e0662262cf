// SPDX-License-Identifier: GPL-2.0-or-later
// The host side of the calling protocol as the tests and the fuzz targets
// drive it: a clean decoder, exact-size buffers and the probe's refill loop.
#ifndef VORLIX_TESTS_PROTOCOLHOST_H
#define VORLIX_TESTS_PROTOCOLHOST_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>

#include "vorlix.h"

/** Puts the decoder record back to its state at load (blocks released, the
 *  allocation countdown off), so that every case starts alike: the tag step
 *  reads one tag per load. */
void ResetDecoder();

/** A heap copy of exactly n bytes (at least one, so the pointer is real):
 *  AddressSanitizer then sees any read past a buffer's end. */
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

struct Probed {
    int32_t result = NeedMoreData;  // of the last call: 0 when the probe succeeded
    int32_t rate = 0, channels = 0, bitRate = 0;
    size_t end = 0;                 // stream bytes handed over
};

/** Probes an in-memory stream as a host does: after NeedMoreData the next
 *  next() bytes, after a count n the last n bytes of the buffer and then
 *  next() more; each buffer an exact-size copy. Asks for rate `request`;
 *  title, artist and album receive the tag text. seen(result, buffer size)
 *  follows every call. Stops at success or when the stream is used up. */
Probed ProbeStream(const uint8_t *stream, size_t length, const std::function<size_t()> &next, int32_t request,
                   uint16_t *title, uint16_t *artist, uint16_t *album,
                   const std::function<void(int32_t, size_t)> &seen = nullptr);

/** The seed of a random test: VORLIX_SEED from the environment when it is
 *  set (to replay a failure), a fresh one otherwise. */
uint32_t TestSeed();
/** What a random test says of its seed when it fails. */
std::string SeedNote(uint32_t seed);

#endif
