// SPDX-License-Identifier: GPL-2.0-or-later
// The handle of libvorlixfile: an input, the stream found in it, what it
// says of itself, and the samples that go out (trimmed, sought, buffered).
#ifndef VORLIX_FILE_HANDLE_H
#define VORLIX_FILE_HANDLE_H

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "HostDecoder.h"
#include "Input.h"
#include "Source.h"
#include "StreamFacts.h"
#include "TagInfo.h"
#include "format/Timeline.h"
#include "vorlixfile.h"

struct VorlixFile {
    std::unique_ptr<Input> in;
    PushSource *push = nullptr;  // the input's source in push mode
    HostDecoder decoder;
    bool open = false;           // the stream is found and described
    bool described = false;      // open, or known to hold no stream
    bool smpb = false;           // the gapless trims come from iTunes' comment
    int describeError = 0;
    int64_t retryAt = 0;         // push mode: bytes to have before looking again

    FrameIndex index;            // of a seekable input
    StreamFacts facts;
    TagInfo tags;
    std::vector<std::pair<std::string, std::string>> pairs;

    int rateRequest = 0;
    bool stereo = false, gapless = true;
    bool eq = false;
    int8_t bands[11] = {};
    int gainMode = VF_REPLAYGAIN_OFF, gainExtra = 0;
    VorlixFileFormatCallback formatCallback = nullptr;
    void *formatUser = nullptr;

    bool started = false;  // decoding has begun: the output is fixed
    bool ended = false;
    int error = 0;         // what stops reading, once the samples before it are out
    GaplessTrim trim;
    Timeline timeline{0, UINT64_MAX, 0, 1};
    FrameClock clock;            // where each frame starts in the output
    std::vector<uint8_t> ready;  // samples out of the timeline, not yet read
    size_t readyFrom = 0;
    int64_t position = 0;        // of the next sample read
    int64_t readyOffset = -1;    // input offset of the frame pushed last
    DecodedFrame frame;
};

// Finds and describes the stream; VF_ENEEDMORE while pushed bytes are
// awaited. An input without audio still gives its tags.
int Describe(VorlixFile *f);

// Where each frame starts at an output rate: by the scan, or every frame
// as long as the first audio frame.
FrameClock Clock(VorlixFile *f, int32_t rate);

// The samples per channel that reads give at an output rate, from the
// frames counted and the gapless trims; -1 when the count is unknown. Every
// frame counted comes out (a dropped one as silence) at the length the
// converter makes of its format.
int64_t Length(VorlixFile *f, int32_t rate);

// The ReplayGain the tags and the header frame give, into a zeroed record:
// 0, or the code that keeps the input from being described.
int ReplayGainOf(VorlixFile *f, VorlixFileReplayGain &gain);

// The equalizer as the handle has it, ReplayGain added to the preamp.
void ApplyEqualizer(VorlixFile *f);

int StartDecoding(VorlixFile *f);

#endif
