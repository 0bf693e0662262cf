// SPDX-License-Identifier: GPL-2.0-or-later
// The host's byte-level code: frame headers, tag spans, RIFF, the stream walker.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>

#include "TestSupport.h"
#include "cli/HostSupport.h"
#include "format/FrameHeader.h"
#include "format/FrameIndex.h"
#include "format/HeaderFrame.h"
#include "format/Timeline.h"
#include "format/Riff.h"
#include "format/StreamWalker.h"
#include "format/Tags.h"
#include "vorlixfile.h"

namespace {

struct HeaderCase {
    uint8_t bytes[4];
    MpegVersion version;
    int layer, bitrate, rate, length, samples;
    ChannelMode mode;
};

TEST(FrameHeader, ReadsEveryVersionAndLayer)
{
    const HeaderCase cases[] = {
        {{0xff, 0xfb, 0x90, 0x44}, MpegVersion::Mpeg1, 3, 128000, 44100, 417, 1152, ChannelMode::Joint},
        {{0xff, 0xfb, 0x92, 0x44}, MpegVersion::Mpeg1, 3, 128000, 44100, 418, 1152, ChannelMode::Joint},
        {{0xff, 0xfa, 0xe4, 0xc0}, MpegVersion::Mpeg1, 3, 320000, 48000, 960, 1152, ChannelMode::Mono},
        {{0xff, 0xf3, 0x80, 0xc4}, MpegVersion::Mpeg2, 3, 64000, 22050, 208, 576, ChannelMode::Mono},
        {{0xff, 0xe3, 0x18, 0x04}, MpegVersion::Mpeg25, 3, 8000, 8000, 72, 576, ChannelMode::Stereo},
        {{0xff, 0xfd, 0xa0, 0x80}, MpegVersion::Mpeg1, 2, 192000, 44100, 626, 1152, ChannelMode::Dual},
        {{0xff, 0xf5, 0x80, 0x00}, MpegVersion::Mpeg2, 2, 64000, 22050, 417, 1152, ChannelMode::Stereo},
        {{0xff, 0xff, 0x70, 0x00}, MpegVersion::Mpeg1, 1, 224000, 44100, 240, 384, ChannelMode::Stereo},
        {{0xff, 0xfb, 0x00, 0x00}, MpegVersion::Mpeg1, 3, 0, 44100, 0, 1152, ChannelMode::Stereo},
        // emphasis 2 is reserved, and libmad decodes such frames all the same
        {{0xff, 0xfb, 0x90, 0x46}, MpegVersion::Mpeg1, 3, 128000, 44100, 417, 1152, ChannelMode::Joint},
    };
    for (const HeaderCase &c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::vector<int>(c.bytes, c.bytes + 4)));
        FrameHeader h;
        ASSERT_TRUE(ParseFrameHeader(c.bytes, h));
        EXPECT_EQ(h.version, c.version);
        EXPECT_EQ(h.layer, c.layer);
        EXPECT_EQ(h.bitrate, c.bitrate);
        EXPECT_EQ(h.sampleRate, c.rate);
        EXPECT_EQ(h.Length(), c.length);
        EXPECT_EQ(h.SamplesPerFrame(), c.samples);
        EXPECT_EQ(h.mode, c.mode);
        EXPECT_EQ(h.Channels(), c.mode == ChannelMode::Mono ? 1 : 2);
    }
}

TEST(FrameHeader, RefusesReservedFields)
{
    const uint8_t bad[][4] = {
        {0xff, 0x7b, 0x90, 0x44},  // no sync
        {0xff, 0xeb, 0x90, 0x44},  // reserved version
        {0xff, 0xf9, 0x90, 0x44},  // reserved layer
        {0xff, 0xfb, 0xf0, 0x44},  // bit-rate index 15
        {0xff, 0xfb, 0x9c, 0x44},  // reserved sample rate
    };
    for (const auto &b : bad) {
        FrameHeader h;
        EXPECT_FALSE(ParseFrameHeader(b, h)) << int(b[1]) << " " << int(b[2]) << " " << int(b[3]);
    }
}

Bytes Id3Header(uint8_t version, uint8_t flags, uint32_t size)
{
    return {'I', 'D', '3', version, 0, flags, static_cast<uint8_t>((size >> 21) & 0x7f),
            static_cast<uint8_t>((size >> 14) & 0x7f), static_cast<uint8_t>((size >> 7) & 0x7f),
            static_cast<uint8_t>(size & 0x7f)};
}

TEST(Tags, Id3v2SizeCountsHeaderBodyAndFooter)
{
    EXPECT_EQ(Id3v2Size(Id3Header(3, 0, 1000).data()), 1010u);
    EXPECT_EQ(Id3v2Size(Id3Header(2, 0, 0x0fffffff).data()), 10u + 0x0fffffff);
    EXPECT_EQ(Id3v2Size(Id3Header(4, 0x10, 1000).data()), 1020u);
    EXPECT_EQ(Id3v2Size(Id3Header(3, 0x10, 1000).data()), 0u);  // no footer flag before 2.4
    EXPECT_EQ(Id3v2Size(Id3Header(5, 0, 1000).data()), 0u);
    Bytes notSyncsafe = Id3Header(3, 0, 1000);
    notSyncsafe[8] = 0x80;
    EXPECT_EQ(Id3v2Size(notSyncsafe.data()), 0u);
}


Bytes Id3v1()
{
    Bytes b(128, 0);
    std::memcpy(b.data(), "TAGtitle", 8);
    return b;
}

Bytes Lyrics3(const std::string &text)
{
    const std::string body = "LYRICSBEGIN" + text;
    char size[7];
    std::snprintf(size, sizeof size, "%06zu", body.size());
    const std::string all = body + size + "LYRICS200";
    return Bytes(all.begin(), all.end());
}

uint64_t End(const Bytes &file, uint64_t floor = 0)
{
    const ReadAt read = [&file](uint64_t at, size_t n, uint8_t *out) {
        if (at + n > file.size())
            return false;
        std::memcpy(out, file.data() + at, n);
        return true;
    };
    return AudioEnd(read, file.size(), floor);
}

TEST(Tags, AudioEndsBeforeTheTrailingTagsInAnyOrder)
{
    const Bytes audio(5000, 0x55);
    const std::vector<std::vector<Bytes>> tails = {
        {Id3v1()},
        {Ape({{"Title", "x"}}, true), Id3v1()},
        {Ape({{"Cover Art (Front)", std::string(3000, '\xff')}}, false)},
        {Lyrics3("IND0000210LYR00005hello"), Id3v1()},
        {Ape({{"Artist", "y"}}, false), Lyrics3("LYR00002hi"), Id3v1()},
        {Lyrics3("LYR00002hi"), Ape({{"Artist", "y"}}, true)},
    };
    for (size_t i = 0; i < tails.size(); ++i) {
        SCOPED_TRACE(i);
        Bytes file = audio;
        for (const Bytes &tag : tails[i])
            file.insert(file.end(), tag.begin(), tag.end());
        EXPECT_EQ(End(file), audio.size());
    }
    // an ID3v2.4 tag appended with a footer
    Bytes file = audio;
    Bytes tag = Id3Header(4, 0x10, 100);
    tag.resize(110, 0);
    const Bytes footer = {'3', 'D', 'I', 4, 0, 0x10, 0, 0, 0, 100};
    tag.insert(tag.end(), footer.begin(), footer.end());
    file.insert(file.end(), tag.begin(), tag.end());
    EXPECT_EQ(End(file), audio.size());
}

TEST(Tags, LyingTrailingTagsAreLeftAsTheyAre)
{
    Bytes file(3000, 0x55);
    Bytes ape = Ape({{"Title", "x"}}, false);
    ape[ape.size() - 32 + 13] = 0x40;  // size 16 KB: more than the file holds
    file.insert(file.end(), ape.begin(), ape.end());
    EXPECT_EQ(End(file), file.size());
    const Bytes lyrics = Lyrics3("LYR00002hi");
    Bytes other(3000 + lyrics.size() - 1, 0x55);  // no LYRICSBEGIN where the size points
    std::copy(lyrics.begin() + 1, lyrics.end(), other.begin() + 3000);
    EXPECT_EQ(End(other), other.size());
    // never below the floor: the start of the audio
    const Bytes tagOnly = Id3v1();
    EXPECT_EQ(End(tagOnly, 100), 128u);
}

TEST(Tags, ApeItemsAreRecognisedWhereTheyStart)
{
    const Bytes ape = Ape({{"Cover Art (Front)", "jpeg"}, {"Title", "t"}}, false);
    EXPECT_EQ(ApeItemSize(ape.data(), ape.size()), 8u + 18 + 4);
    const Bytes noise = {0x10, 0, 0, 0, 9, 0, 0, 0, 'K', 'e', 'y', 0};  // flags out of range
    EXPECT_EQ(ApeItemSize(noise.data(), noise.size()), 0u);
    const Bytes zeros(64, 0);
    EXPECT_EQ(ApeItemSize(zeros.data(), zeros.size()), 0u);
}

Bytes operator+(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// An APEv2 tag whose header and footer claim `more` bytes than it holds.
Bytes ApeClaimingMore(bool header, uint32_t more)
{
    Bytes ape = Ape({{"Title", "t"}, {"Artist", "a"}}, header);
    for (size_t at : {size_t{12}, ape.size() - 32 + 12}) {
        // little-endian, whatever the machine
        uint32_t size = 0;
        for (int i = 3; i >= 0; --i)
            size = (size << 8) | ape[at + static_cast<size_t>(i)];
        size += more;
        for (size_t i = 0; i < 4; ++i)
            ape[at + i] = static_cast<uint8_t>(size >> (8 * i));
    }
    return ape;
}

Bytes Overwritten(Bytes audio, const Bytes &tail)
{
    std::copy(tail.begin(), tail.end(), audio.end() - static_cast<long>(tail.size()));
    return audio;
}

// A tag whose claimed extent reaches back into the last frame of the stream
// before it cuts nothing: the frame is whole with the tag's bytes (mpg123
// and ffmpeg play it); a tag after whole frames, or before a frame that runs
// past the input anyway, still ends the audio.
TEST(Tags, ATagCutsNoFrameThatIsWholeOnlyWithItsBytes)
{
    const Bytes audio = ReadFixture("mpeg1-44100-stereo.mp3");
    const std::vector<size_t> frames = FrameOffsets(audio);
    ASSERT_GT(frames.size(), 10u);
    const Bytes lastFrame(audio.begin() + static_cast<long>(frames.back()), audio.end());
    FrameHeader h;
    ASSERT_TRUE(ParseFrameHeader(lastFrame.data(), h));
    ASSERT_EQ(static_cast<size_t>(h.Length()), lastFrame.size());  // the stream ends with a whole frame

    Bytes apeFooter = ApeClaimingMore(false, 3000);
    apeFooter.erase(apeFooter.begin(), apeFooter.end() - 32);
    const Bytes lyricsEnd = {'0', '0', '0', '9', '0', '0', 'L', 'Y', 'R', 'I', 'C', 'S', '2', '0', '0'};
    Bytes lyricsInside = Overwritten(audio, lyricsEnd);
    std::memcpy(lyricsInside.data() + audio.size() - 915, "LYRICSBEGIN", 11);
    const Bytes cut200(audio.begin(), audio.end() - 200), cut60(audio.begin(), audio.end() - 60);

    const struct {
        const char *name;
        Bytes file;
        uint64_t end;
    } cases[] = {
        {"Id3v1AfterALastFrameCutShort", cut60 + Id3v1(), audio.size()},
        {"Id3v1WrittenOverTheLastFramesTail", Overwritten(audio, Id3v1()), audio.size()},
        {"ApeWhoseSizeCountsItsHeader", audio + ApeClaimingMore(true, 32), audio.size()},
        {"ApeClaimingMoreBeforeId3v1", audio + ApeClaimingMore(false, 100) + Id3v1(), audio.size()},
        {"AnApeFooterInTheLastFramesTailBeforeId3v1", Overwritten(audio, apeFooter) + Id3v1(), audio.size()},
        {"ALyrics3EndInTheLastFramesTailBeforeId3v1", lyricsInside + Id3v1(), audio.size()},
        {"TagsAfterWholeFramesEndTheAudio",
         audio + Ape({{"Title", "x"}}, true) + Lyrics3("LYR00002hi") + Id3v1(), audio.size()},
        {"AFrameThatRunsPastTheInputStaysCut", cut200 + Id3v1(), cut200.size()},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(End(c.file), c.end);
    }
}

Bytes Riff(uint16_t format, uint32_t dataSize, const Bytes &payload)
{
    Bytes b = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E',
               'L', 'I', 'S', 'T', 3, 0, 0, 0, 'a', 'b', 'c', 0,  // odd size, padded
               'f', 'm', 't', ' ', 16, 0, 0, 0, static_cast<uint8_t>(format), static_cast<uint8_t>(format >> 8)};
    b.resize(b.size() + 14, 0);
    b.insert(b.end(), {'d', 'a', 't', 'a', static_cast<uint8_t>(dataSize), static_cast<uint8_t>(dataSize >> 8),
                       static_cast<uint8_t>(dataSize >> 16), static_cast<uint8_t>(dataSize >> 24)});
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}

TEST(Riff, FindsTheDataChunkOfMpegAndRefusesOtherFormats)
{
    const Bytes mp3 = Riff(0x55, 100, Bytes(100, 1));
    RiffAudio r = ParseRiff(mp3.data(), mp3.size(), true);
    EXPECT_EQ(r.kind, RiffKind::Mpeg);
    EXPECT_EQ(r.offset, 56u);
    EXPECT_EQ(r.size, 100u);
    EXPECT_EQ(ParseRiff(mp3.data(), mp3.size(), false).kind, RiffKind::Mpeg);
    const Bytes mp2 = Riff(0x50, 100, {});
    EXPECT_EQ(ParseRiff(mp2.data(), mp2.size(), true).kind, RiffKind::Mpeg);
    const Bytes pcm = Riff(1, 100, {});
    EXPECT_EQ(ParseRiff(pcm.data(), pcm.size(), true).kind, RiffKind::NotMpeg);
    // cut before the data chunk: more is needed, or at the end, no audio
    EXPECT_EQ(ParseRiff(mp3.data(), 30, false).kind, RiffKind::NeedMore);
    EXPECT_EQ(ParseRiff(mp3.data(), 30, true).kind, RiffKind::NotMpeg);
    EXPECT_EQ(ParseRiff(mp3.data(), 3, false).kind, RiffKind::NeedMore);
    const Bytes mpeg = {0xff, 0xfb, 0x90, 0x44, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(ParseRiff(mpeg.data(), mpeg.size(), false).kind, RiffKind::NotRiff);
}

struct Walked {
    std::vector<uint64_t> frames, tags;
    uint64_t junk = 0;
};

// Walks a whole buffer with the lookahead a reader gives (or everything).
Walked Walk(const Bytes &b)
{
    Walked w;
    StreamWalker walker;
    for (uint64_t at = 0; at < b.size();) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(b.size() - at, walkerLookahead));
        const Span span = walker.Next(b.data() + at, n, at + n == b.size());
        EXPECT_NE(span.kind, SpanKind::NeedMore);
        EXPECT_GT(span.length, 0u);
        if (span.kind == SpanKind::NeedMore || span.length == 0)
            break;
        if (span.kind == SpanKind::Frame)
            w.frames.push_back(at);
        else if (span.kind == SpanKind::Tag)
            w.tags.push_back(at);
        else
            w.junk += span.length;
        at += span.length;
    }
    return w;
}

std::vector<uint64_t> Shifted(const std::vector<size_t> &offsets, uint64_t by)
{
    std::vector<uint64_t> out;
    for (size_t o : offsets)
        out.push_back(o + by);
    return out;
}

TEST(StreamWalker, FindsEveryFrameAndNothingElseAroundTags)
{
    const Bytes audio = ReadFixture("mpeg1-44100-stereo.mp3");
    const std::vector<size_t> frames = FrameOffsets(audio);
    EXPECT_EQ(Walk(audio).frames, Shifted(frames, 0));
    EXPECT_EQ(Walk(audio).junk, 0u);

    // junk with false syncs, a tag, the audio, a headerless APE tag
    std::mt19937 random(3);
    Bytes file(3000);
    for (uint8_t &b : file)
        b = random() % 7 == 0 ? 0xff : static_cast<uint8_t>(random());
    Bytes tag = Id3Header(3, 0, 500);
    tag.resize(510, 0xff);
    file.insert(file.end(), tag.begin(), tag.end());
    const uint64_t start = file.size();
    file.insert(file.end(), audio.begin(), audio.end());
    const Bytes ape = Ape({{"Cover Art (Front)", std::string(audio.begin(), audio.begin() + 5000)}}, false);
    file.insert(file.end(), ape.begin(), ape.end());
    const Walked w = Walk(file);
    EXPECT_EQ(w.frames, Shifted(frames, start));
    EXPECT_EQ(w.tags, (std::vector<uint64_t>{3000, start + audio.size()}));
}

TEST(StreamWalker, AStartNeedsASecondHeaderOfTheSameStream)
{
    const Bytes audio = ReadFixture("mpeg1-44100-stereo.mp3");
    const uint32_t length = 417;  // 128 kbit/s at 44.1 kHz without padding
    // a header whose successor is missing, or of another rate, starts nothing
    Bytes lone = {0xff, 0xfb, 0x90, 0x44};
    lone.resize(length, 0);
    lone.insert(lone.end(), {0xff, 0xf3, 0x80, 0xc4});  // MPEG-2 at the right place
    lone.resize(2 * length, 0);
    Bytes file = lone;
    file.insert(file.end(), audio.begin(), audio.end());
    EXPECT_EQ(Walk(file).frames, Shifted(FrameOffsets(audio), lone.size()));
    // a frame that ends exactly at the end of the input is a stream
    Bytes one = {0xff, 0xfb, 0x90, 0x44};
    one.resize(length, 0);
    EXPECT_EQ(Walk(one).frames, (std::vector<uint64_t>{0}));
    one.push_back(0);
    EXPECT_TRUE(Walk(one).frames.empty());
}

TEST(StreamWalker, InStepAHeaderOfAnotherStreamNeedsItsOwnSecond)
{
    // 44.1 kHz frames, then a lone MPEG-2 header (its frame's worth of
    // zeros) or a Layer II one, then the 44.1 kHz frames go on
    const Bytes audio = ReadFixture("mpeg1-44100-stereo.mp3");
    const std::vector<size_t> frames = FrameOffsets(audio);
    for (const Bytes &lone : {Bytes{0xff, 0xf3, 0x80, 0xc4}, Bytes{0xff, 0xfd, 0x80, 0xc0}}) {
        FrameHeader h;
        ASSERT_TRUE(ParseFrameHeader(lone.data(), h));
        Bytes inserted = lone;
        inserted.resize(static_cast<size_t>(h.Length()), 0);
        Bytes file(audio.begin(), audio.begin() + static_cast<long>(frames[5]));
        file.insert(file.end(), inserted.begin(), inserted.end());
        file.insert(file.end(), audio.begin() + static_cast<long>(frames[5]), audio.end());
        std::vector<uint64_t> expected(frames.begin(), frames.begin() + 5);
        for (size_t i = 5; i < frames.size(); ++i)
            expected.push_back(frames[i] + inserted.size());
        const Walked w = Walk(file);
        EXPECT_EQ(w.frames, expected);
        EXPECT_EQ(w.junk, inserted.size());
    }
}

TEST(StreamWalker, JunkStopsAtATagAndLosesStep)
{
    const Bytes audio = ReadFixture("mpeg1-44100-stereo.mp3");
    const std::vector<size_t> frames = FrameOffsets(audio);
    // junk of letters, an APEv2 tag with header, the audio
    Bytes file(3000);
    for (size_t i = 0; i < file.size(); ++i)
        file[i] = static_cast<uint8_t>('b' + i % 7);
    const Bytes ape = Ape({{"Title", "In the junk"}}, true);
    file.insert(file.end(), ape.begin(), ape.end());
    const uint64_t start = file.size();
    file.insert(file.end(), audio.begin(), audio.end());
    const Walked w = Walk(file);
    EXPECT_EQ(w.tags, (std::vector<uint64_t>{3000}));
    EXPECT_EQ(w.frames, Shifted(frames, start));

    // in the middle of a stream: junk, then a header of the stream with no
    // second one after it (zeros where it would be): junk too, not a frame
    Bytes middle(audio.begin(), audio.begin() + static_cast<long>(frames[5]));
    middle.insert(middle.end(), 100, 'x');
    Bytes lone(audio.begin() + static_cast<long>(frames[5]), audio.begin() + static_cast<long>(frames[6]));
    lone.resize(lone.size() + 20, 0);
    middle.insert(middle.end(), lone.begin(), lone.end());
    const uint64_t resume = middle.size();
    middle.insert(middle.end(), audio.begin() + static_cast<long>(frames[6]), audio.end());
    std::vector<uint64_t> expected(frames.begin(), frames.begin() + 5);
    for (size_t i = 6; i < frames.size(); ++i)
        expected.push_back(frames[i] - frames[6] + resume);
    EXPECT_EQ(Walk(middle).frames, expected);
}

TEST(StreamWalker, ALoneFrameIsAStreamBeforeATagOrTheEndOnly)
{
    const uint32_t length = 417;
    Bytes frame = {0xff, 0xfb, 0x90, 0x44};
    frame.resize(length, 0);
    Bytes v1 = {'T', 'A', 'G'};
    v1.resize(128, 'x');
    const Bytes id3 = Id3Header(3, 0, 20);
    const Bytes ape = Ape({{"Title", "x"}}, true);
    struct Case {
        const char *what;
        Bytes after;
        bool stream;
    } cases[] = {
        {"ID3v1 at the end", v1, true},
        {"ID3v1 not at the end", [&] { Bytes b = v1; b.push_back(0); return b; }(), false},
        {"an ID3v2 tag", [&] { Bytes b = id3; b.resize(30, 0); return b; }(), true},
        {"an APEv2 tag", ape, true},
        {"Lyrics3", [] { const std::string l = "LYRICSBEGININD00002"; return Bytes(l.begin(), l.end()); }(), true},
        {"text", [] { const std::string t = "just some text that follows"; return Bytes(t.begin(), t.end()); }(), false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Bytes file = frame;
        file.insert(file.end(), c.after.begin(), c.after.end());
        EXPECT_EQ(Walk(file).frames, c.stream ? std::vector<uint64_t>{0} : std::vector<uint64_t>{});
    }
    // a free-format frame gives no length of its own: alone, it is no stream
    Bytes free = {0xff, 0xfb, 0x00, 0x44};
    free.resize(500, 0x11);
    EXPECT_TRUE(Walk(free).frames.empty());
    free.insert(free.end(), v1.begin(), v1.end());
    EXPECT_TRUE(Walk(free).frames.empty());
}

TEST(StreamWalker, ALastFrameCutShortIsMarked)
{
    const Bytes audio = ReadFixture("mpeg1-44100-stereo.mp3");
    const std::vector<size_t> frames = FrameOffsets(audio);
    const Bytes cut(audio.begin(), audio.begin() + static_cast<long>(frames.back()) + 100);
    StreamWalker walker;
    std::vector<bool> marks;
    for (size_t at = 0; at < cut.size();) {
        const Span span = walker.Next(cut.data() + at, std::min(cut.size() - at, walkerLookahead),
                                      cut.size() - at <= walkerLookahead);
        ASSERT_EQ(span.kind, SpanKind::Frame);
        marks.push_back(span.cut);
        at += span.length;
    }
    ASSERT_EQ(marks.size(), frames.size());
    EXPECT_TRUE(marks.back());
    EXPECT_EQ(std::count(marks.begin(), marks.end(), true), 1);
}

TEST(StreamWalker, FreeFormatFramesEndAtTheNextSync)
{
    // three free-format frames of 500 bytes (side information the decoder
    // takes, then data)
    Bytes file;
    for (int i = 0; i < 3; ++i) {
        Bytes frame = {0xff, 0xfb, 0x00, 0x44};
        frame.resize(4 + 32, 0x00);
        frame.resize(500, 0x11);
        file.insert(file.end(), frame.begin(), frame.end());
    }
    EXPECT_EQ(Walk(file).frames, (std::vector<uint64_t>{0, 500, 1000}));
}

// Junk with headers at the right distance whose side information the
// decoder refuses (big values past 288, block type 0 where the window
// switches) starts no stream: the real frames after it do
TEST(StreamWalker, FramesTheDecoderRefusesStartNoStream)
{
    const Bytes audio = ReadFixture("mpeg1-44100-stereo.mp3");
    const std::vector<size_t> real = FrameOffsets(audio);
    for (const bool bigValues : {true, false}) {
        SCOPED_TRACE(bigValues ? "big values" : "block type");
        Bytes file;
        for (int i = 0; i < 2; ++i) {
            Bytes junk = {0xff, 0xfb, 0x90, 0x44};
            junk.resize(417, bigValues ? 0xff : 0x00);
            if (!bigValues)
                junk[4 + 6] = 0x04;  // the first granule's window switches, block type 0
            file.insert(file.end(), junk.begin(), junk.end());
        }
        file.insert(file.end(), audio.begin(), audio.end());
        const std::vector<uint64_t> frames = Walk(file).frames;
        ASSERT_FALSE(frames.empty());
        EXPECT_EQ(frames.front(), 834u + real.front());
        EXPECT_EQ(frames.size(), real.size());
    }
}

TEST(StreamWalker, NeedsMoreOnlyBeforeTheLookahead)
{
    const Bytes audio = ReadFixture("mpeg1-44100-stereo.mp3");
    StreamWalker walker;
    EXPECT_EQ(walker.Next(audio.data(), 100, false).kind, SpanKind::NeedMore);
    EXPECT_EQ(walker.Next(audio.data(), walkerLookahead, false).kind, SpanKind::Frame);
    const Bytes id3 = Id3Header(3, 0, 50);
    StreamWalker other;
    EXPECT_EQ(other.Next(id3.data(), 5, false).kind, SpanKind::NeedMore);
    EXPECT_EQ(other.Next(id3.data(), 5, true).kind, SpanKind::Junk);
}

} // namespace

namespace {

TEST(HeaderFrame, ReadsLamesInfoFrame)
{
    const Bytes stream = ReadFixture("mpeg1-44100-stereo.mp3");
    const std::vector<size_t> frames = FrameOffsets(stream);
    FrameHeader h;
    ASSERT_TRUE(ParseFrameHeader(stream.data(), h));
    const HeaderFrame f = ParseHeaderFrame(stream.data(), frames[1], h);
    EXPECT_EQ(f.kind, HeaderKind::Info);
    EXPECT_EQ(f.frames, frames.size() - 1);
    EXPECT_EQ(f.bytes, stream.size());
    EXPECT_TRUE(f.hasToc);
    EXPECT_TRUE(std::is_sorted(f.toc, f.toc + 100));
    EXPECT_EQ(f.encoder, "LAME3.100");
    EXPECT_EQ(f.delay, 576);
    EXPECT_TRUE(f.crcValid);
    EXPECT_EQ(f.Mode(), BitrateMode::Cbr);
    // frames * 1152 = samples + delay + padding
    EXPECT_EQ(f.frames * 1152u, 66150u + static_cast<uint32_t>(f.delay + f.padding));

    // the method is the low nibble of its byte; the high one is the tag's revision
    {
        Bytes revised(stream.begin(), stream.begin() + static_cast<long>(frames[1]));
        const size_t at = static_cast<size_t>(std::search(revised.begin(), revised.end(), f.encoder.begin(),
                                                          f.encoder.end()) - revised.begin());
        ASSERT_LT(at, revised.size());
        revised[at + 9] = 0x13;  // revision 1, VBR (method 3)
        const HeaderFrame g = ParseHeaderFrame(revised.data(), revised.size(), h);
        EXPECT_EQ(g.lameMethod, 3);
        EXPECT_EQ(g.Mode(), BitrateMode::Vbr);
    }
    // a damaged byte inside the CRC's span shows
    Bytes damaged(stream.begin(), stream.begin() + static_cast<long>(frames[1]));
    damaged[100] ^= 1;
    EXPECT_FALSE(ParseHeaderFrame(damaged.data(), damaged.size(), h).crcValid);
    // an ordinary audio frame is none
    EXPECT_EQ(ParseHeaderFrame(stream.data() + frames[5], frames[6] - frames[5], h).kind, HeaderKind::None);

    // with a CRC, encoders put the tag right after the side information
    // (lame) or 2 bytes later, after the CRC: both are found
    for (const size_t shift : {size_t{0}, size_t{2}}) {
        SCOPED_TRACE(shift);
        Bytes crc(stream.begin(), stream.begin() + static_cast<long>(frames[1]));
        crc[1] &= 0xfe;  // protected
        crc.insert(crc.begin() + 4 + 32, shift, 0);
        crc.resize(frames[1]);
        FrameHeader p;
        ASSERT_TRUE(ParseFrameHeader(crc.data(), p));
        ASSERT_TRUE(p.crc);
        const HeaderFrame g = ParseHeaderFrame(crc.data(), crc.size(), p);
        EXPECT_EQ(g.kind, HeaderKind::Info);
        EXPECT_EQ(g.frames, f.frames);
        EXPECT_EQ(g.delay, 576);
    }
}

// Xing's four fields, each there only when its flag says so, in order:
// frames (1), bytes (2), table (4), quality (8).
TEST(HeaderFrame, XingFieldsFollowTheirFlags)
{
    for (uint32_t flags = 0; flags < 16; ++flags) {
        SCOPED_TRACE(flags);
        Bytes frame = {0xff, 0xfb, 0x90, 0x44};
        frame.resize(4 + 32, 0);
        frame.insert(frame.end(), {'X', 'i', 'n', 'g', 0, 0, 0, static_cast<uint8_t>(flags)});
        const auto be32 = [&](uint32_t v) {
            frame.insert(frame.end(), {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
                                       static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)});
        };
        if (flags & 1)
            be32(1234);
        if (flags & 2)
            be32(567890);
        if (flags & 4)
            for (int i = 0; i < 100; ++i)
                frame.push_back(static_cast<uint8_t>(2 * i + 1));
        if (flags & 8)
            be32(57);
        frame.resize(417, 0);
        FrameHeader h;
        ASSERT_TRUE(ParseFrameHeader(frame.data(), h));
        const HeaderFrame f = ParseHeaderFrame(frame.data(), frame.size(), h);
        EXPECT_EQ(f.kind, HeaderKind::Xing);
        EXPECT_EQ(f.frames, (flags & 1) ? 1234u : 0u);
        EXPECT_EQ(f.bytes, (flags & 2) ? 567890u : 0u);
        EXPECT_EQ(f.hasToc, (flags & 4) != 0);
        if (f.hasToc) {
            EXPECT_EQ(f.toc[0], 1);
            EXPECT_EQ(f.toc[99], 199);
        }
        EXPECT_EQ(f.quality, (flags & 8) ? 57 : -1);
        EXPECT_FALSE(f.hasLame);
    }
}

TEST(HeaderFrame, TruncatedFramesGiveWhatTheyHold)
{
    const Bytes stream = ReadFixture("mpeg1-44100-stereo.mp3");
    FrameHeader h;
    ASSERT_TRUE(ParseFrameHeader(stream.data(), h));
    for (size_t n = 0; n <= 417; ++n) {
        const Bytes cut(stream.begin(), stream.begin() + static_cast<long>(n));  // exact size for the sanitizer
        const HeaderFrame f = ParseHeaderFrame(cut.data(), cut.size(), h);
        if (n < 44) {
            EXPECT_EQ(f.kind, HeaderKind::None) << n;
        }
        if (n < 192) {
            EXPECT_FALSE(f.Gapless()) << n;
        }
    }
}

// Older ffmpeg versions write the header frame at a low bit rate, too small
// for LAME's whole extension: it ends after the delay and padding.
TEST(HeaderFrame, AShortFramesExtensionGivesItsDelayAndPadding)
{
    const Bytes stream = ReadFixture("ffmpeg-short-info.mp3");
    FrameHeader h;
    ASSERT_TRUE(ParseFrameHeader(stream.data(), h));
    ASSERT_EQ(h.Length(), 182);
    const Bytes frame(stream.begin(), stream.begin() + 182);
    const HeaderFrame f = ParseHeaderFrame(frame.data(), frame.size(), h);
    EXPECT_EQ(f.kind, HeaderKind::Info);
    EXPECT_EQ(f.encoder, "Lavf58.29");
    EXPECT_EQ(f.delay, 576);
    EXPECT_EQ(f.padding, 1170);
    EXPECT_TRUE(f.Gapless());
    EXPECT_FALSE(f.crcValid);  // not there to check
    // the same bytes cut short by the input's end are no frame to trust
    const Bytes cut(frame.begin(), frame.end() - 1);
    EXPECT_FALSE(ParseHeaderFrame(cut.data(), cut.size(), h).Gapless());
}

TEST(HeaderFrame, ReadsVbri)
{
    Bytes frame(417, 0);
    const uint8_t header[4] = {0xff, 0xfb, 0x90, 0x44};
    std::copy(header, header + 4, frame.begin());
    const uint8_t vbri[] = {'V', 'B', 'R', 'I', 0, 1, 0x04, 0x81, 0, 80, 0, 1, 0, 0, 0, 0, 0, 100};
    std::copy(std::begin(vbri), std::end(vbri), frame.begin() + 36);
    FrameHeader h;
    ASSERT_TRUE(ParseFrameHeader(frame.data(), h));
    const HeaderFrame f = ParseHeaderFrame(frame.data(), frame.size(), h);
    EXPECT_EQ(f.kind, HeaderKind::Vbri);
    EXPECT_EQ(f.frames, 100u);
    EXPECT_EQ(f.bytes, 65536u);
    EXPECT_EQ(f.Mode(), BitrateMode::Vbr);
    EXPECT_FALSE(f.Gapless());
}

Bytes Ramp(uint64_t first, size_t samples)
{
    Bytes b;
    for (size_t i = 0; i < samples; ++i) {
        const uint16_t v = static_cast<uint16_t>(first + i);
        b.push_back(static_cast<uint8_t>(v));
        b.push_back(static_cast<uint8_t>(v >> 8));
    }
    return b;
}

// Samples [from, to) of a mono ramp whose value is its position.
Bytes Stretch(uint64_t from, uint64_t to)
{
    return Ramp(from, static_cast<size_t>(to - from));
}

TEST(Timeline, CutsTheStretchAndHoldsTheEndBack)
{
    struct Case {
        uint64_t begin, end, hold, firstFrame;
        bool cutShort;                // the stream ends before its header frame says
        uint64_t want_from, want_to;  // of 10 frames of 100 samples
    };
    const Case cases[] = {
        {0, UINT64_MAX, 0, 0, false, 0, 1000},
        {105, UINT64_MAX, 60, 0, false, 105, 940},  // gapless trims
        {250, 400, 60, 0, false, 250, 400},         // a stretch inside
        {250, 400, 60, 2, false, 250, 400},         // from a later frame on (a seek)
        {950, 1000, 60, 0, false, 950, 950},        // inside the end trim: nothing
        {905, 2000, 60, 9, false, 905, 940},        // a seek to the last frame
        // cut short: what was held back for the end trim is audio
        {105, UINT64_MAX, 60, 0, true, 105, 1000},
        {250, 400, 60, 0, true, 250, 400},
        {950, 1000, 60, 0, true, 950, 1000},
        {905, 2000, 60, 9, true, 905, 1000},
        {905, 980, 60, 9, true, 905, 980},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.begin) + " " + std::to_string(c.firstFrame) + (c.cutShort ? " cut" : ""));
        Timeline t(c.begin, c.end, c.hold, 1);
        Bytes out;
        for (uint64_t frame = c.firstFrame; frame < 10 && !t.Done(); ++frame) {
            const Bytes pcm = Ramp(frame * 100, 100);
            t.Push(frame, frame * 100, pcm.data(), pcm.size(), out);
        }
        t.Finish(!c.cutShort, out);
        EXPECT_EQ(out, Stretch(c.want_from, c.want_to));
    }
    // a dropped frame leaves a gap of its length
    Timeline t(0, UINT64_MAX, 0, 1);
    Bytes out;
    for (uint64_t frame : {0, 1, 3}) {
        const Bytes pcm = Ramp(frame * 100, 100);
        t.Push(frame, frame * 100, pcm.data(), pcm.size(), out);
    }
    EXPECT_EQ(t.Position(), 400u);
    EXPECT_EQ(out.size(), 600u);
}

TEST(Timeline, TrimsFollowTheGaplessConvention)
{
    EXPECT_EQ(Trim(576, 1128, 44100, 44100).start, 1105u);
    EXPECT_EQ(Trim(576, 1128, 44100, 44100).end, 599u);
    EXPECT_EQ(Trim(576, 300, 44100, 44100).end, 0u);  // never below 0
    EXPECT_EQ(Trim(576, 1128, 44100, 48000).start, 1203u);  // 1105 * 48000 / 44100, rounded
    EXPECT_EQ(Trim(-1, 1128, 44100, 44100).start, 0u);
}

TEST(FrameIndex, PrerollCoversTheReservoirAndTheOverlap)
{
    const Bytes stream = ReadFixture("mpeg1-44100-stereo.mp3");
    FrameIndex index;
    const std::vector<size_t> offsets = FrameOffsets(stream);
    for (size_t i = 0; i < offsets.size(); ++i) {
        FrameHeader h;
        ASSERT_TRUE(ParseFrameHeader(stream.data() + offsets[i], h));
        index.Add(offsets[i], h, (i + 1 < offsets.size() ? offsets[i + 1] : stream.size()) - offsets[i]);
    }
    EXPECT_EQ(index.Frames(), offsets.size());
    EXPECT_TRUE(index.ConstantBitrate());
    EXPECT_EQ(index.Preroll(0, 511), 0u);
    EXPECT_EQ(index.Preroll(1, 511), 0u);
    // 417-byte frames hold 381 bytes of main data: two before the frame before
    EXPECT_EQ(index.Preroll(30, 511), 27u);
    EXPECT_EQ(index.Preroll(30, 255), 28u);
}

// Files that mpg123 -w and ffmpeg decode to the samples the encoder was
// given (0.3 s at 44.1 kHz): the length described, vf_length and the samples
// read agree with them. delay -1: not checked.
struct PlayedCase {
    const char *name, *fixture;
    int64_t samples;
    int delay, padding, trimStart;
};

void PrintTo(const PlayedCase &c, std::ostream *os)
{
    *os << c.name;
}

class PlayedAsMpg123AndFfmpegPlayIt : public ::testing::TestWithParam<PlayedCase> {};

TEST_P(PlayedAsMpg123AndFfmpegPlayIt, ToTheSample)
{
    const PlayedCase &c = GetParam();
    const std::string path = std::string(VORLIX_TEST_DATA) + "/" + c.fixture;
    const std::unique_ptr<VorlixFile, decltype(&vf_free)> f(vf_open_file(path.c_str(), nullptr), vf_free);
    ASSERT_NE(f, nullptr);
    VorlixFileInfo info = VF_INFO_INIT;
    ASSERT_EQ(vf_info(f.get(), &info), 0);
    EXPECT_EQ(info.samples, c.samples);
    if (c.delay >= 0) {
        EXPECT_EQ(info.delay, c.delay);
        EXPECT_EQ(info.padding, c.padding);
        EXPECT_EQ(info.trim_start, c.trimStart);
        EXPECT_EQ(info.gapless_source, 1);
    }
    EXPECT_EQ(vf_length(f.get()), c.samples);
    std::vector<int16_t> pcm(4096 * 2);
    int64_t read = 0;
    int n;
    while ((n = vf_read(f.get(), pcm.data(), 4096)) > 0)
        read += n;
    EXPECT_EQ(n, 0);
    EXPECT_EQ(read, c.samples);
}

INSTANTIATE_TEST_SUITE_P(
    Files, PlayedAsMpg123AndFfmpegPlayIt,
    ::testing::Values(PlayedCase{"LastFrameCutThenTaggedWithId3v1", "lastframe-id3v1.mp3", 13230, -1, 0, 0},
                      PlayedCase{"ApeTagWhoseSizeReachesIntoTheLastFrame", "lastframe-ape.mp3", 13230, -1, 0, 0},
                      PlayedCase{"FfmpegsShortInfoFrame", "ffmpeg-short-info.mp3", 13230, 576, 1170, 1105}),
    [](const ::testing::TestParamInfo<PlayedCase> &info) { return std::string(info.param.name); });

} // namespace
