// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include "TestSupport.h"

namespace {

class Lifecycle : public ::testing::Test {
protected:
    void SetUp() override { ResetDecoder(); }
    void TearDown() override { ResetDecoder(); }

    int32_t Decode(const uint8_t *data, int32_t length)
    {
        bytes = -7;
        return DecompressAudio(data, length, out.data(), 0, &bytes, &position);
    }

    Bytes out = Bytes(VORLIX_MAX_OUTPUT_BYTES);
    int32_t bytes = 0, position = -1;
};

TEST_F(Lifecycle, NoInputWhileIdleAsksForDataAndWritesNoPosition)
{
    // right after load, after Init from ready, and after Exit
    for (int step = 0; step < 3; ++step) {
        if (step == 1)
            Init(0, nullptr);
        if (step == 2)
            Exit();
        position = 12345;
        EXPECT_EQ(Decode(nullptr, 100), NeedMoreData);
        EXPECT_EQ(bytes, 0);
        EXPECT_EQ(position, 12345);
        EXPECT_EQ(state.idle, 1);
    }
}

TEST_F(Lifecycle, InitFromReadyReinitialisesAndKeepsPositionsAtZero)
{
    Init(1, nullptr);
    Init(0, nullptr);
    EXPECT_EQ(state.idle, 1);
    EXPECT_EQ(state.consumed, 0);
    EXPECT_EQ(state.streamBase, 0);
    EXPECT_EQ(state.eqEnabled, 0);
    EXPECT_EQ(state.masterGain, 0x10000000);
}

TEST_F(Lifecycle, InitDuringDecodingGoesOnInTheSameBuffer)
{
    const Bytes stream = ReadFixture("mpeg1-44100-stereo.mp3");
    const auto offsets = FrameOffsets(stream);
    Init(0, nullptr);
    ASSERT_EQ(Decode(stream.data(), static_cast<int32_t>(stream.size())), 0);
    ASSERT_EQ(Decode(nullptr, static_cast<int32_t>(stream.size())), 0);
    state.masterGain = 0x0abcdef0;
    Init(1, nullptr);
    EXPECT_EQ(state.idle, 0);
    EXPECT_EQ(state.masterGain, 0x10000000);
    EXPECT_EQ(state.eqEnabled, 1);
    Init(0, nullptr);
    ASSERT_EQ(Decode(nullptr, static_cast<int32_t>(stream.size())), 0);
    EXPECT_EQ(position, static_cast<int32_t>(offsets[2]));
}

TEST_F(Lifecycle, SeekEndKeepsEqualizerSwitchAndGains)
{
    const int8_t bands[11] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0};
    Init(1, bands);
    const int32_t gain9 = state.eqGains[31];
    Init(1, nullptr);  // no band settings: gains stay
    SeekStart();
    EXPECT_EQ(state.idle, 1);
    state.masterGain = 5;
    SeekEnd();
    EXPECT_EQ(state.eqEnabled, 1);
    EXPECT_EQ(state.eqGains[31], gain9);
    EXPECT_EQ(state.masterGain, 0x10000000);
    EXPECT_EQ(state.idle, 1);
}

TEST_F(Lifecycle, ExitTwiceAndRequestedRateSurviveEverythingButTheProbe)
{
    state.resampleEnabled = 1;
    state.targetRate = 22050;
    state.residueLeft = 0x123;
    state.residueRight = -0x45;
    Init(1, nullptr);
    Exit();
    Exit();
    SeekStart();
    SeekEnd();
    Init(0, nullptr);
    EXPECT_EQ(state.resampleEnabled, 1);
    EXPECT_EQ(state.targetRate, 22050);
    EXPECT_EQ(state.residueLeft, 0x123);
    EXPECT_EQ(state.residueRight, -0x45);
    EXPECT_EQ(state.idle, 1);
}

TEST_F(Lifecycle, ResiduesCarryOverFromOneStreamToTheNext)
{
    const Bytes stream = ReadFixture("mpeg1-44100-stereo.mp3");
    DecodeStream(stream, 4096);
    const int32_t left = state.residueLeft, right = state.residueRight;
    ASSERT_TRUE(left != 0 || right != 0);
    Exit();
    Init(0, nullptr);
    EXPECT_EQ(state.residueLeft, left);
    EXPECT_EQ(state.residueRight, right);
}

// A player moves on by probing the next file right after Exit. The next file
// may start mid-way, so its first frame reaches back into a reservoir that
// does not exist: the result must be the same every time (and clean under
// valgrind, which the memcheck run of this test checks).
TEST_F(Lifecycle, ProbeAndDecodeAfterExitAreDeterministic)
{
    // the player leaves the first stream mid-way, with main data in the reservoir
    const Bytes full = ReadFixture("mpeg1-44100-stereo.mp3");
    const Bytes first(full.begin(), full.begin() + static_cast<long>(FrameOffsets(full)[12] + 100));
    const Bytes whole = ReadFixture("mpeg1-48000-stereo.mp3");
    const auto offsets = FrameOffsets(whole);
    const Bytes second(whole.begin() + static_cast<long>(offsets[10]), whole.end());

    auto run = [&] {
        Exit();
        DecodeStream(first, 4096);
        EXPECT_GT(state.stream.md_len, 0u);
        Exit();
        state.residueLeft = state.residueRight = 0;  // they carry over between streams
        int32_t rate = 0, channels = 0, bitRate = 0;
        uint16_t text[3][200] = {};
        int32_t r;
        size_t used = 0;
        for (;;) {
            r = GetHeaderInfo(second.data() + used, static_cast<int32_t>(second.size() - used),
                              &rate, &channels, &bitRate, text[0], text[1], text[2]);
            if (r != NeedMoreData || used + 1 >= second.size())
                break;
            used += static_cast<size_t>(state.consumed) + 1;
        }
        EXPECT_EQ(r, 0);
        EXPECT_EQ(rate, 48000);
        return DecodeStream(second, 1000, false).pcm;
    };
    const Bytes a = run();
    const Bytes b = run();
    EXPECT_FALSE(a.empty());
    ASSERT_EQ(a.size(), b.size());
    size_t firstDiff = 0;
    while (firstDiff < a.size() && a[firstDiff] == b[firstDiff])
        ++firstDiff;
    EXPECT_EQ(firstDiff, a.size()) << "first difference at byte " << firstDiff;
}

// A probe that fails after libmad attached its blocks leaves them to Init,
// which must release them (LeakSanitizer checks this in the sanitizer run).
TEST_F(Lifecycle, InitAfterAFailedProbeLosesNoBlocks)
{
    const Bytes whole = ReadFixture("mpeg1-44100-stereo.mp3");
    const auto offsets = FrameOffsets(whole);
    Bytes mid(whole.begin() + static_cast<long>(offsets[5]), whole.end());
    int32_t rate = 0, channels = 0, bitRate = 0;
    uint16_t text[3][200] = {};
    GetHeaderInfo(mid.data(), static_cast<int32_t>(mid.size()), &rate, &channels, &bitRate,
                  text[0], text[1], text[2]);
    EXPECT_NE(state.stream.main_data, nullptr);
    Init(0, nullptr);
    EXPECT_EQ(state.stream.main_data, nullptr);
    EXPECT_EQ(state.frame.overlap, nullptr);
}

TEST_F(Lifecycle, ClosedStateDecodeWithInputIsSafe)
{
    const Bytes stream = ReadFixture("mpeg2-22050-stereo.mp3");
    DecodeStream(stream, 2000);
    Exit();
    // no Init or SeekEnd before passing input again: decoding goes on safely
    const Decoded d = DecodeStream(stream, 2000, false);
    EXPECT_GT(d.pcm.size(), 0u);
}

TEST(CVorlixClass, ConstructsAndAssigns)
{
    CVorlix a, b;
    EXPECT_EQ(&(a = b), &a);
}

} // namespace
