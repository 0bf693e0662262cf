// SPDX-License-Identifier: GPL-2.0-or-later
#include "Io.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "format/Riff.h"

bool Input::Open(const std::string &path)
{
    name_ = path;
    if (path == "-") {
        file_ = stdin;
    } else {
        file_ = std::fopen(path.c_str(), "rb");
        if (file_ == nullptr)
            return false;
    }
    struct stat st;
    if (fstat(fileno(file_), &st) != 0)
        return false;
    if (S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return false;
    }
    if (S_ISREG(st.st_mode)) {
        seekable_ = true;
        size_ = st.st_size;
    }
    return true;
}

Input::~Input()
{
    if (file_ != nullptr && file_ != stdin)
        std::fclose(file_);
}

size_t Input::Read(std::vector<uint8_t> &buffer, size_t n)
{
    const size_t before = buffer.size();
    if (!seekable_ && offset_ < piped_) {
        // replay what the pipe kept
        const size_t from = static_cast<size_t>(offset_ - keptStart_);
        const size_t take = std::min(n, kept_.size() - from);
        buffer.insert(buffer.end(), kept_.begin() + static_cast<long>(from),
                      kept_.begin() + static_cast<long>(from + take));
        n -= take;
    }
    if (n > 0) {
        const size_t at = buffer.size();
        buffer.resize(at + n);
        const size_t got = std::fread(buffer.data() + at, 1, n, file_);
        buffer.resize(at + got);
        if (got < n && std::ferror(file_))
            failed_ = true;
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
        if (offset < 0 || fseeko(file_, offset, SEEK_SET) != 0)
            return false;
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
    size_t done = 0;
    while (done < n) {
        const ssize_t got = pread(fileno(file_), out + done, n - done, static_cast<off_t>(offset + done));
        if (got <= 0)
            return false;
        done += static_cast<size_t>(got);
    }
    return true;
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

bool Output::Open(const std::string &path, bool raw, int32_t channels, int32_t rate)
{
    path_ = path;
    raw_ = raw;
    channels_ = channels;
    rate_ = rate;
    if (path == "-") {
        toStdout_ = true;
        file_ = stdout;
    } else {
        file_ = std::fopen(path.c_str(), "wb");
        if (file_ == nullptr)
            return false;
        // a partial regular file is removed after a failure; a device is not
        struct stat st;
        removable_ = fstat(fileno(file_), &st) == 0 && S_ISREG(st.st_mode);
        if (removable_)
            SetPartialOutput(path);
    }
    seekable_ = lseek(fileno(file_), 0, SEEK_CUR) == 0;
    static char buffer[1 << 16];
    std::setvbuf(file_, buffer, _IOFBF, sizeof buffer);
    // a file's sizes are patched at the end; a stream's say "as much as there will be"
    return raw_ || WriteHeader(seekable_ ? 0 : UINT32_MAX - 36);
}

Output::~Output()
{
    if (file_ != nullptr && !toStdout_)
        std::fclose(file_);
}

bool Output::WriteHeader(uint64_t dataBytes)
{
    const std::vector<uint8_t> h = WavHeader(channels_, rate_, dataBytes, seekable_);
    if (std::fwrite(h.data(), 1, h.size(), file_) != h.size())
        failed_ = true;
    return !failed_;
}

bool Output::Write(const uint8_t *bytes, size_t n)
{
    if (n > 0 && std::fwrite(bytes, 1, n, file_) != n)
        failed_ = true;
    dataBytes_ += n;
    return !failed_;
}

bool Output::Finish()
{
    if (!failed_ && !raw_ && seekable_ && std::fflush(file_) == 0 && fseeko(file_, 0, SEEK_SET) == 0)
        WriteHeader(dataBytes_);
    if (std::fflush(file_) != 0)
        failed_ = true;
    if (!toStdout_) {
        if (std::fclose(file_) != 0)
            failed_ = true;
        file_ = nullptr;
    }
    if (!failed_)
        SetPartialOutput("");
    return !failed_;
}

void Output::Abandon()
{
    if (!toStdout_) {
        if (file_ != nullptr)
            std::fclose(file_);
        file_ = nullptr;
        if (removable_)
            std::remove(path_.c_str());
    }
    SetPartialOutput("");
}

namespace {

// The partial output's path, for the signal handler: a fixed array that it
// reads without allocating. Empty: nothing to remove.
char partialPath[4096];
volatile sig_atomic_t partialSet = 0;
volatile sig_atomic_t child = 0;

extern "C" void RemovePartialAndExit(int signal)
{
    if (child > 0) {
        kill(child, signal);
        waitpid(child, nullptr, 0);
    }
    if (partialSet)
        unlink(partialPath);
    _exit(128 + signal);
}

} // namespace

void SetPartialOutput(const std::string &path)
{
    partialSet = 0;
    if (path.empty() || path.size() >= sizeof partialPath)
        return;
    std::memcpy(partialPath, path.c_str(), path.size() + 1);
    partialSet = 1;
}

void SetChildProcess(int pid)
{
    child = pid;
}

void InstallSignalCleanup()
{
    struct sigaction action = {};
    action.sa_handler = RemovePartialAndExit;
    sigemptyset(&action.sa_mask);
    for (int s : {SIGINT, SIGTERM, SIGHUP})
        sigaction(s, &action, nullptr);
}
