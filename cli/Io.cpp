// SPDX-License-Identifier: GPL-2.0-or-later
#include "Io.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
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
    constexpr size_t bufferSize = 1 << 16;
    if (toStdout_) {
        // set once, before standard output's first write: the inputs that
        // write to it one after another share it
        static char stdoutBuffer[bufferSize];
        static std::once_flag once;
        std::call_once(once, [] { std::setvbuf(stdout, stdoutBuffer, _IOFBF, bufferSize); });
    } else {
        buffer_ = std::make_unique<char[]>(bufferSize);
        std::setvbuf(file_, buffer_.get(), _IOFBF, bufferSize);
    }
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

// The partial outputs' paths, for the signal handler: fixed arrays that it
// reads without allocating, one for each thread that writes (the jobs and
// the main thread). A slot's path counts while its flag is set.
constexpr int slots = 72;
char partialPaths[slots][4096];
std::atomic<bool> partialSet[slots];
std::atomic<int> slotsTaken{0};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler reads the flags");

// The calling thread's slot, -1 when all are taken.
int Slot()
{
    thread_local const int slot = [] {
        const int s = slotsTaken.fetch_add(1);
        return s < slots ? s : -1;
    }();
    return slot;
}

void RemovePartial()
{
    for (int s = 0; s < slots; ++s)
        if (partialSet[s].load())
            unlink(partialPaths[s]);
}

extern "C" void RemovePartialAndExit(int signal)
{
    RemovePartial();
    _exit(128 + signal);
}

// A closed pipe still ends the process by SIGPIPE, quietly, as without the
// handler: the signal comes again, with its default action, on return.
extern "C" void RemovePartialAndRaise(int signal)
{
    RemovePartial();
    std::signal(signal, SIG_DFL);
    raise(signal);
}

} // namespace

void SetPartialOutput(const std::string &path)
{
    const int slot = Slot();
    if (slot < 0)
        return;
    partialSet[slot].store(false);
    if (path.empty() || path.size() >= sizeof partialPaths[slot])
        return;
    std::memcpy(partialPaths[slot], path.c_str(), path.size() + 1);
    partialSet[slot].store(true);
}

void InstallSignalCleanup()
{
    struct sigaction action = {};
    action.sa_handler = RemovePartialAndExit;
    sigemptyset(&action.sa_mask);
    for (int s : {SIGINT, SIGTERM, SIGHUP})
        sigaction(s, &action, nullptr);
    // with several inputs at once, the outputs of the others are partial
    // when one on a closed pipe ends the process (unless the caller has
    // SIGPIPE ignored: then a write fails and its input fails alone)
    struct sigaction pipe = {};
    if (sigaction(SIGPIPE, nullptr, &pipe) == 0 && pipe.sa_handler == SIG_DFL) {
        action.sa_handler = RemovePartialAndRaise;
        sigaction(SIGPIPE, &action, nullptr);
    }
}
