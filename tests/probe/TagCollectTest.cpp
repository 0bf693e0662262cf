// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <malloc.h>

#include <id3tag.h>

#include "TestSupport.h"
#include "probe/TagCollect.h"

namespace {

std::u16string Text(const uint16_t *units)
{
    std::u16string s;
    for (; *units; ++units)
        s += static_cast<char16_t>(*units);
    return s;
}

class TagCollect : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetDecoder();
        Clear();
    }
    void TearDown() override { ResetDecoder(); }

    void Clear()
    {
        for (auto *b : {title, artist, album})
            std::fill(b, b + 200, 0);
    }

    int32_t Probe(const uint8_t *data, size_t length)
    {
        rate = 0;
        return GetHeaderInfo(data, static_cast<int32_t>(length), &rate, &channels, &bitRate, title,
                             artist, album);
    }
    int32_t Probe(const Bytes &data) { return Probe(data.data(), data.size()); }

    // Probes the stream in buffers of the given size, each beginning where the
    // last ended (after a count: with the unused rest); returns the results.
    std::vector<int32_t> ProbeInPieces(const Bytes &stream, size_t size)
    {
        std::vector<int32_t> results;
        const Probed p = ProbeStream(stream.data(), stream.size(), [size] { return size; }, 0, title, artist, album,
                                     [&results](int32_t r, size_t) { results.push_back(r); });
        rate = p.rate;
        channels = p.channels;
        bitRate = p.bitRate;
        return results;
    }

    int32_t rate = 0, channels = 0, bitRate = 0;
    uint16_t title[200], artist[200], album[200];
};

TEST_F(TagCollect, TagInTheBufferIsParsedInPlace)
{
    const Bytes stream = ReadFixture("tag-v23-2000.mp3");
    const int64_t allocations = platformAllocCount;
    EXPECT_EQ(Probe(stream), 0);
    EXPECT_EQ(Text(title), u"Hello");
    EXPECT_EQ(title[5], 0);
    EXPECT_EQ(platformAllocCount, allocations);
    EXPECT_EQ(state.tagSize, 2000);
    EXPECT_EQ(state.tagOutstanding, 0);
    EXPECT_EQ(rate, 44100);
    EXPECT_EQ(bitRate, 128000);
}

TEST_F(TagCollect, LongTagIsGatheredAcrossBuffers)
{
    const Bytes stream = ReadFixture("tag-v23-10000.mp3");
    // the buffers at 4096 and 8192 begin with the JPEG markers 0xFF 0xE0 and 0xFF 0xE1
    ASSERT_EQ(stream[4096], 0xff);
    ASSERT_EQ(stream[4097], 0xe0);
    ASSERT_EQ(stream[8193], 0xe1);
    const Bytes first(stream.begin(), stream.begin() + 4096);
    const Bytes second(stream.begin() + 4096, stream.begin() + 8192);
    const Bytes third(stream.begin() + 8192, stream.begin() + 12288);
    EXPECT_EQ(Probe(first), NeedMoreData);
    EXPECT_EQ(state.tagOutstanding, 5904);
    ASSERT_NE(state.tagBuffer, nullptr);
    EXPECT_EQ(Probe(second), NeedMoreData);
    EXPECT_EQ(state.tagOutstanding, 1808);
    EXPECT_TRUE(Text(title).empty());
    const int32_t r = Probe(third);
    EXPECT_EQ(Text(title), u"Long Tag");
    EXPECT_EQ(Text(artist), u"Someone");
    EXPECT_EQ(Text(album), u"Somewhere");
    EXPECT_EQ(state.tagBuffer, nullptr);
    EXPECT_EQ(state.tagOutstanding, 0);
    // the rest of the third buffer holds audio: a frame, or a count for one that does not fit
    EXPECT_NE(r, NeedMoreData);
}

TEST_F(TagCollect, TheGatheredBlockIsReleased)
{
    // the heap in use across ten gatherings of a 10000-byte tag: a block
    // kept each time would add 100 KB (in the plain build; the sanitizer
    // build's allocator reports no counts, LeakSanitizer checks there)
    const Bytes stream = ReadFixture("tag-v23-10000.mp3");
    const auto gather = [&] {
        Clear();
        const bool found = ProbeInPieces(stream, 4096).back() == 0 && Text(title) == u"Long Tag";
        ResetDecoder();
        return found;
    };
    for (int i = 0; i < 3; ++i)  // the libraries' own first allocations
        ASSERT_TRUE(gather());
    const long before = static_cast<long>(mallinfo2().uordblks);
    for (int i = 0; i < 10; ++i)
        ASSERT_TRUE(gather());
    const long grown = static_cast<long>(mallinfo2().uordblks) - before;
    EXPECT_LT(grown, 4096);
}

TEST_F(TagCollect, TagEndingAtTheBufferEndIsParsedInThatCall)
{
    const Bytes stream = ReadFixture("tag-v23-10000.mp3");
    EXPECT_EQ(Probe(stream.data(), 4096), NeedMoreData);
    Probe(stream.data() + 4096, 10000 - 4096);
    EXPECT_EQ(Text(title), u"Long Tag");
    EXPECT_EQ(state.tagOutstanding, 0);
    EXPECT_EQ(state.tagBuffer, nullptr);
}

TEST_F(TagCollect, WholeStreamInSmallPiecesStillFindsTheTagAndTheAudio)
{
    const Bytes stream = ReadFixture("tag-v23-10000.mp3");
    // pieces larger than a frame: after NeedMoreData the next piece follows
    // on, so a frame that does not fit in a piece of its own is passed by
    for (size_t size : {size_t{450}, size_t{1000}, size_t{4096}}) {
        ResetDecoder();
        Clear();
        const auto results = ProbeInPieces(stream, size);
        EXPECT_EQ(results.back(), 0) << size;
        EXPECT_EQ(Text(album), u"Somewhere") << size;
        EXPECT_EQ(rate, 44100);
    }
}

TEST_F(TagCollect, TextFramesOfEachVersion)
{
    // ID3v2.4: the second of two artists; no album, so album keeps what it held
    album[0] = u'x';
    ASSERT_EQ(Probe(ReadFixture("tag-v24.mp3")), 0);
    EXPECT_EQ(Text(artist), u"Second");
    EXPECT_EQ(Text(album), u"x");
    // beyond Latin-1: U+0416 arrives as 0xB7
    EXPECT_EQ(Text(title), u"Caf\u00e9 \u00b7");
    // a shorter later string leaves the earlier string's tail behind its terminator
    EXPECT_EQ(artist[6], 0);
    EXPECT_EQ(artist[7], u'r');  // from "First Artist"

    ResetDecoder();
    Clear();
    ASSERT_EQ(Probe(ReadFixture("tag-v22.mp3")), 0);
    EXPECT_EQ(Text(title), u"Old Title");
    EXPECT_EQ(Text(artist), u"Old Artist");
    EXPECT_EQ(Text(album), u"Old Album");

    ResetDecoder();
    Clear();
    ASSERT_EQ(Probe(ReadFixture("tag-v1.mp3")), 0);
    EXPECT_EQ(state.tagSize, 128);
    EXPECT_EQ(Text(title), u"V1 Title");
    EXPECT_EQ(Text(artist), u"V1 Artist");
    EXPECT_EQ(Text(album), u"V1 Album");
}

TEST_F(TagCollect, LongTextIsCutTo199Units)
{
    std::fill(title, title + 200, 0xeeee);
    ASSERT_EQ(Probe(ReadFixture("tag-v23-long-title.mp3")), 0);
    const std::u16string t = Text(title);
    ASSERT_EQ(t.size(), 199u);
    EXPECT_EQ(t[0], u'A');
    EXPECT_EQ(t[198], static_cast<char16_t>(u'A' + 198 % 26));
    EXPECT_EQ(title[199], 0);
}

TEST_F(TagCollect, OneTagPerLoad)
{
    ASSERT_EQ(Probe(ReadFixture("tag-v23-2000.mp3")), 0);
    EXPECT_EQ(Text(title), u"Hello");
    Clear();
    ASSERT_EQ(Probe(ReadFixture("tag-v22.mp3")), 0);
    EXPECT_TRUE(Text(title).empty());
    EXPECT_EQ(state.tagSize, 2000);
}

TEST_F(TagCollect, ProbeCanSucceedWhileATagIsStillIncomplete)
{
    const Bytes tagged = ReadFixture("tag-v23-10000.mp3");
    const Bytes audio = ReadFixture("mpeg1-44100-stereo.mp3");
    EXPECT_EQ(Probe(tagged.data(), 4096), NeedMoreData);
    EXPECT_EQ(Probe(audio), 0);
    EXPECT_EQ(state.tagOutstanding, 5904);
    EXPECT_NE(state.tagBuffer, nullptr);
    EXPECT_TRUE(Text(title).empty());
    // Init, Exit and seeks leave the collection alone
    Init(0, nullptr);
    Exit();
    EXPECT_EQ(state.tagOutstanding, 5904);
}

TEST_F(TagCollect, ShortBufferWithATagHeaderFindsNoTag)
{
    const Bytes stream = ReadFixture("tag-v23-2000.mp3");
    for (size_t n : {size_t{8}, size_t{9}}) {
        ResetDecoder();
        EXPECT_EQ(Probe(stream.data(), n), NeedMoreData);
        EXPECT_EQ(state.tagSize, 0) << n;
    }
}

TEST_F(TagCollect, HugeAnnouncedTagIsCollectedOrGivenUpSafely)
{
    // a header announcing 256 MB in front of a little audio
    const Bytes audio = ReadFixture("mpeg25-8000-mono.mp3");
    Bytes stream = {'I', 'D', '3', 3, 0, 0, 0x7f, 0x7f, 0x7f, 0x7f};
    stream.insert(stream.end(), audio.begin(), audio.end());
    EXPECT_EQ(Probe(stream), NeedMoreData);
    EXPECT_EQ(state.tagSize, 10 + 0x0fffffff);
    EXPECT_EQ(state.tagOutstanding, state.tagSize - static_cast<int32_t>(stream.size()));
    ResetDecoder();

    // when the block cannot be had the tag is given up and the probe goes on
    platformFailAfter = 0;
    const int32_t r = Probe(stream);
    EXPECT_EQ(state.tagOutstanding, 0);
    EXPECT_EQ(state.tagBuffer, nullptr);
    EXPECT_NE(r, NeedMoreData);
}

TEST_F(TagCollect, TruncatedTagLeaksNothing)
{
    const Bytes stream = ReadFixture("tag-v23-10000.mp3");
    const Bytes cut(stream.begin(), stream.begin() + 5000);
    EXPECT_EQ(Probe(cut.data(), 4096), NeedMoreData);
    Probe(cut.data() + 4096, cut.size() - 4096);
    EXPECT_EQ(state.tagOutstanding, 10000 - 5000);
    // the next stream's bytes complete it with whatever they hold
    const Bytes audio = ReadFixture("mpeg1-44100-stereo.mp3");
    Probe(audio.data() + 1, 6000);
    EXPECT_EQ(state.tagBuffer, nullptr);
}

TEST(CopyTagTextTest, MissingFramesLeaveTheirBuffers)
{
    id3_tag *tag = id3_tag_new();
    uint16_t t[200] = {u'a', 0}, a[200] = {u'b', 0}, b[200] = {u'c', 0};
    CopyTagText(tag, t, a, b);
    EXPECT_EQ(t[0], u'a');
    EXPECT_EQ(a[0], u'b');
    EXPECT_EQ(b[0], u'c');
    id3_tag_delete(tag);
}

} // namespace
