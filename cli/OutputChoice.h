// SPDX-License-Identifier: GPL-2.0-or-later
// Where vorlix-decode writes an input's output, and which outputs it refuses
// to write: an input, a file written for an earlier input, a file that
// holds MPEG audio, PCM to a terminal.
#ifndef VORLIX_CLI_OUTPUTCHOICE_H
#define VORLIX_CLI_OUTPUTCHOICE_H

#include <string>
#include <vector>

#include "Options.h"

/** The output of an input: -o's, or the input's name with .wav (.pcm). */
std::string OutputPath(const Options &o, const std::string &input);

/** Why an output must not be written, or "" when it may. written: the
 *  outputs of the earlier inputs that succeeded. */
std::string Refusal(const std::string &out, const Options &o, const std::vector<std::string> &written);

/** Whether two outputs may be one file: the same name in any folder, one
 *  file now, either a symbolic link, or standard output and a device or
 *  pipe. Such outputs are written one after the other, in input order. */
bool MayBeOneOutput(const std::string &a, const std::string &b);

/** A file name as a person sees it: quoted, with nothing that steers a
 *  terminal. */
std::string Quoted(const std::string &name);

#endif
