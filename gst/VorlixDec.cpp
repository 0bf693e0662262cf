// SPDX-License-Identifier: GPL-2.0-or-later
/**
 * SECTION:element-vorlixdec
 * @see_also: mpegaudioparse, mpg123audiodec
 *
 * Decodes MPEG-1, MPEG-2 and MPEG-2.5 audio of Layers I, II and III, framed
 * by mpegaudioparse, to interleaved 16-bit PCM with Vorlix. The Xing/Info frame
 * that the parser marks is dropped and the parser's clipping meta trims the
 * encoder's delay and padding, so that playbin plays albums gaplessly.
 *
 * Several vorlixdec may run at once in one process (the next track of a
 * gapless playbin, two pipelines): they share the decoder, each taking it
 * over when it decodes after another.
 *
 * ## Example pipelines
 * |[
 * gst-launch-1.0 filesrc location=song.mp3 ! mpegaudioparse ! vorlixdec ! audioconvert ! autoaudiosink
 * gst-launch-1.0 filesrc location=song.mp3 ! mpegaudioparse ! vorlixdec eq-preset=bass rate=48000 ! autoaudiosink
 * ]|
 *
 * Its rank is marginal, so that installing it changes no one's decoder; to
 * prefer it: GST_PLUGIN_FEATURE_RANK=vorlixdec:primary+1.
 */
#include "VorlixDec.h"

#include <gst/audio/audio.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <vector>

#include "EqPresets.h"
#include "vorlixfile.h"

GST_DEBUG_CATEGORY_STATIC(vorlixdec_debug);
#define GST_CAT_DEFAULT vorlixdec_debug

namespace {

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
// the last frames are kept to feed again after a discontinuity, which ends
// a handle: the next one then decodes on as the last would have.
constexpr unsigned reservoirFrames = 16;

enum EqPresetValue { EQ_OFF, EQ_FLAT, EQ_BASS, EQ_TREBLE, EQ_VOICE, EQ_LOUDNESS };
const char *const presetNames[] = {"off", "flat", "bass", "treble", "voice", "loudness"};

enum { PROP_0, PROP_EQ_PRESET, PROP_EQ_BANDS, PROP_RATE };

} // namespace

struct _GstVorlixDec {
    GstAudioDecoder parent;

    VorlixFile *file;               // the stream's handle; null until its first frame
    int64_t fed;                    // bytes fed to it
    std::deque<Pending> *pending;   // frames handed over, not yet finished
    std::deque<std::vector<uint8_t>> *kept;  // the last frames fed, oldest first
    gboolean resume;                // the next handle continues the last one's stream
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

G_DEFINE_TYPE(GstVorlixDec, gst_vorlix_dec, GST_TYPE_AUDIO_DECODER)

// The output rates: the stream's, or one the decoder converts to. The
// values are the rates in Hz, so that "rate=48000" and an integer set from
// C keep working as they did for an integer property.
static GType RateType()
{
    static GType type = 0;
    static const GEnumValue values[] = {
        {0, "The stream's rate", "0"},
        {8000, "8000 Hz", "8000"},
        {11025, "11025 Hz", "11025"},
        {12000, "12000 Hz", "12000"},
        {16000, "16000 Hz", "16000"},
        {22050, "22050 Hz", "22050"},
        {24000, "24000 Hz", "24000"},
        {32000, "32000 Hz", "32000"},
        {44100, "44100 Hz", "44100"},
        {48000, "48000 Hz", "48000"},
        {0, nullptr, nullptr},
    };
    if (g_once_init_enter(&type)) {
        const GType t = g_enum_register_static("GstVorlixDecRate", values);
        g_once_init_leave(&type, t);
    }
    return type;
}

GType gst_vorlix_dec_eq_preset_get_type(void)
{
    static GType type = 0;
    static const GEnumValue values[] = {
        {EQ_OFF, "Off: no equalizer", "off"},
        {EQ_FLAT, "Flat (the equalizer on, every band at 0 dB)", "flat"},
        {EQ_BASS, "Bass", "bass"},
        {EQ_TREBLE, "Treble", "treble"},
        {EQ_VOICE, "Voice", "voice"},
        {EQ_LOUDNESS, "Loudness", "loudness"},
        {0, nullptr, nullptr},
    };
    if (g_once_init_enter(&type)) {
        const GType t = g_enum_register_static("GstVorlixDecEqPreset", values);
        g_once_init_leave(&type, t);
    }
    return type;
}

static GstStaticPadTemplate sinkTemplate =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS,
                            GST_STATIC_CAPS("audio/mpeg, mpegversion = (int) 1, layer = (int) [ 1, 3 ], "
                                            "rate = (int) { 8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, "
                                            "48000 }, channels = (int) [ 1, 2 ], parsed = (boolean) true"));

static GstStaticPadTemplate srcTemplate =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS,
                            GST_STATIC_CAPS("audio/x-raw, format = (string) " GST_AUDIO_NE(S16) ", "
                                            "layout = (string) interleaved, "
                                            "rate = (int) { 8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, "
                                            "48000 }, channels = (int) [ 1, 2 ]"));

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

void Feed(GstVorlixDec *dec, const uint8_t *data, size_t size, Pending p)
{
    vf_feed(dec->file, data, size);
    p.start = dec->fed;
    p.end = dec->fed += static_cast<int64_t>(size);
    dec->pending->push_back(p);
}

gboolean OpenHandle(GstVorlixDec *dec)
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
        PresetBands(presetNames[dec->preset], bands);
    GST_OBJECT_UNLOCK(dec);
    vf_set_equalizer(dec->file, on ? bands : nullptr);
}

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

guint64 ToOutput(GstVorlixDec *dec, guint64 samples)
{
    if (dec->inRate == dec->outRate || dec->inRate <= 0)
        return samples;
    return gst_util_uint64_scale_round(samples, static_cast<guint64>(dec->outRate), static_cast<guint64>(dec->inRate));
}

// The samples of the oldest pending frame, clipped as the parser says.
GstFlowReturn PushFrame(GstVorlixDec *dec, int samples)
{
    GstAudioDecoder *base = GST_AUDIO_DECODER(dec);
    if (!dec->decoded) {
        VorlixFileInfo info = {};
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
// follows goes to a new handle, fed the last frames again first.
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

// A new stream: nothing of the last one is kept.
void Reset(GstVorlixDec *dec)
{
    CloseHandle(dec);
    dec->kept->clear();
    dec->resume = FALSE;
}

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

gboolean SetFormat(GstAudioDecoder *base, GstCaps *caps)
{
    // the output follows the stream's first frame (later frames of other
    // rates are converted to it), so caps need no handling beyond a check
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
    // decoder; after a discontinuity (drained already) the stream goes on
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

    if (dec->file == nullptr && !OpenHandle(dec))
        return GST_FLOW_ERROR;
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        GstFlowReturn ret = GST_FLOW_OK;
        GST_AUDIO_DECODER_ERROR(dec, 1, RESOURCE, READ, (nullptr), ("cannot map the input buffer"), ret);
        return ret == GST_FLOW_OK ? gst_audio_decoder_finish_frame(base, nullptr, 1) : ret;
    }
    Feed(dec, map.data, map.size, p);
    KeepFrame(dec, map.data, map.size);
    gst_buffer_unmap(buffer, &map);
    ApplyEqualizer(dec);
    return Decode(dec);
}

// The clipping meta is applied here: it must not reach the raw audio too.
gboolean TransformMeta(GstAudioDecoder *base, GstBuffer *out, GstMeta *meta, GstBuffer *in)
{
    if (meta->info->api == GST_AUDIO_CLIPPING_META_API_TYPE)
        return FALSE;
    return GST_AUDIO_DECODER_CLASS(gst_vorlix_dec_parent_class)->transform_meta(base, out, meta, in);
}

// Eleven comma-separated whole dB values, each in -128..127: no more, no fewer.
gboolean ParseBands(const gchar *text, int8_t bands[11])
{
    gchar **parts = g_strsplit(text, ",", -1);
    gboolean ok = g_strv_length(parts) == 11;
    for (guint i = 0; ok && i < 11; ++i) {
        gint64 v = 0;
        ok = g_ascii_string_to_signed(g_strstrip(parts[i]), 10, -128, 127, &v, nullptr);
        bands[i] = static_cast<int8_t>(v);
    }
    g_strfreev(parts);
    return ok;
}

void SetProperty(GObject *object, guint id, const GValue *value, GParamSpec *param)
{
    GstVorlixDec *dec = GST_VORLIX_DEC(object);
    switch (id) {
    case PROP_EQ_PRESET:
        GST_OBJECT_LOCK(dec);
        dec->preset = g_value_get_enum(value);
        dec->custom = FALSE;
        dec->eqChanged = TRUE;
        GST_OBJECT_UNLOCK(dec);
        break;
    case PROP_EQ_BANDS: {
        const gchar *text = g_value_get_string(value);
        int8_t bands[11];
        const gboolean none = text == nullptr || *text == '\0';
        if (!none && !ParseBands(text, bands)) {
            // refused as GLib refuses a value out of a property's range
            g_warning("%s: eq-bands \"%s\" is not 11 comma-separated values in -128..127: refused",
                      GST_OBJECT_NAME(dec), text);
            break;
        }
        GST_OBJECT_LOCK(dec);
        dec->custom = !none;
        if (!none)
            std::memcpy(dec->bands, bands, sizeof bands);
        dec->eqChanged = TRUE;
        GST_OBJECT_UNLOCK(dec);
        break;
    }
    case PROP_RATE:
        // its GParamSpec has refused every other rate
        GST_OBJECT_LOCK(dec);
        dec->rate = g_value_get_enum(value);
        GST_OBJECT_UNLOCK(dec);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, param);
    }
}

void GetProperty(GObject *object, guint id, GValue *value, GParamSpec *param)
{
    GstVorlixDec *dec = GST_VORLIX_DEC(object);
    GST_OBJECT_LOCK(dec);
    switch (id) {
    case PROP_EQ_PRESET:
        g_value_set_enum(value, dec->preset);
        break;
    case PROP_EQ_BANDS:
        if (dec->custom) {
            GString *text = g_string_new(nullptr);
            for (int i = 0; i < 11; ++i)
                g_string_append_printf(text, i > 0 ? ",%d" : "%d", dec->bands[i]);
            g_value_take_string(value, g_string_free(text, FALSE));
        } else {
            g_value_set_string(value, "");
        }
        break;
    case PROP_RATE:
        g_value_set_enum(value, dec->rate);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, param);
    }
    GST_OBJECT_UNLOCK(dec);
}

void Finalize(GObject *object)
{
    GstVorlixDec *dec = GST_VORLIX_DEC(object);
    vf_free(dec->file);
    delete dec->pending;
    delete dec->kept;
    delete dec->pcm;
    G_OBJECT_CLASS(gst_vorlix_dec_parent_class)->finalize(object);
}

} // namespace

static void gst_vorlix_dec_class_init(GstVorlixDecClass *klass)
{
    GObjectClass *object = G_OBJECT_CLASS(klass);
    GstElementClass *element = GST_ELEMENT_CLASS(klass);
    GstAudioDecoderClass *base = GST_AUDIO_DECODER_CLASS(klass);
    GST_DEBUG_CATEGORY_INIT(vorlixdec_debug, "vorlixdec", 0, "Vorlix MP3 decoder");

    object->set_property = SetProperty;
    object->get_property = GetProperty;
    object->finalize = Finalize;
    const auto flags = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_PLAYING);
    g_object_class_install_property(
        object, PROP_EQ_PRESET,
        g_param_spec_enum("eq-preset", "Equalizer preset",
                          "Equalizer curve (changes from the next frame on while playing)",
                          GST_TYPE_VORLIX_DEC_EQ_PRESET, EQ_OFF, flags));
    g_object_class_install_property(
        object, PROP_EQ_BANDS,
        g_param_spec_string("eq-bands", "Equalizer bands",
                            "Ten band levels from low to high and a preamp, in dB, comma-separated "
                            "(\"6,5,4,2,0,0,0,0,0,0,-4\"); when set they stand for eq-preset, \"\" gives "
                            "the preset back (changes from the next frame on while playing)",
                            "", flags));
    g_object_class_install_property(
        object, PROP_RATE,
        g_param_spec_enum("rate", "Output rate",
                          "Output sample rate in Hz, converted by the decoder: 0 for the stream's, or one of "
                          "8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000 (from the next stream on)",
                          RateType(), 0,
                          static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_READY)));

    gst_element_class_add_static_pad_template(element, &sinkTemplate);
    gst_element_class_add_static_pad_template(element, &srcTemplate);
    gst_element_class_set_static_metadata(element, "Vorlix MP3 decoder", "Codec/Decoder/Audio",
                                          "Decodes MPEG-1/2/2.5 Layer I, II and III audio with Vorlix",
                                          "Vorlix Developers <vorlix@example.org>");
    gst_type_mark_as_plugin_api(GST_TYPE_VORLIX_DEC_EQ_PRESET, static_cast<GstPluginAPIFlags>(0));
    gst_type_mark_as_plugin_api(RateType(), static_cast<GstPluginAPIFlags>(0));

    base->start = GST_DEBUG_FUNCPTR(Start);
    base->stop = GST_DEBUG_FUNCPTR(Stop);
    base->set_format = GST_DEBUG_FUNCPTR(SetFormat);
    base->handle_frame = GST_DEBUG_FUNCPTR(HandleFrame);
    base->flush = GST_DEBUG_FUNCPTR(Flush);
    base->transform_meta = GST_DEBUG_FUNCPTR(TransformMeta);
}

static void gst_vorlix_dec_init(GstVorlixDec *dec)
{
    dec->file = nullptr;
    dec->pending = new std::deque<Pending>;
    dec->kept = new std::deque<std::vector<uint8_t>>;
    dec->pcm = new std::vector<int16_t>(static_cast<size_t>(maxFrameSamples) * 2);
    dec->preset = EQ_OFF;
    gst_audio_decoder_set_needs_format(GST_AUDIO_DECODER(dec), TRUE);
    gst_audio_decoder_set_use_default_pad_acceptcaps(GST_AUDIO_DECODER_CAST(dec), TRUE);
    GST_PAD_SET_ACCEPT_TEMPLATE(GST_AUDIO_DECODER_SINK_PAD(dec));
}

gboolean gst_vorlix_plugin_init(GstPlugin *plugin)
{
    return gst_element_register(plugin, "vorlixdec", GST_RANK_MARGINAL, GST_TYPE_VORLIX_DEC);
}
