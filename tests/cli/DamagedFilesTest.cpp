// SPDX-License-Identifier: GPL-2.0-or-later
// vorlix-decode on files as they come when something happened to them: cut
// in the middle of a song or short of their end, a broken CRC in the first
// frame, a reserved emphasis, a single frame, a tag size that runs into the
// audio, a header frame of another bit rate.
#include <algorithm>

#include "cli/HostSupport.h"
#include "format/FrameHeader.h"
#include "format/HeaderFrame.h"

namespace {

const std::string host = VORLIX_DECODE;
const std::string data = VORLIX_TEST_DATA;

using DamagedFiles = HostFixture;

std::string Text(const Bytes &b)
{
    return std::string(b.begin(), b.end());
}

Bytes Part(const Bytes &b, size_t from, size_t to)
{
    return Bytes(b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(std::min(to, b.size())));
}

Bytes operator+(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// main_data_begin of the MPEG-1 Layer III frame at p: where its main data starts
// in the frames before it.
int MainDataBegin(const uint8_t *p)
{
    const uint8_t *side = p + ((p[1] & 1) ? 4 : 6);
    return (side[0] << 1) | (side[1] >> 7);
}

// The audio frames of a fixture, without its header frame.
Bytes AudioFrames(const Bytes &file)
{
    const std::vector<size_t> offsets = FrameOffsets(file);
    FrameHeader h;
    EXPECT_TRUE(ParseFrameHeader(file.data(), h));
    const bool header = ParseHeaderFrame(file.data(), offsets.size() > 1 ? offsets[1] : file.size(), h).kind != HeaderKind::None;
    return header ? Part(file, offsets[1], file.size()) : file;
}

// Samples per channel of the frames in b.
size_t Frames(const Bytes &b)
{
    return FrameOffsets(b).size();
}

// The decode of a file and of the same bytes through a pipe; both must succeed.
Bytes FileAndPipe(const std::string &dir, const std::string &path, const std::string &options)
{
    EXPECT_EQ(Shell(host + " -q --raw " + options + " " + path + " -o " + dir + "/file.pcm"), 0) << path;
    EXPECT_EQ(Shell("cat " + path + " | " + host + " -q --raw " + options + " - > " + dir + "/pipe.pcm"), 0) << path;
    const Bytes file = ReadFile(dir + "/file.pcm");
    EXPECT_EQ(ReadFile(dir + "/pipe.pcm"), file) << path;
    return file;
}

std::string Info(const std::string &dir, const std::string &path)
{
    Shell(host + " --info " + path + " > " + dir + "/info.txt");
    return Text(ReadFile(dir + "/info.txt"));
}

// The sample count --info gives as the duration.
uint64_t InfoSamples(const std::string &info)
{
    const size_t at = info.find(" samples)");
    if (at == std::string::npos)
        return 0;
    const size_t open = info.rfind('(', at);
    return std::stoull(info.substr(open + 1, at - open - 1));
}

TEST_F(DamagedFiles, ACutInTheMiddleOfASongDecodesFromItsFirstFrameWithReservoir)
{
    // the audio of a fixture as it is (under 64 KiB), and four times over
    // (more than one read), cut at a frame that borrows main data
    const Bytes once = AudioFrames(ReadFixture("mpeg1-44100-stereo.mp3"));
    Bytes four;
    for (int i = 0; i < 4; ++i)
        four.insert(four.end(), once.begin(), once.end());
    for (const Bytes *whole : {&once, static_cast<const Bytes *>(&four)}) {
        SCOPED_TRACE(whole->size());
        const std::vector<size_t> offsets = FrameOffsets(*whole);
        size_t k = 5;
        while (k < offsets.size() && MainDataBegin(whole->data() + offsets[k]) == 0)
            ++k;
        ASSERT_LT(k, offsets.size());
        const Bytes cut = Part(*whole, offsets[k], whole->size());
        WriteFile(dir + "/cut.mp3", cut);
        const Bytes got = FileAndPipe(dir, dir + "/cut.mp3", "-G");
        // the frames that lack main data, which libmad drops, give their
        // length of silence: the decode is as long as the frames counted, as
        // --info says; what follows is the stretch of the whole decode it
        // ends with
        const size_t frameBytes = 1152 * 4;
        const Bytes full = LibraryPcm(*whole);
        ASSERT_EQ(got.size(), Frames(cut) * frameBytes);
        EXPECT_EQ(InfoSamples(Info(dir, dir + "/cut.mp3")), Frames(cut) * 1152);
        EXPECT_EQ(Part(got, 0, frameBytes), Bytes(frameBytes, 0));
        const Bytes settled = Part(got, 2 * frameBytes, got.size());
        EXPECT_LE(MaxDifference(settled, Part(full, full.size() - settled.size(), full.size())), 1);
        EXPECT_NE(Info(dir, dir + "/cut.mp3").find("Frames:   " + std::to_string(Frames(cut)) + "\n"),
                  std::string::npos);
    }
}

TEST_F(DamagedFiles, ABrokenCrcInTheFirstFrameLosesNothing)
{
    const Bytes intact = ReadFixture("crc-44100-stereo.mp3");
    FrameHeader h;
    ASSERT_TRUE(ParseFrameHeader(intact.data(), h));
    ASSERT_TRUE(h.crc);
    WriteFile(dir + "/intact.mp3", intact);
    const Bytes expected = FileAndPipe(dir, dir + "/intact.mp3", "");
    Bytes broken = intact;
    broken[4] ^= 0x5a;  // the CRC, right after the header
    WriteFile(dir + "/broken.mp3", broken);
    EXPECT_EQ(FileAndPipe(dir, dir + "/broken.mp3", ""), expected);
}

TEST_F(DamagedFiles, ALameFileCutShortKeepsAllItsAudioLessTheStartTrim)
{
    const Bytes file = ReadFixture("mpeg1-44100-stereo.mp3");
    const std::vector<size_t> offsets = FrameOffsets(file);
    FrameHeader h;
    ASSERT_TRUE(ParseFrameHeader(file.data(), h));
    const HeaderFrame header = ParseHeaderFrame(file.data(), offsets[1], h);
    ASSERT_TRUE(header.Gapless());
    const size_t startTrim = static_cast<size_t>(header.delay) + 529;
    WriteFile(dir + "/whole.mp3", file);
    const Bytes whole = FileAndPipe(dir, dir + "/whole.mp3", "");
    // the header frame, six whole frames of audio and half of the seventh
    for (const size_t frames : {6, 2}) {
        SCOPED_TRACE(frames);
        const Bytes cut = Part(file, 0, offsets[1 + frames] + 200);
        WriteFile(dir + "/cut.mp3", cut);
        const size_t samples = frames * 1152 > startTrim ? frames * 1152 - startTrim : 0;
        const Bytes got = FileAndPipe(dir, dir + "/cut.mp3", "");
        EXPECT_EQ(got.size(), samples * 4);
        EXPECT_EQ(got, Part(whole, 0, samples * 4));
        EXPECT_EQ(InfoSamples(Info(dir, dir + "/cut.mp3")), samples);
        // a start and a duration inside the stretch
        if (frames == 6) {
            ASSERT_EQ(Shell(host + " -q --raw -s 0.05 -t 0.02 " + dir + "/cut.mp3 -o " + dir + "/part.pcm"), 0);
            EXPECT_EQ(ReadFile(dir + "/part.pcm"), Part(got, 2205 * 4, (2205 + 882) * 4));
        }
    }
}

TEST_F(DamagedFiles, ALastFrameCutShortIsNotCounted)
{
    const Bytes file = ReadFixture("mpeg1-44100-stereo.mp3");
    WriteFile(dir + "/cut.mp3", Part(file, 0, file.size() - 100));
    const Bytes got = FileAndPipe(dir, dir + "/cut.mp3", "");
    const std::string info = Info(dir, dir + "/cut.mp3");
    EXPECT_EQ(InfoSamples(info) * 4, got.size()) << info;
    EXPECT_NE(info.find("Frames:   " + std::to_string(Frames(file) - 2) + "\n"), std::string::npos) << info;
}

TEST_F(DamagedFiles, ReservedEmphasisIsStillAudio)
{
    Bytes file = ReadFixture("mpeg1-44100-stereo.mp3");
    WriteFile(dir + "/plain.mp3", file);
    const Bytes expected = FileAndPipe(dir, dir + "/plain.mp3", "");
    for (const size_t at : FrameOffsets(file))
        file[at + 3] = static_cast<uint8_t>((file[at + 3] & ~3) | 2);
    WriteFile(dir + "/emphasis.mp3", file);
    EXPECT_EQ(FileAndPipe(dir, dir + "/emphasis.mp3", ""), expected);
    EXPECT_EQ(InfoSamples(Info(dir, dir + "/emphasis.mp3")) * 4, expected.size());
}

TEST_F(DamagedFiles, OneFrameOfAudioIsAStream)
{
    const Bytes file = ReadFixture("mpeg1-44100-mono.mp3");
    const std::vector<size_t> offsets = FrameOffsets(file);
    const Bytes frame = Part(file, offsets[1], offsets[2]);  // the first audio frame: no reservoir
    ASSERT_EQ(MainDataBegin(frame.data()), 0);
    const Bytes expected = LibraryPcm(frame);
    ASSERT_EQ(expected.size(), 1152u * 2);
    Bytes v1 = {'T', 'A', 'G'};
    v1.resize(128, 0);
    const std::string title = "One Frame";
    std::copy(title.begin(), title.end(), v1.begin() + 3);
    for (const bool tagged : {false, true}) {
        SCOPED_TRACE(tagged);
        Bytes one = frame;
        if (tagged)
            one.insert(one.end(), v1.begin(), v1.end());
        WriteFile(dir + "/one.mp3", one);
        EXPECT_EQ(FileAndPipe(dir, dir + "/one.mp3", ""), expected);
        const std::string info = Info(dir, dir + "/one.mp3");
        EXPECT_NE(info.find("Frames:   1\n"), std::string::npos) << info;
        EXPECT_EQ(info.find("Title:    One Frame") != std::string::npos, tagged) << info;
    }
}

TEST_F(DamagedFiles, ATagThatRunsIntoTheHeaderFrameHidesNoFalseStart)
{
    // an ID3v2 size too large by the header frame's first 130 bytes: the
    // tag ends inside the Xing table, at four bytes that read as a
    // free-format Layer I header with nothing of its stream after it
    const Bytes file = ReadFixture("mpeg1-44100-mono.mp3");
    FrameHeader h;
    ASSERT_TRUE(ParseFrameHeader(file.data(), h));
    ASSERT_NE(ParseHeaderFrame(file.data(), 417, h).kind, HeaderKind::None);
    Bytes planted = file;
    const size_t at = 130;
    const uint8_t layer1[4] = {0xff, 0xff, 0x00, 0x00};
    std::copy(layer1, layer1 + 4, planted.begin() + at);
    FrameHeader free;
    ASSERT_TRUE(ParseFrameHeader(layer1, free));
    ASSERT_EQ(free.layer, 1);
    const uint32_t body = 40 + at;
    Bytes tagged = {'I', 'D', '3', 3, 0, 0, 0, 0, static_cast<uint8_t>(body >> 7), static_cast<uint8_t>(body & 0x7f)};
    tagged.insert(tagged.end(), {'T', 'I', 'T', '2', 0, 0, 0, 9, 0, 0, 0, 'O', 'v', 'e', 'r', 'l', 'o', 'n', 'g'});
    tagged.resize(10 + 40, 0);
    tagged.insert(tagged.end(), planted.begin(), planted.end());
    WriteFile(dir + "/overlong.mp3", tagged);
    const std::string info = Info(dir, dir + "/overlong.mp3");
    EXPECT_NE(info.find("MPEG-1 Layer III, 44100 Hz, mono"), std::string::npos) << info;
    // the header frame is lost in the tag: every audio frame comes out
    EXPECT_EQ(FileAndPipe(dir, dir + "/overlong.mp3", ""), UntrimmedPcm(file));
}

TEST_F(DamagedFiles, ACbrBitRateIsTheAudioFramesNotTheHeaderFrames)
{
    // the Info frame rewritten at 64 kbit/s (208 bytes), before 128 kbit/s audio
    const Bytes file = ReadFixture("mpeg1-44100-stereo.mp3");
    const std::vector<size_t> offsets = FrameOffsets(file);
    Bytes info = Part(file, 0, 208);
    info[2] = static_cast<uint8_t>((5 << 4) | (info[2] & 0x0c));  // 64 kbit/s, no padding
    FrameHeader h;
    ASSERT_TRUE(ParseFrameHeader(info.data(), h));
    ASSERT_EQ(h.Length(), 208);
    const uint16_t crc = LameCrc(info.data(), 190);
    info[190] = static_cast<uint8_t>(crc >> 8);
    info[191] = static_cast<uint8_t>(crc & 0xff);
    ASSERT_TRUE(ParseHeaderFrame(info.data(), info.size(), h).crcValid);
    Bytes rebuilt = info;
    rebuilt.insert(rebuilt.end(), file.begin() + static_cast<long>(offsets[1]), file.end());
    WriteFile(dir + "/info64.mp3", rebuilt);
    const std::string text = Info(dir, dir + "/info64.mp3");
    EXPECT_NE(text.find("Bit rate: CBR, 128 kbit/s\n"), std::string::npos) << text;
    WriteFile(dir + "/plain.mp3", file);
    EXPECT_EQ(FileAndPipe(dir, dir + "/info64.mp3", ""), FileAndPipe(dir, dir + "/plain.mp3", ""));
}

TEST_F(DamagedFiles, AudioAfterUpToAMebibyteOfJunkIsFound)
{
    // junk with false sync words and an APE tag header among them
    const Bytes audio = ReadFixture("mpeg1-44100-stereo.mp3");
    WriteFile(dir + "/plain.mp3", audio);
    const Bytes expected = FileAndPipe(dir, dir + "/plain.mp3", "");
    for (const size_t junk : {size_t{100} << 10, size_t{2} << 20}) {
        SCOPED_TRACE(junk);
        Bytes file(junk);
        for (size_t i = 0; i < junk; ++i)
            file[i] = static_cast<uint8_t>(i % 251 == 0 ? 0xff : 'a' + i % 23);
        const std::string ape = "APETAGEX";
        std::copy(ape.begin(), ape.end(), file.begin() + 5000);
        file.insert(file.end(), audio.begin(), audio.end());
        WriteFile(dir + "/junk.mp3", file);
        if (junk < (1u << 20)) {
            EXPECT_EQ(FileAndPipe(dir, dir + "/junk.mp3", ""), expected);
        } else {
            EXPECT_EQ(Shell(host + " -q --raw " + dir + "/junk.mp3 -o " + dir + "/out.pcm"), 2);
        }
    }
}

// The README's example host follows the same protocol: it decodes these
// files as vorlix-decode does (none has a header frame).
TEST_F(DamagedFiles, TheExampleHostDecodesThemToo)
{
    const Bytes mono = ReadFixture("mpeg1-44100-mono.mp3");
    const std::vector<size_t> monoFrames = FrameOffsets(mono);
    Bytes v1 = {'T', 'A', 'G'};
    v1.resize(128, 0);
    const Bytes once = AudioFrames(ReadFixture("mpeg1-44100-stereo.mp3"));
    const std::vector<size_t> offsets = FrameOffsets(once);
    size_t k = 5;
    while (k < offsets.size() && MainDataBegin(once.data() + offsets[k]) == 0)
        ++k;
    const std::pair<const char *, Bytes> files[] = {
        {"one frame", Part(mono, monoFrames[1], monoFrames[2]) + v1},
        {"cut in the middle", Part(once, offsets[k], once.size())},
    };
    for (const auto &[what, bytes] : files) {
        SCOPED_TRACE(what);
        WriteFile(dir + "/in.mp3", bytes);
        ASSERT_EQ(Shell(std::string(VORLIX_EXAMPLE) + " " + dir + "/in.mp3 " + dir + "/example.pcm"), 0);
        ASSERT_EQ(Shell(host + " -q --raw " + dir + "/in.mp3 -o " + dir + "/host.pcm"), 0);
        // the example leaves out the frames that libmad drops for want of
        // their reservoir; vorlix-decode gives them as silence
        const Bytes example = ReadFile(dir + "/example.pcm"), ours = ReadFile(dir + "/host.pcm");
        EXPECT_FALSE(ours.empty());
        ASSERT_GE(ours.size(), example.size());
        const size_t lead = ours.size() - example.size();
        EXPECT_EQ(lead % (576 * 2), 0u);
        EXPECT_EQ(Part(ours, 0, lead), Bytes(lead, 0));
        EXPECT_EQ(Part(ours, lead, ours.size()), example);
    }
}

} // namespace
