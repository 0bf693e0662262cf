// SPDX-License-Identifier: GPL-2.0-or-later
#include "Progress.h"

#include <cstdio>
#include <unistd.h>

#include "Display.h"

Progress::Progress(bool on, uint64_t total, int32_t rate, Messages &say)
    : on_(on && isatty(STDERR_FILENO)), total_(total), rate_(rate), say_(say)
{
}

void Progress::Update(uint64_t done, bool last)
{
    if (!on_ || (!last && !say_.Live()))
        return;
    const auto now = std::chrono::steady_clock::now();
    if (!last && now - shown_ < std::chrono::milliseconds(200))
        return;
    shown_ = now;
    const double wall = std::chrono::duration<double>(now - start_).count();
    const double speed = wall > 0 ? static_cast<double>(done) / rate_ / wall : 0;
    char left[32] = "";
    if (total_ > 0 && speed > 0 && done < total_)
        std::snprintf(left, sizeof left, "  %.0f s left", static_cast<double>(total_ - done) / rate_ / speed);
    std::string line = Printf("\r%s%s%s  %.1fx%s   ", Clock(done, rate_).c_str(), total_ > 0 ? " / " : "",
                              total_ > 0 ? Clock(total_, rate_).c_str() : "", speed, left);
    if (last)
        line += '\n';
    say_.Err(line);
}
