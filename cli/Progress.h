// SPDX-License-Identifier: GPL-2.0-or-later
// vorlix-decode's progress line: position, total, speed and time left on
// standard error, when it is a terminal.
#ifndef VORLIX_CLI_PROGRESS_H
#define VORLIX_CLI_PROGRESS_H

#include <chrono>
#include <cstdint>

#include "Messages.h"

class Progress {
public:
    Progress(bool on, uint64_t total, int32_t rate, Messages &say);
    /** Shown at most five times a second and while the input's messages
     *  are live; the last one always, on a line of its own. */
    void Update(uint64_t done, bool last = false);

private:
    bool on_;
    uint64_t total_;
    int32_t rate_;
    Messages &say_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now(), shown_{};
};

#endif
