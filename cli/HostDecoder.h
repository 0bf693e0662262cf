// SPDX-License-Identifier: GPL-2.0-or-later
// The host side of the calling protocol, shared by the command-line
// programs: finds the audio in an input, reads its header frame, probes it,
// and decodes it frame by frame into PCM of one format.
#ifndef VORLIX_CLI_HOSTDECODER_H
#define VORLIX_CLI_HOSTDECODER_H

#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "AudioReader.h"
#include "Io.h"
#include "format/FrameHeader.h"
#include "format/FrameIndex.h"
#include "format/HeaderFrame.h"
#include "vorlix.h"

struct TagText {
    uint16_t title[VORLIX_TEXT_UNITS] = {};
    uint16_t artist[VORLIX_TEXT_UNITS] = {};
    uint16_t album[VORLIX_TEXT_UNITS] = {};
};

/** One decoded frame in the output format: interleaved little-endian 16-bit
 *  samples. */
struct DecodedFrame {
    std::vector<uint8_t> pcm;
    uint64_t number = 0;         // audio frames before it in the stream (header frame not counted)
    FrameHeader header;          // of the frame as coded
    bool formatChanged = false;  // its rate or channels differ from the frame before
};

class HostDecoder {
public:
    enum class Status { Ok, NoAudio, ReadError };

    /** Finds the stream, reads its header frame and probes it, asking the
     *  library for rate (0: the first frame's rate, so that every frame
     *  comes out at that rate). */
    Status Open(Input &in, int32_t rate);

    const FrameHeader &First() const { return reader_.First(); }
    /** The first audio frame's header: after the header frame, if any. */
    const FrameHeader &AudioFirst() const { return audioFirst_; }
    const HeaderFrame &Header() const { return header_; }
    const TagText &Text() const { return text_; }
    int32_t Rate() const { return rate_; }          // of the output
    int32_t Channels() const { return channels_; }  // of the output: the first frame's
    AudioReader &Reader() { return reader_; }
    /** Offset of the first audio frame, after any header frame. */
    int64_t AudioStart() const { return audioStart_; }

    /** Notes every audio frame from the first to the end (a seekable input;
     *  the reader then stands at the end). */
    void Scan(FrameIndex &index);

    /** Opens the decoder (Init) and stands at the first audio frame. */
    bool Start(bool eq, const int8_t *bands);

    /** Goes to where sample `sample` (per channel, at the stream's rate,
     *  counted from the first audio frame) decodes as in a decode from the
     *  start: enough frames before its frame for the bit reservoir and the
     *  synthesis overlap to be whole (from a scan), between SeekStart and
     *  SeekEnd. The frames before it still come out; their numbers say so. */
    bool SeekToSample(const FrameIndex &index, uint64_t sample);

    /** Decodes the next frame with output; false at the end of the stream. */
    bool Next(DecodedFrame &frame);

    /** Audio frames read so far (whole frames, counted from the first audio
     *  frame, seeks included): at the end, the stream's length in frames. */
    uint64_t FramesRead() const { return nextNumber_; }

    /** At the end of the stream: whether the encoder's padding is there to
     *  be trimmed. A stream cut short of the frame count of its header frame
     *  has lost it, and keeps all its audio. */
    bool ReachedEnd() const { return !header_.CountBelievable() || nextNumber_ >= header_.frames; }

private:
    bool Probe(Input &in);
    bool ProbeFrames();
    void Restart(uint64_t number);

    Input *in_ = nullptr;
    AudioReader reader_;
    HeaderFrame header_;
    FrameHeader audioFirst_;
    int64_t audioStart_ = 0;
    TagText text_;
    int32_t rate_ = 0, channels_ = 0;
    // the protocol: the buffer handed over last, and the stream position of its first byte
    std::vector<uint8_t> buffer_;
    uint32_t base_ = 0;
    bool fresh_ = true;     // the next call passes a new buffer
    bool padded_ = false;   // the zero bytes after the end are in
    // frames in the buffer: stream position and number
    std::deque<std::pair<uint32_t, uint64_t>> frames_;
    uint64_t nextNumber_ = 0;  // of the next frame read
    std::vector<uint32_t> lengths_;
    FrameHeader last_;  // of the frame decoded last
    std::vector<uint8_t> pcm_ = std::vector<uint8_t>(VORLIX_MAX_OUTPUT_BYTES);
};

/** UTF-8 of zero-terminated 16-bit text. */
std::string Utf8(const uint16_t *text);

#endif
