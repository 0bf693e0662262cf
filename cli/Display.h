// SPDX-License-Identifier: GPL-2.0-or-later
// Text from files (tags, file names) on its way to a person or to JSON: a
// title may hold terminal controls, a file name any bytes.
#ifndef VORLIX_CLI_DISPLAY_H
#define VORLIX_CLI_DISPLAY_H

#include <cstdint>
#include <string>

/** The text with every C0 and C1 control character, DEL and byte that is not
 *  UTF-8 replaced by U+FFFD, so that it cannot steer a terminal. */
std::string Printable(const std::string &text);

/** A JSON string of the text, quotes included: controls (C0, DEL, C1)
 *  escaped, and each byte that is not UTF-8 escaped as the character of its
 *  value, so that the result is valid UTF-8 whatever the input. */
std::string JsonString(const std::string &text);

/** H:MM:SS.mmm from an hour on, M:SS.mmm below. */
std::string Clock(uint64_t samples, int32_t rate);

/** Terminal columns that Printable text takes: two for wide characters
 *  (CJK, Hangul, full-width forms), none for combining marks. */
size_t Columns(const std::string &printable);

/** Printable text cut to at most `columns` columns: where it is longer, its
 *  start and an ellipsis ("…") at the end. */
std::string Fit(const std::string &printable, size_t columns);

/** The last part of a path: a file's name without its folders. */
std::string BaseName(const std::string &path);

/** Why an input cannot be decoded, for a message: "cannot open NAME: why"
 *  (from the open's errno), "read error in NAME", "no MPEG audio frames
 *  found in NAME", or the library's text. NAME as given (quoted). */
std::string InputFailure(const std::string &name, int code, int openErrno);

/** The system's text for an errno value, as strerror's (safe in threads). */
std::string SystemError(int errnum);

#endif
