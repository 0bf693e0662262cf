// SPDX-License-Identifier: GPL-2.0-or-later
// Runs the built vorlix-decode as a user would and checks what it writes.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <sys/wait.h>

#include "Wav.h"
#include "cli/HostSupport.h"

namespace {

uint64_t Field(const std::vector<uint8_t> &h, size_t at, int bytes)
{
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | h[at + static_cast<size_t>(i)];
    return v;
}

TEST(Wav, HeaderBecomesRf64PastFourGibibytes)
{
    constexpr uint64_t limit = UINT32_MAX - 72;  // largest data of a plain reserved WAV
    for (const uint64_t data : {uint64_t{0}, uint64_t{1000}, limit - 4, limit, limit + 4, uint64_t{6} << 30}) {
        SCOPED_TRACE(data);
        const std::vector<uint8_t> h = WavHeader(2, 44100, data, true);
        ASSERT_EQ(h.size(), WavHeaderSize(true));
        ASSERT_EQ(h.size(), 80u);
        const bool rf64 = data > limit;
        EXPECT_EQ(std::string(h.begin(), h.begin() + 4), rf64 ? "RF64" : "RIFF");
        EXPECT_EQ(std::string(h.begin() + 12, h.begin() + 16), rf64 ? "ds64" : "JUNK");
        EXPECT_EQ(Field(h, 16, 4), 28u);
        EXPECT_EQ(std::string(h.begin() + 48, h.begin() + 52), "fmt ");
        EXPECT_EQ(Field(h, 68, 2), 4u);  // block align
        EXPECT_EQ(std::string(h.begin() + 72, h.begin() + 76), "data");
        if (rf64) {
            EXPECT_EQ(Field(h, 4, 4), UINT32_MAX);
            EXPECT_EQ(Field(h, 76, 4), UINT32_MAX);
            EXPECT_EQ(Field(h, 20, 8), data + 72);
            EXPECT_EQ(Field(h, 28, 8), data);
            EXPECT_EQ(Field(h, 36, 8), data / 4);
        } else {
            EXPECT_EQ(Field(h, 4, 4), data + 72);
            EXPECT_EQ(Field(h, 76, 4), data);
            EXPECT_EQ(Field(h, 20, 24), 0u);
        }
    }
    // a stream cannot be patched: a plain header, sizes capped
    const std::vector<uint8_t> plain = WavHeader(1, 8000, uint64_t{5} << 30, false);
    ASSERT_EQ(plain.size(), 44u);
    EXPECT_EQ(Field(plain, 4, 4), UINT32_MAX);
    EXPECT_EQ(Field(plain, 40, 4), UINT32_MAX - 36);
    EXPECT_EQ(Field(WavHeader(1, 8000, 1000, false), 40, 4), 1000u);
}


const std::string host = VORLIX_DECODE;
const std::string data = VORLIX_TEST_DATA;
const std::string sample = VORLIX_SAMPLE;

using Host = HostFixture;

TEST_F(Host, WritesAWavFileWithTheProbedFormatAndTheLibrarysPcm)
{
    for (const char *name : {"mpeg1-48000-stereo.mp3", "mpeg2-22050-mono.mp3"}) {
        SCOPED_TRACE(name);
        const std::string out = dir + "/out.wav";
        ASSERT_EQ(Shell(host + " -q -G " + data + "/" + name + " -o " + out), 0);
        const Bytes bytes = ReadFile(out);
        const WavFile wav = ParseWav(bytes);
        const bool mono = std::string(name).find("mono") != std::string::npos;
        EXPECT_EQ(wav.riff, "RIFF");
        EXPECT_EQ(wav.riffSize, bytes.size() - 8);
        // a file keeps room for the RF64 sizes in a chunk that readers skip
        EXPECT_EQ(wav.chunks, (std::vector<std::string>{"JUNK", "fmt ", "data"}));
        EXPECT_EQ(wav.format, 1);
        EXPECT_EQ(wav.channels, mono ? 1 : 2);
        EXPECT_EQ(wav.rate, mono ? 22050u : 48000u);
        EXPECT_EQ(wav.bits, 16);
        EXPECT_EQ(wav.dataSize, wav.data.size());
        EXPECT_EQ(wav.data, UntrimmedPcm(ReadFixture(name)));
    }
}

TEST_F(Host, DefaultOutputNameReplacesTheExtensionAndNeverTheInput)
{
    ASSERT_EQ(Shell("cp " + sample + " " + dir + "/song.mp3 && cp " + sample + " " + dir + "/clip.wav"), 0);
    EXPECT_EQ(Shell(host + " -q " + dir + "/song.mp3"), 0);
    EXPECT_TRUE(Exists(dir + "/song.wav"));
    EXPECT_EQ(Shell(host + " -q " + dir + "/clip.wav"), 0);
    EXPECT_TRUE(Exists(dir + "/clip.wav.wav"));
    EXPECT_EQ(ReadFile(dir + "/clip.wav"), ReadFile(sample));
    EXPECT_EQ(Shell(host + " -q --raw " + dir + "/song.mp3"), 0);
    EXPECT_TRUE(Exists(dir + "/song.pcm"));
    // never over an input, nor over another file that holds MPEG audio
    EXPECT_EQ(Shell(host + " -q " + dir + "/song.mp3 -o " + dir + "/song.mp3"), 3);
    EXPECT_EQ(Shell(host + " -q " + dir + "/song.mp3 -o " + dir + "/clip.wav"), 3);
    EXPECT_EQ(ReadFile(dir + "/song.mp3"), ReadFile(sample));
    EXPECT_EQ(ReadFile(dir + "/clip.wav"), ReadFile(sample));
}

TEST_F(Host, RawPipesAndTheWavPayloadAgree)
{
    const std::string in = data + "/mpeg25-11025-stereo.mp3";
    ASSERT_EQ(Shell(host + " -q " + in + " -o " + dir + "/a.wav"), 0);
    ASSERT_EQ(Shell(host + " -q --raw " + in + " -o " + dir + "/a.raw"), 0);
    ASSERT_EQ(Shell("cat " + in + " | " + host + " -q --raw - > " + dir + "/b.raw"), 0);
    ASSERT_EQ(Shell("cat " + in + " | " + host + " -q -o - - | cat > " + dir + "/b.wav"), 0);
    const Bytes raw = ReadFile(dir + "/a.raw");
    EXPECT_EQ(ParseWav(ReadFile(dir + "/a.wav")).data, raw);
    EXPECT_EQ(ReadFile(dir + "/b.raw"), raw);
    // through a pipe the header is the plain 44 bytes with the streaming sizes
    const Bytes piped = ReadFile(dir + "/b.wav");
    ASSERT_GE(piped.size(), 44u);
    EXPECT_EQ(Le32(piped, 4), 0xffffffffu);
    EXPECT_EQ(ParseWav(piped).chunks, (std::vector<std::string>{"fmt ", "data"}));
    EXPECT_EQ(Bytes(piped.begin() + 44, piped.end()), raw);
}

TEST_F(Host, StartAndDurationCutTheOutput)
{
    ASSERT_EQ(Shell(host + " -q --raw " + sample + " -o " + dir + "/full.raw"), 0);
    ASSERT_EQ(Shell(host + " -q --raw -s 1.5 " + sample + " -o " + dir + "/late.raw"), 0);
    ASSERT_EQ(Shell("cat " + sample + " | " + host + " -q --raw --start 0:01.5 --time 1 - > " + dir + "/cut.raw"), 0);
    const Bytes full = ReadFile(dir + "/full.raw");
    const Bytes late = ReadFile(dir + "/late.raw");
    const Bytes cut = ReadFile(dir + "/cut.raw");
    // the stretch of the full decode from sample 66150 on: exactly through a
    // pipe, which decodes from the start and drops what comes before; within
    // 1 LSB after a seek, where the output stage's error feedback starts afresh
    const size_t from = 66150 * 4;
    ASSERT_EQ(late.size(), full.size() - from);
    ASSERT_EQ(cut.size(), 44100u * 4);
    EXPECT_TRUE(std::equal(cut.begin(), cut.end(), full.begin() + from));
    EXPECT_LE(MaxDifference(late, Bytes(full.begin() + from, full.end())), 1);

    // the sample (4 s at 44.1 kHz) ends at 4: a start there is past the end,
    // one sample before it is the last sample
    EXPECT_EQ(Shell(host + " -q --raw -s 4 " + sample + " -o " + dir + "/none.raw"), 1);
    ASSERT_EQ(Shell(host + " -q --raw -s 3.99998 " + sample + " -o " + dir + "/last.raw"), 0);
    EXPECT_EQ(ReadFile(dir + "/last.raw").size(), 4u);
    // a field of 60 seconds or minutes is no time (as a duration, which
    // would otherwise just run to the end)
    for (const char *time : {"0:60", "1:60:00", "0:59:60.5"})
        EXPECT_EQ(Shell(host + " -q --raw -t " + time + " " + sample + " -o " + dir + "/none.raw"), 1) << time;
    ASSERT_EQ(Shell(host + " -q --raw -t 0:59.5 " + sample + " -o " + dir + "/ok.raw"), 0);
}

TEST_F(Host, ErrorsHaveTheirExitCodes)
{
    Bytes noise(20000);
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<uint8_t>((i * 131 + 7) % 0xff);
    std::ofstream(dir + "/noise.mp3", std::ios::binary).write(reinterpret_cast<char *>(noise.data()), 20000);

    EXPECT_EQ(Shell(host + " -q " + dir + "/missing.mp3 -o " + dir + "/x.wav"), 2);
    EXPECT_EQ(Shell(host + " -q " + dir + "/noise.mp3 -o " + dir + "/x.wav"), 2);
    EXPECT_FALSE(Exists(dir + "/x.wav"));
    EXPECT_EQ(Shell(host + " -q " + sample + " -o " + dir + "/no/such/dir.wav"), 3);
    EXPECT_EQ(Shell(host + " -q " + sample + " -o /dev/full"), 3);
    EXPECT_EQ(Shell(host + " -q " + sample + " " + sample + " -o " + dir + "/x.wav"), 1);
    EXPECT_EQ(Shell(host + " -q --rate 44101 " + sample), 1);
    EXPECT_EQ(Shell(host + " -q --start 1:75 " + sample), 1);
    EXPECT_EQ(Shell(host + " -q --start 5 " + sample + " -o " + dir + "/late.wav"), 1);  // past the end
    EXPECT_FALSE(Exists(dir + "/late.wav"));
    EXPECT_EQ(Shell(host + " -q --bogus " + sample), 1);
    EXPECT_EQ(Shell(host), 1);
    EXPECT_EQ(Shell(host + " --help >/dev/null"), 0);
    EXPECT_EQ(Shell(host + " --version >/dev/null"), 0);
}

TEST_F(Host, AFailedWriteRemovesThePartialFile)
{
    // a file size limit makes writes fail part of the way through
    const std::string out = dir + "/partial.wav";
    EXPECT_EQ(Shell("trap '' XFSZ; ulimit -f 64; " + host + " -q " + sample + " -o " + out), 3);
    EXPECT_FALSE(Exists(out));
}

TEST_F(Host, RateOptionConvertsAndLabelsTheWav)
{
    const std::string name = "mpeg25-8000-stereo.mp3";
    ASSERT_EQ(Shell(host + " -q -G --rate 48000 " + data + "/" + name + " -o " + dir + "/up.wav"), 0);
    const WavFile wav = ParseWav(ReadFile(dir + "/up.wav"));
    EXPECT_EQ(wav.rate, 48000u);
    EXPECT_EQ(wav.byteRate, 48000u * 4);
    const Bytes stream = ReadFixture(name);
    ResetDecoder();
    int32_t rate = 48000, channels, bitRate;
    uint16_t t[3][200] = {};
    ASSERT_EQ(GetHeaderInfo(stream.data(), static_cast<int32_t>(stream.size()), &rate, &channels,
                            &bitRate, t[0], t[1], t[2]), 0);
    // every frame converts to the same count: the header frame's share goes
    Bytes expected = DecodeStream(stream, 4096).pcm;
    expected.erase(expected.begin(), expected.begin() + static_cast<long>(expected.size() / FrameOffsets(stream).size()));
    EXPECT_EQ(wav.data, expected);
}

TEST_F(Host, EqualizerOptions)
{
    const std::string in = data + "/mpeg1-44100-stereo.mp3";
    ASSERT_EQ(Shell(host + " -q --raw -G --eq 6,5,4,2,0,0,0,0,0,0,-4 " + in + " -o " + dir + "/eq.raw"), 0);
    ASSERT_EQ(Shell(host + " -q --raw -G --eq-preset bass " + in + " -o " + dir + "/bass.raw"), 0);
    ResetDecoder();
    const int8_t bands[11] = {6, 5, 4, 2, 0, 0, 0, 0, 0, 0, -4};
    Init(1, bands);
    Bytes expected = DecodeStream(ReadFixture("mpeg1-44100-stereo.mp3"), 4096, false).pcm;
    expected.erase(expected.begin(), expected.begin() + 1152 * 4);  // the header frame
    EXPECT_EQ(ReadFile(dir + "/eq.raw"), expected);
    EXPECT_EQ(ReadFile(dir + "/bass.raw"), expected);

    for (const char *bad : {"1,2,3", "0,0,0,0,0,0,0,0,0,0,128", "0,0,0,0,0,0,0,0,0,0,x",
                            "0,0,0,0,0,0,0,0,0,0,0,0", "0,0,0,0,0,0,0,0,0,0,"})
        EXPECT_EQ(Shell(host + " -q --eq " + bad + " " + in + " -o " + dir + "/x.wav"), 1) << bad;
    EXPECT_EQ(Shell(host + " -q --eq-preset disco " + in + " -o " + dir + "/x.wav"), 1);
    EXPECT_FALSE(Exists(dir + "/x.wav"));
}

TEST_F(Host, ManPageNamesEveryOptionOfTheHelp)
{
    std::vector<std::pair<std::string, std::string>> programs = {{host, VORLIX_MANPAGE}};
#ifdef VORLIX_PLAY
    programs.emplace_back(VORLIX_PLAY, VORLIX_PLAY_MANPAGE);
#endif
    for (const auto &[program, manpage] : programs) {
        SCOPED_TRACE(program);
        ASSERT_EQ(Shell(program + " --help > " + dir + "/help.txt"), 0);
        const Bytes help = ReadFile(dir + "/help.txt");
        const Bytes man = ReadFile(manpage);
        std::string page;
        for (size_t i = 0; i < man.size(); ++i)  // roff escapes the dashes: "\-"
            if (!(man[i] == '\\' && i + 1 < man.size() && man[i + 1] == '-'))
                page += static_cast<char>(man[i]);
        const std::string text(help.begin(), help.end());
        // every "-x" and "--long-name" that starts a word of the help
        int count = 0;
        for (size_t i = 0; i + 1 < text.size(); ++i) {
            if (text[i] != '-' || (i > 0 && text[i - 1] != ' ' && text[i - 1] != ','))
                continue;
            size_t end = i + 1 + (text[i + 1] == '-');
            if (end >= text.size() || !std::isalpha(static_cast<unsigned char>(text[end])))
                continue;
            while (end < text.size() && (std::isalpha(static_cast<unsigned char>(text[end])) || text[end] == '-'))
                ++end;
            const std::string name = text.substr(i, end - i);
            EXPECT_NE(page.find(name), std::string::npos) << name;
            ++count;
            i = end;
        }
        EXPECT_GT(count, 10);
    }
}

TEST_F(Host, InfoPrintsFormatAndTags)
{
    const std::string out = dir + "/info.txt";
    ASSERT_EQ(Shell(host + " --info " + sample + " > " + out), 0);
    const Bytes text = ReadFile(out);
    const std::string s(text.begin(), text.end());
    EXPECT_NE(s.find("MPEG-1 Layer III, 44100 Hz, joint stereo\nBit rate: CBR, 128 kbit/s"), std::string::npos) << s;
    EXPECT_NE(s.find("Title:    Vorlix Sample"), std::string::npos) << s;
    EXPECT_NE(s.find("Artist:   The Vorlix Developers"), std::string::npos) << s;
    EXPECT_NE(s.find("Album:    Test Signals"), std::string::npos) << s;
    ASSERT_EQ(Shell(host + " -T " + data + "/mpeg25-8000-mono.mp3 > " + out), 0);
    const Bytes text2 = ReadFile(out);
    EXPECT_NE(std::string(text2.begin(), text2.end()).find("MPEG-2.5 Layer III, 8000 Hz, mono\nBit rate: CBR, 16 kbit/s"),
              std::string::npos);
    // tags in full Unicode from ID3v2, with ID3v1 at the end where there is none
    ASSERT_EQ(Shell(host + " -T " + data + "/tag-v24.mp3 > " + out), 0);
    const Bytes v24 = ReadFile(out);
    const std::string v24Text(v24.begin(), v24.end());
    EXPECT_NE(v24Text.find("Title:    Caf\xc3\xa9 \xd0\x96\n"), std::string::npos) << v24Text;
    EXPECT_NE(v24Text.find("Artist:   First Artist / Second\n"), std::string::npos) << v24Text;
    ASSERT_EQ(Shell(host + " -T " + data + "/tag-trailing.mp3 > " + out), 0);
    const Bytes v1 = ReadFile(out);
    const std::string v1Text(v1.begin(), v1.end());
    EXPECT_NE(v1Text.find("Title:    V1 Title\nArtist:   V1 Artist\nAlbum:    V1 Album\nYear:     2026\n"),
              std::string::npos) << v1Text;
    // the layer is the frame header's: twenty silent MPEG-1 Layer II frames
    Bytes layer2;
    for (int i = 0; i < 20; ++i) {
        const Bytes frame = {0xff, 0xfd, 0x80, 0xc0};
        layer2.insert(layer2.end(), frame.begin(), frame.end());
        layer2.resize(layer2.size() + 417 - 4, 0);
    }
    WriteFile(dir + "/layer2.mp2", layer2);
    ASSERT_EQ(Shell(host + " -T " + dir + "/layer2.mp2 > " + out), 0);
    const Bytes text3 = ReadFile(out);
    EXPECT_NE(std::string(text3.begin(), text3.end()).find("MPEG-1 Layer II, 44100 Hz, mono\nBit rate: CBR, 128 kbit/s"),
              std::string::npos) << std::string(text3.begin(), text3.end());
}

// Each way an input fails, named for what it is: a read that fails is a
// read error (not "no MPEG audio", nor the text of a stale errno), an input
// that cannot be opened says why; nothing is left behind.
struct InputFailureCase {
    const char *name;
    std::string input;       // under the scratch folder where it starts with '/'; %s: the song
    size_t failAfter;        // a socket on standard input fails after these bytes; 0: a path
    const char *options;
    const char *message;     // the end of the message, after the quoted name
};

void PrintTo(const InputFailureCase &c, std::ostream *out)
{
    *out << c.name;
}

class InputFailures : public HostFixture, public ::testing::WithParamInterface<InputFailureCase> {};

TEST_P(InputFailures, AreNamedForWhatTheyAre)
{
    const InputFailureCase &c = GetParam();
    // 6 s at 320 kbit/s, without a header frame: a stream's length is counted
    WriteFile(dir + "/song.wav", Wav(Signal(44100, 2, 44100 * 6), 44100));
    ASSERT_EQ(Shell("lame --quiet -t -b 320 " + dir + "/song.wav " + dir + "/song.mp3"), 0);
    const std::string input = c.input == "%s" ? dir + "/song.mp3" : c.input[0] == '@' ? dir + c.input.substr(1) : c.input;
    const std::string out = dir + "/out.wav", err = dir + "/err.txt";
    const std::string command = host + " " + c.options + " " + (c.failAfter > 0 ? "-" : input) + " -o " + out;
    const int status = c.failAfter > 0 ? Shell(WithFailingInput(dir, command + " 2> " + err, input, c.failAfter))
                                       : Shell(command + " 2> " + err);
    EXPECT_EQ(status, 2);
    const Bytes bytes = ReadFile(err);
    const std::string text(bytes.begin(), bytes.end());
    const std::string name = c.failAfter > 0 ? "-" : input;
    EXPECT_EQ(text, "vorlix-decode: " + std::string(c.message).replace(std::string(c.message).find("%s"), 2, "'" + name + "'") + "\n");
    EXPECT_FALSE(Exists(out));
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, InputFailures,
    ::testing::Values(
        // reading offset 0 of the process's own memory file fails (EIO)
        InputFailureCase{"UnreadableFile", "/proc/self/mem", 0, "-q", "read error in %s"},
        InputFailureCase{"UnreadableFileInfo", "/proc/self/mem", 0, "--info", "read error in %s"},
        InputFailureCase{"MissingFile", "@/none.mp3", 0, "-q", "cannot open %s: No such file or directory"},
        InputFailureCase{"Directory", "@/", 0, "-q", "cannot open %s: Is a directory"},
        InputFailureCase{"StreamFailsAtTheStart", "%s", 3000, "-q", "read error in %s"},
        InputFailureCase{"StreamFailsMidWay", "%s", 150000, "-q", "read error in %s"},
        InputFailureCase{"StreamFailsMidWayRaw", "%s", 150000, "-q --raw", "read error in %s"},
        InputFailureCase{"StreamFailsWhileCounted", "%s", 150000, "--info", "read error in %s"}),
    [](const ::testing::TestParamInfo<InputFailureCase> &info) { return std::string(info.param.name); });

} // namespace
