// SPDX-License-Identifier: GPL-2.0-or-later
// vorlix-decode: decodes MP3 files to WAV or raw PCM through the public
// calling protocol of the library.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "Display.h"
#include "Io.h"
#include "Options.h"
#include "vorlixfile.h"

namespace {

int Error(int code, const std::string &message)
{
    std::fprintf(stderr, "vorlix-decode: %s\n", message.c_str());
    return code;
}

// A file name as a person sees it: quoted, with nothing that steers a terminal.
std::string Quoted(const std::string &name)
{
    std::string quoted = "'";
    quoted += Printable(name);
    quoted += '\'';
    return quoted;
}

std::string Format(int32_t rate, int32_t channels)
{
    return std::to_string(rate) + " Hz " + (channels == 1 ? "mono" : "stereo");
}

const char *ModeText(int mode)
{
    switch (mode) {
    case VF_BITRATE_CBR:
        return "CBR";
    case VF_BITRATE_ABR:
        return "ABR";
    case VF_BITRATE_VBR:
        return "VBR";
    default:
        return "unknown";
    }
}

const char *VersionText(int version)
{
    return version == 10 ? "MPEG-1" : version == 20 ? "MPEG-2" : "MPEG-2.5";
}

const char *LayerText(int layer)
{
    return layer == 1 ? "Layer I" : layer == 2 ? "Layer II" : "Layer III";
}

const char *ChannelModeText(int mode)
{
    switch (mode) {
    case VF_MODE_STEREO:
        return "stereo";
    case VF_MODE_JOINT:
        return "joint stereo";
    case VF_MODE_DUAL:
        return "dual channel";
    default:
        return "mono";
    }
}

using File = std::unique_ptr<VorlixFile, decltype(&vf_free)>;

// The fields --info shows, from the handle's tags.
struct TagInfo {
    std::string title, artist, album, year, track, genre, comment;
};

TagInfo Tags(VorlixFile *f)
{
    const auto get = [f](const char *key) {
        const char *v = vf_tag(f, key);
        return std::string(v != nullptr ? v : "");
    };
    return {get("TITLE"), get("ARTIST"), get("ALBUM"), get("DATE"), get("TRACKNUMBER"), get("GENRE"), get("COMMENT")};
}

// The tags of --info: lines of text, or the "tags" member of the JSON object.
void PrintTags(const TagInfo &tags, bool json)
{
    const std::pair<const char *, const std::string *> fields[] = {
        {"title", &tags.title}, {"artist", &tags.artist}, {"album", &tags.album}, {"year", &tags.year},
        {"track", &tags.track}, {"genre", &tags.genre},   {"comment", &tags.comment}};
    if (json)
        std::printf("\"tags\": {");
    const char *separator = "";
    for (const auto &[name, value] : fields) {
        if (value->empty())
            continue;
        if (json) {
            std::printf("%s\"%s\": %s", separator, name, JsonString(*value).c_str());
            separator = ", ";
            continue;
        }
        char label[16];
        std::snprintf(label, sizeof label, "%c%s:", name[0] - 'a' + 'A', name + 1);
        std::printf("%-9s %s\n", label, Printable(*value).c_str());
    }
    if (json)
        std::printf("}");
}

void PrintInfo(const std::string &name, const VorlixFileInfo &f, const TagInfo &tags, bool json)
{
    const bool known = f.frames >= 0, gapless = f.delay >= 0;
    if (json) {
        std::printf("{\"input\": %s, \"version\": %s, \"layer\": %d, \"sample_rate\": %d, \"channels\": %d, "
                    "\"mode\": %s, \"bitrate_mode\": %s, \"bitrate\": %d, ",
                    JsonString(name).c_str(), JsonString(VersionText(f.version)).c_str(), f.layer, f.rate,
                    f.channels, JsonString(ChannelModeText(f.mode)).c_str(), JsonString(ModeText(f.bitrate_mode)).c_str(), f.bitrate);
        if (known)
            std::printf("\"frames\": %llu, \"samples\": %llu, \"duration\": %.3f, ",
                        static_cast<unsigned long long>(f.frames), static_cast<unsigned long long>(f.samples),
                        static_cast<double>(f.samples) / f.rate);
        else
            std::printf("\"frames\": null, \"samples\": null, \"duration\": null, ");
        std::printf("\"encoder\": %s, ", f.encoder[0] == 0 ? "null" : JsonString(f.encoder).c_str());
        if (gapless)
            std::printf("\"encoder_delay\": %d, \"encoder_padding\": %d, \"trim_start\": %llu, \"trim_end\": %llu, ",
                        f.delay, f.padding, static_cast<unsigned long long>(f.trim_start),
                        static_cast<unsigned long long>(f.trim_end));
        else
            std::printf("\"encoder_delay\": null, \"encoder_padding\": null, \"trim_start\": 0, \"trim_end\": 0, ");
        PrintTags(tags, true);
        std::printf("}\n");
        return;
    }
    std::printf("Input:    %s\n", Printable(name).c_str());
    std::printf("Format:   %s %s, %d Hz, %s\n", VersionText(f.version), LayerText(f.layer), f.rate,
                ChannelModeText(f.mode));
    std::printf("Bit rate: %s, %d kbit/s%s\n", ModeText(f.bitrate_mode), f.bitrate / 1000,
                f.bitrate_mode == VF_BITRATE_VBR || f.bitrate_mode == VF_BITRATE_ABR ? " average" : "");
    if (known) {
        std::printf("Frames:   %llu\n", static_cast<unsigned long long>(f.frames));
        std::printf("Duration: %s (%llu samples)\n", Clock(static_cast<uint64_t>(f.samples), f.rate).c_str(),
                    static_cast<unsigned long long>(f.samples));
    }
    if (f.encoder[0] != 0)
        std::printf("Encoder:  %s\n", f.encoder);
    if (gapless)
        std::printf("Gapless:  delay %d, padding %d samples; trims %llu at the start, %llu at the end\n",
                    f.delay, f.padding, static_cast<unsigned long long>(f.trim_start),
                    static_cast<unsigned long long>(f.trim_end));
    PrintTags(tags, false);
}

// Position, total, speed and time left on standard error, when it is a terminal.
class Progress {
public:
    Progress(bool on, uint64_t total, int32_t rate)
        : on_(on && isatty(STDERR_FILENO)), total_(total), rate_(rate)
    {
    }
    void Update(uint64_t done, bool last = false)
    {
        if (!on_)
            return;
        const auto now = std::chrono::steady_clock::now();
        if (!last && now - shown_ < std::chrono::milliseconds(200))
            return;
        shown_ = now;
        const double wall = std::chrono::duration<double>(now - start_).count();
        const double speed = wall > 0 ? static_cast<double>(done) / rate_ / wall : 0;
        char left[32] = "";
        if (total_ > 0 && speed > 0 && done < total_)
            std::snprintf(left, sizeof left, "  %.0f s left", static_cast<double>(total_ - done) / rate_ / speed);
        std::fprintf(stderr, "\r%s%s%s  %.1fx%s   ", Clock(done, rate_).c_str(), total_ > 0 ? " / " : "",
                     total_ > 0 ? Clock(total_, rate_).c_str() : "", speed, left);
        if (last)
            std::fputc('\n', stderr);
    }

private:
    bool on_;
    uint64_t total_;
    int32_t rate_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now(), shown_{};
};

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
    VorlixFileInfo info;
    if (vf_test(&info, head.data(), head.size()) != 0)
        return false;
    return info.audio_offset == 0 || (head.size() >= 4 && std::memcmp(head.data(), "RIFF", 4) == 0);
}

// Why an output must not be written, or "" when it may.
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

std::string OutputPath(const Options &o, const std::string &input)
{
    return o.output.empty() ? DefaultOutput(input, o.raw) : o.output;
}

uint64_t Samples(double seconds, int32_t rate)
{
    return static_cast<uint64_t>(std::llround(seconds * rate));
}

// The warnings of a format change, three at the most.
struct FormatWarnings {
    std::string name;
    int32_t rate, channels;
    int count = 0;
};

void WarnFormat(void *user, int64_t sample, int rate, int channels)
{
    auto *w = static_cast<FormatWarnings *>(user);
    if (++w->count <= 3)
        std::fprintf(stderr, "vorlix-decode: warning: %s changes format at %s to %s; the output stays %s\n",
                     Quoted(w->name).c_str(), Clock(static_cast<uint64_t>(sample), w->rate).c_str(),
                     Format(rate, channels).c_str(), Format(w->rate, w->channels).c_str());
}

int DecodeOne(const Options &o, const std::string &name, const std::vector<std::string> &written)
{
    int error = 0;
    File f(vf_open_file(name.c_str(), &error), vf_free);
    const int openErrno = errno;  // what VF_EOPEN means; nothing else is told by errno
    if (f == nullptr)
        return Error(exitInput, InputFailure(Quoted(name), error, openErrno));
    vf_set_gapless(f.get(), o.gapless);
    VorlixFileInfo info;
    if (const int r = vf_info(f.get(), &info); r != 0) {
        // a file of tags without audio: what it says of itself, then the error
        if (o.info) {
            if (o.json) {
                std::printf("{\"input\": %s, \"audio\": false, ", JsonString(name).c_str());
                PrintTags(Tags(f.get()), true);
                std::printf("}\n");
            } else {
                std::printf("Input:    %s\nAudio:    none\n", Printable(name).c_str());
                PrintTags(Tags(f.get()), false);
            }
            std::fflush(stdout);
        }
        return Error(exitInput, InputFailure(Quoted(name), r, 0));
    }
    if (o.info) {
        // a stream without a frame count in its header frame: count them
        if (info.frames < 0) {
            if (const int r = vf_scan_stream(f.get()); r < 0)
                return Error(exitInput, InputFailure(Quoted(name), r, 0));
            vf_info(f.get(), &info);
        }
        PrintInfo(name, info, Tags(f.get()), o.json);
        return exitOk;
    }

    const std::string outPath = OutputPath(o, name);
    struct stat st;
    if (o.noClobber && outPath != "-" && stat(outPath.c_str(), &st) == 0) {
        if (!o.quiet)
            std::fprintf(stderr, "%s: %s exists; skipped\n", Printable(name).c_str(), Quoted(outPath).c_str());
        return exitOk;
    }
    if (const std::string why = Refusal(outPath, o, written); !why.empty())
        return Error(outPath == "-" ? exitUsage : exitOutput, why);

    if (o.rate != 0)
        vf_set_output(f.get(), o.rate, 0);
    if (o.eq)
        vf_set_equalizer(f.get(), o.bands);
    const int32_t rate = vf_rate(f.get()), channels = vf_channels(f.get()), streamRate = info.rate;
    if (o.start > 0 && info.samples >= 0 && Samples(o.start, streamRate) >= static_cast<uint64_t>(info.samples))
        return Error(exitUsage, "start " + Clock(Samples(o.start, streamRate), streamRate) +
                                    " is past the end (duration " + Clock(static_cast<uint64_t>(info.samples), streamRate) + ")");
    FormatWarnings warnings{name, rate, channels};
    vf_set_format_callback(f.get(), WarnFormat, &warnings);

    // the start: sought to the sample where the input can seek, read past on a stream
    uint64_t skip = 0;
    if (o.start > 0) {
        const int r = vf_seek(f.get(), static_cast<int64_t>(Samples(o.start, rate)));
        if (r == VF_ENOSEEK)
            skip = Samples(o.start, rate);
        else if (r == VF_EREAD)
            return Error(exitInput, InputFailure(Quoted(name), r, 0));
        else if (r != 0)
            return Error(exitInput, "cannot seek in " + Quoted(name));
    }

    Output out;
    if (!out.Open(outPath, o.raw, channels, rate)) {
        const int saved = errno;
        out.Abandon();
        return Error(exitOutput, "cannot write " + Quoted(outPath) + ": " + std::strerror(saved));
    }

    const int64_t length = vf_length(f.get());
    const uint64_t total = length >= 0 ? static_cast<uint64_t>(length) : 0, start = Samples(o.start, rate);
    Progress progress(!o.quiet, o.duration ? Samples(*o.duration, rate) : total > start ? total - start : 0, rate);
    uint64_t left = o.duration ? Samples(*o.duration, rate) : UINT64_MAX;
    constexpr int chunk = 4096;
    std::vector<int16_t> pcm(static_cast<size_t>(chunk) * static_cast<size_t>(channels));
    std::vector<uint8_t> bytes;
    bool writeFailed = false;
    int readError = 0;
    while (left > 0) {
        const uint64_t want = std::min<uint64_t>(skip > 0 ? skip : left, chunk);
        const int n = vf_read(f.get(), pcm.data(), static_cast<int>(want));
        if (n <= 0) {
            readError = n;
            break;
        }
        if (skip > 0) {
            skip -= static_cast<uint64_t>(n);
            continue;
        }
        const size_t values = static_cast<size_t>(n) * static_cast<size_t>(channels);
        bytes.resize(2 * values);
        for (size_t i = 0; i < values; ++i) {
            bytes[2 * i] = static_cast<uint8_t>(pcm[i] & 0xff);
            bytes[2 * i + 1] = static_cast<uint8_t>((static_cast<uint16_t>(pcm[i]) >> 8) & 0xff);
        }
        if (!out.Write(bytes.data(), bytes.size())) {
            writeFailed = true;
            break;
        }
        left -= static_cast<uint64_t>(n);
        progress.Update(out.DataBytes() / (2u * static_cast<unsigned>(channels)));
    }
    f.reset();
    progress.Update(out.DataBytes() / (2u * static_cast<unsigned>(channels)), true);

    if (readError < 0) {
        out.Abandon();
        return Error(exitInput, InputFailure(Quoted(name), readError, 0));
    }
    if (writeFailed || !out.Finish()) {
        const int saved = errno;
        out.Abandon();
        return Error(exitOutput, "cannot write " + Quoted(outPath) + ": " + std::strerror(saved));
    }
    if (!o.quiet)
        std::fprintf(stderr, "%s: %s, %s -> %s\n", Printable(name).c_str(), Format(rate, channels).c_str(),
                     Clock(out.DataBytes() / (2u * static_cast<unsigned>(channels)), rate).c_str(),
                     outPath == "-" ? "standard output" : Printable(outPath).c_str());
    return exitOk;
}

// Decodes one input in a process of its own: the library keeps one decoder
// per process, whose output stage and tag reading carry over from stream to
// stream, and each input decodes as it would alone.
int DecodeApart(const Options &o, const std::string &name, const std::vector<std::string> &written)
{
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0)
        return DecodeOne(o, name, written);
    if (pid == 0) {
        const int status = DecodeOne(o, name, written);
        std::fflush(nullptr);
        _exit(status);
    }
    SetChildProcess(pid);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    SetChildProcess(0);
    if (WIFSIGNALED(status)) {
        // a closed pipe ends this process as quietly as it ended the child
        if (WTERMSIG(status) == SIGPIPE)
            raise(SIGPIPE);
        return 128 + WTERMSIG(status);
    }
    return WEXITSTATUS(status);
}

} // namespace

int main(int argc, char **argv)
{
    const Options options = ParseOptions(argc, argv);
    InstallSignalCleanup();
    if (options.inputs.size() == 1)
        return DecodeOne(options, options.inputs[0], {});
    std::vector<std::string> written;
    int status = exitOk;
    for (const std::string &input : options.inputs) {
        const int one = DecodeApart(options, input, written);
        if (one == exitOk && !options.info)
            written.push_back(OutputPath(options, input));
        status = std::max(status, one);
    }
    return status;
}
