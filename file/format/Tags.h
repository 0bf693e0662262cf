// SPDX-License-Identifier: GPL-2.0-or-later
// Tags that surround MPEG audio: their spans, so that a host never hands
// tag bytes to the decoder.
#ifndef VORLIX_FILE_TAGS_H
#define VORLIX_FILE_TAGS_H

#include <cstddef>
#include <cstdint>
#include <functional>

constexpr size_t id3v2HeaderSize = 10;
constexpr size_t apeHeaderSize = 32;

/** Whole size of the ID3v2 tag whose 10-byte header is at p (header, body
 *  and footer), or 0 when p holds no valid ID3v2 header. */
uint64_t Id3v2Size(const uint8_t *p);

/** Whole size of the APEv2 tag whose 32-byte header (not footer) is at p,
 *  or 0 when p holds none. */
uint64_t ApeSizeFromHeader(const uint8_t *p);

/** Size field of the APEv2 footer (not header) at p: the items and the
 *  footer, without any header; 0 when p holds none. */
uint32_t ApeFooterSize(const uint8_t *p);

/** Size of the APEv2 item (value size, flags, key, value) at p, or 0 when
 *  the n bytes there do not begin with one: how an APE tag without header
 *  is recognised where the audio ends. */
uint64_t ApeItemSize(const uint8_t *p, size_t n);

/** Reads n bytes at an offset of the input into out; false when it cannot. */
using ReadAt = std::function<bool(uint64_t offset, size_t n, uint8_t *out)>;

/** Where the audio ends, given that the input's last byte is at end - 1:
 *  before any ID3v1, APEv2 (with or without header), Lyrics3v2 and appended
 *  ID3v2 tags, in any order. A tag whose claimed start falls inside a frame
 *  of the stream before it (its bytes written over the frame's tail, or a
 *  size that counts more than the tag) does not cut that frame: the audio
 *  then ends after the frames that run on back to back. Never returns less
 *  than floor. */
uint64_t AudioEnd(const ReadAt &read, uint64_t end, uint64_t floor);

#endif
