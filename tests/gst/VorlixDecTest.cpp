// SPDX-License-Identifier: GPL-2.0-or-later
// vorlixdec in real GStreamer pipelines (registered in this process, so
// that the sanitizers see it): caps, one buffer per frame, the PCM and the
// length of vorlix-decode through mpegaudioparse's gapless marks, seeks,
// the equalizer while playing, garbage, two pipelines at once and playbin's
// gapless hand-over from one file to the next.
#include <gtest/gtest.h>

#include <gst/app/gstappsink.h>
#include <gst/check/gstharness.h>
#include <gst/gst.h>
#include <gst/pbutils/pbutils.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <thread>
#include <unistd.h>

#include "TestSupport.h"
#include "VorlixDec.h"
#include "cli/HostSupport.h"
#include "vorlixfile.h"

namespace {

const std::string data = VORLIX_TEST_DATA;
const std::string host = VORLIX_DECODE;

struct Encoding {
    int rate, channels;
    const char *lame;  // lame's options
    size_t length;     // samples per channel of the signal
};

void PrintTo(const Encoding &e, std::ostream *os)
{
    *os << e.rate << " Hz, " << e.channels << " channels, lame " << e.lame;
}

std::string Name(const ::testing::TestParamInfo<Encoding> &info)
{
    std::string name = std::to_string(info.param.rate) + "_" + std::to_string(info.param.channels) + "_" +
                       info.param.lame;
    for (char &c : name)
        if (!isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return name;
}

// Everything an appsink named "sink" receives, as little-endian bytes.
struct Played {
    Bytes pcm;
    std::vector<GstClockTime> pts;   // of each buffer
    std::vector<size_t> sizes;       // bytes of each buffer
    std::vector<int> layers;         // of each buffer's caps, where they name one (MPEG audio)
    int rate = 0, channels = 0;
    std::string error;               // the bus's error, if any
    std::set<std::string> factories; // of the elements the pipeline made
};

void NoteElement(GstBin *, GstBin *, GstElement *element, gpointer user)
{
    GstElementFactory *factory = gst_element_get_factory(element);
    if (factory != nullptr)
        static_cast<Played *>(user)->factories.insert(GST_OBJECT_NAME(factory));
}

// Pulls until the end, an error or a minute; `step` is called after each
// buffer with the pipeline (to seek or set properties), and stops at false.
using Step = std::function<bool(GstElement *, const Played &)>;
void Pull(GstElement *pipeline, GstAppSink *sink, Played &run, const Step &step = nullptr)
{
    GstBus *bus = gst_element_get_bus(pipeline);
    const gint64 deadline = g_get_monotonic_time() + 60 * G_USEC_PER_SEC;
    while (g_get_monotonic_time() < deadline) {
        if (GstMessage *m = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR)) {
            GError *e = nullptr;
            gst_message_parse_error(m, &e, nullptr);
            run.error = e->message;
            g_error_free(e);
            gst_message_unref(m);
            break;
        }
        GstSample *sample = gst_app_sink_try_pull_sample(sink, 50 * GST_MSECOND);
        if (sample == nullptr) {
            if (gst_app_sink_is_eos(sink))
                break;
            continue;
        }
        GstBuffer *buffer = gst_sample_get_buffer(sample);
        const GstStructure *caps = gst_caps_get_structure(gst_sample_get_caps(sample), 0);
        gst_structure_get_int(caps, "rate", &run.rate);
        gst_structure_get_int(caps, "channels", &run.channels);
        int layer = 0;
        gst_structure_get_int(caps, "layer", &layer);
        run.layers.push_back(layer);
        GstMapInfo map;
        gst_buffer_map(buffer, &map, GST_MAP_READ);
        run.pcm.insert(run.pcm.end(), map.data, map.data + map.size);
        run.sizes.push_back(map.size);
        run.pts.push_back(GST_BUFFER_PTS(buffer));
        gst_buffer_unmap(buffer, &map);
        gst_sample_unref(sample);
        if (step && !step(pipeline, run))
            break;
    }
    gst_object_unref(bus);
}

// A pipeline of gst-launch syntax that ends in "appsink name=sink", played.
Played Play(const std::string &description, const Step &step = nullptr, int maxBuffers = 0)
{
    Played run;
    GError *error = nullptr;
    GstElement *pipeline = gst_parse_launch(description.c_str(), &error);
    if (pipeline == nullptr) {
        run.error = error->message;
        g_error_free(error);
        return run;
    }
    g_signal_connect(pipeline, "deep-element-added", G_CALLBACK(NoteElement), &run);
    GstElement *sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
    g_object_set(sink, "sync", FALSE, "max-buffers", maxBuffers, nullptr);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    Pull(pipeline, GST_APP_SINK(sink), run, step);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(sink);
    gst_object_unref(pipeline);
    return run;
}

std::string Decoded(const std::string &path, const std::string &options = "")
{
    return "filesrc location=" + path + " ! mpegaudioparse ! vorlixdec name=dec " + options + " ! appsink name=sink";
}

class Element : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/vorlix-gst-XXXXXX";
        dir = mkdtemp(pattern);
    }
    void TearDown() override { EXPECT_EQ(Shell("rm -rf " + dir), 0); }

    Bytes Program(const std::string &path, const std::string &options = "")
    {
        EXPECT_EQ(Shell(host + " -q --raw " + options + " " + path + " -o " + dir + "/out.pcm"), 0) << path;
        return ReadFile(dir + "/out.pcm");
    }
    // A signal of known length, encoded by lame.
    std::string Encoded(const Encoding &e, const std::string &name = "enc")
    {
        const std::string wav = dir + "/" + name + ".wav", mp3 = dir + "/" + name + ".mp3";
        WriteFile(wav, Wav(Signal(e.rate, e.channels, e.length), e.rate));
        const std::string khz = std::to_string(e.rate / 1000.0).substr(0, 5);
        EXPECT_EQ(Shell("lame --quiet --noreplaygain --resample " + khz + " " + e.lame + " " + wav + " " + mp3), 0);
        return mp3;
    }

    // Two files for a gapless hand-over (of two lengths and two encodings),
    // and their decodes back to back.
    Bytes BackToBack(std::string &a, std::string &b)
    {
        a = Encoded({44100, 2, "-V 2", 100003}, "a");
        b = Encoded({44100, 2, "-b 128", 70001}, "b");
        Bytes both = Program(a);
        const Bytes second = Program(b);
        both.insert(both.end(), second.begin(), second.end());
        return both;
    }

    std::string dir;
};

// The frames of a fixture, as mpegaudioparse hands them over.
std::vector<Bytes> Frames(const Bytes &file)
{
    std::vector<size_t> starts = FrameOffsets(file);
    starts.push_back(file.size());
    std::vector<Bytes> frames;
    for (size_t i = 0; i + 1 < starts.size(); ++i)
        frames.emplace_back(file.begin() + static_cast<long>(starts[i]), file.begin() + static_cast<long>(starts[i + 1]));
    return frames;
}

struct Fixture {
    const char *name;
    int rate, channels, samplesPerFrame;
};

void PrintTo(const Fixture &f, std::ostream *os)
{
    *os << f.name;
}

class Harness : public ::testing::TestWithParam<Fixture> {};

// Pushed frame by frame (a header frame marked as the parser marks it): the
// caps are the stream's, and each audio frame gives one buffer of one
// frame's samples.
TEST_P(Harness, NegotiatesTheStreamsCapsAndGivesOneBufferPerFrame)
{
    const Fixture &f = GetParam();
    const Bytes file = ReadFixture(f.name);
    const std::vector<Bytes> frames = Frames(file);
    VorlixFileInfo info = VF_INFO_INIT;
    ASSERT_EQ(vf_test(&info, file.data(), file.size()), 0);
    const bool header = info.header != VF_HEADER_NONE;
    GstHarness *h = gst_harness_new("vorlixdec");
    const std::string caps = "audio/mpeg, mpegversion=1, layer=3, rate=" + std::to_string(f.rate) +
                             ", channels=" + std::to_string(f.channels) + ", parsed=true";
    gst_harness_set_src_caps_str(h, caps.c_str());
    for (size_t i = 0; i < frames.size(); ++i) {
        GstBuffer *b = gst_buffer_new_memdup(frames[i].data(), frames[i].size());
        if (i == 0 && header)
            GST_BUFFER_FLAG_SET(b, GST_BUFFER_FLAG_DECODE_ONLY | GST_BUFFER_FLAG_DROPPABLE);
        ASSERT_EQ(gst_harness_push(h, b), GST_FLOW_OK) << "frame " << i;
    }
    ASSERT_TRUE(gst_harness_push_event(h, gst_event_new_eos()));

    GstCaps *out = gst_pad_get_current_caps(h->sinkpad);
    ASSERT_NE(out, nullptr);
    const GstStructure *s = gst_caps_get_structure(out, 0);
    int rate = 0, channels = 0;
    EXPECT_STREQ(gst_structure_get_name(s), "audio/x-raw");
    EXPECT_STREQ(gst_structure_get_string(s, "format"), "S16LE");
    EXPECT_STREQ(gst_structure_get_string(s, "layout"), "interleaved");
    EXPECT_TRUE(gst_structure_get_int(s, "rate", &rate) && rate == f.rate);
    EXPECT_TRUE(gst_structure_get_int(s, "channels", &channels) && channels == f.channels);
    gst_caps_unref(out);

    EXPECT_EQ(gst_harness_buffers_received(h), frames.size() - (header ? 1 : 0));
    // a frame's latency: each comes out when the next has come
    GstClockTime min = 0, max = 0;
    gst_audio_decoder_get_latency(GST_AUDIO_DECODER(h->element), &min, &max);
    EXPECT_EQ(min, gst_util_uint64_scale_int(f.samplesPerFrame, GST_SECOND, f.rate));
    EXPECT_EQ(max, min);
    while (GstBuffer *b = gst_harness_try_pull(h)) {
        EXPECT_EQ(gst_buffer_get_size(b), static_cast<gsize>(f.samplesPerFrame * f.channels * 2));
        gst_buffer_unref(b);
    }
    gst_harness_teardown(h);
}

const Fixture harnessed[] = {
    {"mpeg1-44100-stereo.mp3", 44100, 2, 1152}, {"mpeg1-44100-mono.mp3", 44100, 1, 1152},
    {"mpeg2-22050-stereo.mp3", 22050, 2, 576},  {"mpeg25-8000-mono.mp3", 8000, 1, 576},
    {"mpeg1-48000-stereo.mp3", 48000, 2, 1152},
};
INSTANTIATE_TEST_SUITE_P(Fixtures, Harness, ::testing::ValuesIn(harnessed),
                         [](const ::testing::TestParamInfo<Fixture> &i) {
                             std::string n = i.param.name;
                             n = n.substr(0, n.find('.'));
                             std::replace(n.begin(), n.end(), '-', '_');
                             return n;
                         });

class Gapless : public Element, public ::testing::WithParamInterface<Encoding> {};

// Through mpegaudioparse's gapless marks: the signal's length exactly and
// vorlix-decode's PCM.
TEST_P(Gapless, ThePipelineGivesTheSignalsLengthAndVorlixDecodesPcm)
{
    const Encoding &e = GetParam();
    const std::string mp3 = Encoded(e);
    const Played run = Play(Decoded(mp3));
    ASSERT_EQ(run.error, "");
    EXPECT_EQ(run.pcm.size(), e.length * static_cast<size_t>(e.channels) * 2);
    EXPECT_LE(MaxDifference(run.pcm, Program(mp3)), 1);
}

const Encoding encodings[] = {
    {44100, 2, "-b 128", 100000}, {44100, 1, "-V 2", 77777},  {48000, 2, "-V 2", 50000},
    {22050, 2, "-V 2", 44444},    {22050, 1, "-b 64", 30001}, {8000, 1, "-V 2", 12345},
    {44100, 2, "-p -V 2", 66666},
};
INSTANTIATE_TEST_SUITE_P(Encoders, Gapless, ::testing::ValuesIn(encodings), Name);

// vorlixdec ranked above every other decoder while it lives.
class Preferred {
public:
    Preferred() : feature_(gst_registry_lookup_feature(gst_registry_get(), "vorlixdec"))
    {
        rank_ = gst_plugin_feature_get_rank(feature_);
        gst_plugin_feature_set_rank(feature_, GST_RANK_PRIMARY + 1);
    }
    ~Preferred()
    {
        gst_plugin_feature_set_rank(feature_, rank_);
        gst_object_unref(feature_);
    }

private:
    GstPluginFeature *feature_;
    guint rank_;
};

// Files with junk and damage through the parser, and files with tags through
// decodebin (its tag readers in front of the parser), decode as vorlix-decode
// decodes them. (A file that changes format after a tag in the middle, and
// tags at the end holding false frames, reach the decoder as the parser cuts
// them.)
TEST_F(Element, RealWorldFilesDecodeAsVorlixDecodeDecodesThem)
{
    for (const char *name : {"crc-44100-stereo.mp3", "damaged-frame.mp3", "garbage-between-frames.mp3",
                             "loud-clipping.mp3", "mpeg25-11025-stereo.mp3"}) {
        SCOPED_TRACE(name);
        const Played run = Play(Decoded(data + "/" + name));
        ASSERT_EQ(run.error, "");
        EXPECT_LE(MaxDifference(run.pcm, Program(data + "/" + name)), 1);
    }
    const Preferred preferred;
    for (const char *name : {"tag-picture.mp3", "tag-two-leading.mp3", "tag-v1.mp3", "tag-v22.mp3", "tag-v24.mp3",
                             "tag-v23-10000.mp3", "tag-ape-footer.mp3", "riff-mpeg2-22050-mono.wav"}) {
        SCOPED_TRACE(name);
        const Played run = Play("filesrc location=" + data + "/" + name + " ! decodebin ! appsink name=sink");
        ASSERT_EQ(run.error, "");
        EXPECT_EQ(run.factories.count("vorlixdec"), 1u);
        EXPECT_LE(MaxDifference(run.pcm, Program(data + "/" + name)), 1);
    }
}

TEST_F(Element, TheRateAndTheEqualizerAsVorlixDecodeHasThem)
{
    const std::string mp3 = data + "/mpeg2-22050-stereo.mp3";
    const Played run = Play("filesrc location=" + mp3 + " ! mpegaudioparse ! vorlixdec rate=48000 eq-preset=bass ! "
                         "appsink name=sink");
    ASSERT_EQ(run.error, "");
    EXPECT_EQ(run.rate, 48000);
    EXPECT_LE(MaxDifference(run.pcm, Program(mp3, "--rate 48000 -E bass")), 1);
    const Played bands = Play("filesrc location=" + mp3 +
                           " ! mpegaudioparse ! vorlixdec eq-bands=\"3,2,1,0,0,0,0,1,2,3,-3\" ! appsink name=sink");
    EXPECT_LE(MaxDifference(bands.pcm, Program(mp3, "--eq 3,2,1,0,0,0,0,1,2,3,-3")), 1);
}

TEST_F(Element, PropertiesKeepOnlyValidValues)
{
    GstElement *dec = gst_element_factory_make("vorlixdec", nullptr);
    ASSERT_NE(dec, nullptr);
    gchar *bands = nullptr;
    int rate = -1;
    g_object_set(dec, "eq-bands", "1,2,3,4,5,6,7,8,9,10,-11", "rate", 32000, nullptr);
    g_object_set(dec, "eq-bands", "1,2,3", "rate", 44000, nullptr);  // not 11 values; not an MPEG rate
    g_object_set(dec, "eq-bands", "1,2,3,4,5,6,7,8,9,10,300", nullptr);  // out of range
    g_object_set(dec, "eq-bands", "1,2,3,4,5,6,7,8,9,10,11,12", nullptr);  // more than 11 values
    g_object_get(dec, "eq-bands", &bands, "rate", &rate, nullptr);
    EXPECT_STREQ(bands, "1,2,3,4,5,6,7,8,9,10,-11");
    EXPECT_EQ(rate, 32000);
    g_free(bands);
    g_object_set(dec, "eq-bands", "", nullptr);
    g_object_get(dec, "eq-bands", &bands, nullptr);
    EXPECT_STREQ(bands, "");
    g_free(bands);
    gst_object_unref(dec);
}

// Values outside a property's range or enum are refused by its own
// GParamSpec, as GLib refuses them, whether set from C or from gst-launch's
// text: the property keeps its value.
struct Refusal {
    const char *name;
    const char *property;
    const char *kept;     // set first
    const char *refused;  // then this
};

class Refused : public ::testing::TestWithParam<Refusal> {};

TEST_P(Refused, ByThePropertysOwnDefinition)
{
    const Refusal &c = GetParam();
    GstElement *dec = gst_element_factory_make("vorlixdec", nullptr);
    ASSERT_NE(dec, nullptr);
    GParamSpec *param = g_object_class_find_property(G_OBJECT_GET_CLASS(dec), c.property);
    ASSERT_NE(param, nullptr);
    // the property's own definition: the text names no value of its type, or the value is out of its range
    GValue v = G_VALUE_INIT;
    g_value_init(&v, param->value_type);
    EXPECT_FALSE(gst_value_deserialize(&v, c.refused) && !g_param_value_validate(param, &v)) << "the property takes it";
    g_value_unset(&v);

    gst_util_set_object_arg(G_OBJECT(dec), c.property, c.kept);
    gst_util_set_object_arg(G_OBJECT(dec), c.property, c.refused);
    char *end = nullptr;
    const long number = std::strtol(c.refused, &end, 10);
    if (*end == '\0')
        g_object_set(dec, c.property, static_cast<gint>(number), nullptr);  // GLib warns
    g_value_init(&v, param->value_type);
    g_object_get_property(G_OBJECT(dec), c.property, &v);
    gchar *now = gst_value_serialize(&v);
    EXPECT_STREQ(now, c.kept);
    g_free(now);
    g_value_unset(&v);
    gst_object_unref(dec);
}

const Refusal refusals[] = {
    {"RateNotAnMpegRate", "rate", "32000", "44000"},
    {"RateAboveTheHighest", "rate", "32000", "96000"},
    {"RateNegative", "rate", "22050", "-8000"},
    {"PresetPastTheLast", "eq-preset", "bass", "6"},
    {"PresetUnknownName", "eq-preset", "voice", "louder"},
};
INSTANTIATE_TEST_SUITE_P(Properties, Refused, ::testing::ValuesIn(refusals),
                         [](const ::testing::TestParamInfo<Refusal> &i) { return std::string(i.param.name); });

// The rates and presets the properties hold: each takes effect, as vorlix-decode
// has it (the rate from the next stream on).
TEST_F(Element, EveryRateThePropertyTakesIsTheOutputsRate)
{
    GstElement *dec = gst_element_factory_make("vorlixdec", nullptr);
    GParamSpec *param = g_object_class_find_property(G_OBJECT_GET_CLASS(dec), "rate");
    ASSERT_TRUE(G_IS_PARAM_SPEC_ENUM(param));
    GEnumClass *values = G_PARAM_SPEC_ENUM(param)->enum_class;
    std::set<int> rates;
    for (guint i = 0; i < values->n_values; ++i)
        rates.insert(values->values[i].value);
    EXPECT_EQ(rates, (std::set<int>{0, 8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000}));
    gst_object_unref(dec);
    const std::string mp3 = data + "/mpeg1-32000-stereo.mp3";
    for (const int rate : {8000, 44100}) {
        SCOPED_TRACE(rate);
        const Played run = Play(Decoded(mp3, "rate=" + std::to_string(rate)));
        ASSERT_EQ(run.error, "");
        EXPECT_EQ(run.rate, rate);
        EXPECT_LE(MaxDifference(run.pcm, Program(mp3, "--rate " + std::to_string(rate))), 1);
    }
}

// Runs a pipeline of gst-launch syntax to its end: "" or the bus's error.
std::string RunToEnd(const std::string &description)
{
    GError *error = nullptr;
    GstElement *pipeline = gst_parse_launch(description.c_str(), &error);
    if (pipeline == nullptr) {
        const std::string message = error->message;
        g_error_free(error);
        return message;
    }
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBus *bus = gst_element_get_bus(pipeline);
    GstMessage *m = gst_bus_timed_pop_filtered(bus, 60 * GST_SECOND,
                                               static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    std::string result = m == nullptr ? "no end within a minute" : "";
    if (m != nullptr && GST_MESSAGE_TYPE(m) == GST_MESSAGE_ERROR) {
        GError *e = nullptr;
        gst_message_parse_error(m, &e, nullptr);
        result = e->message;
        g_error_free(e);
    }
    if (m != nullptr)
        gst_message_unref(m);
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return result;
}

// Bits written from the most significant down, from a byte offset on.
struct BitWriter {
    Bytes &out;
    size_t bit;
    void Put(uint32_t value, int bits)
    {
        for (int i = bits - 1; i >= 0; --i, ++bit)
            if ((value >> i) & 1)
                out[bit / 8] |= static_cast<uint8_t>(0x80 >> (bit % 8));
    }
};

// MPEG-1 Layer I, 48 kHz mono at 128 kbit/s: frames of 128 bytes (never
// padded), each a changing signal in the two lowest subbands (allocation,
// scale factor and twelve 4-bit samples each); the rest of each frame is
// ancillary zeros. No common encoder writes Layer I.
Bytes LayerOneStream(size_t frames)
{
    Bytes stream;
    for (size_t f = 0; f < frames; ++f) {
        Bytes frame(128, 0);
        frame[0] = 0xff, frame[1] = 0xff, frame[2] = 0x44, frame[3] = 0xc0;
        BitWriter w{frame, 32};
        for (int sb = 0; sb < 32; ++sb)
            w.Put(sb < 2 ? 3 : 0, 4);  // 4 bits a sample
        for (int sb = 0; sb < 2; ++sb)
            w.Put(static_cast<uint32_t>(6 + sb), 6);
        for (size_t s = 0; s < 12; ++s)
            for (size_t sb = 0; sb < 2; ++sb)
                w.Put(static_cast<uint32_t>(1 + (f * 5 + s * 3 + sb * 7) % 14), 4);
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    return stream;
}

// Layers I and II through the parser, whose caps name the layer: the
// element takes them and decodes what vorlix-decode decodes. Layer II is
// encoded here by twolame.
class Layers : public Element, public ::testing::WithParamInterface<int> {};

TEST_P(Layers, NegotiateAndDecodeAsVorlixDecodeDecodesThem)
{
    const int layer = GetParam();
    const std::string file = dir + "/layer" + std::to_string(layer) + ".mp" + std::to_string(layer);
    if (layer == 1) {
        WriteFile(file, LayerOneStream(200));
    } else {
        WriteFile(dir + "/in.wav", Wav(Signal(44100, 2, 60000), 44100));
        ASSERT_EQ(RunToEnd("filesrc location=" + dir + "/in.wav ! wavparse ! audioconvert ! twolamemp2enc bitrate=192 "
                           "! filesink location=" + file),
                  "");
    }
    const std::string caps = "audio/mpeg,mpegversion=1,layer=" + std::to_string(layer);
    const Played run = Play("filesrc location=" + file + " ! mpegaudioparse ! " + caps +
                            " ! vorlixdec ! appsink name=sink");
    ASSERT_EQ(run.error, "");
    EXPECT_EQ(run.rate, layer == 1 ? 48000 : 44100);
    const Bytes want = Program(file);
    EXPECT_GT(want.size(), 100000u);
    EXPECT_LE(MaxDifference(run.pcm, want), 1);
}

INSTANTIATE_TEST_SUITE_P(MpegAudio, Layers, ::testing::Values(1, 2),
                         [](const ::testing::TestParamInfo<int> &i) { return "Layer" + std::to_string(i.param); });

// Streams that mpegaudioparse hands over frame by frame as they are: the
// element decodes what vorlix-decode decodes from the same bytes. Where the
// first frames lack their bit reservoir, the element gives nothing for them
// (the parser's time stamps keep the time) and vorlix-decode may give their
// length of silence: the element's output is then the end of vorlix-decode's.
struct ParsedStream {
    const char *name;
    const char *file;
    size_t silentFrames;  // at the start, at the most
};

void PrintTo(const ParsedStream &p, std::ostream *os)
{
    *os << p.file;
}

class Parsed : public Element, public ::testing::WithParamInterface<ParsedStream> {};

TEST_P(Parsed, StreamsDecodeAsVorlixDecodeDecodesThem)
{
    const ParsedStream &p = GetParam();
    // a stream at another rate first: the decoder is then set up again from
    // this stream's first frames, as for a player's first stream
    ASSERT_EQ(Play(Decoded(data + "/mpeg2-22050-stereo.mp3")).error, "");
    const Played run = Play(Decoded(data + "/" + p.file));
    ASSERT_EQ(run.error, "");
    const Bytes want = Program(data + "/" + p.file);
    ASSERT_LE(run.pcm.size(), want.size());
    EXPECT_GE(run.pcm.size() + p.silentFrames * 1152 * 4, want.size());
    EXPECT_LE(MaxDifference(run.pcm, Bytes(want.end() - static_cast<long>(run.pcm.size()), want.end())), 1);
}

const ParsedStream parsedStreams[] = {
    // a full-scale sine after 400 zero bytes, its first two frames' main
    // data before the stream
    {"LeadingZerosWithoutBitReservoir", "lead-zeros-sine.mp3", 2},
    {"FreeFormat", "free-format.mp3", 0},
    // a sync word and header of the stream inside a frame's main data
    {"FreeFormatSyncInsideAFrame", "free-format-sync-inside.mp3", 0},
};
INSTANTIATE_TEST_SUITE_P(Fixtures, Parsed, ::testing::ValuesIn(parsedStreams),
                         [](const ::testing::TestParamInfo<ParsedStream> &i) { return std::string(i.param.name); });

// The sample of the full decode a buffer starts at, from its time stamp.
size_t SampleAt(GstClockTime pts, int rate)
{
    return static_cast<size_t>(gst_util_uint64_scale_round(pts, static_cast<guint64>(rate), GST_SECOND));
}

TEST_F(Element, ASeekWhilePlayingLandsWhereTheParserPutsIt)
{
    const Encoding e{44100, 2, "-V 2", 300000};
    const std::string mp3 = Encoded(e);
    const Bytes full = Program(mp3);
    for (const GstSeekFlags extra : {GST_SEEK_FLAG_NONE, GST_SEEK_FLAG_ACCURATE}) {
        SCOPED_TRACE(extra == GST_SEEK_FLAG_ACCURATE ? "accurate" : "to a frame");
        const GstClockTime target = 3 * GST_SECOND + 217 * GST_MSECOND;
        size_t before = 0;
        // (max-errors 0: the frames without their bit reservoir right after
        // the seek must not count as errors)
        const Played run = Play(
            Decoded(mp3, "max-errors=0"),
            [&](GstElement *pipeline, const Played &r) {
                if (r.sizes.size() == 20) {
                    before = r.sizes.size();
                    EXPECT_TRUE(gst_element_seek_simple(
                        pipeline, GST_FORMAT_TIME, static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | extra), target));
                }
                return true;
            },
            2);
        ASSERT_EQ(run.error, "");
        ASSERT_GT(run.pts.size(), before + 10);
        // the first buffer after the seek: at the target, or the frame holding it
        const GstClockTime landed = run.pts[before];
        EXPECT_LE(landed, target);
        EXPECT_LT(target - landed, 1152 * GST_SECOND / 44100 + 1) << "landed at " << landed;
        // every buffer but the first (a restart's, without the synthesis
        // overlap of the frame before) is the full decode's stretch at its time
        size_t offset = 0;
        for (size_t i = 0; i < before; ++i)
            offset += run.sizes[i];
        for (size_t i = before; i < run.pts.size(); ++i) {
            const size_t at = SampleAt(run.pts[i], 44100) * 4;
            if (i >= before + 1 && at + run.sizes[i] <= full.size()) {
                const Bytes got(run.pcm.begin() + static_cast<long>(offset),
                                run.pcm.begin() + static_cast<long>(offset + run.sizes[i]));
                const Bytes want(full.begin() + static_cast<long>(at), full.begin() + static_cast<long>(at + run.sizes[i]));
                ASSERT_LE(MaxDifference(got, want), 1) << "buffer " << i - before << " after the seek, at " << at / 4;
            }
            offset += run.sizes[i];
        }
        EXPECT_EQ(SampleAt(run.pts.back(), 44100) + run.sizes.back() / 4, e.length) << "the end";
    }
}

// Bass from frame 30 on: the frames before as without it, every frame from
// two after the change different.
TEST_F(Element, AnEqualizerChangeWhilePlayingShowsWithinTwoFrames)
{
    const std::string mp3 = Encoded({44100, 2, "-b 128", 100000});
    const Played plain = Play(Decoded(mp3));
    const Played changed = Play(
        Decoded(mp3),
        [](GstElement *pipeline, const Played &r) {
            if (r.sizes.size() == 30) {
                GstElement *dec = gst_bin_get_by_name(GST_BIN(pipeline), "dec");
                gst_util_set_object_arg(G_OBJECT(dec), "eq-preset", "bass");
                gst_object_unref(dec);
            }
            return true;
        },
        1);
    ASSERT_EQ(changed.sizes, plain.sizes);
    size_t offset = 0;
    for (size_t i = 0; i < plain.sizes.size(); ++i) {
        const auto at = [&](const Bytes &b) {
            return Bytes(b.begin() + static_cast<long>(offset), b.begin() + static_cast<long>(offset + plain.sizes[i]));
        };
        const bool same = MaxDifference(at(plain.pcm), at(changed.pcm)) <= 1;
        if (i < 30) {
            EXPECT_TRUE(same) << "buffer " << i;
        } else if (i >= 32) {
            EXPECT_FALSE(same) << "buffer " << i;
        }
        offset += plain.sizes[i];
    }
}

// Garbage framed as MPEG audio: no noise out, no crash, and an error: the
// frames' own past max-errors, else the base class's at the end (no frame
// decoded).
TEST_F(Element, GarbageGivesNoSamplesAndEndsOrFails)
{
    const uint32_t seed = TestSeed();
    SCOPED_TRACE(SeedNote(seed));
    std::mt19937 random(seed);
    for (const int maxErrors : {-1, 5}) {
        SCOPED_TRACE(maxErrors);
        GstHarness *h = gst_harness_new("vorlixdec");
        g_object_set(h->element, "max-errors", maxErrors, nullptr);
        GstBus *bus = gst_bus_new();
        gst_element_set_bus(h->element, bus);
        gst_harness_set_src_caps_str(h, "audio/mpeg, mpegversion=1, layer=3, rate=44100, channels=2, parsed=true");
        GstFlowReturn last = GST_FLOW_OK;
        for (int i = 0; i < 200 && last == GST_FLOW_OK; ++i) {
            Bytes junk(2 + random() % 1500);  // room for the two header bytes
            for (uint8_t &b : junk)
                b = static_cast<uint8_t>(random());
            if (i % 3 == 0)
                junk[0] = 0xff, junk[1] = 0xfb;  // looks like a header
            last = gst_harness_push(h, gst_buffer_new_memdup(junk.data(), junk.size()));
        }
        if (last == GST_FLOW_OK)
            gst_harness_push_event(h, gst_event_new_eos());
        EXPECT_EQ(gst_harness_buffers_received(h), 0u);
        GstMessage *error = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR);
        ASSERT_NE(error, nullptr);
        gchar *debug = nullptr;
        gst_message_parse_error(error, nullptr, &debug);
        EXPECT_EQ(std::string(debug).find("does not decode") != std::string::npos, maxErrors >= 0) << debug;
        g_free(debug);
        gst_message_unref(error);
        gst_element_set_bus(h->element, nullptr);
        gst_object_unref(bus);
        gst_harness_teardown(h);
    }
    // and through the parser, bytes that are no MPEG audio at all: no
    // samples from what it takes for Layer III frames (their bit reservoir
    // and Huffman codes do not hold); what it takes for Layer I or II frames,
    // which hold neither, decodes to noise in any decoder, at most a frame's
    // samples each
    Bytes junk(200000);
    for (uint8_t &b : junk)
        b = static_cast<uint8_t>(random());
    WriteFile(dir + "/junk.mp3", junk);
    const Played frames = Play("filesrc location=" + dir + "/junk.mp3 ! mpegaudioparse ! appsink name=sink");
    size_t most = 0;
    for (const int layer : frames.layers)
        most += layer == 1 ? 384 * 4 : layer == 2 ? 1152 * 4 : 0;
    const Played run = Play(Decoded(dir + "/junk.mp3"));
    EXPECT_LE(run.pcm.size(), most);
}

// Two pipelines, and a discoverer (decodebin, vorlixdec preferred) looking
// at a third file meanwhile.
TEST_F(Element, TwoPipelinesAndADiscovererAtOnceDecodeAsEachAlone)
{
    const std::string a = Encoded({44100, 2, "-V 2", 200000}, "a");
    const std::string b = Encoded({22050, 1, "-b 64", 100000}, "b");
    const std::string c = Encoded({48000, 2, "-b 128", 96000}, "c");
    const Bytes wantA = Program(a), wantB = Program(b);
    const Preferred preferred;
    Played runA, runB;
    std::vector<GstClockTime> durations;
    std::thread other([&] { runB = Play(Decoded(b), nullptr, 1); });
    std::thread looker([&] {
        GstDiscoverer *discoverer = gst_discoverer_new(10 * GST_SECOND, nullptr);
        for (int i = 0; i < 3; ++i) {
            GstDiscovererInfo *info = gst_discoverer_discover_uri(discoverer, ("file://" + c).c_str(), nullptr);
            durations.push_back(info != nullptr ? gst_discoverer_info_get_duration(info) : 0);
            if (info != nullptr)
                gst_discoverer_info_unref(info);
        }
        g_object_unref(discoverer);
    });
    runA = Play(Decoded(a), nullptr, 1);
    other.join();
    looker.join();
    EXPECT_LE(MaxDifference(runA.pcm, wantA), 1);
    EXPECT_LE(MaxDifference(runB.pcm, wantB), 1);
    for (const GstClockTime d : durations)
        EXPECT_EQ(d, 2 * GST_SECOND) << "the discoverer's duration of 96000 samples at 48 kHz";
}

// playbin with vorlixdec preferred (the rank the README gives) and the next
// file queued at about-to-finish: the two decodes back to back, exactly.
struct Queue {
    std::vector<std::string> uris;
    std::atomic<size_t> next{1};
};

void AboutToFinish(GstElement *playbin, gpointer user)
{
    auto *q = static_cast<Queue *>(user);
    const size_t i = q->next++;
    if (i < q->uris.size())
        g_object_set(playbin, "uri", q->uris[i].c_str(), nullptr);
}

TEST_F(Element, PlaybinPlaysTwoFilesGaplessly)
{
    std::string a, b;
    const Bytes want = BackToBack(a, b);

    const Preferred preferred;
    Queue queue;
    queue.uris = {"file://" + a, "file://" + b};
    Played run;
    GstElement *playbin = gst_element_factory_make("playbin", nullptr);
    ASSERT_NE(playbin, nullptr);
    GstElement *sink = gst_parse_bin_from_description(
        "audioconvert ! audio/x-raw,format=S16LE,rate=44100,channels=2 ! appsink name=sink sync=false", TRUE, nullptr);
    g_object_set(playbin, "uri", queue.uris[0].c_str(), "audio-sink", sink, "video-sink",
                 gst_element_factory_make("fakesink", nullptr), nullptr);
    g_signal_connect(playbin, "about-to-finish", G_CALLBACK(AboutToFinish), &queue);
    g_signal_connect(playbin, "deep-element-added", G_CALLBACK(NoteElement), &run);
    GstElement *appsink = gst_bin_get_by_name(GST_BIN(sink), "sink");
    gst_element_set_state(playbin, GST_STATE_PLAYING);
    Pull(playbin, GST_APP_SINK(appsink), run);
    gst_element_set_state(playbin, GST_STATE_NULL);
    gst_object_unref(appsink);
    gst_object_unref(playbin);

    ASSERT_EQ(run.error, "");
    EXPECT_EQ(run.factories.count("vorlixdec"), 1u) << "playbin picked another decoder";
    EXPECT_EQ(run.factories.count("mpg123audiodec"), 0u);
    EXPECT_EQ(run.pcm.size(), want.size()) << "no gap and no overlap";
    EXPECT_LE(MaxDifference(run.pcm, want), 1);
}

// The installed tools with the plugin from the build tree: they are not
// instrumented, so a sanitizer build cannot load it into them.
class Tools : public Element {
protected:
    void SetUp() override
    {
#ifdef VORLIX_SANITIZED
        GTEST_SKIP() << "the GStreamer tools cannot load an instrumented plugin";
#endif
        Element::SetUp();
        env = std::string("GST_PLUGIN_PATH=") + VORLIX_GST_PLUGIN_DIR + " GST_REGISTRY=" + dir + "/registry.bin ";
    }
    std::string env;
};

TEST_F(Tools, GstInspectDescribesTheElement)
{
    ASSERT_EQ(Shell(env + "gst-inspect-1.0 vorlixdec > " + dir + "/inspect.txt"), 0);
    const Bytes text = ReadFile(dir + "/inspect.txt");
    const std::string inspect(text.begin(), text.end());
    for (const char *expected : {"marginal", "eq-preset", "eq-bands", "rate", "loudness", "audio/mpeg", "S16LE"})
        EXPECT_NE(inspect.find(expected), std::string::npos) << expected;
}

TEST_F(Tools, GstLaunchWritesWhatVorlixDecodeWrites)
{
    const std::string mp3 = Encoded({44100, 2, "-V 2", 100000});
    ASSERT_EQ(Shell(env + "gst-launch-1.0 -q filesrc location=" + mp3 +
                    " ! mpegaudioparse ! vorlixdec ! filesink location=" + dir + "/launch.pcm"),
              0);
    EXPECT_LE(MaxDifference(ReadFile(dir + "/launch.pcm"), Program(mp3)), 1);
}

// playbin picks vorlixdec when the rank variable prefers it, and only then
// (checked on the elements gst-launch reports).
TEST_F(Tools, PlaybinPicksVorlixdecByTheRankVariable)
{
    // (44.1 kHz stereo: mpg123audiodec, the default, raises a GLib critical
    // on some MPEG-2 mono streams)
    const std::string mp3 = Encoded({44100, 2, "-b 128", 50000});
    const std::string play = "gst-launch-1.0 -v playbin uri=file://" + mp3 +
                             " video-sink=fakesink audio-sink=\"audioconvert ! audio/x-raw,format=S16LE ! filesink "
                             "location=" + dir + "/playbin.pcm\" > " + dir + "/launch.txt";
    ASSERT_EQ(Shell(env + "GST_PLUGIN_FEATURE_RANK=vorlixdec:MAX " + play), 0);
    Bytes text = ReadFile(dir + "/launch.txt");
    EXPECT_NE(std::string(text.begin(), text.end()).find("GstVorlixDec:vorlixdec"), std::string::npos);
    EXPECT_LE(MaxDifference(ReadFile(dir + "/playbin.pcm"), Program(mp3)), 1);

    ASSERT_EQ(Shell(env + play), 0);
    text = ReadFile(dir + "/launch.txt");
    EXPECT_EQ(std::string(text.begin(), text.end()).find("GstVorlixDec"), std::string::npos) << "marginal by default";
}

TEST_F(Tools, GstPlayGaplessPlaysTwoFilesBackToBack)
{
    std::string a, b;
    const Bytes want = BackToBack(a, b);
    ASSERT_EQ(Shell(env + "GST_PLUGIN_FEATURE_RANK=vorlixdec:MAX gst-play-1.0 -q --gapless --no-interactive "
                          "--audiosink=\"audioconvert ! audio/x-raw,format=S16LE,rate=44100,channels=2 ! filesink "
                          "location=" + dir + "/play.pcm\" " + a + " " + b + " < /dev/null"),
              0);
    const Bytes got = ReadFile(dir + "/play.pcm");
    EXPECT_EQ(got.size(), want.size()) << "no gap and no overlap";
    EXPECT_LE(MaxDifference(got, want), 1);
}

// The plugins these tests use, and no others. Any other plugin of the
// system could be loaded into this process (decodebin's typefinding loads
// every plugin that has a typefinder, libav's among them), with libraries
// whose constructors keep memory that LeakSanitizer reports as leaked, and
// decoders whose ranks compete with the ones the tests expect.
const char *const usedPlugins[] = {
    "coreelements",       // filesrc, filesink, fakesink, queue, typefind
    "app",                // appsink
    "typefindfunctions",  // MP3, ID3v2, APEv2 and RIFF typefinding
    "audioparsers",       // mpegaudioparse
    "id3demux", "apetag", "wavparse",  // decodebin's way to the frames of tagged and RIFF files
    "playback",           // playbin, decodebin, uridecodebin (the discoverer)
    "audioconvert", "audioresample", "volume",  // the audio sink bins
    "mpg123",             // the default MP3 decoder of the tools' tests
    "twolame",            // Layer II streams encoded here
};

// Links the used plugins of GStreamer's plugin folder into a folder of the
// build, which becomes the only folder GStreamer loads plugins from (a
// plugin path of the user's is dropped too, and so are rank overrides), with
// a registry of its own. The programs the tools' tests run inherit it.
// Returns the plugins that are missing.
std::string PrivatePlugins()
{
    namespace fs = std::filesystem;
    const fs::path dir = VORLIX_GST_TEST_PLUGINS;
    std::error_code e;
    fs::create_directories(dir, e);
    std::string missing;
    for (const char *name : usedPlugins) {
        const std::string file = std::string("libgst").append(name).append(".so");
        const fs::path target = fs::path(VORLIX_GST_SYSTEM_PLUGINS) / file, link = dir / file;
        if (!fs::exists(target)) {
            missing.append(" ").append(target.string());
            continue;
        }
        if (fs::read_symlink(link, e) == target)
            continue;
        // made under a name of this process's and renamed: tests that start
        // at the same time see the link whole or not at all
        const fs::path made = dir / (file + "." + std::to_string(getpid()));
        fs::remove(made, e);
        fs::create_symlink(target, made, e);
        fs::rename(made, link, e);
    }
    setenv("GST_PLUGIN_SYSTEM_PATH_1_0", dir.c_str(), 1);
    unsetenv("GST_PLUGIN_PATH_1_0");
    unsetenv("GST_PLUGIN_PATH");
    unsetenv("GST_PLUGIN_FEATURE_RANK");
    unsetenv("GST_REGISTRY_1_0");  // it would outrank the tools' GST_REGISTRY
    setenv("GST_REGISTRY", VORLIX_GST_TEST_REGISTRY, 1);
    return missing;
}

// A plugin that is missing fails every test, naming it.
class PluginsThere : public ::testing::Environment {
public:
    explicit PluginsThere(std::string missing) : missing_(std::move(missing)) {}
    void SetUp() override
    {
        ASSERT_EQ(missing_, "") << "GStreamer plugins that the tests use are not installed";
    }

private:
    std::string missing_;
};

} // namespace

int main(int argc, char **argv)
{
    const std::string missing = PrivatePlugins();
    // a GLib critical fails the test
    g_log_set_always_fatal(static_cast<GLogLevelFlags>(G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_ERROR));
    gst_init(&argc, &argv);
    gst_plugin_register_static(GST_VERSION_MAJOR, GST_VERSION_MINOR, "vorlix", "MP3 decoding with Vorlix",
                               gst_vorlix_plugin_init, "test", "GPL", "vorlix", "Vorlix", "https://example.org/vorlix");
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new PluginsThere(missing));
    const int r = RUN_ALL_TESTS();
    gst_deinit();
    return r;
}
