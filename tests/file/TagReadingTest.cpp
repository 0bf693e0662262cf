// SPDX-License-Identifier: GPL-2.0-or-later
// Tags as taggers write them: iTunes' comments beside the user's, UTF-16
// without byte-order marks, malformed frames among good ones, several values
// in one frame, v2.4 sizes written plain, unsynchronisation, v2.2 and v1.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "format/TagFields.h"
#include "TestSupport.h"
#include "format/Id3.h"

namespace {

Bytes Str(const std::string &s)
{
    return Bytes(s.begin(), s.end());
}

Bytes operator+(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes Utf16Le(const std::u16string &s)
{
    Bytes b;
    for (const char16_t c : s)
        b.push_back(static_cast<uint8_t>(c & 0xff)), b.push_back(static_cast<uint8_t>(c >> 8));
    return b;
}

Bytes Utf16Be(const std::u16string &s)
{
    Bytes b;
    for (const char16_t c : s)
        b.push_back(static_cast<uint8_t>(c >> 8)), b.push_back(static_cast<uint8_t>(c & 0xff));
    return b;
}

Bytes Size(uint32_t size, bool syncsafe)
{
    if (syncsafe)
        return {static_cast<uint8_t>((size >> 21) & 0x7f), static_cast<uint8_t>((size >> 14) & 0x7f),
                static_cast<uint8_t>((size >> 7) & 0x7f), static_cast<uint8_t>(size & 0x7f)};
    return {static_cast<uint8_t>(size >> 24), static_cast<uint8_t>(size >> 16), static_cast<uint8_t>(size >> 8),
            static_cast<uint8_t>(size)};
}

// A v2.3/v2.4 frame; v2.4 sizes syncsafe unless plain.
Bytes Frame(int version, const std::string &id, const Bytes &body, bool plain = false)
{
    return Str(id) + Size(static_cast<uint32_t>(body.size()), version == 4 && !plain) + Bytes{0, 0} + body;
}

Bytes Tag(int version, const Bytes &frames, uint8_t flags = 0)
{
    return Bytes{'I', 'D', '3', static_cast<uint8_t>(version), 0, flags} +
           Size(static_cast<uint32_t>(frames.size() + 20), true) + frames + Bytes(20, 0);
}

Bytes Latin1Text(const std::string &s)
{
    return Bytes{0} + Str(s);
}

Bytes Comment(const std::string &lang, const std::string &description, const std::string &text)
{
    return Bytes{0} + Str(lang) + Str(description) + Bytes{0} + Str(text);
}

TagInfo Read(const Bytes &tag)
{
    TagInfo info;
    EXPECT_TRUE(ReadTag(tag, info));
    return info;
}

struct TagCase {
    const char *name;
    Bytes tag;
    std::string TagInfo::*field;
    std::string expected;
};

// by name: gtest would otherwise print the bytes of the case, padding included
void PrintTo(const TagCase &c, std::ostream *os)
{
    *os << c.name;
}

std::string PrintCase(const ::testing::TestParamInfo<TagCase> &info)
{
    return info.param.name;
}

class TagReading : public ::testing::TestWithParam<TagCase> {};

TEST_P(TagReading, GivesWhatAPlayerShows)
{
    EXPECT_EQ(Read(GetParam().tag).*GetParam().field, GetParam().expected);
}

const std::u16string between = u"Between Worlds";

INSTANTIATE_TEST_SUITE_P(
    Cases, TagReading,
    ::testing::Values(
        TagCase{"ItunesCommentsAreNotTheUsers",
                Tag(3, Frame(3, "COMM", Comment("eng", "iTunNORM", " 0000031E 00000325 00001A8B")) +
                           Frame(3, "COMM", Comment("eng", "iTunPGAP", "0")) +
                           Frame(3, "COMM", Comment("eng", "", "Recorded live")) +
                           Frame(3, "COMM", Comment("eng", "iTunSMPB", " 00000000 00000210"))),
                &TagInfo::comment, "Recorded live"},
        TagCase{"OnlyItunesCommentsGiveNoComment",
                Tag(3, Frame(3, "COMM", Comment("eng", "iTunPGAP", "0"))), &TagInfo::comment, ""},
        TagCase{"TheCommentInTheFilesLanguage",
                Tag(3, Frame(3, "COMM", Comment("eng", "", "In English")) +
                           Frame(3, "COMM", Comment("deu", "", "Auf Deutsch")) + Frame(3, "TLAN", Latin1Text("deu"))),
                &TagInfo::comment, "Auf Deutsch"},
        TagCase{"Utf16LittleEndianWithoutBom", Tag(3, Frame(3, "TIT2", Bytes{1} + Utf16Le(between))),
                &TagInfo::title, "Between Worlds"},
        TagCase{"Utf16BigEndianWithoutBom", Tag(3, Frame(3, "TIT2", Bytes{1} + Utf16Be(between))),
                &TagInfo::title, "Between Worlds"},
        TagCase{"Utf16WithBomAndASurrogatePair",
                Tag(3, Frame(3, "TIT2", Bytes{1, 0xff, 0xfe} + Utf16Le(u"Caf\u00e9 \U0001F3B5"))), &TagInfo::title,
                "Caf\xc3\xa9 \xf0\x9f\x8e\xb5"},
        TagCase{"Utf16CommentWithoutBoms",
                Tag(3, Frame(3, "COMM", Bytes{1} + Str("eng") + Bytes{0, 0} + Utf16Le(u"Mixed by Ana"))),
                &TagInfo::comment, "Mixed by Ana"},
        TagCase{"Utf16BigEndianOfVersion4", Tag(4, Frame(4, "TPE1", Bytes{2} + Utf16Be(u"\u0100ber"))),
                &TagInfo::artist, "\xc4\x80" "ber"},
        TagCase{"AThreeLetterIdInAVersion3TagLosesThatFrameOnly",
                Tag(3, Frame(3, "TIT2", Latin1Text("Title")) + Str("TT2") + Bytes{0, 0, 6} + Latin1Text("Other") +
                           Frame(3, "TPE1", Latin1Text("Artist"))),
                &TagInfo::artist, "Artist"},
        TagCase{"AFrameSizeThatRunsPastTheTagLosesThatFrameOnly",
                Tag(3, Str("TALB") + Size(100000, false) + Bytes{0, 0} + Latin1Text("Album") +
                           Frame(3, "TPE1", Latin1Text("Artist"))),
                &TagInfo::artist, "Artist"},
        TagCase{"AMalformedFrameKeepsTheOnesBefore",
                Tag(3, Frame(3, "TIT2", Latin1Text("Title")) + Str("TT2") + Bytes{0, 0, 6} + Latin1Text("Other")),
                &TagInfo::title, "Title"},
        TagCase{"SeveralGenresAreJoinedLikeSeveralArtists",
                Tag(4, Frame(4, "TCON", Latin1Text(std::string("Rock\0Pop", 8)))), &TagInfo::genre, "Rock / Pop"},
        TagCase{"SeveralArtists", Tag(4, Frame(4, "TPE1", Latin1Text(std::string("A\0B", 3)))), &TagInfo::artist,
                "A / B"},
        TagCase{"GenreReferencesOfVersion3", Tag(3, Frame(3, "TCON", Latin1Text("(17)(18)"))), &TagInfo::genre,
                "Rock / Techno"},
        TagCase{"AGenreReferenceAndItsName", Tag(3, Frame(3, "TCON", Latin1Text("(17)Rock"))), &TagInfo::genre,
                "Rock"},
        TagCase{"AGenreByNumber", Tag(4, Frame(4, "TCON", Latin1Text(std::string("16\0Dub", 6)))),
                &TagInfo::genre, "Reggae / Dub"},
        TagCase{"Version4SizesWrittenPlain",
                Tag(4, Frame(4, "TIT2", Latin1Text(std::string(200, 'x')), true) +
                           Frame(4, "TPE1", Latin1Text("After"), true)),
                &TagInfo::artist, "After"},
        TagCase{"UnsynchronisedVersion3Tag",
                // the sizes count the bytes before the zero after 0xff was put in
                Tag(3, Str("TIT2") + Size(4, false) + Bytes{0, 0} + Bytes{0, 'a', 0xff, 0, 'b'}, 0x80),
                &TagInfo::title, "a\xc3\xbf" "b"},
        TagCase{"Version2Tag",
                Bytes{'I', 'D', '3', 2, 0, 0, 0, 0, 0, 40} + Str("TT2") + Bytes{0, 0, 6} + Latin1Text("Short") +
                    Str("TP1") + Bytes{0, 0, 3} + Latin1Text("V2") + Bytes(40 - 21, 0),
                &TagInfo::artist, "V2"},
        TagCase{"YearOfVersion3", Tag(3, Frame(3, "TYER", Latin1Text("1999"))), &TagInfo::year, "1999"}),
    PrintCase);

TEST(TagReading, Id3v1WithTrackAndGenre)
{
    Bytes v1 = Str("TAG");
    v1.resize(128, 0);
    const std::string title = "Caf\xe9  ";  // Latin-1, padded with blanks
    std::copy(title.begin(), title.end(), v1.begin() + 3);
    v1[93] = '2', v1[94] = '0', v1[95] = '0', v1[96] = '1';
    v1[97] = 'c';
    v1[126] = 7;
    v1[127] = 17;
    const TagInfo info = Read(v1);
    EXPECT_EQ(info.title, "Caf\xc3\xa9");
    EXPECT_EQ(info.year, "2001");
    EXPECT_EQ(info.comment, "c");
    EXPECT_EQ(info.track, "7");
    EXPECT_EQ(info.genre, "Rock");
    EXPECT_EQ(info.source, "ID3v1");
}

TEST(TagReading, NoTagAndHostileSizesGiveNothing)
{
    TagInfo info;
    EXPECT_FALSE(ReadTag(Str("not a tag at all"), info));
    // a tag header that announces more than there is: the frames it holds
    Bytes cut = Tag(3, Frame(3, "TIT2", Latin1Text("Kept")));
    cut[6] = 0x7f;
    EXPECT_EQ(Read(cut).title, "Kept");
    // frames of every size and id in a short tag never read past it
    for (uint32_t size : {0u, 1u, 5u, 0x7fffffffu, 0xffffffffu}) {
        const Bytes tag = Tag(3, Str("TIT2") + Size(size, false) + Bytes{0, 0, 0, 'x'});
        TagInfo any;
        EXPECT_TRUE(ReadTag(tag, any));
    }
}

} // namespace
