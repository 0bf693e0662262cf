// SPDX-License-Identifier: GPL-2.0-or-later
// vorlix-decode and vorlix-play as a user runs them, on what users rely on:
// tag text that is not UTF-8 never reaches the terminal or JSON as text,
// equalizer values are refused unless exactly eleven, an existing MP3 is
// never overwritten, several inputs exit with the worst status, and the
// player's preamp keys work with the equalizer off.
#include <algorithm>
#include <chrono>
#include <thread>

#include "cli/HostSupport.h"

namespace {

const std::string host = VORLIX_DECODE;
const std::string data = VORLIX_TEST_DATA;

std::string Text(const Bytes &b)
{
    return std::string(b.begin(), b.end());
}

// Whether bytes are UTF-8 as Unicode defines it: shortest forms, no
// surrogates, nothing above U+10FFFF.
bool ValidUtf8(const std::string &s)
{
    for (size_t i = 0; i < s.size();) {
        const auto b = [&](size_t k) { return static_cast<uint8_t>(s[k]); };
        const uint8_t c = b(i);
        size_t n = 0;
        uint32_t v = 0, min = 0;
        if (c < 0x80) {
            ++i;
            continue;
        }
        if (c >= 0xc2 && c < 0xe0)
            n = 2, v = c & 0x1f, min = 0x80;
        else if (c >= 0xe0 && c < 0xf0)
            n = 3, v = c & 0x0f, min = 0x800;
        else if (c >= 0xf0 && c < 0xf5)
            n = 4, v = c & 0x07, min = 0x10000;
        else
            return false;
        if (i + n > s.size())
            return false;
        for (size_t k = 1; k < n; ++k) {
            if ((b(i + k) & 0xc0) != 0x80)
                return false;
            v = (v << 6) | (b(i + k) & 0x3f);
        }
        if (v < min || v > 0x10ffff || (v >= 0xd800 && v < 0xe000))
            return false;
        i += n;
    }
    return true;
}

struct BadText {
    const char *name;
    const char *bytes;
};

class NotUtf8 : public HostFixture, public ::testing::WithParamInterface<BadText> {};

// A title (APEv2 items are UTF-8 as written) with bytes that are not UTF-8:
// --info and --json give valid UTF-8, the bytes not passed on, the text
// around them kept.
TEST_P(NotUtf8, TagTextIsNeverPassedOnAsText)
{
    const BadText &c = GetParam();
    Bytes file = ReadFile(data + "/mpeg25-8000-mono.mp3");
    const std::string title = std::string("Before") + c.bytes + "After";
    const Bytes ape = Ape({{"Title", title}}, true);
    file.insert(file.end(), ape.begin(), ape.end());
    WriteFile(dir + "/bad.mp3", file);
    for (const char *option : {"--info", "--json"}) {
        SCOPED_TRACE(option);
        ASSERT_EQ(Shell(host + " " + option + " " + dir + "/bad.mp3 > " + dir + "/out.txt"), 0);
        const std::string out = Text(ReadFile(dir + "/out.txt"));
        EXPECT_TRUE(ValidUtf8(out)) << out;
        EXPECT_EQ(out.find(std::string("Before") + c.bytes), std::string::npos);
        EXPECT_NE(out.find("Before"), std::string::npos) << out;
        EXPECT_NE(out.find("After"), std::string::npos) << out;
    }
}

const BadText badTexts[] = {
    {"EncodedHighSurrogate", "\xed\xa0\x80"},
    {"EncodedLowSurrogate", "\xed\xbf\xbf"},
    {"OverlongTwoBytes", "\xc0\xaf"},
    {"OverlongThreeBytes", "\xe0\x80\xaf"},
    {"AboveUnicode", "\xf4\x90\x80\x80"},
    {"LoneContinuation", "\x80"},
    {"CutSequence", "\xe2\x82"},
    {"ByteNeverInUtf8", "\xfe"},
};
INSTANTIATE_TEST_SUITE_P(Pinned, NotUtf8, ::testing::ValuesIn(badTexts),
                         [](const auto &i) { return std::string(i.param.name); });

struct EqText {
    const char *name;
    const char *value;
};

class EqRefused : public HostFixture, public ::testing::WithParamInterface<EqText> {};

// --eq takes eleven whole dB values and nothing else: the program says why
// and writes nothing.
TEST_P(EqRefused, WithAMessage)
{
    const EqText &c = GetParam();
    EXPECT_EQ(Shell(host + " -q --eq '" + c.value + "' " + data + "/mpeg25-8000-mono.mp3 -o " + dir +
                    "/out.wav 2> " + dir + "/err.txt"),
              1);
    const std::string err = Text(ReadFile(dir + "/err.txt"));
    EXPECT_NE(err.find("equalizer"), std::string::npos) << err;
    EXPECT_FALSE(Exists(dir + "/out.wav"));
}

const EqText eqTexts[] = {
    {"TrailingComma", "0,0,0,0,0,0,0,0,0,0,0,"},
    {"TenValues", "0,0,0,0,0,0,0,0,0,0"},
    {"TwelveValues", "0,0,0,0,0,0,0,0,0,0,0,0"},
    {"EmptyValue", "0,0,0,,0,0,0,0,0,0,0"},
    {"LeadingComma", ",0,0,0,0,0,0,0,0,0,0"},
    {"OutOfRange", "0,0,0,0,0,0,0,0,0,0,128"},
};
INSTANTIATE_TEST_SUITE_P(Pinned, EqRefused, ::testing::ValuesIn(eqTexts),
                         [](const auto &i) { return std::string(i.param.name); });

class ExistingMpeg : public HostFixture, public ::testing::WithParamInterface<const char *> {};

// An existing output file that holds MPEG audio is not overwritten, tagged
// or not, with a header frame or without.
TEST_P(ExistingMpeg, IsNeverOverwritten)
{
    const Bytes existing = ReadFile(data + "/" + GetParam());
    WriteFile(dir + "/existing.mp3", existing);
    EXPECT_EQ(Shell(host + " -q " + data + "/mpeg25-8000-mono.mp3 -o " + dir + "/existing.mp3 2> " + dir +
                    "/err.txt"),
              3);
    EXPECT_EQ(ReadFile(dir + "/existing.mp3"), existing);
    EXPECT_NE(Text(ReadFile(dir + "/err.txt")), "");
}

INSTANTIATE_TEST_SUITE_P(Pinned, ExistingMpeg,
                         ::testing::Values("mpeg1-44100-stereo.mp3", "ffmpeg-short-info.mp3", "tag-v23-2000.mp3",
                                           "format-change.mp3"),
                         [](const auto &i) {
                             std::string n = i.param;
                             n = n.substr(0, n.find('.'));
                             std::replace(n.begin(), n.end(), '-', '_');
                             return n;
                         });

struct StatusCase {
    const char *name;
    std::vector<const char *> inputs;  // good, missing, text, refused (its output holds MPEG audio)
    int status;
};

void PrintTo(const StatusCase &c, std::ostream *os)
{
    *os << c.name;
}

class SeveralInputs : public HostFixture, public ::testing::WithParamInterface<StatusCase> {};

// The exit status is the worst of the inputs', wherever the worst stands.
TEST_P(SeveralInputs, ExitWithTheWorstStatus)
{
    const StatusCase &c = GetParam();
    std::string args;
    int k = 0;
    for (const std::string kind : c.inputs) {
        const std::string name = dir + "/" + kind + std::to_string(k++);
        if (kind == "good") {
            WriteFile(name + ".mp3", ReadFile(data + "/mpeg25-8000-mono.mp3"));
        } else if (kind == "text") {
            WriteFile(name + ".mp3", Bytes(3000, 'x'));
        } else if (kind == "refused") {
            WriteFile(name + ".mp3", ReadFile(data + "/mpeg25-8000-mono.mp3"));
            WriteFile(name + ".wav", ReadFile(data + "/mpeg25-8000-mono.mp3"));
        }
        args += " " + name + ".mp3";
    }
    EXPECT_EQ(Shell(host + " -q" + args + " 2> /dev/null"), c.status);
}

const StatusCase statuses[] = {
    {"MissingThenGood", {"missing", "good"}, 2},
    {"TextThenGood", {"text", "good", "good"}, 2},
    {"GoodThenText", {"good", "text"}, 2},
    {"RefusedThenUnreadableThenGood", {"refused", "missing", "good"}, 3},
    {"UnreadableThenRefusedThenGood", {"text", "refused", "good"}, 3},
    {"AllGood", {"good", "good"}, 0},
};
INSTANTIATE_TEST_SUITE_P(Pinned, SeveralInputs, ::testing::ValuesIn(statuses),
                         [](const auto &i) { return std::string(i.param.name); });

#ifdef VORLIX_PLAY

struct PreampCase {
    const char *name;
    char key;
    int presses;
    int preamp;  // dB the decode must equal after the keys
};

void PrintTo(const PreampCase &c, std::ostream *os)
{
    *os << c.name;
}

// vorlix-play through ALSA's file plugin (to the null device), keys sent
// through tmux.
class PlayerPreamp : public HostFixture, public ::testing::WithParamInterface<PreampCase> {
protected:
    void SetUp() override
    {
        HostFixture::SetUp();
        const std::string rc = "pcm.capture {\n type file\n slave.pcm \"null\"\n file \"" + dir +
                               "/played.raw\"\n format \"raw\"\n}\n";
        WriteFile(dir + "/.asoundrc", Bytes(rc.begin(), rc.end()));
    }
    void TearDown() override
    {
        Shell("tmux -L " + Socket() + " kill-server");
        HostFixture::TearDown();
    }
    std::string Socket() const { return "vorlixpin" + dir.substr(dir.rfind('-') + 1); }
    std::string Screen()
    {
        Shell("tmux -L " + Socket() + " capture-pane -p > " + dir + "/screen.txt");
        return Text(ReadFile(dir + "/screen.txt"));
    }
    bool WaitFor(const std::string &text, bool file = false)
    {
        for (int i = 0; i < 400; ++i) {
            if (file ? Exists(text) : Screen().find(text) != std::string::npos)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
};

// Where the stretch of `length` stereo samples of `needle` from `from`
// stands in `hay`, within 1 LSB; SIZE_MAX when nowhere.
size_t Find(const std::vector<int16_t> &hay, const std::vector<int16_t> &needle, size_t from, size_t length)
{
    for (size_t at = 0; at + 2 * length <= hay.size(); at += 2) {
        size_t i = 0;
        while (i < 2 * length && std::abs(hay[at + i] - needle[2 * from + i]) <= 1)
            ++i;
        if (i == 2 * length)
            return at / 2;
    }
    return SIZE_MAX;
}

// + and - with the equalizer off switch it on, flat, so that the preamp
// takes effect: what plays after the keys is the decode with that preamp.
TEST_P(PlayerPreamp, KeysWithTheEqualizerOffSwitchItOnFlat)
{
    const PreampCase &c = GetParam();
    WriteFile(dir + "/song.wav", Wav(Signal(44100, 2, 44100 * 12), 44100));
    ASSERT_EQ(Shell("lame --quiet -b 128 " + dir + "/song.wav " + dir + "/song.mp3"), 0);
    const std::string song = dir + "/song.mp3";
    ASSERT_EQ(Shell("tmux -L " + Socket() + " new-session -d -x 160 -y 8 \"HOME=" + dir + " " + VORLIX_PLAY +
                    " -D capture " + song + "; touch " + dir + "/ended\""),
              0);
    ASSERT_TRUE(WaitFor("0:01.")) << Screen();
    for (int i = 0; i < c.presses; ++i)
        Shell("tmux -L " + Socket() + " send-keys -l -- '" + std::string(1, c.key) + "'");
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    Shell("tmux -L " + Socket() + " send-keys q");
    ASSERT_TRUE(WaitFor(dir + "/ended", true));

    const std::vector<int16_t> played = Samples(ReadFile(dir + "/played.raw"));
    std::string bands = "0,0,0,0,0,0,0,0,0,0," + std::to_string(c.preamp);
    ASSERT_EQ(Shell(host + " -q --raw --eq " + bands + " " + song + " -o " + dir + "/eq.raw"), 0);
    ASSERT_EQ(Shell(host + " -q --raw " + song + " -o " + dir + "/plain.raw"), 0);
    const std::vector<int16_t> withPreamp = Samples(ReadFile(dir + "/eq.raw"));
    const std::vector<int16_t> plain = Samples(ReadFile(dir + "/plain.raw"));
    // half a second played well after the keys
    ASSERT_GT(played.size(), 2u * 44100 * 3);
    const size_t from = played.size() / 2 - 44100 / 2 - 22050, length = 22050;
    EXPECT_NE(Find(withPreamp, played, from, length), SIZE_MAX) << "not the decode with the preamp";
    EXPECT_EQ(Find(plain, played, from, length), SIZE_MAX) << "the plain decode";
}

const PreampCase preamps[] = {
    {"SofterSixTimes", '-', 6, -6},
    {"LouderTwice", '+', 2, 2},
};
INSTANTIATE_TEST_SUITE_P(Pinned, PlayerPreamp, ::testing::ValuesIn(preamps),
                         [](const auto &i) { return std::string(i.param.name); });

#endif

} // namespace
