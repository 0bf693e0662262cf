// SPDX-License-Identifier: GPL-2.0-or-later
// Bytes in memory read through a host's callbacks, as vf_open_callbacks
// takes them: reads of at most `most` bytes, and a read at or past
// `failAt` fails.
#ifndef VORLIX_TESTS_MEMORYCALLBACKS_H
#define VORLIX_TESTS_MEMORYCALLBACKS_H

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

struct Memory {
    const std::vector<uint8_t> *bytes;
    size_t at = 0;
    size_t most = SIZE_MAX;
    size_t failAt = SIZE_MAX;
};

inline long MemoryRead(void *source, unsigned char *buffer, size_t n)
{
    auto *m = static_cast<Memory *>(source);
    if (m->at >= m->failAt)
        return -1;
    const size_t take = std::min({n, m->bytes->size() - m->at, m->most, m->failAt - m->at});
    if (take > 0)
        std::memcpy(buffer, m->bytes->data() + m->at, take);
    m->at += take;
    return static_cast<long>(take);
}

inline int MemorySeek(void *source, int64_t offset, int whence)
{
    auto *m = static_cast<Memory *>(source);
    const int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? static_cast<int64_t>(m->at)
                                                                     : static_cast<int64_t>(m->bytes->size());
    if (base + offset < 0 || base + offset > static_cast<int64_t>(m->bytes->size()))
        return -1;
    m->at = static_cast<size_t>(base + offset);
    return 0;
}

inline int64_t MemoryTell(void *source)
{
    return static_cast<int64_t>(static_cast<Memory *>(source)->at);
}

#endif
