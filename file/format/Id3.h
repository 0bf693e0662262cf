// SPDX-License-Identifier: GPL-2.0-or-later
// ID3 tags read tolerantly, as taggers write them rather than as the
// standard has them: the frames of an ID3v2 tag (v2.2, v2.3, v2.4) and the
// fields of an ID3v1 tag, with their text in UTF-8. A malformed frame costs
// that frame only; UTF-16 without a byte-order mark is read in the byte order
// its content shows.
#ifndef VORLIX_FILE_ID3_H
#define VORLIX_FILE_ID3_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct Id3Frame {
    std::string id;             // four characters; v2.2 ids as their v2.3 names
    std::vector<uint8_t> data;  // the frame's body, unsynchronisation undone
};

struct Id3v2Tag {
    int version = 0;  // 2, 3 or 4; 0 when the bytes hold no tag
    int frameVersion = 0;  // how its frames are laid out: 2 (three-letter ids) even under a later header
    std::vector<Id3Frame> frames;

    /** The first frame with this id, or null. */
    const Id3Frame *Find(const char *id) const;
};

/** Reads the ID3v2 tag at p (n bytes, header included). */
Id3v2Tag ParseId3v2(const uint8_t *p, size_t n);

/** The strings of encoded text (encoding byte 0 Latin-1, 1 UTF-16 with or
 *  without byte-order mark, 2 UTF-16BE, 3 UTF-8) as UTF-8, split at their
 *  terminators; an empty last string is dropped. */
std::vector<std::string> DecodeText(uint8_t encoding, const uint8_t *p, size_t n);

/** The values of a text frame (T... but TXXX). */
std::vector<std::string> TextValues(const Id3Frame &frame);

struct Id3Comment {
    std::string language;  // three letters, as written
    std::string description, text;
};
/** A COMM frame's fields; false when it is too short to hold them. TXXX
 *  (description and value) reads the same way, without the language. */
bool ParseComment(const Id3Frame &frame, Id3Comment &comment);

struct Id3v1Tag {
    std::string title, artist, album, year, comment;  // UTF-8 from Latin-1, trailing blanks cut
    int track = 0;    // 0: none (ID3v1.1 only)
    int genre = 255;  // index into the genre list; 255: none
};
/** Reads the 128-byte ID3v1 tag at p; false when p holds none. */
bool ParseId3v1(const uint8_t *p, size_t n, Id3v1Tag &tag);

#endif
