// SPDX-License-Identifier: GPL-2.0-or-later
#include "TagInfo.h"

#include "HostDecoder.h"
#include "format/Tags.h"

// The tags from the leading ID3v2 tag, then an APEv2 tag and ID3v1 at the
// end for what is missing.
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
    // APEv2 ends the file or comes before ID3v1
    for (const int64_t tail : {int64_t{0}, int64_t{128}}) {
        uint8_t footer[apeHeaderSize];
        if (!in.Seekable() || in.Size() < tail + static_cast<int64_t>(apeHeaderSize) ||
            !in.ReadAt(static_cast<uint64_t>(in.Size() - tail) - apeHeaderSize, apeHeaderSize, footer))
            continue;
        const uint32_t size = ApeFooterSize(footer);
        if (size == 0)
            continue;
        if (size > maxTag || static_cast<int64_t>(size) > in.Size() - tail)
            break;
        std::vector<uint8_t> ape(size);
        if (in.ReadAt(static_cast<uint64_t>(in.Size() - tail - size), size, ape.data())) {
            // some writers count the header in the footer's size too
            if (size >= 2 * apeHeaderSize && ApeSizeFromHeader(ape.data()) != 0)
                ape.erase(ape.begin(), ape.begin() + apeHeaderSize);
            ReadApeTag(ape, tags);
        }
        break;
    }
    if (in.Seekable() && in.Size() >= 128) {
        std::vector<uint8_t> v1(128);
        if (in.ReadAt(static_cast<uint64_t>(in.Size() - 128), 128, v1.data()) && v1[0] == 'T' && v1[1] == 'A' &&
            v1[2] == 'G')
            ReadTag(v1, tags);
    }
    return tags;
}
