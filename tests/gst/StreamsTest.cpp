// SPDX-License-Identifier: GPL-2.0-or-later
// vorlixdec where one stream ends and another begins in the same element:
// concat's second file, and frames lost in the middle of a stream. What
// follows decodes as if nothing had come before it; a discontinuity where
// nothing was lost keeps every frame. Each case runs with the handles on
// private decoders, where every decode is exact, and with the handles
// sharing the process's decoder (the file library's fallback), where the
// output stage's error feedback carries from one decode to the next: within
// 1 LSB.
#include <gtest/gtest.h>

#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include <cstdlib>
#include <functional>
#include <tuple>

#include "TestSupport.h"
#include "cli/HostSupport.h"
#include "vorlixfile.h"

namespace {

const std::string host = VORLIX_DECODE;

struct Output {
    Bytes pcm;
    std::string error;
};

// Plays a pipeline of gst-launch syntax ending in "appsink name=sink" to its
// end (or an error, or a minute); `prepare` sees it before it plays.
Output Played(const std::string &description, const std::function<void(GstElement *)> &prepare = nullptr)
{
    Output out;
    GError *error = nullptr;
    GstElement *pipeline = gst_parse_launch(description.c_str(), &error);
    if (pipeline == nullptr) {
        out.error = error->message;
        g_error_free(error);
        return out;
    }
    if (prepare)
        prepare(pipeline);
    GstElement *sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
    g_object_set(sink, "sync", FALSE, nullptr);
    GstBus *bus = gst_element_get_bus(pipeline);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    const gint64 deadline = g_get_monotonic_time() + 60 * G_USEC_PER_SEC;
    while (g_get_monotonic_time() < deadline) {
        if (GstMessage *m = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR)) {
            GError *e = nullptr;
            gst_message_parse_error(m, &e, nullptr);
            out.error = e->message;
            g_error_free(e);
            gst_message_unref(m);
            break;
        }
        GstSample *sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 50 * GST_MSECOND);
        if (sample == nullptr) {
            if (gst_app_sink_is_eos(GST_APP_SINK(sink)))
                break;
            continue;
        }
        GstMapInfo map;
        gst_buffer_map(gst_sample_get_buffer(sample), &map, GST_MAP_READ);
        out.pcm.insert(out.pcm.end(), map.data, map.data + map.size);
        gst_buffer_unmap(gst_sample_get_buffer(sample), &map);
        gst_sample_unref(sample);
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(bus);
    gst_object_unref(sink);
    gst_object_unref(pipeline);
    return out;
}

std::string Parsed(const std::string &path)
{
    return "filesrc location=" + path + " ! mpegaudioparse ! vorlixdec name=dec ! appsink name=sink";
}

// The decoders the handles get: private ones, or the process's shared one.
struct Path {
    const char *name;
    int limit;  // vf_set_instance_limit's
};

const Path paths[] = {{"Private", 64}, {"Shared", 0}};

Bytes Join(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class Streams : public ::testing::Test {
protected:
    // The handles the test makes from now on on `path`'s decoders.
    void Use(const Path &path)
    {
        limitBefore = vf_set_instance_limit(path.limit);
        exact = path.limit > 0;
    }
    // Equal, or within 1 LSB where the decoder is shared or `restarted`.
    void ExpectSame(const Bytes &got, const Bytes &want, const char *what, bool restarted = false)
    {
        ASSERT_EQ(got.size(), want.size()) << what;
        if (exact && !restarted)
            EXPECT_TRUE(got == want) << what << ": differs by up to " << MaxDifference(got, want);
        else
            EXPECT_LE(MaxDifference(got, want), 1) << what;
    }

    void SetUp() override
    {
        char pattern[] = "/tmp/vorlix-gst-streams-XXXXXX";
        dir = mkdtemp(pattern);
    }
    void TearDown() override
    {
        if (limitBefore >= 0)
            vf_set_instance_limit(limitBefore);
        EXPECT_EQ(Shell("rm -rf " + dir), 0);
    }

    // vorlix-decode's PCM of a file, in a process of its own.
    Bytes Program(const std::string &path)
    {
        EXPECT_EQ(Shell(host + " -q --raw " + path + " -o " + dir + "/out.pcm"), 0) << path;
        return ReadFile(dir + "/out.pcm");
    }
    // A noisy signal encoded by lame with `options`.
    std::string Encoded(const std::string &name, int rate, size_t length, const std::string &options)
    {
        const std::string wav = dir + "/" + name + ".wav", mp3 = dir + "/" + name + ".mp3";
        WriteFile(wav, Wav(Signal(rate, 2, length), rate));
        const std::string khz = std::to_string(rate / 1000.0).substr(0, 5);
        EXPECT_EQ(Shell("lame --quiet --noreplaygain --resample " + khz + " " + options + " " + wav + " " + mp3), 0);
        return mp3;
    }

    std::string dir;
    int limitBefore = -1;
    bool exact = false;
};

// Two files through concat into one vorlixdec: the second file's decode is
// its own, untouched by the first file's last frames (their bit reservoir,
// the synthesis overlap, their rate). The first file ends in the middle of
// its signal, where its last frames are loud, as a stream cut short is.
struct Pair {
    const char *name;
    int rateA, rateB;
    const char *lameA, *lameB;  // -t: no Info frame
};

void PrintTo(const Pair &p, std::ostream *os)
{
    *os << p.name;
}

class Concat : public Streams, public ::testing::WithParamInterface<std::tuple<Pair, Path>> {};

TEST_P(Concat, GivesEachFilesOwnDecodeBackToBack)
{
    const Pair &p = std::get<0>(GetParam());
    Use(std::get<1>(GetParam()));
    const std::string whole = Encoded("a", p.rateA, 200000, p.lameA), a = dir + "/a-cut.mp3";
    const Bytes bytes = ReadFile(whole);
    const std::vector<size_t> starts = FrameOffsets(bytes);
    ASSERT_GT(starts.size(), 100u);
    WriteFile(a, Bytes(bytes.begin(), bytes.begin() + static_cast<long>(starts[80])));
    const std::string b = Encoded("b", p.rateB, p.rateB, p.lameB);
    const Output run = Played("concat name=c ! vorlixdec name=dec ! appsink name=sink "
                              "filesrc location=" + a + " ! mpegaudioparse ! c. "
                              "filesrc location=" + b + " ! mpegaudioparse ! c.");
    ASSERT_EQ(run.error, "");
    const Bytes wantA = Program(a), wantB = Program(b);
    ASSERT_EQ(run.pcm.size(), wantA.size() + wantB.size());
    const auto from = run.pcm.begin() + static_cast<long>(wantA.size());
    ExpectSame(Bytes(run.pcm.begin(), from), wantA, "the first file");
    ExpectSame(Bytes(from, run.pcm.end()), wantB, "the second file");
}

const Pair pairs[] = {
    {"OneEncoding", 44100, 44100, "-t -b 128", "-t -b 128"},
    {"CbrThenVbr", 44100, 44100, "-t -b 128", "-t -V 2"},
    {"SecondAtAnotherRate", 44100, 22050, "-t -b 128", "-t -b 64"},
};
INSTANTIATE_TEST_SUITE_P(TwoFiles, Concat, ::testing::Combine(::testing::ValuesIn(pairs), ::testing::ValuesIn(paths)),
                         [](const ::testing::TestParamInfo<std::tuple<Pair, Path>> &i) {
                             return std::string(std::get<0>(i.param).name) + "_" + std::get<1>(i.param).name;
                         });

// Frames taken out between the parser and the decoder by a pad probe, the
// next one marked DISCONT (as a source that lost data marks it); or none
// taken out (as the parser marks the frame after junk it skipped).
struct Gap {
    const char *name;
    unsigned from, lost;  // frames
    bool timed;           // else the buffers carry no time: their byte offsets tell
};

void PrintTo(const Gap &g, std::ostream *os)
{
    *os << g.name;
}

void PrintTo(const Path &p, std::ostream *os)
{
    *os << p.name;
}

struct Cut {
    Gap gap;
    unsigned seen = 0;
};

GstPadProbeReturn CutFrames(GstPad *, GstPadProbeInfo *info, gpointer user)
{
    auto *cut = static_cast<Cut *>(user);
    const unsigned i = cut->seen++, after = cut->gap.from + cut->gap.lost;
    if (i >= cut->gap.from && i < after)
        return GST_PAD_PROBE_DROP;
    if (i != after && cut->gap.timed)
        return GST_PAD_PROBE_OK;
    GstBuffer *buffer = gst_buffer_make_writable(GST_PAD_PROBE_INFO_BUFFER(info));
    if (i == after)
        GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DISCONT);
    if (!cut->gap.timed)
        GST_BUFFER_PTS(buffer) = GST_BUFFER_DTS(buffer) = GST_BUFFER_DURATION(buffer) = GST_CLOCK_TIME_NONE;
    GST_PAD_PROBE_INFO_DATA(info) = buffer;
    return GST_PAD_PROBE_OK;
}

class Discontinuity : public Streams, public ::testing::WithParamInterface<std::tuple<Gap, Path>> {};

TEST_P(Discontinuity, SplicesNoFramesAcrossAGapAndKeepsEveryFrameWithout)
{
    const Gap &g = std::get<0>(GetParam());
    Use(std::get<1>(GetParam()));
    // CBR with the bit reservoir in use and no Info frame: buffer i is frame i
    const std::string mp3 = Encoded("song", 44100, 300000, "-t -b 96");
    const Bytes file = ReadFile(mp3);
    std::vector<size_t> starts = FrameOffsets(file);
    ASSERT_GT(starts.size(), g.from + g.lost + 50);
    starts.push_back(file.size());

    Cut cut{g};
    const Output run = Played(Parsed(mp3), [&cut](GstElement *pipeline) {
        GstElement *dec = gst_bin_get_by_name(GST_BIN(pipeline), "dec");
        GstPad *pad = gst_element_get_static_pad(dec, "sink");
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, CutFrames, &cut, nullptr);
        gst_object_unref(pad);
        gst_object_unref(dec);
    });
    ASSERT_EQ(run.error, "");

    Bytes want;
    if (g.lost == 0) {
        want = Played(Parsed(mp3)).pcm;  // the whole stream, every frame decoded
    } else {
        // the frames before the gap as a file that ends there, and the ones
        // after it as a file that starts there
        const auto part = [&](size_t from, size_t to, const std::string &name) {
            WriteFile(dir + "/" + name, Bytes(file.begin() + static_cast<long>(from), file.begin() + static_cast<long>(to)));
            return Played(Parsed(dir + "/" + name)).pcm;
        };
        want = Join(part(0, starts[g.from], "head.mp3"), part(starts[g.from + g.lost], file.size(), "tail.mp3"));
    }
    // where nothing was lost, a new handle decodes on from the frames fed
    // again, its output stage's error feedback started afresh: within 1 LSB
    ExpectSame(run.pcm, want, "the stream", g.lost == 0);
}

const Gap gaps[] = {
    {"FramesLost", 100, 20, true},
    {"FramesLostWithoutTime", 100, 20, false},
    {"NothingLost", 100, 0, true},
    {"NothingLostWithoutTime", 100, 0, false},
};
INSTANTIATE_TEST_SUITE_P(Gaps, Discontinuity, ::testing::Combine(::testing::ValuesIn(gaps), ::testing::ValuesIn(paths)),
                         [](const ::testing::TestParamInfo<std::tuple<Gap, Path>> &i) {
                             return std::string(std::get<0>(i.param).name) + "_" + std::get<1>(i.param).name;
                         });

} // namespace
