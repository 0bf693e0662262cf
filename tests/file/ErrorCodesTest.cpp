// SPDX-License-Identifier: GPL-2.0-or-later
// libvorlixfile's result codes through its public header: each code a
// function's comment lists, produced by a call; a source whose reads fail
// gives VF_EREAD wherever the failure lies; an open that fails leaves the
// host's source open.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <set>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "HostDecoder.h"
#include "TestSupport.h"
#include "cli/HostSupport.h"
#include "vorlixfile.h"

namespace {

using File = std::unique_ptr<VorlixFile, decltype(&vf_free)>;

// A host's source in memory with a bad stretch: a read that starts in it
// fails, one that runs into it stops short before it (as a disk with a bad
// block reads); seek and tell as the host gives them.
struct Disk {
    Bytes bytes;
    size_t at = 0;
    size_t badFrom = SIZE_MAX, badTo = SIZE_MAX;
    bool seekFails = false;  // from when it is set, every seek fails
    int closed = 0;
};

long DiskRead(void *source, unsigned char *buffer, size_t n)
{
    auto *d = static_cast<Disk *>(source);
    if (d->at >= d->badFrom && d->at < d->badTo)
        return -1;
    size_t take = std::min(n, d->bytes.size() - std::min(d->at, d->bytes.size()));
    if (d->at < d->badFrom)
        take = std::min(take, d->badFrom - d->at);
    std::memcpy(buffer, d->bytes.data() + d->at, take);
    d->at += take;
    return static_cast<long>(take);
}

int DiskSeek(void *source, int64_t offset, int whence)
{
    auto *d = static_cast<Disk *>(source);
    const int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? static_cast<int64_t>(d->at)
                                                                     : static_cast<int64_t>(d->bytes.size());
    if (d->seekFails || base + offset < 0 || base + offset > static_cast<int64_t>(d->bytes.size()))
        return -1;
    d->at = static_cast<size_t>(base + offset);
    return 0;
}

int64_t DiskTell(void *source)
{
    return static_cast<int64_t>(static_cast<Disk *>(source)->at);
}

int DiskClose(void *source)
{
    ++static_cast<Disk *>(source)->closed;
    return 0;
}

const VorlixFileCallbacks seekable = {sizeof(VorlixFileCallbacks), DiskRead, DiskSeek, DiskTell, DiskClose};
const VorlixFileCallbacks stream = {sizeof(VorlixFileCallbacks), DiskRead, nullptr, nullptr, DiskClose};

// A song as players meet it: an ID3v2 tag, the audio, an APEv2 tag and an
// ID3v1 tag; where each part starts (start: the file's).
struct Song {
    Bytes bytes;
    size_t audio, ape, v1;
    size_t start = 0;
};

// Audio longer than what an open reads of a stream: a fixture eight times.
Bytes LongAudio()
{
    const Bytes one = ReadFixture("mpeg1-44100-stereo.mp3");
    Bytes audio;
    for (int i = 0; i < 8; ++i)
        audio.insert(audio.end(), one.begin(), one.end());
    return audio;
}

Song TaggedSong()
{
    Song s;
    s.bytes = Id3v2({{"TIT2", "Title"}, {"TPE1", std::string(300, 'a')}});
    s.audio = s.bytes.size();
    const Bytes audio = LongAudio();
    s.bytes.insert(s.bytes.end(), audio.begin(), audio.end());
    s.ape = s.bytes.size();
    // larger than a read ahead past the audio: its far part is read on its own
    const Bytes ape = Ape({{"Album", "An album"}, {"Comment", std::string(100000, 'c')}}, true);
    s.bytes.insert(s.bytes.end(), ape.begin(), ape.end());
    s.v1 = s.bytes.size();
    Bytes v1(128, 0);
    std::memcpy(v1.data(), "TAGA title", 10);
    s.bytes.insert(s.bytes.end(), v1.begin(), v1.end());
    return s;
}

const Bytes text(5000, 'x');

// Everything a handle reads, to the end: the last call's result.
int ReadToEnd(VorlixFile *f, size_t *samples = nullptr)
{
    std::vector<int16_t> pcm(4096 * 2);
    int n;
    while ((n = vf_read(f, pcm.data(), 4096)) > 0)
        if (samples != nullptr)
            *samples += static_cast<size_t>(n);
    return n;
}

class ErrorCodes : public HostFixture {
protected:
    void SetUp() override
    {
        HostFixture::SetUp();
        ResetDecoder();
        ForgetDecoderUse();
    }
};

// One call and the code it must give.
struct Row {
    const char *name;
    std::function<int64_t(const std::string &dir)> call;
    int64_t code;
};

// Handles in the states the rows need.
File Opened(const std::string &name)
{
    return File(vf_open_file((std::string(VORLIX_TEST_DATA) + "/" + name).c_str(), nullptr), vf_free);
}
File TagsAlone()
{
    static const Bytes tags = Id3v2({{"TIT2", "Only a title"}});
    return File(vf_open_memory(tags.data(), tags.size(), nullptr), vf_free);
}
File Waiting()
{
    return File(vf_open_push(nullptr), vf_free);
}
File PushedText()
{
    File f(vf_open_push(nullptr), vf_free);
    vf_feed(f.get(), text.data(), text.size());
    vf_feed_end(f.get());
    return f;
}
File Pushed(const Bytes &bytes)
{
    File f(vf_open_push(nullptr), vf_free);
    vf_feed(f.get(), bytes.data(), bytes.size());
    vf_feed_end(f.get());
    return f;
}
// A stream of the fixture's bytes through standard-input-like callbacks: no
// seek, and its reads fail from `badFrom` on.
struct Streamed {
    Disk disk;
    File f{nullptr, vf_free};
    explicit Streamed(size_t badFrom = SIZE_MAX)
    {
        disk.bytes = LongAudio();
        disk.badFrom = badFrom;
        f.reset(vf_open_callbacks(&disk, &stream, nullptr));
    }
};
// The code an open gave: read after the call (not as an argument beside it).
int64_t OpenError(VorlixFile *f, const int *error)
{
    File owned(f, vf_free);
    return owned != nullptr ? 0 : *error;
}
int16_t pcm[4096 * 2];
const unsigned char *Byte()
{
    static const unsigned char b = 0;
    return &b;
}
int64_t Picture(VorlixFile *f)
{
    const char *mime = nullptr;
    const unsigned char *bytes = nullptr;
    size_t size = 0;
    return vf_picture(f, &mime, &bytes, &size);
}

// Frames whose headers hold but whose contents decode to nothing: every
// Layer III side-info field at its maximum.
Bytes Undecodable()
{
    // every frame's CRC broken: a stream whose frames all fail to decode
    Bytes b = ReadFixture("crc-44100-stereo.mp3");
    for (const size_t at : FrameOffsets(b))
        b[at + 4] ^= 0xff;
    return b;
}

const std::vector<Row> &Rows()
{
    static const std::vector<Row> rows = {
        // opening
        {"OpenFileNullPath", [](const std::string &) { int e = 0; return OpenError(vf_open_file(nullptr, &e), &e); }, VF_EINVAL},
        {"OpenFileMissing", [](const std::string &d) { int e = 0; return OpenError(vf_open_file((d + "/none.mp3").c_str(), &e), &e); }, VF_EOPEN},
        {"OpenFileDirectory", [](const std::string &d) { int e = 0; return OpenError(vf_open_file(d.c_str(), &e), &e); }, VF_EOPEN},
        // the process's own memory file: reading its offset 0 (never mapped) fails with EIO
        {"OpenFileUnreadable", [](const std::string &) { int e = 0; return OpenError(vf_open_file("/proc/self/mem", &e), &e); }, VF_EREAD},
        {"OpenFileText", [](const std::string &d) {
             WriteFile(d + "/text.mp3", text);
             int e = 0;
             return OpenError(vf_open_file((d + "/text.mp3").c_str(), &e), &e);
         }, VF_ENOTAUDIO},
        {"OpenFdNegative", [](const std::string &) { int e = 0; return OpenError(vf_open_fd(-1, &e), &e); }, VF_EINVAL},
        {"OpenFdWriteOnly", [](const std::string &d) {
             const std::string path = d + "/song.mp3";
             WriteFile(path, ReadFixture("mpeg1-44100-stereo.mp3"));
             const int fd = open(path.c_str(), O_WRONLY);
             int e = 0;
             const int64_t r = OpenError(vf_open_fd(fd, &e), &e);
             close(fd);
             return r;
         }, VF_EREAD},
        {"OpenFdDirectory", [](const std::string &d) {
             const int fd = open(d.c_str(), O_RDONLY | O_DIRECTORY);
             int e = 0;
             const int64_t r = OpenError(vf_open_fd(fd, &e), &e);
             close(fd);
             return r;
         }, VF_EREAD},
        {"OpenFdText", [](const std::string &d) {
             WriteFile(d + "/text.mp3", text);
             const int fd = open((d + "/text.mp3").c_str(), O_RDONLY);
             int e = 0;
             const int64_t r = OpenError(vf_open_fd(fd, &e), &e);
             close(fd);
             return r;
         }, VF_ENOTAUDIO},
        {"OpenMemoryNullData", [](const std::string &) { int e = 0; return OpenError(vf_open_memory(nullptr, 5, &e), &e); }, VF_EINVAL},
        {"OpenMemoryText", [](const std::string &) { int e = 0; return OpenError(vf_open_memory(text.data(), text.size(), &e), &e); }, VF_ENOTAUDIO},
        {"OpenCallbacksNull", [](const std::string &) { int e = 0; return OpenError(vf_open_callbacks(nullptr, nullptr, &e), &e); }, VF_EINVAL},
        {"OpenCallbacksNoRead", [](const std::string &) {
             const VorlixFileCallbacks none = {sizeof(VorlixFileCallbacks), nullptr, DiskSeek, DiskTell, DiskClose};
             Disk disk;
             int e = 0;
             return OpenError(vf_open_callbacks(&disk, &none, &e), &e);
         }, VF_EINVAL},
        {"OpenCallbacksReadFails", [](const std::string &) {
             Disk disk{ReadFixture("mpeg1-44100-stereo.mp3")};
             disk.badFrom = 100;
             int e = 0;
             return OpenError(vf_open_callbacks(&disk, &seekable, &e), &e);
         }, VF_EREAD},
        {"OpenCallbacksText", [](const std::string &) {
             Disk disk{text};
             int e = 0;
             return OpenError(vf_open_callbacks(&disk, &seekable, &e), &e);
         }, VF_ENOTAUDIO},
        {"OpenPush", [](const std::string &) { int e = 1; return OpenError(vf_open_push(&e), &e); }, 0},
        {"OpenFrames", [](const std::string &) { int e = 1; return OpenError(vf_open_frames(&e), &e); }, 0},
        // pushing
        {"FeedNull", [](const std::string &) { return int64_t{vf_feed(nullptr, Byte(), 1)}; }, VF_EINVAL},
        {"FeedNotPushMode", [](const std::string &) { return int64_t{vf_feed(Opened("tag-v1.mp3").get(), Byte(), 1)}; }, VF_EINVAL},
        {"FeedNullData", [](const std::string &) { return int64_t{vf_feed(Waiting().get(), nullptr, 1)}; }, VF_EINVAL},
        {"FeedAfterEnd", [](const std::string &) { return int64_t{vf_feed(PushedText().get(), Byte(), 1)}; }, VF_EINVAL},
        {"FeedEndNull", [](const std::string &) { return int64_t{vf_feed_end(nullptr)}; }, VF_EINVAL},
        {"FeedEndNotPushMode", [](const std::string &) { return int64_t{vf_feed_end(Opened("tag-v1.mp3").get())}; }, VF_EINVAL},
        // describing
        {"InfoNull", [](const std::string &) { VorlixFileInfo i = VF_INFO_INIT; return int64_t{vf_info(nullptr, &i)}; }, VF_EINVAL},
        {"InfoNullInfo", [](const std::string &) { return int64_t{vf_info(Opened("tag-v1.mp3").get(), nullptr)}; }, VF_EINVAL},
        {"InfoWaiting", [](const std::string &) { VorlixFileInfo i = VF_INFO_INIT; return int64_t{vf_info(Waiting().get(), &i)}; }, VF_ENEEDMORE},
        {"InfoTagsAlone", [](const std::string &) { VorlixFileInfo i = VF_INFO_INIT; return int64_t{vf_info(TagsAlone().get(), &i)}; }, VF_ENOTAUDIO},
        {"InfoPushedText", [](const std::string &) { VorlixFileInfo i = VF_INFO_INIT; return int64_t{vf_info(PushedText().get(), &i)}; }, VF_ENOTAUDIO},
        {"ReplayGainNull", [](const std::string &) { VorlixFileReplayGain g = VF_REPLAYGAIN_INIT; return int64_t{vf_replaygain(nullptr, &g)}; }, VF_EINVAL},
        {"ReplayGainNullGain", [](const std::string &) { return int64_t{vf_replaygain(Opened("tag-v1.mp3").get(), nullptr)}; }, VF_EINVAL},
        {"ReplayGainWaiting", [](const std::string &) { VorlixFileReplayGain g = VF_REPLAYGAIN_INIT; return int64_t{vf_replaygain(Waiting().get(), &g)}; }, VF_ENEEDMORE},
        {"ReplayGainTagsAlone", [](const std::string &) { VorlixFileReplayGain g = VF_REPLAYGAIN_INIT; return int64_t{vf_replaygain(TagsAlone().get(), &g)}; }, 0},
        {"PictureNull", [](const std::string &) { return Picture(nullptr); }, VF_EINVAL},
        {"PictureNone", [](const std::string &) { return Picture(Opened("tag-v1.mp3").get()); }, VF_ENOPICTURE},
        {"PictureNoneInTagsAlone", [](const std::string &) { return Picture(TagsAlone().get()); }, VF_ENOPICTURE},
        {"PictureWaiting", [](const std::string &) { return Picture(Waiting().get()); }, VF_ENEEDMORE},
        {"PictureThere", [](const std::string &) { return Picture(Opened("tag-picture.mp3").get()); }, 0},
        // output and options
        {"SetOutputNull", [](const std::string &) { return int64_t{vf_set_output(nullptr, 0, 0)}; }, VF_EINVAL},
        {"SetOutputOtherRate", [](const std::string &) { return int64_t{vf_set_output(Opened("tag-v1.mp3").get(), 44000, 0)}; }, VF_EINVAL},
        {"SetOutputAfterRead", [](const std::string &) {
             File f = Opened("tag-v1.mp3");
             vf_read(f.get(), pcm, 1);
             return int64_t{vf_set_output(f.get(), 22050, 0)};
         }, VF_ELATE},
        {"SetOutputAfterSeek", [](const std::string &) {
             File f = Opened("tag-v1.mp3");
             vf_seek(f.get(), 1000);
             return int64_t{vf_set_output(f.get(), 22050, 0)};
         }, VF_ELATE},
        // a read of nothing is no read
        {"SetOutputAfterReadOfNothing", [](const std::string &) {
             File f = Opened("tag-v1.mp3");
             if (vf_read(f.get(), pcm, 0) != 0 || vf_read_frame(f.get(), pcm, 0, nullptr) != 0)
                 return int64_t{-100};
             return int64_t{vf_set_output(f.get(), 22050, 1)} + (vf_rate(f.get()) == 22050 ? 0 : 1000);
         }, 0},
        {"RateNull", [](const std::string &) { return int64_t{vf_rate(nullptr)}; }, VF_EINVAL},
        {"RateWaiting", [](const std::string &) { return int64_t{vf_rate(Waiting().get())}; }, VF_ENEEDMORE},
        {"RateTagsAlone", [](const std::string &) { return int64_t{vf_rate(TagsAlone().get())}; }, VF_ENOTAUDIO},
        {"Rate", [](const std::string &) { return int64_t{vf_rate(Opened("mpeg2-22050-mono.mp3").get())}; }, 22050},
        {"ChannelsNull", [](const std::string &) { return int64_t{vf_channels(nullptr)}; }, VF_EINVAL},
        {"ChannelsWaiting", [](const std::string &) { return int64_t{vf_channels(Waiting().get())}; }, VF_ENEEDMORE},
        {"ChannelsTagsAlone", [](const std::string &) { return int64_t{vf_channels(TagsAlone().get())}; }, VF_ENOTAUDIO},
        {"Channels", [](const std::string &) { return int64_t{vf_channels(Opened("mpeg2-22050-mono.mp3").get())}; }, 1},
        {"SetGaplessNull", [](const std::string &) { return int64_t{vf_set_gapless(nullptr, 1)}; }, VF_EINVAL},
        {"SetGaplessAfterRead", [](const std::string &) {
             File f = Opened("tag-v1.mp3");
             vf_read(f.get(), pcm, 1);
             return int64_t{vf_set_gapless(f.get(), 0)};
         }, VF_ELATE},
        {"SetEqualizerNull", [](const std::string &) { return int64_t{vf_set_equalizer(nullptr, nullptr)}; }, VF_EINVAL},
        {"SetReplayGainNull", [](const std::string &) { return int64_t{vf_set_replaygain(nullptr, VF_REPLAYGAIN_OFF, 0)}; }, VF_EINVAL},
        {"SetReplayGainUnknownMode", [](const std::string &) { return int64_t{vf_set_replaygain(Opened("tag-v1.mp3").get(), 3, 0)}; }, VF_EINVAL},
        {"SetReplayGainExtraTooLarge", [](const std::string &) { return int64_t{vf_set_replaygain(Opened("tag-v1.mp3").get(), VF_REPLAYGAIN_TRACK, 61)}; }, VF_EINVAL},
        {"SetFormatCallbackNull", [](const std::string &) { return int64_t{vf_set_format_callback(nullptr, nullptr, nullptr)}; }, VF_EINVAL},
        // reading
        {"ReadNull", [](const std::string &) { return int64_t{vf_read(nullptr, pcm, 1)}; }, VF_EINVAL},
        {"ReadNullPcm", [](const std::string &) { return int64_t{vf_read(Opened("tag-v1.mp3").get(), nullptr, 1)}; }, VF_EINVAL},
        {"ReadNegative", [](const std::string &) { return int64_t{vf_read(Opened("tag-v1.mp3").get(), pcm, -1)}; }, VF_EINVAL},
        {"ReadWaiting", [](const std::string &) { return int64_t{vf_read(Waiting().get(), pcm, 1)}; }, VF_ENEEDMORE},
        {"ReadTagsAlone", [](const std::string &) { return int64_t{vf_read(TagsAlone().get(), pcm, 1)}; }, VF_ENOTAUDIO},
        {"ReadNothingDecodes", [](const std::string &) {
             const Bytes b = Undecodable();
             File f(vf_open_memory(b.data(), b.size(), nullptr), vf_free);
             return int64_t{ReadToEnd(f.get())};
         }, VF_ENOTAUDIO},
        {"ReadSourceFails", [](const std::string &) {
             Streamed s(100000);
             return int64_t{ReadToEnd(s.f.get())};
         }, VF_EREAD},
        {"ReadAtTheEnd", [](const std::string &) { return int64_t{ReadToEnd(Opened("tag-v1.mp3").get())}; }, 0},
        {"ReadFrameNull", [](const std::string &) { return int64_t{vf_read_frame(nullptr, pcm, 1, nullptr)}; }, VF_EINVAL},
        {"ReadFrameWaiting", [](const std::string &) { return int64_t{vf_read_frame(Waiting().get(), pcm, 1, nullptr)}; }, VF_ENEEDMORE},
        {"ReadFrameTagsAlone", [](const std::string &) { return int64_t{vf_read_frame(TagsAlone().get(), pcm, 1, nullptr)}; }, VF_ENOTAUDIO},
        {"ReadFrameSourceFails", [](const std::string &) {
             Streamed s(100000);
             int n;
             while ((n = vf_read_frame(s.f.get(), pcm, 4096, nullptr)) > 0) {
             }
             return int64_t{n};
         }, VF_EREAD},
        // seeking
        {"SeekNull", [](const std::string &) { return int64_t{vf_seek(nullptr, 0)}; }, VF_EINVAL},
        {"SeekNegative", [](const std::string &) { return int64_t{vf_seek(Opened("tag-v1.mp3").get(), -1)}; }, VF_EINVAL},
        {"SeekStream", [](const std::string &) { return int64_t{vf_seek(Streamed().f.get(), 0)}; }, VF_ENOSEEK},
        {"SeekPushed", [](const std::string &) { return int64_t{vf_seek(Pushed(ReadFixture("tag-v1.mp3")).get(), 0)}; }, VF_ENOSEEK},
        {"SeekPastTheEnd", [](const std::string &) {
             File f = Opened("tag-v1.mp3");
             return int64_t{vf_seek(f.get(), vf_length(f.get()) + 1)};
         }, VF_EBADPOS},
        {"SeekSourceFails", [](const std::string &) {
             Disk disk{ReadFixture("mpeg1-44100-stereo.mp3")};
             File f(vf_open_callbacks(&disk, &seekable, nullptr), vf_free);
             disk.seekFails = true;
             return int64_t{vf_seek(f.get(), 10000)};
         }, VF_EREAD},
        {"SeekTagsAlone", [](const std::string &) { return int64_t{vf_seek(TagsAlone().get(), 0)}; }, VF_ENOTAUDIO},
        {"SeekWaiting", [](const std::string &) { return int64_t{vf_seek(Waiting().get(), 0)}; }, VF_ENEEDMORE},
        {"TellNull", [](const std::string &) { return vf_tell(nullptr); }, VF_EINVAL},
        {"LengthNull", [](const std::string &) { return vf_length(nullptr); }, VF_EINVAL},
        {"LengthUnknown", [](const std::string &) { return vf_length(Waiting().get()); }, -1},
        {"ScanStreamNull", [](const std::string &) { return int64_t{vf_scan_stream(nullptr)}; }, VF_EINVAL},
        {"ScanStreamAfterRead", [](const std::string &) {
             Streamed s;
             vf_read(s.f.get(), pcm, 1);
             return int64_t{vf_scan_stream(s.f.get())};
         }, VF_ELATE},
        {"ScanStreamSourceFails", [](const std::string &) {
             Streamed s(100000);
             const int r = vf_scan_stream(s.f.get());
             return int64_t{r} + (vf_read(s.f.get(), pcm, 1) == VF_EREAD ? 0 : 1000);
         }, VF_EREAD},
        {"ScanStreamTagsAlone", [](const std::string &) { return int64_t{vf_scan_stream(TagsAlone().get())}; }, VF_ENOTAUDIO},
        {"ScanStreamWaiting", [](const std::string &) { return int64_t{vf_scan_stream(Waiting().get())}; }, VF_ENEEDMORE},
        {"TestNullInfo", [](const std::string &) { return int64_t{vf_test(nullptr, text.data(), text.size())}; }, VF_EINVAL},
        {"TestNullData", [](const std::string &) { VorlixFileInfo i = VF_INFO_INIT; return int64_t{vf_test(&i, nullptr, 5)}; }, VF_EINVAL},
        {"TestText", [](const std::string &) { VorlixFileInfo i = VF_INFO_INIT; return int64_t{vf_test(&i, text.data(), text.size())}; }, VF_ENOTAUDIO},
    };
    return rows;
}

class ErrorCode : public ErrorCodes, public ::testing::WithParamInterface<size_t> {};

TEST_P(ErrorCode, IsTheOneDocumented)
{
    const Row &row = Rows()[GetParam()];
    EXPECT_EQ(row.call(dir), row.code) << vf_strerror(static_cast<int>(row.code));
}

INSTANTIATE_TEST_SUITE_P(Calls, ErrorCode, ::testing::Range<size_t>(0, Rows().size()),
                         [](const ::testing::TestParamInfo<size_t> &info) { return std::string(Rows()[info.param].name); });

// Every code of the header is in the table, and each has a text of its own.
TEST(ErrorCodeTexts, EveryCodeIsProducedAndNamed)
{
    const int codes[] = {VF_EREAD, VF_EINVAL, VF_ENOTAUDIO, VF_ENOSEEK, VF_EBADPOS,
                         VF_EOPEN, VF_ENEEDMORE, VF_ELATE,   VF_ENOPICTURE};
    std::set<std::string> texts;
    for (const int code : codes) {
        EXPECT_TRUE(std::any_of(Rows().begin(), Rows().end(), [&](const Row &r) { return r.code == code; })) << code;
        const std::string t = vf_strerror(code);
        EXPECT_NE(t, "unknown error") << code;
        EXPECT_TRUE(texts.insert(t).second) << t;
    }
    EXPECT_STREQ(vf_strerror(VF_EFAULT), "out of memory");
    EXPECT_STREQ(vf_strerror(-11), "unknown error");
}

// Where the bad byte lies, and whether the source can seek: the open or
// the reads end in VF_EREAD, never in "no audio" or a clean end.
struct Failure {
    const char *name;
    bool tagged;         // the tagged song, or the audio alone (from byte 0)
    size_t Song::*part;  // the part the bad byte is in
    size_t into;         // bytes into it
    bool seekable;
};

void PrintTo(const Failure &f, std::ostream *out)
{
    *out << f.name << (f.seekable ? " (seekable)" : " (stream)");
}

class ReadFailure : public ErrorCodes, public ::testing::WithParamInterface<Failure> {};

TEST_P(ReadFailure, GivesReadErrors)
{
    const Failure &c = GetParam();
    Song song = TaggedSong();
    if (!c.tagged)
        song = Song{LongAudio(), 0, 0, 0};
    Disk disk{song.bytes};
    disk.badFrom = song.*c.part + c.into;
    disk.badTo = disk.badFrom + 1;
    int error = 0;
    File f(vf_open_callbacks(&disk, c.seekable ? &seekable : &stream, &error), vf_free);
    if (f == nullptr) {
        EXPECT_EQ(error, VF_EREAD) << vf_strerror(error);
        EXPECT_EQ(disk.closed, 0);  // the host's source stays the host's
        return;
    }
    // only a stream opens with a bad byte after its start: the open reads
    // the start alone
    EXPECT_FALSE(c.seekable);
    EXPECT_GT(disk.badFrom, song.audio + 1000);
    size_t samples = 0;
    EXPECT_EQ(ReadToEnd(f.get(), &samples), VF_EREAD);
    EXPECT_EQ(vf_read(f.get(), pcm, 1), VF_EREAD);  // and it stays
    EXPECT_GT(samples, 0u);
    f.reset();
    EXPECT_EQ(disk.closed, 1);
}

std::vector<Failure> FailureCases()
{
    std::vector<Failure> cases;
    for (const bool s : {true, false}) {
        const Failure where[] = {
            {"AudioFromByte0Byte100", false, &Song::audio, 100, s},
            {"LeadingTag", true, &Song::start, 100, s},
            {"FirstFrame", true, &Song::audio, 100, s},
            {"MidStream", true, &Song::audio, 100000, s},
            {"ApeTag", true, &Song::ape, 40, s},
            {"DeepInTheApeTag", true, &Song::ape, 90000, s},
            {"Id3v1Tag", true, &Song::v1, 60, s},
        };
        cases.insert(cases.end(), std::begin(where), std::end(where));
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Sources, ReadFailure, ::testing::ValuesIn(FailureCases()),
                         [](const ::testing::TestParamInfo<Failure> &info) {
                             return std::string(info.param.seekable ? "Seekable" : "Stream") + info.param.name;
                         });

// A descriptor that cannot be read, as a program meets it: the open says so.
TEST_F(ErrorCodes, DescriptorsThatCannotBeReadGiveReadErrors)
{
    int error = 0;
    const int fd = open("/proc/self/mem", O_RDONLY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(vf_open_fd(fd, &error), nullptr);
    EXPECT_EQ(error, VF_EREAD);
    close(fd);
}

// Out of memory while opening: VF_EFAULT, not an exception through the C
// interface (which ends a C host). In a child whose address space is held
// to what it has and whose heap is used up but for a block that holds the
// handle itself and not what it reads.
TEST_F(ErrorCodes, OutOfMemoryWhileOpeningIsACode)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers' runtimes need address space of their own";
#elif defined(VORLIX_EMULATED)
    GTEST_SKIP() << "an emulator's own allocations count against the limit";
#else
    const Bytes file = LongAudio();
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        void *reserve = std::malloc(40 << 10);
        long pages = 0;
        if (FILE *statm = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(statm, "%ld", &pages) != 1)
                pages = 0;
            std::fclose(statm);
        }
        const rlim_t now = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE));
        const rlimit limit = {now + 16384, now + 16384};
        if (reserve == nullptr || pages == 0 || setrlimit(RLIMIT_AS, &limit) != 0)
            _exit(100);
        // kept, never freed: stored where the compiler must leave the calls be
        void *volatile taken = nullptr;
        for (const size_t block : {size_t{1} << 20, size_t{64} << 10, size_t{4} << 10, size_t{256}, size_t{16}})
            do
                taken = std::malloc(block);
            while (taken != nullptr);
        std::free(reserve);
        int error = 0;
        VorlixFile *f = vf_open_memory(file.data(), file.size(), &error);
        _exit(f == nullptr ? -error : 101);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(-WEXITSTATUS(status), VF_EFAULT);
#endif
}

// The host's close: called by vf_free alone, once.
TEST_F(ErrorCodes, OnlyFreeClosesTheHostsSource)
{
    for (const Bytes &bytes : {text, ReadFixture("tag-v1.mp3")}) {
        for (const VorlixFileCallbacks *callbacks : {&seekable, &stream}) {
            Disk disk{bytes};
            VorlixFile *f = vf_open_callbacks(&disk, callbacks, nullptr);
            EXPECT_EQ(disk.closed, 0);
            vf_free(f);
            EXPECT_EQ(disk.closed, f != nullptr ? 1 : 0);
        }
    }
}

} // namespace
