// SPDX-License-Identifier: GPL-2.0-or-later
// The decoding call end to end: probe, gains, synthesis, conversion, output
// and the gain update, each frame against an independent chain.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "TestSupport.h"
#include "dsp/Equalizer.h"
#include "dsp/Resampler.h"

namespace {

Bytes Joined(std::initializer_list<const char *> names)
{
    Bytes all;
    for (const char *name : names) {
        const Bytes b = ReadFixture(name);
        all.insert(all.end(), b.begin(), b.end());
    }
    return all;
}

// The gains before synthesis, the conversion after it, the output rule, and
// the master gain lowered after each frame that clipped.
Bytes Chain(const Bytes &file, const int8_t bands[11], uint32_t convertTo)
{
    auto mul = [](int32_t x, int32_t g) {
        const int64_t p = ((int64_t{x} + 2048) >> 12) * ((int64_t{g} + 32768) >> 16);
        return static_cast<int32_t>(std::clamp<int64_t>(p, INT32_MIN, INT32_MAX));
    };
    int32_t master = 0x10000000;
    ReferenceOutput rule;
    Bytes expected;
    ReferenceDecode(file, [&](mad_frame &f) {
        for (int ch = 0; ch < 2; ++ch)
            for (int row = 0; row < 36; ++row)
                for (int sb = 0; sb < 32; ++sb)
                    f.sbsample[ch][row][sb] = mul(mul(f.sbsample[ch][row][sb], master),
                                                  DbToGain(bands[subbandBand[sb]] + bands[10]));
    }, [&](const mad_pcm &pcm) {
        std::vector<int32_t> l(pcm.samples[0], pcm.samples[0] + pcm.length);
        std::vector<int32_t> r(pcm.samples[1], pcm.samples[1] + pcm.length);
        if (convertTo != 0) {
            l = ConvertFresh(l, pcm.samplerate, convertTo);
            r = ConvertFresh(r, pcm.samplerate, convertTo);
        }
        const int32_t peak = rule.Write(expected, l, &r);
        const double divisor = 1.0 + mul(peak, 0x08000000) / 268435456.0;
        master = static_cast<int32_t>(master / divisor + 0.5);
    });
    return expected;
}

class DecodingChain : public ::testing::Test {
protected:
    void SetUp() override { ResetDecoder(); }
    void TearDown() override { ResetDecoder(); }

    Decoded ProbeAndDecode(const Bytes &stream, int32_t request)
    {
        int32_t rate = request, channels, bitRate;
        uint16_t t[3][200] = {};
        EXPECT_EQ(GetHeaderInfo(stream.data(), static_cast<int32_t>(stream.size()), &rate,
                                &channels, &bitRate, t[0], t[1], t[2]), 0);
        return DecodeStream(stream, 4096);
    }
};

TEST_F(DecodingChain, FramesComeOutAtTheRequestedRate)
{
    struct Row {
        const char *name;
        int32_t request;
        size_t perFrame;     // samples per channel of each converted frame
        size_t channels;
    };
    const Row rows[] = {
        {"mpeg25-8000-mono.mp3", 48000, 3450, 1},
        {"mpeg25-8000-stereo.mp3", 48000, 3450, 2},
        {"mpeg1-48000-stereo.mp3", 44100, 1058, 2},
        {"mpeg2-22050-stereo.mp3", 22050, 576, 2},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const Bytes stream = ReadFixture(row.name);
        const size_t frames = ReferenceSynthesis(stream).size();
        const Decoded d = ProbeAndDecode(stream, row.request);
        EXPECT_EQ(d.positions.size(), frames);
        EXPECT_EQ(d.pcm.size(), frames * row.perFrame * row.channels * 2);
    }
}

TEST_F(DecodingChain, ConvertedPcmIsEachFrameThroughAFreshConverter)
{
    // one stream, and one whose rate changes on the way: with the same frame
    // length and no larger blocks needed (32 to 44.1 kHz), with both
    // changing, to the requested rate (the plan must follow the ratio and the
    // frame length)
    for (const Bytes &stream : {ReadFixture("mpeg1-44100-stereo.mp3"), Joined({"mpeg1-32000-stereo.mp3",
                                "mpeg1-44100-stereo.mp3", "mpeg2-22050-stereo.mp3", "mpeg1-48000-stereo.mp3"})}) {
    ResetDecoder();
    ReferenceOutput rule;
    Bytes expected;
    for (const ReferenceFrame &f : ReferenceSynthesis(stream)) {
        std::vector<mad_fixed_t> l, r;
        l = ConvertFresh(f.left, f.samplerate, 48000);
        r = ConvertFresh(f.right, f.samplerate, 48000);
        rule.Write(expected, l, &r);
    }
    EXPECT_EQ(ProbeAndDecode(stream, 48000).pcm, expected);
    }
}

TEST_F(DecodingChain, UnsupportedRateOrNoMemoryLeavesFramesAtTheirOwnRate)
{
    const Bytes stream = ReadFixture("mpeg2-24000-stereo.mp3");
    const Bytes plain = DecodeStream(stream, 4096).pcm;
    ResetDecoder();
    EXPECT_EQ(ProbeAndDecode(stream, 44101).pcm, plain);
    EXPECT_EQ(state.resampleEnabled, 1);

    ResetDecoder();
    const Decoded converted = ProbeAndDecode(stream, 48000);
    EXPECT_NE(converted.pcm.size(), plain.size());
    ResetDecoder();
    int32_t rate = 48000, channels, bitRate;
    uint16_t t[3][200] = {};
    ASSERT_EQ(GetHeaderInfo(stream.data(), static_cast<int32_t>(stream.size()), &rate, &channels,
                            &bitRate, t[0], t[1], t[2]), 0);
    platformFailAfter = 0;  // every block allocation fails
    EXPECT_EQ(DecodeStream(stream, 4096).pcm, plain);
}

TEST_F(DecodingChain, InitSetsTheSubbandGainsOnlyWhenGiven)
{
    const int8_t band6[11] = {0, 0, 0, 0, 0, 0, 3, 0, 0, 0, -1};
    mad_fixed_t gains[32];
    SetEqGains(band6, band6[10], gains);
    Init(1, band6);
    EXPECT_TRUE(std::equal(gains, gains + 32, state.eqGains));
    Init(0, nullptr);  // switched off, the gains stay for the next time
    EXPECT_TRUE(std::equal(gains, gains + 32, state.eqGains));
}

TEST_F(DecodingChain, MasterGainRestartsWithInitSeekEndAndAProbe)
{
    const Bytes stream = ReadFixture("mpeg1-44100-stereo.mp3");
    int32_t rate = 0, channels, bitRate;
    uint16_t t[3][200] = {};
    for (int way = 0; way < 3; ++way) {
        state.masterGain = 0x01234567;
        if (way == 0)
            Init(1, nullptr);
        if (way == 1)
            SeekEnd();
        if (way == 2) {
            ASSERT_EQ(GetHeaderInfo(stream.data(), static_cast<int32_t>(stream.size()), &rate,
                                    &channels, &bitRate, t[0], t[1], t[2]), 0);
        }
        EXPECT_EQ(state.masterGain, 0x10000000) << way;
    }
}

TEST_F(DecodingChain, SwitchedOnWithoutBandsIsSilentAndSwitchedOffDoesNothing)
{
    const Bytes stream = ReadFixture("mpeg1-44100-stereo.mp3");
    Init(1, nullptr);
    const Decoded silent = DecodeStream(stream, 4096, false);
    ASSERT_FALSE(silent.pcm.empty());
    EXPECT_TRUE(std::all_of(silent.pcm.begin(), silent.pcm.end(), [](uint8_t b) { return b == 0; }));

    ResetDecoder();
    const Decoded plain = DecodeStream(stream, 4096);
    ResetDecoder();
    const int8_t boost[11] = {12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 6};
    Init(1, boost);
    state.masterGain = 0x00100000;
    Init(0, nullptr);  // switched off: gains and master gain are not applied
    state.masterGain = 0x00100000;
    const Decoded off = DecodeStream(stream, 4096, false);
    EXPECT_EQ(off.pcm, plain.pcm);
    EXPECT_EQ(state.masterGain, 0x00100000);

    // frames that clip do not lower the gain while switched off
    ResetDecoder();
    Init(0, nullptr);
    DecodeStream(ReadFixture("loud-clipping.mp3"), 4096, false);
    EXPECT_EQ(state.masterGain, 0x10000000);
}

// Loud audio with the equalizer on: the master gain falls after every frame
// that clipped, so far fewer samples clip than without; the PCM equals a
// computation made here from libmad and the rules of each stage.
TEST_F(DecodingChain, LoudStreamLowersTheGainAndMatchesTheChain)
{
    const Bytes file = ReadFixture("loud-clipping.mp3");
    const int8_t bands[11] = {3, 3, 2, 0, 0, 0, 0, 0, 0, 0, 0};

    auto clipped = [](const Bytes &pcm) {
        size_t n = 0;
        for (size_t i = 0; i + 1 < pcm.size(); i += 2) {
            const int16_t v = static_cast<int16_t>(pcm[i] | (pcm[i + 1] << 8));
            n += v == 32767 || v == -32768;
        }
        return n;
    };

    const Bytes plain = DecodeStream(file, 4096).pcm;
    ResetDecoder();
    Init(1, bands);
    std::vector<int32_t> gains;
    Bytes eq;
    {
        Bytes stream = file;
        stream.insert(stream.end(), 8, 0);
        Bytes out(VORLIX_MAX_OUTPUT_BYTES);
        int32_t bytes, pos;
        int32_t r = DecompressAudio(stream.data(), static_cast<int32_t>(stream.size()), out.data(), 0, &bytes, &pos);
        while (r == 0) {
            eq.insert(eq.end(), out.begin(), out.begin() + bytes);
            gains.push_back(state.masterGain);
            r = DecompressAudio(nullptr, static_cast<int32_t>(stream.size()), out.data(), 0, &bytes, &pos);
        }
    }
    EXPECT_GT(clipped(plain), 1000u);
    EXPECT_LT(clipped(eq) * 10, clipped(plain));
    EXPECT_LT(gains.back(), 0x0c000000);
    EXPECT_TRUE(std::is_sorted(gains.rbegin(), gains.rend()));

    // the same chain computed independently
    EXPECT_EQ(eq, Chain(file, bands, 0));
}

// A hot master clips now and then; each clip is a clip of that sample only.
// With the equalizer off the output is libmad's synthesis clamped to 16 bits,
// within the 1 LSB that the error feedback may add.
TEST_F(DecodingChain, LoudStreamIsLibmadsSynthesisClampedWithinOneStep)
{
    const Bytes file = ReadFixture("loud-clipping.mp3");
    Bytes clamped;
    size_t clips = 0;
    for (const ReferenceFrame &f : ReferenceSynthesis(file))
        for (size_t i = 0; i < f.left.size(); ++i)
            for (const int32_t s : {f.left[i], f.channels == 2 ? f.right[i] : f.left[i]}) {
                clips += s > 0x0fffffff || s < -0x10000000;
                const int16_t v = static_cast<int16_t>(std::clamp(s, -0x10000000, 0x0fffffff) >> 13);
                clamped.push_back(static_cast<uint8_t>(v & 0xff));
                clamped.push_back(static_cast<uint8_t>((v >> 8) & 0xff));
            }
    const Bytes got = DecodeStream(file, 4096).pcm;
    ASSERT_EQ(got.size(), clamped.size());
    ASSERT_GT(clips, 1000u);
    int worst = 0;
    for (size_t i = 0; i + 1 < got.size(); i += 2) {
        const int a = static_cast<int16_t>(got[i] | (got[i + 1] << 8));
        const int b = static_cast<int16_t>(clamped[i] | (clamped[i + 1] << 8));
        worst = std::max(worst, std::abs(a - b));
    }
    EXPECT_LE(worst, 1) << "worst " << worst;
}

TEST_F(DecodingChain, GainUpdateAfterClippingWhileConverting)
{
    const Bytes file = ReadFixture("loud-clipping.mp3");
    const int8_t bands[11] = {3, 3, 2, 0, 0, 0, 0, 0, 0, 0, 0};
    int32_t rate = 48000, channels, bitRate;
    uint16_t t[3][200] = {};
    ASSERT_EQ(GetHeaderInfo(file.data(), static_cast<int32_t>(file.size()), &rate, &channels, &bitRate, t[0],
                            t[1], t[2]), 0);
    Init(1, bands);
    const Bytes got = DecodeStream(file, 4096, false).pcm;
    EXPECT_LT(state.masterGain, 0x0c000000);  // it did clip
    EXPECT_EQ(got, Chain(file, bands, 48000));
}

TEST_F(DecodingChain, TheNextStreamStartsFromFreshSynthesis)
{
    // stream 1 decoded part of the way, then stream 2 probed, after Exit or
    // (a host that does not close the first) without: stream 2's frames are
    // those it gives alone, from the residues stream 1 left
    const Bytes first = ReadFixture("loud-clipping.mp3");
    for (const auto &[name, exitFirst] : {std::pair{"mpeg1-44100-stereo.mp3", true},
                                          std::pair{"mpeg25-8000-stereo.mp3", false}}) {
        SCOPED_TRACE(name);
        const Bytes second = ReadFixture(name);
        ResetDecoder();
        DecodeStream(Bytes(first.begin(), first.begin() + 9000), 4096);
        if (exitFirst)
            Exit();
        const mad_fixed_t left = state.residueLeft, right = state.residueRight;
        int32_t rate = 0, channels, bitRate;
        uint16_t t[3][200] = {};
        ASSERT_EQ(GetHeaderInfo(second.data(), static_cast<int32_t>(second.size()), &rate, &channels, &bitRate,
                                t[0], t[1], t[2]), 0);
        const Bytes after = DecodeStream(second, 4096).pcm;
        ResetDecoder();
        state.residueLeft = left;
        state.residueRight = right;
        EXPECT_EQ(after, DecodeStream(second, 4096).pcm);
    }
}

TEST_F(DecodingChain, DecodingAfterAProbeStartsFromFreshObjects)
{
    // the probe decodes the first frame (here real audio: the stream has no
    // header frame); decoding then starts over, as if there had been no probe
    const Bytes stream = ReadFixture("mpeg25-8000-stereo.mp3");
    const Bytes alone = DecodeStream(stream, 4096).pcm;
    ResetDecoder();
    int32_t rate = 0, channels, bitRate;
    uint16_t t[3][200] = {};
    ASSERT_EQ(GetHeaderInfo(stream.data(), static_cast<int32_t>(stream.size()), &rate, &channels, &bitRate, t[0],
                            t[1], t[2]), 0);
    EXPECT_EQ(DecodeStream(stream, 4096).pcm, alone);
}

} // namespace
