// SPDX-License-Identifier: GPL-2.0-or-later
#include "TagInfo.h"

#include <cstdlib>
#include <id3tag.h>

#include "HostDecoder.h"
#include "format/Tags.h"

namespace {

std::string Utf8(const id3_ucs4_t *text)
{
    if (text == nullptr)
        return "";
    id3_utf8_t *utf8 = id3_ucs4_utf8duplicate(text);
    if (utf8 == nullptr)
        return "";
    std::string s(reinterpret_cast<const char *>(utf8));
    std::free(utf8);
    return s;
}

// The text of a frame: its strings joined by " / " (several artists, say).
std::string Text(const id3_tag *tag, const char *id)
{
    const id3_frame *frame = id3_tag_findframe(tag, id, 0);
    if (frame == nullptr)
        return "";
    if (std::string(id) == ID3_FRAME_COMMENT) {
        const id3_field *field = id3_frame_field(frame, 3);
        return field ? Utf8(id3_field_getfullstring(field)) : "";
    }
    const id3_field *field = id3_frame_field(frame, 1);
    const unsigned n = field ? id3_field_getnstrings(field) : 0;
    std::string s;
    for (unsigned i = 0; i < n; ++i) {
        const id3_ucs4_t *text = id3_field_getstrings(field, i);
        // genres may be numbers of the ID3v1 list, "(13)" or "13"
        if (std::string(id) == ID3_FRAME_GENRE && text != nullptr)
            text = id3_genre_name(text);
        const std::string part = Utf8(text);
        if (!part.empty())
            s += (s.empty() ? "" : " / ") + part;
    }
    return s;
}

} // namespace

bool ReadTag(const std::vector<uint8_t> &bytes, TagInfo &info)
{
    id3_tag *tag = id3_tag_parse(bytes.data(), bytes.size());
    if (tag == nullptr)
        return false;
    const std::pair<std::string *, const char *> fields[] = {
        {&info.title, ID3_FRAME_TITLE}, {&info.artist, ID3_FRAME_ARTIST}, {&info.album, ID3_FRAME_ALBUM},
        {&info.year, ID3_FRAME_YEAR},   {&info.track, ID3_FRAME_TRACK},   {&info.genre, ID3_FRAME_GENRE},
        {&info.comment, ID3_FRAME_COMMENT}};
    for (const auto &[field, id] : fields)
        if (field->empty())
            *field = Text(tag, id);
    if (info.source.empty()) {
        const bool v1 = bytes.size() == 128 && bytes[0] == 'T';
        info.source = v1 ? "ID3v1" : "ID3v2." + std::to_string(bytes.size() > 3 ? bytes[3] : 0);
    }
    id3_tag_delete(tag);
    return true;
}

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

