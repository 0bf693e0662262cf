// SPDX-License-Identifier: GPL-2.0-or-later
#include "TagInfo.h"

#include "HostDecoder.h"
#include "format/Tags.h"

// The tags from the leading ID3v2 tag, then ID3v1 at the end for what is missing.
TagInfo ReadTags(Input &in, HostDecoder &decoder)
{
    TagInfo tags;
    constexpr uint64_t maxTag = 64 << 20;
    std::vector<uint8_t> head;
    const int64_t start = decoder.Reader().RegionStart();
    if (in.Seek(start) && in.Read(head, id3v2HeaderSize) == id3v2HeaderSize) {
        const uint64_t size = Id3v2Size(head.data());
        if (size > 0 && size <= maxTag && in.Read(head, size - id3v2HeaderSize) == size - id3v2HeaderSize)
            ReadTag(head, tags);
    }
    if (in.Seekable() && in.Size() >= 128) {
        std::vector<uint8_t> v1(128);
        if (in.ReadAt(static_cast<uint64_t>(in.Size() - 128), 128, v1.data()) && v1[0] == 'T' && v1[1] == 'A' &&
            v1[2] == 'G')
            ReadTag(v1, tags);
    }
    return tags;
}
