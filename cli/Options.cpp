// SPDX-License-Identifier: GPL-2.0-or-later
#include "Options.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <getopt.h>
#include <sstream>
#include <vector>

namespace {

const char *const usage =
    "Usage: vorlix-decode [OPTIONS] INPUT...\n"
    "Decodes MP3 streams (MPEG-1, MPEG-2 or MPEG-2.5 Layer III) to 16-bit PCM.\n"
    "\n"
    "Each INPUT (a file, or - for standard input) is decoded in turn to INPUT with\n"
    "its extension replaced by .wav (.pcm with --raw), or to standard output when\n"
    "INPUT is -. Tags (ID3v2, ID3v1, APEv2, Lyrics3v2) are never decoded as audio;\n"
    "MP3 inside a RIFF/WAVE file is decoded from its data chunk. When the format\n"
    "changes part-way, the output keeps the first frame's rate and channels.\n"
    "An input, or an existing file that holds MPEG audio, is never overwritten.\n"
    "\n"
    "Options:\n"
    "  -o, --output FILE     write to FILE, - for standard output (one INPUT only)\n"
    "  -n, --no-clobber      leave existing output files alone\n"
    "  -r, --raw             write headerless little-endian PCM instead of WAV\n"
    "  -T, --info            print the stream's format, length, encoder and tags;\n"
    "                        do not decode\n"
    "  -j, --json            the same as --info, as one JSON object\n"
    "  -G, --no-gapless      keep the encoder's delay and padding (every decoded\n"
    "                        sample but the header frame's)\n"
    "  -s, --start TIME      start decoding TIME into the stream\n"
    "  -t, --time DURATION   decode only DURATION of audio\n"
    "  -R, --rate HZ         convert to HZ: 8000, 11025, 12000, 16000, 22050,\n"
    "                        24000, 32000, 44100 or 48000\n"
    "  -e, --eq B0,...,B9,PRE\n"
    "                        equalizer: ten band levels (low to high) and a\n"
    "                        preamp, whole dB from -128 to 127, capped at +18 in all\n"
    "  -E, --eq-preset NAME  equalizer curve: flat, bass, treble, voice, loudness\n"
    "  -q, --quiet           print nothing but errors\n"
    "  -h, --help            print this help\n"
    "  -V, --version         print the version\n"
    "\n"
    "TIME and DURATION are seconds (90, 12.5) or [HH:]MM:SS[.ddd] (1:30, 0:01:02.5),\n"
    "counted in the output as written (after the gapless trims); a start is exact\n"
    "to the sample.\n"
    "\n"
    "Gapless: a LAME header frame gives the encoder's delay and padding; the start\n"
    "loses delay + 529 samples and the end padding - 529, so that the output is as\n"
    "long as the encoder's input. The header frame is never output.\n"
    "\n"
    "Exit status: 0 success, 1 bad options, 2 input unreadable or without MPEG\n"
    "audio, 3 output not writable or refused, 128+N killed by signal N; with\n"
    "several inputs, the highest status of any of them.\n";

[[noreturn]] void Fail(const std::string &message)
{
    std::fprintf(stderr, "vorlix-decode: %s\nTry 'vorlix-decode --help'.\n", message.c_str());
    std::exit(exitUsage);
}

bool ParseNumber(const std::string &text, double &value)
{
    if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos ||
        std::count(text.begin(), text.end(), '.') > 1 || text == ".")
        return false;
    value = std::strtod(text.c_str(), nullptr);
    return std::isfinite(value);
}

bool ParseWhole(const std::string &text, long lo, long hi, long &value)
{
    if (text.empty())
        return false;
    errno = 0;
    char *end = nullptr;
    value = std::strtol(text.c_str(), &end, 10);
    return errno == 0 && *end == '\0' && value >= lo && value <= hi;
}

} // namespace

std::optional<double> ParseTime(const std::string &text)
{
    std::vector<std::string> parts;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, ':');)
        parts.push_back(part);
    if (parts.empty() || parts.size() > 3 || text.back() == ':')
        return std::nullopt;
    double seconds = 0;
    for (size_t i = 0; i < parts.size(); ++i) {
        double v;
        const bool last = i + 1 == parts.size();
        if (!ParseNumber(parts[i], v) || (!last && parts[i].find('.') != std::string::npos))
            return std::nullopt;
        if (parts.size() > 1 && i > 0 && v >= 60)
            return std::nullopt;
        seconds = seconds * 60 + v;
    }
    return seconds;
}

bool ParseBands(const std::string &text, int8_t bands[11])
{
    std::vector<std::string> parts;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, ',');)
        parts.push_back(part);
    if (parts.size() != 11 || text.back() == ',')
        return false;
    for (size_t i = 0; i < 11; ++i) {
        long v;
        if (!ParseWhole(parts[i], -128, 127, v))
            return false;
        bands[i] = static_cast<int8_t>(v);
    }
    return true;
}

bool SupportedRate(int32_t rate)
{
    for (int32_t r : {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000})
        if (r == rate)
            return true;
    return false;
}

Options ParseOptions(int argc, char **argv)
{
    static const option longOptions[] = {
        {"output", required_argument, nullptr, 'o'},
        {"no-clobber", no_argument, nullptr, 'n'},
        {"raw", no_argument, nullptr, 'r'},
        {"info", no_argument, nullptr, 'T'},
        {"json", no_argument, nullptr, 'j'},
        {"no-gapless", no_argument, nullptr, 'G'},
        {"start", required_argument, nullptr, 's'},
        {"time", required_argument, nullptr, 't'},
        {"rate", required_argument, nullptr, 'R'},
        {"eq", required_argument, nullptr, 'e'},
        {"eq-preset", required_argument, nullptr, 'E'},
        {"quiet", no_argument, nullptr, 'q'},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},
        {nullptr, 0, nullptr, 0},
    };
    Options o;
    opterr = 0;
    int c;
    while ((c = getopt_long(argc, argv, ":o:nrTjGs:t:R:e:E:qhV", longOptions, nullptr)) != -1) {
        const std::string arg = optarg ? optarg : "";
        switch (c) {
        case 'o':
            o.output = arg;
            break;
        case 'n':
            o.noClobber = true;
            break;
        case 'r':
            o.raw = true;
            break;
        case 'T':
            o.info = true;
            break;
        case 'j':
            o.info = o.json = true;
            break;
        case 'G':
            o.gapless = false;
            break;
        case 's': {
            const auto t = ParseTime(arg);
            if (!t)
                Fail("invalid start time '" + arg + "'");
            o.start = *t;
            break;
        }
        case 't': {
            const auto t = ParseTime(arg);
            if (!t)
                Fail("invalid duration '" + arg + "'");
            o.duration = *t;
            break;
        }
        case 'R': {
            long v;
            if (!ParseWhole(arg, 1, 1000000, v) || !SupportedRate(static_cast<int32_t>(v)))
                Fail("unsupported rate '" + arg + "'; supported rates: 8000, 11025, 12000, "
                     "16000, 22050, 24000, 32000, 44100, 48000");
            o.rate = static_cast<int32_t>(v);
            break;
        }
        case 'e':
            if (!ParseBands(arg, o.bands))
                Fail("invalid equalizer '" + arg + "': give eleven whole dB values from -128 "
                     "to 127, ten bands and a preamp, separated by commas");
            o.eq = true;
            break;
        case 'E':
            if (!PresetBands(arg.c_str(), o.bands))
                Fail("unknown equalizer preset '" + arg + "'; presets: flat, bass, treble, "
                     "voice, loudness");
            o.eq = true;
            break;
        case 'q':
            o.quiet = true;
            break;
        case 'h':
            std::fputs(usage, stdout);
            std::exit(exitOk);
        case 'V':
            std::printf("vorlix-decode %s\n", VORLIX_VERSION);
            std::exit(exitOk);
        case ':':
            Fail(std::string("option '") + argv[optind - 1] + "' needs a value");
        default:
            Fail(std::string("unknown option '") + argv[optind - 1] + "'");
        }
    }
    o.inputs.assign(argv + optind, argv + argc);
    if (o.inputs.empty())
        Fail("no input given");
    if (o.inputs.size() > 1 && !o.output.empty())
        Fail("-o names the output of one input; " + std::to_string(o.inputs.size()) + " were given");
    return o;
}
