// SPDX-License-Identifier: GPL-2.0-or-later
// The tag fields a user sees, from the bytes of one ID3v2 or ID3v1 tag.
#ifndef VORLIX_FILE_TAGFIELDS_H
#define VORLIX_FILE_TAGFIELDS_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct TagInfo {
    // UTF-8; empty when absent. In the order --info prints them.
    std::string title, artist, album, year, track, genre, comment;
    std::string source;  // "ID3v2.3", "ID3v1", ... or "" without tags
    // more of ID3v2: ALBUMARTIST, DISCNUMBER, COMPOSER and the TXXX frames
    // (their descriptions upper-cased, e.g. REPLAYGAIN_TRACK_GAIN; those of
    // MusicBrainz Picard under the keys players use, MUSICBRAINZ_ALBUMID and
    // the like), the MusicBrainz recording id of a UFID frame as MUSICBRAINZ_TRACKID
    std::vector<std::pair<std::string, std::string>> extra;
    // the front cover, or else the first picture
    std::string pictureMime;
    std::vector<uint8_t> picture;
    bool pictureFront = false;
    std::string itunesSmpb;  // iTunes' gapless comment (COMM "iTunSMPB"), as written
};

/** Reads a whole ID3v2 or ID3v1 tag (the bytes of one tag) into info; false
 *  when the bytes hold no tag. Fields already set stay. Values of a frame
 *  are joined by " / "; the comment is the user's (a COMM frame without
 *  description, or else the only described one but iTunes'); the year is a
 *  date, YYYY-MM-DD, where v2.3's year and day-month frames give one. */
bool ReadTag(const std::vector<uint8_t> &bytes, TagInfo &info);

/** Reads the items of an APEv2 tag (the bytes after its header, up to and
 *  including its 32-byte footer) into info: Title, Artist, Album, Year,
 *  Track, Genre, Comment to their fields, the others (Album Artist, Disc,
 *  REPLAYGAIN_..., ...) to extra under upper-case names, the front cover to
 *  the picture. Fields already set stay. false when there is no footer. */
bool ReadApeTag(const std::vector<uint8_t> &bytes, TagInfo &info);

#endif
