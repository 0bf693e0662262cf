// SPDX-License-Identifier: GPL-2.0-or-later
// Command line of vorlix-decode.
#ifndef VORLIX_CLI_OPTIONS_H
#define VORLIX_CLI_OPTIONS_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct Options {
    std::vector<std::string> inputs;  // file names, "-" for standard input
    std::string output;             // file name, "-" for standard output, "" for the default
    bool noClobber = false;         // leave existing outputs alone
    bool raw = false;               // headerless PCM instead of WAV
    bool info = false;              // print the stream's format and stop
    bool json = false;              // the same as one JSON object
    bool gapless = true;            // trim the encoder's delay and padding
    bool quiet = false;
    double start = 0.0;             // seconds to skip before decoding
    std::optional<double> duration; // seconds to decode
    int32_t rate = 0;               // output rate asked for, 0: the stream's own
    bool eq = false;
    int8_t bands[11] = {};          // ten bands and a preamp, dB
    int jobs = 1;                   // inputs decoded at once
};

/** The most inputs decoded at once. */
constexpr int maxJobs = 64;

enum ExitCode {
    exitOk = 0,
    exitUsage = 1,   // bad options or option values
    exitInput = 2,   // input unreadable, or no MPEG audio in it
    exitOutput = 3,  // output cannot be written, or is refused
};

/** Parses the command line. On --help or --version prints and exits 0; on an
 *  error prints it and exits with exitUsage. */
Options ParseOptions(int argc, char **argv);

/** Seconds as "12", "12.5" or [HH:]MM:SS[.ddd]; nullopt when malformed. */
std::optional<double> ParseTime(const std::string &text);

/** Eleven comma-separated whole dB values in -128..127; false when malformed. */
bool ParseBands(const std::string &text, int8_t bands[11]);


/** The output rates the decoder converts to (libvorlixfile's list). */
bool SupportedRate(int32_t rate);
/** The output rates and the equalizer curves, listed for messages:
 *  "8000, 11025, ...", "flat, bass, ...". */
std::string RateList();
std::string PresetList();

#endif
