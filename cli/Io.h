// SPDX-License-Identifier: GPL-2.0-or-later
// The output files of the programs.
#ifndef VORLIX_CLI_IO_H
#define VORLIX_CLI_IO_H

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

/** WAV or raw PCM to a file or standard output. A failed write leaves the
 *  object failed; Abandon removes a partial file. A seekable WAV output
 *  becomes RF64 when its data outgrows 4 GiB. */
class Output {
public:
    bool Open(const std::string &path, bool raw, int32_t channels, int32_t rate);
    ~Output();

    bool Write(const uint8_t *bytes, size_t n);
    /** Completes the file (WAV sizes patched where the output can seek). */
    bool Finish();
    void Abandon();

    uint64_t DataBytes() const { return dataBytes_; }

private:
    bool WriteHeader(uint64_t dataBytes);

    std::FILE *file_ = nullptr;
    std::unique_ptr<char[]> buffer_;  // a file's stdio buffer, freed after it is closed
    std::string path_;
    bool toStdout_ = false;
    bool seekable_ = false;
    bool removable_ = false;  // a regular file, removed when abandoned
    bool raw_ = false;
    int32_t channels_ = 2, rate_ = 44100;
    uint64_t dataBytes_ = 0;
    bool failed_ = false;
};

/** While partial output files exist, SIGINT, SIGTERM and SIGHUP remove them
 *  before the process ends with 128 + the signal number, and SIGPIPE (where
 *  it is not ignored) before it ends the process as always. */
void InstallSignalCleanup();
/** The calling thread's partial output, "" when there is none: each thread
 *  has a place of its own, so that outputs written at once in several
 *  threads are all removed. */
void SetPartialOutput(const std::string &path);

#endif
