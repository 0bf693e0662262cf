// SPDX-License-Identifier: GPL-2.0-or-later
// Whatever bytes a file holds, every call gives a defined result and stays
// within its buffers (the sanitizer run checks the memory side).
#include <gtest/gtest.h>

#include "TestSupport.h"

namespace {

class HostileInput : public ::testing::Test {
protected:
    void SetUp() override { ResetDecoder(); }
    void TearDown() override { ResetDecoder(); }

    // Probes in buffers of the given size, then decodes the whole stream; checks
    // every result is one the calls may give.
    void ProbeAndDecode(const Bytes &stream, size_t probeSize, size_t chunk, int32_t request = 0)
    {
        uint16_t t[3][VORLIX_TEXT_UNITS] = {};
        const Probed p = ProbeStream(stream.data(), stream.size(), [&] { return probeSize; }, request, t[0], t[1], t[2],
                                     [](int32_t r, size_t size) {
                                         ASSERT_GE(r, 0);
                                         ASSERT_LE(r, static_cast<int32_t>(std::max<size_t>(size, NeedMoreData)));
                                     });
        if (p.result == 0) {
            ASSERT_TRUE(p.channels == 1 || p.channels == 2);
        }
        for (auto &text : t)
            ASSERT_NE(std::find(std::begin(text), std::end(text), 0), std::end(text));
        const Decoded d = DecodeStream(stream, chunk);
        ASSERT_EQ(d.pcm.size() % 2, 0u);
    }
};

TEST_F(HostileInput, EveryTruncation)
{
    const Bytes stream = ReadFixture("mpeg25-8000-mono.mp3");
    for (size_t n = 0; n <= stream.size(); ++n) {
        ResetDecoder();
        ProbeAndDecode(Bytes(stream.begin(), stream.begin() + static_cast<long>(n)), 4096, 4096);
    }
}

TEST_F(HostileInput, EveryTruncationOfATag)
{
    const Bytes stream = ReadFixture("tag-v23-2000.mp3");
    for (size_t n = 0; n <= 3000; n += 3) {
        ResetDecoder();
        ProbeAndDecode(Bytes(stream.begin(), stream.begin() + static_cast<long>(n)), 512, 700);
    }
}

TEST_F(HostileInput, SingleByteChanges)
{
    const Bytes clean = ReadFixture("mpeg2-16000-stereo.mp3");
    const uint8_t patterns[] = {0xff, 0x01, 0x80};
    for (size_t at = 0; at < clean.size(); at += 7) {
        Bytes stream = clean;
        stream[at] ^= patterns[at % 3];
        ResetDecoder();
        ProbeAndDecode(stream, 1000, 1500, at % 2 ? 48000 : 0);
    }
}

TEST_F(HostileInput, StreamsOfSyncPatterns)
{
    const Bytes patterns[] = {
        {0xff}, {0xff, 0xfb}, {0xff, 0xe0}, {0xff, 0xe1}, {0xff, 0xfb, 0x90, 0x44},
        {0xff, 0xe3, 0x18, 0xc4}, {0xff, 0xf3, 0xff, 0xff}, {0xff, 0xfa, 0xb0, 0x00},
    };
    for (const Bytes &p : patterns) {
        Bytes stream;
        while (stream.size() < 20000)
            stream.insert(stream.end(), p.begin(), p.end());
        ResetDecoder();
        ProbeAndDecode(stream, 4096, 333, 44100);
    }
}

TEST_F(HostileInput, EmptyAndEightByteBuffersAtEveryPoint)
{
    const Bytes file = ReadFixture("mpeg1-44100-mono.mp3");
    const Bytes expected = DecodeStream(file, 2000).pcm;
    ResetDecoder();
    Init(0, nullptr);

    Bytes stream = file;
    stream.insert(stream.end(), 8, 0);
    Bytes pcm;
    Bytes out(VORLIX_MAX_OUTPUT_BYTES);
    Bytes buffer, tiny;
    size_t start = 0, end = 0;
    int32_t bytes, position;
    int round = 0;
    while (end < stream.size()) {
        // an empty or 8-byte buffer from the current position first: nothing is lost
        const size_t n = (round++ % 2) ? 8 : 0;
        tiny.assign(stream.begin() + static_cast<long>(start),
                    stream.begin() + static_cast<long>(std::min(stream.size(), start + n)));
        tiny.reserve(1);
        int32_t r = DecompressAudio(tiny.data(), static_cast<int32_t>(tiny.size()), out.data(), 0, &bytes, &position);
        while (r == 0) {
            pcm.insert(pcm.end(), out.begin(), out.begin() + bytes);
            r = DecompressAudio(nullptr, static_cast<int32_t>(tiny.size()), out.data(), 0, &bytes, &position);
        }
        start += static_cast<size_t>(state.consumed);
        end = std::min(stream.size(), std::max(end, start) + 2000);
        buffer.assign(stream.begin() + static_cast<long>(start), stream.begin() + static_cast<long>(end));
        r = DecompressAudio(buffer.data(), static_cast<int32_t>(buffer.size()), out.data(), 0, &bytes, &position);
        while (r == 0) {
            pcm.insert(pcm.end(), out.begin(), out.begin() + bytes);
            r = DecompressAudio(nullptr, static_cast<int32_t>(buffer.size()), out.data(), 0, &bytes, &position);
        }
        start += static_cast<size_t>(state.consumed);
    }
    EXPECT_EQ(pcm, expected);

    // the probe too, between decoding calls
    int32_t rate = 0, channels, bitRate;
    uint16_t t[3][200] = {};
    EXPECT_EQ(GetHeaderInfo(tiny.data(), 0, &rate, &channels, &bitRate, t[0], t[1], t[2]), NeedMoreData);
    EXPECT_EQ(GetHeaderInfo(file.data(), 8, &rate, &channels, &bitRate, t[0], t[1], t[2]), NeedMoreData);
}

TEST_F(HostileInput, RateAndChannelsChangingMidStream)
{
    Bytes stream;
    for (const char *name : {"mpeg1-44100-stereo.mp3", "mpeg2-22050-mono.mp3", "mpeg25-8000-stereo.mp3",
                             "mpeg1-32000-stereo.mp3", "mpeg25-12000-mono.mp3"}) {
        const Bytes part = ReadFixture(name);
        stream.insert(stream.end(), part.begin(), part.end());
    }
    for (int32_t request : {0, 48000, 8000, 44100}) {
        ResetDecoder();
        ProbeAndDecode(stream, 4096, 1500, request);
    }
}

TEST_F(HostileInput, LargestUpConversionStaysWithinTheOutputConstant)
{
    const Bytes stream = ReadFixture("mpeg25-8000-stereo.mp3");
    int32_t rate = 48000, channels, bitRate;
    uint16_t t[3][200] = {};
    ASSERT_EQ(GetHeaderInfo(stream.data(), static_cast<int32_t>(stream.size()), &rate, &channels,
                            &bitRate, t[0], t[1], t[2]), 0);
    Bytes padded = stream;
    padded.insert(padded.end(), 8, 0);
    constexpr uint8_t guard = 0xa5;
    Bytes out(VORLIX_MAX_OUTPUT_BYTES + 4096, guard);
    int32_t bytes, position, largest = 0;
    int32_t r = DecompressAudio(padded.data(), static_cast<int32_t>(padded.size()), out.data(), 0, &bytes, &position);
    while (r == 0) {
        largest = std::max(largest, bytes);
        ASSERT_LE(bytes, VORLIX_MAX_OUTPUT_BYTES);
        r = DecompressAudio(nullptr, static_cast<int32_t>(padded.size()), out.data(), 0, &bytes, &position);
    }
    EXPECT_EQ(largest, 3450 * 4);
    for (size_t i = VORLIX_MAX_OUTPUT_BYTES; i < out.size(); ++i)
        ASSERT_EQ(out[i], guard);
    for (size_t i = static_cast<size_t>(largest); i < VORLIX_MAX_OUTPUT_BYTES; ++i)
        ASSERT_EQ(out[i], guard);
}

} // namespace
