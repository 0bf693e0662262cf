// SPDX-License-Identifier: GPL-2.0-or-later
#include "Source.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

long ByteSource::ReadAt(uint64_t offset, size_t n, uint8_t *out)
{
    if (Size() >= 0 && offset > static_cast<uint64_t>(Size()))
        return 0;
    if (!Seek(static_cast<int64_t>(offset)))
        return -1;
    size_t done = 0;
    while (done < n) {
        const long got = Read(out + done, n - done);
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        done += static_cast<size_t>(got);
    }
    return static_cast<long>(done);
}

FdSource::FdSource(int fd, bool owned) : fd_(fd), owned_(owned)
{
    struct stat st;
    if (fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) {
        seekable_ = true;
        size_ = st.st_size;
    }
}

FdSource::~FdSource()
{
    if (owned_)
        close(fd_);
}

long FdSource::Read(uint8_t *out, size_t n)
{
    for (;;) {
        const ssize_t got = read(fd_, out, n);
        if (got >= 0)
            return static_cast<long>(got);
        if (errno != EINTR)
            return -1;
    }
}

bool FdSource::Seek(int64_t offset)
{
    return seekable_ && lseek(fd_, static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
}

long FdSource::ReadAt(uint64_t offset, size_t n, uint8_t *out)
{
    size_t done = 0;
    while (done < n) {
        const ssize_t got = pread(fd_, out + done, n - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        done += static_cast<size_t>(got);
    }
    return static_cast<long>(done);
}

long MemorySource::Read(uint8_t *out, size_t n)
{
    const size_t take = std::min(n, size_ - at_);
    if (take > 0)
        std::memcpy(out, data_ + at_, take);
    at_ += take;
    return static_cast<long>(take);
}

bool MemorySource::Seek(int64_t offset)
{
    if (offset < 0 || static_cast<uint64_t>(offset) > size_)
        return false;
    at_ = static_cast<size_t>(offset);
    return true;
}

long MemorySource::ReadAt(uint64_t offset, size_t n, uint8_t *out)
{
    if (offset > size_)
        return 0;
    const size_t take = std::min(n, size_ - static_cast<size_t>(offset));
    if (take > 0)
        std::memcpy(out, data_ + offset, take);
    return static_cast<long>(take);
}

CallbackSource::CallbackSource(void *source, const VorlixFileCallbacks &callbacks)
    : source_(source), callbacks_(callbacks)
{
    // seekable when the host can seek and tell: the size from the end
    if (callbacks_.seek != nullptr && callbacks_.tell != nullptr && callbacks_.seek(source_, 0, SEEK_END) == 0) {
        const int64_t end = callbacks_.tell(source_);
        if (end >= 0 && callbacks_.seek(source_, 0, SEEK_SET) == 0)
            size_ = end;
    }
}

CallbackSource::~CallbackSource()
{
    if (closeAtEnd_ && callbacks_.close != nullptr)
        callbacks_.close(source_);
}

long CallbackSource::Read(uint8_t *out, size_t n)
{
    const long got = callbacks_.read(source_, out, n);
    return got < 0 ? -1 : std::min(got, static_cast<long>(n));
}

bool CallbackSource::Seek(int64_t offset)
{
    return size_ >= 0 && offset >= 0 && callbacks_.seek(source_, offset, SEEK_SET) == 0;
}

long PushSource::Read(uint8_t *out, size_t n)
{
    const size_t take = std::min(n, pending_.size() - from_);
    if (take > 0)
        std::memcpy(out, pending_.data() + from_, take);
    from_ += take;
    // what was read is the handle's to keep: let it go now and then
    if (from_ > (1u << 16) && from_ * 2 > pending_.size()) {
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(from_));
        from_ = 0;
    }
    return static_cast<long>(take);
}

void PushSource::Feed(const uint8_t *data, size_t n)
{
    pending_.insert(pending_.end(), data, data + n);
    received_ += static_cast<int64_t>(n);
}
