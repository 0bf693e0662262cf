// SPDX-License-Identifier: GPL-2.0-or-later
// libvorlixfile through its public header. The input's first bytes choose
// how it is opened (memory, callbacks with or without seek, push mode with
// feeds of a chosen size, or of whole frames read a frame at a time), the
// read sizes and a seek; the rest is the file.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "vorlixfile.h"

namespace {

struct Source {
    const uint8_t *data;
    size_t size, at = 0, most;
};

long Read(void *s, unsigned char *buffer, size_t n)
{
    auto *src = static_cast<Source *>(s);
    const size_t take = std::min({n, src->size - src->at, src->most});
    std::memcpy(buffer, src->data + src->at, take);
    src->at += take;
    return static_cast<long>(take);
}

int Seek(void *s, int64_t offset, int whence)
{
    auto *src = static_cast<Source *>(s);
    const int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? static_cast<int64_t>(src->at)
                                                                     : static_cast<int64_t>(src->size);
    if (base + offset < 0 || base + offset > static_cast<int64_t>(src->size))
        return -1;
    src->at = static_cast<size_t>(base + offset);
    return 0;
}

int64_t Tell(void *s)
{
    return static_cast<int64_t>(static_cast<Source *>(s)->at);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4)
        return 0;
    const uint8_t mode = data[0] % 4, readSize = data[1], seekAt = data[2], feed = data[3];
    // push mode for whole frames (bit 7), read a frame at a time
    const bool framed = mode == 3 && (data[0] & 0x80) != 0;
    // an exact copy, so that a read past the end is caught
    std::vector<uint8_t> file(data + 4, data + size);
    Source source{file.data(), file.size(), 0, 1 + static_cast<size_t>(feed) * 37};
    const VorlixFileCallbacks seekable = {sizeof(VorlixFileCallbacks), Read, Seek, Tell, nullptr}, stream = {sizeof(VorlixFileCallbacks), Read, nullptr, nullptr, nullptr};
    int error = 0;
    VorlixFile *f = mode == 0   ? vf_open_memory(file.data(), file.size(), &error)
                    : mode == 1 ? vf_open_callbacks(&source, &seekable, &error)
                    : mode == 2 ? vf_open_callbacks(&source, &stream, &error)
                    : framed    ? vf_open_frames(&error)
                                : vf_open_push(&error);
    if (f == nullptr)
        return 0;
    VorlixFileInfo info = VF_INFO_INIT;
    vf_info(f, &info);
    for (int i = 0; i < vf_tag_count(f); ++i)
        (void)std::strlen(vf_tag_value(f, i));
    VorlixFileReplayGain gain = VF_REPLAYGAIN_INIT;
    vf_replaygain(f, &gain);
    if (seekAt & 1)
        vf_set_output(f, (seekAt & 2) ? 48000 : 8000, seekAt & 4);
    std::vector<int16_t> pcm(2 * 6912);
    size_t pushed = 0;
    for (int rounds = 0; rounds < 100000; ++rounds) {
        int64_t offset = 0;
        const int n = framed ? vf_read_frame(f, pcm.data(), 1 + readSize * 27, &offset)
                             : vf_read(f, pcm.data(), 1 + readSize * 27);
        if (n == VF_ENEEDMORE && mode == 3) {
            if (pushed == file.size()) {
                vf_feed_end(f);
            } else {
                const size_t take = std::min(file.size() - pushed, source.most);
                vf_feed(f, file.data() + pushed, take);
                pushed += take;
            }
            continue;
        }
        if (n <= 0)
            break;
        if (rounds == 2 && (seekAt & 8) != 0)
            vf_seek(f, static_cast<int64_t>(seekAt) * 97);
    }
    vf_free(f);
    return 0;
}
