/* SPDX-License-Identifier: GPL-2.0-or-later */
/* vorlixdec's instance record and the stages that share it: the class and
 * its properties (VorlixDec.cpp), the handle's feeding (Feeding.cpp) and the
 * queue of frames with their clipping (FrameOutput.cpp). */
#ifndef VORLIX_GST_VORLIXDECSTATE_H
#define VORLIX_GST_VORLIXDECSTATE_H

#include <gst/audio/audio.h>

#include <cstdint>
#include <deque>
#include <vector>

#include "VorlixDec.h"
#include "vorlixfile.h"

GST_DEBUG_CATEGORY_EXTERN(vorlixdec_debug);

namespace vorlixdec {

// A frame the base class holds until it is finished, oldest first; or a
// frame fed again for its bit reservoir, which it does not hold.
struct Pending {
    int64_t start, end;          // its bytes in the handle's input; equal for a frame not fed
    guint64 clipStart, clipEnd;  // samples at the stream's rate, from the parser
    bool preroll;                // fed again: its samples are not output
};

// Samples per channel of a frame at the most: 1152 converted from 8 to 48 kHz.
constexpr int maxFrameSamples = 1152 * 6;
// Frames before a handle's first output that may lack their bit reservoir
// (it starts after a seek): dropped without counting as errors. As many of
// the last frames are kept to feed again after a discontinuity where
// nothing was lost, which ends a handle: the next one then decodes on as
// the last would have.
constexpr unsigned reservoirFrames = 16;

// eq-preset: off, or libvorlixfile's preset i as value i + 1
enum EqPresetValue { EQ_OFF };

} // namespace vorlixdec

struct _GstVorlixDec {
    GstAudioDecoder parent;

    VorlixFile *file;               // the stream's handle; null until its first frame
    int64_t fed;                    // bytes fed to it
    std::deque<vorlixdec::Pending> *pending;  // frames handed over, not yet finished
    std::deque<std::vector<uint8_t>> *kept;   // the last frames fed, oldest first
    gboolean resume;                // drained at a discontinuity: the next handle may continue the stream
    GstClockTime nextPts;           // where the frame after the last one fed starts; NONE unknown
    GstClockTime lastDuration;      // the last fed frame's, where nextPts is known
    guint64 nextOffset;             // the byte after the last fed frame upstream; GST_BUFFER_OFFSET_NONE unknown
    std::vector<int16_t> *pcm;
    gboolean decoded;               // the handle has given a frame
    unsigned silent;                // frames dropped before its first output
    gint inRate, outRate, channels; // of the handle's stream and output
    guint64 clippedIn, clippedOut;  // the start trimmed so far, at the stream's and the output rate

    // properties, under the object lock
    gint rate;
    gint preset;
    gboolean custom;  // eq-bands given: they stand for the preset
    int8_t bands[11];
    gboolean eqChanged;
};

namespace vorlixdec {

// FrameOutput.cpp: the frames the handle gives, to the base class
GstFlowReturn FinishUndecoded(GstVorlixDec *dec, int64_t before);
GstFlowReturn PushFrame(GstVorlixDec *dec, int samples);

// Feeding.cpp: the base class's calls for the stream
gboolean Start(GstAudioDecoder *base);
gboolean Stop(GstAudioDecoder *base);
gboolean SetFormat(GstAudioDecoder *base, GstCaps *caps);
void Flush(GstAudioDecoder *base, gboolean hard);
GstFlowReturn HandleFrame(GstAudioDecoder *base, GstBuffer *buffer);
// A STREAM_START after the base class has drained the last stream.
void StreamStarted(GstVorlixDec *dec);

} // namespace vorlixdec

#endif
