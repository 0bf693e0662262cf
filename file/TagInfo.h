// SPDX-License-Identifier: GPL-2.0-or-later
// The tags a user sees in --info and in the player: read by the host in full
// Unicode and tolerantly (format/Id3.h), from the leading ID3v2 tag, with
// ID3v1 at the end as fallback.
#ifndef VORLIX_FILE_TAGINFO_H
#define VORLIX_FILE_TAGINFO_H

#include "format/TagFields.h"

class Input;
class HostDecoder;

/** The tags of an opened input: its leading ID3v2 tag, then ID3v1 at the end
 *  (seekable inputs) for what is missing. Moves the input's position. */
TagInfo ReadTags(Input &in, HostDecoder &decoder);

#endif
