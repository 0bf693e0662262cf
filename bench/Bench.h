// SPDX-License-Identifier: GPL-2.0-or-later
// What the benchmark's measurements share: streams in memory, clocks and
// medians.
#ifndef VORLIX_BENCH_BENCH_H
#define VORLIX_BENCH_BENCH_H

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

/** CPU seconds of the process, of the calling thread; wall seconds. */
double CpuSeconds();
double ThreadCpuSeconds();
double WallSeconds();

double Median(std::vector<double> v);

/** A file's bytes (empty when it cannot be read). */
Bytes LoadFile(const std::string &path);
/** The name after the last '/'. */
std::string BaseName(const std::string &path);

/** The threads mode: the files decoded through libvorlixfile by 1, 2, 4 ...
 *  up to `threads` threads, against one thread; and what a handle's first
 *  decode costs. Returns the exit status. */
int RunThreads(const std::vector<std::string> &files, int threads, int runs, int handles);

#endif
