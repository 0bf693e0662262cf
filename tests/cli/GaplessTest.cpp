// SPDX-License-Identifier: GPL-2.0-or-later
// Signals of known length, encoded by lame (and by ffmpeg where installed):
// vorlix-decode gives back exactly as many samples as went in, aligned with
// them, says so in --info, and seeks to the sample.
#include <cmath>
#include <map>
#include <random>

#include "cli/HostSupport.h"
#include "format/FrameHeader.h"

namespace {

const std::string host = VORLIX_DECODE;

struct Encoding {
    int32_t rate;
    int channels;
    const char *encoder;  // "lame" or "ffmpeg"
    const char *args;
};

// Samples per channel of every signal: two seconds and a bit, no whole frame.
size_t Length(int32_t rate)
{
    return static_cast<size_t>(rate) * 2 + 123;
}

std::vector<std::vector<int16_t>> Signal(int32_t rate, int channels)
{
    return ::Signal(rate, channels, Length(rate));
}

std::string Name(const Encoding &e)
{
    std::string args = e.args;
    for (char &c : args)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return std::string(e.encoder) + "_" + std::to_string(e.rate) + "_" + std::to_string(e.channels) + args;
}

// The lag in [-range, range] where a channel of the output best matches the source.
int BestLag(const std::vector<int16_t> &source, const std::vector<int16_t> &out, int channels, int channel, int range)
{
    const size_t n = source.size();
    double best = -1e300;
    int bestLag = 0;
    for (int lag = -range; lag <= range; ++lag) {
        double sum = 0;
        for (size_t i = n / 4; i < 3 * n / 4; i += 5) {
            const size_t j = static_cast<size_t>(static_cast<long>(i) + lag);
            sum += static_cast<double>(source[i]) * out[j * static_cast<size_t>(channels) + static_cast<size_t>(channel)];
        }
        if (sum > best)
            best = sum, bestLag = lag;
    }
    return bestLag;
}

class Gapless : public ::testing::TestWithParam<Encoding> {
protected:
    static void SetUpTestSuite()
    {
        char pattern[] = "/tmp/vorlix-gapless-XXXXXX";
        dir = mkdtemp(pattern);
    }
    static void TearDownTestSuite() { std::system(("rm -rf " + dir).c_str()); }

    // The encoded file of an encoding, made once.
    static std::string Encoded(const Encoding &e)
    {
        const std::string mp3 = dir + "/" + Name(e) + ".mp3";
        if (Exists(mp3))
            return mp3;
        const std::string wav = dir + "/" + Name(e) + ".wav";
        WriteFile(wav, Wav(Signal(e.rate, e.channels), e.rate));
        const std::string khz = std::to_string(e.rate / 1000.0);
        const std::string command =
            std::string(e.encoder) == "lame"
                ? "lame --quiet --noreplaygain --resample " + khz + " " + e.args + " " + wav + " " + mp3
                : "ffmpeg -loglevel error -y -i " + wav + " -c:a libmp3lame " + e.args + " " + mp3;
        EXPECT_EQ(Shell(command), 0) << command;
        return mp3;
    }

    static bool Available(const Encoding &e) { return Shell(std::string("command -v ") + e.encoder + " >/dev/null") == 0; }

    static std::string dir;
};

std::string Gapless::dir;

TEST_P(Gapless, DecodesToTheSignalsLengthAlignedWithIt)
{
    const Encoding e = GetParam();
    if (!Available(e))
        GTEST_SKIP() << e.encoder << " is not installed";
    const std::string mp3 = Encoded(e);
    const std::string out = dir + "/" + Name(e) + ".pcm";
    ASSERT_EQ(Shell(host + " -q --raw " + mp3 + " -o " + out), 0);
    const std::vector<int16_t> pcm = Samples(ReadFile(out));
    ASSERT_EQ(pcm.size(), Length(e.rate) * static_cast<size_t>(e.channels));
    const auto source = Signal(e.rate, e.channels);
    for (int c = 0; c < e.channels; ++c)
        EXPECT_EQ(BestLag(source[static_cast<size_t>(c)], pcm, e.channels, c, 700), 0) << "channel " << c;

    // converted, the trims scale with the rate (the padding is what the
    // frames hold beyond the signal and lame's delay of 576)
    if (e.rate == 44100 && std::string(e.encoder) == "lame") {
        const Bytes stream = ReadFile(mp3);
        const double padding = static_cast<double>((FrameOffsets(stream).size() - 1) * 1152 - Length(e.rate) - 576);
        const double frameBytes = 2.0 * e.channels;
        ASSERT_EQ(Shell(host + " -q --raw --rate 48000 " + mp3 + " -o " + out), 0);
        const double trimmed = static_cast<double>(ReadFile(out).size()) / frameBytes;
        ASSERT_EQ(Shell(host + " -q --raw --rate 48000 -G " + mp3 + " -o " + out), 0);
        const double untrimmed = static_cast<double>(ReadFile(out).size()) / frameBytes;
        EXPECT_EQ(untrimmed - trimmed, std::round(1105 * 48000.0 / 44100) + std::round((padding - 529) * 48000 / 44100));
    }

    // untrimmed: every frame but the header frame
    const Bytes stream = ReadFile(mp3);
    FrameHeader h;
    ASSERT_TRUE(ParseFrameHeader(stream.data() + FrameOffsets(stream)[0], h));
    ASSERT_EQ(Shell(host + " -q --raw --no-gapless " + mp3 + " -o " + out), 0);
    EXPECT_EQ(ReadFile(out).size(), (FrameOffsets(stream).size() - 1) * static_cast<size_t>(h.SamplesPerFrame()) *
                                        static_cast<size_t>(e.channels) * 2);

    // --info tells the same length
    ASSERT_EQ(Shell(host + " --info " + mp3 + " > " + out), 0);
    const Bytes info = ReadFile(out);
    const std::string text(info.begin(), info.end());
    EXPECT_NE(text.find("(" + std::to_string(Length(e.rate)) + " samples)"), std::string::npos) << text;
}

const Encoding encodings[] = {
    {44100, 2, "lame", "-b 128"}, {44100, 1, "lame", "-V 2"}, {44100, 2, "lame", "-V 9"},
    {44100, 2, "lame", "--abr 96"}, {48000, 2, "lame", "-V 2"}, {48000, 1, "lame", "-b 64"},
    {22050, 2, "lame", "-V 2"},   {22050, 1, "lame", "-b 64"}, {22050, 2, "lame", "--abr 40"},
    {8000, 1, "lame", "-V 2"},    {8000, 2, "lame", "-b 64"},  {8000, 1, "lame", "-V 9"},
    // CRC-protected: the side information and the Info frame sit 2 bytes later
    {44100, 2, "lame", "-p -b 128"}, {44100, 2, "lame", "-p -V 2"}, {22050, 1, "lame", "-p -b 64"},
    {44100, 2, "ffmpeg", "-b:a 128k"}, {22050, 1, "ffmpeg", "-q:a 4"},
};

INSTANTIATE_TEST_SUITE_P(Encoders, Gapless, ::testing::ValuesIn(encodings),
                         [](const ::testing::TestParamInfo<Encoding> &i) { return Name(i.param); });

TEST_P(Gapless, StartAndDurationGiveTheFullDecodesStretch)
{
    const Encoding e = GetParam();
    if (!Available(e))
        GTEST_SKIP() << e.encoder << " is not installed";
    const std::string mp3 = Encoded(e);
    ASSERT_EQ(Shell(host + " -q --raw " + mp3 + " -o " + dir + "/full.pcm"), 0);
    const Bytes full = ReadFile(dir + "/full.pcm");
    const size_t n = Length(e.rate), bytes = 2 * static_cast<size_t>(e.channels);
    const size_t spf = e.rate < 32000 ? 576 : 1152;
    // output frame k starts at k * spf - 1105 (the start trim)
    const size_t starts[] = {0, 1, spf - 1105 + 5 * spf, spf - 1105 + 5 * spf + 1, 3 * spf + spf / 2, n / 2,
                             n / 3 + 17, n - 3 * spf, n - spf - 1, n - 100, n - 1, 7};
    for (const size_t start : starts) {
        const size_t length = std::min<size_t>(n - start, static_cast<size_t>(e.rate) / 10 + start % 97);
        SCOPED_TRACE(std::to_string(start) + " + " + std::to_string(length));
        char times[96];
        std::snprintf(times, sizeof times, " -s %.9f -t %.9f ", static_cast<double>(start) / e.rate,
                      static_cast<double>(length) / e.rate);
        ASSERT_EQ(Shell(host + " -q --raw" + times + mp3 + " -o " + dir + "/cut.pcm"), 0);
        const Bytes cut = ReadFile(dir + "/cut.pcm");
        ASSERT_EQ(cut.size(), length * bytes);
        const auto from = full.begin() + static_cast<long>(start * bytes);
        EXPECT_LE(MaxDifference(cut, Bytes(from, from + static_cast<long>(length * bytes))), 1);
    }
    // a start past the end is an error
    char past[64];
    std::snprintf(past, sizeof past, " -s %.9f ", static_cast<double>(n + 1) / e.rate);
    EXPECT_EQ(Shell(host + " -q --raw" + past + mp3 + " -o " + dir + "/past.pcm"), 1);
}

// The average bit rate of VBR and ABR streams: the audio frames' bytes over
// their duration, rounded to the bit per second; the header frame's kind
// names the mode, and without a header frame the frames' rates show VBR.
class AverageBitRate : public Gapless {};

TEST_P(AverageBitRate, IsTheAudioFramesBytesOverTheirDuration)
{
    const Encoding e = GetParam();
    const bool abr = std::string(e.args).find("abr") != std::string::npos;
    const Bytes file = ReadFile(Encoded(e));
    const std::vector<size_t> offsets = FrameOffsets(file);
    ASSERT_GT(offsets.size(), 2u);
    const Bytes bare(file.begin() + static_cast<long>(offsets[1]), file.end());
    const uint64_t spf = e.rate < 32000 ? 576 : 1152;
    const uint64_t samples = (offsets.size() - 1) * spf;
    const uint64_t average = (bare.size() * 8 * static_cast<uint64_t>(e.rate) + samples / 2) / samples;
    const std::string dir = Gapless::dir;
    WriteFile(dir + "/bare.mp3", bare);
    for (const auto &[path, mode] : {std::pair{Encoded(e), abr ? "ABR" : "VBR"}, std::pair{dir + "/bare.mp3", "VBR"}}) {
        SCOPED_TRACE(path);
        ASSERT_EQ(Shell(host + " --json " + path + " > " + dir + "/info.json"), 0);
        const Bytes json = ReadFile(dir + "/info.json");
        const std::string text(json.begin(), json.end());
        EXPECT_NE(text.find(std::string("\"bitrate_mode\": \"") + mode + "\""), std::string::npos) << text;
        EXPECT_NE(text.find("\"bitrate\": " + std::to_string(average) + ","), std::string::npos) << text << average;
    }
}

const Encoding averaged[] = {
    {44100, 1, "lame", "-V 2"}, {44100, 2, "lame", "-V 9"}, {44100, 2, "lame", "--abr 96"},
    {22050, 2, "lame", "--abr 40"}, {8000, 1, "lame", "-V 2"}, {44100, 2, "lame", "-p -V 2"},
};

INSTANTIATE_TEST_SUITE_P(Encoders, AverageBitRate, ::testing::ValuesIn(averaged),
                         [](const ::testing::TestParamInfo<Encoding> &i) { return Name(i.param); });

TEST(GaplessInfo, JsonHoldsWhatTheTextSays)
{
    const std::string sample = VORLIX_SAMPLE;
    char pattern[] = "/tmp/vorlix-json-XXXXXX";
    const std::string dir = mkdtemp(pattern);
    ASSERT_EQ(Shell(host + " --json " + sample + " > " + dir + "/info.json"), 0);
    const std::string check =
        "python3 -c 'import json, sys; d = json.load(open(sys.argv[1])); "
        "assert d[\"samples\"] == 176400 and d[\"sample_rate\"] == 44100 and d[\"frames\"] == 155, d; "
        "assert d[\"encoder\"] == \"LAME3.100\" and d[\"trim_start\"] == 1105 and d[\"bitrate_mode\"] == \"CBR\", d; "
        "assert d[\"tags\"][\"title\"] == \"Vorlix Sample\" and d[\"duration\"] == 4.0, d' " + dir + "/info.json";
    EXPECT_EQ(Shell(check), 0);
    std::system(("rm -rf " + dir).c_str());
}

} // namespace

namespace {

using LyingHeader = HostFixture;

TEST_F(LyingHeader, AFalseFrameCountOrTableFallsBackToTheScan)
{
    const Bytes stream = ReadFixture("mpeg1-44100-stereo.mp3");
    ASSERT_EQ(Shell(host + " -q --raw " + std::string(VORLIX_TEST_DATA) + "/mpeg1-44100-stereo.mp3 -o " + dir + "/true.pcm"), 0);
    const Bytes truth = ReadFile(dir + "/true.pcm");
    // the Info frame's fields: flags at 40, frame count at 44, byte count at 48, table at 52
    const size_t frames = 44, table = 52;
    for (const uint32_t count : {0u, 1u, 0x7fffffffu, 0xffffffffu}) {
        SCOPED_TRACE(count);
        Bytes lying = stream;
        for (int i = 0; i < 4; ++i)
            lying[frames + static_cast<size_t>(i)] = static_cast<uint8_t>(count >> (24 - 8 * i));
        std::reverse(lying.begin() + table, lying.begin() + table + 100);
        WriteFile(dir + "/lying.mp3", lying);
        ASSERT_EQ(Shell(host + " -q --raw " + dir + "/lying.mp3 -o " + dir + "/lying.pcm"), 0);
        EXPECT_EQ(ReadFile(dir + "/lying.pcm"), truth);
        // from a file the scan counts; through a pipe, a count past belief is scanned for too
        ASSERT_EQ(Shell(host + " --info " + dir + "/lying.mp3 > " + dir + "/info.txt"), 0);
        const Bytes info = ReadFile(dir + "/info.txt");
        EXPECT_NE(std::string(info.begin(), info.end()).find("(66150 samples)"), std::string::npos);
        ASSERT_EQ(Shell("cat " + dir + "/lying.mp3 | " + host + " --info - > " + dir + "/info.txt"), 0);
        const Bytes piped = ReadFile(dir + "/info.txt");
        if (count == 0 || count > (1u << 25)) {
            EXPECT_NE(std::string(piped.begin(), piped.end()).find("(66150 samples)"), std::string::npos);
        }
        // a seek goes by the scan, not the table
        ASSERT_EQ(Shell(host + " -q --raw -s 0.5 -t 0.25 " + dir + "/lying.mp3 -o " + dir + "/cut.pcm"), 0);
        const Bytes cut = ReadFile(dir + "/cut.pcm");
        ASSERT_EQ(cut.size(), 11025u * 4);
        EXPECT_LE(MaxDifference(cut, Bytes(truth.begin() + 22050 * 4, truth.begin() + 33075 * 4)), 1);
    }
}

} // namespace
