#include "cli/HostSupport.h"

#include <algorithm>
#include "format/FrameHeader.h"
#include "format/HeaderFrame.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <sys/wait.h>

int Shell(const std::string &command)
{
    const int status = std::system(("set +e; exec 2>/dev/null; " + command).c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

Bytes ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string &path, const Bytes &bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
}

bool Exists(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

uint32_t Le32(const Bytes &b, size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

uint16_t Le16(const Bytes &b, size_t at)
{
    return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

int MaxDifference(const Bytes &a, const Bytes &b)
{
    int most = a.size() == b.size() ? 0 : 65536;
    for (size_t i = 0; i + 1 < std::min(a.size(), b.size()); i += 2) {
        const int x = static_cast<int16_t>(a[i] | (a[i + 1] << 8)), y = static_cast<int16_t>(b[i] | (b[i + 1] << 8));
        most = std::max(most, std::abs(x - y));
    }
    return most;
}

WavFile ParseWav(const Bytes &wav)
{
    WavFile w;
    if (wav.size() < 12)
        return w;
    w.riff = std::string(wav.begin(), wav.begin() + 4);
    w.riffSize = Le32(wav, 4);
    for (size_t at = 12; at + 8 <= wav.size();) {
        const std::string id(wav.begin() + static_cast<long>(at), wav.begin() + static_cast<long>(at) + 4);
        const uint32_t size = Le32(wav, at + 4);
        w.chunks.push_back(id);
        if (id == "fmt " && at + 24 <= wav.size()) {
            w.format = Le16(wav, at + 8);
            w.channels = Le16(wav, at + 10);
            w.rate = Le32(wav, at + 12);
            w.byteRate = Le32(wav, at + 16);
            w.bits = Le16(wav, at + 22);
        }
        if (id == "data") {
            w.dataSize = size;
            w.data.assign(wav.begin() + static_cast<long>(at + 8), wav.end());
            break;
        }
        at += 8 + size + (size & 1);
    }
    return w;
}

void HostFixture::SetUp()
{
    char pattern[] = "/tmp/vorlix-host-XXXXXX";
    dir = mkdtemp(pattern);
    ResetDecoder();
}

void HostFixture::TearDown()
{
    std::system(("rm -rf " + dir).c_str());
    ResetDecoder();
}

Bytes HostFixture::LibraryPcm(const Bytes &stream)
{
    ResetDecoder();
    return DecodeStream(stream, 4096).pcm;
}

Bytes HostFixture::UntrimmedPcm(const Bytes &stream)
{
    Bytes pcm = LibraryPcm(stream);
    FrameHeader h;
    EXPECT_TRUE(stream.size() >= 4 && ParseFrameHeader(stream.data(), h));
    if (ParseHeaderFrame(stream.data(), std::min<size_t>(stream.size(), 2048), h).kind == HeaderKind::None)
        return pcm;
    const size_t first = static_cast<size_t>(h.SamplesPerFrame() * h.Channels() * 2);
    pcm.erase(pcm.begin(), pcm.begin() + static_cast<long>(std::min(first, pcm.size())));
    return pcm;
}
