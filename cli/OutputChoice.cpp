// SPDX-License-Identifier: GPL-2.0-or-later
#include "OutputChoice.h"

#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "Display.h"
#include "vorlixfile.h"

namespace {

std::string DefaultOutput(const std::string &input, bool raw)
{
    if (input == "-")
        return "-";
    const size_t slash = input.find_last_of('/');
    const size_t dot = input.find_last_of('.');
    std::string stem = input;
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash) && dot > slash + 1)
        stem = input.substr(0, dot);
    std::string out = stem + (raw ? ".pcm" : ".wav");
    if (out == input)
        out = input + (raw ? ".pcm" : ".wav");
    return out;
}

bool SameFile(const std::string &a, const std::string &b)
{
    struct stat sa, sb;
    return a != "-" && b != "-" && stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 &&
           sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// Whether an existing file begins with an ID3 tag, MP3 in RIFF, or MPEG
// audio from its first byte.
bool HoldsMpeg(const std::string &path)
{
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (f == nullptr)
        return false;
    std::vector<unsigned char> head(1 << 15);
    head.resize(std::fread(head.data(), 1, head.size(), f));
    std::fclose(f);
    if (head.size() >= 3 && std::memcmp(head.data(), "ID3", 3) == 0)
        return true;
    VorlixFileInfo info = VF_INFO_INIT;
    if (vf_test(&info, head.data(), head.size()) != 0)
        return false;
    return info.audio_offset == 0 || (head.size() >= 4 && std::memcmp(head.data(), "RIFF", 4) == 0);
}

bool IsLink(const std::string &path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

} // namespace

std::string Quoted(const std::string &name)
{
    std::string quoted = "'";
    quoted += Printable(name);
    quoted += '\'';
    return quoted;
}

std::string OutputPath(const Options &o, const std::string &input)
{
    return o.output.empty() ? DefaultOutput(input, o.raw) : o.output;
}

std::string Refusal(const std::string &out, const Options &o, const std::vector<std::string> &written)
{
    if (out == "-")
        return isatty(STDOUT_FILENO) ? "not writing PCM to a terminal; give an output file" : "";
    for (const std::string &input : o.inputs)
        if (out == input || SameFile(out, input))
            return "output " + Quoted(out) + " is an input; not overwriting it";
    for (const std::string &w : written)
        if (out == w || SameFile(out, w))
            return "output " + Quoted(out) + " was written for an earlier input; not overwriting it";
    struct stat st;
    if (stat(out.c_str(), &st) == 0 && S_ISREG(st.st_mode) && HoldsMpeg(out))
        return Quoted(out) + " holds MPEG audio; not overwriting it";
    return "";
}

bool MayBeOneOutput(const std::string &a, const std::string &b)
{
    if (a == "-" || b == "-") {
        // standard output, or a device or pipe that may be it
        struct stat st;
        const std::string &other = a == "-" ? b : a;
        return other == "-" || (stat(other.c_str(), &st) == 0 && !S_ISREG(st.st_mode));
    }
    return BaseName(a) == BaseName(b) || SameFile(a, b) || IsLink(a) || IsLink(b);
}
