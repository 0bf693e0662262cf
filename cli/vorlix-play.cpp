// SPDX-License-Identifier: GPL-2.0-or-later
// vorlix-play: plays MP3 files through ALSA, one frame at a time, with keys
// for pause, seeking, the equalizer and the next or previous file.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <getopt.h>
#include <memory>
#include <string>
#include <vector>

#include "AlsaOutput.h"
#include "Display.h"
#include "Io.h"
#include "Options.h"
#include "SeekGrid.h"
#include "Terminal.h"
#include "vorlixfile.h"

namespace {

const char *const usage =
    "Usage: vorlix-play [OPTIONS] FILE...\n"
    "Plays MP3 files (MPEG-1, MPEG-2 or MPEG-2.5 Layer III) one after another\n"
    "through ALSA, gapless where the files say how.\n"
    "\n"
    "Options:\n"
    "  -D, --device NAME     ALSA device (default: default)\n"
    "  -R, --rate HZ         play at HZ, converted by the decoder: 8000, 11025,\n"
    "                        12000, 16000, 22050, 24000, 32000, 44100 or 48000\n"
    "  -E, --eq-preset NAME  start with an equalizer curve: flat, bass, treble,\n"
    "                        voice, loudness\n"
    "  -G, --no-gapless      keep the encoder's delay and padding\n"
    "  -q, --quiet           no status line and no keys\n"
    "  -h, --help            print this help\n"
    "  -V, --version         print the version\n"
    "\n"
    "Keys: space pause/resume, left/right seek 10 s, down/up seek 60 s,\n"
    "e next equalizer curve, +/- preamp by 1 dB, n/p next/previous file, q quit.\n"
    "\n"
    "Exit status: 0 success, 1 bad options, 2 a file could not be played,\n"
    "3 the audio device failed, 128+N ended by signal N.\n";

// The equalizer curves that `e` goes through; the first is "off".
const char *const curves[] = {"off", "bass", "treble", "voice", "loudness", "flat"};
constexpr int curveCount = 6;

struct PlayOptions {
    std::vector<std::string> files;
    std::string device = "default";
    int32_t rate = 0;
    bool quiet = false;
    bool gapless = true;
    int curve = 0;
};

[[noreturn]] void Usage(const std::string &message)
{
    std::fprintf(stderr, "vorlix-play: %s\nTry 'vorlix-play --help'.\n", message.c_str());
    std::exit(exitUsage);
}

PlayOptions Parse(int argc, char **argv)
{
    static const option longOptions[] = {
        {"device", required_argument, nullptr, 'D'}, {"rate", required_argument, nullptr, 'R'},
        {"eq-preset", required_argument, nullptr, 'E'}, {"no-gapless", no_argument, nullptr, 'G'},
        {"quiet", no_argument, nullptr, 'q'},           {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},         {nullptr, 0, nullptr, 0},
    };
    PlayOptions o;
    opterr = 0;
    int c;
    while ((c = getopt_long(argc, argv, ":D:R:E:GqhV", longOptions, nullptr)) != -1) {
        const std::string arg = optarg ? optarg : "";
        switch (c) {
        case 'D':
            o.device = arg;
            break;
        case 'R':
            o.rate = static_cast<int32_t>(std::atoi(arg.c_str()));
            if (!SupportedRate(o.rate) || std::to_string(o.rate) != arg)
                Usage("unsupported rate '" + arg + "'");
            break;
        case 'E':
            o.curve = -1;
            for (int i = 1; i < curveCount; ++i)
                if (arg == curves[i])
                    o.curve = i;
            if (o.curve < 0)
                Usage("unknown equalizer preset '" + arg + "'; presets: flat, bass, treble, voice, loudness");
            break;
        case 'G':
            o.gapless = false;
            break;
        case 'q':
            o.quiet = true;
            break;
        case 'h':
            std::fputs(usage, stdout);
            std::exit(exitOk);
        case 'V':
            std::printf("vorlix-play %s\n", VORLIX_VERSION);
            std::exit(exitOk);
        case ':':
            Usage(std::string("option '") + argv[optind - 1] + "' needs a value");
        default:
            Usage(std::string("unknown option '") + argv[optind - 1] + "'");
        }
    }
    o.files.assign(argv + optind, argv + argc);
    if (o.files.empty())
        Usage("no file given");
    return o;
}

enum class Outcome { Ended, Next, Previous, Quit, Unplayable, DeviceFailed };

// The player's state across files: the device, the terminal, the equalizer.
struct Player {
    PlayOptions options;
    Terminal terminal;
    AlsaOutput audio;
    int8_t bands[11] = {};
    int curve = 0;
    int preamp = 0;  // dB added to the curve's own preamp
    std::string error;

    bool EqOn() const { return curve != 0; }

    // The curve's bands with the preamp on top.
    void SetBands()
    {
        PresetBands(curves[curve == 0 ? curveCount - 1 : curve], bands);
        bands[10] = static_cast<int8_t>(std::clamp(bands[10] + preamp, -128, 127));
    }

    // During decoding the equalizer changes from the next frame on.
    void ApplyEqualizer()
    {
        SetBands();
        if (current != nullptr)
            vf_set_equalizer(current, EqOn() ? bands : nullptr);
    }

    VorlixFile *current = nullptr;  // the file playing

    Outcome Play(const std::string &name);
};

Outcome Player::Play(const std::string &name)
{
    int code = 0;
    const std::unique_ptr<VorlixFile, decltype(&vf_free)> f(vf_open_file(name.c_str(), &code), vf_free);
    const int openErrno = errno;  // what VF_EOPEN means; nothing else is told by errno
    std::string quoted = "'";
    quoted += Printable(name);
    quoted += '\'';
    VorlixFileInfo info;
    if (f != nullptr)
        code = vf_info(f.get(), &info);
    if (code != 0) {
        // on a line of its own, which the next file's status line leaves be
        terminal.EndStatus();
        std::fprintf(stderr, "vorlix-play: %s\n", InputFailure(quoted, code, openErrno).c_str());
        return Outcome::Unplayable;
    }
    // shown without anything that steers the terminal
    const auto tag = [&](const char *key) {
        const char *v = vf_tag(f.get(), key);
        return Printable(v != nullptr ? v : "");
    };
    const std::string title = tag("TITLE"), artist = tag("ARTIST");
    vf_set_gapless(f.get(), options.gapless);
    if (options.rate != 0)
        vf_set_output(f.get(), options.rate, 0);
    const int32_t rate = vf_rate(f.get()), channels = vf_channels(f.get());
    if (!audio.IsOpen() || !audio.Matches(rate, channels)) {
        audio.Close(true);
        if (!audio.Open(options.device, rate, channels, error))
            return Outcome::DeviceFailed;
    }
    current = f.get();
    struct Forget {
        VorlixFile *&current;
        ~Forget() { current = nullptr; }
    } forget{current};
    ApplyEqualizer();
    const int64_t length = vf_length(f.get());
    const uint64_t total = length > 0 ? static_cast<uint64_t>(length) : 0;

    uint64_t base = 0;      // output position where the timeline starts
    uint64_t written = 0;   // samples written since
    bool paused = false, clipping = false;
    std::string message;
    // a frame's worth at a time, so that keys are read between frames
    constexpr int chunk = 1152;
    std::vector<int16_t> pcm(static_cast<size_t>(chunk) * static_cast<size_t>(channels));
    std::vector<uint8_t> ready;
    auto lastStatus = std::chrono::steady_clock::now() - std::chrono::seconds(1);

    const auto position = [&]() {
        const int64_t heard = static_cast<int64_t>(base + written) - audio.Queued();
        return static_cast<uint64_t>(std::max<int64_t>(heard, static_cast<int64_t>(base)));
    };
    const auto status = [&](bool now) {
        const auto t = std::chrono::steady_clock::now();
        if (options.quiet || (!now && t - lastStatus < std::chrono::milliseconds(100)))
            return;
        lastStatus = t;
        // what plays, then where and how: where the line is wider than the
        // terminal, the title (or the file's name, without its folders)
        // gives way, cut with an ellipsis
        std::string what = title.empty() ? Printable(BaseName(name)) : title;
        if (!artist.empty())
            what += " - " + artist;
        std::string line = "  " + Clock(position(), rate);
        if (total > 0)
            line += " / " + Clock(total, rate);
        line += std::string("  [") + curves[curve];
        if (EqOn() && preamp != 0)
            line += (preamp > 0 ? " +" : " ") + std::to_string(preamp) + " dB";
        line += "]";
        if (clipping)
            line += "  CLIP";
        if (!message.empty())
            line += "  " + message;
        const std::string mark = paused ? "|| " : "> ";
        // a few columns of it stay; past them the terminal's edge cuts the rest
        const size_t width = terminal.Width(), rest = Columns(mark) + Columns(line);
        what = Fit(what, width > rest + 8 ? width - rest : 8);
        terminal.Status(mark + what + line);
    };
    const auto seekTo = [&](int64_t target) {
        const uint64_t to = std::min(OnGrid(target, rate), total > 0 ? OnGrid(static_cast<int64_t>(total) - rate / 25, rate) : 0);
        if (vf_seek(f.get(), static_cast<int64_t>(to)) != 0)
            return;  // a stream: no seeking
        audio.Drop();
        base = to;
        written = 0;
        message = "seek to " + Clock(to, rate);
    };

    for (;;) {
        const auto wait = paused ? std::chrono::milliseconds(100) : audio.WaitBeforeWrite();
        const Key key = terminal.Read(wait);
        switch (key) {
        case Key::Space:
            paused = !paused;
            audio.Pause(paused);
            break;
        case Key::Left:
            seekTo(static_cast<int64_t>(position()) - 10 * rate);
            break;
        case Key::Right:
            seekTo(static_cast<int64_t>(position()) + 10 * rate);
            break;
        case Key::Down:
            seekTo(static_cast<int64_t>(position()) - 60 * rate);
            break;
        case Key::Up:
            seekTo(static_cast<int64_t>(position()) + 60 * rate);
            break;
        case Key::Equalizer:
            curve = (curve + 1) % curveCount;
            ApplyEqualizer();
            break;
        case Key::Louder:
        case Key::Softer:
            // the preamp works through the equalizer: switched on flat if it was off
            preamp = std::clamp(preamp + (key == Key::Louder ? 1 : -1), -30, 18);
            if (curve == 0)
                curve = curveCount - 1;  // flat
            ApplyEqualizer();
            break;
        case Key::Next:
            audio.Drop();
            return Outcome::Next;
        case Key::Previous:
            audio.Drop();
            return Outcome::Previous;
        case Key::Quit:
            audio.Drop();
            return Outcome::Quit;
        case Key::None:
            break;
        }
        status(false);
        if (paused || audio.WaitBeforeWrite().count() > 0)
            continue;
        const int n = vf_read(f.get(), pcm.data(), chunk);
        if (n < 0) {
            // a failed read is not the end of the file: said, and the file counts as not played
            terminal.EndStatus();
            std::fprintf(stderr, "vorlix-play: %s after %s\n", InputFailure(quoted, n, 0).c_str(),
                         Clock(base + written, rate).c_str());
            return Outcome::Unplayable;
        }
        if (n == 0)
            break;
        // full scale with the equalizer on: the automatic gain reduction is at work
        clipping = false;
        for (size_t i = 0; EqOn() && i < static_cast<size_t>(n) * static_cast<size_t>(channels); ++i)
            clipping = clipping || pcm[i] == INT16_MAX || pcm[i] == INT16_MIN;
        ready.resize(static_cast<size_t>(n) * static_cast<size_t>(channels) * 2);
        for (size_t i = 0; i < ready.size() / 2; ++i) {
            ready[2 * i] = static_cast<uint8_t>(pcm[i] & 0xff);
            ready[2 * i + 1] = static_cast<uint8_t>((static_cast<uint16_t>(pcm[i]) >> 8) & 0xff);
        }
        if (!audio.Write(ready.data(), static_cast<size_t>(n), error))
            return Outcome::DeviceFailed;
        written += static_cast<uint64_t>(n);
    }
    return Outcome::Ended;
}

} // namespace

int main(int argc, char **argv)
{
    Player player;
    player.options = Parse(argc, argv);
    player.curve = player.options.curve;
    if (!player.options.quiet)
        player.terminal.Start();
    OnSignalRestore(&player.terminal, nullptr);

    int status = exitOk;
    const auto &files = player.options.files;
    for (size_t i = 0; i < files.size();) {
        switch (player.Play(files[i])) {
        case Outcome::Previous:
            i = i > 0 ? i - 1 : 0;
            continue;
        case Outcome::Quit:
            i = files.size();
            continue;
        case Outcome::Unplayable:
            status = std::max(status, static_cast<int>(exitInput));
            break;
        case Outcome::DeviceFailed:
            player.terminal.Restore();
            std::fprintf(stderr, "vorlix-play: %s\n", player.error.c_str());
            return exitOutput;
        case Outcome::Ended:
        case Outcome::Next:
            break;
        }
        ++i;
    }
    player.audio.Close(true);
    player.terminal.Restore();
    return status;
}
