// SPDX-License-Identifier: GPL-2.0-or-later
// Helpers shared by the tests: fixtures, a clean decoder, a host that follows
// the calling protocol, and an independent reference decode.
#ifndef VORLIX_TESTSUPPORT_H
#define VORLIX_TESTSUPPORT_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/DecoderState.h"
#include "host/ProtocolHost.h"
#include "platform/Platform.h"
#include "vorlix.h"

using Bytes = std::vector<uint8_t>;

Bytes ReadFixture(const std::string &name);


struct Decoded {
    Bytes pcm;
    std::vector<int32_t> positions;  // stream position of each frame with output
    int32_t dropped = 0;             // calls that returned 0 with no output
};

/** Gives the number of new bytes for the next buffer. */
using ChunkSizes = std::function<size_t()>;

/** Decodes a whole stream through DecompressAudio the way a host does: each
 *  new buffer is the unused rest plus the next chunk, and 8 zero bytes follow
 *  the end of the stream. Starts with Init(0, nullptr) unless told not to. */
Decoded DecodeStream(const Bytes &stream, const ChunkSizes &chunks, bool init = true);
Decoded DecodeStream(const Bytes &stream, size_t chunk, bool init = true);

/** Synthesised PCM of every frame, decoded with libmad alone, as 4.28 samples
 *  per channel, frame by frame. */
struct ReferenceFrame {
    unsigned channels;
    unsigned samplerate;
    std::vector<int32_t> left, right;
};
std::vector<ReferenceFrame> ReferenceSynthesis(const Bytes &stream);

/** Decodes the stream with libmad alone, frame by frame: each decoded frame
 *  goes to beforeSynthesis (which may change its subband samples), then
 *  through synthesis, its PCM to afterSynthesis. Damaged frames are passed
 *  over as the library does. */
void ReferenceDecode(const Bytes &stream, const std::function<void(mad_frame &)> &beforeSynthesis,
                     const std::function<void(const mad_pcm &)> &afterSynthesis);

/** The output rule, written out plainly: error feedback, clipping, 16 bits.
 *  Write returns the largest clipping excess that counts (see WritePcm). */
struct ReferenceOutput {
    int32_t residue[2] = {0, 0};
    int32_t Write(Bytes &out, const std::vector<int32_t> &left, const std::vector<int32_t> *right);
};

/** A frame's samples through a fresh converter from one rate to another, as
 *  the decoding call converts every frame. */
std::vector<mad_fixed_t> ConvertFresh(const std::vector<mad_fixed_t> &in, uint32_t from, uint32_t to);

/** Offsets of the Layer III frame headers of a clean stream. */
std::vector<size_t> FrameOffsets(const Bytes &stream);

#endif
