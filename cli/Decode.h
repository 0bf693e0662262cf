// SPDX-License-Identifier: GPL-2.0-or-later
// vorlix-decode's work on one input: open it on a handle of its own,
// describe it (--info) or decode it to its output.
#ifndef VORLIX_CLI_DECODE_H
#define VORLIX_CLI_DECODE_H

#include <string>
#include <vector>

#include "Messages.h"
#include "Options.h"

/** Decodes one input, or describes it with --info; its exit status, its
 *  messages through say. written: the outputs of the earlier inputs that
 *  succeeded, which are not overwritten. */
int DecodeInput(const Options &o, const std::string &name, const std::vector<std::string> &written, Messages &say);

#endif
