// SPDX-License-Identifier: GPL-2.0-or-later
// Shared by the fuzz targets: the test host's protocol side (a clean decoder
// per input, exact-size buffers, the probe loop) and control bytes.
#ifndef VORLIX_FUZZHOST_H
#define VORLIX_FUZZHOST_H

#include <cstdint>
#include <cstring>
#include <vector>

#include "core/DecoderState.h"
#include "host/ProtocolHost.h"
#include "platform/Platform.h"
#include "vorlix.h"

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
