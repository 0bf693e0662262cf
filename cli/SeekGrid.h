// SPDX-License-Identifier: GPL-2.0-or-later
// The player's seek positions: whole 40 ms steps, a position every supported
// rate holds as a whole sample.
#ifndef VORLIX_CLI_SEEKGRID_H
#define VORLIX_CLI_SEEKGRID_H

#include <algorithm>
#include <cstdint>

/** The step of 40 ms nearest to a position (samples per channel at rate),
 *  halves up; never below 0. */
inline uint64_t OnGrid(int64_t samples, int32_t rate)
{
    const int64_t step = rate / 25;
    return static_cast<uint64_t>(std::max<int64_t>(0, (samples + step / 2) / step * step));
}

#endif
