// SPDX-License-Identifier: GPL-2.0-or-later
#include "hostile/Variants.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>

namespace hostile {

namespace {

constexpr size_t none = SIZE_MAX;

// splitmix64: the same numbers on every platform and library
class Rng {
public:
    explicit Rng(uint64_t seed) : s_(seed) {}
    uint64_t Next()
    {
        uint64_t z = (s_ += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }
    size_t Below(size_t n) { return n == 0 ? 0 : static_cast<size_t>(Next() % n); }
    // from lo to hi, both included
    size_t Range(size_t lo, size_t hi) { return hi <= lo ? lo : lo + Below(hi - lo + 1); }
    bool Chance(unsigned percent) { return Below(100) < percent; }
    template <typename T> T Pick(std::initializer_list<T> values) { return values.begin()[Below(values.size())]; }

private:
    uint64_t s_;
};

uint32_t Le32(const Bytes &b, size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
uint32_t Be32(const Bytes &b, size_t at)
{
    return (static_cast<uint32_t>(b[at]) << 24) | (b[at + 1] << 16) | (b[at + 2] << 8) | b[at + 3];
}
void PutLe32(Bytes &b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}
void PutBe32(Bytes &b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (24 - 8 * i));
}
void PutBe16(Bytes &b, size_t at, uint32_t v)
{
    b[at] = static_cast<uint8_t>(v >> 8);
    b[at + 1] = static_cast<uint8_t>(v);
}
void PutSynchsafe(Bytes &b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + static_cast<size_t>(i)] = static_cast<uint8_t>((v >> (21 - 7 * i)) & 0x7f);
}
uint32_t Synchsafe(const Bytes &b, size_t at)
{
    return ((b[at] & 0x7fu) << 21) | ((b[at + 1] & 0x7fu) << 14) | ((b[at + 2] & 0x7fu) << 7) | (b[at + 3] & 0x7fu);
}
void Append(Bytes &b, const std::string &s)
{
    b.insert(b.end(), s.begin(), s.end());
}
void Insert(Bytes &b, size_t at, const Bytes &what)
{
    b.insert(b.begin() + static_cast<long>(std::min(at, b.size())), what.begin(), what.end());
}
void Erase(Bytes &b, size_t from, size_t to)
{
    from = std::min(from, b.size());
    to = std::min(to, b.size());
    if (from < to)
        b.erase(b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(to));
}
bool At(const Bytes &b, size_t at, const char *text)
{
    const size_t n = std::strlen(text);
    return at <= b.size() && n <= b.size() - at && std::memcmp(b.data() + at, text, n) == 0;
}
size_t Find(const Bytes &b, const char *text, size_t from = 0)
{
    const size_t n = std::strlen(text);
    for (size_t at = from; at + n <= b.size(); ++at)
        if (std::memcmp(b.data() + at, text, n) == 0)
            return at;
    return none;
}
Bytes Random(Rng &r, size_t n)
{
    Bytes out(n);
    for (auto &v : out)
        v = static_cast<uint8_t>(r.Next());
    return out;
}

// --- MPEG audio frame headers, read independently of the library ----------

struct Frame {
    size_t at = 0, length = 0;
    int version = 1;  // 1, 2, or 25 for MPEG-2.5
    int layer = 3;
    int rate = 0;
    bool mono = false, crc = false;
};

bool ParseHeader(const uint8_t *p, Frame &f)
{
    static const int bitrates[2][3][15] = {
        {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
         {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
         {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
        {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};
    static const int rates[3] = {44100, 48000, 32000};
    if (p[0] != 0xff || (p[1] & 0xe0) != 0xe0)
        return false;
    const int v = (p[1] >> 3) & 3, l = (p[1] >> 1) & 3, b = p[2] >> 4, s = (p[2] >> 2) & 3;
    if (v == 1 || l == 0 || b == 0 || b == 15 || s == 3)
        return false;
    f.version = v == 3 ? 1 : v == 2 ? 2 : 25;
    f.layer = 4 - l;
    f.rate = rates[s] >> (v == 3 ? 0 : v == 2 ? 1 : 2);
    f.crc = (p[1] & 1) == 0;
    f.mono = (p[3] >> 6) == 3;
    const int kbps = bitrates[f.version == 1 ? 0 : 1][f.layer - 1][b];
    const int pad = (p[2] >> 1) & 1;
    if (f.layer == 1)
        f.length = static_cast<size_t>((12 * kbps * 1000 / f.rate + pad) * 4);
    else if (f.layer == 3 && f.version != 1)
        f.length = static_cast<size_t>(72 * kbps * 1000 / f.rate + pad);
    else
        f.length = static_cast<size_t>(144 * kbps * 1000 / f.rate + pad);
    return true;
}

size_t SideInfo(const Frame &f)
{
    return f.version == 1 ? (f.mono ? 17 : 32) : (f.mono ? 9 : 17);
}

// --- Where the structures are --------------------------------------------

struct Layout {
    size_t id3v2 = 0;               // size of the leading ID3v2 tag
    bool riff = false;
    size_t riffData = none;         // the data chunk's header
    size_t audioEnd = 0;            // before the trailing tags (or the data chunk's end)
    std::vector<Frame> frames;
    size_t xing = none, lame = none;
    size_t id3v1 = none, apeFooter = none, apeStart = none, lyricsStart = none;
};

size_t Id3v2Length(const Bytes &b, size_t at)
{
    if (!At(b, at, "ID3") || b.size() < at + 10)
        return 0;
    return 10 + Synchsafe(b, at + 6) + ((b[at + 3] == 4 && (b[at + 5] & 0x10)) ? 10 : 0);
}

void FindTrailingTags(const Bytes &b, Layout &l)
{
    size_t end = b.size();
    if (end >= 128 && At(b, end - 128, "TAG")) {
        l.id3v1 = end - 128;
        end -= 128;
    }
    for (bool more = true; more;) {
        more = false;
        if (end >= 32 && At(b, end - 32, "APETAGEX") && l.apeFooter == none) {
            l.apeFooter = end - 32;
            const uint64_t size = Le32(b, end - 32 + 12) + ((Le32(b, end - 32 + 20) & 0x80000000u) ? 32u : 0u);
            end = size <= end ? end - static_cast<size_t>(size) : 0;
            l.apeStart = end;
            more = true;
        }
        if (end >= 15 && At(b, end - 9, "LYRICS200") && l.lyricsStart == none) {
            const size_t size = static_cast<size_t>(std::strtoul(std::string(b.begin() + static_cast<long>(end - 15),
                                                                             b.begin() + static_cast<long>(end - 9))
                                                                     .c_str(),
                                                                 nullptr, 10));
            end = size + 15 <= end ? end - size - 15 : 0;
            l.lyricsStart = end;
            more = true;
        }
    }
    l.audioEnd = end;
}

Layout Analyse(const Bytes &b)
{
    Layout l;
    size_t start = 0;
    if (At(b, 0, "RIFF") && At(b, 8, "WAVE")) {
        l.riff = true;
        for (size_t at = 12; at + 8 <= b.size();) {
            if (At(b, at, "data")) {
                l.riffData = at;
                break;
            }
            at += 8 + static_cast<size_t>(Le32(b, at + 4)) + (Le32(b, at + 4) & 1);
        }
        start = l.riffData == none ? b.size() : l.riffData + 8;
        l.audioEnd = l.riffData == none ? b.size() : std::min<size_t>(b.size(), start + Le32(b, l.riffData + 4));
    } else {
        l.id3v2 = std::min(Id3v2Length(b, 0), b.size());
        start = l.id3v2;
        FindTrailingTags(b, l);
        l.audioEnd = std::max(l.audioEnd, start);
    }
    // frames, each followed by one of the same stream or by the end
    const size_t end = l.audioEnd;
    size_t chained = none;
    for (size_t at = start; at + 4 <= end;) {
        Frame f;
        if (ParseHeader(b.data() + at, f) && at + f.length <= end) {
            Frame next;
            const size_t n = at + f.length;
            const bool follows = n + 4 > end || (ParseHeader(b.data() + n, next) && next.rate == f.rate);
            if (follows || chained == at) {
                f.at = at;
                l.frames.push_back(f);
                chained = n;
                at = n;
                continue;
            }
        }
        ++at;
    }
    if (!l.frames.empty() && l.frames[0].layer == 3) {
        const Frame &f = l.frames[0];
        for (size_t at : {f.at + 4 + SideInfo(f), f.at + 6 + SideInfo(f)}) {
            if (at + 8 <= f.at + f.length && (At(b, at, "Xing") || At(b, at, "Info"))) {
                l.xing = at;
                const uint32_t flags = Be32(b, at + 4);
                const size_t q = at + 8 + ((flags & 1) ? 4 : 0) + ((flags & 2) ? 4 : 0) + ((flags & 4) ? 100 : 0) +
                                 ((flags & 8) ? 4 : 0);
                if (q + 36 <= f.at + f.length)
                    l.lame = q;
                break;
            }
        }
    }
    return l;
}

// --- Builders: structures a fixture lacks ----------------------------------

Bytes Id3Frame(const std::string &id, const std::string &payload, int version)
{
    Bytes f(id.begin(), id.end());
    f.resize(10);
    if (version == 4)
        PutSynchsafe(f, 4, static_cast<uint32_t>(payload.size()));
    else
        PutBe32(f, 4, static_cast<uint32_t>(payload.size()));
    Append(f, payload);
    return f;
}

Bytes Id3Tag(int version)
{
    Bytes body;
    const char enc = version == 4 ? '\3' : '\0';
    for (const auto &[id, text] : std::vector<std::pair<std::string, std::string>>{
             {"TIT2", "Hostile title"}, {"TPE1", "An artist"}, {"TALB", "An album"}, {"TRCK", "3/12"}}) {
        const Bytes f = Id3Frame(id, std::string(1, enc) + text, version);
        body.insert(body.end(), f.begin(), f.end());
    }
    const Bytes comm = Id3Frame("COMM", std::string(1, enc) + "eng" + std::string("desc\0a comment", 14), version);
    body.insert(body.end(), comm.begin(), comm.end());
    const Bytes txxx = Id3Frame("TXXX", std::string(1, enc) + std::string("REPLAYGAIN_TRACK_GAIN\0-6.5 dB", 29), version);
    body.insert(body.end(), txxx.begin(), txxx.end());
    body.resize(body.size() + 32);  // padding
    Bytes tag = {'I', 'D', '3', static_cast<uint8_t>(version), 0, 0, 0, 0, 0, 0};
    PutSynchsafe(tag, 6, static_cast<uint32_t>(body.size()));
    tag.insert(tag.end(), body.begin(), body.end());
    return tag;
}

Bytes ApeTag(bool header)
{
    Bytes items;
    uint32_t count = 0;
    for (const auto &[key, value] : std::vector<std::pair<std::string, std::string>>{
             {"Title", "APE title"}, {"Artist", "APE artist"}, {"REPLAYGAIN_ALBUM_GAIN", "-3.20 dB"}}) {
        Bytes item(8);
        PutLe32(item, 0, static_cast<uint32_t>(value.size()));
        Append(item, key);
        item.push_back(0);
        Append(item, value);
        items.insert(items.end(), item.begin(), item.end());
        ++count;
    }
    const auto frame = [&](bool isHeader) {
        Bytes f;
        Append(f, "APETAGEX");
        f.resize(32);
        PutLe32(f, 8, 2000);
        PutLe32(f, 12, static_cast<uint32_t>(items.size() + 32));
        PutLe32(f, 16, count);
        PutLe32(f, 20, (header ? 0x80000000u : 0u) | (isHeader ? 0x20000000u : 0u));
        return f;
    };
    Bytes tag = header ? frame(true) : Bytes{};
    tag.insert(tag.end(), items.begin(), items.end());
    const Bytes footer = frame(false);
    tag.insert(tag.end(), footer.begin(), footer.end());
    return tag;
}

Bytes LyricsTag()
{
    const std::string content = "LYRICSBEGININD00002" "10" "LYR00012[00:01]La la";
    char size[8];
    std::snprintf(size, sizeof size, "%06zu", content.size());
    Bytes tag;
    Append(tag, content + size + "LYRICS200");
    return tag;
}

Bytes Id3v1Tag()
{
    Bytes tag(128, 0);
    std::memcpy(tag.data(), "TAGV1 title", 11);
    std::memcpy(tag.data() + 33, "V1 artist", 9);
    tag[127] = 17;
    return tag;
}

// A plain MP3 into a RIFF/WAVE file: fmt (MPEG Layer III), fact, data.
Bytes Riff(const Bytes &mp3, const Layout &l)
{
    const Frame first = l.frames.empty() ? Frame{} : l.frames[0];
    Bytes out;
    Append(out, "RIFF");
    out.resize(8);
    Append(out, "WAVE");
    Append(out, "fmt ");
    Bytes fmt(30 + 4, 0);
    PutLe32(fmt, 0, 30);
    fmt[4] = 0x55;
    fmt[6] = first.mono ? 1 : 2;
    PutLe32(fmt, 8, static_cast<uint32_t>(first.rate));
    PutLe32(fmt, 12, 16000);
    fmt[16] = 1;
    fmt[20] = 12;
    fmt[22] = 1;
    fmt[24] = 2;
    out.insert(out.end(), fmt.begin(), fmt.end());
    Append(out, "fact");
    Bytes fact(8, 0);
    fact[0] = 4;
    PutLe32(fact, 4, static_cast<uint32_t>(l.frames.size() * 1152));
    out.insert(out.end(), fact.begin(), fact.end());
    Append(out, "data");
    out.resize(out.size() + 4);
    PutLe32(out, out.size() - 4, static_cast<uint32_t>(mp3.size()));
    out.insert(out.end(), mp3.begin(), mp3.end());
    if (mp3.size() & 1)
        out.push_back(0);
    PutLe32(out, 4, static_cast<uint32_t>(out.size() - 8));
    return out;
}

void EnsureRiff(Bytes &b)
{
    if (!Analyse(b).riff)
        b = Riff(b, Analyse(b));
}
void EnsureId3v2(Bytes &b, Rng &r)
{
    if (Analyse(b).id3v2 == 0 && !Analyse(b).riff)
        Insert(b, 0, Id3Tag(r.Pick({3, 4})));
}
// Trailing tags go before an ID3v1 tag, as taggers write them.
size_t TrailingInsertPoint(const Bytes &b)
{
    const Layout l = Analyse(b);
    return l.id3v1 != none ? l.id3v1 : b.size();
}
void EnsureApe(Bytes &b, Rng &r)
{
    if (Analyse(b).apeFooter == none)
        Insert(b, TrailingInsertPoint(b), ApeTag(r.Chance(50)));
}
void EnsureLyrics(Bytes &b)
{
    if (Analyse(b).lyricsStart == none)
        Insert(b, TrailingInsertPoint(b), LyricsTag());
}
void EnsureId3v1(Bytes &b)
{
    if (Analyse(b).id3v1 == none)
        Append(b, std::string(reinterpret_cast<const char *>(Id3v1Tag().data()), 128));
}

// A value near a size that matters, or at the edge of its field.
uint32_t Lie(Rng &r, uint64_t truth, uint64_t fileSize, std::string &detail)
{
    const uint64_t t = truth, s = fileSize;
    const uint64_t v = r.Pick<uint64_t>({0, 1, t - 1, t + 1, t / 2, t * 2, s, s + 1, s + 4096, 0x7fffffff, 0xffffffff,
                                         0xfffffff0, 0x80000000, r.Next() & 0xffffffff, r.Next() & 0xffff});
    detail += " value=" + std::to_string(static_cast<uint32_t>(v)) + " (was " + std::to_string(truth) + ")";
    return static_cast<uint32_t>(v);
}

// A point inside [from, to), for a cut.
void CutInside(Bytes &b, Rng &r, size_t from, size_t to, std::string &detail)
{
    to = std::min(to, b.size());
    if (from >= to) {
        detail += " nothing to cut";
        return;
    }
    const size_t at = r.Range(from, to - 1);
    detail += " cut at " + std::to_string(at) + " of " + std::to_string(b.size());
    b.resize(at);
}

// --- The mutations ---------------------------------------------------------

using Apply = std::function<void(Bytes &, Rng &, std::string &)>;

struct Entry {
    Mutation mutation;
    bool needsHeaderFrame;  // a Xing/Info frame in the fixture
    Apply apply;
};

// RIFF chunks in order: offset of each chunk header, from 12.
std::vector<size_t> Chunks(const Bytes &b)
{
    std::vector<size_t> out;
    for (size_t at = 12; at + 8 <= b.size() && out.size() < 64;) {
        out.push_back(at);
        if (At(b, at, "data"))
            break;
        at += 8 + static_cast<size_t>(Le32(b, at + 4)) + (Le32(b, at + 4) & 1);
    }
    return out;
}

// A chunk of `size` bytes of filler, padded to even.
Bytes Chunk(const char *id, size_t size, Rng &r, std::string &detail)
{
    Bytes c(id, id + 4);
    c.resize(8);
    PutLe32(c, 4, static_cast<uint32_t>(size));
    const int fill = static_cast<int>(r.Below(3));
    detail += std::string(" chunk ") + id + " size=" + std::to_string(size) +
              (fill == 0 ? " zeros" : fill == 1 ? " random" : " sync words");
    Bytes body = fill == 1 ? Random(r, size) : Bytes(size, 0);
    if (fill == 2)
        for (size_t i = 0; i + 4 <= size; i += 417) {
            body[i] = 0xff;
            body[i + 1] = 0xfb;
            body[i + 2] = 0x90;
        }
    c.insert(c.end(), body.begin(), body.end());
    if (size & 1)
        c.push_back(0);
    return c;
}

void FixRiffSize(Bytes &b)
{
    if (b.size() >= 8)
        PutLe32(b, 4, static_cast<uint32_t>(b.size() - 8));
}

// Which frame a frame mutation touches.
size_t PickFrame(const Layout &l, Rng &r, std::string &detail)
{
    if (l.frames.empty())
        return none;
    const size_t n = l.frames.size();
    const int which = static_cast<int>(r.Below(4));
    const size_t i = which == 0 ? 0 : which == 1 ? std::min<size_t>(1, n - 1) : which == 2 ? n - 1 : r.Below(n);
    detail += " frame " + std::to_string(i) + " of " + std::to_string(n) + " at " + std::to_string(l.frames[i].at);
    return l.frames[i].at;
}

std::vector<size_t> Id3Frames(const Bytes &b)
{
    std::vector<size_t> out;
    const size_t end = std::min(Id3v2Length(b, 0), b.size());
    if (end < 10)
        return out;
    const int version = b[3];
    size_t at = 10;
    if ((b[5] & 0x40) && at + 4 <= end)
        at += version == 4 ? Synchsafe(b, at) : Be32(b, at) + 4;
    const size_t header = version == 2 ? 6 : 10;
    while (at + header <= end && b[at] != 0 && out.size() < 64) {
        out.push_back(at);
        const size_t size = version == 2   ? static_cast<size_t>((b[at + 3] << 16) | (b[at + 4] << 8) | b[at + 5])
                            : version == 4 ? Synchsafe(b, at + 4)
                                           : Be32(b, at + 4);
        at += header + size;
    }
    return out;
}

const std::vector<Entry> &Table()
{
    static const std::vector<Entry> table = {
        // junk before the first frame, around the lookahead and the junk limit
        {{"lead", "junk"}, false,
         [](Bytes &b, Rng &r, std::string &d) {
             const Layout l = Analyse(b);
             const size_t n = r.Pick<size_t>({1, 4095, 8191, 8192, 8193, 12287, 12288, 12289, 65535, 65536, 70000,
                                              (1u << 20) - 1, 1u << 20, (1u << 20) + 1, (1u << 20) + 9000});
             const size_t at = l.frames.empty() ? l.id3v2 : l.frames[0].at;
             Bytes junk = Chunk("junk", n, r, d);
             junk.erase(junk.begin(), junk.begin() + 8);
             junk.resize(n);
             d += " at " + std::to_string(at);
             Insert(b, at, junk);
             if (l.riff && l.riffData != none) {
                 PutLe32(b, l.riffData + 4, Le32(b, l.riffData + 4) + static_cast<uint32_t>(n));
                 FixRiffSize(b);
             }
         }},
        {{"lead", "zeros"}, false,
         [](Bytes &b, Rng &r, std::string &d) {
             const Layout l = Analyse(b);
             const size_t n = r.Pick<size_t>({1, 2, 3, 4, 100, 1000, 8192, 8193, 20000});
             d += " " + std::to_string(n) + " zero bytes";
             Insert(b, l.frames.empty() ? l.id3v2 : l.frames[0].at, Bytes(n, 0));
         }},
        // RIFF/WAVE (MP3 fixtures are wrapped first)
        {{"riff", "chunk-before-data"}, false,
         [](Bytes &b, Rng &r, std::string &d) {
             EnsureRiff(b);
             const Layout l = Analyse(b);
             const size_t n = r.Pick<size_t>({8192, 9000, 12000, 16384, 20000, 40000, 65536, 70000, 200000,
                                              (1u << 20) - 100, (1u << 20) + 100});
             const size_t at = l.riffData != none ? l.riffData : b.size();
             Insert(b, r.Chance(70) ? at : 12, Chunk(r.Pick({"LIST", "junk", "bext", "JUNK"}), n, r, d));
             FixRiffSize(b);
         }},
        {{"riff", "chunk-size"}, false,
         [](Bytes &b, Rng &r, std::string &d) {
             EnsureRiff(b);
             const std::vector<size_t> chunks = Chunks(b);
             if (chunks.empty())
                 return;
             const size_t c = chunks[r.Below(chunks.size())];
             d += " chunk " + std::string(b.begin() + static_cast<long>(c), b.begin() + static_cast<long>(c + 4));
             PutLe32(b, c + 4, Lie(r, Le32(b, c + 4), b.size(), d));
         }},
        {{"riff", "riff-size"}, false,
         [](Bytes &b, Rng &r, std::string &d) {
             EnsureRiff(b);
             PutLe32(b, 4, Lie(r, Le32(b, 4), b.size(), d));
         }},
        {{"riff", "order"}, false,
         [](Bytes &b, Rng &r, std::string &d) {
             EnsureRiff(b);
             const std::vector<size_t> chunks = Chunks(b);
             if (chunks.size() < 2 || !At(b, chunks.back(), "data"))
                 return;
             // a chunk from before the data moved behind it, or the fmt chunk twice
             const size_t i = r.Below(chunks.size() - 1);
             const Bytes chunk(b.begin() + static_cast<long>(chunks[i]), b.begin() + static_cast<long>(chunks[i + 1]));
             if (r.Chance(50)) {
                 d += " chunk " + std::to_string(i) + " after the data";
                 Erase(b, chunks[i], chunks[i + 1]);
                 b.insert(b.end(), chunk.begin(), chunk.end());
             } else {
                 d += " chunk " + std::to_string(i) + " twice, the second as PCM";
                 Bytes twice = chunk;
                 if (twice.size() > 9)
                     twice[8] = 1, twice[9] = 0;
                 Insert(b, chunks[i + 1], twice);
             }
             FixRiffSize(b);
         }},
        {{"riff", "format"}, false,
         [](Bytes &b, Rng &r, std::string &d) {
             EnsureRiff(b);
             for (size_t c : Chunks(b))
                 if (At(b, c, "fmt ") && c + 10 <= b.size()) {
                     const uint32_t tag = r.Pick<uint32_t>({0, 1, 0x50, 0x55, 0xfffe, 0x161});
                     d += " tag=" + std::to_string(tag);
                     b[c + 8] = static_cast<uint8_t>(tag);
                     b[c + 9] = static_cast<uint8_t>(tag >> 8);
                 }
         }},
        {{"riff", "no-fmt"}, false,
         [](Bytes &b, Rng &, std::string &) {
             EnsureRiff(b);
             const std::vector<size_t> chunks = Chunks(b);
             for (size_t i = 0; i + 1 < chunks.size(); ++i)
                 if (At(b, chunks[i], "fmt ")) {
                     Erase(b, chunks[i], chunks[i + 1]);
                     break;
                 }
             FixRiffSize(b);
         }},
        {{"riff", "data-size"}, false,
         [](Bytes &b, Rng &r, std::string &d) {
             EnsureRiff(b);
             const Layout l = Analyse(b);
             if (l.riffData != none)
                 PutLe32(b, l.riffData + 4, Lie(r, Le32(b, l.riffData + 4), b.size(), d));
         }},
        {{"riff", "rf64"}, false,
         [](Bytes &b, Rng &r, std::string &d) {
             EnsureRiff(b);
             // RF64: sizes of 0xffffffff, the real ones in a ds64 chunk first
             const Layout l = Analyse(b);
             std::memcpy(b.data(), "RF64", 4);
             PutLe32(b, 4, 0xffffffff);
             if (l.riffData != none && r.Chance(70))
                 PutLe32(b, l.riffData + 4, 0xffffffff);
             if (r.Chance(70)) {
                 Bytes ds64(8 + 28, 0);
                 std::memcpy(ds64.data(), "ds64", 4);
                 PutLe32(ds64, 4, r.Chance(80) ? 28 : Lie(r, 28, b.size(), d));
                 PutLe32(ds64, 8, static_cast<uint32_t>(b.size() + 36 - 8));
                 PutLe32(ds64, 16, l.riffData != none ? static_cast<uint32_t>(b.size() - l.riffData - 8) : 0);
                 if (r.Chance(30))
                     PutLe32(ds64, 16 + r.Below(3) * 4, static_cast<uint32_t>(r.Next()));
                 Insert(b, 12, ds64);
                 d += " with ds64";
             }
         }},
        {{"riff", "truncate"}, false,
         [](Bytes &b, Rng &r, std::string &d) {
             EnsureRiff(b);
             const Layout l = Analyse(b);
             CutInside(b, r, 1, l.riffData != none ? l.riffData + 8 + 4 : b.size(), d);
         }},
        // ID3v2 at the start (added where the fixture has none)
        {{"id3v2", "size"}, false,
         [](Bytes &b, Rng &r, std::string &d) {
             EnsureId3v2(b, r);
             const Layout l = Analyse(b);
             if (l.id3v2 < 10)
                 return;
             const size_t firstFrame = l.frames.empty() ? l.id3v2 : l.frames[0].at;
             const uint64_t size = r.Pick<uint64_t>(
                 {0, 1, l.id3v2 - 11, l.id3v2 - 9, 0x0fffffff, b.size(), b.size() - 10, b.size() + r.Below(100000),
                  firstFrame - 10 + r.Range(1, 400), r.Below(l.id3v2), b.size() - 138});
             d += " size=" + std::to_string(static_cast<uint32_t>(size & 0x0fffffff)) + " (was " +
                  std::to_string(l.id3v2 - 10) + ")";
             PutSynchsafe(b, 6, static_cast<uint32_t>(size & 0x0fffffff));
         }},
        {{"id3v2", "size-not-synchsafe"}, false,
         [](Bytes &b, Rng &r, std::string &d) {
             EnsureId3v2(b, r);
             const Layout l = Analyse(b);
             if (l.id3v2 < 10)
                 return;
             // the size as a plain 32-bit number, or with stray top bits
             if (r.Chance(50)) {
                 PutBe32(b, 6, static_cast<uint32_t>(l.id3v2 - 10));
                 d += " plain " + std::to_string(l.id3v2 - 10);
             } else {
                 b[6 + r.Below(4)] |= 0x80;
                 d += " a top bit set";
             }
         }},
        {{"id3v2", "version"}, false,
         [](Bytes &b, Rng &r, std::string &d) {
             EnsureId3v2(b, r);
             if (b.size() < 10 || !At(b, 0, "ID3"))
                 return;
             b[3] = r.Pick<uint8_t>({0, 1, 2, 3, 4, 5, 0xff});
             b[4] = r.Pick<uint8_t>({0, 0, 1, 0xff});
             d += " version " + std::to_string(b[3]) + "." + std::to_string(b[4]);
         }},
        {{"id3v2", "flags"}, false,
         [](Bytes &b, Rng &r, std::string &d) {
             EnsureId3v2(b, r);
             if (b.size() < 10 || !At(b, 0, "ID3"))
                 return;
             b[5] = r.Pick<uint8_t>({0x80, 0x40, 0x20, 0x10, 0x0f, 0xff, 0xc0, static_cast<uint8_t>(r.Next())});
             d += " flags " + std::to_string(b[5]);
         }},
        {{"id3v2", "extended-header"}, false,
         [](Bytes &b, Rng &r, std::string &d) {
             EnsureId3v2(b, r);
             const Layout l = Analyse(b);
             if (l.id3v2 < 10)
                 return;
             const int version = b[3];
             b[5] |= 0x40;
             Bytes ext(r.Pick<size_t>({6, 10, 4, 0}), 0);
             if (ext.size() >= 4) {
                 const uint32_t size = r.Pick<uint32_t>({6, 10, 0, 1, 0x0fffffff, static_cast<uint32_t>(l.id3v2),
                                                         static_cast<uint32_t>(l.id3v2 + 20), 0xffffffff});
                 if (version == 4)
                     PutSynchsafe(ext, 0, size);
                 else
                     PutBe32(ext, 0, size);
                 if (ext.size() >= 6)
                     ext[4] = r.Pick<uint8_t>({0, 1, 6, 0xff}), ext[5] = static_cast<uint8_t>(r.Next());
                 d += " size field " + std::to_string(size);
             }
             d += " of " + std::to_string(ext.size()) + " bytes";
             Insert(b, 10, ext);
             if (r.Chance(70))
                 PutSynchsafe(b, 6, static_cast<uint32_t>(l.id3v2 - 10 + ext.size()));
             else
                 d += ", tag size unchanged";
         }},
        {{"id3v2", "frame-size"}, false,
         [](Bytes &b, Rng &r, std::string &d) {
             EnsureId3v2(b, r);
             const std::vector<size_t> frames = Id3Frames(b);
             if (frames.empty())
                 return;
             const size_t f = frames[r.Below(frames.size())];
             const size_t tagEnd = Id3v2Length(b, 0);
             d += " frame at " + std::to_string(f);
             if (b[3] == 2) {
                 const uint32_t v = Lie(r, (b[f + 3] << 16) | (b[f + 4] << 8) | b[f + 5], tagEnd - f, d);
                 b[f + 3] = static_cast<uint8_t>(v >> 16), b[f + 4] = static_cast<uint8_t>(v >> 8),
                       b[f + 5] = static_cast<uint8_t>(v);
             } else if (b[3] == 4 && r.Chance(30)) {
                 PutBe32(b, f + 4, Synchsafe(b, f + 4) | 0x80);  // not synchsafe
                 d += " not synchsafe";
             } else {
                 PutBe32(b, f + 4, Lie(r, Be32(b, f + 4), tagEnd - f, d));
             }
         }},
        {{"id3v2", "frame-flags"}, false,
         [](Bytes &b, Rng &r, std::string &d) {
             EnsureId3v2(b, r);
             const std::vector<size_t> frames = Id3Frames(b);
             if (frames.empty() || b[3] == 2)
                 return;
             const size_t f = frames[r.Below(frames.size())];
             // compression, encryption, grouping, unsynchronisation, data length
             b[f + 8] = static_cast<uint8_t>(r.Next());
             b[f + 9] = r.Pick<uint8_t>({0x80, 0x40, 0x20, 0x0c, 0x01, 0x03, 0xff, static_cast<uint8_t>(r.Next())});
             d += " frame at " + std::to_string(f) + " flags " + std::to_string(b[f + 8]) + "," +
                  std::to_string(b[f + 9]);
         }},
        {{"id3v2", "frame-id"}, false,
         [](Bytes &b, Rng &r, std::string &d) {
             EnsureId3v2(b, r);
             const std::vector<size_t> frames = Id3Frames(b);
             if (frames.empty())
                 return;
             const size_t f = frames[r.Below(frames.size())];
             const char *id = r.Pick({"TT2\0", "\0\0\0\0", "\xff\xfb\x90\x00", "TXXX", "APIC", "COMM", "zz!!"});
             std::memcpy(b.data() + f, id, b[3] == 2 ? 3 : 4);
             d += " frame at " + std::to_string(f);
         }},
        {{"id3v2", "unsync"}, false,
         [](Bytes &b, Rng &r, std::string &d) {
             EnsureId3v2(b, r);
             const size_t end = std::min(Id3v2Length(b, 0), b.size());
             if (end < 10)
                 return;
             // the unsynchronisation flag, and bytes it would have escaped
             b[5] |= 0x80;
             for (int i = 0; i < 8; ++i) {
                 const size_t at = r.Range(10, end - 1);
                 b[at] = 0xff;
                 if (at + 1 < end)
                     b[at + 1] = r.Pick<uint8_t>({0x00, 0xe0, 0xfb});
             }
             d += " flag and escapes";
         }},
        {{"id3v2", "footer"}, false,
         [](Bytes &b, Rng &r, std::string &d) {
             EnsureId3v2(b, r);
             const size_t size = std::min(Id3v2Length(b, 0), b.size());
             if (size < 10)
                 return;
             // a v2.4 footer flag, with or without its footer
             b[3] = 4;
             b[5] |= 0x10;
             if (r.Chance(50)) {
                 Bytes footer(b.begin(), b.begin() + 10);
                 std::memcpy(footer.data(), "3DI", 3);
                 Insert(b, size, footer);
                 d += " with footer";
             }
         }},
        {{"id3v2", "appended"}, false,
         [](Bytes &b, Rng &r, std::string &d) {
             // an ID3v2.4 tag with footer at the end, its sizes lying
             Bytes tag = Id3Tag(4);
             tag[5] = 0x10;
             Bytes footer(tag.begin(), tag.begin() + 10);
             std::memcpy(footer.data(), "3DI", 3);
             if (r.Chance(70))
                 PutSynchsafe(footer, 6, Lie(r, tag.size() - 10, b.size(), d) & 0x0fffffff);
             tag.insert(tag.end(), footer.begin(), footer.end());
             Insert(b, TrailingInsertPoint(b), tag);
         }},
        {{"id3v2", "two-tags"}, false,
         [](Bytes &b, Rng &r, std::string &d) {
             EnsureId3v2(b, r);
             const size_t size = std::min(Id3v2Length(b, 0), b.size());
             Bytes second = r.Chance(50) ? Bytes(b.begin(), b.begin() + static_cast<long>(size)) : Id3Tag(3);
             if (r.Chance(50) && second.size() > 10)
                 PutSynchsafe(second, 6, Lie(r, second.size() - 10, b.size(), d) & 0x0fffffff);
             Insert(b, size, second);
         }},
        {{"id3v2", "truncate"}, false,
         [](Bytes &b, Rng &r, std::string &d) {
             EnsureId3v2(b, r);
             CutInside(b, r, 1, std::min(Id3v2Length(b, 0), b.size()), d);
         }},
        // APEv2 before the ID3v1 tag at the end (added where there is none)
        {{"ape", "footer-size"}, false,
         [](Bytes &b, Rng &r, std::string &d) {
             EnsureApe(b, r);
             const Layout l = Analyse(b);
             if (l.apeFooter != none)
                 PutLe32(b, l.apeFooter + 12, Lie(r, Le32(b, l.apeFooter + 12), l.apeFooter, d));
         }},
        {{"ape", "reach-into-audio"}, false,
         [](Bytes &b, Rng &r, std::string &d) {
             EnsureApe(b, r);
             const Layout l = Analyse(b);
             if (l.apeFooter == none)
                 return;
             // the size claims bytes of the last frame
             const uint32_t more = static_cast<uint32_t>(r.Range(1, 600));
             PutLe32(b, l.apeFooter + 12, Le32(b, l.apeFooter + 12) + more);
             d += " " + std::to_string(more) + " bytes too large";
         }},
        {{"ape", "header-size"}, false,
         [](Bytes &b, Rng &r, std::string &d) {
             EnsureApe(b, r);
             const Layout l = Analyse(b);
             if (l.apeStart == none || !At(b, l.apeStart, "APETAGEX")) {
                 // a header where the footer says there is none
                 if (l.apeFooter != none)
                     PutLe32(b, l.apeFooter + 20, Le32(b, l.apeFooter + 20) | 0x80000000u);
                 d += " header flag without header";
                 return;
             }
             PutLe32(b, l.apeStart + 12, Lie(r, Le32(b, l.apeStart + 12), b.size(), d));
         }},
        {{"ape", "item-count"}, false,
         [](Bytes &b, Rng &r, std::string &d) {
             EnsureApe(b, r);
             const Layout l = Analyse(b);
             if (l.apeFooter == none)
                 return;
             const uint32_t count = Lie(r, Le32(b, l.apeFooter + 16), 1000, d);
             PutLe32(b, l.apeFooter + 16, count);
             if (l.apeStart != none && At(b, l.apeStart, "APETAGEX"))
                 PutLe32(b, l.apeStart + 16, count);
         }},
        {{"ape", "item-size"}, false,
         [](Bytes &b, Rng &r, std::string &d) {
             EnsureApe(b, r);
             const Layout l = Analyse(b);
             if (l.apeFooter == none || l.apeStart == none)
                 return;
             const size_t items = At(b, l.apeStart, "APETAGEX") ? l.apeStart + 32 : l.apeStart;
             if (items + 8 > l.apeFooter)
                 return;
             if (r.Chance(70)) {
                 PutLe32(b, items, Lie(r, Le32(b, items), l.apeFooter - items, d));
             } else {
                 // a key that runs to the footer without its terminating zero
                 for (size_t at = items + 8; at < l.apeFooter; ++at)
                     b[at] = 'K';
                 d += " key without end";
             }
         }},
        {{"ape", "version-flags"}, false,
         [](Bytes &b, Rng &r, std::string &d) {
             EnsureApe(b, r);
             const Layout l = Analyse(b);
             if (l.apeFooter == none)
                 return;
             PutLe32(b, l.apeFooter + 8, r.Pick<uint32_t>({1000, 2000, 0, 3000, 0xffffffff}));
             PutLe32(b, l.apeFooter + 20, r.Pick<uint32_t>({0, 0x20000000, 0xa0000000, 0x80000000, 0xffffffff}));
             d += " version " + std::to_string(Le32(b, l.apeFooter + 8)) + " flags " +
                  std::to_string(Le32(b, l.apeFooter + 20));
         }},
        {{"ape", "truncate"}, false,
         [](Bytes &b, Rng &r, std::string &d) {
             EnsureApe(b, r);
             const Layout l = Analyse(b);
             if (l.apeFooter != none)
                 CutInside(b, r, std::min(l.apeStart, l.apeFooter), l.apeFooter + 32, d);
         }},
        // Lyrics3v2 before the ID3v1 tag
        {{"lyrics3", "size"}, false,
         [](Bytes &b, Rng &r, std::string &d) {
             EnsureLyrics(b);
             const size_t at = Find(b, "LYRICS200");
             if (at == none || at < 6)
                 return;
             const Layout l = Analyse(b);
             const size_t truth = l.lyricsStart != none ? at - 6 - l.lyricsStart : 0;
             const std::string size = r.Pick<std::string>(
                 {"000000", "999999", "000001", "00001a", "-00001", "      ", std::to_string(truth + 100000),
                  std::to_string(at), std::to_string(at - 6 + 1), std::to_string(truth + r.Range(1, 500))});
             std::string six = size.size() >= 6 ? size.substr(size.size() - 6) : std::string(6 - size.size(), '0') + size;
             std::memcpy(b.data() + at - 6, six.data(), 6);
             d += " size '" + six + "' (was " + std::to_string(truth) + ")";
         }},
        {{"lyrics3", "begin"}, false,
         [](Bytes &b, Rng &r, std::string &d) {
             EnsureLyrics(b);
             const size_t at = Find(b, "LYRICSBEGIN");
             if (at == none)
                 return;
             if (r.Chance(50)) {
                 b[at + r.Below(11)] = 'x';
                 d += " damaged LYRICSBEGIN";
             } else {
                 const size_t end = Find(b, "LYRICS200");
                 if (end != none)
                     std::memcpy(b.data() + end, "LYRICSEND", 9);
                 d += " LYRICSEND (version 1) with a version 2 body";
             }
         }},
        {{"lyrics3", "truncate"}, false,
         [](Bytes &b, Rng &r, std::string &d) {
             EnsureLyrics(b);
             const size_t begin = Find(b, "LYRICSBEGIN"), end = Find(b, "LYRICS200");
             if (begin != none && end != none)
                 CutInside(b, r, begin, end + 9, d);
         }},
        // ID3v1: where it sits
        {{"id3v1", "placement"}, false,
         [](Bytes &b, Rng &r, std::string &d) {
             EnsureId3v1(b);
             const Layout l = Analyse(b);
             const Bytes tag = Id3v1Tag();
             const int where = static_cast<int>(r.Below(5));
             size_t at = b.size();
             if (where == 0)
                 at = l.frames.empty() ? 0 : l.frames[0].at;
             else if (where == 1 && l.frames.size() > 2)
                 at = l.frames[r.Range(1, l.frames.size() - 1)].at;
             else if (where == 2 && !l.frames.empty())
                 at = l.frames.back().at + r.Below(l.frames.back().length);
             else if (where == 3)
                 at = b.size() >= 100 ? b.size() - 100 : 0;  // overlapping the last one
             d += " another at " + std::to_string(at);
             Insert(b, at, tag);
         }},
        {{"id3v1", "extended"}, false,
         [](Bytes &b, Rng &r, std::string &d) {
             EnsureId3v1(b);
             const Layout l = Analyse(b);
             // TAG+ (227 bytes) before the tag, or "TAG" at the end of the last frame
             if (r.Chance(50) && l.id3v1 != none) {
                 Bytes plus(227, 'x');
                 std::memcpy(plus.data(), "TAG+", 4);
                 Insert(b, l.id3v1, plus);
                 d += " TAG+";
             } else if (!l.frames.empty()) {
                 const Frame &last = l.frames.back();
                 const size_t at = last.at + last.length - r.Range(3, std::min<size_t>(last.length, 130));
                 std::memcpy(b.data() + at, "TAG", 3);
                 d += " TAG inside the last frame at " + std::to_string(at);
             }
         }},
        {{"id3v1", "truncate"}, false,
         [](Bytes &b, Rng &r, std::string &d) {
             EnsureId3v1(b);
             const Layout l = Analyse(b);
             if (l.id3v1 != none)
                 CutInside(b, r, l.id3v1, b.size(), d);
         }},
        // the Xing/Info frame
        {{"xing", "kind"}, true,
         [](Bytes &b, Rng &, std::string &d) {
             const Layout l = Analyse(b);
             std::memcpy(b.data() + l.xing, At(b, l.xing, "Xing") ? "Info" : "Xing", 4);
             d += " swapped";
         }},
        {{"xing", "flags"}, true,
         [](Bytes &b, Rng &r, std::string &d) {
             const Layout l = Analyse(b);
             const uint32_t flags = r.Pick<uint32_t>({0, 1, 2, 4, 8, 7, 0xf, 0xffffffff, 0x10, static_cast<uint32_t>(r.Next())});
             PutBe32(b, l.xing + 4, flags);
             d += " flags " + std::to_string(flags);
         }},
        {{"xing", "frames"}, true,
         [](Bytes &b, Rng &r, std::string &d) {
             const Layout l = Analyse(b);
             PutBe32(b, l.xing + 4, Be32(b, l.xing + 4) | 1);
             PutBe32(b, l.xing + 8,
                     r.Pick<uint32_t>({0, 1, 2, static_cast<uint32_t>(l.frames.size() - 2), static_cast<uint32_t>(l.frames.size()),
                                       static_cast<uint32_t>(l.frames.size() * 3), 1u << 25, (1u << 25) + 1, 0x7fffffff,
                                       0xffffffff, static_cast<uint32_t>(r.Next())}));
             d += " frames " + std::to_string(Be32(b, l.xing + 8));
         }},
        {{"xing", "bytes"}, true,
         [](Bytes &b, Rng &r, std::string &d) {
             const Layout l = Analyse(b);
             const uint32_t flags = Be32(b, l.xing + 4) | 2;
             PutBe32(b, l.xing + 4, flags);
             const size_t at = l.xing + 8 + ((flags & 1) ? 4 : 0);
             PutBe32(b, at, Lie(r, Be32(b, at), b.size(), d));
         }},
        {{"xing", "toc"}, true,
         [](Bytes &b, Rng &r, std::string &d) {
             const Layout l = Analyse(b);
             const uint32_t flags = Be32(b, l.xing + 4) | 4;
             PutBe32(b, l.xing + 4, flags);
             const size_t at = l.xing + 8 + ((flags & 1) ? 4 : 0) + ((flags & 2) ? 4 : 0);
             const int kind = static_cast<int>(r.Below(4));
             for (size_t i = 0; i < 100 && at + i < b.size(); ++i)
                 b[at + i] = kind == 0 ? 0 : kind == 1 ? 255 : kind == 2 ? static_cast<uint8_t>(255 - i * 2)
                                                                          : static_cast<uint8_t>(r.Next());
             d += std::string(" toc ") + (kind == 0 ? "zeros" : kind == 1 ? "255" : kind == 2 ? "falling" : "random");
         }},
        {{"xing", "place"}, true,
         [](Bytes &b, Rng &r, std::string &d) {
             const Layout l = Analyse(b);
             // the tag two bytes off (as after a CRC), or in the second frame as well
             if (r.Chance(50)) {
                 const Bytes tag(b.begin() + static_cast<long>(l.xing), b.begin() + static_cast<long>(l.xing + 8));
                 std::memset(b.data() + l.xing, 0, 8);
                 const size_t to = r.Chance(50) ? l.xing + 2 : l.xing - 2;
                 std::copy(tag.begin(), tag.end(), b.begin() + static_cast<long>(to));
                 d += " moved to " + std::to_string(to);
             } else if (l.frames.size() > 1) {
                 const size_t offset = l.xing - l.frames[0].at;
                 const size_t to = l.frames[1].at + offset;
                 if (to + 120 <= b.size())
                     std::copy(b.begin() + static_cast<long>(l.xing), b.begin() + static_cast<long>(l.xing + 120),
                               b.begin() + static_cast<long>(to));
                 d += " copied into the second frame";
             }
         }},
        {{"xing", "truncate"}, true,
         [](Bytes &b, Rng &r, std::string &d) {
             const Layout l = Analyse(b);
             CutInside(b, r, l.frames[0].at + 1, l.frames[0].at + l.frames[0].length, d);
         }},
        // LAME's extension after the Xing/Info fields
        {{"lame", "delay-padding"}, true,
         [](Bytes &b, Rng &r, std::string &d) {
             const Layout l = Analyse(b);
             if (l.lame == none)
                 return;
             const uint32_t total = static_cast<uint32_t>(l.frames.size() * 1152);
             const uint32_t delay = r.Pick<uint32_t>({0, 4095, 576, std::min<uint32_t>(total, 4095), 1152, static_cast<uint32_t>(r.Below(4096))});
             const uint32_t padding = r.Pick<uint32_t>({0, 4095, 1152, static_cast<uint32_t>(r.Below(4096))});
             b[l.lame + 21] = static_cast<uint8_t>(delay >> 4);
             b[l.lame + 22] = static_cast<uint8_t>(((delay & 15) << 4) | (padding >> 8));
             b[l.lame + 23] = static_cast<uint8_t>(padding);
             d += " delay " + std::to_string(delay) + " padding " + std::to_string(padding);
         }},
        {{"lame", "fields"}, true,
         [](Bytes &b, Rng &r, std::string &d) {
             const Layout l = Analyse(b);
             if (l.lame == none)
                 return;
             // method, peak and gains as any bytes
             b[l.lame + 9] = static_cast<uint8_t>(r.Next());
             for (size_t i = 10; i < 21; ++i)
                 if (r.Chance(60))
                     b[l.lame + i] = r.Pick<uint8_t>({0, 0xff, 0x7f, 0x80, static_cast<uint8_t>(r.Next())});
             d += " method/peak/gains";
         }},
        {{"lame", "encoder"}, true,
         [](Bytes &b, Rng &r, std::string &d) {
             const Layout l = Analyse(b);
             if (l.lame == none)
                 return;
             const int kind = static_cast<int>(r.Below(3));
             for (size_t i = 0; i < 9; ++i)
                 b[l.lame + i] = kind == 0 ? static_cast<uint8_t>(r.Next() | 1) : kind == 1 ? 0xff : "Lavf58.29"[i];
             d += kind == 0 ? " random" : kind == 1 ? " 0xff" : " Lavf";
         }},
        {{"lame", "crc"}, true,
         [](Bytes &b, Rng &r, std::string &d) {
             const Layout l = Analyse(b);
             if (l.lame == none)
                 return;
             // odd fields under a CRC that matches them, or a wrong CRC
             for (size_t i = 9; i < 34; ++i)
                 b[l.lame + i] = static_cast<uint8_t>(r.Next());
             const size_t frame = l.frames[0].at;
             uint32_t crc = 0;
             for (size_t i = 0; i < 190 && frame + i < b.size(); ++i) {
                 crc ^= b[frame + i];
                 for (int bit = 0; bit < 8; ++bit)
                     crc = (crc & 1) ? (crc >> 1) ^ 0xa001 : crc >> 1;
             }
             const bool right = r.Chance(60);
             PutBe16(b, l.lame + 34, right ? crc : crc ^ 0x1234);
             d += right ? " matching CRC" : " wrong CRC";
         }},
        {{"lame", "short"}, true,
         [](Bytes &b, Rng &r, std::string &d) {
             const Layout l = Analyse(b);
             if (l.lame == none)
                 return;
             // the header frame ends inside the extension: a lower bit rate
             // shortens it, and the bytes after it are junk
             const size_t f = l.frames[0].at;
             const uint8_t index = b[f + 2] >> 4;
             if (index > 1)
                 b[f + 2] = static_cast<uint8_t>((r.Range(1, index - 1) << 4) | (b[f + 2] & 0x0f));
             d += " bit rate index " + std::to_string(b[f + 2] >> 4) + " (was " + std::to_string(index) + ")";
         }},
        // VBRI in place of the Xing/Info frame's fields
        {{"vbri", "fields"}, true,
         [](Bytes &b, Rng &r, std::string &d) {
             const Layout l = Analyse(b);
             const Frame &f = l.frames[0];
             const size_t v = f.at + 36;
             std::memset(b.data() + l.xing, 0, 8);
             if (v + 26 > b.size())
                 return;
             std::memcpy(b.data() + v, "VBRI", 4);
             PutBe16(b, v + 4, r.Pick<uint32_t>({1, 0, 0xffff}));
             PutBe16(b, v + 6, static_cast<uint32_t>(r.Below(0x10000)));  // delay
             PutBe16(b, v + 8, static_cast<uint32_t>(r.Below(101)));      // quality
             PutBe32(b, v + 10, Lie(r, b.size() - f.at, b.size(), d));
             PutBe32(b, v + 14, Lie(r, l.frames.size(), b.size(), d));
             const uint32_t entries = r.Pick<uint32_t>({0, 1, 10, 100, 0xffff});
             const uint32_t entrySize = r.Pick<uint32_t>({1, 2, 3, 4, 0, 7});
             PutBe16(b, v + 18, entries);
             PutBe16(b, v + 20, r.Pick<uint32_t>({1, 0, 0xffff}));
             PutBe16(b, v + 22, entrySize);
             PutBe16(b, v + 24, r.Pick<uint32_t>({1, 0, 10, 0xffff}));
             for (size_t i = v + 26; i < std::min(b.size(), f.at + f.length); ++i)
                 b[i] = static_cast<uint8_t>(r.Next());
             d += " entries " + std::to_string(entries) + " of " + std::to_string(entrySize);
         }},
        {{"vbri", "truncate"}, true,
         [](Bytes &b, Rng &r, std::string &d) {
             const Layout l = Analyse(b);
             const size_t v = l.frames[0].at + 36;
             std::memset(b.data() + l.xing, 0, 8);
             if (v + 26 > b.size())
                 return;
             std::memcpy(b.data() + v, "VBRI", 4);
             PutBe32(b, v + 14, static_cast<uint32_t>(l.frames.size()));
             CutInside(b, r, v, v + 26 + 64, d);
         }},
        // frame headers
        {{"frame", "bitrate"}, false,
         [](Bytes &b, Rng &r, std::string &d) {
             const size_t f = PickFrame(Analyse(b), r, d);
             if (f == none)
                 return;
             const uint8_t index = r.Pick<uint8_t>({0, 15, 1, 14, static_cast<uint8_t>(r.Below(16))});
             b[f + 2] = static_cast<uint8_t>((index << 4) | (b[f + 2] & 0x0f));
             d += " index " + std::to_string(index);
         }},
        {{"frame", "rate"}, false,
         [](Bytes &b, Rng &r, std::string &d) {
             const size_t f = PickFrame(Analyse(b), r, d);
             if (f == none)
                 return;
             const uint8_t index = static_cast<uint8_t>(r.Below(4));
             b[f + 2] = static_cast<uint8_t>((b[f + 2] & 0xf3) | (index << 2));
             d += " index " + std::to_string(index);
         }},
        {{"frame", "padding"}, false,
         [](Bytes &b, Rng &r, std::string &d) {
             const Layout l = Analyse(b);
             // one frame, or every frame from one on
             const size_t f = PickFrame(l, r, d);
             if (f == none)
                 return;
             const bool all = r.Chance(40);
             for (const Frame &frame : l.frames)
                 if (frame.at == f || (all && frame.at > f))
                     b[frame.at + 2] ^= 0x02;
             d += all ? " toggled from there on" : " toggled";
         }},
        {{"frame", "version-layer"}, false,
         [](Bytes &b, Rng &r, std::string &d) {
             const size_t f = PickFrame(Analyse(b), r, d);
             if (f == none)
                 return;
             const uint8_t bits = static_cast<uint8_t>(r.Below(16));  // version (2 bits), layer (2 bits)
             b[f + 1] = static_cast<uint8_t>((b[f + 1] & 0xe1) | (bits << 1));
             d += " version/layer bits " + std::to_string(bits);
         }},
        {{"frame", "free-format"}, false,
         [](Bytes &b, Rng &r, std::string &d) {
             const Layout l = Analyse(b);
             // every frame (or every frame after the first) with bit rate index 0
             const bool keepFirst = r.Chance(30);
             for (size_t i = keepFirst ? 1 : 0; i < l.frames.size(); ++i)
                 b[l.frames[i].at + 2] &= 0x0f;
             d += keepFirst ? " after the first frame" : " every frame";
         }},
        {{"frame", "format-change"}, false,
         [](Bytes &b, Rng &r, std::string &d) {
             const Layout l = Analyse(b);
             if (l.frames.size() < 3)
                 return;
             // from a frame on: another rate, channel mode or version
             const size_t from = r.Range(1, l.frames.size() - 1);
             const int what = static_cast<int>(r.Below(3));
             for (size_t i = from; i < l.frames.size(); ++i) {
                 uint8_t *h = b.data() + l.frames[i].at;
                 if (what == 0)
                     h[2] = static_cast<uint8_t>((h[2] & 0xf3) | ((((h[2] >> 2) & 3) + 1) % 3) << 2);
                 else if (what == 1)
                     h[3] ^= 0xc0;
                 else
                     h[1] ^= 0x08;
             }
             d += std::string(" from frame ") + std::to_string(from) + (what == 0 ? " rate" : what == 1 ? " mode" : " version");
         }},
        {{"frame", "other-bits"}, false,
         [](Bytes &b, Rng &r, std::string &d) {
             const size_t f = PickFrame(Analyse(b), r, d);
             if (f == none)
                 return;
             // protection, private, mode extension, copyright, emphasis
             b[f + 1] ^= static_cast<uint8_t>(r.Below(2));
             b[f + 3] = static_cast<uint8_t>(r.Next());
             d += " byte 3 = " + std::to_string(b[f + 3]);
         }},
        {{"frame", "sync"}, false,
         [](Bytes &b, Rng &r, std::string &d) {
             const size_t f = PickFrame(Analyse(b), r, d);
             if (f == none)
                 return;
             b[f + r.Below(2)] ^= static_cast<uint8_t>(1u << r.Below(8));
         }},
        {{"frame", "side-info"}, false,
         [](Bytes &b, Rng &r, std::string &d) {
             const Layout l = Analyse(b);
             const size_t f = PickFrame(l, r, d);
             if (f == none)
                 return;
             // main_data_begin and granule fields as any bits: the reservoir lies
             for (size_t i = 4; i < 4 + 17 && f + i < b.size(); ++i)
                 b[f + i] = r.Chance(50) ? static_cast<uint8_t>(r.Next()) : 0xff;
         }},
        {{"frame", "truncate"}, false,
         [](Bytes &b, Rng &r, std::string &d) {
             const Layout l = Analyse(b);
             const size_t f = PickFrame(l, r, d);
             if (f == none)
                 return;
             CutInside(b, r, f, f + std::min<size_t>(l.frames[0].length, b.size() - f), d);
         }},
    };
    return table;
}

const Entry *Lookup(const std::string &structure, const std::string &mutation)
{
    for (const Entry &e : Table())
        if (structure == e.mutation.structure && mutation == e.mutation.name)
            return &e;
    return nullptr;
}

} // namespace

std::vector<Fixture> LoadFixtures(const std::string &folder)
{
    std::vector<Fixture> out;
    for (const auto &entry : std::filesystem::directory_iterator(folder)) {
        const std::string ext = entry.path().extension().string();
        if (ext != ".mp3" && ext != ".wav")
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        out.push_back({entry.path().filename().string(), Bytes((std::istreambuf_iterator<char>(in)), {})});
    }
    std::sort(out.begin(), out.end(), [](const Fixture &a, const Fixture &b) { return a.name < b.name; });
    return out;
}

const std::vector<Mutation> &Mutations()
{
    static const std::vector<Mutation> all = [] {
        std::vector<Mutation> m;
        for (const Entry &e : Table())
            m.push_back(e.mutation);
        return m;
    }();
    return all;
}

std::string Variant::Name() const
{
    return "seed=" + std::to_string(seed) + " fixture=" + fixture + " structure=" + structure + " mutation=" + mutation;
}

Variant MakeVariant(uint32_t seed, const Fixture &fixture, const std::string &structure, const std::string &mutation)
{
    Variant v;
    v.seed = seed;
    v.fixture = fixture.name;
    v.structure = structure;
    v.mutation = mutation;
    v.bytes = fixture.bytes;
    const Entry *e = Lookup(structure, mutation);
    if (e == nullptr) {
        v.detail = "unknown";
        return v;
    }
    if (e->needsHeaderFrame && Analyse(v.bytes).xing == none) {
        v.detail = "no header frame";
        return v;
    }
    Rng r(0x686f7374696c65ull ^ seed);
    e->apply(v.bytes, r, v.detail);
    if (!v.detail.empty() && v.detail[0] == ' ')
        v.detail.erase(0, 1);
    return v;
}

Variant RunVariant(uint32_t runSeed, size_t i, const std::vector<Fixture> &fixtures)
{
    const std::vector<Entry> &table = Table();
    const Entry &e = table[i % table.size()];
    Rng r((uint64_t{runSeed} << 32) ^ (i * 0x9e3779b97f4a7c15ull));
    const uint32_t seed = static_cast<uint32_t>(r.Next());
    // a fixture the mutation applies to
    std::vector<size_t> fit;
    for (size_t k = 0; k < fixtures.size(); ++k)
        if (!e.needsHeaderFrame || Analyse(fixtures[k].bytes).xing != none)
            fit.push_back(k);
    if (fit.empty())
        return Variant{};
    return MakeVariant(seed, fixtures[fit[r.Below(fit.size())]], e.mutation.structure, e.mutation.name);
}

bool ParseName(const std::string &text, uint32_t &seed, std::string &fixture, std::string &structure,
               std::string &mutation)
{
    std::string spaced = text;
    std::replace(spaced.begin(), spaced.end(), ',', ' ');
    std::istringstream in(spaced);
    bool hasSeed = false;
    fixture.clear(), structure.clear(), mutation.clear();
    for (std::string field; in >> field;) {
        const size_t eq = field.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = field.substr(0, eq), value = field.substr(eq + 1);
        if (key == "seed") {
            seed = static_cast<uint32_t>(std::strtoul(value.c_str(), nullptr, 10));
            hasSeed = true;
        } else if (key == "fixture") {
            fixture = value;
        } else if (key == "structure") {
            structure = value;
        } else if (key == "mutation") {
            mutation = value;
        }
    }
    return hasSeed && !fixture.empty() && !structure.empty() && !mutation.empty();
}

} // namespace hostile
