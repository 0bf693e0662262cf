// SPDX-License-Identifier: GPL-2.0-or-later
// Input and output files of the command-line hosts.
#ifndef VORLIX_CLI_IO_H
#define VORLIX_CLI_IO_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

/** A file or standard input. A file seeks anywhere; a pipe can go back only
 *  over the bytes it keeps (from Keep(true) on) and forward by reading. */
class Input {
public:
    bool Open(const std::string &path);
    ~Input();

    /** Appends up to n bytes from the current offset to buffer; returns how
     *  many (fewer only at the end or on a read error). */
    size_t Read(std::vector<uint8_t> &buffer, size_t n);
    /** To an absolute offset; false where the input cannot go. */
    bool Seek(int64_t offset);
    /** n bytes at an offset of a seekable input, the current offset unchanged. */
    bool ReadAt(uint64_t offset, size_t n, uint8_t *out);
    /** On a pipe, keeps what is read from here on for a later Seek back;
     *  Keep(false) lets it go. */
    void Keep(bool keep);

    bool Seekable() const { return seekable_; }
    bool Failed() const { return failed_; }
    int64_t Size() const { return size_; }        // -1 when unknown
    int64_t Offset() const { return offset_; }    // of the next byte read
    const std::string &Name() const { return name_; }

private:
    std::FILE *file_ = nullptr;
    std::string name_;
    bool seekable_ = false;
    bool failed_ = false;
    int64_t size_ = -1;
    int64_t offset_ = 0;
    // a pipe: bytes from keptStart_ that it keeps, and how far it was read
    std::vector<uint8_t> kept_;
    int64_t keptStart_ = 0;
    int64_t piped_ = 0;
    bool keeping_ = false;
};

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
