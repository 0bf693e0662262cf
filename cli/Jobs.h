// SPDX-License-Identifier: GPL-2.0-or-later
// vorlix-decode's inputs, one after another or several at once (--jobs):
// each on a handle of its own, with the outputs, messages and exit status
// of one at a time.
#ifndef VORLIX_CLI_JOBS_H
#define VORLIX_CLI_JOBS_H

#include "Options.h"

/** Decodes (or describes) every input; the highest exit status of any. */
int DecodeAll(const Options &o);

#endif
