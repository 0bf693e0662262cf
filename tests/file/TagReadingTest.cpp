// SPDX-License-Identifier: GPL-2.0-or-later
// Tags as taggers write them: iTunes' comments beside the user's, UTF-16
// without byte-order marks, malformed frames among good ones, several values
// in one frame, v2.4 sizes written plain, unsynchronisation, v2.2 and v1.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "format/TagFields.h"
#include "TestSupport.h"
#include "cli/HostSupport.h"
#include "format/Id3.h"
#include "vorlixfile.h"

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

// A v2.2 frame: three-letter id, 3-byte size.
Bytes Frame22(const std::string &id, const Bytes &body)
{
    const auto n = static_cast<uint32_t>(body.size());
    return Str(id) + Bytes{static_cast<uint8_t>(n >> 16), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)} +
           body;
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
        TagCase{"YearOfVersion3", Tag(3, Frame(3, "TYER", Latin1Text("1999"))), &TagInfo::year, "1999"},
        TagCase{"Version3HeaderOverVersion2Frames",
                Tag(3, Frame22("TT2", Latin1Text("Title")) + Frame22("TP1", Latin1Text("Artist"))),
                &TagInfo::artist, "Artist"},
        TagCase{"Version3HeaderOverAVersion2Comment",
                Tag(3, Frame22("TT2", Latin1Text("Title")) + Frame22("COM", Comment("eng", "", "Said"))),
                &TagInfo::comment, "Said"},
        TagCase{"ASizeRunningIntoThePaddingLosesThatFrameOnly",
                // 300 written syncsafe (2, 44), read plain: 556, past the
                // title into the padding
                Tag(3, Str("COMM") + Bytes{0, 0, 2, 44, 0, 0} + Comment("eng", "", std::string(295, 'c')) +
                           Frame(3, "TIT2", Latin1Text("Title After")) + Bytes(600, 0)),
                &TagInfo::title, "Title After"},
        TagCase{"ASizeRunningIntoALaterFrameLosesThatFrameOnly",
                Tag(3, Str("TPE1") + Size(30, false) + Bytes{0, 0} + Latin1Text("Artist") +
                           Frame(3, "TIT2", Latin1Text("Title After")) +
                           Frame(3, "TALB", Latin1Text("An album name long enough"))),
                &TagInfo::title, "Title After"},
        TagCase{"YearAndDayMonthOfVersion3",
                Tag(3, Frame(3, "TYER", Latin1Text("1999")) + Frame(3, "TDAT", Latin1Text("3112"))),
                &TagInfo::year, "1999-12-31"},
        TagCase{"YearAndDayMonthOfVersion2",
                Bytes{'I', 'D', '3', 2, 0, 0, 0, 0, 0, 40} + Frame22("TYE", Latin1Text("2004")) +
                    Frame22("TDA", Latin1Text("0207")) + Bytes(40 - 21, 0),
                &TagInfo::year, "2004-07-02"},
        TagCase{"ADayMonthThatIsNoneLeavesTheYear",
                Tag(3, Frame(3, "TYER", Latin1Text("1999")) + Frame(3, "TDAT", Latin1Text("3213"))),
                &TagInfo::year, "1999"},
        TagCase{"TheOnlyCommentHasADescription", Tag(3, Frame(3, "COMM", Comment("eng", "Comment", "Described"))),
                &TagInfo::comment, "Described"},
        TagCase{"TheOnlyDescribedCommentBesideItunesOnes",
                Tag(3, Frame(3, "COMM", Comment("eng", "iTunNORM", " 0000031E 00000325")) +
                           Frame(3, "COMM", Comment("eng", "Songs-DB", "Described"))),
                &TagInfo::comment, "Described"}),
    PrintCase);

struct ExtraCase {
    const char *name;
    Bytes tag;
    std::string key, value;
};

void PrintTo(const ExtraCase &c, std::ostream *os)
{
    *os << c.name;
}

class ExtraTagReading : public ::testing::TestWithParam<ExtraCase> {};

TEST_P(ExtraTagReading, GivesTheKeyPlayersUse)
{
    const TagInfo info = Read(GetParam().tag);
    std::string value = "(none)";
    for (const auto &[k, v] : info.extra)
        if (k == GetParam().key)
            value = v;
    EXPECT_EQ(value, GetParam().value);
}

Bytes Txxx(const std::string &description, const std::string &value)
{
    return Frame(4, "TXXX", Bytes{3} + Str(description) + Bytes{0} + Str(value));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExtraTagReading,
    ::testing::Values(
        ExtraCase{"MusicBrainzAlbumId", Tag(4, Txxx("MusicBrainz Album Id", "a1")), "MUSICBRAINZ_ALBUMID", "a1"},
        ExtraCase{"MusicBrainzReleaseGroupId", Tag(4, Txxx("MusicBrainz Release Group Id", "g1")),
                  "MUSICBRAINZ_RELEASEGROUPID", "g1"},
        ExtraCase{"MusicBrainzAlbumType", Tag(4, Txxx("MusicBrainz Album Type", "album")), "RELEASETYPE", "album"},
        ExtraCase{"AcoustidId", Tag(4, Txxx("Acoustid Id", "c1")), "ACOUSTID_ID", "c1"},
        ExtraCase{"OtherDescriptionsUpperCased", Tag(4, Txxx("replaygain_track_gain", "-6.1 dB")),
                  "REPLAYGAIN_TRACK_GAIN", "-6.1 dB"},
        ExtraCase{"MusicBrainzRecordingIdInUfid",
                  Tag(4, Frame(4, "UFID", Str("http://musicbrainz.org") + Bytes{0} + Str("r1"))),
                  "MUSICBRAINZ_TRACKID", "r1"},
        ExtraCase{"AnotherOwnersUfidIsNotMusicBrainzs",
                  Tag(4, Frame(4, "UFID", Str("http://example.org") + Bytes{0} + Str("x1"))), "MUSICBRAINZ_TRACKID",
                  "(none)"}),
    [](const ::testing::TestParamInfo<ExtraCase> &info) { return std::string(info.param.name); });

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

// Tagged files (made by the fixture script with mutagen or laid out as the
// writers named lay them out), through the library and vorlix-decode --info.
struct ShownCase {
    const char *name, *fixture, *key, *value, *infoLine;  // infoLine null: not one --info shows
};

void PrintTo(const ShownCase &c, std::ostream *os)
{
    *os << c.name;
}

class TagsShown : public HostFixture, public ::testing::WithParamInterface<ShownCase> {};

TEST_P(TagsShown, ByTheLibraryAndVorlixDecode)
{
    const ShownCase &c = GetParam();
    const std::string path = std::string(VORLIX_TEST_DATA) + "/" + c.fixture;
    const std::unique_ptr<VorlixFile, decltype(&vf_free)> f(vf_open_file(path.c_str(), nullptr), vf_free);
    ASSERT_NE(f, nullptr);
    const char *value = vf_tag(f.get(), c.key);
    EXPECT_STREQ(value != nullptr ? value : "(none)", c.value);
    if (c.infoLine == nullptr)
        return;
    ASSERT_EQ(Shell(std::string(VORLIX_DECODE) + " --info " + path + " > " + dir + "/info.txt"), 0);
    const Bytes info = ReadFile(dir + "/info.txt");
    const std::string text(info.begin(), info.end());
    EXPECT_NE(text.find(std::string("\n") + c.infoLine + "\n"), std::string::npos) << text;
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, TagsShown,
    ::testing::Values(
        ShownCase{"V22FramesUnderV23Header", "tag-v23-with-v22-frames.mp3", "ARTIST", "Artist 22",
                  "Artist:   Artist 22"},
        ShownCase{"V22AlbumUnderV23Header", "tag-v23-with-v22-frames.mp3", "ALBUM", "Album 22", "Album:    Album 22"},
        ShownCase{"V22CommentUnderV23Header", "tag-v23-with-v22-frames.mp3", "COMMENT", "Comment 22",
                  "Comment:  Comment 22"},
        ShownCase{"V22DateUnderV23Header", "tag-v23-with-v22-frames.mp3", "DATE", "2007-03-15",
                  "Year:     2007-03-15"},
        ShownCase{"TitleAfterABrokenFrameSize", "tag-broken-frame-size.mp3", "TITLE", "Title After",
                  "Title:    Title After"},
        ShownCase{"BrokenFrameSizeLosesItsFrame", "tag-broken-frame-size.mp3", "COMMENT", "(none)", nullptr},
        ShownCase{"YearAndDayMonth", "tag-date-comment.mp3", "DATE", "2019-11-03", "Year:     2019-11-03"},
        ShownCase{"DescribedCommentBeforeId3v1s", "tag-date-comment.mp3", "COMMENT",
                  "A comment longer than ID3v1 holds", "Comment:  A comment longer than ID3v1 holds"},
        ShownCase{"MusicBrainzAlbumId", "tag-musicbrainz.mp3", "MUSICBRAINZ_ALBUMID",
                  "00000000-0000-4000-8000-000000000000", nullptr},
        ShownCase{"MusicBrainzArtistId", "tag-musicbrainz.mp3", "MUSICBRAINZ_ARTISTID",
                  "00000000-0000-4000-8000-000000000001", nullptr},
        ShownCase{"MusicBrainzAlbumArtistId", "tag-musicbrainz.mp3", "MUSICBRAINZ_ALBUMARTISTID",
                  "00000000-0000-4000-8000-000000000002", nullptr},
        ShownCase{"MusicBrainzReleaseGroupId", "tag-musicbrainz.mp3", "MUSICBRAINZ_RELEASEGROUPID",
                  "00000000-0000-4000-8000-000000000003", nullptr},
        ShownCase{"MusicBrainzReleaseTrackId", "tag-musicbrainz.mp3", "MUSICBRAINZ_RELEASETRACKID",
                  "00000000-0000-4000-8000-000000000004", nullptr},
        ShownCase{"MusicBrainzWorkId", "tag-musicbrainz.mp3", "MUSICBRAINZ_WORKID",
                  "00000000-0000-4000-8000-000000000005", nullptr},
        ShownCase{"MusicBrainzTrackIdFromUfid", "tag-musicbrainz.mp3", "MUSICBRAINZ_TRACKID",
                  "00000000-0000-4000-8000-000000000099", nullptr},
        ShownCase{"ApeTagWhoseSizeCountsItsHeader", "lastframe-ape.mp3", "TITLE", "Ape Title",
                  "Title:    Ape Title"}),
    [](const ::testing::TestParamInfo<ShownCase> &info) { return std::string(info.param.name); });

} // namespace
