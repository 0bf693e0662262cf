// SPDX-License-Identifier: GPL-2.0-or-later
// vorlix-decode: decodes MP3 files to WAV or raw PCM through the public
// calling protocol of the library.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "Display.h"
#include "HostDecoder.h"
#include "Io.h"
#include "Options.h"
#include "StreamFacts.h"
#include "TagInfo.h"
#include "format/FrameIndex.h"
#include "format/HeaderFrame.h"
#include "format/Timeline.h"
#include "format/Riff.h"
#include "format/StreamWalker.h"
#include "format/Tags.h"

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

const char *ModeText(BitrateMode mode)
{
    switch (mode) {
    case BitrateMode::Cbr:
        return "CBR";
    case BitrateMode::Abr:
        return "ABR";
    case BitrateMode::Vbr:
        return "VBR";
    default:
        return "unknown";
    }
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

bool HasTags(const TagInfo &tags)
{
    return !(tags.title + tags.artist + tags.album + tags.year + tags.track + tags.genre + tags.comment).empty();
}

void PrintInfo(const Input &in, HostDecoder &decoder, const StreamFacts &f, const TagInfo &tags, bool json)
{
    const FrameHeader &h = decoder.First();
    const HeaderFrame &header = decoder.Header();
    if (json) {
        std::printf("{\"input\": %s, \"version\": %s, \"layer\": %d, \"sample_rate\": %d, \"channels\": %d, "
                    "\"mode\": %s, \"bitrate_mode\": %s, \"bitrate\": %d, ",
                    JsonString(in.Name()).c_str(), JsonString(VersionName(h.version)).c_str(), h.layer, h.sampleRate,
                    h.Channels(), JsonString(ModeName(h.mode)).c_str(), JsonString(ModeText(f.mode)).c_str(), f.bitrate);
        if (f.known)
            std::printf("\"frames\": %llu, \"samples\": %llu, \"duration\": %.3f, ",
                        static_cast<unsigned long long>(f.frames), static_cast<unsigned long long>(f.Samples()),
                        static_cast<double>(f.Samples()) / f.rate);
        else
            std::printf("\"frames\": null, \"samples\": null, \"duration\": null, ");
        std::printf("\"encoder\": %s, ", header.encoder.empty() ? "null" : JsonString(header.encoder).c_str());
        if (header.Gapless())
            std::printf("\"encoder_delay\": %d, \"encoder_padding\": %d, \"trim_start\": %llu, \"trim_end\": %llu, ",
                        header.delay, header.padding, static_cast<unsigned long long>(f.trim.start),
                        static_cast<unsigned long long>(f.trim.end));
        else
            std::printf("\"encoder_delay\": null, \"encoder_padding\": null, \"trim_start\": 0, \"trim_end\": 0, ");
        PrintTags(tags, true);
        std::printf("}\n");
        return;
    }
    std::printf("Input:    %s\n", Printable(in.Name()).c_str());
    std::printf("Format:   %s %s, %d Hz, %s\n", VersionName(h.version), LayerName(h.layer), h.sampleRate,
                ModeName(h.mode));
    std::printf("Bit rate: %s, %d kbit/s%s\n", ModeText(f.mode), f.bitrate / 1000,
                f.mode == BitrateMode::Vbr || f.mode == BitrateMode::Abr ? " average" : "");
    if (f.known) {
        std::printf("Frames:   %llu\n", static_cast<unsigned long long>(f.frames));
        std::printf("Duration: %s (%llu samples)\n", Clock(f.Samples(), f.rate).c_str(),
                    static_cast<unsigned long long>(f.Samples()));
    }
    if (!header.encoder.empty())
        std::printf("Encoder:  %s\n", header.encoder.c_str());
    if (header.Gapless())
        std::printf("Gapless:  delay %d, padding %d samples; trims %llu at the start, %llu at the end\n",
                    header.delay, header.padding, static_cast<unsigned long long>(f.trim.start),
                    static_cast<unsigned long long>(f.trim.end));
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
// audio: four frames in a row from its first byte (raw PCM can look like the
// start of one by chance).
bool HoldsMpeg(const std::string &path)
{
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (f == nullptr)
        return false;
    std::vector<uint8_t> head(4 * walkerLookahead);
    head.resize(std::fread(head.data(), 1, head.size(), f));
    std::fclose(f);
    const bool eof = head.size() < 4 * walkerLookahead;
    if (head.size() >= id3v2HeaderSize && Id3v2Size(head.data()) != 0)
        return true;
    if (ParseRiff(head.data(), head.size(), eof).kind == RiffKind::Mpeg)
        return true;
    StreamWalker walker;
    size_t at = 0;
    for (int frames = 0; frames < 4; ++frames) {
        const Span span = walker.Next(head.data() + at, head.size() - at, eof);
        if (span.kind != SpanKind::Frame)
            return false;
        at += static_cast<size_t>(span.length);
        if (at >= head.size())
            return frames == 3 || eof;
    }
    return true;
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

int DecodeOne(const Options &o, const std::string &name, const std::vector<std::string> &written)
{
    Input in;
    if (!in.Open(name))
        return Error(exitInput, "cannot read " + Quoted(name) + ": " + std::strerror(errno));
    HostDecoder decoder;
    switch (decoder.Open(in, o.info ? 0 : o.rate)) {
    case HostDecoder::Status::ReadError:
        return Error(exitInput, "cannot read " + Quoted(name) + ": " + std::strerror(errno));
    case HostDecoder::Status::NoAudio:
        if (o.info) {
            // a file of tags without audio: what it says of itself, then the error
            const TagInfo tags = ReadTags(in, decoder);
            if (HasTags(tags)) {
                if (o.json) {
                    std::printf("{\"input\": %s, \"audio\": false, ", JsonString(in.Name()).c_str());
                    PrintTags(tags, true);
                    std::printf("}\n");
                } else {
                    std::printf("Input:    %s\nAudio:    none\n", Printable(in.Name()).c_str());
                    PrintTags(tags, false);
                }
                std::fflush(stdout);
            }
        }
        return Error(exitInput, "no MPEG audio frames found in " + Quoted(name));
    case HostDecoder::Status::Ok:
        break;
    }
    const bool showProgress = !o.quiet && isatty(STDERR_FILENO);
    if (o.info) {
        const TagInfo tags = ReadTags(in, decoder);
        // the frame headers tell the length where a header frame does not
        FrameIndex index;
        const bool scan = in.Seekable() || !decoder.Header().CountBelievable();
        if (scan)
            decoder.Scan(index);
        PrintInfo(in, decoder, Describe(decoder, scan ? &index : nullptr, o.gapless), tags, o.json);
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

    // a scan of a seekable input finds the frame to seek to, and the length
    FrameIndex index;
    const bool scan = in.Seekable() && (o.start > 0 || (showProgress && !decoder.Header().CountBelievable()));
    if (scan)
        decoder.Scan(index);
    const StreamFacts facts = Describe(decoder, scan ? &index : nullptr, o.gapless);
    const int32_t rate = decoder.Rate(), channels = decoder.Channels(), streamRate = facts.rate;
    if (o.start > 0 && facts.known && Samples(o.start, streamRate) >= facts.Samples())
        return Error(exitUsage, "start " + Clock(Samples(o.start, streamRate), streamRate) +
                                    " is past the end (duration " + Clock(facts.Samples(), streamRate) + ")");

    if (!decoder.Start(o.eq, o.bands))
        return Error(exitInput, "cannot read " + Quoted(name) + ": " + std::strerror(errno));
    // the trims and the stretch asked for, at the output rate
    const GaplessTrim trim = o.gapless && decoder.Header().Gapless()
                                 ? Trim(decoder.Header().delay, decoder.Header().padding, streamRate, rate)
                                 : GaplessTrim{};
    const uint64_t begin = trim.start + Samples(o.start, rate);
    const uint64_t end = o.duration ? begin + Samples(*o.duration, rate) : UINT64_MAX;
    if (scan && o.start > 0 && !decoder.SeekToSample(index, facts.trim.start + Samples(o.start, streamRate)))
        return Error(exitInput, "cannot seek in " + Quoted(name));

    Output out;
    if (!out.Open(outPath, o.raw, channels, rate)) {
        const int saved = errno;
        out.Abandon();
        return Error(exitOutput, "cannot write " + Quoted(outPath) + ": " + std::strerror(saved));
    }

    const uint64_t total = facts.known ? Samples(static_cast<double>(facts.Samples()) / streamRate, rate) : 0;
    Progress progress(!o.quiet, o.duration ? Samples(*o.duration, rate) : total > begin - trim.start ? total - (begin - trim.start) : 0, rate);
    Timeline timeline(begin, end, trim.end, channels);
    DecodedFrame frame;
    std::vector<uint8_t> ready;
    bool writeFailed = false;
    int changes = 0;
    while (!timeline.Done() && decoder.Next(frame)) {
        if (frame.formatChanged && ++changes <= 3)
            std::fprintf(stderr, "vorlix-decode: warning: %s changes format at %s to %s; the output stays %s\n",
                         Quoted(name).c_str(), Clock(timeline.Position() > trim.start ? timeline.Position() - trim.start : 0, rate).c_str(),
                         Format(frame.header.sampleRate, frame.header.Channels()).c_str(),
                         Format(rate, channels).c_str());
        ready.clear();
        timeline.Push(frame.number, frame.pcm.data(), frame.pcm.size(), ready);
        if (!out.Write(ready.data(), ready.size())) {
            writeFailed = true;
            break;
        }
        progress.Update(out.DataBytes() / (2u * static_cast<unsigned>(channels)));
    }
    if (!writeFailed && !in.Failed()) {
        ready.clear();
        timeline.Finish(decoder.ReachedEnd(), ready);
        writeFailed = !out.Write(ready.data(), ready.size());
    }
    Exit();
    progress.Update(out.DataBytes() / (2u * static_cast<unsigned>(channels)), true);

    if (in.Failed()) {
        out.Abandon();
        return Error(exitInput, "cannot read " + Quoted(name) + ": " + std::strerror(errno));
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
