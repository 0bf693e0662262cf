// SPDX-License-Identifier: GPL-2.0-or-later
// Seeking, the position and the length of a handle's output, and the scan
// of an input that cannot seek.
#include "vorlixfile.h"

#include <cstdint>
#include <new>

#include "Handle.h"
#include "HostDecoder.h"
#include "Input.h"
#include "StreamFacts.h"
#include "format/Timeline.h"

extern "C" {

VORLIXFILE_API int vf_seek(VorlixFile *f, int64_t sample)
try {
    if (f == nullptr || sample < 0)
        return VF_EINVAL;
    if (const int r = StartDecoding(f); r < 0)
        return r;
    if (!f->in->Seekable() || f->index.Frames() == 0)
        return VF_ENOSEEK;
    const int64_t length = vf_length(f);
    if (length >= 0 && sample > length)
        return VF_EBADPOS;
    const uint64_t target = f->trim.start + static_cast<uint64_t>(sample);
    if (!f->decoder.SeekToFrame(f->index, f->clock.FrameAt(target)))
        return VF_EREAD;
    f->timeline = Timeline(target, UINT64_MAX, f->trim.end, f->decoder.Channels());
    f->ready.clear();
    f->readyFrom = 0;
    f->ended = false;
    f->error = 0;
    f->position = sample;
    return 0;
} catch (const std::bad_alloc &) {
    return VF_EFAULT;
}

VORLIXFILE_API int64_t vf_tell(VorlixFile *f)
{
    return f != nullptr ? f->position : int64_t{VF_EINVAL};
}

VORLIXFILE_API int64_t vf_length(VorlixFile *f)
try {
    if (f == nullptr)
        return VF_EINVAL;
    if (Describe(f) != 0)
        return -1;
    return Length(f, vf_rate(f));
} catch (const std::bad_alloc &) {
    return VF_EFAULT;
}

VORLIXFILE_API int vf_scan_stream(VorlixFile *f)
try {
    if (f == nullptr)
        return VF_EINVAL;
    if (const int r = Describe(f); r < 0)
        return r;
    if (f->started)
        return VF_ELATE;
    if (!f->in->Seekable() && !f->facts.scanned) {
        f->decoder.Scan(f->index);
        f->started = true;  // the stream is read: only describing is left
        f->ended = true;
        // a count cut short by a failed read is no length
        if (f->in->Failed())
            return f->error = VF_EREAD;
        f->facts = ::Describe(f->decoder, &f->index, f->gapless);
    }
    return 0;
} catch (const std::bad_alloc &) {
    return VF_EFAULT;
}

} // extern "C"
