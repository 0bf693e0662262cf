// SPDX-License-Identifier: GPL-2.0-or-later
// vorlixdec on what pipelines rely on: its source caps take every rate it
// puts out, the parser's clipping meta trims as many samples at the output
// rate as at the stream's, rounded to the nearest, and eq-bands takes
// eleven values and no other text.
#include <gtest/gtest.h>

#include <gst/audio/audio.h>
#include <gst/check/gstharness.h>
#include <gst/gst.h>

#include <set>

#include "TestSupport.h"
#include "cli/HostSupport.h"
#include "vorlixfile.h"

namespace {

const int mpegRates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};

// The rates a caps structure's rate field lists.
std::set<int> Rates(const GstStructure *s)
{
    std::set<int> rates;
    const GValue *field = gst_structure_get_value(s, "rate");
    if (field != nullptr && GST_VALUE_HOLDS_LIST(field)) {
        for (guint i = 0; i < gst_value_list_get_size(field); ++i)
            rates.insert(g_value_get_int(gst_value_list_get_value(field, i)));
    } else if (field != nullptr && G_VALUE_HOLDS_INT(field)) {
        rates.insert(g_value_get_int(field));
    }
    return rates;
}

TEST(PinnedElement, TheSourceTemplateListsTheNineRates)
{
    GstElementFactory *factory = gst_element_factory_find("vorlixdec");
    ASSERT_NE(factory, nullptr);
    bool found = false;
    for (const GList *t = gst_element_factory_get_static_pad_templates(factory); t != nullptr; t = t->next) {
        auto *pad = static_cast<GstStaticPadTemplate *>(t->data);
        if (pad->direction != GST_PAD_SRC)
            continue;
        found = true;
        GstCaps *caps = gst_static_caps_get(&pad->static_caps);
        ASSERT_EQ(gst_caps_get_size(caps), 1u);
        EXPECT_EQ(Rates(gst_caps_get_structure(caps, 0)), std::set<int>(std::begin(mpegRates), std::end(mpegRates)));
        gst_caps_unref(caps);
    }
    EXPECT_TRUE(found);
    gst_object_unref(factory);
}

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

struct Output {
    Bytes pcm;
    int rate = 0, channels = 0;
    size_t buffers = 0;
};

// The fixture's frames through vorlixdec in the gst-check harness, the
// header frame marked as the parser marks it; the first audio frame and the
// last carry clipping meta of `start` and `end` samples when not zero.
Output Harnessed(const char *fixture, int rate, guint64 start = 0, guint64 end = 0)
{
    Output run;
    const Bytes file = ReadFixture(fixture);
    const std::vector<Bytes> frames = Frames(file);
#ifdef VF_INFO_INIT
    VorlixFileInfo info = VF_INFO_INIT;
#else
    VorlixFileInfo info{};
#endif
    EXPECT_EQ(vf_test(&info, file.data(), file.size()), 0);
    const bool header = info.header != VF_HEADER_NONE;
    GstHarness *h = gst_harness_new("vorlixdec");
    if (rate != 0)
        g_object_set(h->element, "rate", rate, nullptr);
    const std::string caps = "audio/mpeg, mpegversion=1, layer=3, rate=" + std::to_string(info.rate) +
                             ", channels=" + std::to_string(info.channels) + ", parsed=true";
    gst_harness_set_src_caps_str(h, caps.c_str());
    for (size_t i = 0; i < frames.size(); ++i) {
        GstBuffer *b = gst_buffer_new_memdup(frames[i].data(), frames[i].size());
        if (i == 0 && header)
            GST_BUFFER_FLAG_SET(b, GST_BUFFER_FLAG_DECODE_ONLY | GST_BUFFER_FLAG_DROPPABLE);
        if (start > 0 && i == (header ? 1u : 0u))
            gst_buffer_add_audio_clipping_meta(b, GST_FORMAT_DEFAULT, start, 0);
        if (end > 0 && i + 1 == frames.size())
            gst_buffer_add_audio_clipping_meta(b, GST_FORMAT_DEFAULT, 0, end);
        EXPECT_EQ(gst_harness_push(h, b), GST_FLOW_OK) << "frame " << i;
    }
    EXPECT_TRUE(gst_harness_push_event(h, gst_event_new_eos()));
    if (GstCaps *out = gst_pad_get_current_caps(h->sinkpad)) {
        const GstStructure *s = gst_caps_get_structure(out, 0);
        gst_structure_get_int(s, "rate", &run.rate);
        gst_structure_get_int(s, "channels", &run.channels);
        gst_caps_unref(out);
    }
    while (GstBuffer *b = gst_harness_try_pull(h)) {
        GstMapInfo map;
        gst_buffer_map(b, &map, GST_MAP_READ);
        run.pcm.insert(run.pcm.end(), map.data, map.data + map.size);
        gst_buffer_unmap(b, &map);
        gst_buffer_unref(b);
        ++run.buffers;
    }
    gst_harness_teardown(h);
    return run;
}

struct RateFixture {
    const char *name;
    int rate, channels;
};

class EveryRate : public ::testing::TestWithParam<RateFixture> {};

// A stream of each of the nine rates negotiates its own rate on the source
// pad and decodes.
TEST_P(EveryRate, NegotiatesTheStreamsRate)
{
    const RateFixture &f = GetParam();
    const Output run = Harnessed(f.name, 0);
    EXPECT_EQ(run.rate, f.rate);
    EXPECT_EQ(run.channels, f.channels);
    EXPECT_GT(run.buffers, 10u);
}

const RateFixture rateFixtures[] = {
    {"mpeg25-8000-mono.mp3", 8000, 1},     {"mpeg25-11025-stereo.mp3", 11025, 2}, {"mpeg25-12000-mono.mp3", 12000, 1},
    {"mpeg2-16000-stereo.mp3", 16000, 2},  {"mpeg2-22050-stereo.mp3", 22050, 2},  {"mpeg2-24000-stereo.mp3", 24000, 2},
    {"mpeg1-32000-stereo.mp3", 32000, 2},  {"mpeg1-44100-stereo.mp3", 44100, 2},  {"mpeg1-48000-stereo.mp3", 48000, 2},
};
INSTANTIATE_TEST_SUITE_P(Pinned, EveryRate, ::testing::ValuesIn(rateFixtures), [](const auto &i) {
    return "Rate" + std::to_string(i.param.rate);
});

struct ClipCase {
    const char *name;
    int rate;                   // of the output (the stream: 44100 Hz)
    guint64 start, end;         // the meta's, at 44100 Hz
    size_t startOut, endOut;    // trimmed at the output rate
};

class ClippingMeta : public ::testing::TestWithParam<ClipCase> {};

// The meta's samples at the stream's rate, converted to the output's and
// rounded to the nearest: that many fewer samples, and the rest as decoded.
TEST_P(ClippingMeta, TrimsItsSamplesConvertedToTheNearest)
{
    const ClipCase &c = GetParam();
    const Output whole = Harnessed("mpeg1-44100-stereo.mp3", c.rate);
    const Output clipped = Harnessed("mpeg1-44100-stereo.mp3", c.rate, c.start, c.end);
    ASSERT_EQ(whole.rate, c.rate);
    ASSERT_EQ(whole.channels, 2);
    const size_t sample = 4;  // bytes
    ASSERT_EQ(clipped.pcm.size() + (c.startOut + c.endOut) * sample, whole.pcm.size());
    const Bytes middle(whole.pcm.begin() + static_cast<long>(c.startOut * sample),
                       whole.pcm.end() - static_cast<long>(c.endOut * sample));
    EXPECT_LE(MaxDifference(clipped.pcm, middle), 1);
}

const ClipCase clips[] = {
    {"To48000AboveHalf", 48000, 1105, 900, 1203, 980},   // 1202.7, 979.6
    {"To48000BelowHalf", 48000, 1000, 500, 1088, 544},   // 1088.4, 544.2
    {"To22050ExactHalf", 22050, 1105, 901, 553, 451},    // 552.5, 450.5
    {"To8000", 8000, 1105, 900, 200, 163},               // 200.45, 163.3
};
INSTANTIATE_TEST_SUITE_P(Pinned, ClippingMeta, ::testing::ValuesIn(clips),
                         [](const auto &i) { return std::string(i.param.name); });

struct BandsText {
    const char *name;
    const char *text;
};

class EqBandsRefused : public ::testing::TestWithParam<BandsText> {};

// eq-bands text that is not eleven whole dB values in -128..127 is refused:
// the property keeps the value it had.
TEST_P(EqBandsRefused, KeepsTheValueItHad)
{
    const BandsText &c = GetParam();
    GstElement *dec = gst_element_factory_make("vorlixdec", nullptr);
    ASSERT_NE(dec, nullptr);
    const char *kept = "1,2,3,4,5,6,7,8,9,10,-11";
    g_object_set(dec, "eq-bands", kept, nullptr);
    g_object_set(dec, "eq-bands", c.text, nullptr);
    gchar *bands = nullptr;
    g_object_get(dec, "eq-bands", &bands, nullptr);
    EXPECT_STREQ(bands, kept);
    g_free(bands);
    gst_object_unref(dec);
}

const BandsText bandTexts[] = {
    {"TwelveValues", "1,2,3,4,5,6,7,8,9,10,11,12"},
    {"TwentyValues", "0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0"},
    {"TrailingComma", "1,2,3,4,5,6,7,8,9,10,11,"},
    {"TenValues", "1,2,3,4,5,6,7,8,9,10"},
    {"EmptyValue", "1,2,3,,5,6,7,8,9,10,11"},
    {"OutOfRange", "1,2,3,4,5,6,7,8,9,10,128"},
    {"NotANumber", "1,2,3,4,5,6,7,8,9,10,x"},
};
INSTANTIATE_TEST_SUITE_P(Pinned, EqBandsRefused, ::testing::ValuesIn(bandTexts),
                         [](const auto &i) { return std::string(i.param.name); });

} // namespace
