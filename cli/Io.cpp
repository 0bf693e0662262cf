#include "Io.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

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
    if (fstat(fileno(file_), &st) == 0 && S_ISREG(st.st_mode)) {
        seekable_ = true;
        size_ = st.st_size;
    } else if (fstat(fileno(file_), &st) == 0 && S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return false;
    }
    keeping_ = !seekable_;
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
    if (replay_ < kept_.size()) {
        const size_t take = std::min(n, kept_.size() - replay_);
        buffer.insert(buffer.end(), kept_.begin() + static_cast<long>(replay_),
                      kept_.begin() + static_cast<long>(replay_ + take));
        replay_ += take;
        n -= take;
    }
    if (n > 0 && replay_ >= kept_.size()) {
        const size_t at = buffer.size();
        buffer.resize(at + n);
        const size_t got = std::fread(buffer.data() + at, 1, n, file_);
        buffer.resize(at + got);
        if (got < n && std::ferror(file_))
            failed_ = true;
        if (keeping_)
            kept_.insert(kept_.end(), buffer.begin() + static_cast<long>(at), buffer.end());
    }
    const size_t read = buffer.size() - before;
    offset_ += static_cast<int64_t>(read);
    return read;
}

bool Input::Rewind()
{
    offset_ = 0;
    if (seekable_)
        return std::fseek(file_, 0, SEEK_SET) == 0;
    keeping_ = false;
    replay_ = 0;
    return true;
}

bool Input::SkipTo(int64_t offset)
{
    if (seekable_) {
        if (std::fseek(file_, static_cast<long>(offset), SEEK_SET) != 0)
            return false;
        offset_ = offset;
        return true;
    }
    std::vector<uint8_t> scratch;
    while (offset_ < offset) {
        scratch.clear();
        const size_t want = static_cast<size_t>(std::min<int64_t>(offset - offset_, 1 << 16));
        if (Read(scratch, want) == 0)
            break;
    }
    return offset_ >= offset || !failed_;
}

namespace {

void Put32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

void Put16(uint8_t *p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

} // namespace

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
    }
    static char buffer[1 << 16];
    std::setvbuf(file_, buffer, _IOFBF, sizeof buffer);
    return raw_ || WriteHeader(UINT32_MAX - 36);
}

Output::~Output()
{
    if (file_ != nullptr && !toStdout_)
        std::fclose(file_);
}

bool Output::WriteHeader(uint64_t dataBytes)
{
    const uint32_t data = static_cast<uint32_t>(std::min<uint64_t>(dataBytes, UINT32_MAX - 36));
    uint8_t h[44];
    std::memcpy(h, "RIFF", 4);
    Put32(h + 4, 36 + data);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    Put32(h + 16, 16);
    Put16(h + 20, 1);  // integer PCM
    Put16(h + 22, static_cast<uint16_t>(channels_));
    Put32(h + 24, static_cast<uint32_t>(rate_));
    Put32(h + 28, static_cast<uint32_t>(rate_ * channels_ * 2));
    Put16(h + 32, static_cast<uint16_t>(channels_ * 2));
    Put16(h + 34, 16);
    std::memcpy(h + 36, "data", 4);
    Put32(h + 40, data);
    if (std::fwrite(h, 1, sizeof h, file_) != sizeof h)
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
    if (!failed_ && !raw_ && std::fflush(file_) == 0 && std::fseek(file_, 0, SEEK_SET) == 0)
        WriteHeader(dataBytes_);  // a pipe cannot seek: its header keeps the streaming sizes
    if (std::fflush(file_) != 0)
        failed_ = true;
    if (!toStdout_) {
        if (std::fclose(file_) != 0)
            failed_ = true;
        file_ = nullptr;
    }
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
}
