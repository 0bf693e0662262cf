// SPDX-License-Identifier: GPL-2.0-or-later
// The output files of the programs.
#ifndef VORLIX_CLI_IO_H
#define VORLIX_CLI_IO_H

#include <cstdint>
#include <cstdio>
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
    std::string path_;
    bool toStdout_ = false;
    bool seekable_ = false;
    bool removable_ = false;  // a regular file, removed when abandoned
    bool raw_ = false;
    int32_t channels_ = 2, rate_ = 44100;
    uint64_t dataBytes_ = 0;
    bool failed_ = false;
};

/** While a partial output file exists, SIGINT, SIGTERM and SIGHUP remove it
 *  before the process ends with 128 + the signal number; while a child
 *  process works, they are passed on to it and it is waited for first. */
void InstallSignalCleanup();
void SetPartialOutput(const std::string &path);  // "" when there is none
void SetChildProcess(int pid);                  // 0 when there is none

#endif
