// SPDX-License-Identifier: GPL-2.0-or-later
// Decodes in-memory streams with a bare libmad loop (the floor) and through
// Vorlix's public calling protocol, and prints speed and the ratio of CPU
// times, medians of repeated runs in one process.
//
//   vorlix_bench [--runs N] [--scan LONG.mp3] STREAM.mp3...
//   vorlix_bench --threads N [--runs N] [--handles K] STREAM.mp3...
//
// Then times libvorlixfile's open of every stream and of the --scan streams
// (too long to decode in a benchmark), which scans a seekable input's frame
// headers, as ms per hour. The second form is the threads mode (Threads.cpp).
// Only the libraries' public headers are used.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <mad.h>

#include "Bench.h"
#include "vorlix.h"
#include "vorlixfile.h"

double CpuSeconds()
{
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}

double ThreadCpuSeconds()
{
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}

double WallSeconds()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

Bytes LoadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

std::string BaseName(const std::string &path)
{
    return path.substr(path.find_last_of('/') + 1);
}

namespace {

struct Result {
    uint64_t samples = 0;  // per channel, at the output rate
    int32_t rate = 0;
    uint64_t hash = 1469598103934665603ull;  // FNV-1a of the PCM

    void Add(const uint8_t *p, size_t n)
    {
        for (size_t i = 0; i < n; ++i)
            hash = (hash ^ p[i]) * 1099511628211ull;
    }
};

// madplay's rounding: round, clip, keep 16 bits
inline int16_t Scale(mad_fixed_t sample)
{
    sample += 1L << (MAD_F_FRACBITS - 16);
    if (sample >= MAD_F_ONE)
        sample = MAD_F_ONE - 1;
    else if (sample < -MAD_F_ONE)
        sample = -MAD_F_ONE;
    return static_cast<int16_t>(sample >> (MAD_F_FRACBITS + 1 - 16));
}

Result Baseline(const Bytes &stream, Bytes &out, bool hash)
{
    Result r;
    mad_stream s;
    mad_frame f;
    mad_synth y;
    mad_stream_init(&s);
    mad_frame_init(&f);
    mad_synth_init(&y);
    mad_stream_buffer(&s, stream.data(), stream.size());
    for (;;) {
        if (mad_frame_decode(&f, &s) == -1) {
            if (!MAD_RECOVERABLE(s.error))
                break;
            continue;
        }
        mad_synth_frame(&y, &f);
        const mad_pcm &pcm = y.pcm;
        uint8_t *p = out.data();
        for (unsigned i = 0; i < pcm.length; ++i)
            for (unsigned ch = 0; ch < pcm.channels; ++ch) {
                const int16_t v = Scale(pcm.samples[ch][i]);
                *p++ = static_cast<uint8_t>(v & 0xff);
                *p++ = static_cast<uint8_t>((v >> 8) & 0xff);
            }
        if (hash)
            r.Add(out.data(), static_cast<size_t>(p - out.data()));
        r.samples += pcm.length;
        r.rate = static_cast<int32_t>(pcm.samplerate);
    }
    mad_frame_finish(&f);
    mad_stream_finish(&s);
    return r;
}

struct Mode {
    const char *name;
    int32_t request;   // 0: the stream's own rate
    bool eq;
};

Result Library(const Bytes &stream, const Mode &mode, Bytes &out, bool hash)
{
    static const int8_t curve[11] = {6, 4, 2, 0, -2, -2, 0, 2, 4, 6, -6};
    Result r;
    uint16_t text[3][VORLIX_TEXT_UNITS] = {};
    int32_t rate = mode.request, channels = 0, bitRate = 0;
    if (GetHeaderInfo(stream.data(), static_cast<int32_t>(stream.size()), &rate, &channels,
                      &bitRate, text[0], text[1], text[2]) != 0)
        return r;
    Init(mode.eq ? 1 : 0, mode.eq ? curve : nullptr);
    int32_t bytes = 0, position = 0;
    const int32_t length = static_cast<int32_t>(stream.size());
    int32_t res = DecompressAudio(stream.data(), length, out.data(), 0, &bytes, &position);
    while (res == 0) {
        if (hash)
            r.Add(out.data(), static_cast<size_t>(bytes));
        r.samples += static_cast<uint64_t>(bytes) / (2u * static_cast<uint32_t>(channels));
        res = DecompressAudio(nullptr, length, out.data(), 0, &bytes, &position);
    }
    Exit();
    r.rate = rate;
    return r;
}

// CPU seconds of libvorlixfile's open of a file, which reads its tags and
// scans its frame headers (the base of exact lengths and seeking); the
// frames' duration in seconds and the frame count.
double ScanSeconds(const std::string &file, double &audioSeconds, size_t &frames)
{
    const double t = CpuSeconds();
    VorlixFile *f = vf_open_file(file.c_str(), nullptr);
    const double spent = CpuSeconds() - t;
    VorlixFileInfo info = VF_INFO_INIT;
    if (f == nullptr || vf_info(f, &info) != 0 || info.rate <= 0) {
        vf_free(f);
        return -1;
    }
    vf_free(f);
    audioSeconds = static_cast<double>(info.samples) / info.rate;
    frames = info.frames > 0 ? static_cast<size_t>(info.frames) : 0;
    return spent;
}

// Reads handles of libvorlixfile in turns of `chunk` samples per channel
// until all end; the samples read in all.
uint64_t ReadInTurns(std::vector<VorlixFile *> files, int chunk)
{
    std::vector<int16_t> pcm(static_cast<size_t>(chunk) * 2);
    uint64_t total = 0;
    while (!files.empty())
        for (size_t i = 0; i < files.size();) {
            const int n = vf_read(files[i], pcm.data(), chunk);
            if (n <= 0) {
                files.erase(files.begin() + static_cast<long>(i));
                continue;
            }
            total += static_cast<uint64_t>(n);
            ++i;
        }
    return total;
}

// CPU seconds of reading `count` handles of the stream in turns.
double FileSeconds(const Bytes &stream, size_t count, int chunk)
{
    std::vector<VorlixFile *> files;
    for (size_t i = 0; i < count; ++i)
        files.push_back(vf_open_memory(stream.data(), stream.size() - 8, nullptr));
    const double t = CpuSeconds();
    ReadInTurns(files, chunk);
    const double spent = CpuSeconds() - t;
    for (VorlixFile *f : files)
        vf_free(f);
    return spent;
}

} // namespace

int main(int argc, char **argv)
{
    int runs = 7, threads = 0, handles = 16;
    std::vector<std::string> files, scanned;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--threads") == 0 && i + 1 < argc)
            threads = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--handles") == 0 && i + 1 < argc)
            handles = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--scan") == 0 && i + 1 < argc)
            scanned.push_back(argv[++i]);  // only scanned, not decoded
        else
            files.push_back(argv[i]);
    }
    scanned.insert(scanned.begin(), files.begin(), files.end());
    if (files.empty()) {
        std::fprintf(stderr, "usage: vorlix_bench [--runs N] [--scan LONG.mp3] STREAM.mp3...\n"
                             "       vorlix_bench --threads N [--runs N] [--handles K] STREAM.mp3...\n");
        return 1;
    }
    if (threads > 0)
        return RunThreads(files, threads, runs, handles);
    Bytes out(VORLIX_MAX_OUTPUT_BYTES);
    struct Stream {
        std::string name, convertName;
        Bytes bytes;
        int32_t rate, convertTo;
        uint64_t hash[5];
    };
    constexpr int modes = 4;
    std::vector<Stream> streams;
    for (const std::string &file : files) {
        Stream s;
        s.bytes = LoadFile(file);
        s.bytes.insert(s.bytes.end(), 8, 0);
        s.name = BaseName(file);
        const int32_t rate = Baseline(s.bytes, out, false).rate;
        s.rate = rate;
        s.convertTo = rate == 44100 ? 48000 : rate == 22050 ? 44100 : 48000;
        s.convertName = "rate " + std::to_string(rate) + ">" + std::to_string(s.convertTo);
        streams.push_back(std::move(s));
    }
    auto modesOf = [](const Stream &s) {
        // "own rate" asks for the stream's own rate, as vorlix-decode does: a plain copy
        return std::vector<Mode>{{"eq off", 0, false}, {"eq on", 0, true},
                                 {s.convertName.c_str(), s.convertTo, false}, {"own rate", s.rate, false}};
    };
    // the output hashes first, in a fixed order from the state at load: the
    // error feedback carries from one decode to the next
    for (Stream &s : streams) {
        s.hash[0] = Baseline(s.bytes, out, true).hash;
        const auto list = modesOf(s);
        for (int m = 0; m < modes; ++m)
            s.hash[m + 1] = Library(s.bytes, list[m], out, true).hash;
    }

    std::printf("%-22s %-14s %10s %8s  %s\n", "stream", "mode", "x realtime", "ratio", "pcm hash");
    for (const Stream &s : streams) {
        const Bytes &stream = s.bytes;
        const std::string &name = s.name;
        const auto list = modesOf(s);

        std::vector<double> base, lib[modes];
        Result baseResult, libResult[modes];
        for (int run = 0; run < runs; ++run) {  // interleaved, so drift hits every mode alike
            double t = CpuSeconds();
            baseResult = Baseline(stream, out, false);
            base.push_back(CpuSeconds() - t);
            for (int m = 0; m < modes; ++m) {
                t = CpuSeconds();
                libResult[m] = Library(stream, list[m], out, false);
                lib[m].push_back(CpuSeconds() - t);
            }
        }
        const double seconds = static_cast<double>(baseResult.samples) / baseResult.rate;
        const double b = Median(base);
        std::printf("%-22s %-14s %10.1f %8s  %016llx\n", name.c_str(), "bare libmad", seconds / b, "1.000",
                    static_cast<unsigned long long>(s.hash[0]));
        for (int m = 0; m < modes; ++m) {
            const double l = Median(lib[m]);
            std::printf("%-22s %-14s %10.1f %8.3f  %016llx\n", name.c_str(), list[m].name, seconds / l, l / b,
                        static_cast<unsigned long long>(s.hash[m + 1]));
        }
    }

    // libvorlixfile against the six calls (at the stream's own rate, as the
    // file library asks), one handle and two that take turns
    std::printf("\n%-22s %10s %10s %12s %12s\n", "stream", "six calls", "vf_read", "2 x 1 s", "a turn");
    std::printf("%-22s %10s %10s %12s %12s\n", "", "(CPU)", "ratio", "ratio to 2x1", "in frames");
    for (const Stream &s : streams) {
        const Mode own{"own rate", s.rate, false};
        std::vector<double> six, one, two, frames;
        for (int run = 0; run < runs; ++run) {
            double t = CpuSeconds();
            Library(s.bytes, own, out, false);
            six.push_back(CpuSeconds() - t);
            one.push_back(FileSeconds(s.bytes, 1, 4096));
            two.push_back(FileSeconds(s.bytes, 2, s.rate));  // a second each, in turns
            frames.push_back(FileSeconds(s.bytes, 2, 1152));  // a turn at every frame
        }
        const double m6 = Median(six), m1 = Median(one);
        // a turn's cost in frames of decoding (a takeover where handles
        // share the decoder): the extra time of reading by turns of a
        // frame, over the turns, over a frame's time
        const double samples = static_cast<double>(Baseline(s.bytes, out, false).samples);
        const double frameTime = m1 / (samples / (s.rate >= 32000 ? 1152 : 576));
        const double turns = 2.0 * samples / 1152;
        std::printf("%-22s %10.3f %10.3f %12.3f %10.2f fr\n", s.name.c_str(), 1.0, m1 / m6, Median(two) / (2 * m1),
                    (Median(frames) - 2 * m1) / turns / frameTime);
    }

    // the open of a seekable file: its tags and the frame-header scan, the
    // base of exact durations and seeking
    std::printf("\n%-22s %10s %10s %12s\n", "stream", "frames", "open ms", "ms per hour");
    for (const std::string &file : scanned) {
        std::vector<double> times;
        double audio = 0;
        size_t frames = 0;
        for (int run = 0; run < runs; ++run)
            times.push_back(ScanSeconds(file, audio, frames));
        const double t = Median(times);
        std::printf("%-22s %10zu %10.2f %12.2f\n", BaseName(file).c_str(), frames,
                    t * 1000, audio > 0 ? t * 1000 * 3600 / audio : 0.0);
    }
    return 0;
}
