// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/HostSupport.h"

#include <algorithm>
#include <cmath>
#include <random>
#include "format/FrameHeader.h"
#include "format/HeaderFrame.h"

#include <cstdlib>
#include <cstring>
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

// Noise and a sweep, different on each channel, so that correlation peaks sharply.
std::vector<std::vector<int16_t>> Signal(int32_t rate, int channels, size_t length)
{
    std::mt19937 random(static_cast<unsigned>(rate + channels));
    std::vector<std::vector<int16_t>> s(static_cast<size_t>(channels), std::vector<int16_t>(length));
    for (int c = 0; c < channels; ++c)
        for (size_t i = 0; i < s[0].size(); ++i) {
            const double t = static_cast<double>(i) / rate;
            const double sweep = std::sin(2 * M_PI * (200 + 300 * c) * t * (1 + t));
            const double noise = static_cast<double>(random() % 2001) / 1000.0 - 1.0;
            s[static_cast<size_t>(c)][i] = static_cast<int16_t>(6000 * sweep + 4000 * noise);
        }
    return s;
}

Bytes Wav(const std::vector<std::vector<int16_t>> &s, int32_t rate)
{
    const uint32_t channels = static_cast<uint32_t>(s.size()), n = static_cast<uint32_t>(s[0].size());
    const uint32_t data = n * channels * 2;
    Bytes w;
    auto put = [&w](uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            w.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    w.insert(w.end(), {'R', 'I', 'F', 'F'});
    put(36 + data, 4);
    w.insert(w.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put(16, 4), put(1, 2), put(channels, 2), put(static_cast<uint32_t>(rate), 4);
    put(static_cast<uint32_t>(rate) * channels * 2, 4), put(channels * 2, 2), put(16, 2);
    w.insert(w.end(), {'d', 'a', 't', 'a'});
    put(data, 4);
    for (uint32_t i = 0; i < n; ++i)
        for (uint32_t c = 0; c < channels; ++c)
            put(static_cast<uint16_t>(s[c][i]), 2);
    return w;
}

void AppendLe(Bytes &out, const int16_t *pcm, size_t values)
{
    for (size_t i = 0; i < values; ++i) {
        out.push_back(static_cast<uint8_t>(pcm[i] & 0xff));
        out.push_back(static_cast<uint8_t>((static_cast<uint16_t>(pcm[i]) >> 8) & 0xff));
    }
}

std::vector<int16_t> Samples(const Bytes &pcm)
{
    std::vector<int16_t> s(pcm.size() / 2);
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = static_cast<int16_t>(pcm[2 * i] | (pcm[2 * i + 1] << 8));
    return s;
}

Bytes Id3v2(const std::vector<std::pair<std::string, std::string>> &frames, bool utf8)
{
    Bytes body;
    for (const auto &[id, text] : frames) {
        const uint32_t size = static_cast<uint32_t>(text.size() + 1);
        body.insert(body.end(), id.begin(), id.end());
        for (int shift : {24, 16, 8, 0})
            body.push_back(static_cast<uint8_t>(utf8 ? (size >> (shift * 7 / 8)) & 0x7f : size >> shift));
        body.insert(body.end(), {0, 0, static_cast<uint8_t>(utf8 ? 3 : 0)});  // flags, encoding
        body.insert(body.end(), text.begin(), text.end());
    }
    body.resize(body.size() + 20, 0);
    const uint32_t size = static_cast<uint32_t>(body.size());
    Bytes tag = {'I', 'D', '3', static_cast<uint8_t>(utf8 ? 4 : 3), 0, 0, static_cast<uint8_t>((size >> 21) & 0x7f),
                 static_cast<uint8_t>((size >> 14) & 0x7f), static_cast<uint8_t>((size >> 7) & 0x7f),
                 static_cast<uint8_t>(size & 0x7f)};
    tag.insert(tag.end(), body.begin(), body.end());
    return tag;
}

Bytes Ape(const std::vector<std::pair<std::string, std::string>> &items, bool header)
{
    Bytes body;
    for (const auto &[key, value] : items) {
        const uint32_t n = static_cast<uint32_t>(value.size());
        body.insert(body.end(), {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n >> 16),
                                 static_cast<uint8_t>(n >> 24), 0, 0, 0, 0});
        body.insert(body.end(), key.begin(), key.end());
        body.push_back(0);
        body.insert(body.end(), value.begin(), value.end());
    }
    const uint32_t size = static_cast<uint32_t>(body.size() + 32);
    auto block = [&](bool isHeader) {
        Bytes b(32, 0);
        std::memcpy(b.data(), "APETAGEX", 8);
        b[8] = 0xd0, b[9] = 0x07;  // version 2000
        b[12] = static_cast<uint8_t>(size), b[13] = static_cast<uint8_t>(size >> 8);
        b[14] = static_cast<uint8_t>(size >> 16), b[15] = static_cast<uint8_t>(size >> 24);
        b[16] = static_cast<uint8_t>(items.size());
        b[23] = static_cast<uint8_t>((header ? 0x80 : 0) | (isHeader ? 0x20 : 0));
        return b;
    };
    Bytes out = header ? block(true) : Bytes{};
    out.insert(out.end(), body.begin(), body.end());
    const Bytes footer = block(false);
    out.insert(out.end(), footer.begin(), footer.end());
    return out;
}

std::string WithFailingInput(const std::string &dir, const std::string &command, const std::string &file,
                             size_t bytes)
{
    const std::string script =
        "import socket, subprocess, sys\n"
        "ours, theirs = socket.socketpair()\n"
        "child = subprocess.Popen(['sh', sys.argv[1]], stdin=theirs.fileno())\n"
        "theirs.send(b'!')  # left unread on our side: closing it resets theirs\n"
        "ours.sendall(open(sys.argv[2], 'rb').read()[:int(sys.argv[3])])\n"
        "ours.close()\n"
        "theirs.close()\n"
        "sys.exit(child.wait())\n";
    WriteFile(dir + "/failing-input.py", Bytes(script.begin(), script.end()));
    WriteFile(dir + "/failing-input.sh", Bytes(command.begin(), command.end()));
    return "python3 " + dir + "/failing-input.py " + dir + "/failing-input.sh " + file + " " + std::to_string(bytes);
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
