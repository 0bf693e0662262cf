// SPDX-License-Identifier: GPL-2.0-or-later
// What vorlix-decode --info and --json print of an input: its format,
// length, encoder, gapless trims and tags, as lines of text or one JSON
// object.
#ifndef VORLIX_CLI_INFO_H
#define VORLIX_CLI_INFO_H

#include <string>

#include "vorlixfile.h"

/** The fields --info shows, from the handle's tags. */
struct TagInfo {
    std::string title, artist, album, year, track, genre, comment;
};

TagInfo Tags(VorlixFile *f);

/** The description of a stream, name as given. */
std::string InfoText(const std::string &name, const VorlixFileInfo &info, const TagInfo &tags, bool json);

/** The description of an input of tags without audio. */
std::string NoAudioText(const std::string &name, const TagInfo &tags, bool json);

#endif
