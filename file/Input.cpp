// SPDX-License-Identifier: GPL-2.0-or-later
#include "Input.h"

#include <algorithm>

Input::Input(std::unique_ptr<ByteSource> source, std::string name)
    : source_(std::move(source)), name_(std::move(name)), seekable_(source_->Seekable()),
      size_(source_->Size())
{
    if (seekable_ && !source_->Seek(0))
        seekable_ = false, size_ = -1;
}

// Reads until n bytes, the end or a failure: sources may give fewer at a time.
size_t Input::ReadSource(uint8_t *out, size_t n)
{
    size_t got = 0;
    while (got < n) {
        const long r = source_->Read(out + got, n - got);
        if (r < 0) {
            failed_ = true;
            break;
        }
        if (r == 0)
            break;
        got += static_cast<size_t>(r);
    }
    return got;
}

size_t Input::Read(std::vector<uint8_t> &buffer, size_t n)
{
    const size_t before = buffer.size();
    if (!seekable_ && offset_ < piped_) {
        // replay what the stream kept
        const size_t from = static_cast<size_t>(offset_ - keptStart_);
        const size_t take = std::min(n, kept_.size() - from);
        buffer.insert(buffer.end(), kept_.begin() + static_cast<long>(from),
                      kept_.begin() + static_cast<long>(from + take));
        n -= take;
    }
    if (n > 0) {
        const size_t at = buffer.size();
        buffer.resize(at + n);
        const size_t got = ReadSource(buffer.data() + at, n);
        buffer.resize(at + got);
        if (!seekable_) {
            if (keeping_)
                kept_.insert(kept_.end(), buffer.begin() + static_cast<long>(at), buffer.end());
            else
                keptStart_ += static_cast<int64_t>(got);
            piped_ += static_cast<int64_t>(got);
        }
    }
    const size_t read = buffer.size() - before;
    offset_ += static_cast<int64_t>(read);
    return read;
}

bool Input::Seek(int64_t offset)
{
    if (seekable_) {
        if (offset < 0 || !source_->Seek(offset)) {
            failed_ = failed_ || offset >= 0;
            return false;
        }
        offset_ = offset;
        return true;
    }
    if (offset < keptStart_)
        return false;
    if (offset <= piped_) {
        offset_ = offset;
        return true;
    }
    offset_ = piped_;
    std::vector<uint8_t> scratch;
    while (offset_ < offset) {
        scratch.clear();
        const size_t want = static_cast<size_t>(std::min<int64_t>(offset - offset_, 1 << 16));
        if (Read(scratch, want) == 0)
            return false;
    }
    return true;
}

bool Input::ReadAt(uint64_t offset, size_t n, uint8_t *out)
{
    if (!seekable_)
        return false;
    const long got = source_->ReadAt(offset, n, out);
    // a read that fails is the source's failure, not the end of its bytes;
    // a source that reads by seeking must come back to where reading was
    if (got < 0 || !source_->Seek(offset_))
        failed_ = true;
    return got >= 0 && static_cast<size_t>(got) == n;
}

void Input::Keep(bool keep)
{
    if (seekable_)
        return;
    keeping_ = keep;
    if (!keep) {
        // only what is still to be replayed stays
        const size_t from = static_cast<size_t>(offset_ - keptStart_);
        kept_.erase(kept_.begin(), kept_.begin() + static_cast<long>(from));
        keptStart_ = offset_;
    }
}
