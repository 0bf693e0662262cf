// SPDX-License-Identifier: GPL-2.0-or-later
// What a host knows of a stream before decoding it: its length (exact from a
// header frame or a scan), the gapless trims, the kind of bit rate.
#ifndef VORLIX_FILE_STREAMFACTS_H
#define VORLIX_FILE_STREAMFACTS_H

#include <cstdint>
#include <string>

#include "HostDecoder.h"
#include "format/FrameIndex.h"
#include "format/HeaderFrame.h"
#include "format/Timeline.h"

struct StreamFacts {
    uint64_t frames = 0;       // audio frames, header frame not counted; 0 when unknown
    bool known = false;        // frames counted by a header frame or a scan
    bool scanned = false;      // by a scan of the frame headers
    int32_t samplesPerFrame = 0;
    int32_t rate = 0;          // the stream's
    GaplessTrim trim;          // at the stream's rate; zero without gapless information
    BitrateMode mode = BitrateMode::Unknown;
    int32_t bitrate = 0;       // bits per second, the average for VBR and ABR

    /** Samples per channel at the stream's rate, trims applied. */
    uint64_t Samples() const;
};

/** The facts from the header frame and, when given, a scan (which wins where
 *  the two disagree). gapless: apply the encoder's delay and padding. */
StreamFacts Describe(const HostDecoder &decoder, const FrameIndex *scan, bool gapless);

#endif
