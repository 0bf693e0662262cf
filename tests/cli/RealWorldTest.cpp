// SPDX-License-Identifier: GPL-2.0-or-later
// vorlix-decode on files as users have them: tags around and between the
// audio, MP3 in RIFF, non-MPEG input, several inputs, format changes,
// interruptions.
#include <random>

#include "cli/HostSupport.h"

namespace {

const std::string host = VORLIX_DECODE;
const std::string data = VORLIX_TEST_DATA;

using RealWorld = HostFixture;

// Every tagged fixture holds the same audio as mpeg1-44100-stereo.mp3.
class Tagged : public HostFixture, public ::testing::WithParamInterface<const char *> {};

TEST_P(Tagged, DecodesToExactlyTheUntaggedPcmFromAFileAndFromAPipe)
{
    const std::string in = data + "/" + GetParam();
    const Bytes expected = UntrimmedPcm(ReadFixture("mpeg1-44100-stereo.mp3"));
    ASSERT_EQ(Shell(host + " -q --raw --no-gapless " + in + " -o " + dir + "/file.pcm"), 0);
    ASSERT_EQ(Shell("cat " + in + " | " + host + " -q --raw -G - > " + dir + "/pipe.pcm"), 0);
    EXPECT_EQ(ReadFile(dir + "/file.pcm"), expected);
    EXPECT_EQ(ReadFile(dir + "/pipe.pcm"), expected);
    // the header frame behind the tags still gives the gapless trims
    ASSERT_EQ(Shell(host + " -q --raw " + data + "/mpeg1-44100-stereo.mp3 -o " + dir + "/plain.pcm"), 0);
    ASSERT_EQ(Shell(host + " -q --raw " + in + " -o " + dir + "/trimmed.pcm"), 0);
    EXPECT_EQ(ReadFile(dir + "/trimmed.pcm"), ReadFile(dir + "/plain.pcm"));
}

INSTANTIATE_TEST_SUITE_P(Fixtures, Tagged,
                         ::testing::Values("tag-picture.mp3", "tag-two-leading.mp3", "tag-trailing.mp3",
                                           "tag-ape-footer.mp3", "tag-v1.mp3", "tag-v22.mp3",
                                           "tag-v23-2000.mp3", "tag-v23-10000.mp3", "tag-v24.mp3"));

TEST_F(RealWorld, ThePictureFixtureFoolsADecodeFromTheFirstByte)
{
    // what a host that hands the whole file to the library gets: the frames
    // hidden in the picture come out, so the test above can catch that fault
    EXPECT_NE(LibraryPcm(ReadFixture("tag-picture.mp3")), LibraryPcm(ReadFixture("mpeg1-44100-stereo.mp3")));
}

TEST_F(RealWorld, TheLeadingTagStillGivesTheTitle)
{
    ASSERT_EQ(Shell(host + " --info " + data + "/tag-picture.mp3 > " + dir + "/info.txt"), 0);
    const Bytes text = ReadFile(dir + "/info.txt");
    EXPECT_NE(std::string(text.begin(), text.end()).find("Title:    Cover"), std::string::npos);
}

TEST_F(RealWorld, UntaggedFixturesDecodeAsTheLibraryDoes)
{
    for (const char *name : {"mpeg1-32000-stereo.mp3", "mpeg1-44100-mono.mp3", "mpeg2-16000-stereo.mp3",
                             "mpeg2-24000-stereo.mp3", "mpeg25-8000-mono.mp3", "mpeg25-12000-mono.mp3",
                             "crc-44100-stereo.mp3", "loud-clipping.mp3"}) {
        SCOPED_TRACE(name);
        ASSERT_EQ(Shell(host + " -q --raw --no-gapless " + data + "/" + name + " -o " + dir + "/out.pcm"), 0);
        EXPECT_EQ(ReadFile(dir + "/out.pcm"), UntrimmedPcm(ReadFixture(name)));
    }
}

TEST_F(RealWorld, AFrameTheLibraryDropsGivesItsLengthOfSilence)
{
    // the damaged frame keeps its place: the library's output with one
    // frame of silence where it dropped the frame, as long as --info says
    ASSERT_EQ(Shell(host + " -q --raw --no-gapless " + data + "/damaged-frame.mp3 -o " + dir + "/out.pcm"), 0);
    const Bytes got = ReadFile(dir + "/out.pcm"), library = UntrimmedPcm(ReadFixture("damaged-frame.mp3"));
    const size_t frameBytes = 1152 * 4;
    ASSERT_EQ(got.size(), library.size() + frameBytes);
    size_t at = 0;
    while (at < library.size() && got[at] == library[at])
        ++at;
    at -= at % frameBytes;
    ASSERT_LT(at, library.size());
    EXPECT_EQ(Bytes(got.begin() + static_cast<long>(at), got.begin() + static_cast<long>(at + frameBytes)),
              Bytes(frameBytes, 0));
    EXPECT_EQ(Bytes(got.begin() + static_cast<long>(at + frameBytes), got.end()),
              Bytes(library.begin() + static_cast<long>(at), library.end()));
    ASSERT_EQ(Shell(host + " --json --no-gapless " + data + "/damaged-frame.mp3 > " + dir + "/info.json"), 0);
    const Bytes json = ReadFile(dir + "/info.json");
    EXPECT_NE(std::string(json.begin(), json.end()).find("\"samples\": " + std::to_string(got.size() / 4)),
              std::string::npos);
}

TEST_F(RealWorld, MpegInRiffDecodesFromTheDataChunk)
{
    ASSERT_EQ(Shell(host + " -q --raw -G " + data + "/riff-mpeg2-22050-mono.wav -o " + dir + "/out.pcm"), 0);
    EXPECT_EQ(ReadFile(dir + "/out.pcm"), UntrimmedPcm(ReadFixture("mpeg2-22050-mono.mp3")));
}

TEST_F(RealWorld, NonMpegInputsFailWithoutOutput)
{
    std::mt19937 random(5);
    Bytes wav = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0,
                 1, 0, 2, 0, 0x44, 0xac, 0, 0, 0x10, 0xb1, 2, 0, 4, 0, 16, 0, 'd', 'a', 't', 'a', 0, 0, 4, 0};
    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    for (int i = 0; i < 200000; ++i) {
        // quiet PCM holds many 0xff bytes; the "picture" is random
        wav.push_back(static_cast<uint8_t>(i % 2 ? 0xff : random()));
        png.push_back(static_cast<uint8_t>(random()));
    }
    Bytes text;
    for (const char c : std::string(5000, 'x') + "ID3 TAG APETAGEX LYRICS200 \xff\xfb")
        text.push_back(static_cast<uint8_t>(c));
    const std::pair<const char *, Bytes> inputs[] = {
        {"pcm.wav", wav}, {"image.png", png}, {"notes.txt", text}, {"zeros.mp3", Bytes(100000, 0)}};
    for (const auto &[name, bytes] : inputs) {
        SCOPED_TRACE(name);
        WriteFile(dir + "/" + name, bytes);
        EXPECT_EQ(Shell(host + " -q " + dir + "/" + name + " -o " + dir + "/out.wav"), 2);
        EXPECT_EQ(Shell(host + " -q - -o " + dir + "/out.wav < " + dir + "/" + name), 2);
        EXPECT_FALSE(Exists(dir + "/out.wav"));
    }
    ASSERT_EQ(Shell(host + " " + dir + "/image.png -o " + dir + "/out.wav 2> " + dir + "/err.txt; true"), 0);
    const Bytes err = ReadFile(dir + "/err.txt");
    EXPECT_NE(std::string(err.begin(), err.end()).find("no MPEG audio frames found in"), std::string::npos);
}

TEST_F(RealWorld, EveryArgumentIsAnInputWithItsOwnOutput)
{
    const Bytes a = ReadFixture("mpeg1-44100-mono.mp3"), b = ReadFixture("mpeg2-22050-stereo.mp3");
    WriteFile(dir + "/a.mp3", a);
    WriteFile(dir + "/b.mp3", b);
    ASSERT_EQ(Shell(host + " -q -G " + dir + "/a.mp3 " + dir + "/b.mp3"), 0);
    EXPECT_EQ(ReadFile(dir + "/a.mp3"), a);
    EXPECT_EQ(ReadFile(dir + "/b.mp3"), b);
    EXPECT_EQ(ParseWav(ReadFile(dir + "/a.wav")).data, UntrimmedPcm(a));
    EXPECT_EQ(ParseWav(ReadFile(dir + "/b.wav")).data, UntrimmedPcm(b));

    // -o names the output of one input only
    EXPECT_EQ(Shell(host + " -q " + dir + "/a.mp3 " + dir + "/b.mp3 -o " + dir + "/c.wav"), 1);
    EXPECT_FALSE(Exists(dir + "/c.wav"));

    // -n leaves an existing output alone and goes on with the others
    WriteFile(dir + "/a.wav", Bytes{1, 2, 3});
    std::remove((dir + "/b.wav").c_str());
    ASSERT_EQ(Shell(host + " -q -n " + dir + "/a.mp3 " + dir + "/b.mp3"), 0);
    EXPECT_EQ(ReadFile(dir + "/a.wav"), (Bytes{1, 2, 3}));
    EXPECT_TRUE(Exists(dir + "/b.wav"));

    // a failing input does not stop the others; the status is the worst one
    std::remove((dir + "/b.wav").c_str());
    WriteFile(dir + "/x.mp3", Bytes(5000, 'x'));
    EXPECT_EQ(Shell(host + " -q " + dir + "/x.mp3 " + dir + "/b.mp3 " + dir + "/missing.mp3"), 2);
    EXPECT_TRUE(Exists(dir + "/b.wav"));
    EXPECT_FALSE(Exists(dir + "/x.wav"));
    // two inputs with one default output: the second does not overwrite the first
    WriteFile(dir + "/b.mp2", a);
    std::remove((dir + "/b.wav").c_str());
    EXPECT_EQ(Shell(host + " -q -G " + dir + "/b.mp3 " + dir + "/b.mp2"), 3);
    EXPECT_EQ(ParseWav(ReadFile(dir + "/b.wav")).data, UntrimmedPcm(b));
}

// Frames of PCM (bytes) per output frame of 1152 samples.
size_t FrameBytes(int channels)
{
    return 1152u * 2u * static_cast<size_t>(channels);
}

// Each sample duplicated into both channels, or the pairs averaged.
Bytes Rechannel(const Bytes &pcm, int from)
{
    Bytes out;
    for (size_t i = 0; i + 1 < pcm.size(); i += 2 * static_cast<size_t>(from)) {
        const int16_t l = static_cast<int16_t>(pcm[i] | (pcm[i + 1] << 8));
        if (from == 1) {
            out.insert(out.end(), {pcm[i], pcm[i + 1], pcm[i], pcm[i + 1]});
        } else {
            const int16_t r = static_cast<int16_t>(pcm[i + 2] | (pcm[i + 3] << 8));
            const int mean = (l + r) >> 1;
            out.push_back(static_cast<uint8_t>(mean));
            out.push_back(static_cast<uint8_t>(static_cast<unsigned>(mean) >> 8));
        }
    }
    return out;
}

TEST_F(RealWorld, AFormatChangeKeepsTheFirstFramesFormat)
{
    struct Case {
        const char *first, *second;
        int channels;      // of the output: the first stream's
        uint32_t rate;
    };
    for (const Case c : {Case{"mpeg1-44100-stereo.mp3", "mpeg1-44100-mono.mp3", 2, 44100},
                         Case{"mpeg1-44100-mono.mp3", "mpeg1-44100-stereo.mp3", 1, 44100},
                         Case{"mpeg1-44100-stereo.mp3", "mpeg2-22050-stereo.mp3", 2, 44100}}) {
        SCOPED_TRACE(std::string(c.first) + " + " + c.second);
        const Bytes first = ReadFixture(c.first), second = ReadFixture(c.second);
        Bytes joined = first;
        joined.insert(joined.end(), second.begin(), second.end());
        WriteFile(dir + "/joined.mp3", joined);
        ASSERT_EQ(Shell(host + " -q -G " + dir + "/joined.mp3 2> " + dir + "/err.txt"), 0);
        const WavFile wav = ParseWav(ReadFile(dir + "/joined.wav"));
        EXPECT_EQ(wav.channels, c.channels);
        EXPECT_EQ(wav.rate, c.rate);

        // the first part as on its own (less its header frame); the second,
        // converted to the first format, from its second frame on (its first
        // frame, lame's header frame, still rings with the end of the first part)
        const Bytes head = UntrimmedPcm(first);
        ResetDecoder();
        int32_t rate = static_cast<int32_t>(c.rate), channels, bitRate;
        uint16_t t[3][VORLIX_TEXT_UNITS] = {};
        ASSERT_EQ(GetHeaderInfo(second.data(), static_cast<int32_t>(second.size()), &rate, &channels,
                                &bitRate, t[0], t[1], t[2]), 0);
        Bytes tail = DecodeStream(second, 4096).pcm;
        if (channels != c.channels)
            tail = Rechannel(tail, channels);
        tail.erase(tail.begin(), tail.begin() + static_cast<long>(FrameBytes(c.channels)));
        ASSERT_EQ(wav.data.size(), head.size() + FrameBytes(c.channels) + tail.size());
        EXPECT_TRUE(std::equal(head.begin(), head.end(), wav.data.begin()));
        // within 1 LSB: the output stage's error feedback goes on from the first part
        EXPECT_LE(MaxDifference(tail, Bytes(wav.data.end() - static_cast<long>(tail.size()), wav.data.end())), 1);

        const Bytes err = ReadFile(dir + "/err.txt");
        const std::string message(err.begin(), err.end());
        EXPECT_NE(message.find("changes format at 0:01.541"), std::string::npos) << message;
        std::remove((dir + "/joined.wav").c_str());
    }
}

TEST_F(RealWorld, ATagBetweenTwoFilesIsNotDecoded)
{
    Bytes joined = ReadFixture("mpeg1-44100-stereo.mp3");
    const Bytes second = ReadFixture("mpeg1-44100-mono.mp3");
    joined.insert(joined.end(), second.begin(), second.end());
    WriteFile(dir + "/joined.mp3", joined);
    ASSERT_EQ(Shell(host + " -q --raw " + dir + "/joined.mp3"), 0);
    ASSERT_EQ(Shell(host + " -q --raw " + data + "/tag-between.mp3 -o " + dir + "/tagged.pcm"), 0);
    EXPECT_EQ(ReadFile(dir + "/tagged.pcm"), ReadFile(dir + "/joined.pcm"));
}

TEST_F(RealWorld, ASignalRemovesThePartialOutput)
{
    // standard input stays open after some seconds of audio: the decode waits, mid-way
    const std::string out = dir + "/partial.wav";
    const std::string in = data + "/mpeg1-44100-stereo.mp3";
    const std::string command = "mkfifo " + dir + "/in; " + host + " -q - -o " + out + " < " + dir + "/in & pid=$!; " +
                                "(for i in 1 2 3 4 5 6 7 8; do cat " + in + "; done; sleep 10) > " + dir + "/in 2>/dev/null & " +
                                "while [ ! -s " + out + " ]; do sleep 0.05; done; sleep 0.2; kill -TERM $pid; wait $pid";
    EXPECT_EQ(Shell(command), 143);
    EXPECT_FALSE(Exists(out));
}

TEST_F(RealWorld, AClosedPipeEndsQuietly)
{
    ASSERT_EQ(Shell(host + " -q --raw " + data + "/mpeg1-44100-stereo.mp3 -o - 2> " + dir +
                    "/err.txt | head -c 100 > /dev/null"), 0);
    EXPECT_TRUE(ReadFile(dir + "/err.txt").empty());
}

// Nothing of a byte below 0x20 but the line ends, DEL, or a C1 control in UTF-8.
bool Steers(const std::string &text)
{
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if ((c < 0x20 && c != '\n') || c == 0x7f)
            return true;
        if (c == 0xc2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
            static_cast<unsigned char>(text[i + 1]) < 0xa0)
            return true;
    }
    return false;
}

TEST_F(RealWorld, TerminalControlsInTagsAndNamesNeverReachTheTerminal)
{
    Bytes file = Id3v2({{"TIT2", "Evil\x1b[2J\rTitle\x07"}, {"TCON", "Back\\slash \"quoted\""},
                         {"TPE1", "\x1b]2;renamed\x07" "Band\x7f"},
                         {"TALB", "Next\xc2\x9b" "31m"}});  // Latin-1: C2, then the C1 control 9B
    const Bytes audio = ReadFixture("mpeg1-44100-stereo.mp3");
    file.insert(file.end(), audio.begin(), audio.end());
    const std::string name = dir + "/caf\xe9 \x1b[1m.mp3";  // not UTF-8, and an escape
    WriteFile(name, file);
    ASSERT_EQ(Shell(host + " --info '" + name + "' > " + dir + "/info.txt"), 0);
    const Bytes info = ReadFile(dir + "/info.txt");
    const std::string text(info.begin(), info.end());
    EXPECT_FALSE(Steers(text)) << text;
    EXPECT_NE(text.find("Title:    Evil\xef\xbf\xbd[2J\xef\xbf\xbdTitle\xef\xbf\xbd\n"), std::string::npos) << text;
    EXPECT_NE(text.find("]2;renamed\xef\xbf\xbd" "Band\xef\xbf\xbd\n"), std::string::npos) << text;
    // errors that name the file do not steer either
    ASSERT_EQ(Shell(host + " -q '" + name + "' -o " + dir + "/none/out.wav 2> " + dir + "/err.txt"), 3);
    const Bytes err = ReadFile(dir + "/err.txt");
    EXPECT_FALSE(Steers(std::string(err.begin(), err.end())));
    // JSON escapes them and stays UTF-8 whatever the name's bytes
    ASSERT_EQ(Shell(host + " --json '" + name + "' > " + dir + "/info.json"), 0);
    const Bytes json = ReadFile(dir + "/info.json");
    const std::string j(json.begin(), json.end());
    EXPECT_FALSE(Steers(j)) << j;
    EXPECT_NE(j.find("\"title\": \"Evil\\u001b[2J\\u000dTitle\\u0007\""), std::string::npos) << j;
    EXPECT_NE(j.find("caf\\u00e9 \\u001b[1m.mp3"), std::string::npos) << j;
    // and a tag's backslash and quotes come back as they were
    ASSERT_EQ(Shell("/usr/bin/python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))[\"tags\"][\"genre\"], end=\"\")' " +
                    dir + "/info.json > " + dir + "/genre.txt"), 0);
    const Bytes genre = ReadFile(dir + "/genre.txt");
    EXPECT_EQ(std::string(genre.begin(), genre.end()), "Back\\slash \"quoted\"");
    EXPECT_EQ(Shell("/usr/bin/python3 -c 'import json,sys; json.load(open(sys.argv[1], encoding=\"utf-8\"))' " + dir +
                    "/info.json"), 0);
}

TEST_F(RealWorld, InfoOnTagsWithoutAudioShowsTheTagsAndSaysSo)
{
    Bytes file = Id3v2({{"TIT2", "Only Tags"}});
    file.resize(file.size() + 3000, 0);
    WriteFile(dir + "/tags.mp3", file);
    EXPECT_EQ(Shell(host + " --info " + dir + "/tags.mp3 > " + dir + "/out.txt 2> " + dir + "/err.txt"), 2);
    const Bytes out = ReadFile(dir + "/out.txt"), err = ReadFile(dir + "/err.txt");
    EXPECT_NE(std::string(out.begin(), out.end()).find("Title:    Only Tags\n"), std::string::npos);
    EXPECT_NE(std::string(err.begin(), err.end()).find("no MPEG audio frames found"), std::string::npos);
    // without tags nothing but the error
    WriteFile(dir + "/empty.mp3", Bytes(3000, 0));
    EXPECT_EQ(Shell(host + " --info " + dir + "/empty.mp3 > " + dir + "/out.txt"), 2);
    EXPECT_TRUE(ReadFile(dir + "/out.txt").empty());
}

// An hour and more of audio: the clock takes hours, minutes modulo 60, and
// rounds to the nearest millisecond. The frames of an 11.025 kHz stream
// (576 samples, 52.24... ms each), repeated: a count past 61 minutes whose
// length ends in more than half a millisecond.
TEST_F(RealWorld, InfoShowsDurationsPastAnHour)
{
    const Bytes stream = ReadFixture("mpeg25-11025-stereo.mp3");
    const std::vector<size_t> frames = FrameOffsets(stream);
    const Bytes frame(stream.begin() + static_cast<long>(frames[2]), stream.begin() + static_cast<long>(frames[3]));
    uint64_t count = 61 * 60 * 11025 / 576;  // 64 bits: the products pass 2^32
    while ((count * 576 * 1000) % 11025 < 11025 / 2 + 1)
        ++count;
    Bytes file;
    file.reserve(static_cast<size_t>(count) * frame.size());
    for (uint64_t i = 0; i < count; ++i)
        file.insert(file.end(), frame.begin(), frame.end());
    WriteFile(dir + "/hour.mp3", file);
    ASSERT_EQ(Shell(host + " --info " + dir + "/hour.mp3 > " + dir + "/info.txt"), 0);
    const Bytes out = ReadFile(dir + "/info.txt");
    const std::string text(out.begin(), out.end());
    const uint64_t samples = count * 576;
    const uint64_t ms = samples * 1000 / 11025 + 1;  // rounded up: the rest is over half
    char clock[64];
    std::snprintf(clock, sizeof clock, "Duration: 1:%02llu:%02llu.%03llu (%llu samples)",
                  static_cast<unsigned long long>(ms / 60000 % 60), static_cast<unsigned long long>(ms / 1000 % 60),
                  static_cast<unsigned long long>(ms % 1000), static_cast<unsigned long long>(samples));
    EXPECT_NE(text.find(clock), std::string::npos) << text << clock;
}

// ID3v2 comes first and ID3v1 fills only what it lacks; the comment is the
// text of a COMM frame without description.
TEST_F(RealWorld, Id3v1FillsOnlyWhatId3v2Lacks)
{
    Bytes tag = Id3v2({{"TIT2", "From ID3v2"}});
    const std::string comm = std::string("\0eng\0", 5) + "The comment";
    Bytes frame = {'C', 'O', 'M', 'M', 0, 0, 0, static_cast<uint8_t>(comm.size()), 0, 0};
    frame.insert(frame.end(), comm.begin(), comm.end());
    tag.insert(tag.begin() + 10, frame.begin(), frame.end());
    const uint32_t body = static_cast<uint32_t>(tag.size() - 10);
    tag[8] = static_cast<uint8_t>(body >> 7), tag[9] = static_cast<uint8_t>(body & 0x7f);
    Bytes file = tag;
    const Bytes audio = ReadFixture("mpeg1-44100-stereo.mp3");
    file.insert(file.end(), audio.begin(), audio.end());
    Bytes v1 = {'T', 'A', 'G'};
    v1.resize(128, 0);
    const std::string title = "From ID3v1", year = "1999", comment = "v1 comment";
    std::copy(title.begin(), title.end(), v1.begin() + 3);
    std::copy(year.begin(), year.end(), v1.begin() + 93);
    std::copy(comment.begin(), comment.end(), v1.begin() + 97);
    file.insert(file.end(), v1.begin(), v1.end());
    WriteFile(dir + "/both.mp3", file);
    ASSERT_EQ(Shell(host + " --info " + dir + "/both.mp3 > " + dir + "/info.txt"), 0);
    const Bytes out = ReadFile(dir + "/info.txt");
    const std::string text(out.begin(), out.end());
    EXPECT_NE(text.find("Title:    From ID3v2\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Year:     1999\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Comment:  The comment\n"), std::string::npos) << text;
}

} // namespace
