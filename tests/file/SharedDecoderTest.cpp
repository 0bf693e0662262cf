// SPDX-License-Identifier: GPL-2.0-or-later
// The shared decoder (no private copy to be had: the limit at 0), taken over
// from handle to handle at every frame: each handle's output within 1 LSB of
// its decode alone on a private copy, and exactly as long. Takeovers right
// after a seek, on small VBR frames, across a format change, with the
// equalizer, and where a takeover's probe fails.
#include <algorithm>
#include <cmath>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "cli/HostSupport.h"
#include "HostDecoder.h"
#include "Instance.h"
#include "vorlixfile.h"

namespace {

const std::string data = VORLIX_TEST_DATA;
using File = std::unique_ptr<VorlixFile, decltype(&vf_free)>;

const int8_t bass[11] = {6, 5, 4, 2, 0, 0, 0, 0, 0, 0, -4};

// What a handle reads: its file and output, from where, in what steps.
struct Part {
    std::string file;
    int rate = 0;       // output rate (0: the stream's)
    bool eq = false;
    int64_t seek = -1;  // a seek before the first read (samples)
    int chunk = 500;    // samples per read: at most about a frame, so that
                        // each read decodes a frame or none
    // fed whole frames, one before each read, from this frame on (as from
    // a parser joining the stream there), rather than read from the file
    int fedFrom = -1;
};

class Handle {
public:
    explicit Handle(const Part &part)
        : part_(part), file_(part.fedFrom >= 0 ? vf_open_frames(nullptr) : vf_open_file(part.file.c_str(), nullptr), vf_free)
    {
        if (part.fedFrom >= 0) {
            bytes_ = ReadFile(part.file);
            frames_ = FrameOffsets(bytes_);
            frames_.push_back(bytes_.size());
            next_ = static_cast<size_t>(part.fedFrom);
        }
        if (file_ == nullptr) {
            ADD_FAILURE() << "cannot open " << part.file;
            done_ = true;
            return;
        }
        if (part.rate != 0) {
            EXPECT_EQ(vf_set_output(file_.get(), part.rate, 0), 0);
        }
        if (part.eq)
            vf_set_equalizer(file_.get(), bass);
        if (part.seek >= 0) {
            EXPECT_EQ(vf_seek(file_.get(), part.seek), 0);
        }
    }

    bool Done() const { return done_; }

    void Read()
    {
        if (done_)
            return;
        if (part_.fedFrom >= 0)
            Feed();
        const int n = vf_read(file_.get(), pcm_.data(), part_.chunk);
        if (n == VF_ENEEDMORE)
            return;
        if (n <= 0) {
            EXPECT_EQ(n, 0) << part_.file << ": " << vf_strerror(n);
            done_ = true;
            return;
        }
        AppendLe(out, pcm_.data(), static_cast<size_t>(n * vf_channels(file_.get())));
    }

    Bytes out;

private:
    void Feed()
    {
        if (next_ + 1 < frames_.size()) {
            EXPECT_EQ(vf_feed(file_.get(), bytes_.data() + frames_[next_], frames_[next_ + 1] - frames_[next_]), 0);
            ++next_;
        } else {
            vf_feed_end(file_.get());
        }
    }

    Part part_;
    File file_;
    Bytes bytes_;
    std::vector<size_t> frames_;  // offsets of the frames, then the end
    size_t next_ = 0;             // the frame fed next
    std::vector<int16_t> pcm_ = std::vector<int16_t>(48000 * 2);
    bool done_ = false;
};

// The part alone, on a private copy of the library of its own.
Bytes Alone(const Part &part)
{
    const int before = vf_set_instance_limit(64);
    Handle h(part);
    while (!h.Done())
        h.Read();
    EXPECT_EQ(LiveInstances(), 1);
    vf_set_instance_limit(before);
    return std::move(h.out);
}

// The parts read in turn, one read each, the first one `lead` reads ahead.
std::vector<Bytes> InTurn(const std::vector<Part> &parts, int lead = 0)
{
    std::vector<std::unique_ptr<Handle>> handles;
    for (const Part &p : parts)
        handles.push_back(std::make_unique<Handle>(p));
    for (int k = 0; k < lead; ++k)
        handles[0]->Read();
    for (bool left = true; left;) {
        left = false;
        for (auto &h : handles) {
            h->Read();
            left = left || !h->Done();
        }
    }
    EXPECT_EQ(LiveInstances(), 0);
    std::vector<Bytes> out;
    for (auto &h : handles)
        out.push_back(std::move(h->out));
    return out;
}

// Each part as long as alone and within 1 LSB of it (or, with the
// equalizer, only as long: its gain reduction after clipping starts afresh
// at each takeover).
void ExpectAsAlone(const std::vector<Part> &parts, const std::vector<Bytes> &got)
{
    for (size_t i = 0; i < parts.size(); ++i) {
        SCOPED_TRACE(parts[i].file + " (handle " + std::to_string(i) + ")");
        const Bytes alone = Alone(parts[i]);
        ASSERT_EQ(got[i].size(), alone.size());
        if (!parts[i].eq) {
            EXPECT_LE(MaxDifference(got[i], alone), 1);
        }
    }
}

std::string Data(const char *name)
{
    return data + "/" + name;
}

// Noise and a sweep in bursts, with silence between them: a VBR encoder
// writes its smallest frames in the silence, and the frames at the start of
// a burst draw their main data from many of them.
Bytes Bursts(int32_t rate, int channels, double seconds)
{
    std::vector<std::vector<int16_t>> s = Signal(rate, channels, static_cast<size_t>(seconds * rate));
    const size_t period = static_cast<size_t>(rate) * 7 / 10;
    for (auto &channel : s)
        for (size_t i = 0; i < channel.size(); ++i)
            if (i % period >= period * 4 / 10)
                channel[i] = 0;
    return Wav(s, rate);
}

// VBR streams made by lame for the run.
struct VbrFixture {
    const char *name;
    int32_t rate;
    int channels;
    const char *options;
};

const VbrFixture made[] = {
    {"vbr-48000-stereo.mp3", 48000, 2, "-V 4"},  {"vbr-44100-stereo.mp3", 44100, 2, "-V 0"},
    {"vbr-32000-mono.mp3", 32000, 1, "-V 2"},    {"vbr-24000-stereo.mp3", 24000, 2, "-V 6"},
    {"vbr-24000-mono.mp3", 24000, 1, "-V 9"},    {"vbr-22050-stereo.mp3", 22050, 2, "-V 5"},
    {"vbr-16000-mono.mp3", 16000, 1, "-V 7"},    {"vbr-11025-stereo.mp3", 11025, 2, "-V 8"},
    {"vbr-8000-mono.mp3", 8000, 1, "-V 9"},
};

void PrintTo(const VbrFixture &m, std::ostream *out)
{
    *out << m.name;
}

class SharedDecoder : public HostFixture {
protected:
    static void SetUpTestSuite()
    {
        char pattern[] = "/tmp/vorlix-shared-XXXXXX";
        made_ = mkdtemp(pattern);
        for (const VbrFixture &m : made) {
            const std::string wav = made_ + "/" + m.name + ".wav";
            WriteFile(wav, Bursts(m.rate, m.channels, 3.0));
            ASSERT_EQ(Shell(std::string("lame --quiet ") + m.options + " " + wav + " " + made_ + "/" + m.name), 0)
                << m.name;
        }
        // a change of format upwards: MPEG-2 mono, then MPEG-1 stereo, in
        // one stream (no header frame)
        Bytes joined;
        for (const auto &[rate, channels, options] : {std::tuple{16000, 1, "-V 9"}, std::tuple{48000, 2, "-V 0"}}) {
            const std::string wav = made_ + "/part.wav", mp3 = made_ + "/part.mp3";
            WriteFile(wav, Bursts(rate, channels, 1.2));
            ASSERT_EQ(Shell(std::string("lame --quiet -t ") + options + " " + wav + " " + mp3), 0);
            const Bytes part = ReadFile(mp3);
            joined.insert(joined.end(), part.begin(), part.end());
        }
        WriteFile(made_ + "/format-up.mp3", joined);
    }
    static void TearDownTestSuite() { std::system(("rm -rf " + made_).c_str()); }

    void SetUp() override
    {
        HostFixture::SetUp();
        ForgetDecoderUse();
        before_ = vf_set_instance_limit(0);
    }
    void TearDown() override
    {
        vf_set_instance_limit(before_);
        ForgetDecoderUse();
        HostFixture::TearDown();
    }

    static std::string MadePath(const char *name) { return made_ + "/" + name; }

    static std::string made_;
    int before_ = 0;
};

std::string SharedDecoder::made_;

// The partner a handle takes the decoder back from: the same output rate
// (the takeover restarts the decoder) or another (it probes again).
struct Partner {
    const char *name;
    bool sameRate;
};
const Partner partners[] = {{"SameRate", true}, {"OtherRate", false}};

void PrintTo(const Partner &p, std::ostream *out)
{
    *out << p.name;
}

Part PartnerOf(const Part &part, int32_t rate, bool sameRate)
{
    Part p{Data("mpeg1-44100-stereo.mp3")};
    p.rate = sameRate ? rate : (rate == 44100 ? 48000 : 44100);
    p.chunk = part.chunk;
    return p;
}

// A takeover at every frame after a seek: the run of frames it decodes
// again must reach back past the frames the seek dropped for want of their
// reservoir, as far as the reservoir of the frame before the position.
class AfterASeek : public SharedDecoder, public ::testing::WithParamInterface<std::tuple<VbrFixture, Partner>> {};

TEST_P(AfterASeek, TakeoversReprimeFromEnoughFrames)
{
    const auto &[m, partner] = GetParam();
    for (const double at : {0.45, 1.2, 1.95}) {
        SCOPED_TRACE("seek to " + std::to_string(at) + " s");
        Part part{MadePath(m.name)};
        part.seek = static_cast<int64_t>(at * m.rate);
        const std::vector<Part> parts = {part, PartnerOf(part, m.rate, partner.sameRate)};
        ExpectAsAlone(parts, InTurn(parts));
    }
}

INSTANTIATE_TEST_SUITE_P(, AfterASeek, ::testing::Combine(::testing::ValuesIn(made), ::testing::ValuesIn(partners)),
                         [](const auto &info) {
                             std::string name = std::get<0>(info.param).name;
                             name = name.substr(0, name.find('.'));
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name + "_" + std::get<1>(info.param).name;
                         });

// Small VBR frames at 24 kHz, no seek: a takeover at every frame needs more
// of them than a fixed count for the frame before its position to find its
// reservoir.
TEST_F(SharedDecoder, SmallVbrFramesNeedTheirWholeReservoir)
{
    for (const Partner &partner : partners)
        for (const char *name : {"vbr-24000-stereo.mp3", "vbr-24000-mono.mp3"}) {
            SCOPED_TRACE(std::string(name) + " " + partner.name);
            const Part part{MadePath(name)};
            const std::vector<Part> parts = {part, PartnerOf(part, 24000, partner.sameRate)};
            ExpectAsAlone(parts, InTurn(parts));
        }
}

// Takeovers at every frame, so also right after each change of format,
// whatever the lead of one handle on the other: 44.1 kHz, then 22.05 kHz,
// then 8 kHz; and upwards, from 16 kHz mono to 48 kHz stereo, where the
// frames after the change borrow more main data than those before could.
TEST_F(SharedDecoder, TakeoversAcrossAFormatChange)
{
    const struct {
        std::string file;
        int rate;
    } rows[] = {{Data("format-change.mp3"), 0}, {Data("format-change.mp3"), 48000}, {Data("format-change.mp3"), 8000},
                {MadePath("format-up.mp3"), 0}, {MadePath("format-up.mp3"), 22050}};
    for (const auto &row : rows)
        for (const int lead : {0, 1, 2, 3, 5}) {
            for (const Partner &partner : partners) {
                SCOPED_TRACE(row.file + " at " + std::to_string(row.rate) + ", " + partner.name + ", lead " +
                             std::to_string(lead));
                Part part{row.file, row.rate};
                Part other = PartnerOf(part, row.rate != 0 ? row.rate : 44100, partner.sameRate);
                other.file = row.file;
                const std::vector<Part> parts = {part, other};
                ExpectAsAlone(parts, InTurn(parts, lead));
            }
        }
}

// The equalizer's gain reduction after clipping starts afresh at each
// takeover (documented): only the length is that of the decode alone. The
// same handles without it, and a handle without it beside one with it,
// within 1 LSB.
TEST_F(SharedDecoder, EqualizerOnALoudFile)
{
    struct Row {
        const char *name;
        bool first, second;
    } const rows[] = {{"BothEqualized", true, true}, {"NeitherEqualized", false, false}, {"OnlyThePartner", false, true}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Part a{Data("loud-clipping.mp3")}, b{Data("loud-clipping.mp3")};
        a.eq = row.first;
        b.eq = row.second;
        const std::vector<Part> parts = {a, b};
        ExpectAsAlone(parts, InTurn(parts, 5));
    }
}

// Handles at different output rates; one, fed whole frames from a damaged
// frame on, has the damaged frame alone to probe with when it takes the
// decoder over: the probe fails, and nothing of it may stay behind for the
// handle that used the decoder before (it reads again next); the fed one
// starts afresh once more frames have come, as it does alone.
TEST_F(SharedDecoder, FailedProbeLeavesNothingBehind)
{
    const size_t damaged = FrameOffsets(ReadFile(Data("damaged-frame.mp3"))).size() / 2;
    for (const int rate : {0, 48000, 32000}) {
        SCOPED_TRACE("output rate " + std::to_string(rate));
        Part fed{Data("damaged-frame.mp3"), 48000};
        fed.fedFrom = static_cast<int>(damaged);
        Part before{Data("mpeg1-44100-stereo.mp3"), rate};
        const std::vector<Part> parts = {before, fed};
        ExpectAsAlone(parts, InTurn(parts, 3));
    }
}

// Handles at different output rates, one of which drops a damaged frame,
// taking the decoder over from each other at every frame.
TEST_F(SharedDecoder, DamagedFrameAtDifferentRates)
{
    for (const int chunk : {200, 500, 1152, 3000}) {
        for (const int lead : {0, 1, 9, 20}) {
            SCOPED_TRACE("reads of " + std::to_string(chunk) + ", lead " + std::to_string(lead));
            Part damaged{Data("damaged-frame.mp3")}, other{Data("damaged-frame.mp3")}, third{Data("mpeg1-44100-stereo.mp3")};
            damaged.rate = 48000;
            damaged.chunk = other.chunk = third.chunk = chunk;
            third.rate = 32000;
            const std::vector<Part> parts = {damaged, other, third};
            ExpectAsAlone(parts, InTurn(parts, lead));
        }
    }
}

// Two threads, two handles each, on the shared decoder: takeovers under its
// lock, each handle within 1 LSB of alone.
TEST_F(SharedDecoder, TwoThreadsTwoHandlesEach)
{
    Part afterSeek{MadePath("vbr-44100-stereo.mp3")};
    afterSeek.seek = 50000;
    const std::vector<std::vector<Part>> work = {
        {afterSeek, Part{MadePath("vbr-24000-stereo.mp3")}},
        {Part{Data("format-change.mp3")}, Part{Data("damaged-frame.mp3"), 48000}},
    };
    std::vector<std::vector<Bytes>> got(work.size());
    std::vector<std::thread> threads;
    for (size_t t = 0; t < work.size(); ++t)
        threads.emplace_back([&, t] { got[t] = InTurn(work[t]); });
    for (std::thread &t : threads)
        t.join();
    for (size_t t = 0; t < work.size(); ++t)
        ExpectAsAlone(work[t], got[t]);
}

} // namespace
