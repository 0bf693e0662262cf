// SPDX-License-Identifier: GPL-2.0-or-later
// The header frame an encoder writes first (Xing or Info, with LAME's
// extension, or VBRI): frame and byte counts, a seek table and the encoder's
// delay and padding. The frame itself decodes to silence.
#ifndef VORLIX_FILE_HEADERFRAME_H
#define VORLIX_FILE_HEADERFRAME_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "format/FrameHeader.h"

enum class HeaderKind : uint8_t { None, Xing, Info, Vbri };
enum class BitrateMode : uint8_t { Unknown, Cbr, Abr, Vbr };

struct HeaderFrame {
    HeaderKind kind = HeaderKind::None;
    uint32_t frames = 0;       // audio frames after this one; 0 when not given
    uint32_t bytes = 0;        // stream bytes; 0 when not given
    bool hasToc = false;
    uint8_t toc[100] = {};     // Xing: byte position in 1/256 of bytes at each 1 % of the time
    int32_t quality = -1;
    // LAME's extension (also written by other encoders, e.g. "Lavc...")
    bool hasLame = false;
    std::string encoder;       // up to 9 characters
    uint8_t lameMethod = 0;    // 1 CBR, 2 ABR, 3..6 VBR, 8 CBR two-pass, 9 ABR two-pass
    int32_t delay = -1;        // samples the encoder added at the start, -1 when unknown
    int32_t padding = -1;      // and at the end
    bool crcValid = false;     // the extension's CRC of the frame's first 190 bytes matches
    bool hasTrackGain = false, hasAlbumGain = false;  // ReplayGain in the extension
    double trackGain = 0, albumGain = 0;              // dB
    double peak = 0;                                  // linear, 1.0 full scale

    BitrateMode Mode() const;
    /** A frame count that can be believed: given, and not absurdly large. */
    bool CountBelievable() const { return frames > 0 && frames <= (1u << 25); }
    /** Encoder delay and padding are known: the stream can be trimmed. */
    bool Gapless() const { return delay >= 0 && padding >= 0; }
};

/** Reads the header frame from the first frame of a stream: p holds its n
 *  bytes, h its header. kind is None when the frame is ordinary audio. */
HeaderFrame ParseHeaderFrame(const uint8_t *p, size_t n, const FrameHeader &h);

/** CRC-16 (polynomial 0x8005, reflected, initial 0) as LAME computes it. */
uint16_t LameCrc(const uint8_t *p, size_t n);

#endif
