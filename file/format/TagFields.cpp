// SPDX-License-Identifier: GPL-2.0-or-later
#include "format/TagFields.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <id3tag.h>

#include "format/Id3.h"

namespace {

// Name of a genre of the ID3v1 list (with Winamp's additions), "" when the
// number is not on it.
std::string GenreName(unsigned number)
{
    const id3_ucs4_t *name = id3_genre_index(number);
    if (name == nullptr)
        return "";
    id3_utf8_t *utf8 = id3_ucs4_utf8duplicate(name);
    if (utf8 == nullptr)
        return "";
    std::string s(reinterpret_cast<const char *>(utf8));
    std::free(utf8);
    return s;
}

bool Digits(const std::string &s)
{
    return !s.empty() && s.size() < 4 && s.find_first_not_of("0123456789") == std::string::npos;
}

std::string Joined(const std::vector<std::string> &values)
{
    std::string s;
    for (const std::string &v : values)
        if (!v.empty())
            s += (s.empty() ? "" : " / ") + v;
    return s;
}

// TCON's values: names, numbers of the ID3v1 list ("17"), or v2.3's
// references before an optional name ("(17)(18)Rock"); each genre once.
std::string Genres(const std::vector<std::string> &values)
{
    std::vector<std::string> genres;
    const auto add = [&](const std::string &g) {
        if (!g.empty() && std::find(genres.begin(), genres.end(), g) == genres.end())
            genres.push_back(g);
    };
    const auto reference = [&](const std::string &r) {
        if (Digits(r))
            add(GenreName(static_cast<unsigned>(std::stoi(r))));
        else if (r == "RX")
            add("Remix");
        else if (r == "CR")
            add("Cover");
        else
            add(r);
    };
    for (std::string value : values) {
        if (Digits(value) || value == "RX" || value == "CR") {
            reference(value);
            continue;
        }
        while (value.size() > 2 && value[0] == '(' && value[1] != '(') {
            const size_t close = value.find(')');
            if (close == std::string::npos)
                break;
            reference(value.substr(1, close - 1));
            value.erase(0, close + 1);
        }
        if (value.size() > 1 && value[0] == '(' && value[1] == '(')
            value.erase(0, 1);  // "((" stands for a name that begins with "("
        add(value);
    }
    return Joined(genres);
}

std::string Text(const Id3v2Tag &tag, const char *id)
{
    const Id3Frame *frame = tag.Find(id);
    return frame ? Joined(TextValues(*frame)) : "";
}

std::string Lower(std::string s)
{
    for (char &c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::string Upper(std::string s)
{
    for (char &c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return s;
}

// The user's comment: a COMM frame without description (iTunes keeps its
// machine data, iTunNORM, iTunSMPB and the like, in described ones), in the
// file's language where there are several. Where there is none, a described
// COMM frame that is the only one besides iTunes' is the comment all the same.
std::string UserComment(const Id3v2Tag &tag)
{
    const std::string language = Lower(Text(tag, "TLAN"));
    std::string first, described;
    bool found = false;
    int others = 0;
    for (const Id3Frame &frame : tag.frames) {
        Id3Comment c;
        if (frame.id != "COMM" || !ParseComment(frame, c) || c.text.empty())
            continue;
        if (!c.description.empty()) {
            if (c.description.compare(0, 4, "iTun") != 0)
                described = c.text, ++others;
            continue;
        }
        if (!language.empty() && Lower(c.language) == language.substr(0, 3))
            return c.text;
        if (!found)
            first = c.text, found = true;
    }
    return found ? first : others == 1 ? described : "";
}

// v2.3 splits the date: TYER the year, TDAT the day and month (DDMM; v2.2's
// TDA). Both make a full date, YYYY-MM-DD.
std::string Date(const Id3v2Tag &tag)
{
    const std::string year = Text(tag, "TYER"), dayMonth = Text(tag, "TDAT");
    const auto digits = [](const std::string &v) {
        return v.size() == 4 && v.find_first_not_of("0123456789") == std::string::npos;
    };
    if (!digits(year) || !digits(dayMonth))
        return year;
    const int day = std::stoi(dayMonth.substr(0, 2)), month = std::stoi(dayMonth.substr(2, 2));
    if (day < 1 || day > 31 || month < 1 || month > 12)
        return year;
    return year + "-" + dayMonth.substr(2, 2) + "-" + dayMonth.substr(0, 2);
}

// The keys players use for what MusicBrainz Picard writes in TXXX frames;
// other descriptions are upper-cased as they are.
std::string ExtraKey(const std::string &description)
{
    static const char *const names[][2] = {
        {"MUSICBRAINZ ALBUM ID", "MUSICBRAINZ_ALBUMID"},
        {"MUSICBRAINZ ARTIST ID", "MUSICBRAINZ_ARTISTID"},
        {"MUSICBRAINZ ALBUM ARTIST ID", "MUSICBRAINZ_ALBUMARTISTID"},
        {"MUSICBRAINZ RELEASE GROUP ID", "MUSICBRAINZ_RELEASEGROUPID"},
        {"MUSICBRAINZ RELEASE TRACK ID", "MUSICBRAINZ_RELEASETRACKID"},
        {"MUSICBRAINZ TRACK ID", "MUSICBRAINZ_TRACKID"},
        {"MUSICBRAINZ WORK ID", "MUSICBRAINZ_WORKID"},
        {"MUSICBRAINZ DISC ID", "MUSICBRAINZ_DISCID"},
        {"MUSICBRAINZ ORIGINAL ALBUM ID", "MUSICBRAINZ_ORIGINALALBUMID"},
        {"MUSICBRAINZ ORIGINAL ARTIST ID", "MUSICBRAINZ_ORIGINALARTISTID"},
        {"MUSICBRAINZ TRM ID", "MUSICBRAINZ_TRMID"},
        {"MUSICBRAINZ ALBUM TYPE", "RELEASETYPE"},
        {"MUSICBRAINZ ALBUM STATUS", "RELEASESTATUS"},
        {"MUSICBRAINZ ALBUM RELEASE COUNTRY", "RELEASECOUNTRY"},
        {"MUSICIP PUID", "MUSICIP_PUID"},
        {"ACOUSTID ID", "ACOUSTID_ID"},
        {"ACOUSTID FINGERPRINT", "ACOUSTID_FINGERPRINT"},
    };
    const std::string upper = Upper(description);
    for (const auto &[name, key] : names)
        if (upper == name)
            return key;
    return upper;
}

// The recording id that MusicBrainz keeps in a UFID frame: owner
// "http://musicbrainz.org", a zero, the id.
std::string MusicBrainzTrackId(const Id3Frame &frame)
{
    static const std::string owner = "http://musicbrainz.org";
    const std::vector<uint8_t> &d = frame.data;
    if (d.size() <= owner.size() + 1 || !std::equal(owner.begin(), owner.end(), d.begin()) || d[owner.size()] != 0)
        return "";
    std::string id(d.begin() + static_cast<long>(owner.size() + 1), d.end());
    while (!id.empty() && id.back() == 0)
        id.pop_back();
    for (const char c : id)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e)
            return "";
    return id;
}

void Fill(std::string &field, const std::string &value)
{
    if (field.empty())
        field = value;
}

// An APIC (v2.2 PIC) frame: encoding, MIME type (v2.2: a 3-letter format),
// picture type, description, data. The front cover (type 3) wins over the
// first picture of another type.
void PictureInto(const Id3Frame &frame, int version, TagInfo &info)
{
    const std::vector<uint8_t> &d = frame.data;
    if (d.size() < 2 || d[0] > 3)
        return;
    size_t at = 1;
    std::string mime;
    if (version == 2) {
        if (d.size() < 5)
            return;
        const std::string format(d.begin() + 1, d.begin() + 4);
        mime = format == "PNG" ? "image/png" : format == "JPG" ? "image/jpeg" : "image/" + Lower(format);
        at = 4;
    } else {
        while (at < d.size() && d[at] != 0)
            mime += static_cast<char>(d[at++]);
        ++at;
    }
    if (at >= d.size())
        return;
    const uint8_t type = d[at++];
    // the description, in the frame's encoding, up to its terminator
    const size_t unit = d[0] == 1 || d[0] == 2 ? 2 : 1;
    while (at + unit <= d.size() && !(d[at] == 0 && (unit == 1 || d[at + 1] == 0)))
        at += unit;
    at += unit;
    if (at > d.size())
        return;
    const bool front = type == 3;
    if (!info.picture.empty() && (info.pictureFront || !front))
        return;
    info.pictureMime = mime.empty() ? "image/" : mime;
    info.picture.assign(d.begin() + static_cast<long>(at), d.end());
    info.pictureFront = front;
}

} // namespace

bool ReadTag(const std::vector<uint8_t> &bytes, TagInfo &info)
{
    Id3v1Tag v1;
    if (ParseId3v1(bytes.data(), bytes.size(), v1)) {
        Fill(info.title, v1.title);
        Fill(info.artist, v1.artist);
        Fill(info.album, v1.album);
        Fill(info.year, v1.year);
        Fill(info.track, v1.track > 0 ? std::to_string(v1.track) : "");
        Fill(info.genre, v1.genre != 255 ? GenreName(static_cast<unsigned>(v1.genre)) : "");
        Fill(info.comment, v1.comment);
        Fill(info.source, "ID3v1");
        return true;
    }
    const Id3v2Tag tag = ParseId3v2(bytes.data(), bytes.size());
    if (tag.version == 0)
        return false;
    Fill(info.title, Text(tag, "TIT2"));
    Fill(info.artist, Text(tag, "TPE1"));
    Fill(info.album, Text(tag, "TALB"));
    Fill(info.year, Text(tag, "TDRC"));
    Fill(info.year, Date(tag));
    Fill(info.track, Text(tag, "TRCK"));
    if (const Id3Frame *genre = tag.Find("TCON"))
        Fill(info.genre, Genres(TextValues(*genre)));
    Fill(info.comment, UserComment(tag));
    Fill(info.source, "ID3v2." + std::to_string(tag.version));
    const auto addExtra = [&](const std::string &key, const std::string &value) {
        if (value.empty())
            return;
        for (const auto &[k, v] : info.extra)
            if (k == key)
                return;  // the first tag's stays
        info.extra.emplace_back(key, value);
    };
    addExtra("ALBUMARTIST", Text(tag, "TPE2"));
    addExtra("DISCNUMBER", Text(tag, "TPOS"));
    addExtra("COMPOSER", Text(tag, "TCOM"));
    for (const Id3Frame &frame : tag.frames) {
        Id3Comment c;
        if (frame.id == "TXXX" && ParseComment(frame, c) && !c.description.empty()) {
            addExtra(ExtraKey(c.description), c.text);
        } else if (frame.id == "UFID") {
            addExtra("MUSICBRAINZ_TRACKID", MusicBrainzTrackId(frame));
        } else if (frame.id == "COMM" && info.itunesSmpb.empty() && ParseComment(frame, c) &&
                   c.description == "iTunSMPB") {
            info.itunesSmpb = c.text;
        } else if (frame.id == "APIC") {
            PictureInto(frame, tag.frameVersion, info);
        }
    }
    return true;
}

namespace {

uint32_t ApeLe32(const uint8_t *p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

} // namespace

bool ReadApeTag(const std::vector<uint8_t> &bytes, TagInfo &info)
{
    constexpr size_t footer = 32;
    if (bytes.size() < footer || std::memcmp(bytes.data() + bytes.size() - footer, "APETAGEX", 8) != 0)
        return false;
    const uint8_t *f = bytes.data() + bytes.size() - footer;
    const uint32_t count = ApeLe32(f + 16);
    const size_t end = bytes.size() - footer;
    size_t at = 0;
    for (uint32_t item = 0; item < count && at + 8 < end; ++item) {
        const uint32_t size = ApeLe32(bytes.data() + at), flags = ApeLe32(bytes.data() + at + 4);
        size_t key = at + 8;
        while (key < end && bytes[key] != 0)
            ++key;
        if (key >= end || size > end - key - 1)
            break;
        const std::string name(bytes.begin() + static_cast<long>(at + 8), bytes.begin() + static_cast<long>(key));
        const uint8_t *value = bytes.data() + key + 1;
        at = key + 1 + size;
        const std::string upper = Upper(name);
        if (((flags >> 1) & 3) == 1) {
            // binary: a cover is a file name, a zero, the picture
            if (upper != "COVER ART (FRONT)" || !info.picture.empty())
                continue;
            const uint8_t *zero = static_cast<const uint8_t *>(std::memchr(value, 0, size));
            if (zero == nullptr)
                continue;
            const std::string file(value, zero);
            const std::string ext = Lower(file.substr(file.find_last_of('.') + 1));
            info.pictureMime = ext == "png" ? "image/png" : ext == "jpg" || ext == "jpeg" ? "image/jpeg" : "image/";
            info.picture.assign(zero + 1, value + size);
            info.pictureFront = true;
            continue;
        }
        if (((flags >> 1) & 3) != 0)
            continue;  // an external reference
        // UTF-8; several values separated by zeros
        std::string text;
        for (size_t i = 0, from = 0; i <= size; ++i)
            if (i == size || value[i] == 0) {
                if (i > from)
                    text += (text.empty() ? "" : " / ") + std::string(value + from, value + i);
                from = i + 1;
            }
        if (text.empty())
            continue;
        std::string *field = upper == "TITLE" ? &info.title : upper == "ARTIST" ? &info.artist
                             : upper == "ALBUM" ? &info.album : upper == "YEAR" ? &info.year
                             : upper == "TRACK" ? &info.track : upper == "GENRE" ? &info.genre
                             : upper == "COMMENT" ? &info.comment : nullptr;
        if (field != nullptr) {
            Fill(*field, text);
            continue;
        }
        const std::string key2 = upper == "ALBUM ARTIST" ? "ALBUMARTIST" : upper == "DISC" ? "DISCNUMBER" : upper;
        bool known = false;
        for (const auto &[k, v] : info.extra)
            known = known || k == key2;
        if (!known)
            info.extra.emplace_back(key2, text);
    }
    Fill(info.source, "APEv2");
    return true;
}
