// SPDX-License-Identifier: GPL-2.0-or-later
// Where a handle's bytes come from: a file descriptor, a memory block, the
// host's callbacks, or bytes the host pushes in as they arrive.
#ifndef VORLIX_FILE_SOURCE_H
#define VORLIX_FILE_SOURCE_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "vorlixfile.h"

class ByteSource {
public:
    virtual ~ByteSource() = default;
    /** Up to n bytes into out: how many, 0 at the end, -1 on a failure. */
    virtual long Read(uint8_t *out, size_t n) = 0;
    /** To an absolute offset; false where the source cannot go. */
    virtual bool Seek(int64_t) { return false; }
    virtual bool Seekable() const { return false; }
    /** Bytes in all; -1 when unknown. */
    virtual int64_t Size() const { return -1; }
    /** n bytes at an offset of a seekable source; the position may move.
     *  Returns n, fewer where the source ends first, or -1 when a read (or
     *  the seek before it) fails. */
    virtual long ReadAt(uint64_t offset, size_t n, uint8_t *out);
    /** Whether the bytes up to `end` (an offset) can be read now, or the
     *  source ends before: false only while pushed bytes are awaited. */
    virtual bool Ready(int64_t) const { return true; }
    /** A source of whole frames (a parser's output): what is there is
     *  judged without waiting for the lookahead. */
    virtual bool Framed() const { return false; }
};

/** A file descriptor; closed at the end when owned. */
class FdSource : public ByteSource {
public:
    FdSource(int fd, bool owned);
    ~FdSource() override;
    long Read(uint8_t *out, size_t n) override;
    bool Seek(int64_t offset) override;
    bool Seekable() const override { return seekable_; }
    int64_t Size() const override { return size_; }
    long ReadAt(uint64_t offset, size_t n, uint8_t *out) override;

private:
    int fd_;
    bool owned_;
    bool seekable_ = false;
    int64_t size_ = -1;
};

/** A memory block the host keeps in place while the handle lives. */
class MemorySource : public ByteSource {
public:
    MemorySource(const uint8_t *data, size_t size) : data_(data), size_(size) {}
    long Read(uint8_t *out, size_t n) override;
    bool Seek(int64_t offset) override;
    bool Seekable() const override { return true; }
    int64_t Size() const override { return static_cast<int64_t>(size_); }
    long ReadAt(uint64_t offset, size_t n, uint8_t *out) override;

private:
    const uint8_t *data_;
    size_t size_;
    size_t at_ = 0;
};

/** The host's callbacks: a read, and where it can seek, a seek and a tell. */
class CallbackSource : public ByteSource {
public:
    CallbackSource(void *source, const VorlixFileCallbacks &callbacks);
    ~CallbackSource() override;
    /** From here on the host's close is called at the end: only a handle
     *  that opened closes the host's source. */
    void CloseAtEnd() { closeAtEnd_ = true; }
    long Read(uint8_t *out, size_t n) override;
    bool Seek(int64_t offset) override;
    bool Seekable() const override { return size_ >= 0; }
    int64_t Size() const override { return size_; }

private:
    void *source_;
    VorlixFileCallbacks callbacks_;
    int64_t size_ = -1;  // found by seeking to the end; -1 without seek
    bool closeAtEnd_ = false;
};

/** Bytes pushed by the host. Reads give what has come; Ready tells whether
 *  a stretch is there yet. The bytes read are let go. Framed: each feed
 *  holds whole frames. */
class PushSource : public ByteSource {
public:
    explicit PushSource(bool framed = false) : framed_(framed) {}
    long Read(uint8_t *out, size_t n) override;
    bool Ready(int64_t end) const override { return ended_ || end <= received_; }
    bool Framed() const override { return framed_; }

    void Feed(const uint8_t *data, size_t n);
    void End() { ended_ = true; }
    bool Ended() const { return ended_; }
    int64_t Received() const { return received_; }

private:
    std::vector<uint8_t> pending_;  // received, not yet read
    size_t from_ = 0;               // first unread byte of pending_
    int64_t received_ = 0;
    bool framed_ = false;
    bool ended_ = false;
};

#endif
