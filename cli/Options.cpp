// SPDX-License-Identifier: GPL-2.0-or-later
#include "Options.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <getopt.h>
#include <sstream>
#include <thread>
#include <vector>

#include "vorlixfile.h"

namespace {

const char *const usage =
    "Usage: vorlix-decode [OPTIONS] INPUT...\n"
    "Decodes MP3 streams (MPEG-1, MPEG-2 or MPEG-2.5 Layer III) to 16-bit PCM.\n"
    "\n"
    "Each INPUT (a file, or - for standard input) is decoded to INPUT with its\n"
    "extension replaced by .wav (.pcm with --raw), or to standard output when\n"
    "INPUT is -: one after another, or several at once with --jobs. Tags (ID3v2,\n"
    "ID3v1, APEv2, Lyrics3v2) are never decoded as audio; MP3 inside a RIFF/WAVE\n"
    "file is decoded from its data chunk. When the format changes part-way, the\n"
    "output keeps the first frame's rate and channels.\n"
    "An input, or an existing file that holds MPEG audio, is never overwritten.\n"
    "\n"
    "Options:\n"
    "  -o, --output FILE     write to FILE, - for standard output (one INPUT only)\n"
    "  -n, --no-clobber      leave existing output files alone\n"
    "  -r, --raw             write headerless little-endian PCM instead of WAV\n"
    "  -T, --info            print the stream's format, length, encoder and tags;\n"
    "                        do not decode\n"
    "      --json            the same as --info, as one JSON object (also -j,\n"
    "                        where no number follows it)\n"
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
    "  -j, --jobs N          decode N inputs at once, one thread each (default 1;\n"
    "                        0: one per processor core; at most 64); outputs,\n"
    "                        messages and exit status are those of one at a time\n"
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

// Whether the value getopt just gave came with --jobs rather than -j.
bool LongJobs(char **argv)
{
    const char *element = argv[optind - 1];
    if (optarg != element)  // --jobs=N, or -jN
        return std::strncmp(element, "--", 2) == 0;
    return optind >= 2 && std::strncmp(argv[optind - 2], "--", 2) == 0;
}

// Hands what getopt took for -j's value back to it, to be read again: the
// next argument, or the rest of a cluster of short options.
void GiveBack(char **argv)
{
    static std::deque<std::string> rests;  // argv points into them to the end
    if (optarg != argv[optind - 1]) {
        rests.push_back(std::string("-") + optarg);
        argv[optind - 1] = rests.back().data();
    }
    --optind;
}

// -j's value: 1 to maxJobs, or 0 for one per processor core.
int Jobs(const std::string &text)
{
    long v;
    if (!ParseWhole(text, 0, maxJobs, v))
        Fail("invalid number of jobs '" + text + "'; give 0 (one per processor core) to " + std::to_string(maxJobs));
    if (v > 0)
        return static_cast<int>(v);
    const unsigned cores = std::thread::hardware_concurrency();
    return std::clamp(static_cast<int>(cores), 1, maxJobs);
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
    for (int i = 0; i < vf_rate_count(); ++i)
        if (vf_rate_at(i) == rate)
            return true;
    return false;
}

std::string RateList()
{
    std::string list;
    for (int i = 0; i < vf_rate_count(); ++i)
        list += (i > 0 ? ", " : "") + std::to_string(vf_rate_at(i));
    return list;
}

std::string PresetList()
{
    std::string list;
    for (int i = 0; i < vf_eq_preset_count(); ++i)
        list += (i > 0 ? ", " : "") + std::string(vf_eq_preset_name(i));
    return list;
}

Options ParseOptions(int argc, char **argv)
{
    static const option longOptions[] = {
        {"output", required_argument, nullptr, 'o'},
        {"no-clobber", no_argument, nullptr, 'n'},
        {"raw", no_argument, nullptr, 'r'},
        {"info", no_argument, nullptr, 'T'},
        {"json", no_argument, nullptr, 'J'},
        {"jobs", required_argument, nullptr, 'j'},
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
    while ((c = getopt_long(argc, argv, ":o:nrTj:Gs:t:R:e:E:qhV", longOptions, nullptr)) != -1) {
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
        case 'J':
            o.info = o.json = true;
            break;
        case 'j':
            if ((arg.empty() || arg.find_first_not_of("0123456789") != std::string::npos) && !LongJobs(argv)) {
                // no number: the short form of --json, as -j was before
                // --jobs; what followed it is read again
                o.info = o.json = true;
                GiveBack(argv);
                break;
            }
            o.jobs = Jobs(arg);
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
                Fail("unsupported rate '" + arg + "'; supported rates: " + RateList());
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
            if (vf_eq_preset(arg.c_str(), o.bands) != 0)
                Fail("unknown equalizer preset '" + arg + "'; presets: " + PresetList());
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
            if (optopt == 'j' && argv[optind - 1][1] != '-') {  // -j at the end: --json
                o.info = o.json = true;
                break;
            }
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
