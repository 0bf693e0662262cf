// SPDX-License-Identifier: GPL-2.0-or-later
// The records of the public header that grow (VorlixFileInfo,
// VorlixFileReplayGain, VorlixFileCallbacks): each begins with the size the
// host was built with. The host's record may be shorter or longer than the
// library's, so it is only ever touched through bytes, as far as both reach.
#ifndef VORLIX_FILE_SIZEDRECORD_H
#define VORLIX_FILE_SIZEDRECORD_H

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "vorlixfile.h"

// The sizes of the records of version 2.0, the first with a size field: no
// host can have a shorter one. Later fields go into the reserved room or
// after it, so the end of the reserved room stays where 2.0 had it.
constexpr size_t firstInfoSize = offsetof(VorlixFileInfo, reserved) + sizeof VorlixFileInfo::reserved;
constexpr size_t firstGainSize = offsetof(VorlixFileReplayGain, reserved) + sizeof VorlixFileReplayGain::reserved;
constexpr size_t firstCallbacksSize = offsetof(VorlixFileCallbacks, close) + sizeof VorlixFileCallbacks::close;

// The size field of the host's record.
inline size_t HostSize(const void *record)
{
    size_t size;
    std::memcpy(&size, record, sizeof size);
    return size;
}

// Whether a record the host hands over has a size this library accepts.
inline bool SizeAccepted(const void *record, size_t first)
{
    return HostSize(record) >= first;
}

// Copies the library's record `full` into the host's, as far as both reach,
// and sets the host's size to that many bytes. The caller has checked the
// host's size (SizeAccepted).
template <typename Record>
void CopyOut(void *host, Record full)
{
    full.size = std::min(HostSize(host), sizeof full);
    std::memcpy(host, &full, full.size);
}

// The host's record read into one of the library's: the fields past the
// host's size stay zero (NULL), those past the library's are not read.
template <typename Record>
Record CopyIn(const void *host)
{
    Record record{};
    std::memcpy(&record, host, std::min(HostSize(host), sizeof record));
    record.size = sizeof record;
    return record;
}

#endif
