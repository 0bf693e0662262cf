// SPDX-License-Identifier: GPL-2.0-or-later
// libvorlixfile's promises that hosts build on, through its public header:
// the caller's descriptor stays the caller's, a push handle takes no bytes
// after its end, the output is fixed once reading began, which of two
// sources of one fact wins (gapless trims, pictures, ReplayGain), where the
// audio starts, lengths at converted rates and without the gapless trims,
// and handles that read in turn and seek decode as each alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <random>
#include <unistd.h>

#include "TestSupport.h"
#include "cli/HostSupport.h"
#include "vorlixfile.h"

namespace {

const std::string data = VORLIX_TEST_DATA;
const std::string host = VORLIX_DECODE;

using File = std::unique_ptr<VorlixFile, decltype(&vf_free)>;

File Open(const std::string &name)
{
    return File(vf_open_file((data + "/" + name).c_str(), nullptr), vf_free);
}

File OpenMemory(const Bytes &bytes)
{
    return File(vf_open_memory(bytes.data(), bytes.size(), nullptr), vf_free);
}

// Records as a host starts them: zeroed, and sized where they have a size
// field.
#ifdef VF_INFO_INIT
#define NEW_INFO VF_INFO_INIT
#define NEW_GAIN VF_REPLAYGAIN_INIT
#else
#define NEW_INFO VorlixFileInfo{}
#define NEW_GAIN VorlixFileReplayGain{}
#endif

VorlixFileInfo Info(VorlixFile *f)
{
    VorlixFileInfo info = NEW_INFO;
    EXPECT_EQ(vf_info(f, &info), 0);
    return info;
}

VorlixFileReplayGain Gain(VorlixFile *f)
{
    VorlixFileReplayGain gain = NEW_GAIN;
    EXPECT_EQ(vf_replaygain(f, &gain), 0);
    return gain;
}

// What a handle reads to its end, from where it stands.
Bytes ReadAll(VorlixFile *f)
{
    Bytes out;
    std::vector<int16_t> pcm(4096 * 2);
    int n;
    while ((n = vf_read(f, pcm.data(), 4096)) > 0)
        AppendLe(out, pcm.data(), static_cast<size_t>(n * vf_channels(f)));
    EXPECT_EQ(n, 0);
    return out;
}

// vorlix-decode's raw output for a file and options: a decode in a process
// of its own.
Bytes Program(const std::string &dir, const std::string &path, const std::string &options = "")
{
    EXPECT_EQ(Shell(host + " -q --raw " + options + " " + path + " -o " + dir + "/out.pcm"), 0) << path;
    return ReadFile(dir + "/out.pcm");
}

std::string Named(const char *name)
{
    return name;
}

// --- the caller's descriptor ---------------------------------------------

struct DescriptorCase {
    const char *name;
    const char *fixture;  // nullptr: a file of text
    bool pipe;  // handed over as the read end of a pipe
    bool read;  // read before vf_free
};

class Descriptor : public HostFixture, public ::testing::WithParamInterface<DescriptorCase> {};

// vf_free, and an open that fails, leave the descriptor open: the caller
// goes on using it.
TEST_P(Descriptor, StaysOpenForTheCaller)
{
    const DescriptorCase &c = GetParam();
    // a file of text when no fixture is named
    std::string path = c.fixture != nullptr ? data + "/" + c.fixture : dir + "/notes.txt";
    if (c.fixture == nullptr)
        WriteFile(path, Bytes(3000, 'x'));
    int fd = -1;
    if (c.pipe) {
        const Bytes bytes = ReadFile(path);
        ASSERT_LT(bytes.size(), 60000u);  // fits in the pipe's buffer
        int ends[2];
        ASSERT_EQ(pipe(ends), 0);
        ASSERT_EQ(write(ends[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        close(ends[1]);
        fd = ends[0];
    } else {
        fd = open(path.c_str(), O_RDONLY);
    }
    ASSERT_GE(fd, 0);
    {
        int error = 0;
        File f(vf_open_fd(fd, &error), vf_free);
        if (f != nullptr && c.read) {
            std::vector<int16_t> pcm(4096 * 2);
            EXPECT_GT(vf_read(f.get(), pcm.data(), 4096), 0);
        }
    }
    EXPECT_NE(fcntl(fd, F_GETFD), -1) << "the descriptor was closed";
    if (!c.pipe) {
        // still the caller's open file: it reads from its start
        unsigned char first = 0;
        EXPECT_EQ(lseek(fd, 0, SEEK_SET), 0);
        EXPECT_EQ(read(fd, &first, 1), 1);
        EXPECT_EQ(first, ReadFile(path).at(0));
    }
    close(fd);
}

const DescriptorCase descriptors[] = {
    {"FileRead", "mpeg1-44100-stereo.mp3", false, true},
    {"FileOnlyDescribed", "tag-v23-2000.mp3", false, false},
    {"PipeRead", "mpeg2-22050-mono.mp3", true, true},
    {"FileWithoutAudio", nullptr, false, false},
};
INSTANTIATE_TEST_SUITE_P(Pinned, Descriptor, ::testing::ValuesIn(descriptors),
                         [](const auto &i) { return Named(i.param.name); });

// --- push mode: nothing after the end --------------------------------------

struct FeedCase {
    const char *name;
    bool frames;     // vf_open_frames rather than vf_open_push
    bool readFirst;  // everything read before the late feed
};

class FeedAfterEnd : public HostFixture, public ::testing::WithParamInterface<FeedCase> {};

// A feed after vf_feed_end is refused, and what comes out is the stream
// that was fed before the end, no more.
TEST_P(FeedAfterEnd, IsRefusedAndAddsNothing)
{
    const FeedCase &c = GetParam();
    const Bytes file = ReadFixture("mpeg1-44100-stereo.mp3");
    File whole = OpenMemory(file);
    ASSERT_NE(whole, nullptr);
    const size_t expected = ReadAll(whole.get()).size();

    File f(c.frames ? vf_open_frames(nullptr) : vf_open_push(nullptr), vf_free);
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(vf_feed(f.get(), file.data(), file.size()), 0);
    ASSERT_EQ(vf_feed_end(f.get()), 0);
    Bytes got;
    if (c.readFirst)
        got = ReadAll(f.get());
    EXPECT_EQ(vf_feed(f.get(), file.data(), file.size()), VF_EINVAL);
    EXPECT_EQ(vf_feed(f.get(), file.data(), 0), VF_EINVAL);
    const Bytes rest = ReadAll(f.get());
    got.insert(got.end(), rest.begin(), rest.end());
    EXPECT_EQ(got.size(), expected);
}

const FeedCase feeds[] = {
    {"PushBeforeReading", false, false},
    {"PushAfterReading", false, true},
    {"FramesBeforeReading", true, false},
    {"FramesAfterReading", true, true},
};
INSTANTIATE_TEST_SUITE_P(Pinned, FeedAfterEnd, ::testing::ValuesIn(feeds),
                         [](const auto &i) { return Named(i.param.name); });

// --- gapless trims from two sources ----------------------------------------

struct GaplessCase {
    const char *name;
    const char *fixture;
    int source;           // gapless_source expected
    int delay, padding;   // expected; -1: LAME's in the untagged fixture
};

class GaplessSource : public HostFixture, public ::testing::WithParamInterface<GaplessCase> {};

// LAME's extension wins over an iTunSMPB comment of other trims; the comment
// fills in where no header frame gives them. Each file's audio is that of
// mpeg25-11025-stereo.mp3 (576 samples a frame), its comment saying delay
// 1000 and padding 700.
TEST_P(GaplessSource, DecidesTheTrimsAndLength)
{
    const GaplessCase &c = GetParam();
    File lame = Open("mpeg25-11025-stereo.mp3");
    ASSERT_NE(lame, nullptr);
    const VorlixFileInfo plain = Info(lame.get());
    ASSERT_EQ(plain.gapless_source, 1);
    ASSERT_NE(plain.delay, 1000);

    File f = Open(c.fixture);
    ASSERT_NE(f, nullptr);
    const VorlixFileInfo info = Info(f.get());
    const int delay = c.delay >= 0 ? c.delay : plain.delay, padding = c.padding >= 0 ? c.padding : plain.padding;
    EXPECT_EQ(info.gapless_source, c.source);
    EXPECT_EQ(info.delay, delay);
    EXPECT_EQ(info.padding, padding);
    EXPECT_EQ(info.frames, plain.frames);
    EXPECT_EQ(info.trim_start, delay + 529);
    EXPECT_EQ(info.trim_end, padding - 529);
    EXPECT_EQ(info.samples, info.frames * 576 - delay - padding);
    EXPECT_EQ(vf_length(f.get()), info.samples);
    EXPECT_EQ(ReadAll(f.get()).size(), static_cast<size_t>(info.samples * info.channels) * 2);
}

const GaplessCase gaplessCases[] = {
    {"LameExtensionWinsOverItunes", "gapless-lame-and-itunes.mp3", 1, -1, -1},
    {"ItunesWithoutAHeaderFrame", "gapless-itunes-only.mp3", 2, 1000, 700},
};
INSTANTIATE_TEST_SUITE_P(Pinned, GaplessSource, ::testing::ValuesIn(gaplessCases),
                         [](const auto &i) { return Named(i.param.name); });

// --- where the audio starts --------------------------------------------------

struct OffsetCase {
    const char *name;
    const char *fixture;
    int64_t offset;  // of the first frame, the header frame if any
};

class AudioOffset : public ::testing::TestWithParam<OffsetCase> {};

// audio_offset is where the first frame stands, the header frame if there
// is one: a file that starts with its header frame starts its audio at 0,
// in a handle and in vf_test.
TEST_P(AudioOffset, IsTheHeaderFramesOffset)
{
    const OffsetCase &c = GetParam();
    const Bytes file = ReadFixture(c.fixture);
    File f = OpenMemory(file);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(Info(f.get()).audio_offset, c.offset);
    VorlixFileInfo tested = NEW_INFO;
    ASSERT_EQ(vf_test(&tested, file.data(), file.size()), 0);
    EXPECT_EQ(tested.audio_offset, c.offset);
}

const OffsetCase offsets[] = {
    {"UntaggedWithLameHeader", "mpeg1-44100-stereo.mp3", 0},
    {"UntaggedWithFfmpegHeader", "ffmpeg-short-info.mp3", 0},
    {"TaggedWithLameHeader", "tag-v23-2000.mp3", 2000},
    {"UntaggedWithoutHeader", "format-change.mp3", 0},
};
INSTANTIATE_TEST_SUITE_P(Pinned, AudioOffset, ::testing::ValuesIn(offsets),
                         [](const auto &i) { return Named(i.param.name); });

// --- ReplayGain -------------------------------------------------------------

Bytes WithApe(const std::string &fixture, const std::vector<std::pair<std::string, std::string>> &items)
{
    Bytes file = ReadFixture(fixture);
    const Bytes ape = Ape(items, true);
    file.insert(file.end(), ape.begin(), ape.end());
    return file;
}

TEST(PinnedReplayGain, EachPeakInItsOwnField)
{
    File both = OpenMemory(WithApe("mpeg1-44100-stereo.mp3", {{"REPLAYGAIN_TRACK_GAIN", "-2.00 dB"},
                                                              {"REPLAYGAIN_TRACK_PEAK", "0.500000"},
                                                              {"REPLAYGAIN_ALBUM_GAIN", "-4.00 dB"},
                                                              {"REPLAYGAIN_ALBUM_PEAK", "0.875000"}}));
    ASSERT_NE(both, nullptr);
    VorlixFileReplayGain g = Gain(both.get());
    EXPECT_TRUE(g.has_track && g.has_album);
    EXPECT_DOUBLE_EQ(g.track_gain, -2.0);
    EXPECT_DOUBLE_EQ(g.track_peak, 0.5);
    EXPECT_DOUBLE_EQ(g.album_gain, -4.0);
    EXPECT_DOUBLE_EQ(g.album_peak, 0.875);
    // the album's peak alone: the track has none
    File album = OpenMemory(WithApe("mpeg1-44100-stereo.mp3", {{"REPLAYGAIN_TRACK_GAIN", "-2.00 dB"},
                                                               {"REPLAYGAIN_ALBUM_PEAK", "0.875000"}}));
    ASSERT_NE(album, nullptr);
    g = Gain(album.get());
    EXPECT_TRUE(g.has_track);
    EXPECT_FALSE(g.has_album);
    EXPECT_DOUBLE_EQ(g.track_peak, 0.0);
    EXPECT_DOUBLE_EQ(g.album_peak, 0.875);
}

struct GainCase {
    const char *name;
    std::vector<std::pair<std::string, std::string>> tags;
    int mode, extra;
    bool bass;   // the equalizer's bass curve set beside the gain
    int preamp;  // dB the decode must equal with the equalizer's preamp
};

void PrintTo(const GainCase &c, std::ostream *os)
{
    *os << c.name;
}

class ReplayGainPreamp : public HostFixture, public ::testing::WithParamInterface<GainCase> {};

// The gain of the mode (album falling back to track and track to album),
// rounded to the nearest whole dB with halves away from zero, plus extra_db,
// goes to the preamp of the equalizer as it is set (flat when off): the
// decode equals one with that preamp set by hand.
TEST_P(ReplayGainPreamp, IsTheRoundedGainOnTheEqualizersPreamp)
{
    const GainCase &c = GetParam();
    const Bytes file = WithApe("mpeg1-44100-stereo.mp3", c.tags);
    const int8_t bass[11] = {6, 5, 4, 2, 0, 0, 0, 0, 0, 0, -4};
    File gained = OpenMemory(file);
    ASSERT_NE(gained, nullptr);
    if (c.bass) {
        ASSERT_EQ(vf_set_equalizer(gained.get(), bass), 0);
    }
    ASSERT_EQ(vf_set_replaygain(gained.get(), c.mode, c.extra), 0);
    const Bytes got = ReadAll(gained.get());

    int8_t bands[11] = {};
    if (c.bass)
        std::memcpy(bands, bass, sizeof bands);
    bands[10] = static_cast<int8_t>(bands[10] + c.preamp);
    File byHand = OpenMemory(file);
    ASSERT_NE(byHand, nullptr);
    ASSERT_EQ(vf_set_equalizer(byHand.get(), bands), 0);
    const Bytes expected = ReadAll(byHand.get());
    ASSERT_EQ(got.size(), expected.size());
    EXPECT_LE(MaxDifference(got, expected), 1);
}

const GainCase gains[] = {
    {"TrackHalfRoundsAwayFromZero", {{"REPLAYGAIN_TRACK_GAIN", "-3.50 dB"}}, VF_REPLAYGAIN_TRACK, 0, false, -4},
    {"TrackBelowHalfRoundsToZero", {{"REPLAYGAIN_TRACK_GAIN", "-3.49 dB"}}, VF_REPLAYGAIN_TRACK, 0, false, -3},
    {"TrackAboveHalfRoundsAway", {{"REPLAYGAIN_TRACK_GAIN", "-2.70 dB"}}, VF_REPLAYGAIN_TRACK, 0, false, -3},
    {"PositiveHalfRoundsUp", {{"REPLAYGAIN_TRACK_GAIN", "+1.50 dB"}}, VF_REPLAYGAIN_TRACK, 0, false, 2},
    {"ExtraAddedToTheRoundedGain", {{"REPLAYGAIN_TRACK_GAIN", "-5.50 dB"}}, VF_REPLAYGAIN_TRACK, 2, false, -4},
    {"AlbumWhenBoth",
     {{"REPLAYGAIN_TRACK_GAIN", "-2.00 dB"}, {"REPLAYGAIN_ALBUM_GAIN", "-6.50 dB"}},
     VF_REPLAYGAIN_ALBUM, 0, false, -7},
    {"TrackWhenBoth",
     {{"REPLAYGAIN_TRACK_GAIN", "-2.00 dB"}, {"REPLAYGAIN_ALBUM_GAIN", "-6.50 dB"}},
     VF_REPLAYGAIN_TRACK, 0, false, -2},
    {"AlbumFallsBackToTrack", {{"REPLAYGAIN_TRACK_GAIN", "-5.50 dB"}}, VF_REPLAYGAIN_ALBUM, 0, false, -6},
    {"TrackFallsBackToAlbum", {{"REPLAYGAIN_ALBUM_GAIN", "-7.50 dB"}}, VF_REPLAYGAIN_TRACK, 0, false, -8},
    {"EqualizerBandsStayBesideTheGain", {{"REPLAYGAIN_TRACK_GAIN", "-3.50 dB"}}, VF_REPLAYGAIN_TRACK, 0, true, -4},
};
INSTANTIATE_TEST_SUITE_P(Pinned, ReplayGainPreamp, ::testing::ValuesIn(gains),
                         [](const auto &i) { return Named(i.param.name); });

// --- pictures ---------------------------------------------------------------

struct PictureCase {
    const char *name;
    const char *fixture;
    const char *mime;
    std::string bytes;  // the picture; empty: the APEv2 cover item's
};

void PrintTo(const PictureCase &c, std::ostream *os)
{
    *os << c.name;
}

// The picture in a file's APEv2 cover item: after its file name and a zero.
std::string ApeCover(const Bytes &file)
{
    const std::string bytes(file.begin(), file.end()), key = std::string("Cover Art (Front)") + '\0';
    const size_t at = bytes.find(key);
    if (at == std::string::npos || at < 8)
        return "";
    const size_t size = Le32(file, at - 8), value = at + key.size();
    const size_t zero = bytes.find('\0', value);
    if (zero == std::string::npos || zero >= value + size || value + size > bytes.size())
        return "";
    return bytes.substr(zero + 1, value + size - zero - 1);
}

class Picture : public ::testing::TestWithParam<PictureCase> {};

TEST_P(Picture, IsTheOneHostsShow)
{
    const PictureCase &c = GetParam();
    File f = Open(c.fixture);
    ASSERT_NE(f, nullptr);
    const char *mime = nullptr;
    const unsigned char *bytes = nullptr;
    size_t size = 0;
    ASSERT_EQ(vf_picture(f.get(), &mime, &bytes, &size), 0);
    EXPECT_STREQ(mime, c.mime);
    const std::string expected = c.bytes.empty() ? ApeCover(ReadFixture(c.fixture)) : c.bytes;
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(bytes), size), expected);
}

const std::string png = "\x89PNG\r\n\x1a\n", jpeg = "\xff\xd8\xff\xe0";
const PictureCase pictures[] = {
    {"FrontCoverWinsOverAnEarlierPicture", "picture-front-second.mp3", "image/jpeg", jpeg + "front cover"},
    {"WithoutAFrontCoverTheFirstPicture", "picture-no-front.mp3", "image/jpeg", jpeg + "back cover first"},
    {"Id3v2PictureBeforeAnApeCover", "picture-id3-and-ape.mp3", "image/png", png + "leaflet page in ID3v2"},
    {"ApeCoverWithTheReadOnlyFlag", "picture-ape-read-only.mp3", "image/png", png + "read-only APEv2 cover"},
    {"ApeCoverAfterTheAudio", "tag-ape-footer.mp3", "image/jpeg", ""},
};
INSTANTIATE_TEST_SUITE_P(Pinned, Picture, ::testing::ValuesIn(pictures),
                         [](const auto &i) { return Named(i.param.name); });

// APEv2 items whose read-only flag (bit 0) is set are read by their type
// (bits 1 and 2): text as text.
TEST(PinnedApe, ReadOnlyTextItemsAreText)
{
    File f = Open("picture-ape-read-only.mp3");
    ASSERT_NE(f, nullptr);
    EXPECT_STREQ(vf_tag(f.get(), "TITLE"), "Read-Only Title");
    EXPECT_STREQ(vf_tag(f.get(), "ARTIST"), "Writable Artist");
}

// --- the output, fixed once reading began -----------------------------------

struct LateCase {
    const char *name;
    int (*begin)(VorlixFile *);  // what the handle does first
    int result;                  // of vf_set_output after it
};

int ReadSome(VorlixFile *f)
{
    int16_t pcm[100 * 2];
    return vf_read(f, pcm, 100);
}

int ReadFrame(VorlixFile *f)
{
    int16_t pcm[1152 * 2];
    return vf_read_frame(f, pcm, 1152, nullptr);
}

int SeekInto(VorlixFile *f)
{
    return vf_seek(f, 5000);
}

int ReadNothing(VorlixFile *f)
{
    int16_t pcm[2];
    return vf_read(f, pcm, 0);
}

int Describe(VorlixFile *f)
{
    VorlixFileInfo info = NEW_INFO;
    return vf_info(f, &info);
}

class OutputLate : public HostFixture, public ::testing::WithParamInterface<LateCase> {};

// After a read or a seek vf_set_output is refused and the handle goes on in
// the format it has, which vf_rate and vf_channels tell; before (a read of
// nothing, a description) it is taken.
TEST_P(OutputLate, IsRefusedOnceReadingBegan)
{
    const LateCase &c = GetParam();
    File f = Open("mpeg1-44100-mono.mp3");
    ASSERT_NE(f, nullptr);
    const int64_t length = vf_length(f.get());
    ASSERT_GE(c.begin(f.get()), 0);
    EXPECT_EQ(vf_set_output(f.get(), 22050, 1), c.result);
    const bool taken = c.result == 0;
    EXPECT_EQ(vf_rate(f.get()), taken ? 22050 : 44100);
    EXPECT_EQ(vf_channels(f.get()), taken ? 2 : 1);
    // and the samples read are of that format: as many as its length says
    std::vector<int16_t> pcm(4096 * 2);
    ASSERT_EQ(vf_seek(f.get(), 0), 0);
    int64_t count = 0;
    for (int n; (n = vf_read(f.get(), pcm.data(), 4096)) > 0;)
        count += n;
    EXPECT_EQ(count, vf_length(f.get()));
    if (!taken) {
        EXPECT_EQ(count, length);
    }
}

const LateCase lates[] = {
    {"AfterARead", ReadSome, VF_ELATE},
    {"AfterAFrameRead", ReadFrame, VF_ELATE},
    {"AfterASeek", SeekInto, VF_ELATE},
    {"NotAfterAReadOfNothing", ReadNothing, 0},
    {"NotAfterADescription", Describe, 0},
};
INSTANTIATE_TEST_SUITE_P(Pinned, OutputLate, ::testing::ValuesIn(lates),
                         [](const auto &i) { return Named(i.param.name); });

// --- the description follows vf_set_gapless ---------------------------------

class GaplessSwitch : public ::testing::TestWithParam<const char *> {};

// Switched off, the trims are gone from the description: every frame's
// samples counted, in vf_info and vf_length alike, and as many read;
// switched on again, the trims are back.
TEST_P(GaplessSwitch, ChangesTheDescriptionWithIt)
{
    File f = Open(GetParam());
    ASSERT_NE(f, nullptr);
    const VorlixFileInfo on = Info(f.get());
    ASSERT_GT(on.trim_start, 0);
    const int64_t perFrame = on.version == 10 ? 1152 : 576;

    ASSERT_EQ(vf_set_gapless(f.get(), 0), 0);
    VorlixFileInfo off = Info(f.get());
    EXPECT_EQ(off.trim_start, 0);
    EXPECT_EQ(off.trim_end, 0);
    EXPECT_EQ(off.samples, on.frames * perFrame);
    EXPECT_EQ(off.delay, on.delay);  // still the encoder's
    EXPECT_EQ(vf_length(f.get()), off.samples);

    ASSERT_EQ(vf_set_gapless(f.get(), 1), 0);
    const VorlixFileInfo again = Info(f.get());
    EXPECT_EQ(again.trim_start, on.trim_start);
    EXPECT_EQ(again.trim_end, on.trim_end);
    EXPECT_EQ(again.samples, on.samples);
    EXPECT_EQ(vf_length(f.get()), on.samples);

    ASSERT_EQ(vf_set_gapless(f.get(), 0), 0);
    EXPECT_EQ(ReadAll(f.get()).size(), static_cast<size_t>(off.samples * on.channels * 2));
    EXPECT_EQ(Info(f.get()).samples, off.samples);
}

INSTANTIATE_TEST_SUITE_P(Pinned, GaplessSwitch,
                         ::testing::Values("mpeg1-44100-stereo.mp3", "mpeg2-22050-mono.mp3", "mpeg25-8000-stereo.mp3",
                                           "tag-v23-2000.mp3"),
                         [](const auto &i) {
                             std::string n = i.param;
                             n = n.substr(0, n.find('.'));
                             std::replace(n.begin(), n.end(), '-', '_');
                             return n;
                         });

// --- lengths at a converted rate ---------------------------------------------

struct RateCase {
    const char *fixture;
    int rate;
};

class ConvertedLength : public ::testing::TestWithParam<RateCase> {};

// vf_length at an output rate of the converter, before reading, is what the
// reads give (the gapless trims converted from the stream's rate to the
// output's).
TEST_P(ConvertedLength, IsWhatTheReadsGive)
{
    const RateCase &c = GetParam();
    File f = Open(c.fixture);
    ASSERT_NE(f, nullptr);
    ASSERT_GT(Info(f.get()).trim_start, 0);
    ASSERT_EQ(vf_set_output(f.get(), c.rate, 0), 0);
    const int64_t length = vf_length(f.get());
    std::vector<int16_t> pcm(4096 * 2);
    int64_t count = 0;
    for (int n; (n = vf_read(f.get(), pcm.data(), 4096)) > 0;)
        count += n;
    EXPECT_EQ(length, count);
    EXPECT_EQ(vf_length(f.get()), count);
}

const RateCase rates[] = {
    {"mpeg1-44100-stereo.mp3", 8000},  {"mpeg1-44100-stereo.mp3", 22050}, {"mpeg1-44100-stereo.mp3", 48000},
    {"mpeg2-22050-mono.mp3", 44100},   {"mpeg2-22050-mono.mp3", 11025},   {"mpeg25-8000-stereo.mp3", 48000},
    {"mpeg25-11025-stereo.mp3", 12000},   {"mpeg1-32000-stereo.mp3", 24000},
};
INSTANTIATE_TEST_SUITE_P(Pinned, ConvertedLength, ::testing::ValuesIn(rates), [](const auto &i) {
    std::string n = i.param.fixture;
    n = n.substr(0, n.find('.')) + "_to_" + std::to_string(i.param.rate);
    std::replace(n.begin(), n.end(), '-', '_');
    return n;
});

// --- handles that read in turn ----------------------------------------------

struct TurnsCase {
    const char *name;
    std::vector<const char *> fixtures;  // one handle each
    bool seeks;                          // handles seek now and then
};

void PrintTo(const TurnsCase &c, std::ostream *os)
{
    *os << c.name;
}

class HandlesInTurn : public HostFixture, public ::testing::WithParamInterface<TurnsCase> {};

// Handles that share the process's decoder (no private copies allowed) read
// in turns of random sizes, some seeking to random samples between reads
// (through damaged frames, garbage and free-format frames): every stretch a
// handle reads equals the decode of its file alone from where the stretch
// starts, within 1 LSB, however the turns fell before. A seek or a dropped
// frame breaks the run of frames a handle keeps to take the decoder over:
// a takeover after it must not prime the decoder from frames of before.
TEST_P(HandlesInTurn, EachReadsAsItsFileDecodesAlone)
{
    const TurnsCase &c = GetParam();
    // no private decoder copies: the handles share the process's decoder
    // and take it over from one another
    struct Shared {
        int before = vf_set_instance_limit(0);
        ~Shared() { vf_set_instance_limit(before); }
    } shared;
    ASSERT_GE(shared.before, 0);
    const size_t count = c.fixtures.size();
    std::vector<std::vector<int16_t>> alone;
    std::vector<File> files;
    for (const char *name : c.fixtures) {
        alone.push_back(Samples(Program(dir, data + "/" + name)));
        files.push_back(Open(name));
        ASSERT_NE(files.back(), nullptr) << name;
    }
    for (const uint32_t seed : {1u, 2u, 3u}) {
        SCOPED_TRACE(seed);
        std::mt19937 random(seed);
        for (File &f : files)
            ASSERT_EQ(vf_seek(f.get(), 0), 0);
        std::vector<int64_t> at(count, 0);
        std::vector<bool> done(count, false);
        std::vector<int16_t> pcm(3000 * 2);
        int turns = 0;
        while (std::find(done.begin(), done.end(), false) != done.end() && ++turns < 4000) {
            const size_t i = random() % count;
            if (done[i])
                continue;
            VorlixFile *f = files[i].get();
            const int channels = vf_channels(f);
            const int64_t length = static_cast<int64_t>(alone[i].size()) / channels;
            if (c.seeks && random() % 4 == 0) {
                at[i] = static_cast<int64_t>(random() % static_cast<uint32_t>(length));
                ASSERT_EQ(vf_seek(f, at[i]), 0);
                continue;
            }
            const int n = vf_read(f, pcm.data(), static_cast<int>(1 + random() % 3000));
            ASSERT_GE(n, 0) << c.fixtures[i];
            if (n == 0) {
                EXPECT_EQ(at[i], length) << c.fixtures[i] << ": ends early";
                done[i] = true;
                continue;
            }
            ASSERT_LE(at[i] + n, length) << c.fixtures[i];
            const size_t from = static_cast<size_t>(at[i] * channels);
            int worst = 0;
            for (size_t k = 0; k < static_cast<size_t>(n * channels); ++k)
                worst = std::max(worst, std::abs(pcm[k] - alone[i][from + k]));
            ASSERT_LE(worst, 1) << c.fixtures[i] << " at sample " << at[i] << ", " << n << " read";
            at[i] += n;
        }
        EXPECT_LT(turns, 4000);
    }
}

const TurnsCase turns[] = {
    {"TwoOnADamagedFile", {"damaged-frame.mp3", "damaged-frame.mp3"}, false},
    {"DamagedAndGarbageSeeking", {"damaged-frame.mp3", "garbage-between-frames.mp3", "damaged-frame.mp3"}, true},
    {"ThreeSeekingOnOneFile", {"mpeg1-44100-stereo.mp3", "mpeg1-44100-stereo.mp3", "mpeg2-22050-mono.mp3"}, true},
    {"FreeFormatSeeking", {"free-format-sync-inside.mp3", "mpeg1-44100-stereo.mp3"}, true},
};
INSTANTIATE_TEST_SUITE_P(Pinned, HandlesInTurn, ::testing::ValuesIn(turns),
                         [](const auto &i) { return Named(i.param.name); });

} // namespace
