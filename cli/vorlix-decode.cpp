// vorlix-decode: decodes an MP3 file to WAV or raw PCM through the public
// calling protocol of the library.
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "Io.h"
#include "Options.h"
#include "vorlix.h"

namespace {

constexpr size_t readChunk = 1 << 16;
constexpr size_t streamGuard = 8;  // zero bytes after the end, so the last frame decodes

struct StreamInfo {
    int32_t rate = 0;      // the stream's own rate
    int32_t channels = 0;
    int32_t bitRate = 0;
    uint16_t text[3][VORLIX_TEXT_UNITS] = {};  // title, artist, album
};

int Error(int code, const std::string &message)
{
    std::fprintf(stderr, "vorlix-decode: %s\n", message.c_str());
    return code;
}

std::string Utf8(const uint16_t *text)
{
    std::string s;
    for (; *text != 0; ++text) {
        const uint32_t c = *text;
        if (c < 0x80) {
            s += static_cast<char>(c);
        } else if (c < 0x800) {
            s += static_cast<char>(0xc0 | (c >> 6));
            s += static_cast<char>(0x80 | (c & 0x3f));
        } else {
            s += static_cast<char>(0xe0 | (c >> 12));
            s += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
            s += static_cast<char>(0x80 | (c & 0x3f));
        }
    }
    return s;
}

const char *MpegVersion(int32_t rate)
{
    if (rate >= 32000)
        return "MPEG-1";
    if (rate >= 16000)
        return "MPEG-2";
    return "MPEG-2.5";
}

// Bytes of an ID3v2 tag at the start of the input, or 0.
int64_t LeadingTagSize(const std::vector<uint8_t> &head)
{
    if (head.size() < 10 || std::memcmp(head.data(), "ID3", 3) != 0)
        return 0;
    int64_t size = 0;
    for (int i = 6; i < 10; ++i)
        size = (size << 7) | (head[static_cast<size_t>(i)] & 0x7f);
    return 10 + size + ((head[5] & 0x10) ? 10 : 0);
}

// Probes the stream with the host's side of the protocol: the next bytes after
// NeedMoreData, the unused rest and more after a count.
bool Probe(Input &in, int32_t request, StreamInfo &info, std::vector<uint8_t> &head)
{
    std::vector<uint8_t> buffer;
    bool padded = false;
    for (;;) {
        const size_t kept = buffer.size();
        const size_t got = in.Read(buffer, readChunk);
        if (head.size() < 10)
            head.insert(head.end(), buffer.begin() + static_cast<long>(kept), buffer.end());
        if (got == 0) {
            if (padded || in.Failed())
                return false;
            buffer.insert(buffer.end(), streamGuard, 0);
            padded = true;
        }
        int32_t rate = request;
        const int32_t r = GetHeaderInfo(buffer.data(), static_cast<int32_t>(buffer.size()), &rate,
                                        &info.channels, &info.bitRate, info.text[0],
                                        info.text[1], info.text[2]);
        if (r == 0) {
            info.rate = rate;
            return true;
        }
        if (r == NeedMoreData || static_cast<size_t>(r) > buffer.size())
            buffer.clear();
        else
            buffer.erase(buffer.begin(), buffer.end() - r);
        if (padded)
            return false;
    }
}

void PrintInfo(const Input &in, const StreamInfo &info, int64_t tagSize)
{
    std::printf("Input:    %s\n", in.Name().c_str());
    std::printf("Format:   %s Layer III, %d Hz, %s, %d kbit/s\n", MpegVersion(info.rate),
                info.rate, info.channels == 1 ? "mono" : "stereo", info.bitRate / 1000);
    if (in.Size() >= 0 && info.bitRate > 0) {
        const double seconds = static_cast<double>(in.Size() - tagSize) * 8.0 / info.bitRate;
        std::printf("Duration: %d:%06.3f (estimated)\n", static_cast<int>(seconds / 60),
                    std::fmod(seconds, 60.0));
    }
    const char *labels[3] = {"Title", "Artist", "Album"};
    for (int i = 0; i < 3; ++i)
        if (info.text[i][0] != 0)
            std::printf("%-9s %s\n", (std::string(labels[i]) + ":").c_str(), Utf8(info.text[i]).c_str());
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

enum class DecodeEnd { Done, InputFailed, OutputFailed };

// Decodes from the input's current offset to its end (or the duration limit)
// with DecompressAudio, refilling from the last reported stream position.
DecodeEnd Decode(Input &in, Output &out, uint64_t byteLimit, Progress &progress)
{
    std::vector<uint8_t> buffer;
    std::vector<uint8_t> pcm(VORLIX_MAX_OUTPUT_BYTES);
    uint32_t base = 0;  // stream position of buffer[0]
    bool padded = false;
    for (;;) {
        if (in.Read(buffer, readChunk) == 0) {
            if (in.Failed())
                return DecodeEnd::InputFailed;
            if (padded)
                return DecodeEnd::Done;
            buffer.insert(buffer.end(), streamGuard, 0);
            padded = true;
        }
        const int32_t length = static_cast<int32_t>(buffer.size());
        int32_t bytes = 0, position = static_cast<int32_t>(base);
        int32_t r = DecompressAudio(buffer.data(), length, pcm.data(), 0, &bytes, &position);
        while (r == 0) {
            const uint64_t room = byteLimit - out.DataBytes();
            if (!out.Write(pcm.data(), std::min<uint64_t>(static_cast<uint64_t>(bytes), room)))
                return DecodeEnd::OutputFailed;
            if (out.DataBytes() >= byteLimit)
                return DecodeEnd::Done;
            r = DecompressAudio(nullptr, length, pcm.data(), 0, &bytes, &position);
        }
        const uint32_t used = static_cast<uint32_t>(position) - base;
        buffer.erase(buffer.begin(), buffer.begin() + std::min<size_t>(used, buffer.size()));
        base = static_cast<uint32_t>(position);
        progress.Update(in.Offset(), out.DataBytes());
    }
}

std::string DefaultOutput(const std::string &input)
{
    if (input == "-")
        return "-";
    const size_t slash = input.find_last_of('/');
    const size_t dot = input.find_last_of('.');
    std::string stem = input;
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash) && dot > slash + 1)
        stem = input.substr(0, dot);
    std::string out = stem + ".wav";
    if (out == input)
        out = input + ".wav";
    return out;
}

bool SameFile(const std::string &a, const std::string &b)
{
    struct stat sa, sb;
    return a != "-" && b != "-" && stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 &&
           sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

} // namespace

int main(int argc, char **argv)
{
    const Options options = ParseOptions(argc, argv);

    Input in;
    if (!in.Open(options.input))
        return Error(exitInput, "cannot read '" + options.input + "': " + std::strerror(errno));

    StreamInfo info;
    std::vector<uint8_t> head;
    if (!Probe(in, options.info ? 0 : options.rate, info, head)) {
        if (in.Failed())
            return Error(exitInput, "cannot read '" + options.input + "': " + std::strerror(errno));
        return Error(exitInput, "no MPEG audio frames found in '" + options.input + "'");
    }
    const int64_t tagSize = LeadingTagSize(head);
    if (options.info) {
        PrintInfo(in, info, tagSize);
        return exitOk;
    }

    const std::string outPath = options.output.empty() ? DefaultOutput(options.input) : options.output;
    if (SameFile(outPath, options.input))
        return Error(exitUsage, "output '" + outPath + "' would overwrite the input");
    if (outPath == "-" && isatty(STDOUT_FILENO))
        return Error(exitUsage, "not writing PCM to a terminal; give an output file");

    const int32_t outRate = options.rate != 0 ? options.rate : info.rate;
    Init(options.eq ? 1 : 0, options.eq ? options.bands : nullptr);

    // decoding starts from the stream's first byte, or the seek point
    if (!in.Rewind())
        return Error(exitInput, "cannot rewind '" + options.input + "'");
    if (options.start > 0) {
        SeekStart();
        const int64_t offset = tagSize + static_cast<int64_t>(options.start * info.bitRate / 8.0);
        if (!in.SkipTo(offset))
            return Error(exitInput, "cannot seek in '" + options.input + "'");
        SeekEnd();
    }

    Output out;
    if (!out.Open(outPath, options.raw, info.channels, outRate)) {
        out.Abandon();
        return Error(exitOutput, "cannot write '" + outPath + "': " + std::strerror(errno));
    }

    uint64_t byteLimit = UINT64_MAX;
    if (options.duration) {
        const uint64_t frames = static_cast<uint64_t>(std::llround(*options.duration * outRate));
        byteLimit = frames * static_cast<uint64_t>(info.channels) * 2;
    }
    Progress progress(!options.quiet, in.Size(), outRate, info.channels);
    const DecodeEnd end = Decode(in, out, byteLimit, progress);
    Exit();
    progress.Update(in.Offset(), out.DataBytes(), true);

    if (end == DecodeEnd::InputFailed) {
        out.Abandon();
        return Error(exitInput, "cannot read '" + options.input + "': " + std::strerror(errno));
    }
    if (end == DecodeEnd::OutputFailed || !out.Finish()) {
        const int saved = errno;
        out.Abandon();
        return Error(exitOutput, "cannot write '" + outPath + "': " + std::strerror(saved));
    }
    if (!options.quiet)
        std::fprintf(stderr, "%s: %d Hz, %s, %.2f s -> %s\n", options.input.c_str(), outRate,
                     info.channels == 1 ? "mono" : "stereo",
                     out.DataBytes() / (2.0 * info.channels * outRate), outPath.c_str());
    return exitOk;
}
