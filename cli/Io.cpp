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

#include "Wav.h"

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
