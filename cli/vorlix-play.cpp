// SPDX-License-Identifier: GPL-2.0-or-later
// vorlix-play: plays MP3 files through ALSA, one frame at a time, with keys
// for pause, seeking, the equalizer and the next or previous file.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <getopt.h>
#include <string>

#include "Options.h"
#include "Player.h"
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
            for (int i = 1; i < CurveCount(); ++i)
                if (arg == CurveName(i))
                    o.curve = i;
            if (o.curve < 0)
                Usage("unknown equalizer preset '" + arg + "'; presets: " + PresetList());
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
        switch (player.Play(i)) {
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
