// SPDX-License-Identifier: GPL-2.0-or-later
// The threads mode: every stream decoded whole on a handle of its own
// through libvorlixfile, by 1, 2, 4 ... threads that share the streams out
// (each thread its own streams), against one thread decoding them all: wall
// time, CPU time, throughput, and each stream's CPU time against its decode
// alone. Then the same with every handle sharing the process's decoder (the
// library's fallback), and what a handle's first decode costs in time and
// memory.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>

#include <unistd.h>

#include "Bench.h"
#include "vorlixfile.h"

namespace {

struct Stream {
    std::string name;
    Bytes bytes;
    double audio = 0;  // seconds
    double solo = 0;   // CPU seconds of its decode alone
};

// Decodes a stream whole on a handle of its own; the calling thread's CPU
// seconds, the handle's open included. Samples per channel in *samples.
double DecodeWhole(const Bytes &bytes, uint64_t &samples)
{
    const double t = ThreadCpuSeconds();
    VorlixFile *f = vf_open_memory(bytes.data(), bytes.size(), nullptr);
    samples = 0;
    if (f == nullptr)
        return -1;
    std::vector<int16_t> pcm(4096 * 2);
    int n = 0;
    while ((n = vf_read(f, pcm.data(), 4096)) > 0)
        samples += static_cast<uint64_t>(n);
    vf_free(f);
    return ThreadCpuSeconds() - t;
}

// The streams shared out to `threads` threads, the longest first to the
// least loaded, so that the threads' work is as even as the streams allow.
std::vector<std::vector<size_t>> ShareOut(const std::vector<Stream> &streams, int threads)
{
    std::vector<size_t> order(streams.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return streams[a].solo > streams[b].solo; });
    std::vector<std::vector<size_t>> shares(static_cast<size_t>(threads));
    std::vector<double> load(static_cast<size_t>(threads), 0);
    for (const size_t i : order) {
        const size_t t = static_cast<size_t>(std::min_element(load.begin(), load.end()) - load.begin());
        shares[t].push_back(i);
        load[t] += streams[i].solo;
    }
    return shares;
}

struct Run {
    double wall = 0, cpu = 0;
    std::vector<double> fileCpu;  // per stream
};

// One run: the threads start together and each decodes its share.
Run RunShared(const std::vector<Stream> &streams, int threads)
{
    const auto shares = ShareOut(streams, threads);
    Run run;
    run.fileCpu.assign(streams.size(), 0);
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> workers;
    for (const std::vector<size_t> &share : shares)
        workers.emplace_back([&, share] {
            ++ready;
            while (!go.load())
                std::this_thread::yield();
            for (const size_t i : share) {
                uint64_t samples = 0;
                run.fileCpu[i] = DecodeWhole(streams[i].bytes, samples);
            }
        });
    while (ready.load() < threads)
        std::this_thread::yield();
    const double wall = WallSeconds(), cpu = CpuSeconds();
    go = true;
    for (std::thread &w : workers)
        w.join();
    run.wall = WallSeconds() - wall;
    run.cpu = CpuSeconds() - cpu;
    return run;
}

void PrintTable(const std::vector<Stream> &streams, int most, int runs)
{
    double audio = 0;
    for (const Stream &s : streams)
        audio += s.audio;
    std::printf("%-8s %9s %9s %12s %10s %12s %12s\n", "threads", "wall s", "CPU s", "x realtime", "vs 1", "file CPU",
                "file CPU");
    std::printf("%-8s %9s %9s %12s %10s %12s %12s\n", "", "", "", "", "thread", "/ solo mean", "/ solo most");
    double one = 0;
    for (int threads = 1; threads <= most; threads = threads * 2 > most && threads < most ? most : threads * 2) {
        std::vector<double> walls, cpus;
        std::vector<std::vector<double>> files(streams.size());
        for (int r = 0; r < runs; ++r) {
            const Run run = RunShared(streams, threads);
            walls.push_back(run.wall);
            cpus.push_back(run.cpu);
            for (size_t i = 0; i < streams.size(); ++i)
                files[i].push_back(run.fileCpu[i] / streams[i].solo);
        }
        double mean = 0, worst = 0;
        size_t worstAt = 0;
        for (size_t i = 0; i < files.size(); ++i) {
            const double m = Median(files[i]);
            mean += m / static_cast<double>(files.size());
            if (m > worst)
                worst = m, worstAt = i;
        }
        const double wall = Median(walls);
        if (threads == 1)
            one = wall;
        std::printf("%-8d %9.3f %9.3f %12.1f %10.2f %12.3f %12.3f  %s\n", threads, wall, Median(cpus), audio / wall,
                    one / wall, mean, worst, streams[worstAt].name.c_str());
    }
}

// Resident memory in kB.
long ResidentKb()
{
    long pages = 0, resident = 0;
    if (FILE *f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// `count` handles on a stream, opened, then one frame read from each (its
// first decode), then another: the time and memory of each step.
void FirstDecodeCost(const Stream &s, int count)
{
    std::vector<VorlixFile *> files;
    std::vector<int16_t> pcm(1152 * 2);
    std::vector<double> first, next;
    const long before = ResidentKb();
    for (int i = 0; i < count; ++i)
        files.push_back(vf_open_memory(s.bytes.data(), s.bytes.size(), nullptr));
    const long opened = ResidentKb();
    for (VorlixFile *f : files) {
        const double t = WallSeconds();
        vf_read(f, pcm.data(), 1152);
        first.push_back(WallSeconds() - t);
    }
    const long decoding = ResidentKb();
    for (VorlixFile *f : files) {
        const double t = WallSeconds();
        vf_read(f, pcm.data(), 1152);
        next.push_back(WallSeconds() - t);
    }
    for (VorlixFile *f : files)
        vf_free(f);
    const long freed = ResidentKb();
    std::printf("%d handles on %s: resident %ld kB before, %+ld kB opened, %+ld kB after a frame each, "
                "%+ld kB after vf_free (against before)\n",
                count, s.name.c_str(), before, opened - before, decoding - opened, freed - before);
    std::printf("  per handle: %.1f kB to open, %.1f kB for its first decode; a frame's read: %.3f ms the "
                "first (median), %.3f ms the next\n",
                static_cast<double>(opened - before) / count, static_cast<double>(decoding - opened) / count,
                Median(first) * 1000, Median(next) * 1000);
}

} // namespace

int RunThreads(const std::vector<std::string> &files, int threads, int runs, int handles)
{
    std::vector<Stream> streams;
    for (const std::string &file : files) {
        Stream s;
        s.name = BaseName(file);
        s.bytes = LoadFile(file);
        VorlixFileInfo info = VF_INFO_INIT;
        if (vf_test(&info, s.bytes.data(), s.bytes.size()) != 0) {
            std::fprintf(stderr, "vorlix_bench: %s: not MPEG audio\n", file.c_str());
            return 1;
        }
        streams.push_back(std::move(s));
    }
    // each stream alone first: its CPU time and length
    for (Stream &s : streams) {
        std::vector<double> cpu;
        uint64_t samples = 0;
        for (int r = 0; r < runs; ++r)
            cpu.push_back(DecodeWhole(s.bytes, samples));
        VorlixFile *f = vf_open_memory(s.bytes.data(), s.bytes.size(), nullptr);
        s.audio = f != nullptr && vf_rate(f) > 0 ? static_cast<double>(samples) / vf_rate(f) : 0;
        vf_free(f);
        s.solo = Median(cpu);
    }
    std::printf("%zu streams, %d runs (medians); %ld cores online\n\n", streams.size(), runs,
                sysconf(_SC_NPROCESSORS_ONLN));
    std::printf("handles on private decoders:\n");
    PrintTable(streams, threads, runs);
    std::printf("\n");
    FirstDecodeCost(streams.front(), handles);

    // the fallback: every handle shares the process's decoder
    const int limit = vf_set_instance_limit(0);
    for (Stream &s : streams) {
        std::vector<double> cpu;
        uint64_t samples = 0;
        for (int r = 0; r < runs; ++r)
            cpu.push_back(DecodeWhole(s.bytes, samples));
        s.solo = Median(cpu);
    }
    std::printf("\nhandles sharing the process's decoder (the fallback):\n");
    PrintTable(streams, std::min(threads, 2), runs);
    std::printf("\n");
    FirstDecodeCost(streams.front(), handles);
    vf_set_instance_limit(limit);
    return 0;
}
