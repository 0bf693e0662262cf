// SPDX-License-Identifier: GPL-2.0-or-later
#include "probe/TagCollect.h"

#include <id3tag.h>

#include "core/DecoderState.h"
#include "platform/Platform.h"
#include "vorlix.h"

void CopyTagText(const id3_tag *tag, uint16_t *title, uint16_t *artist, uint16_t *album)
{
    static const char *const ids[3] = {"TIT2", "TPE1", "TALB"};
    uint16_t *const buffers[3] = {title, artist, album};

    for (int i = 0; i < 3; ++i) {
        const id3_frame *frame = id3_tag_findframe(tag, ids[i], 0);
        if (frame == nullptr)
            continue;
        const id3_field *field = id3_frame_field(frame, 1);
        const unsigned int n = field ? id3_field_getnstrings(field) : 0;
        // each string overwrites the one before: the last one that converts stays
        for (unsigned int j = 0; j < n; ++j) {
            const id3_ucs4_t *text = id3_field_getstrings(field, j);
            id3_latin1_t *latin1 = text ? id3_ucs4_latin1duplicate(text) : nullptr;
            if (latin1 == nullptr)
                continue;
            PlatformTextToWide(reinterpret_cast<const char *>(latin1), buffers[i],
                               VORLIX_TEXT_UNITS);
            PlatformFree(latin1);
        }
    }
}

TagStep CollectTag(uint16_t *title, uint16_t *artist, uint16_t *album)
{
    const uint8_t *at = state.stream.this_frame;
    const int32_t avail = static_cast<int32_t>(state.stream.bufend - at);

    if (state.tagSize == 0) {
        const long size = id3_tag_query(at, static_cast<id3_length_t>(avail));
        state.tagSize = static_cast<int32_t>(size);
        state.tagOutstanding = state.tagSize;
    }
    if (state.tagOutstanding <= 0)
        return TagStep::Continue;

    const int32_t filled = state.tagSize - state.tagOutstanding;
    if (state.tagOutstanding > avail) {
        // the tag runs past this buffer: gather it piece by piece
        if (state.tagBuffer == nullptr) {
            state.tagBuffer = static_cast<uint8_t *>(PlatformAlloc(static_cast<size_t>(state.tagSize)));
            if (state.tagBuffer == nullptr) {
                state.tagOutstanding = 0;  // no room for it: give the tag up
                return TagStep::Continue;
            }
        }
        PlatformCopy(state.tagBuffer + filled, at, static_cast<size_t>(avail));
        state.tagOutstanding -= avail;
        return TagStep::NeedMoreData;
    }

    if (state.tagBuffer != nullptr)
        PlatformCopy(state.tagBuffer + filled, at, static_cast<size_t>(state.tagOutstanding));
    state.tagOutstanding = 0;

    const uint8_t *bytes = state.tagBuffer != nullptr ? state.tagBuffer : at;
    id3_tag *tag = id3_tag_parse(bytes, static_cast<id3_length_t>(state.tagSize));
    PlatformFree(state.tagBuffer);
    state.tagBuffer = nullptr;
    if (tag != nullptr) {
        CopyTagText(tag, title, artist, album);
        id3_tag_delete(tag);
    }
    return TagStep::Continue;
}
