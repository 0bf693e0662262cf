// Input and output files of vorlix-decode.
#ifndef VORLIX_CLI_IO_H
#define VORLIX_CLI_IO_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

/** A file or standard input, read in order from its first byte, that can go
 *  back to its start once (a pipe replays what it kept) and skip ahead. */
class Input {
public:
    bool Open(const std::string &path);
    ~Input();

    /** Appends up to n bytes to buffer; returns how many. */
    size_t Read(std::vector<uint8_t> &buffer, size_t n);
    /** Back to the first byte. */
    bool Rewind();
    /** To an absolute offset at or after the current one, or before it on a
     *  seekable file. */
    bool SkipTo(int64_t offset);

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
    std::vector<uint8_t> kept_;  // what a pipe gave before Rewind
    bool keeping_ = false;
    size_t replay_ = SIZE_MAX;   // position in kept_ while replaying
};

/** WAV or raw PCM to a file or standard output. A failed write leaves the
 *  object failed; Abandon removes a partial file. */
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
    bool removable_ = false;  // a regular file, removed when abandoned
    bool raw_ = false;
    int32_t channels_ = 2, rate_ = 44100;
    uint64_t dataBytes_ = 0;
    bool failed_ = false;
};

#endif
