// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include "TestSupport.h"

namespace {

class HeaderProbe : public ::testing::Test {
protected:
    void SetUp() override { ResetDecoder(); }
    void TearDown() override { ResetDecoder(); }

    int32_t Probe(const Bytes &data, int32_t request = 0)
    {
        return Probe(data.data(), static_cast<int32_t>(data.size()), request);
    }
    int32_t Probe(const uint8_t *data, int32_t length, int32_t request = 0)
    {
        rate = request;
        channels = bitRate = -1;
        return GetHeaderInfo(data, length, &rate, &channels, &bitRate, title, artist, album);
    }

    int32_t rate = 0, channels = -1, bitRate = -1;
    uint16_t title[200] = {}, artist[200] = {}, album[200] = {};
};

TEST_F(HeaderProbe, EmptyAndTinyBuffersAskForMoreAndWriteNothing)
{
    const Bytes stream = ReadFixture("mpeg1-44100-stereo.mp3");
    for (int32_t n : {0, 1, 7}) {
        EXPECT_EQ(Probe(stream.data(), n), NeedMoreData) << n;
        EXPECT_EQ(state.consumed, 0);
        EXPECT_EQ(rate, 0);
        EXPECT_EQ(channels, -1);
        EXPECT_EQ(bitRate, -1);
    }
}

TEST_F(HeaderProbe, ReportsTheFirstFrameAndResetsTheDecoder)
{
    const Bytes stream = ReadFixture("mpeg1-44100-stereo.mp3");
    const auto offsets = FrameOffsets(stream);
    state.masterGain = 0x1234;
    state.eqEnabled = 1;
    // only the first frame and the guard bytes: what follows is not looked at
    Bytes first(stream.begin(), stream.begin() + static_cast<long>(offsets[1] + 8));
    std::fill(first.end() - 8, first.end(), 0x55);
    EXPECT_EQ(Probe(first), 0);
    EXPECT_EQ(rate, 44100);
    EXPECT_EQ(channels, 2);
    EXPECT_EQ(bitRate, 128000);
    EXPECT_EQ(state.resampleEnabled, 0);
    // fresh objects, positions at 0, the equalizer switch kept
    EXPECT_EQ(state.idle, 1);
    EXPECT_EQ(state.consumed, 0);
    EXPECT_EQ(state.streamBase, 0);
    EXPECT_EQ(state.stream.main_data, nullptr);
    EXPECT_EQ(state.frame.overlap, nullptr);
    EXPECT_EQ(state.masterGain, 0x10000000);
    EXPECT_EQ(state.eqEnabled, 1);
}

TEST_F(HeaderProbe, MonoMpeg2Stream)
{
    EXPECT_EQ(Probe(ReadFixture("mpeg2-22050-mono.mp3")), 0);
    EXPECT_EQ(rate, 22050);
    EXPECT_EQ(channels, 1);
    EXPECT_EQ(bitRate, 64000);
}

TEST_F(HeaderProbe, FrameThatDoesNotFitReportsTheUnusedRest)
{
    const Bytes stream = ReadFixture("mpeg1-44100-stereo.mp3");
    const auto offsets = FrameOffsets(stream);
    const size_t k = 300;
    Bytes buffer(k, 0);  // no sync word
    buffer.insert(buffer.end(), stream.begin(), stream.begin() + static_cast<long>(offsets[1]));
    EXPECT_EQ(Probe(buffer), static_cast<int32_t>(buffer.size() - k));
    EXPECT_EQ(state.consumed, static_cast<int32_t>(k));
    EXPECT_EQ(rate, 0);

    // the same frame at the buffer's start: nothing of it is usable
    const Bytes alone(stream.begin(), stream.begin() + static_cast<long>(offsets[1]));
    EXPECT_EQ(Probe(alone), NeedMoreData);
    EXPECT_EQ(state.consumed, 0);
}

TEST_F(HeaderProbe, NoSyncWordAtAll)
{
    Bytes noise(5000);
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<uint8_t>((i * 37 + 11) % 0xff);  // never 0xff
    EXPECT_EQ(Probe(noise), NeedMoreData);
    EXPECT_EQ(state.consumed, 0);
}

TEST_F(HeaderProbe, RateRequestIsRecordedAndLastsUntilTheNextProbe)
{
    const Bytes stream = ReadFixture("mpeg1-44100-stereo.mp3");
    EXPECT_EQ(Probe(stream, 22050), 0);
    EXPECT_EQ(rate, 22050);
    EXPECT_EQ(state.resampleEnabled, 1);
    EXPECT_EQ(state.targetRate, 22050);
    Init(0, nullptr);
    Exit();
    EXPECT_EQ(state.resampleEnabled, 1);

    // a failed probe clears the request but keeps the rate
    EXPECT_EQ(Probe(stream.data(), 4, 0), NeedMoreData);
    EXPECT_EQ(state.resampleEnabled, 0);
    EXPECT_EQ(state.targetRate, 22050);

    // any rate is recorded as it is, supported or not
    EXPECT_EQ(Probe(stream, 44101), 0);
    EXPECT_EQ(state.targetRate, 44101);
}

TEST_F(HeaderProbe, FalseFrameHeadersInFrontOfAudioArePassedOver)
{
    const Bytes stream = ReadFixture("mpeg2-24000-stereo.mp3");
    const Bytes falseHeaders[] = {
        {0xff, 0xe0, 0x00, 0x00, 0x12, 0x34},       // reserved layer
        {0xff, 0xe1, 0x10, 0x00, 0x00, 0x00, 0x00}, // reserved layer, no CRC
        {0xff, 0xfb, 0xf0, 0x00},                   // bit-rate index 15
        {0xff, 0xfb, 0x9c, 0x00},                   // sample-rate index 3
    };
    for (const Bytes &prefix : falseHeaders) {
        ResetDecoder();
        Bytes buffer = prefix;
        buffer.insert(buffer.end(), prefix.begin(), prefix.end());  // twice, back to back
        buffer.insert(buffer.end(), stream.begin(), stream.end());
        EXPECT_EQ(Probe(buffer), 0);
        EXPECT_EQ(rate, 24000);
        EXPECT_EQ(channels, 2);
    }
}

TEST_F(HeaderProbe, ProbesTheNextBufferAfterACount)
{
    // the host's loop: after NeedMoreData it passes the next bytes, after a
    // count the unused rest and more
    const Bytes stream = ReadFixture("mpeg25-8000-mono.mp3");
    Bytes file(700, 0x20);
    file.insert(file.end(), stream.begin(), stream.end());
    size_t start = 0, end = 0;
    int32_t r = NeedMoreData;
    int calls = 0;
    while (r != 0 && end < file.size()) {
        end = std::min(file.size(), end + 256);
        const Bytes buffer(file.begin() + static_cast<long>(start), file.begin() + static_cast<long>(end));
        r = Probe(buffer);
        start = r == NeedMoreData ? end : end - static_cast<size_t>(r);
        ++calls;
    }
    EXPECT_EQ(r, 0);
    EXPECT_EQ(rate, 8000);
    EXPECT_EQ(channels, 1);
    EXPECT_GT(calls, 2);
}

} // namespace

namespace {

TEST_F(HeaderProbe, ADualChannelStreamHasTwoChannels)
{
    // the mode bits of every header say dual channel: two independent channels
    Bytes stream = ReadFixture("mpeg1-44100-stereo.mp3");
    for (size_t at : FrameOffsets(stream))
        stream[at + 3] = static_cast<uint8_t>((stream[at + 3] & 0x3f) | 0x80);
    ASSERT_EQ(Probe(stream), 0);
    EXPECT_EQ(channels, 2);
    EXPECT_EQ(rate, 44100);
}

TEST_F(HeaderProbe, AnId3FooterInFrontIsPassedOver)
{
    // a footer alone ("3DI"): the tag query gives a negative size, which
    // ends the tag's handling instead of gathering anything
    Bytes stream = {'3', 'D', 'I', 4, 0, 0x10, 0, 0, 0x10, 0};
    const Bytes audio = ReadFixture("mpeg1-44100-stereo.mp3");
    stream.insert(stream.end(), audio.begin(), audio.end());
    ASSERT_EQ(Probe(stream), 0);
    EXPECT_EQ(rate, 44100);
    EXPECT_EQ(title[0], 0);
    EXPECT_EQ(state.tagBuffer, nullptr);
}

} // namespace
