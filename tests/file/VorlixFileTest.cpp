// SPDX-License-Identifier: GPL-2.0-or-later
// libvorlixfile through its public header: every way of opening gives what
// vorlix-decode writes, seeks land on the sample, several handles (and
// threads) decode as each would alone, and bad sources end cleanly.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <thread>
#include <unistd.h>

#include "HostDecoder.h"
#include "format/FrameHeader.h"
#include "TestSupport.h"
#include "cli/HostSupport.h"
#include "vorlixfile.h"
#include "file/MemoryCallbacks.h"

namespace {

const std::string host = VORLIX_DECODE;
const std::string data = VORLIX_TEST_DATA;

using File = std::unique_ptr<VorlixFile, decltype(&vf_free)>;

// every fixture
const char *const fixtures[] = {
    "crc-44100-stereo.mp3", "damaged-frame.mp3", "garbage-between-frames.mp3", "loud-clipping.mp3",
    "mpeg1-32000-stereo.mp3", "mpeg1-44100-mono.mp3", "mpeg1-44100-stereo.mp3", "mpeg1-48000-stereo.mp3",
    "mpeg2-16000-stereo.mp3", "mpeg2-22050-mono.mp3", "mpeg2-22050-stereo.mp3", "mpeg2-24000-stereo.mp3",
    "mpeg25-11025-stereo.mp3", "mpeg25-12000-mono.mp3", "mpeg25-8000-mono.mp3", "mpeg25-8000-stereo.mp3",
    "riff-mpeg2-22050-mono.wav", "tag-ape-footer.mp3", "tag-between.mp3", "tag-picture.mp3",
    "tag-trailing.mp3", "tag-two-leading.mp3", "tag-v1.mp3", "tag-v22.mp3",
    "tag-v23-10000.mp3", "tag-v23-2000.mp3", "tag-v23-long-title.mp3", "tag-v24.mp3"};

// Everything a handle reads, in reads of `chunk` samples (or, with sizes,
// of random sizes); little-endian bytes as vorlix-decode writes them.
Bytes ReadAll(VorlixFile *f, std::mt19937 *sizes = nullptr, int chunk = 4096)
{
    Bytes out;
    std::vector<int16_t> pcm(static_cast<size_t>(6913) * 2);
    for (;;) {
        const int want = sizes != nullptr ? static_cast<int>((*sizes)() % 6913) : chunk;
        const int n = vf_read(f, pcm.data(), want);
        if (n < 0 || (n == 0 && want > 0))
            break;
        AppendLe(out, pcm.data(), static_cast<size_t>(n * vf_channels(f)));
    }
    return out;
}

class FileLibrary : public HostFixture {
protected:
    void SetUp() override
    {
        HostFixture::SetUp();
        Fresh();
    }
    // the library as at load: each decode then starts as in a process of its own
    static void Fresh()
    {
        ResetDecoder();
        ForgetDecoderUse();
    }
    Bytes Program(const std::string &path, const std::string &options = "")
    {
        EXPECT_EQ(Shell(host + " -q --raw " + options + " " + path + " -o " + dir + "/out.pcm"), 0) << path;
        return ReadFile(dir + "/out.pcm");
    }
    static Bytes Solo(const std::string &path)
    {
        Fresh();
        File f(vf_open_file(path.c_str(), nullptr), vf_free);
        EXPECT_NE(f, nullptr) << path;
        return f ? ReadAll(f.get()) : Bytes{};
    }
};

// Push mode: feeds of random sizes from 1 to `most` bytes, reads between;
// framed, a handle for whole frames fed arbitrary pieces all the same.
Bytes Pushed(const Bytes &file, std::mt19937 &random, bool framed = false, size_t most = 65536)
{
    File f(framed ? vf_open_frames(nullptr) : vf_open_push(nullptr), vf_free);
    Bytes out;
    std::vector<int16_t> pcm(4096 * 2);
    size_t at = 0;
    for (;;) {
        const int n = vf_read(f.get(), pcm.data(), 4096);
        if (n > 0) {
            AppendLe(out, pcm.data(), static_cast<size_t>(n * vf_channels(f.get())));
            continue;
        }
        if (n != VF_ENEEDMORE)
            break;
        if (at == file.size()) {
            vf_feed_end(f.get());
            continue;
        }
        const size_t take = std::min<size_t>(1 + random() % most, file.size() - at);
        EXPECT_EQ(vf_feed(f.get(), file.data() + at, take), 0);
        at += take;
    }
    return out;
}

TEST_F(FileLibrary, EveryWayOfOpeningGivesWhatVorlixDecodeWrites)
{
    const uint32_t seed = TestSeed();
    SCOPED_TRACE(SeedNote(seed));
    std::mt19937 random(seed);
    for (const char *name : fixtures) {
        SCOPED_TRACE(name);
        const std::string path = data + "/" + name;
        const Bytes expected = Program(path);
        const Bytes file = ReadFixture(name);
        ASSERT_FALSE(expected.empty());

        EXPECT_EQ(Solo(path), expected) << "path";
        Fresh();
        const int fd = open(path.c_str(), O_RDONLY);
        {
            File f(vf_open_fd(fd, nullptr), vf_free);
            ASSERT_NE(f, nullptr);
            EXPECT_EQ(ReadAll(f.get(), &random), expected) << "descriptor, reads of random sizes";
        }
        close(fd);
        Fresh();
        {
            File f(vf_open_memory(file.data(), file.size(), nullptr), vf_free);
            ASSERT_NE(f, nullptr);
            EXPECT_EQ(ReadAll(f.get(), nullptr, 1), expected) << "memory, a sample at a time";
        }
        Fresh();
        {
            Memory m{&file};
            m.most = 1 + random() % 5000;
            const VorlixFileCallbacks stream = {sizeof(VorlixFileCallbacks), MemoryRead, nullptr, nullptr, nullptr};
            File f(vf_open_callbacks(&m, &stream, nullptr), vf_free);
            ASSERT_NE(f, nullptr);
            EXPECT_EQ(ReadAll(f.get()), expected) << "callbacks without seek, short reads";
            EXPECT_EQ(vf_seek(f.get(), 0), VF_ENOSEEK);
        }
        Fresh();
        EXPECT_EQ(Pushed(file, random), expected) << "push mode";
        // bytes that are not whole frames pass a handle for frames safely
        Fresh();
        EXPECT_EQ(Pushed(file, random, true, 3000), expected) << "push mode for frames, fed arbitrary pieces";
    }
}

// A parser's output into vf_open_frames: the frames libmad finds, `most`
// at a time (1 to most), read by vf_read_frame with room for `room` samples
// (random from 1 when 0). Notes at which feed each frame's samples came.
struct FramedRun {
    Bytes pcm;
    std::vector<int64_t> offsets;  // of each read
    std::vector<int> counts;       // samples per channel of each read
    std::map<int64_t, size_t> cameAt, fedAt;  // frame offset -> feed number
};

FramedRun Framed(const Bytes &file, std::mt19937 &random, int most, int room)
{
    FramedRun run;
    File f(vf_open_frames(nullptr), vf_free);
    EXPECT_EQ(vf_set_gapless(f.get(), 0), 0);
    std::vector<size_t> starts = FrameOffsets(file);
    starts.push_back(file.size());
    std::vector<int16_t> pcm(8192 * 2);
    size_t next = 0, feeds = 0;
    for (;;) {
        const int want = room != 0 ? room : 1 + static_cast<int>(random() % 2000);
        int64_t offset = -2;
        const int n = vf_read_frame(f.get(), pcm.data(), want, &offset);
        if (n > 0) {
            AppendLe(run.pcm, pcm.data(), static_cast<size_t>(n * vf_channels(f.get())));
            run.offsets.push_back(offset);
            run.counts.push_back(n);
            run.cameAt.emplace(offset, feeds);
            continue;
        }
        if (n != VF_ENEEDMORE)
            break;
        if (next + 1 >= starts.size()) {
            vf_feed_end(f.get());
            ++feeds;
            continue;
        }
        const size_t take = std::min<size_t>(1 + random() % static_cast<size_t>(most), starts.size() - 1 - next);
        for (size_t k = 0; k < take; ++k)
            run.fedAt.emplace(static_cast<int64_t>(starts[next + k]), feeds);
        EXPECT_EQ(vf_feed(f.get(), file.data() + starts[next], starts[next + take] - starts[next]), 0);
        next += take;
        ++feeds;
    }
    return run;
}

TEST_F(FileLibrary, WholeFramesFedComeOutFrameByFrameOneFeedLater)
{
    const uint32_t seed = TestSeed();
    SCOPED_TRACE(SeedNote(seed));
    std::mt19937 random(seed);
    const char *const plain[] = {"crc-44100-stereo.mp3",   "damaged-frame.mp3",      "garbage-between-frames.mp3",
                                 "loud-clipping.mp3",      "mpeg1-32000-stereo.mp3", "mpeg1-44100-mono.mp3",
                                 "mpeg1-48000-stereo.mp3", "mpeg2-16000-stereo.mp3", "mpeg2-22050-mono.mp3",
                                 "mpeg25-8000-mono.mp3",   "mpeg25-11025-stereo.mp3"};
    for (const char *name : plain) {
        SCOPED_TRACE(name);
        const Bytes expected = Program(data + "/" + name, "--no-gapless");
        const Bytes file = ReadFixture(name);
        FrameHeader first;
        ASSERT_TRUE(ParseFrameHeader(file.data() + FrameOffsets(file).front(), first));

        // a frame at a time: each read is one whole frame, in order, and
        // comes with the feed after its own
        Fresh();
        const FramedRun one = Framed(file, random, 1, 8192);
        EXPECT_EQ(one.pcm, expected);
        ASSERT_FALSE(one.offsets.empty());
        for (size_t i = 0; i < one.offsets.size(); ++i) {
            EXPECT_EQ(one.counts[i], first.SamplesPerFrame()) << "read " << i;
            if (i > 0) {
                EXPECT_GT(one.offsets[i], one.offsets[i - 1]) << "read " << i;
            }
            ASSERT_EQ(one.fedAt.count(one.offsets[i]), 1u) << "read " << i << " at " << one.offsets[i];
            // feed k is number k; reads after it come at k + 1 (after junk,
            // a frame waits for a second header to find the stream again)
            if (std::string(name) != "garbage-between-frames.mp3") {
                EXPECT_LE(one.cameAt.at(one.offsets[i]), one.fedAt.at(one.offsets[i]) + 2) << "read " << i;
            }
        }
        // several frames per feed, reads of random sizes: the same samples
        Fresh();
        EXPECT_EQ(Framed(file, random, 4, 0).pcm, expected) << "several frames per feed";
    }
}

TEST_F(FileLibrary, SeeksLandOnTheSample)
{
    for (const char *name : {"mpeg1-44100-stereo.mp3", "mpeg2-22050-mono.mp3", "mpeg25-8000-mono.mp3",
                             "tag-between.mp3", "crc-44100-stereo.mp3"}) {
        SCOPED_TRACE(name);
        const std::string path = data + "/" + name;
        const Bytes full = Solo(path);
        Fresh();
        File f(vf_open_file(path.c_str(), nullptr), vf_free);
        ASSERT_NE(f, nullptr);
        const int64_t length = vf_length(f.get());
        const size_t frameBytes = 2 * static_cast<size_t>(vf_channels(f.get()));
        ASSERT_EQ(static_cast<size_t>(length) * frameBytes, full.size());
        VorlixFileInfo info = VF_INFO_INIT;
        ASSERT_EQ(vf_info(f.get(), &info), 0);
        const int64_t perFrame = info.layer == 3 && info.version != 10 ? 576 : 1152;
        std::vector<int64_t> targets = {0, length - 1, length};
        for (int64_t at = 0; at < length; at += 7 * perFrame)
            for (const int64_t d : {-1, 0, 1})
                if (at + d >= 0 && at + d < length)
                    targets.push_back(at + d - static_cast<int64_t>(info.trim_start) % perFrame);
        for (const int64_t target : targets) {
            if (target < 0)
                continue;
            SCOPED_TRACE(target);
            ASSERT_EQ(vf_seek(f.get(), target), 0);
            EXPECT_EQ(vf_tell(f.get()), target);
            std::vector<int16_t> pcm(2000 * 2);
            const int n = vf_read(f.get(), pcm.data(), 2000);
            ASSERT_EQ(n, static_cast<int>(std::min<int64_t>(2000, length - target)));
            EXPECT_EQ(vf_tell(f.get()), target + n);
            Bytes got;
            AppendLe(got, pcm.data(), static_cast<size_t>(n * vf_channels(f.get())));
            const size_t from = static_cast<size_t>(target) * frameBytes;
            EXPECT_LE(MaxDifference(got, Bytes(full.begin() + static_cast<long>(from),
                                               full.begin() + static_cast<long>(from + got.size()))), 1);
        }
        EXPECT_EQ(vf_seek(f.get(), length + 1), VF_EBADPOS);
    }
}

// Files of other formats read in turns of random sizes, by one thread or
// two: each comes out as it does alone, within the 1 LSB of the error
// feedback that a takeover starts afresh, and exactly as long.
void Interleaved(const std::vector<std::string> &paths, const std::vector<bool> &eq, std::vector<Bytes> &out,
                 uint32_t seed)
{
    std::mt19937 random(seed);
    std::vector<File> files;
    const int8_t bass[11] = {6, 5, 4, 2, 0, 0, 0, 0, 0, 0, -4};
    for (size_t i = 0; i < paths.size(); ++i) {
        files.emplace_back(vf_open_file(paths[i].c_str(), nullptr), vf_free);
        ASSERT_NE(files.back(), nullptr);
        if (eq[i])
            vf_set_equalizer(files.back().get(), bass);
    }
    out.assign(paths.size(), Bytes{});
    std::vector<bool> done(paths.size(), false);
    std::vector<int16_t> pcm(3000 * 2);
    while (std::find(done.begin(), done.end(), false) != done.end()) {
        const size_t i = random() % paths.size();
        if (done[i])
            continue;
        const int n = vf_read(files[i].get(), pcm.data(), static_cast<int>(1 + random() % 3000));
        if (n <= 0) {
            done[i] = true;
            continue;
        }
        AppendLe(out[i], pcm.data(), static_cast<size_t>(n * vf_channels(files[i].get())));
    }
}

TEST_F(FileLibrary, SeveralHandlesAndThreadsDecodeAsEachAlone)
{
    const uint32_t seed = TestSeed();
    SCOPED_TRACE(SeedNote(seed));
    const std::vector<std::string> paths = {data + "/mpeg1-44100-stereo.mp3", data + "/mpeg2-22050-mono.mp3",
                                            data + "/mpeg1-48000-stereo.mp3", data + "/loud-clipping.mp3",
                                            data + "/mpeg25-8000-mono.mp3"};
    const std::vector<bool> eq = {false, false, false, true, false};
    std::vector<Bytes> solo;
    for (size_t i = 0; i < paths.size(); ++i) {
        if (eq[i]) {
            // the equalizer's gain reduction after clipping starts afresh at
            // each takeover: the loud file is compared with the program's
            // decode for its length and with its plain decode otherwise
            solo.push_back(Program(paths[i], "--eq-preset bass"));
        } else {
            solo.push_back(Solo(paths[i]));
        }
    }
    for (const size_t count : {size_t{2}, size_t{5}}) {
        SCOPED_TRACE(count);
        Fresh();
        std::vector<Bytes> out;
        Interleaved({paths.begin(), paths.begin() + static_cast<long>(count)}, {eq.begin(), eq.begin() + static_cast<long>(count)}, out, seed);
        for (size_t i = 0; i < count; ++i) {
            SCOPED_TRACE(paths[i]);
            ASSERT_EQ(out[i].size(), solo[i].size());
            if (!eq[i]) {
                EXPECT_LE(MaxDifference(out[i], solo[i]), 1);
            }
        }
    }
    // frames the decoder drops stay in the run a takeover restores from:
    // two handles on a damaged file and one with garbage between frames
    {
        const std::vector<std::string> damaged = {data + "/damaged-frame.mp3", data + "/damaged-frame.mp3",
                                                  data + "/garbage-between-frames.mp3"};
        std::vector<Bytes> alone, out;
        for (const std::string &path : damaged)
            alone.push_back(Solo(path));
        Fresh();
        Interleaved(damaged, {false, false, false}, out, seed);
        for (size_t i = 0; i < damaged.size(); ++i) {
            ASSERT_EQ(out[i].size(), alone[i].size()) << i;
            EXPECT_LE(MaxDifference(out[i], alone[i]), 1) << i;
        }
    }
    // a handle closed while others read: they go on as alone
    {
        Fresh();
        std::vector<File> open;
        for (const size_t i : {size_t{0}, size_t{1}, size_t{2}})
            open.emplace_back(vf_open_file(paths[i].c_str(), nullptr), vf_free);
        std::vector<Bytes> got(3);
        std::vector<int16_t> pcm(1000 * 2);
        for (int round = 0; round < 200; ++round)
            for (size_t i = 0; i < 3; ++i) {
                if (open[i] == nullptr)
                    continue;
                if (i == 1 && round == 5) {
                    open[i].reset();
                    continue;
                }
                const int n = std::max(vf_read(open[i].get(), pcm.data(), 1000), 0);
                AppendLe(got[i], pcm.data(), static_cast<size_t>(n * vf_channels(open[i].get())));
            }
        EXPECT_LE(MaxDifference(got[0], solo[0]), 1);
        EXPECT_LE(MaxDifference(got[2], solo[2]), 1);
    }
    // two threads, two handles each
    Fresh();
    std::vector<Bytes> a, b;
    std::thread one([&] { Interleaved({paths[0], paths[1]}, {false, false}, a, seed); });
    std::thread two([&] { Interleaved({paths[2], paths[4]}, {false, false}, b, seed + 1); });
    one.join();
    two.join();
    EXPECT_LE(MaxDifference(a[0], solo[0]), 1);
    EXPECT_LE(MaxDifference(a[1], solo[1]), 1);
    EXPECT_LE(MaxDifference(b[0], solo[2]), 1);
    EXPECT_LE(MaxDifference(b[1], solo[4]), 1);
}

TEST_F(FileLibrary, ADescribingHandleLeavesADecodeAsItIs)
{
    const std::string path = data + "/mpeg1-44100-stereo.mp3";
    const Bytes expected = Solo(path);
    Fresh();
    File f(vf_open_file(path.c_str(), nullptr), vf_free);
    std::vector<int16_t> pcm(1000 * 2);
    Bytes got;
    for (int round = 0;; ++round) {
        if (round % 3 == 0) {
            // open, describe, read tags, close: the decoder is not touched
            File other(vf_open_file((data + "/mpeg2-22050-mono.mp3").c_str(), nullptr), vf_free);
            VorlixFileInfo info = VF_INFO_INIT;
            ASSERT_EQ(vf_info(other.get(), &info), 0);
            vf_tag(other.get(), "TITLE");
        }
        const int n = vf_read(f.get(), pcm.data(), 1000);
        if (n <= 0)
            break;
        AppendLe(got, pcm.data(), static_cast<size_t>(2 * n));
    }
    EXPECT_EQ(got, expected);
}

TEST_F(FileLibrary, DescribesTheStream)
{
    File f(vf_open_file((data + "/tag-v24.mp3").c_str(), nullptr), vf_free);
    ASSERT_NE(f, nullptr);
    VorlixFileInfo info = VF_INFO_INIT;
    ASSERT_EQ(vf_info(f.get(), &info), 0);
    EXPECT_EQ(info.version, 10);
    EXPECT_EQ(info.layer, 3);
    EXPECT_EQ(info.rate, 44100);
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.header, VF_HEADER_INFO);
    EXPECT_EQ(info.bitrate_mode, VF_BITRATE_CBR);
    EXPECT_STREQ(info.encoder, "LAME3.100");
    EXPECT_EQ(info.delay, 576);
    EXPECT_EQ(info.trim_start, 576 + 529);
    EXPECT_EQ(info.samples, info.frames * 1152 - info.delay - info.padding);
    EXPECT_EQ(vf_length(f.get()), info.samples);
    EXPECT_STREQ(vf_tag(f.get(), "title"), "Caf\xc3\xa9 \xd0\x96");
    EXPECT_STREQ(vf_tag(f.get(), "ARTIST"), "First Artist / Second");
    EXPECT_EQ(vf_tag(f.get(), "NO SUCH KEY"), nullptr);
    ASSERT_GT(vf_tag_count(f.get()), 1);
    EXPECT_STREQ(vf_tag_key(f.get(), 0), "TITLE");
    EXPECT_EQ(vf_tag_key(f.get(), vf_tag_count(f.get())), nullptr);

    // the picture of a tag, byte for byte
    File p(vf_open_file((data + "/tag-picture.mp3").c_str(), nullptr), vf_free);
    const char *mime = nullptr;
    const unsigned char *bytes = nullptr;
    size_t size = 0;
    ASSERT_EQ(vf_picture(p.get(), &mime, &bytes, &size), 0);
    const Bytes file = ReadFixture("tag-picture.mp3");
    ASSERT_GT(size, 1000u);
    EXPECT_TRUE(std::search(file.begin(), file.end(), bytes, bytes + size) != file.end());
    EXPECT_EQ(vf_picture(f.get(), &mime, &bytes, &size), VF_ENOPICTURE);

    // ReplayGain from TXXX, applied through the preamp in whole dB
    Bytes tagged = Id3v2({{"TIT2", "Gain"}});
    const std::string txxx = std::string("\0REPLAYGAIN_TRACK_GAIN\0-6.40 dB", 31);
    Bytes frame = {'T', 'X', 'X', 'X', 0, 0, 0, static_cast<uint8_t>(txxx.size()), 0, 0};
    frame.insert(frame.end(), txxx.begin(), txxx.end());
    tagged.insert(tagged.begin() + 10, frame.begin(), frame.end());
    const uint32_t body = static_cast<uint32_t>(tagged.size() - 10);
    tagged[8] = static_cast<uint8_t>(body >> 7), tagged[9] = static_cast<uint8_t>(body & 0x7f);
    const Bytes audio = ReadFixture("loud-clipping.mp3");
    tagged.insert(tagged.end(), audio.begin(), audio.end());
    File g(vf_open_memory(tagged.data(), tagged.size(), nullptr), vf_free);
    ASSERT_NE(g, nullptr);
    VorlixFileReplayGain gain = VF_REPLAYGAIN_INIT;
    ASSERT_EQ(vf_replaygain(g.get(), &gain), 0);
    EXPECT_TRUE(gain.has_track);
    EXPECT_DOUBLE_EQ(gain.track_gain, -6.4);
    EXPECT_FALSE(gain.has_album);
    ASSERT_EQ(vf_set_replaygain(g.get(), VF_REPLAYGAIN_TRACK, 0), 0);
    const Bytes quieter = ReadAll(g.get());
    WriteFile(dir + "/gain.mp3", tagged);
    EXPECT_EQ(quieter, Program(dir + "/gain.mp3", "--eq 0,0,0,0,0,0,0,0,0,0,-6"));
}

// iTunes' comment trims as it says: the audio of a LAME file without its
// header frame, behind an iTunSMPB comment of the same trims, decodes to the
// same samples.
TEST_F(FileLibrary, ItunesGaplessCommentTrimsAsItSays)
{
    const Bytes file = ReadFixture("mpeg1-44100-stereo.mp3");
    const Bytes expected = Solo(data + "/mpeg1-44100-stereo.mp3");
    File lame(vf_open_memory(file.data(), file.size(), nullptr), vf_free);
    VorlixFileInfo info = VF_INFO_INIT;
    ASSERT_EQ(vf_info(lame.get(), &info), 0);
    const std::vector<size_t> offsets = FrameOffsets(file);
    const Bytes audio(file.begin() + static_cast<long>(offsets[1]), file.end());
    char smpb[128];
    std::snprintf(smpb, sizeof smpb, " 00000000 %08X %08X %016llX 00000000", info.delay + 529, info.padding,
                  static_cast<unsigned long long>(info.samples));
    // Latin-1, language, description, text
    const std::string comm = std::string("\0engiTunSMPB\0", 13) + smpb;
    Bytes tag = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 0, 'C', 'O', 'M', 'M', 0, 0, 0, static_cast<uint8_t>(comm.size()), 0, 0};
    tag.insert(tag.end(), comm.begin(), comm.end());
    const uint32_t body = static_cast<uint32_t>(tag.size() - 10);
    tag[8] = static_cast<uint8_t>(body >> 7), tag[9] = static_cast<uint8_t>(body & 0x7f);
    tag.insert(tag.end(), audio.begin(), audio.end());
    Fresh();
    File f(vf_open_memory(tag.data(), tag.size(), nullptr), vf_free);
    ASSERT_NE(f, nullptr);
    VorlixFileInfo itunes = VF_INFO_INIT;
    ASSERT_EQ(vf_info(f.get(), &itunes), 0);
    EXPECT_EQ(itunes.gapless_source, 2);
    EXPECT_EQ(itunes.header, VF_HEADER_NONE);
    EXPECT_EQ(itunes.samples, info.samples);
    EXPECT_EQ(ReadAll(f.get()), expected);
}

TEST_F(FileLibrary, ApeTagsAtTheEndGiveWhatId3LacksAndReplayGain)
{
    Bytes file = ReadFixture("tag-v24.mp3");
    const Bytes ape = Ape({{"Title", "Not This"}, {"Album Artist", "The Band"}, {"Artist", std::string("A\0B", 3)},
                           {"REPLAYGAIN_ALBUM_GAIN", "-3.00 dB"}, {"Year", "1999"}},
                          true);
    file.insert(file.end(), ape.begin(), ape.end());
    Bytes v1 = {'T', 'A', 'G'};
    v1.resize(128, 0);
    file.insert(file.end(), v1.begin(), v1.end());
    File f(vf_open_memory(file.data(), file.size(), nullptr), vf_free);
    ASSERT_NE(f, nullptr);
    EXPECT_STREQ(vf_tag(f.get(), "TITLE"), "Caf\xc3\xa9 \xd0\x96");  // ID3v2 first
    EXPECT_STREQ(vf_tag(f.get(), "ALBUMARTIST"), "The Band");
    EXPECT_STREQ(vf_tag(f.get(), "DATE"), "1999");
    VorlixFileReplayGain gain = VF_REPLAYGAIN_INIT;
    ASSERT_EQ(vf_replaygain(f.get(), &gain), 0);
    EXPECT_TRUE(gain.has_album);
    EXPECT_DOUBLE_EQ(gain.album_gain, -3.0);
    // and the audio is that of the file without them
    const Bytes got = ReadAll(f.get());
    EXPECT_EQ(got, Solo(data + "/tag-v24.mp3"));
}

TEST_F(FileLibrary, ReplayGainFromLamesHeader)
{
    // lame measures the track's gain and writes it in its extension
    WriteFile(dir + "/song.wav", Wav(Signal(44100, 2, 44100), 44100));
    ASSERT_EQ(Shell("lame --quiet -b 128 " + dir + "/song.wav " + dir + "/song.mp3"), 0);
    File f(vf_open_file((dir + "/song.mp3").c_str(), nullptr), vf_free);
    ASSERT_NE(f, nullptr);
    VorlixFileReplayGain gain = VF_REPLAYGAIN_INIT;
    ASSERT_EQ(vf_replaygain(f.get(), &gain), 0);
    EXPECT_TRUE(gain.has_track);
    EXPECT_FALSE(gain.has_album);
    EXPECT_NE(gain.track_gain, 0.0);
    EXPECT_EQ(gain.track_peak, 0.0);  // lame measures the peak only when asked (--replaygain-accurate)
    // it is what lame says it measured
    ASSERT_EQ(Shell("lame -b 128 " + dir + "/song.wav " + dir + "/again.mp3 2> " + dir + "/lame.txt"), 0);
    const Bytes said = ReadFile(dir + "/lame.txt");
    const std::string text(said.begin(), said.end());
    const size_t at = text.find("ReplayGain: ");
    ASSERT_NE(at, std::string::npos) << text;
    EXPECT_NEAR(std::stod(text.substr(at + 12)), gain.track_gain, 0.051) << text;
}

// A stereo frame in a mono output is the mean of its two sides, rounded
// down (negative odd sums too): exactly, against the same decode made stereo.
TEST_F(FileLibrary, StereoFramesInAMonoOutputAreTheMeanRoundedDown)
{
    Bytes joined = ReadFixture("mpeg1-44100-mono.mp3");
    const Bytes stereo = ReadFixture("loud-clipping.mp3");
    joined.insert(joined.end(), stereo.begin(), stereo.end());
    File mono(vf_open_memory(joined.data(), joined.size(), nullptr), vf_free);
    ASSERT_EQ(vf_channels(mono.get()), 1);
    const Bytes m = ReadAll(mono.get());
    Fresh();
    File both(vf_open_memory(joined.data(), joined.size(), nullptr), vf_free);
    ASSERT_EQ(vf_set_output(both.get(), 0, 1), 0);
    ASSERT_EQ(vf_channels(both.get()), 2);
    const Bytes s = ReadAll(both.get());
    const std::vector<int16_t> one = Samples(m), two = Samples(s);
    ASSERT_EQ(two.size(), 2 * one.size());
    size_t negativeOdd = 0;
    for (size_t i = 0; i < one.size(); ++i) {
        const int sum = two[2 * i] + two[2 * i + 1];
        negativeOdd += sum < 0 && sum % 2 != 0;
        const int mean = sum >= 0 ? sum / 2 : -((-sum + 1) / 2);
        ASSERT_EQ(one[i], mean) << i;
    }
    EXPECT_GT(negativeOdd, 100u);
}

// A RIFF/WAVE wrapper whose chunks before the data run past the reader's
// lookahead (a large LIST chunk): every way of opening finds the stream in
// it; chunk sizes that run past the input leave no stream to find. A
// seekable source never waits for more input as pushed bytes do.
Bytes RiffAround(const Bytes &mp3, uint32_t listSize, uint32_t claimedListSize)
{
    const auto le32 = [](Bytes &b, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    Bytes body = {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '};
    le32(body, 30);
    const Bytes fmt = {0x55, 0, 2, 0, 0x44, 0xac, 0, 0, 0x80, 0x3e, 0, 0, 1, 0, 0, 0};
    body.insert(body.end(), fmt.begin(), fmt.end());
    body.resize(body.size() + 14);
    body.insert(body.end(), {'L', 'I', 'S', 'T'});
    le32(body, claimedListSize);
    body.resize(body.size() + listSize, 'x');
    body.insert(body.end(), {'d', 'a', 't', 'a'});
    le32(body, static_cast<uint32_t>(mp3.size()));
    body.insert(body.end(), mp3.begin(), mp3.end());
    Bytes file = {'R', 'I', 'F', 'F'};
    le32(file, static_cast<uint32_t>(body.size()));
    file.insert(file.end(), body.begin(), body.end());
    return file;
}

TEST_F(FileLibrary, RiffChunksPastTheLookaheadOpenEveryWay)
{
    const uint32_t seed = TestSeed();
    SCOPED_TRACE(SeedNote(seed));
    std::mt19937 random(seed);
    const Bytes mp3 = ReadFixture("mpeg1-44100-stereo.mp3");
    const Bytes expected = Program(data + "/mpeg1-44100-stereo.mp3");
    struct Case {
        const char *name;
        uint32_t size, claimed;
    };
    for (const Case c : {Case{"a 20 kB LIST chunk", 20000, 20000}, Case{"a 300 kB LIST chunk", 300000, 300000},
                         Case{"a chunk size past the end", 100, 0x7fffffff}}) {
        SCOPED_TRACE(c.name);
        const Bytes file = RiffAround(mp3, c.size, c.claimed);
        const bool whole = c.size == c.claimed;
        const Bytes want = whole ? expected : Bytes{};
        WriteFile(dir + "/in.wav", file);
        int error = 0;
        {
            Fresh();
            File f(vf_open_file((dir + "/in.wav").c_str(), &error), vf_free);
            EXPECT_EQ(f ? ReadAll(f.get()) : Bytes{}, want) << "path";
        }
        EXPECT_EQ(Shell(host + " -q --raw " + dir + "/in.wav -o " + dir + "/out.pcm"), whole ? 0 : 2);
        const int fd = open((dir + "/in.wav").c_str(), O_RDONLY);
        {
            Fresh();
            File f(vf_open_fd(fd, &error), vf_free);
            EXPECT_EQ(f ? ReadAll(f.get()) : Bytes{}, want) << "descriptor";
            EXPECT_EQ(error, whole ? 0 : VF_ENOTAUDIO);
        }
        close(fd);
        for (const bool seekable : {true, false}) {
            Fresh();
            Memory m{&file};
            m.most = 1 + random() % 5000;
            const VorlixFileCallbacks callbacks = {sizeof(VorlixFileCallbacks), MemoryRead, seekable ? MemorySeek : nullptr,
                                                   seekable ? MemoryTell : nullptr, nullptr};
            File f(vf_open_callbacks(&m, &callbacks, &error), vf_free);
            EXPECT_EQ(f ? ReadAll(f.get()) : Bytes{}, want) << (seekable ? "seekable callbacks" : "stream");
            EXPECT_EQ(error, whole ? 0 : VF_ENOTAUDIO);
        }
        Fresh();
        EXPECT_EQ(Pushed(file, random), want) << "push mode";
    }
}

// A stream none of whose first frames decodes (every CRC broken) ends the
// same way in a fresh process and after another handle used the decoder
TEST_F(FileLibrary, WhetherAStreamDecodesDoesNotDependOnEarlierHandles)
{
    Bytes broken = ReadFixture("crc-44100-stereo.mp3");
    for (const size_t at : FrameOffsets(broken))
        broken[at + 4] ^= 0xff;
    const auto decode = [&](bool after) {
        Fresh();
        if (after) {
            File other(vf_open_file((data + "/mpeg1-44100-stereo.mp3").c_str(), nullptr), vf_free);
            std::vector<int16_t> pcm(1000 * 2);
            EXPECT_GT(vf_read(other.get(), pcm.data(), 1000), 0);
        }
        File f(vf_open_memory(broken.data(), broken.size(), nullptr), vf_free);
        EXPECT_NE(f, nullptr);
        std::vector<int16_t> pcm(4096 * 2);
        int n, total = 0;
        while ((n = vf_read(f.get(), pcm.data(), 4096)) > 0)
            total += n;
        return std::make_pair(total, n);
    };
    EXPECT_EQ(decode(true), decode(false));
}

TEST_F(FileLibrary, BadSourcesEndCleanly)
{
    const Bytes file = ReadFixture("mpeg1-44100-stereo.mp3");
    // a read that fails part-way: the samples before it, then the error
    for (const size_t failAt : {size_t{100}, size_t{5000}, file.size() / 2}) {
        SCOPED_TRACE(failAt);
        Fresh();
        Memory m{&file};
        m.failAt = failAt;
        const VorlixFileCallbacks stream = {sizeof(VorlixFileCallbacks), MemoryRead, nullptr, nullptr, nullptr};
        File f(vf_open_callbacks(&m, &stream, nullptr), vf_free);
        if (f == nullptr)
            continue;  // failed while looking for the audio
        std::vector<int16_t> pcm(4096 * 2);
        int n;
        while ((n = vf_read(f.get(), pcm.data(), 4096)) > 0) {
        }
        EXPECT_EQ(n, VF_EREAD);
    }
    // truncation at every 97th byte, as a file and as a seekable callback source
    for (size_t cut = 0; cut < file.size(); cut += 97) {
        const Bytes part(file.begin(), file.begin() + static_cast<long>(cut));
        Memory m{&part};
        const VorlixFileCallbacks seekable = {sizeof(VorlixFileCallbacks), MemoryRead, MemorySeek, MemoryTell, nullptr};
        int error = 0;
        File f(vf_open_callbacks(&m, &seekable, &error), vf_free);
        if (f == nullptr) {
            EXPECT_EQ(error, VF_ENOTAUDIO) << cut;
            continue;
        }
        std::vector<int16_t> pcm(4096 * 2);
        int n;
        while ((n = vf_read(f.get(), pcm.data(), 4096)) > 0) {
        }
        EXPECT_EQ(n, 0) << cut;
    }
    // arguments
    int error = 0;
    EXPECT_EQ(vf_open_file((dir + "/none.mp3").c_str(), &error), nullptr);
    EXPECT_EQ(error, VF_EOPEN);
    EXPECT_EQ(vf_open_callbacks(nullptr, nullptr, &error), nullptr);
    EXPECT_EQ(error, VF_EINVAL);
    EXPECT_EQ(vf_read(nullptr, nullptr, 1), VF_EINVAL);
    EXPECT_STREQ(vf_strerror(VF_ENOSEEK), "the input cannot seek");
    WriteFile(dir + "/text.mp3", Bytes(5000, 'x'));
    EXPECT_EQ(vf_open_file((dir + "/text.mp3").c_str(), &error), nullptr);
    EXPECT_EQ(error, VF_ENOTAUDIO);
}

} // namespace
