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

#include "HostDecoder.h"
#include "Io.h"
#include "Options.h"
#include "format/Riff.h"
#include "format/StreamWalker.h"
#include "format/Tags.h"

namespace {

int Error(int code, const std::string &message)
{
    std::fprintf(stderr, "vorlix-decode: %s\n", message.c_str());
    return code;
}

std::string Quoted(const std::string &name)
{
    return "'" + name + "'";
}

std::string Clock(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%d:%06.3f", static_cast<int>(seconds / 60), std::fmod(seconds, 60.0));
    return text;
}

std::string Format(int32_t rate, int32_t channels)
{
    return std::to_string(rate) + " Hz " + (channels == 1 ? "mono" : "stereo");
}

void PrintInfo(const Input &in, HostDecoder &decoder)
{
    const FrameHeader &h = decoder.First();
    std::printf("Input:    %s\n", in.Name().c_str());
    std::printf("Format:   %s %s, %d Hz, %s, %d kbit/s\n", VersionName(h.version), LayerName(h.layer),
                h.sampleRate, ModeName(h.mode), h.bitrate / 1000);
    if (in.Size() >= 0 && h.bitrate > 0) {
        const double bytes = static_cast<double>(in.Size() - decoder.Reader().FirstFrame());
        std::printf("Duration: %s (estimated)\n", Clock(bytes * 8.0 / h.bitrate).c_str());
    }
    const TagText &t = decoder.Text();
    const char *labels[3] = {"Title:", "Artist:", "Album:"};
    const uint16_t *texts[3] = {t.title, t.artist, t.album};
    for (int i = 0; i < 3; ++i)
        if (texts[i][0] != 0)
            std::printf("%-9s %s\n", labels[i], Utf8(texts[i]).c_str());
}

class Progress {
public:
    Progress(bool on, int64_t inputSize, int32_t rate, int32_t channels)
        : on_(on && isatty(STDERR_FILENO)), size_(inputSize), bytesPerSecond_(rate * channels * 2.0)
    {
    }
    void Update(int64_t inputOffset, uint64_t outputBytes, bool last = false)
    {
        if (!on_)
            return;
        const auto now = std::chrono::steady_clock::now();
        if (!last && now - shown_ < std::chrono::milliseconds(200))
            return;
        shown_ = now;
        const double wall = std::chrono::duration<double>(now - start_).count();
        const double speed = wall > 0 ? outputBytes / bytesPerSecond_ / wall : 0;
        if (size_ > 0)
            std::fprintf(stderr, "\r%5.1f%%  %.1fx real time ", 100.0 * inputOffset / size_, speed);
        else
            std::fprintf(stderr, "\r%.1f s  %.1fx real time ", outputBytes / bytesPerSecond_, speed);
        if (last)
            std::fputc('\n', stderr);
    }

private:
    bool on_;
    int64_t size_;
    double bytesPerSecond_;
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

// Whether an existing file begins with an ID3 tag, MPEG audio or MP3 in RIFF.
bool HoldsMpeg(const std::string &path)
{
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (f == nullptr)
        return false;
    std::vector<uint8_t> head(walkerLookahead);
    head.resize(std::fread(head.data(), 1, head.size(), f));
    std::fclose(f);
    const bool eof = head.size() < walkerLookahead;
    if (head.size() >= id3v2HeaderSize && Id3v2Size(head.data()) != 0)
        return true;
    if (ParseRiff(head.data(), head.size(), eof).kind == RiffKind::Mpeg)
        return true;
    StreamWalker walker;
    return walker.Next(head.data(), head.size(), eof).kind == SpanKind::Frame;
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
        return Error(exitInput, "no MPEG audio frames found in " + Quoted(name));
    case HostDecoder::Status::Ok:
        break;
    }
    if (o.info) {
        PrintInfo(in, decoder);
        return exitOk;
    }

    const std::string outPath = OutputPath(o, name);
    struct stat st;
    if (o.noClobber && outPath != "-" && stat(outPath.c_str(), &st) == 0) {
        if (!o.quiet)
            std::fprintf(stderr, "%s: %s exists; skipped\n", name.c_str(), Quoted(outPath).c_str());
        return exitOk;
    }
    if (const std::string why = Refusal(outPath, o, written); !why.empty())
        return Error(outPath == "-" ? exitUsage : exitOutput, why);

    const int32_t rate = decoder.Rate(), channels = decoder.Channels();
    if (!decoder.Start(o.eq, o.bands))
        return Error(exitInput, "cannot read " + Quoted(name) + ": " + std::strerror(errno));
    if (o.start > 0 && decoder.First().bitrate > 0) {
        // the byte offset estimated from the first frame's bit rate
        SeekStart();
        const int64_t offset = decoder.Reader().FirstFrame() +
                               static_cast<int64_t>(o.start * decoder.First().bitrate / 8.0);
        const bool moved = decoder.Reader().Seek(offset);
        SeekEnd();
        if (!moved && in.Failed())
            return Error(exitInput, "cannot seek in " + Quoted(name));
    }

    Output out;
    if (!out.Open(outPath, o.raw, channels, rate)) {
        const int saved = errno;
        out.Abandon();
        return Error(exitOutput, "cannot write " + Quoted(outPath) + ": " + std::strerror(saved));
    }

    uint64_t byteLimit = UINT64_MAX;
    if (o.duration)
        byteLimit = static_cast<uint64_t>(std::llround(*o.duration * rate)) * static_cast<uint64_t>(channels) * 2;
    Progress progress(!o.quiet, in.Size(), rate, channels);
    DecodedFrame frame;
    bool writeFailed = false;
    int changes = 0;
    while (out.DataBytes() < byteLimit && decoder.Next(frame)) {
        if (frame.formatChanged && ++changes <= 3)
            std::fprintf(stderr, "vorlix-decode: warning: %s changes format at %s to %s; the output stays %s\n",
                         Quoted(name).c_str(), Clock(out.DataBytes() / (2.0 * channels * rate)).c_str(),
                         Format(frame.header.sampleRate, frame.header.Channels()).c_str(),
                         Format(rate, channels).c_str());
        const uint64_t n = std::min<uint64_t>(frame.pcm.size(), byteLimit - out.DataBytes());
        if (!out.Write(frame.pcm.data(), n)) {
            writeFailed = true;
            break;
        }
        progress.Update(decoder.Reader().Position(), out.DataBytes());
    }
    Exit();
    progress.Update(decoder.Reader().Position(), out.DataBytes(), true);

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
        std::fprintf(stderr, "%s: %s, %.2f s -> %s\n", name.c_str(), Format(rate, channels).c_str(),
                     out.DataBytes() / (2.0 * channels * rate), outPath == "-" ? "standard output" : outPath.c_str());
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
