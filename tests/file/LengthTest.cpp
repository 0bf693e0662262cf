// SPDX-License-Identifier: GPL-2.0-or-later
// Length, seek and tell agree with the samples the reads give, exactly, at
// every output rate and on every stream the decoder takes: streams that
// change rate, garbage between frames, frames the decoder drops, a stream
// joined in the middle of a song.
#include <gtest/gtest.h>

#include <random>

#include "HostDecoder.h"
#include "TestSupport.h"
#include "cli/HostSupport.h"
#include "format/Converter.h"
#include "vorlixfile.h"

namespace {

const std::string data = VORLIX_TEST_DATA;
const std::string host = VORLIX_DECODE;

using File = std::unique_ptr<VorlixFile, decltype(&vf_free)>;

struct LengthCase {
    const char *file;
    int rate;           // of the output; 0: the stream's
    bool seeks = true;  // seeks land within 1 LSB of the decode's stretch
};

void PrintTo(const LengthCase &c, std::ostream *os)
{
    *os << c.file << " at " << c.rate;
}

std::string CaseName(const ::testing::TestParamInfo<LengthCase> &info)
{
    std::string name = std::string(info.param.file) + "_" + std::to_string(info.param.rate);
    for (char &c : name)
        if (!isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return name;
}

class Length : public HostFixture, public ::testing::WithParamInterface<LengthCase> {
protected:
    void SetUp() override
    {
        HostFixture::SetUp();
        ResetDecoder();
        ForgetDecoderUse();
    }

    // the fixture, or a stream cut in the middle of a song
    std::string Path()
    {
        const std::string name = GetParam().file;
        if (name != "cut-mid-song")
            return data + "/" + name;
        const Bytes whole = ReadFixture("mpeg1-44100-stereo.mp3");
        const std::vector<size_t> offsets = FrameOffsets(whole);
        WriteFile(dir + "/cut.mp3", Bytes(whole.begin() + static_cast<long>(offsets[9]), whole.end()));
        return dir + "/cut.mp3";
    }

    File Open(const std::string &path)
    {
        File f(vf_open_file(path.c_str(), nullptr), vf_free);
        EXPECT_NE(f, nullptr);
        if (f != nullptr) {
            EXPECT_EQ(vf_set_output(f.get(), GetParam().rate, 0), 0);
        }
        return f;
    }
};

std::vector<int16_t> ReadAll(VorlixFile *f)
{
    std::vector<int16_t> out, pcm(4096 * 2);
    int n;
    while ((n = vf_read(f, pcm.data(), 4096)) > 0)
        out.insert(out.end(), pcm.begin(), pcm.begin() + n * vf_channels(f));
    EXPECT_EQ(n, 0);
    return out;
}

TEST_P(Length, SeekTellAndLengthAgreeWithTheReads)
{
    const std::string path = Path();
    const uint32_t seed = TestSeed();
    SCOPED_TRACE(SeedNote(seed));
    std::mt19937 random(seed);
    File f = Open(path);
    ASSERT_NE(f, nullptr);
    const int64_t before = vf_length(f.get());
    const int channels = vf_channels(f.get());
    const std::vector<int16_t> full = ReadAll(f.get());
    const int64_t samples = static_cast<int64_t>(full.size()) / channels;
    EXPECT_EQ(before, samples) << "before reading";
    EXPECT_EQ(vf_length(f.get()), samples) << "after reading";
    EXPECT_EQ(vf_tell(f.get()), samples);

    // vorlix-decode writes as much, and --info counts the same at the
    // stream's own rate
    if (GetParam().rate == 0) {
        ASSERT_EQ(Shell(host + " --json " + path + " > " + dir + "/info.json"), 0);
        const Bytes json = ReadFile(dir + "/info.json");
        EXPECT_NE(std::string(json.begin(), json.end()).find("\"samples\": " + std::to_string(samples) + ","),
                  std::string::npos)
            << std::string(json.begin(), json.end());
    }

    if (!GetParam().seeks)
        return;
    std::vector<int64_t> targets = {0, 1, samples / 2, samples - 1, samples};
    for (int i = 0; i < 12; ++i)
        targets.push_back(static_cast<int64_t>(random() % static_cast<uint64_t>(samples + 1)));
    std::vector<int16_t> pcm(1500 * 2);
    for (const int64_t target : targets) {
        SCOPED_TRACE(target);
        ASSERT_EQ(vf_seek(f.get(), target), 0);
        EXPECT_EQ(vf_tell(f.get()), target);
        const int n = vf_read(f.get(), pcm.data(), 1500);
        ASSERT_EQ(n, static_cast<int>(std::min<int64_t>(1500, samples - target)));
        EXPECT_EQ(vf_tell(f.get()), target + n);
        int worst = 0;
        for (int k = 0; k < n * channels; ++k)
            worst = std::max(worst, std::abs(pcm[static_cast<size_t>(k)] - full[static_cast<size_t>(target * channels + k)]));
        EXPECT_LE(worst, 1);
    }
    EXPECT_EQ(vf_seek(f.get(), samples + 1), VF_EBADPOS);
}

const LengthCase lengthCases[] = {
    {"mpeg1-44100-stereo.mp3", 0},      {"mpeg1-44100-stereo.mp3", 48000}, {"mpeg1-44100-stereo.mp3", 8000},
    {"mpeg2-22050-mono.mp3", 44100},    {"mpeg25-8000-mono.mp3", 11025},   {"mpeg1-48000-stereo.mp3", 22050},
    {"format-change.mp3", 0},           {"format-change.mp3", 32000},      {"garbage-between-frames.mp3", 0},
    {"garbage-between-frames.mp3", 12000}, {"damaged-frame.mp3", 0},       {"damaged-frame.mp3", 24000},
    {"cut-mid-song", 0},                {"cut-mid-song", 16000},           {"tag-between.mp3", 0},
    {"junk-false-free-format.mp3", 0},
    // after a seek libmad finds a free-format stream's frame length again
    // from the first frame it gets, and on some frames of this one takes a
    // sync word in the frame's data for the next frame
    {"free-format.mp3", 48000, false},
};
INSTANTIATE_TEST_SUITE_P(Streams, Length, ::testing::ValuesIn(lengthCases), CaseName);

// Without a scan (a pipe) the frames of the other rates still follow one
// another: a stretch cut from the stream is the file's stretch
class Stretch : public HostFixture {};

TEST_F(Stretch, APipeOfAStreamThatChangesRateCutsAsTheFileDoes)
{
    const std::string path = data + "/format-change.mp3";
    for (const std::string options : {"", "-s 0.5 -t 0.3", "-s 1.0 -t 0.2", "--rate 48000 -s 0.9 -t 0.2"}) {
        SCOPED_TRACE(options);
        ASSERT_EQ(Shell(host + " -q --raw " + options + " " + path + " -o " + dir + "/file.pcm"), 0);
        ASSERT_EQ(Shell(host + " -q --raw " + options + " - -o " + dir + "/pipe.pcm < " + path), 0);
        EXPECT_EQ(ReadFile(dir + "/pipe.pcm"), ReadFile(dir + "/file.pcm"));
    }
}

// The converter's count per frame, against the library's own output for
// one frame of each length at every pair of rates
TEST(Converter, CountsWhatTheDecoderGivesForAFrame)
{
    const int rates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
    for (const int from : rates)
        for (const int to : rates)
            for (const int length : {384, 576, 1152}) {
                const std::vector<mad_fixed_t> in(static_cast<size_t>(length), 0);
                EXPECT_EQ(ConvertedLength(from, length, to),
                          static_cast<int32_t>(ConvertFresh(in, static_cast<uint32_t>(from), static_cast<uint32_t>(to)).size()))
                    << from << " to " << to << ", " << length;
            }
    EXPECT_EQ(ConvertedLength(44100, 1, 48000), 0);
    EXPECT_EQ(ConvertedLength(44100, 1152, 44100), 1152);
}

} // namespace
