// SPDX-License-Identifier: GPL-2.0-or-later
// vorlixdec's frame queue: each frame handed over is finished in order,
// with the samples the handle gave for it (clipped as the parser says) or
// with none.
#include <algorithm>

#include "VorlixDecState.h"

#define GST_CAT_DEFAULT vorlixdec_debug

namespace vorlixdec {

// Finishes, with no output, the frames wholly before input offset `before`:
// they gave no samples (a missing bit reservoir, damage, not audio).
GstFlowReturn FinishUndecoded(GstVorlixDec *dec, int64_t before)
{
    GstAudioDecoder *base = GST_AUDIO_DECODER(dec);
    while (!dec->pending->empty() && dec->pending->front().end <= before) {
        const Pending p = dec->pending->front();
        dec->pending->pop_front();
        if (p.preroll)
            continue;
        GstFlowReturn ret = GST_FLOW_OK;
        if (p.end > p.start) {
            // right after a start or a seek a frame may lack its reservoir:
            // a glitch the base class logs, not counted against max-errors
            const gint weight = !dec->decoded && dec->silent < reservoirFrames ? 0 : 1;
            dec->silent += dec->decoded ? 0 : 1;
            GST_AUDIO_DECODER_ERROR(dec, weight, STREAM, DECODE, (nullptr),
                                    ("the frame at byte %" G_GINT64_FORMAT " does not decode", p.start), ret);
            if (ret != GST_FLOW_OK)
                return ret;
        }
        ret = gst_audio_decoder_finish_frame(base, nullptr, 1);
        if (ret != GST_FLOW_OK)
            return ret;
    }
    return GST_FLOW_OK;
}

namespace {

guint64 ToOutput(GstVorlixDec *dec, guint64 samples)
{
    if (dec->inRate == dec->outRate || dec->inRate <= 0)
        return samples;
    return gst_util_uint64_scale_round(samples, static_cast<guint64>(dec->outRate), static_cast<guint64>(dec->inRate));
}

} // namespace

// The samples of the oldest pending frame, clipped as the parser says.
GstFlowReturn PushFrame(GstVorlixDec *dec, int samples)
{
    GstAudioDecoder *base = GST_AUDIO_DECODER(dec);
    if (!dec->decoded) {
        VorlixFileInfo info = VF_INFO_INIT;
        dec->inRate = vf_info(dec->file, &info) == 0 ? info.rate : 0;
        // each frame comes out when the next one has come: a frame's latency
        if (dec->inRate > 0) {
            const int samples = info.layer == 1 ? 384 : info.layer == 3 && info.version != 10 ? 576 : 1152;
            const GstClockTime frame = gst_util_uint64_scale_int(samples, GST_SECOND, dec->inRate);
            GstClockTime min = 0, max = 0;
            gst_audio_decoder_get_latency(base, &min, &max);
            if (min != frame || max != frame)
                gst_audio_decoder_set_latency(base, frame, frame);
        }
        dec->outRate = vf_rate(dec->file);
        dec->channels = vf_channels(dec->file);
        GstAudioInfo out;
        gst_audio_info_init(&out);
        gst_audio_info_set_format(&out, GST_AUDIO_FORMAT_S16, dec->outRate, dec->channels, nullptr);
        if (!gst_audio_decoder_set_output_format(base, &out))
            return GST_FLOW_NOT_NEGOTIATED;
        dec->decoded = TRUE;
    }
    if (dec->pending->empty()) {
        GST_WARNING_OBJECT(dec, "samples of no pending frame: dropped");
        return GST_FLOW_OK;
    }
    const Pending p = dec->pending->front();
    dec->pending->pop_front();
    if (p.preroll)
        return GST_FLOW_OK;
    // the start trim over several frames comes to the whole trim converted,
    // as vorlix-decode has it
    guint64 start = 0;
    if (p.clipStart > 0) {
        dec->clippedIn += p.clipStart;
        const guint64 total = ToOutput(dec, dec->clippedIn);
        start = std::min<guint64>(total > dec->clippedOut ? total - dec->clippedOut : 0, static_cast<guint64>(samples));
        dec->clippedOut += start;
    }
    const guint64 end = ToOutput(dec, p.clipEnd);
    if (start + end >= static_cast<guint64>(samples))
        return gst_audio_decoder_finish_frame(base, nullptr, 1);  // padding only
    const gsize values = (static_cast<gsize>(samples) - start - end) * static_cast<gsize>(dec->channels);
    GstBuffer *out = gst_audio_decoder_allocate_output_buffer(base, values * 2);
    gst_buffer_fill(out, 0, dec->pcm->data() + start * static_cast<gsize>(dec->channels), values * 2);
    return gst_audio_decoder_finish_frame(base, out, 1);
}

} // namespace vorlixdec
