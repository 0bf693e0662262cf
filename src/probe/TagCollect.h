// SPDX-License-Identifier: GPL-2.0-or-later
#ifndef VORLIX_TAGCOLLECT_H
#define VORLIX_TAGCOLLECT_H

#include <cstdint>

struct id3_tag;

/** Outcome of the tag step at a lost-sync point of the probe. */
enum class TagStep { Continue, NeedMoreData };

/** Looks for an ID3 tag at the probe's lost-sync point (stream.this_frame),
 *  gathers it across buffers when it runs past this one, and copies its text
 *  once it is whole. Leaves libmad's stream as it is. */
TagStep CollectTag(uint16_t *title, uint16_t *artist, uint16_t *album);

/** Writes the last string of the tag's TIT2, TPE1 and TALB frames into the
 *  three buffers of 200 units; a missing frame leaves its buffer alone. */
void CopyTagText(const id3_tag *tag, uint16_t *title, uint16_t *artist, uint16_t *album);

#endif
