// SPDX-License-Identifier: GPL-2.0-or-later
#include "format/Id3.h"

#include <algorithm>
#include <cstring>

#include "format/Tags.h"

namespace {

uint32_t Be(const uint8_t *p, int bytes)
{
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v = (v << 8) | p[i];
    return v;
}

uint32_t Syncsafe(const uint8_t *p)
{
    return (uint32_t{p[0]} << 21) | (uint32_t{p[1]} << 14) | (uint32_t{p[2]} << 7) | p[3];
}

// Undoes unsynchronisation: a zero byte after 0xff was inserted by the writer.
std::vector<uint8_t> Resynchronised(const uint8_t *p, size_t n)
{
    std::vector<uint8_t> out;
    out.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        out.push_back(p[i]);
        if (p[i] == 0xff && i + 1 < n && p[i + 1] == 0)
            ++i;
    }
    return out;
}

bool IdChar(uint8_t c)
{
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// v2.2's three-letter ids of the frames a player shows, by their v2.3 names.
const char *const v22Names[][2] = {
    {"TT2", "TIT2"}, {"TP1", "TPE1"}, {"TP2", "TPE2"}, {"TAL", "TALB"}, {"TYE", "TYER"}, {"TRK", "TRCK"},
    {"TCO", "TCON"}, {"COM", "COMM"}, {"TPA", "TPOS"}, {"TXX", "TXXX"}, {"PIC", "APIC"}, {"TCM", "TCOM"},
    {"TT1", "TIT1"}, {"TT3", "TIT3"}, {"TP3", "TPE3"}, {"TLA", "TLAN"}, {"TDA", "TDAT"}, {"TBP", "TBPM"},
    {"UFI", "UFID"},
};

std::string FrameId(const uint8_t *p, int version)
{
    if (version == 2) {
        const std::string id(reinterpret_cast<const char *>(p), 3);
        for (const auto &[old, name] : v22Names)
            if (id == old)
                return name;
        return id;
    }
    return std::string(reinterpret_cast<const char *>(p), 4);
}

struct FrameLayout {
    size_t header;  // bytes of a frame header
    int idLength;
};

FrameLayout Layout(int version)
{
    return version == 2 ? FrameLayout{6, 3} : FrameLayout{10, 4};
}

// Body size of the frame header at p; v2.4 sizes are syncsafe, but some
// writers put plain sizes there: where the syncsafe one does not lead to a
// frame, padding or the end and the plain one does, the plain one holds.
uint32_t FrameSize(const uint8_t *p, const uint8_t *end, int version);

// A frame header's worth of bytes at p, beginning with a valid id.
bool HeaderAt(const uint8_t *p, const uint8_t *end, int version)
{
    const FrameLayout l = Layout(version);
    if (p > end || static_cast<size_t>(end - p) < l.header)
        return false;
    for (int i = 0; i < l.idLength; ++i)
        if (!IdChar(p[i]))
            return false;
    return true;
}

// A frame header that could be one: a valid id and a body that fits.
bool Plausible(const uint8_t *p, const uint8_t *end, int version)
{
    if (!HeaderAt(p, end, version) || p[0] < 'A' || p[0] > 'Z')
        return false;
    const uint32_t size = FrameSize(p, end, version);
    return size > 0 && size <= static_cast<size_t>(end - p) - Layout(version).header;
}

// Where a frame may end: the end of the tag, padding, or the next frame.
bool Boundary(const uint8_t *p, const uint8_t *end, int version)
{
    return p == end || (p < end && *p == 0) || HeaderAt(p, end, version);
}

uint32_t FrameSize(const uint8_t *p, const uint8_t *end, int version)
{
    if (version == 2)
        return Be(p + 3, 3);
    const uint32_t plain = Be(p + 4, 4);
    if (version == 3)
        return plain;
    if ((p[4] | p[5] | p[6] | p[7]) & 0x80)
        return plain;
    const uint32_t safe = Syncsafe(p + 4);
    if (safe != plain && static_cast<size_t>(end - p) >= 10 + size_t{plain} &&
        !Boundary(p + 10 + safe, end, version) && Boundary(p + 10 + plain, end, version))
        return plain;
    return safe;
}

// Where a frame whose size is believed may end: the end of the tag, a frame
// that could be one, or padding (zeros to the end of the tag, which begin
// at `zeros`: found once per tag, so that hostile sizes cost no more than
// a look each).
bool FrameEnds(const uint8_t *p, const uint8_t *end, const uint8_t *zeros, int version)
{
    return p == end || (p >= zeros && p <= end) || (p < end && Plausible(p, end, version));
}

// Where the zeros that end a tag's bytes begin.
const uint8_t *TrailingZeros(const uint8_t *from, const uint8_t *end)
{
    while (end > from && end[-1] == 0)
        --end;
    return end;
}

// Flags of a v2.3/v2.4 frame header that the version defines, as writers set them.
bool FlagsDefined(const uint8_t *p, int version)
{
    if (version == 2)
        return true;
    return version == 3 ? (p[8] & 0x1f) == 0 && (p[9] & 0x1f) == 0 : (p[8] & 0x8f) == 0 && (p[9] & 0xb0) == 0;
}

// A frame whose size runs past where it ends (a size written syncsafe in a
// v2.3 tag, a damaged byte) would take the frames after it along: the first
// frame inside its claimed body that fits, with defined flags, and ends
// where a frame may end, is where the next frame begins. null when none is.
const uint8_t *FrameInside(const uint8_t *from, const uint8_t *to, const uint8_t *end, const uint8_t *zeros,
                           int version)
{
    const size_t header = Layout(version).header;
    for (const uint8_t *r = from; r < to && r < end; ++r)
        if (Plausible(r, end, version) && FlagsDefined(r, version) &&
            FrameEnds(r + header + FrameSize(r, end, version), end, zeros, version))
            return r;
    return nullptr;
}

// The layout of a tag's frames. Some writers (iTunes among them) put v2.2's
// frames, with their three-letter ids and sizes, under a v2.3 or v2.4
// header: where the first frame reads only that way, all of them do.
int FramesVersion(const uint8_t *q, const uint8_t *end, int version)
{
    if (version == 2 || Plausible(q, end, version) || !Plausible(q, end, 2))
        return version;
    return FrameEnds(q + Layout(2).header + FrameSize(q, end, 2), end, TrailingZeros(q, end), 2) ? 2 : version;
}

// The frame's body as the bytes of its content: grouping byte, data length
// indicator and unsynchronisation taken off; false for a compressed or
// encrypted frame, which is passed over.
bool Body(const uint8_t *p, size_t size, int version, bool tagUnsync, std::vector<uint8_t> &out)
{
    const uint8_t *body = p + Layout(version).header;
    if (version == 2) {
        out.assign(body, body + size);
        return true;
    }
    const uint8_t format = p[9];
    size_t skip = 0;
    bool unsync = false;
    if (version == 3) {
        if (format & 0xc0)  // compressed, encrypted
            return false;
        skip += (format & 0x20) ? 1 : 0;
    } else {
        if (format & 0x0c)
            return false;
        skip += (format & 0x40) ? 1 : 0;
        skip += (format & 0x01) ? 4 : 0;
        unsync = (format & 0x02) || tagUnsync;
    }
    if (skip > size)
        return false;
    if (unsync)
        out = Resynchronised(body + skip, size - skip);
    else
        out.assign(body + skip, body + size);
    return true;
}

void AppendUtf8(std::string &s, uint32_t c)
{
    if (c < 0x80) {
        s += static_cast<char>(c);
    } else if (c < 0x800) {
        s += static_cast<char>(0xc0 | (c >> 6));
        s += static_cast<char>(0x80 | (c & 0x3f));
    } else if (c < 0x10000) {
        s += static_cast<char>(0xe0 | (c >> 12));
        s += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
        s += static_cast<char>(0x80 | (c & 0x3f));
    } else {
        s += static_cast<char>(0xf0 | (c >> 18));
        s += static_cast<char>(0x80 | ((c >> 12) & 0x3f));
        s += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
        s += static_cast<char>(0x80 | (c & 0x3f));
    }
}

std::string Latin1(const uint8_t *p, size_t n)
{
    std::string s;
    for (size_t i = 0; i < n; ++i)
        AppendUtf8(s, p[i]);
    return s;
}

// One UTF-16 string of n bytes (even). Without a byte-order mark, and where
// the encoding leaves it open (guess), the order is the one in which the
// text's zero bytes fall as the high bytes of Latin characters; where they
// tell nothing, the last string's order, first big-endian as the standard has it.
std::string Utf16(const uint8_t *p, size_t n, bool guess, bool &littleEndian)
{
    if (n >= 2 && p[0] == 0xff && p[1] == 0xfe) {
        littleEndian = true;
        p += 2, n -= 2;
    } else if (n >= 2 && p[0] == 0xfe && p[1] == 0xff) {
        littleEndian = false;
        p += 2, n -= 2;
    } else if (guess) {
        size_t evenZeros = 0, oddZeros = 0;
        for (size_t i = 0; i + 1 < n; i += 2) {
            evenZeros += p[i] == 0;
            oddZeros += p[i + 1] == 0;
        }
        if (oddZeros != evenZeros)
            littleEndian = oddZeros > evenZeros;
    }
    std::string s;
    for (size_t i = 0; i + 1 < n; i += 2) {
        uint32_t c = littleEndian ? (p[i] | (p[i + 1] << 8)) : ((p[i] << 8) | p[i + 1]);
        if (c >= 0xd800 && c < 0xdc00 && i + 3 < n) {
            const uint32_t low = littleEndian ? (p[i + 2] | (p[i + 3] << 8)) : ((p[i + 2] << 8) | p[i + 3]);
            if (low >= 0xdc00 && low < 0xe000) {
                c = 0x10000 + ((c - 0xd800) << 10) + (low - 0xdc00);
                i += 2;
            } else {
                c = 0xfffd;
            }
        } else if (c >= 0xd800 && c < 0xe000) {
            c = 0xfffd;
        }
        AppendUtf8(s, c);
    }
    return s;
}

// Bytes of the terminator of a string in this encoding.
size_t Unit(uint8_t encoding)
{
    return encoding == 1 || encoding == 2 ? 2 : 1;
}

// Length of the string at p up to (not including) its terminator, or n.
size_t StringLength(uint8_t encoding, const uint8_t *p, size_t n)
{
    const size_t unit = Unit(encoding);
    for (size_t i = 0; i + unit <= n; i += unit)
        if (p[i] == 0 && (unit == 1 || p[i + 1] == 0))
            return i;
    return n;
}

std::string Trimmed(const uint8_t *p, size_t n)
{
    while (n > 0 && (p[n - 1] == ' ' || p[n - 1] == 0))
        --n;
    const size_t zero = static_cast<size_t>(std::find(p, p + n, 0) - p);
    return Latin1(p, zero);
}

} // namespace

const Id3Frame *Id3v2Tag::Find(const char *id) const
{
    for (const Id3Frame &f : frames)
        if (f.id == id)
            return &f;
    return nullptr;
}

Id3v2Tag ParseId3v2(const uint8_t *p, size_t n)
{
    Id3v2Tag tag;
    if (n < id3v2HeaderSize || Id3v2Size(p) == 0)
        return tag;
    const int version = p[3];
    const uint8_t flags = p[5];
    if (version == 2 && (flags & 0x40))  // v2.2 compression: never defined
        return tag;
    const size_t size = std::min<size_t>(Syncsafe(p + 6), n - id3v2HeaderSize);
    std::vector<uint8_t> body(p + id3v2HeaderSize, p + id3v2HeaderSize + size);
    if (version < 4 && (flags & 0x80))
        body = Resynchronised(body.data(), body.size());
    size_t at = 0;
    if (version >= 3 && (flags & 0x40) && body.size() >= 4) {
        const size_t extended = version == 3 ? 4 + size_t{Be(body.data(), 4)} : size_t{Syncsafe(body.data())};
        at = std::min(extended, body.size());
    }
    tag.version = version;
    const uint8_t *const end = body.data() + body.size();
    const uint8_t *q = body.data() + at;
    const int layout = tag.frameVersion = FramesVersion(q, end, version);
    const size_t header = Layout(layout).header;
    const uint8_t *const zeros = TrailingZeros(q, end);
    while (q < end && static_cast<size_t>(end - q) >= header && *q != 0) {
        if (!Plausible(q, end, layout)) {
            // a malformed frame: on to the next place where a frame can begin
            const uint8_t *next = q + 1;
            while (next < end && !Plausible(next, end, layout))
                ++next;
            q = next;
            continue;
        }
        const uint32_t frameSize = FrameSize(q, end, layout);
        const uint8_t *const claimed = q + header + frameSize;
        // a broken size loses its frame only, not the frames after it: one
        // that ends neither at a frame nor in padding, or that ends in
        // padding it holds itself, while a frame begins inside it
        const bool padded = claimed - q >= static_cast<std::ptrdiff_t>(header + 4) && claimed - 4 >= zeros &&
                            claimed - 4 <= end;
        if (!FrameEnds(claimed, end, zeros, layout) || padded) {
            if (const uint8_t *next = FrameInside(q + header, claimed, end, zeros, layout)) {
                q = next;
                continue;
            }
        }
        Id3Frame frame;
        frame.id = FrameId(q, layout);
        if (Body(q, frameSize, layout, version == 4 && (flags & 0x80), frame.data))
            tag.frames.push_back(std::move(frame));
        q = claimed;
    }
    return tag;
}

std::vector<std::string> DecodeText(uint8_t encoding, const uint8_t *p, size_t n)
{
    std::vector<std::string> values;
    if (encoding > 3)
        return values;
    const size_t unit = Unit(encoding);
    bool littleEndian = false;
    while (n > 0) {
        const size_t length = StringLength(encoding, p, n);
        if (encoding == 0)
            values.push_back(Latin1(p, length));
        else if (encoding == 3)
            values.emplace_back(reinterpret_cast<const char *>(p), length);
        else
            values.push_back(Utf16(p, length & ~size_t{1}, encoding == 1, littleEndian));
        const size_t used = std::min(n, length + unit);
        p += used, n -= used;
    }
    while (!values.empty() && values.back().empty())
        values.pop_back();
    return values;
}

std::vector<std::string> TextValues(const Id3Frame &frame)
{
    if (frame.data.empty())
        return {};
    return DecodeText(frame.data[0], frame.data.data() + 1, frame.data.size() - 1);
}

bool ParseComment(const Id3Frame &frame, Id3Comment &comment)
{
    const bool language = frame.id != "TXXX";
    const size_t head = language ? 4 : 1;
    if (frame.data.size() < head)
        return false;
    const uint8_t encoding = frame.data[0];
    if (encoding > 3)
        return false;
    comment.language = language ? std::string(frame.data.begin() + 1, frame.data.begin() + 4) : "";
    const uint8_t *p = frame.data.data() + head;
    const size_t n = frame.data.size() - head;
    const size_t length = StringLength(encoding, p, n);
    const std::vector<std::string> description = DecodeText(encoding, p, length);
    comment.description = description.empty() ? "" : description[0];
    const size_t rest = std::min(n, length + Unit(encoding));
    // each string of UTF-16 may carry its own byte-order mark
    const std::vector<std::string> text = DecodeText(encoding, p + rest, n - rest);
    comment.text.clear();
    for (const std::string &t : text)
        comment.text += (comment.text.empty() ? "" : " / ") + t;
    return true;
}

bool ParseId3v1(const uint8_t *p, size_t n, Id3v1Tag &tag)
{
    if (n != 128 || std::memcmp(p, "TAG", 3) != 0)
        return false;
    tag.title = Trimmed(p + 3, 30);
    tag.artist = Trimmed(p + 33, 30);
    tag.album = Trimmed(p + 63, 30);
    tag.year = Trimmed(p + 93, 4);
    // v1.1: a zero before the last byte of the comment makes that byte the track
    const bool v11 = p[125] == 0 && p[126] != 0;
    tag.comment = Trimmed(p + 97, v11 ? 28 : 30);
    tag.track = v11 ? p[126] : 0;
    tag.genre = p[127];
    return true;
}
