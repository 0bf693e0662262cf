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

#endif
