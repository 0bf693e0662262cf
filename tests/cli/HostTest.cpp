// Runs the built vorlix-decode as a user would and checks what it writes.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <sys/wait.h>

#include "TestSupport.h"

namespace {

const std::string host = VORLIX_DECODE;
const std::string data = VORLIX_TEST_DATA;
const std::string sample = VORLIX_SAMPLE;

int Shell(const std::string &command)
{
    const int status = std::system(("set +e; " + command + " 2>/dev/null").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

Bytes ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

bool Exists(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

uint32_t Le32(const Bytes &b, size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

uint16_t Le16(const Bytes &b, size_t at)
{
    return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

class Host : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/vorlix-host-XXXXXX";
        dir = mkdtemp(pattern);
        ResetDecoder();
    }
    void TearDown() override
    {
        std::system(("rm -rf " + dir).c_str());
        ResetDecoder();
    }

    // What the library gives for the stream through the protocol.
    Bytes LibraryPcm(const Bytes &stream)
    {
        ResetDecoder();
        return DecodeStream(stream, 4096).pcm;
    }

    std::string dir;
};

TEST_F(Host, WritesAWavFileWithTheProbedFormatAndTheLibrarysPcm)
{
    for (const char *name : {"mpeg1-48000-stereo.mp3", "mpeg2-22050-mono.mp3"}) {
        SCOPED_TRACE(name);
        const std::string out = dir + "/out.wav";
        ASSERT_EQ(Shell(host + " -q " + data + "/" + name + " " + out), 0);
        const Bytes wav = ReadFile(out);
        ASSERT_GE(wav.size(), 44u);
        const bool mono = std::string(name).find("mono") != std::string::npos;
        EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
        EXPECT_EQ(Le32(wav, 4), wav.size() - 8);
        EXPECT_EQ(std::string(wav.begin() + 8, wav.begin() + 16), "WAVEfmt ");
        EXPECT_EQ(Le16(wav, 20), 1);
        EXPECT_EQ(Le16(wav, 22), mono ? 1 : 2);
        EXPECT_EQ(Le32(wav, 24), mono ? 22050u : 48000u);
        EXPECT_EQ(Le16(wav, 34), 16);
        EXPECT_EQ(Le32(wav, 40), wav.size() - 44);
        EXPECT_EQ(Bytes(wav.begin() + 44, wav.end()), LibraryPcm(ReadFixture(name)));
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
    EXPECT_EQ(Shell(host + " -q " + dir + "/song.mp3 " + dir + "/song.mp3"), 1);
    EXPECT_EQ(ReadFile(dir + "/song.mp3"), ReadFile(sample));
}

TEST_F(Host, RawPipesAndTheWavPayloadAgree)
{
    const std::string in = data + "/mpeg25-11025-stereo.mp3";
    ASSERT_EQ(Shell(host + " -q " + in + " " + dir + "/a.wav"), 0);
    ASSERT_EQ(Shell(host + " -q --raw " + in + " " + dir + "/a.raw"), 0);
    ASSERT_EQ(Shell("cat " + in + " | " + host + " -q --raw - - > " + dir + "/b.raw"), 0);
    ASSERT_EQ(Shell("cat " + in + " | " + host + " -q - - | cat > " + dir + "/b.wav"), 0);
    const Bytes wav = ReadFile(dir + "/a.wav");
    const Bytes raw = ReadFile(dir + "/a.raw");
    EXPECT_EQ(Bytes(wav.begin() + 44, wav.end()), raw);
    EXPECT_EQ(ReadFile(dir + "/b.raw"), raw);
    // through a pipe the header keeps the streaming sizes
    const Bytes piped = ReadFile(dir + "/b.wav");
    ASSERT_GE(piped.size(), 44u);
    EXPECT_EQ(Le32(piped, 4), 0xffffffffu);
    EXPECT_EQ(Bytes(piped.begin() + 44, piped.end()), raw);
}

TEST_F(Host, StartAndDurationCutTheOutput)
{
    const Bytes stream = ReadFile(sample);
    ASSERT_EQ(Shell(host + " -q --raw -s 1.5 " + sample + " " + dir + "/late.raw"), 0);
    ASSERT_EQ(Shell(host + " -q --raw --start 0:01.5 --time 1 - " + dir + "/cut.raw < " + sample), 0);
    // the host seeks past the tag to 1.5 s at 128 kbit/s and decodes from there
    const size_t tag = 10 + ((stream[6] & 0x7f) << 21 | (stream[7] & 0x7f) << 14 |
                             (stream[8] & 0x7f) << 7 | (stream[9] & 0x7f));
    const size_t offset = tag + 1500 * 128 / 8;
    ResetDecoder();
    Init(0, nullptr);
    SeekStart();
    SeekEnd();
    const Bytes expected = DecodeStream(Bytes(stream.begin() + static_cast<long>(offset), stream.end()), 4096, false).pcm;
    const Bytes late = ReadFile(dir + "/late.raw");
    EXPECT_EQ(late, expected);
    const Bytes cut = ReadFile(dir + "/cut.raw");
    EXPECT_EQ(cut.size(), 44100u * 4);
    EXPECT_TRUE(std::equal(cut.begin(), cut.end(), late.begin()));
}

TEST_F(Host, ErrorsHaveTheirExitCodes)
{
    Bytes noise(20000);
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<uint8_t>((i * 131 + 7) % 0xff);
    std::ofstream(dir + "/noise.mp3", std::ios::binary).write(reinterpret_cast<char *>(noise.data()), 20000);

    EXPECT_EQ(Shell(host + " -q " + dir + "/missing.mp3 " + dir + "/x.wav"), 2);
    EXPECT_EQ(Shell(host + " -q " + dir + "/noise.mp3 " + dir + "/x.wav"), 2);
    EXPECT_FALSE(Exists(dir + "/x.wav"));
    EXPECT_EQ(Shell(host + " -q " + sample + " " + dir + "/no/such/dir.wav"), 3);
    EXPECT_EQ(Shell(host + " -q " + sample + " /dev/full"), 3);
    EXPECT_EQ(Shell(host + " -q --rate 44101 " + sample), 1);
    EXPECT_EQ(Shell(host + " -q --start 1:75 " + sample), 1);
    EXPECT_EQ(Shell(host + " -q --bogus " + sample), 1);
    EXPECT_EQ(Shell(host), 1);
    EXPECT_EQ(Shell(host + " --help >/dev/null"), 0);
    EXPECT_EQ(Shell(host + " --version >/dev/null"), 0);
}

TEST_F(Host, AFailedWriteRemovesThePartialFile)
{
    // a file size limit makes writes fail part of the way through
    const std::string out = dir + "/partial.wav";
    EXPECT_EQ(Shell("trap '' XFSZ; ulimit -f 64; " + host + " -q " + sample + " " + out), 3);
    EXPECT_FALSE(Exists(out));
}

TEST_F(Host, RateOptionConvertsAndLabelsTheWav)
{
    const std::string name = "mpeg25-8000-stereo.mp3";
    ASSERT_EQ(Shell(host + " -q --rate 48000 " + data + "/" + name + " " + dir + "/up.wav"), 0);
    const Bytes wav = ReadFile(dir + "/up.wav");
    ASSERT_GE(wav.size(), 44u);
    EXPECT_EQ(Le32(wav, 24), 48000u);
    EXPECT_EQ(Le32(wav, 28), 48000u * 4);
    const Bytes stream = ReadFixture(name);
    ResetDecoder();
    int32_t rate = 48000, channels, bitRate;
    uint16_t t[3][200] = {};
    ASSERT_EQ(GetHeaderInfo(stream.data(), static_cast<int32_t>(stream.size()), &rate, &channels,
                            &bitRate, t[0], t[1], t[2]), 0);
    EXPECT_EQ(Bytes(wav.begin() + 44, wav.end()), DecodeStream(stream, 4096).pcm);
}

TEST_F(Host, EqualizerOptions)
{
    const std::string in = data + "/mpeg1-44100-stereo.mp3";
    ASSERT_EQ(Shell(host + " -q --raw --eq 6,5,4,2,0,0,0,0,0,0,-4 " + in + " " + dir + "/eq.raw"), 0);
    ASSERT_EQ(Shell(host + " -q --raw --eq-preset bass " + in + " " + dir + "/bass.raw"), 0);
    ResetDecoder();
    const int8_t bands[11] = {6, 5, 4, 2, 0, 0, 0, 0, 0, 0, -4};
    Init(1, bands);
    const Bytes expected = DecodeStream(ReadFixture("mpeg1-44100-stereo.mp3"), 4096, false).pcm;
    EXPECT_EQ(ReadFile(dir + "/eq.raw"), expected);
    EXPECT_EQ(ReadFile(dir + "/bass.raw"), expected);

    for (const char *bad : {"1,2,3", "0,0,0,0,0,0,0,0,0,0,128", "0,0,0,0,0,0,0,0,0,0,x",
                            "0,0,0,0,0,0,0,0,0,0,0,0", "0,0,0,0,0,0,0,0,0,0,"})
        EXPECT_EQ(Shell(host + " -q --eq " + bad + " " + in + " " + dir + "/x.wav"), 1) << bad;
    EXPECT_EQ(Shell(host + " -q --eq-preset disco " + in + " " + dir + "/x.wav"), 1);
    EXPECT_FALSE(Exists(dir + "/x.wav"));
}

TEST_F(Host, ManPageNamesEveryOptionOfTheHelp)
{
    ASSERT_EQ(Shell(host + " --help > " + dir + "/help.txt"), 0);
    const Bytes help = ReadFile(dir + "/help.txt");
    const Bytes man = ReadFile(VORLIX_MANPAGE);
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
    EXPECT_GT(count, 20);
}

TEST_F(Host, InfoPrintsFormatAndTags)
{
    const std::string out = dir + "/info.txt";
    ASSERT_EQ(Shell(host + " --info " + sample + " > " + out), 0);
    const Bytes text = ReadFile(out);
    const std::string s(text.begin(), text.end());
    EXPECT_NE(s.find("MPEG-1 Layer III, 44100 Hz, stereo, 128 kbit/s"), std::string::npos) << s;
    EXPECT_NE(s.find("Title:    Vorlix Sample"), std::string::npos) << s;
    EXPECT_NE(s.find("Artist:   The Vorlix Developers"), std::string::npos) << s;
    EXPECT_NE(s.find("Album:    Test Signals"), std::string::npos) << s;
    ASSERT_EQ(Shell(host + " -T " + data + "/mpeg25-8000-mono.mp3 > " + out), 0);
    const Bytes text2 = ReadFile(out);
    EXPECT_NE(std::string(text2.begin(), text2.end()).find("MPEG-2.5 Layer III, 8000 Hz, mono, 16 kbit/s"),
              std::string::npos);
}

} // namespace
