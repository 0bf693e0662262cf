// SPDX-License-Identifier: GPL-2.0-or-later
// vorlix-play as it runs: through ALSA's file plugin (its slave the null
// device, so no sound hardware is needed), with keys sent through tmux.
#include <algorithm>
#include <chrono>
#include <thread>

#include "SeekGrid.h"
#include "cli/HostSupport.h"

namespace {

#ifdef VORLIX_PLAY
const std::string player = VORLIX_PLAY;
#endif
const std::string host = VORLIX_DECODE;
const std::string data = VORLIX_TEST_DATA;

class Player : public HostFixture {
protected:
    void SetUp() override
    {
#ifndef VORLIX_PLAY
        GTEST_SKIP() << "built without ALSA";
#else
        HostFixture::SetUp();
        // HOME holds the ALSA configuration: a device that writes what it plays to a file
        WriteFile(dir + "/.asoundrc", Text("pcm.capture {\n type file\n slave.pcm \"null\"\n file \"" + dir +
                                           "/played.raw\"\n format \"raw\"\n}\n"));
#endif
    }
    void TearDown() override
    {
        Shell("tmux -L " + Socket() + " kill-server");
        HostFixture::TearDown();
    }

    static Bytes Text(const std::string &s) { return Bytes(s.begin(), s.end()); }
    std::string Socket() const { return "vorlix" + dir.substr(dir.rfind('-') + 1); }
    std::string Play(const std::string &args) const
    {
#ifdef VORLIX_PLAY
        return "HOME=" + dir + " " + player + " -D capture " + args;
#else
        return args;
#endif
    }
    Bytes Decode(const std::string &args)
    {
        EXPECT_EQ(Shell(host + " -q --raw " + args + " -o " + dir + "/decoded.raw"), 0);
        return ReadFile(dir + "/decoded.raw");
    }

    // Starts a command in a detached tmux terminal.
    void Start(const std::string &command, int columns = 160)
    {
        ASSERT_EQ(Shell("tmux -L " + Socket() + " new-session -d -x " + std::to_string(columns) + " -y 8 \"" +
                        command + "\""),
                  0);
    }
    // The pane's rows; joined: rows that the terminal wrapped as one line.
    std::string Screen(bool joined = false)
    {
        Shell("tmux -L " + Socket() + " capture-pane -p " + (joined ? "-J " : "") + "> " + dir + "/screen.txt");
        const Bytes b = ReadFile(dir + "/screen.txt");
        return std::string(b.begin(), b.end());
    }
    void Keys(const std::string &keys) { Shell("tmux -L " + Socket() + " send-keys " + keys); }
    // Waits up to 20 s for text on the screen (or a file to exist).
    bool WaitFor(const std::string &text, bool file = false)
    {
        for (int i = 0; i < 400; ++i) {
            if (file ? Exists(text) : Screen().find(text) != std::string::npos)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
    // The landing of the last seek, in samples at 44.1 kHz, from the status line.
    size_t Landing()
    {
        const std::string screen = Screen();
        const size_t at = screen.rfind("seek to ");
        EXPECT_NE(at, std::string::npos) << screen;
        unsigned minutes = 0, seconds = 0, ms = 0;
        std::sscanf(screen.c_str() + at + 8, "%u:%u.%u", &minutes, &seconds, &ms);
        return (minutes * 60000u + seconds * 1000u + ms) * 441u / 10u;
    }
};

// Where a stretch of `want` (stereo samples from `from`) begins in `got`,
// within 1 LSB over `length` samples; SIZE_MAX when nowhere.
size_t Find(const std::vector<int16_t> &got, const std::vector<int16_t> &want, size_t from, size_t length)
{
    for (size_t at = 0; at + 2 * length <= got.size(); at += 2) {
        size_t i = 0;
        while (i < 2 * length && std::abs(got[at + i] - want[2 * from + i]) <= 1)
            ++i;
        if (i == 2 * length)
            return at / 2;
    }
    return SIZE_MAX;
}

TEST(SeekGrid, SeeksGoToTheNearest40MsStep)
{
    struct Case {
        int64_t samples;
        int32_t rate;
        uint64_t step;
    } cases[] = {
        {0, 44100, 0},        {881, 44100, 0},      {882, 44100, 1764},  {1764 * 7 + 881, 44100, 1764 * 7},
        {1764 * 7 + 882, 44100, 1764 * 8}, {-5000, 44100, 0}, {319, 8000, 320}, {159, 8000, 0},
        {480000 - 1, 48000, 480000},
    };
    for (const Case &c : cases)
        EXPECT_EQ(OnGrid(c.samples, c.rate), c.step) << c.samples << " at " << c.rate;
}

TEST_F(Player, PlaysWhatTheDecoderWritesAndFilesBackToBack)
{
    const std::string a = data + "/mpeg1-44100-stereo.mp3", b = data + "/tag-picture.mp3";
    ASSERT_EQ(Shell(Play("-q " + a)), 0);
    EXPECT_EQ(ReadFile(dir + "/played.raw"), Decode(a));

    // gapless files of one format play on without a break; a file that is
    // not MPEG audio is passed over (the output stage's error feedback goes
    // on from one file into the next: within 1 LSB after the first)
    WriteFile(dir + "/notes.txt", Text(std::string(3000, 'x')));
    EXPECT_EQ(Shell(Play("-q " + a + " " + dir + "/notes.txt " + b + " 2> " + dir + "/err.txt")), 2);
    Bytes both = Decode(a);
    const Bytes second = Decode(b);
    both.insert(both.end(), second.begin(), second.end());
    const Bytes played = ReadFile(dir + "/played.raw");
    ASSERT_EQ(played.size(), both.size());
    EXPECT_TRUE(std::equal(played.begin(), played.begin() + static_cast<long>(second.size()), both.begin()));
    EXPECT_LE(MaxDifference(played, both), 1);
    const Bytes err = ReadFile(dir + "/err.txt");
    EXPECT_NE(std::string(err.begin(), err.end()).find("no MPEG audio frames found in"), std::string::npos);

    // a device that cannot be had is an error of its own
    EXPECT_EQ(Shell(Play("-q -D no-such-device " + a) + " 2> " + dir + "/err.txt"), 3);  // the last -D counts
    const Bytes device = ReadFile(dir + "/err.txt");
    EXPECT_NE(std::string(device.begin(), device.end()).find("cannot open audio device 'no-such-device'"),
              std::string::npos);
}

// The rows of a screen, trailing blanks dropped.
std::vector<std::string> Rows(const std::string &screen)
{
    std::vector<std::string> rows;
    size_t from = 0;
    for (size_t end; (end = screen.find('\n', from)) != std::string::npos; from = end + 1)
        rows.push_back(screen.substr(from, end - from));
    while (!rows.empty() && rows.back().find_first_not_of(' ') == std::string::npos)
        rows.pop_back();
    return rows;
}

// Columns of UTF-8 text of narrow characters: its code points.
size_t Columns(const std::string &row)
{
    return static_cast<size_t>(std::count_if(row.begin(), row.end(), [](char c) { return (c & 0xc0) != 0x80; }));
}

// Rows that show a status line's clock.
size_t StatusRows(const std::string &screen)
{
    const std::vector<std::string> rows = Rows(screen);
    return static_cast<size_t>(
        std::count_if(rows.begin(), rows.end(), [](const std::string &r) { return r.find(" / 0:0") != std::string::npos; }));
}

TEST_F(Player, TheStatusLineFitsANarrowTerminalAndFollowsItsWidth)
{
    // an untagged file deep in folders: its path alone is wider than the terminal
    WriteFile(dir + "/song.wav", Wav(Signal(44100, 2, 44100 * 6), 44100));
    const std::string folder = dir + "/Music from the shelf/A rather long album name (deluxe edition)";
    ASSERT_EQ(Shell("mkdir -p '" + folder + "' && lame --quiet -b 128 " + dir + "/song.wav '" + folder +
                    "/01 untagged song.mp3'"),
              0);
    WriteFile(dir + "/notes.txt", Text(std::string(3000, 'x')));
    const std::string song = "'" + folder + "/01 untagged song.mp3'";
    Start(Play(song + " " + dir + "/notes.txt " + song), 40);
    ASSERT_TRUE(WaitFor("0:02.")) << Screen();
    // one row of status, refreshed in place, no wider than the terminal: the
    // file's name, not its folders, cut with an ellipsis
    std::string screen = Screen();
    EXPECT_EQ(StatusRows(screen), 1u) << screen;
    for (const std::string &row : Rows(screen))
        EXPECT_LT(Columns(row), 40u) << row;
    EXPECT_NE(screen.find("> 01 untag\xe2\x80\xa6  0:0"), std::string::npos) << screen;
    EXPECT_EQ(screen.find("Music"), std::string::npos) << screen;

    // narrower still: the line follows
    Shell("tmux -L " + Socket() + " resize-window -x 30");
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    screen = Screen();
    EXPECT_EQ(StatusRows(screen), 1u) << screen;
    for (const std::string &row : Rows(screen))
        EXPECT_LT(Columns(row), 30u) << row;

    // the file that is passed over is named on a row of its own, which stays
    // while the next file plays
    for (int i = 0; i < 400 && Screen(true).find("no MPEG audio frames found in") == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_NE(Screen(true).find("no MPEG audio frames found in"), std::string::npos) << Screen();
    screen = Screen();
    EXPECT_LE(StatusRows(screen), 2u) << screen;  // the first file's last, and the one playing
    Keys("q");
}

// A file that fails to read is named for it, at the start or while it
// plays (not taken for its end): what came before is played, the next file
// plays on, and the exit status says a file could not be played.
TEST_F(Player, ReadErrorsAreSaidAndNotTakenForTheEnd)
{
    WriteFile(dir + "/song.wav", Wav(Signal(44100, 2, 44100 * 6), 44100));
    ASSERT_EQ(Shell("lame --quiet -b 320 " + dir + "/song.wav " + dir + "/song.mp3"), 0);
    const std::string err = dir + "/err.txt";
    const auto message = [&]() {
        const Bytes b = ReadFile(err);
        return std::string(b.begin(), b.end());
    };
    // reading offset 0 of the process's own memory file fails (EIO)
    EXPECT_EQ(Shell(Play("-q /proc/self/mem " + data + "/mpeg1-44100-stereo.mp3 2> " + err)), 2);
    EXPECT_EQ(message(), "vorlix-play: read error in '/proc/self/mem'\n");
    EXPECT_EQ(ReadFile(dir + "/played.raw"), Decode(data + "/mpeg1-44100-stereo.mp3"));
    EXPECT_EQ(Shell(Play("-q " + dir + "/none.mp3 2> " + err)), 2);
    EXPECT_EQ(message(), "vorlix-play: cannot open '" + dir + "/none.mp3': No such file or directory\n");

    // standard input, a socket that fails 3 s into the song
    EXPECT_EQ(Shell(WithFailingInput(dir, Play("-q - 2> " + err), dir + "/song.mp3", 120000)), 2);
    const std::string said = message();
    EXPECT_EQ(said.rfind("vorlix-play: read error in '-' after 0:0", 0), 0u) << said;
    const Bytes played = ReadFile(dir + "/played.raw"), whole = Decode(dir + "/song.mp3");
    EXPECT_GT(played.size(), whole.size() / 4);
    EXPECT_LT(played.size(), whole.size() * 3 / 4);
    EXPECT_TRUE(std::equal(played.begin(), played.end(), whole.begin()));
}

TEST_F(Player, KeysSeekSwitchTheEqualizerAndQuit)
{
    // 25 s of a signal, gapless
    WriteFile(dir + "/song.wav", Wav(Signal(44100, 2, 44100 * 25), 44100));
    ASSERT_EQ(Shell("lame --quiet -b 128 " + dir + "/song.wav " + dir + "/song.mp3"), 0);
    const std::string song = dir + "/song.mp3";
    Start("stty -g > " + dir + "/before; " + Play(song) + "; echo \\$? > " + dir + "/status; stty -g > " + dir +
          "/after");
    ASSERT_TRUE(WaitFor("0:01."));
    // while it plays, the terminal reads keys one by one, without echo
    Shell("stty -a < $(tmux -L " + Socket() + " display -p '#{pane_tty}') > " + dir + "/flags.txt");
    const Bytes flags = ReadFile(dir + "/flags.txt");
    const std::string modes(flags.begin(), flags.end());
    EXPECT_NE(modes.find("-echo "), std::string::npos) << modes;
    EXPECT_NE(modes.find("-icanon"), std::string::npos) << modes;
    Keys("Right");
    ASSERT_TRUE(WaitFor("seek to 0:1"));
    const size_t first = Landing();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    Keys("Left");
    ASSERT_TRUE(WaitFor("seek to 0:0"));
    const size_t second = Landing();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    Keys("e");
    ASSERT_TRUE(WaitFor("[bass]"));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    Keys("q");
    ASSERT_TRUE(WaitFor(dir + "/after", true));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(ReadFile(dir + "/status"), Text("0\n"));
    EXPECT_EQ(ReadFile(dir + "/before"), ReadFile(dir + "/after"));  // the terminal as it was

    // each seek lands where the status line says: what follows is the
    // decode's stretch from there, for half a second at least
    const std::vector<int16_t> played = Samples(ReadFile(dir + "/played.raw"));
    const std::vector<int16_t> plain = Samples(Decode(song)), bass = Samples(Decode("--eq-preset bass " + song));
    EXPECT_GT(first, 10u * 44100);
    EXPECT_LT(second, first);
    const size_t afterFirst = Find(played, plain, first, 22050);
    const size_t afterSecond = Find(played, plain, second, 22050);
    ASSERT_NE(afterFirst, SIZE_MAX);
    ASSERT_NE(afterSecond, SIZE_MAX);
    // what precedes each landing in the played bytes came from before the
    // seek, not from the stretch just before the landing (a seek that
    // forgot the start trim would land 1,105 samples early)
    for (const auto &[at, landing] : {std::pair{afterFirst, first}, std::pair{afterSecond, second}}) {
        ASSERT_GT(at, 1200u);
        size_t same = 0;
        for (size_t i = 1; i <= 1105; ++i)
            same += std::abs(played[2 * (at - i)] - plain[2 * (landing - i)]) <= 1;
        EXPECT_LT(same, 500u) << landing;
    }
    EXPECT_LT(afterFirst, afterSecond);
    // from the key on the equalizer is in: where the plain decode stops
    // matching, the bass decode takes over from the next frame
    size_t change = afterSecond;
    while (2 * change + 1 < played.size() &&
           std::abs(played[2 * change] - plain[2 * (second + change - afterSecond)]) <= 1 &&
           std::abs(played[2 * change + 1] - plain[2 * (second + change - afterSecond) + 1]) <= 1)
        ++change;
    ASSERT_LT(2 * change + 1, played.size());
    EXPECT_GT(change - afterSecond, 22050u);  // plain play before the key
    const size_t from = change + 2 * 1152, length = std::min<size_t>(4410, played.size() / 2 - from);
    for (size_t i = 0; i < length; ++i)
        ASSERT_LE(std::abs(played[2 * (from + i)] - bass[2 * (second + from + i - afterSecond)]), 1) << i;
}

TEST_F(Player, SignalsRestoreTheTerminal)
{
    WriteFile(dir + "/song.wav", Wav(Signal(44100, 2, 44100 * 10), 44100));
    ASSERT_EQ(Shell("lame --quiet -b 128 " + dir + "/song.wav " + dir + "/song.mp3"), 0);
    for (const char *signal : {"INT", "TERM"}) {
        SCOPED_TRACE(signal);
        std::remove((dir + "/after").c_str());
        Start("stty -g > " + dir + "/before; " + Play(dir + "/song.mp3") + "; echo \\$? > " + dir +
              "/status; stty -g > " + dir + "/after");
        ASSERT_TRUE(WaitFor("0:01."));
        // to the player alone: the child of the terminal's shell
        Shell(std::string("pkill -") + signal + " -x -P $(tmux -L " + Socket() + " display -p '#{pane_pid}') vorlix-play");
        ASSERT_TRUE(WaitFor(dir + "/after", true));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_EQ(ReadFile(dir + "/status"), Text(std::string(signal) == "INT" ? "130\n" : "143\n"));
        EXPECT_EQ(ReadFile(dir + "/before"), ReadFile(dir + "/after"));
        Shell("tmux -L " + Socket() + " kill-server");
    }
}

// The next file is made ready while one plays; an equalizer switched on
// meanwhile is in from the next file's first sample, and a file chosen
// with a key plays from its start.
TEST_F(Player, TheNextFileStartsAsTheKeysLeftThePlayer)
{
    WriteFile(dir + "/song.wav", Wav(Signal(44100, 2, 44100 * 4), 44100));
    ASSERT_EQ(Shell("lame --quiet -b 128 " + dir + "/song.wav " + dir + "/song.mp3"), 0);
    const std::string song = dir + "/song.mp3", next = data + "/loud-clipping.mp3";
    Start(Play(song + " " + next) + "; echo \\$? > " + dir + "/status");
    ASSERT_TRUE(WaitFor("0:01."));
    Keys("e");
    ASSERT_TRUE(WaitFor("[bass]"));
    ASSERT_TRUE(WaitFor(dir + "/status", true));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(ReadFile(dir + "/status"), Text("0\n"));
    // the played bytes end with the next file's decode with the curve on
    const Bytes played = ReadFile(dir + "/played.raw"), bass = Decode("--eq-preset bass " + next);
    ASSERT_GT(played.size(), bass.size());
    EXPECT_LE(MaxDifference(Bytes(played.end() - static_cast<long>(bass.size()), played.end()), bass), 1);

    // n while the first file plays: the second from its start (the third
    // made ready meanwhile), then the first again with p
    const std::string third = data + "/mpeg1-44100-stereo.mp3";
    std::remove((dir + "/played.raw").c_str());
    std::remove((dir + "/status").c_str());
    Shell("tmux -L " + Socket() + " kill-server");
    Start(Play(song + " " + next + " " + third) + "; echo \\$? > " + dir + "/status");
    ASSERT_TRUE(WaitFor("0:01."));
    Keys("n");
    ASSERT_TRUE(WaitFor("loud-clipping"));
    Keys("p");
    ASSERT_TRUE(WaitFor(dir + "/status", true));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(ReadFile(dir + "/status"), Text("0\n"));
    // the last thing played: the three files whole, in order
    Bytes both = Decode(song);
    for (const std::string &file : {next, third}) {
        const Bytes more = Decode(file);
        both.insert(both.end(), more.begin(), more.end());
    }
    const Bytes played2 = ReadFile(dir + "/played.raw");
    ASSERT_GT(played2.size(), both.size());
    EXPECT_LE(MaxDifference(Bytes(played2.end() - static_cast<long>(both.size()), played2.end()), both), 1);
}

TEST_F(Player, ShowsTheTitleInFullUnicodeAndNoTerminalControls)
{
    WriteFile(dir + "/song.wav", Wav(Signal(44100, 2, 44100 * 4), 44100));
    ASSERT_EQ(Shell("lame --quiet -b 128 " + dir + "/song.wav " + dir + "/song.mp3"), 0);
    Bytes file = Id3v2({{"TIT2", "\xed\x95\x9c\xea\xb5\xad\xec\x96\xb4 \xec\xa0\x9c\xeb\xaa\xa9"},  // Korean
                        {"TPE1", "\x1b]2;renamed\x07" "Band\x1b[2J\r"}},
                       true);
    const Bytes song = ReadFile(dir + "/song.mp3");
    file.insert(file.end(), song.begin(), song.end());
    WriteFile(dir + "/first.mp3", file);
    Start(Play(dir + "/first.mp3"));
    // the first file's title as the tag has it, not the library's Latin-1 text
    ASSERT_TRUE(WaitFor("> \xed\x95\x9c\xea\xb5\xad\xec\x96\xb4 \xec\xa0\x9c\xeb\xaa\xa9 - ")) << Screen();
    // the controls are shown, not obeyed: no clearing, no new window title
    ASSERT_TRUE(WaitFor("]2;renamed\xef\xbf\xbd" "Band\xef\xbf\xbd[2J\xef\xbf\xbd")) << Screen();
    Shell("tmux -L " + Socket() + " display -p '#{pane_title}' > " + dir + "/title.txt");
    const Bytes title = ReadFile(dir + "/title.txt");
    EXPECT_EQ(std::string(title.begin(), title.end()).find("renamed"), std::string::npos);
    Keys("q");
}

} // namespace
