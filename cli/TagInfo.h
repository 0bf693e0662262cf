// SPDX-License-Identifier: GPL-2.0-or-later
// The tags a user sees in --info: read by the host with libid3tag, in full
// Unicode, from the leading ID3v2 tag, with ID3v1 at the end as fallback.
#ifndef VORLIX_CLI_TAGINFO_H
#define VORLIX_CLI_TAGINFO_H

#include <cstdint>
#include <string>
#include <vector>

struct TagInfo {
    // UTF-8; empty when absent. In the order --info prints them.
    std::string title, artist, album, year, track, genre, comment;
    std::string source;  // "ID3v2.3", "ID3v1", ... or "" without tags
};

/** Reads a whole ID3v2 or ID3v1 tag (the bytes of one tag) into info; false
 *  when libid3tag finds no tag there. Fields already set stay. */
bool ReadTag(const std::vector<uint8_t> &bytes, TagInfo &info);

class Input;
class HostDecoder;

/** The tags of an opened input: its leading ID3v2 tag, then ID3v1 at the end
 *  (seekable inputs) for what is missing. Moves the input's position. */
TagInfo ReadTags(Input &in, HostDecoder &decoder);

#endif
