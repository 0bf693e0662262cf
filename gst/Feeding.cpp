// SPDX-License-Identifier: GPL-2.0-or-later
// vorlixdec's handle: opened at a stream's first frame, fed each frame the
// parser hands over, drained at the end and at a discontinuity. After a
// discontinuity where nothing was lost, the next handle is fed the last
// frames again so that it decodes on as the last would have; a new stream,
// a seek or lost frames start a handle that knows nothing of before.
#include <cstring>

#include "VorlixDecState.h"

#define GST_CAT_DEFAULT vorlixdec_debug

namespace vorlixdec {
namespace {

void CloseHandle(GstVorlixDec *dec)
{
    vf_free(dec->file);
    dec->file = nullptr;
    dec->fed = 0;
    dec->pending->clear();
    dec->decoded = FALSE;
    dec->silent = 0;
    dec->clippedIn = dec->clippedOut = 0;
}

// Nothing of the last stream is kept.
void Reset(GstVorlixDec *dec)
{
    CloseHandle(dec);
    dec->kept->clear();
    dec->resume = FALSE;
    dec->nextPts = dec->lastDuration = GST_CLOCK_TIME_NONE;
    dec->nextOffset = GST_BUFFER_OFFSET_NONE;
}

// Keeps a fed frame; the oldest one's block is reused.
void KeepFrame(GstVorlixDec *dec, const uint8_t *data, size_t size)
{
    std::vector<uint8_t> block;
    if (dec->kept->size() >= reservoirFrames) {
        block = std::move(dec->kept->front());
        dec->kept->pop_front();
    }
    block.assign(data, data + size);
    dec->kept->push_back(std::move(block));
}

// Where the frame after this one starts, in time and in the input's bytes.
void NoteFollower(GstVorlixDec *dec, GstBuffer *buffer, size_t size)
{
    const bool timed = GST_BUFFER_PTS_IS_VALID(buffer) && GST_BUFFER_DURATION_IS_VALID(buffer);
    dec->nextPts = timed ? GST_BUFFER_PTS(buffer) + GST_BUFFER_DURATION(buffer) : GST_CLOCK_TIME_NONE;
    dec->lastDuration = timed ? GST_BUFFER_DURATION(buffer) : GST_CLOCK_TIME_NONE;
    dec->nextOffset =
        GST_BUFFER_OFFSET_IS_VALID(buffer) ? GST_BUFFER_OFFSET(buffer) + size : GST_BUFFER_OFFSET_NONE;
}

// Whether a buffer after a discontinuity follows the last frame fed. Time
// decides where both have it: the parser marks a discontinuity where it
// skipped junk, and the time there goes on while the bytes jump. Without
// time, the bytes decide; with neither, the stream is taken to go on.
bool Continues(const GstVorlixDec *dec, GstBuffer *buffer)
{
    if (GST_BUFFER_PTS_IS_VALID(buffer) && GST_CLOCK_TIME_IS_VALID(dec->nextPts)) {
        // within half a frame: time stamps rounded to the nanosecond
        const GstClockTime pts = GST_BUFFER_PTS(buffer);
        return (pts > dec->nextPts ? pts - dec->nextPts : dec->nextPts - pts) <= dec->lastDuration / 2;
    }
    if (GST_BUFFER_OFFSET_IS_VALID(buffer) && dec->nextOffset != GST_BUFFER_OFFSET_NONE)
        return GST_BUFFER_OFFSET(buffer) == dec->nextOffset;
    return true;
}

void Feed(GstVorlixDec *dec, const uint8_t *data, size_t size, Pending p)
{
    vf_feed(dec->file, data, size);
    p.start = dec->fed;
    p.end = dec->fed += static_cast<int64_t>(size);
    dec->pending->push_back(p);
}

// A handle for the frames from `first` on: fed the kept frames first where
// the last handle ended at a discontinuity that lost nothing.
gboolean OpenHandle(GstVorlixDec *dec, GstBuffer *first)
{
    int error = 0;
    dec->file = vf_open_frames(&error);
    if (dec->file == nullptr) {
        GST_ELEMENT_ERROR(dec, LIBRARY, INIT, (nullptr), ("cannot open a decoder: %s", vf_strerror(error)));
        return FALSE;
    }
    // the parser's clipping meta trims: the handle keeps every frame whole
    vf_set_gapless(dec->file, 0);
    GST_OBJECT_LOCK(dec);
    vf_set_output(dec->file, dec->rate, 0);
    dec->eqChanged = TRUE;
    GST_OBJECT_UNLOCK(dec);
    if (dec->resume && !Continues(dec, first)) {
        // frames are missing: the ones before the gap are no reservoir of
        // the ones after it
        GST_DEBUG_OBJECT(dec, "frames lost before %" GST_TIME_FORMAT ": a fresh start",
                         GST_TIME_ARGS(GST_BUFFER_PTS(first)));
        dec->kept->clear();
    }
    if (dec->resume)
        for (const std::vector<uint8_t> &frame : *dec->kept)
            Feed(dec, frame.data(), frame.size(), Pending{0, 0, 0, 0, true});
    dec->resume = FALSE;
    return TRUE;
}

// Hands the handle the equalizer set since the last frame.
void ApplyEqualizer(GstVorlixDec *dec)
{
    int8_t bands[11] = {};
    gboolean on = TRUE;
    GST_OBJECT_LOCK(dec);
    if (!dec->eqChanged || dec->file == nullptr) {
        GST_OBJECT_UNLOCK(dec);
        return;
    }
    dec->eqChanged = FALSE;
    if (dec->custom)
        std::memcpy(bands, dec->bands, sizeof bands);
    else if (dec->preset == EQ_OFF)
        on = FALSE;
    else
        vf_eq_preset(vf_eq_preset_name(dec->preset - 1), bands);  // eq-preset 1 is the first preset
    GST_OBJECT_UNLOCK(dec);
    vf_set_equalizer(dec->file, on ? bands : nullptr);
}

// Reads every frame the handle can give now.
GstFlowReturn Decode(GstVorlixDec *dec)
{
    for (;;) {
        int64_t offset = -1;
        const int n = vf_read_frame(dec->file, dec->pcm->data(), maxFrameSamples, &offset);
        if (n == VF_ENEEDMORE || n == 0)
            return GST_FLOW_OK;
        if (n < 0) {
            // nothing that came decodes: what comes next gets a new handle
            GST_DEBUG_OBJECT(dec, "the stream ends: %s", vf_strerror(n));
            const GstFlowReturn ret = FinishUndecoded(dec, INT64_MAX);
            CloseHandle(dec);
            return ret;
        }
        GstFlowReturn ret = FinishUndecoded(dec, offset);
        if (ret == GST_FLOW_OK)
            ret = PushFrame(dec, n);
        if (ret != GST_FLOW_OK)
            return ret;
    }
}

// The end of the stream, or a discontinuity: the last frames out. Whatever
// follows goes to a new handle, which may be fed the last frames again.
GstFlowReturn Drain(GstVorlixDec *dec)
{
    GstFlowReturn ret = GST_FLOW_OK;
    if (dec->file != nullptr) {
        vf_feed_end(dec->file);
        ret = Decode(dec);
    }
    if (ret == GST_FLOW_OK)
        ret = FinishUndecoded(dec, INT64_MAX);
    CloseHandle(dec);
    dec->resume = !dec->kept->empty();
    return ret;
}

} // namespace

gboolean Start(GstAudioDecoder *base)
{
    Reset(GST_VORLIX_DEC(base));
    return TRUE;
}

gboolean Stop(GstAudioDecoder *base)
{
    Reset(GST_VORLIX_DEC(base));
    return TRUE;
}

void StreamStarted(GstVorlixDec *dec)
{
    Reset(dec);
}

gboolean SetFormat(GstAudioDecoder *base, GstCaps *caps)
{
    // the output follows the stream's first frame (later frames of other
    // rates are converted to it), so caps need no handling beyond a check;
    // a new stream announces itself by its STREAM_START
    const GstStructure *s = gst_caps_get_structure(caps, 0);
    gint rate = 0, channels = 0;
    if (!gst_structure_get_int(s, "rate", &rate) || !gst_structure_get_int(s, "channels", &channels)) {
        GST_ERROR_OBJECT(base, "caps without rate or channels: %" GST_PTR_FORMAT, caps);
        return FALSE;
    }
    return TRUE;
}

void Flush(GstAudioDecoder *base, gboolean hard)
{
    // the frames after a seek go to a new handle, which restarts the
    // decoder; after a discontinuity (drained already) the stream may go on
    if (hard)
        Reset(GST_VORLIX_DEC(base));
    else
        CloseHandle(GST_VORLIX_DEC(base));
}

GstFlowReturn HandleFrame(GstAudioDecoder *base, GstBuffer *buffer)
{
    GstVorlixDec *dec = GST_VORLIX_DEC(base);
    if (buffer == nullptr)
        return Drain(dec);

    GstAudioClippingMeta *clip = gst_buffer_get_audio_clipping_meta(buffer);
    Pending p{dec->fed, dec->fed, 0, 0, false};
    if (clip != nullptr && clip->format == GST_FORMAT_DEFAULT) {
        p.clipStart = clip->start;
        p.clipEnd = clip->end;
    } else if (clip != nullptr) {
        GST_WARNING_OBJECT(dec, "clipping meta in %s ignored", gst_format_get_name(clip->format));
    }

    // the parser's Xing/Info frame: it would decode to silence
    if (GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DECODE_ONLY) &&
        GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DROPPABLE)) {
        if (dec->pending->empty())
            return gst_audio_decoder_finish_frame(base, nullptr, 1);
        dec->pending->push_back(p);
        return GST_FLOW_OK;
    }

    if (dec->file == nullptr && !OpenHandle(dec, buffer))
        return GST_FLOW_ERROR;
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        GstFlowReturn ret = GST_FLOW_OK;
        GST_AUDIO_DECODER_ERROR(dec, 1, RESOURCE, READ, (nullptr), ("cannot map the input buffer"), ret);
        return ret == GST_FLOW_OK ? gst_audio_decoder_finish_frame(base, nullptr, 1) : ret;
    }
    Feed(dec, map.data, map.size, p);
    KeepFrame(dec, map.data, map.size);
    NoteFollower(dec, buffer, map.size);
    gst_buffer_unmap(buffer, &map);
    ApplyEqualizer(dec);
    return Decode(dec);
}

} // namespace vorlixdec
