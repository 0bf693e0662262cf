// SPDX-License-Identifier: GPL-2.0-or-later
// A handle's input over its byte source. A seekable source goes anywhere;
// a stream can go back only over the bytes it keeps (from Keep(true) on) and
// forward by reading.
#ifndef VORLIX_FILE_INPUT_H
#define VORLIX_FILE_INPUT_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Source.h"

class Input {
public:
    explicit Input(std::unique_ptr<ByteSource> source, std::string name = "");

    /** Appends up to n bytes from the current offset to buffer; returns how
     *  many (fewer only at the end, on a read error, or where pushed bytes
     *  run out). */
    size_t Read(std::vector<uint8_t> &buffer, size_t n);
    /** To an absolute offset; false where the input cannot go. */
    bool Seek(int64_t offset);
    /** n bytes at an offset of a seekable input, the current offset unchanged. */
    bool ReadAt(uint64_t offset, size_t n, uint8_t *out);
    /** On a stream, keeps what is read from here on for a later Seek back;
     *  Keep(false) lets it go. */
    void Keep(bool keep);
    /** Whether the bytes up to an offset can be read now (see ByteSource). */
    bool Ready(int64_t end) const { return source_->Ready(end); }
    bool Framed() const { return source_->Framed(); }

    bool Seekable() const { return seekable_; }
    bool Failed() const { return failed_; }
    int64_t Size() const { return size_; }        // -1 when unknown
    int64_t Offset() const { return offset_; }    // of the next byte read
    const std::string &Name() const { return name_; }
    ByteSource &Source() { return *source_; }

private:
    size_t ReadSource(uint8_t *out, size_t n);

    std::unique_ptr<ByteSource> source_;
    std::string name_;
    bool seekable_ = false;
    bool failed_ = false;
    int64_t size_ = -1;
    int64_t offset_ = 0;
    // a stream: bytes from keptStart_ that it keeps, and how far it was read
    std::vector<uint8_t> kept_;
    int64_t keptStart_ = 0;
    int64_t piped_ = 0;
    bool keeping_ = false;
};

#endif
