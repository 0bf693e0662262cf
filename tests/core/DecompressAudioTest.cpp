// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <random>

#include "TestSupport.h"

namespace {

class DecompressAudioCall : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetDecoder();
        Init(0, nullptr);
    }
    void TearDown() override { ResetDecoder(); }

    int32_t Decode(const Bytes *data, int32_t length)
    {
        bytes = -7;
        position = -7;
        return DecompressAudio(data ? data->data() : nullptr, length, out.data(), 0, &bytes,
                               &position);
    }
    int32_t Decode(const Bytes &data) { return Decode(&data, static_cast<int32_t>(data.size())); }

    Bytes out = Bytes(VORLIX_MAX_OUTPUT_BYTES);
    int32_t bytes = 0, position = 0;
};

TEST_F(DecompressAudioCall, TinyAndEmptyBuffersAskForMore)
{
    const Bytes stream = ReadFixture("mpeg1-44100-stereo.mp3");
    for (int32_t n : {0, 1, 7}) {
        EXPECT_EQ(Decode(&stream, n), NeedMoreData) << n;
        EXPECT_EQ(bytes, 0);
        EXPECT_EQ(state.consumed, 0);
        EXPECT_EQ(position, state.streamBase);
    }
}

// A frame whose length libmad cannot fit (free-format frames shorter than
// their own side information) asks for more, writing nothing: it is not a
// damaged frame passed over with a sync reset.
TEST_F(DecompressAudioCall, AFrameLengthThatCannotFitAsksForMore)
{
    Bytes stream;
    const size_t spacing = 30;  // libmad's free rate then gives frames shorter than the side information
    for (int i = 0; i < 40; ++i) {
        const uint8_t header[4] = {0xff, 0xfb, 0x00, 0x44};  // free format, 44.1 kHz
        stream.insert(stream.end(), header, header + 4);
        stream.resize(stream.size() + spacing - 4, 0x00);
    }
    stream.resize(stream.size() + 8, 0);
    const int32_t r = Decode(stream);
    EXPECT_EQ(state.stream.error, MAD_ERROR_BADFRAMELEN);
    EXPECT_EQ(r, NeedMoreData);
    EXPECT_EQ(bytes, 0);
}

TEST_F(DecompressAudioCall, BufferEndingAtAFrameEndReturnsThatFrameAsUnused)
{
    const Bytes stream = ReadFixture("mpeg1-44100-stereo.mp3");
    const auto offsets = FrameOffsets(stream);
    // frames 0..3, ending exactly where frame 3 ends
    const Bytes four(stream.begin(), stream.begin() + static_cast<long>(offsets[4]));
    ASSERT_EQ(Decode(four), 0);
    EXPECT_EQ(bytes, 4608);
    EXPECT_EQ(position, 0);
    ASSERT_EQ(Decode(nullptr, static_cast<int32_t>(four.size())), 0);
    ASSERT_EQ(Decode(nullptr, static_cast<int32_t>(four.size())), 0);
    EXPECT_EQ(position, static_cast<int32_t>(offsets[2]));
    const int32_t r = Decode(nullptr, static_cast<int32_t>(four.size()));
    EXPECT_EQ(r, static_cast<int32_t>(offsets[4] - offsets[3]));
    EXPECT_EQ(bytes, 0);
    EXPECT_EQ(position, static_cast<int32_t>(offsets[3]));

    // the same frame alone, starting the buffer: nothing of it is usable
    const Bytes one(stream.begin() + static_cast<long>(offsets[3]), stream.begin() + static_cast<long>(offsets[4]));
    EXPECT_EQ(Decode(one), NeedMoreData);
    EXPECT_EQ(state.consumed, 0);
    // with 8 more bytes it decodes
    const Bytes guarded(stream.begin() + static_cast<long>(offsets[3]), stream.begin() + static_cast<long>(offsets[4] + 8));
    EXPECT_EQ(Decode(guarded), 0);
}

TEST_F(DecompressAudioCall, UnusedRestOfExactly32768ReadsAsNeedMoreData)
{
    const Bytes stream = ReadFixture("mpeg1-44100-stereo.mp3");
    const auto offsets = FrameOffsets(stream);
    for (size_t rest : {size_t{32767}, size_t{32768}, size_t{32769}}) {
        ResetDecoder();
        Init(0, nullptr);
        Bytes buffer(stream.begin(), stream.begin() + static_cast<long>(offsets[3]));
        buffer.insert(buffer.end(), rest, 0);  // no sync word in here
        int32_t r = Decode(buffer);
        int frames = 0;
        while (r == 0) {
            frames += bytes > 0;
            r = Decode(nullptr, static_cast<int32_t>(buffer.size()));
        }
        EXPECT_EQ(frames, 3);
        EXPECT_EQ(state.consumed, static_cast<int32_t>(offsets[3]));
        EXPECT_EQ(r, static_cast<int32_t>(rest)) << "rest " << rest;
    }
}

TEST_F(DecompressAudioCall, DamagedFrameIsDroppedAndDecodingResynchronises)
{
    const Bytes clean = ReadFixture("crc-44100-stereo.mp3");
    const Bytes damaged = ReadFixture("damaged-frame.mp3");
    const auto offsets = FrameOffsets(clean);
    const Decoded good = DecodeStream(clean, 1 << 20);
    ResetDecoder();
    const Decoded bad = DecodeStream(damaged, 1 << 20);
    // the zero bytes after the last frame are a lost sync in both
    EXPECT_EQ(bad.dropped, good.dropped + 1);
    std::vector<int32_t> expected = good.positions;
    expected.erase(std::find(expected.begin(), expected.end(),
                             static_cast<int32_t>(offsets[offsets.size() / 2])));
    EXPECT_EQ(bad.positions, expected);
}

TEST_F(DecompressAudioCall, DroppedFrameReportsZeroBytesAndItsPosition)
{
    const Bytes damaged = ReadFixture("damaged-frame.mp3");
    const auto offsets = FrameOffsets(damaged);
    int32_t r = Decode(damaged);
    while (r == 0 && bytes > 0)
        r = Decode(nullptr, static_cast<int32_t>(damaged.size()));
    EXPECT_EQ(r, 0);
    EXPECT_EQ(bytes, 0);
    EXPECT_EQ(position, static_cast<int32_t>(offsets[offsets.size() / 2]));
    EXPECT_EQ(state.stream.sync, 0);
    EXPECT_EQ(Decode(nullptr, static_cast<int32_t>(damaged.size())), 0);
}

TEST_F(DecompressAudioCall, PositionsRestartAfterSeek)
{
    const Bytes stream = ReadFixture("mpeg2-22050-stereo.mp3");
    const auto offsets = FrameOffsets(stream);
    DecodeStream(stream, 3000);
    SeekStart();
    SeekEnd();
    const size_t seekTo = offsets[20];
    const Bytes rest(stream.begin() + static_cast<long>(seekTo), stream.end());
    const Decoded after = DecodeStream(rest, 3000, false);
    ASSERT_FALSE(after.positions.empty());
    for (int32_t p : after.positions)
        EXPECT_NE(std::find(offsets.begin(), offsets.end(), seekTo + static_cast<size_t>(p)), offsets.end());
    EXPECT_EQ(seekTo + static_cast<size_t>(after.positions.back()), offsets.back());
}

// The host's buffer sizes must not change a single output byte or position.
TEST(DecodingProtocol, EveryBufferSplitGivesTheSamePcmAndPositions)
{
    const char *fixtures[] = {"mpeg1-44100-stereo.mp3", "mpeg2-22050-mono.mp3",
                              "mpeg25-8000-stereo.mp3", "damaged-frame.mp3",
                              "mpeg1-32000-stereo.mp3"};
    const uint32_t seed = TestSeed();
    SCOPED_TRACE(SeedNote(seed));
    std::mt19937 rng(seed);
    for (const char *name : fixtures) {
        SCOPED_TRACE(name);
        const Bytes stream = ReadFixture(name);
        ResetDecoder();
        const Decoded whole = DecodeStream(stream, 1 << 20);
        ASSERT_FALSE(whole.pcm.empty());
        for (size_t chunk : {size_t{1}, size_t{7}, size_t{100}, size_t{417}, size_t{4096}}) {
            ResetDecoder();
            const Decoded split = DecodeStream(stream, chunk);
            EXPECT_EQ(split.pcm, whole.pcm) << "chunk " << chunk;
            EXPECT_EQ(split.positions, whole.positions) << "chunk " << chunk;
        }
        for (int round = 0; round < 4; ++round) {
            ResetDecoder();
            const Decoded random = DecodeStream(stream, [&] { return size_t{1} + rng() % 3000; });
            EXPECT_EQ(random.pcm, whole.pcm) << "random round " << round;
            EXPECT_EQ(random.positions, whole.positions);
        }
    }
}

// After garbage, libmad decodes a frame found by searching only when another
// frame header follows it; a refill restarts its sync at the buffer's first
// byte instead. So the last frame of a stream that lost sync comes out only
// when a buffer happens to begin with it: smaller buffers may give that frame
// more, and never anything else.
TEST(DecodingProtocol, SplitsAfterLostSyncOnlyEverAddTheFinalFrame)
{
    const Bytes stream = ReadFixture("garbage-between-frames.mp3");
    const auto offsets = FrameOffsets(stream);
    ResetDecoder();
    const Decoded whole = DecodeStream(stream, 1 << 20);
    for (size_t chunk : {size_t{1}, size_t{100}, size_t{4096}}) {
        ResetDecoder();
        const Decoded split = DecodeStream(stream, chunk);
        ASSERT_GE(split.positions.size(), whole.positions.size());
        ASSERT_LE(split.positions.size(), whole.positions.size() + 1);
        EXPECT_TRUE(std::equal(whole.positions.begin(), whole.positions.end(), split.positions.begin()));
        EXPECT_TRUE(std::equal(whole.pcm.begin(), whole.pcm.end(), split.pcm.begin()));
        if (split.positions.size() > whole.positions.size()) {
            EXPECT_EQ(split.positions.back(), static_cast<int32_t>(offsets.back()));
        }
    }
}

// The whole chain checked against libmad's synthesis and the output rule,
// computed independently here.
TEST(DecodingProtocol, PcmEqualsLibmadSynthesisThroughTheOutputRule)
{
    const char *fixtures[] = {"mpeg1-32000-stereo.mp3", "mpeg1-44100-stereo.mp3",
                              "mpeg1-48000-stereo.mp3", "mpeg1-44100-mono.mp3",
                              "mpeg2-16000-stereo.mp3", "mpeg2-22050-mono.mp3",
                              "mpeg2-24000-stereo.mp3", "mpeg25-8000-mono.mp3",
                              "mpeg25-11025-stereo.mp3", "mpeg25-12000-mono.mp3",
                              "crc-44100-stereo.mp3", "loud-clipping.mp3"};
    for (const char *name : fixtures) {
        SCOPED_TRACE(name);
        const Bytes stream = ReadFixture(name);
        ReferenceOutput rule;
        Bytes expected;
        for (const ReferenceFrame &f : ReferenceSynthesis(stream))
            rule.Write(expected, f.left, f.channels == 2 ? &f.right : nullptr);
        ResetDecoder();
        const Decoded got = DecodeStream(stream, 4096);
        EXPECT_EQ(got.pcm, expected);
        EXPECT_EQ(state.residueLeft, rule.residue[0]);
        EXPECT_EQ(state.residueRight, rule.residue[1]);
    }
}

} // namespace
