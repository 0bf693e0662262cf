// SPDX-License-Identifier: GPL-2.0-or-later
// The host side of the calling protocol: finds the audio in an input, reads
// its header frame, and decodes it frame by frame into PCM of one format.
//
// Each HostDecoder decodes on a private copy of libvorlix of its own where
// one can be had (see Instance.h). Without one, HostDecoders share the
// process's copy under one lock: the one that calls it after another did
// takes it over (TakeOver.cpp: it restarts the decoder and decodes again,
// from bytes it keeps, the frames before its position that the synthesis
// and the bit reservoir need), so that each decodes within 1 LSB of its
// decode alone.
#ifndef VORLIX_FILE_HOSTDECODER_H
#define VORLIX_FILE_HOSTDECODER_H

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "AudioReader.h"
#include "Input.h"
#include "Instance.h"
#include "format/FrameHeader.h"
#include "format/FrameIndex.h"
#include "format/HeaderFrame.h"
#include "vorlix.h"

/** One decoded frame in the output format: interleaved little-endian 16-bit
 *  samples. */
struct DecodedFrame {
    std::vector<uint8_t> pcm;
    uint64_t number = 0;         // audio frames before it in the stream (header frame not counted)
    int64_t offset = -1;         // of its first byte in the input; -1 unknown
    FrameHeader header;          // of the frame as coded
    bool formatChanged = false;  // its rate or channels differ from the frame before
};

class HostDecoder {
public:
    enum class Status { Ok, NoAudio, ReadError, NeedInput };
    enum class Step { Frame, End, NeedInput, NoAudio };

    HostDecoder() = default;
    HostDecoder(const HostDecoder &) = delete;
    HostDecoder &operator=(const HostDecoder &) = delete;
    ~HostDecoder();

    /** Finds the stream and reads its header frame; the output is at rate
     *  (0: the first frame's rate, so that every frame comes out at that
     *  rate) with the first frame's channels, or two with stereo. Does not
     *  touch the decoder. NeedInput: pushed bytes are awaited; call again. */
    Status Open(Input &in, int32_t rate, bool stereo = false);

    /** The output, before Start: rate 0 for the first frame's; stereo
     *  makes a mono stream stereo. */
    void SetOutput(int32_t rate, bool stereo)
    {
        rate_ = rate != 0 ? rate : First().sampleRate;
        channels_ = stereo ? 2 : First().Channels();
    }

    /** Gapless information from elsewhere than the header frame (iTunes'
     *  comment), in LAME's terms. */
    void SetGapless(int32_t delay, int32_t padding)
    {
        header_.delay = delay;
        header_.padding = padding;
    }

    const FrameHeader &First() const { return reader_.First(); }
    /** The first audio frame's header: after the header frame, if any. */
    const FrameHeader &AudioFirst() const { return audioFirst_; }
    const HeaderFrame &Header() const { return header_; }
    int32_t Rate() const { return rate_; }          // of the output
    int32_t Channels() const { return channels_; }  // of the output
    AudioReader &Reader() { return reader_; }
    /** Offset of the first audio frame, after any header frame. */
    int64_t AudioStart() const { return audioStart_; }

    /** Notes every audio frame from the first to the end (a seekable input;
     *  the reader then stands at the end). */
    void Scan(FrameIndex &index);

    /** Stands at the first audio frame, to decode with the equalizer as
     *  given (bands: 11 dB values, or null). */
    bool Start(bool eq, const int8_t *bands);

    /** Changes the equalizer from the next frame on. */
    void SetEqualizer(bool eq, const int8_t *bands);

    /** Goes to where audio frame `frame` decodes as in a decode from the
     *  start: enough frames before it for the bit reservoir and the
     *  synthesis overlap to be whole (from a scan). The frames before it
     *  still come out; their numbers say so. */
    bool SeekToFrame(const FrameIndex &index, uint64_t frame);

    /** Decodes the next frame with output: Frame, End of the stream,
     *  NeedInput (pushed bytes are awaited), or NoAudio (no frame of the
     *  stream decodes). A frame that the decoder drops (its bit reservoir
     *  lies before the stream's start, or it is damaged) comes out as its
     *  length of silence, so that every frame read keeps its place in time;
     *  from an input of whole frames, only once a frame has come out (before
     *  that, the parser's timestamps place the first one). */
    Step Next(DecodedFrame &frame);

    /** Audio frames read so far (whole frames, counted from the first audio
     *  frame, seeks included): at the end, the stream's length in frames. */
    uint64_t FramesRead() const { return nextNumber_; }

    /** At the end of the stream: whether the encoder's padding is there to
     *  be trimmed. A stream cut short of the frame count of its header frame
     *  has lost it, and keeps all its audio. */
    bool ReachedEnd() const { return !header_.CountBelievable() || nextNumber_ >= header_.frames; }

    /** Whether it decodes on a private copy of the library (known once it
     *  has decoded). */
    bool Private() const { return instance_ != nullptr; }

    /** Who used a copy of the library last, and the output rate its
     *  converter was set to by the last probe (0: none yet). */
    struct Use {
        const HostDecoder *owner = nullptr;
        int32_t rate = 0;
    };

private:
    struct Pending {  // a frame in the buffer handed to the library
        uint32_t position;
        uint64_t number;
        uint32_t length;
        int64_t offset;   // in the input
    };
    struct Kept {  // a frame decoded lately, for a takeover
        uint64_t number;
        int64_t offset;
        std::vector<uint8_t> bytes;
        uint32_t mainData;   // bytes it lends to the frames after it
        uint32_t reservoir;  // bytes it may borrow from the frames before it
    };
    /** What a takeover hands the library: kept frames to decode again, then
     *  the frames still to decode. */
    struct Replay {
        std::vector<uint8_t> buffer;
        std::deque<Pending> frames;
        std::vector<uint32_t> lengths;
        uint64_t next = 0;  // the first frame still to decode
    };
    /** The outcome of one call of the library. */
    enum class Call { Decoded, Again, Stop };

    // the decoding steps of Next (HostDecoder.cpp)
    /** The frame held behind the silence of frames dropped before it. */
    Step HandOutHeld(DecodedFrame &frame);
    /** Reads the next frames into a new buffer, or pads the end: a step to
     *  return, or none to decode on. */
    bool Refill(DecodedFrame &frame, Step &step);
    /** One call of the library, taking it over first where another used it
     *  last: Decoded (result, bytes, position set), Again, or Stop at `step`. */
    Call Decode(int32_t &result, int32_t &bytes, int32_t &position, Step &step);
    /** After a call that wants more bytes: the next buffer begins at the
     *  reported position. */
    void Consume(int32_t position);
    /** The frames before the reported position, passed over: dropped. */
    void PassOver(uint32_t position);
    /** A frame at the reported position that the library dropped: its
     *  silence, when it is to come out. */
    bool Dropped(uint32_t position, DecodedFrame &frame);
    /** A decoded frame at the reported position: whether it is to come out,
     *  and then its samples in the output's channels. */
    bool Decoded(uint32_t position, int32_t bytes, DecodedFrame &frame);
    void ToChannels(const uint8_t *pcm, size_t bytes, int32_t channels, DecodedFrame &frame);

    /** Takes a private copy of the library, or the shared one. */
    void Attach();
    void Restart(uint64_t number);
    /** Hands out a frame, or first the silence of frames dropped before it. */
    Step Emit(DecodedFrame &frame);
    /** Frame `number` as silence of the format of `like`. */
    void Silence(DecodedFrame &frame, uint64_t number, const FrameHeader &like);

    // the takeover of the shared copy (TakeOver.cpp)
    /** Locks the shared copy; a private one needs no lock. */
    std::unique_lock<std::mutex> Lock() const;
    /** Makes the library this handle's again; under the lock. */
    bool TakeOver();
    /** Offset in the buffer of the first frame still to decode. */
    size_t Unused() const;
    /** The kept frame a replay up to kept frame `end` starts from. */
    size_t ReplayStart(size_t end) const;
    Replay MakeReplay() const;
    /** Sets the library up to decode the replay as this handle had it: the
     *  converter at its rate by a probe, or restarted. */
    bool Reset(const Replay &replay);
    bool Probe(const uint8_t *frames, size_t size, const std::vector<uint32_t> &lengths);
    /** Keeps a frame the library has gone past, decoded or not. */
    void Keep(const Pending &frame);

    Input *in_ = nullptr;
    std::unique_ptr<Instance> instance_;
    const DecoderCalls *lib_ = nullptr;  // null until attached
    Use *use_ = nullptr;                 // the copy's: its own, or the shared one
    Use ownUse_;
    AudioReader reader_;
    HeaderFrame header_;
    FrameHeader audioFirst_;
    int64_t audioStart_ = 0;
    int32_t rate_ = 0, channels_ = 0;
    bool eq_ = false;
    int8_t bands_[11] = {};
    bool restart_ = true;  // the next call restarts the decoder
    // the protocol: the buffer handed over last, and the stream position of its first byte
    std::vector<uint8_t> buffer_;
    uint32_t base_ = 0;
    bool fresh_ = true;     // the next call passes a new buffer
    bool padded_ = false;   // the zero bytes after the end are in
    std::deque<Pending> frames_;
    uint64_t nextNumber_ = 0;  // of the next frame read
    uint64_t skipBelow_ = 0;   // frames decoded again after a takeover: no output
    bool leadingSilence_ = true;  // frames dropped before the first output come out as silence too
    bool output_ = false;         // a frame came out since the last restart
    uint64_t expected_ = 0;       // the frame that comes out next
    std::deque<Pending> dropped_;  // frames passed over since the last output
    DecodedFrame held_;        // decoded, behind the silence of frames dropped before it
    bool holding_ = false;
    bool nothingLeft_ = false;  // a takeover found no whole frame to decode
    int64_t lastPosition_ = -1;  // of the frame decoded last in this buffer
    std::deque<Kept> kept_;
    std::vector<uint8_t> spare_;  // the block of a frame no longer kept, for the next
    std::vector<uint32_t> lengths_;
    std::vector<int64_t> offsets_;
    FrameHeader last_;  // of the frame decoded last
    std::vector<uint8_t> pcm_ = std::vector<uint8_t>(VORLIX_MAX_OUTPUT_BYTES);
};

/** Forgets who used the library last and what its converter was set to:
 *  for a process that put the library back to its state at load behind the
 *  handles' back (the tests do). */
void ForgetDecoderUse();

#endif
