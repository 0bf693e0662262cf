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
 * gapless playbin, two pipelines): each decodes on a handle of its own,
 * with a decoder of its own, in parallel. A new stream through the same
 * element (concat, decodebin3 reusing its decoder from one track to the
 * next) starts afresh.
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

#include <cstring>
#include <string>
#include <tuple>

#include "VorlixDecState.h"

GST_DEBUG_CATEGORY(vorlixdec_debug);
#define GST_CAT_DEFAULT vorlixdec_debug

using namespace vorlixdec;

namespace {

enum { PROP_0, PROP_EQ_PRESET, PROP_EQ_BANDS, PROP_RATE };

} // namespace

G_DEFINE_TYPE(GstVorlixDec, gst_vorlix_dec, GST_TYPE_AUDIO_DECODER)

// The rates the handle converts to (libvorlixfile's list), as "8000, 11025, ...".
static std::string RateList()
{
    std::string list;
    for (int i = 0; i < vf_rate_count(); ++i)
        list += (i > 0 ? ", " : "") + std::to_string(vf_rate_at(i));
    return list;
}

// The output rates: the stream's, or one the decoder converts to. The
// values are the rates in Hz, so that "rate=48000" and an integer set from
// C keep working as they did for an integer property. The values are
// registered once and stay for the process, as a static table would.
static GType RateType()
{
    static GType type = 0;
    if (g_once_init_enter(&type)) {
        const int count = vf_rate_count();
        GEnumValue *values = g_new0(GEnumValue, count + 2);  // the stream's rate first, a zeroed end
        values[0] = {0, "The stream's rate", "0"};
        for (int i = 0; i < count; ++i) {
            const int rate = vf_rate_at(i);
            values[i + 1] = {rate, g_strdup_printf("%d Hz", rate), g_strdup_printf("%d", rate)};
        }
        const GType t = g_enum_register_static("GstVorlixDecRate", values);
        g_once_init_leave(&type, t);
    }
    return type;
}

// "off", then libvorlixfile's equalizer presets: value i + 1 is preset i.
GType gst_vorlix_dec_eq_preset_get_type(void)
{
    static GType type = 0;
    if (g_once_init_enter(&type)) {
        const int count = vf_eq_preset_count();
        GEnumValue *values = g_new0(GEnumValue, count + 2);
        values[0] = {EQ_OFF, "Off: no equalizer", "off"};
        for (int i = 0; i < count; ++i) {
            const char *name = vf_eq_preset_name(i);
            gchar *title = g_strdup(name);
            title[0] = g_ascii_toupper(title[0]);
            if (std::strcmp(name, "flat") == 0) {
                gchar *described = g_strconcat(title, " (the equalizer on, every band at 0 dB)", nullptr);
                g_free(title);
                title = described;
            }
            values[i + 1] = {EQ_OFF + 1 + i, title, name};
        }
        const GType t = g_enum_register_static("GstVorlixDecEqPreset", values);
        g_once_init_leave(&type, t);
    }
    return type;
}

// The pad templates: MPEG audio in, 16-bit PCM out, at the rates the decoder
// knows.
static void AddPadTemplates(GstElementClass *element)
{
    const std::string rates = "rate = (int) { " + RateList() + " }";
    const std::string sink = "audio/mpeg, mpegversion = (int) 1, layer = (int) [ 1, 3 ], " + rates +
                             ", channels = (int) [ 1, 2 ], parsed = (boolean) true";
    const std::string src = "audio/x-raw, format = (string) " GST_AUDIO_NE(S16) ", layout = (string) interleaved, " +
                            rates + ", channels = (int) [ 1, 2 ]";
    for (const auto &[name, direction, text] :
         {std::tuple{"sink", GST_PAD_SINK, &sink}, std::tuple{"src", GST_PAD_SRC, &src}}) {
        GstCaps *caps = gst_caps_from_string(text->c_str());
        gst_element_class_add_pad_template(element, gst_pad_template_new(name, direction, GST_PAD_ALWAYS, caps));
        gst_caps_unref(caps);
    }
}

namespace {

// The clipping meta is applied here: it must not reach the raw audio too.
gboolean TransformMeta(GstAudioDecoder *base, GstBuffer *out, GstMeta *meta, GstBuffer *in)
{
    if (meta->info->api == GST_AUDIO_CLIPPING_META_API_TYPE)
        return FALSE;
    return GST_AUDIO_DECODER_CLASS(gst_vorlix_dec_parent_class)->transform_meta(base, out, meta, in);
}

// A new stream: the base class drains the last one first; nothing of it
// is then kept for the next.
gboolean SinkEvent(GstAudioDecoder *base, GstEvent *event)
{
    const bool started = GST_EVENT_TYPE(event) == GST_EVENT_STREAM_START;
    const gboolean ret = GST_AUDIO_DECODER_CLASS(gst_vorlix_dec_parent_class)->sink_event(base, event);
    if (started) {
        GST_AUDIO_DECODER_STREAM_LOCK(base);
        StreamStarted(GST_VORLIX_DEC(base));
        GST_AUDIO_DECODER_STREAM_UNLOCK(base);
    }
    return ret;
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
                          // made once for the class, which holds it as long as the process runs
                          g_strdup(("Output sample rate in Hz, converted by the decoder: 0 for the stream's, or one "
                                    "of " + RateList() + " (from the next stream on)").c_str()),
                          RateType(), 0,
                          static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_READY)));

    AddPadTemplates(element);
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
    base->sink_event = GST_DEBUG_FUNCPTR(SinkEvent);
    base->transform_meta = GST_DEBUG_FUNCPTR(TransformMeta);
}

static void gst_vorlix_dec_init(GstVorlixDec *dec)
{
    dec->file = nullptr;
    dec->nextPts = dec->lastDuration = GST_CLOCK_TIME_NONE;
    dec->nextOffset = GST_BUFFER_OFFSET_NONE;
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
