/* SPDX-License-Identifier: GPL-2.0-or-later */
/* A minimal Vorlix host: probes an MP3 file, decodes it through the calling
 * protocol and writes raw 16-bit PCM.  Usage: host INPUT.mp3 OUTPUT.pcm
 *
 * The probe reads the leading ID3v2 tag (title, artist, album); decoding does
 * not skip tags, so the host starts it after them: a picture in a tag can hold
 * bytes that pass for MP3 frames. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <vorlix.h>

#define CHUNK 65536

static uint8_t buffer[CHUNK * 4];
static uint8_t pcm[VORLIX_MAX_OUTPUT_BYTES];

/* Bytes of the ID3v2 tags at the start of the file (several may follow one
 * another): each is 10 header bytes, a 28-bit size in 7-bit bytes, and a
 * 10-byte footer when flag 0x10 of a version 4 tag says so. */
static long LeadingTags(FILE *in)
{
    long start = 0;
    uint8_t h[10];
    while (fseek(in, start, SEEK_SET) == 0 && fread(h, 1, 10, in) == 10 && memcmp(h, "ID3", 3) == 0 &&
           !((h[6] | h[7] | h[8] | h[9]) & 0x80)) {
        long size = ((long)h[6] << 21) | (h[7] << 14) | (h[8] << 7) | h[9];
        start += 10 + size + (h[3] == 4 && (h[5] & 0x10) ? 10 : 0);
    }
    return start;
}

/* Appends up to `most` (at most CHUNK) bytes after the `kept` bytes at the
 * front of buffer; after the end of the file, 8 zero bytes once so that the
 * last frame decodes. */
static size_t Fill(FILE *in, size_t kept, size_t most, int *padded)
{
    size_t room = sizeof buffer - kept < CHUNK ? sizeof buffer - kept : CHUNK;
    size_t got = fread(buffer + kept, 1, room < most ? room : most, in);
    if (got == 0 && !*padded && kept + 8 <= sizeof buffer) {
        memset(buffer + kept, 0, 8);
        got = 8;
        *padded = 1;
    }
    return kept + got;
}

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: %s INPUT.mp3 OUTPUT.pcm\n", argv[0]);
        return 1;
    }
    FILE *in = fopen(argv[1], "rb"), *out = fopen(argv[2], "wb");
    if (!in || !out) {
        perror("open");
        return 1;
    }

    /* 1. Probe from the first byte, so that it reads the tag: after
     *    NeedMoreData the next bytes, after a count n the last n bytes of this
     *    buffer followed by more. Once the tags are through, the next buffer
     *    starts at the audio: a picture can hold bytes that stop the probe.
     *    In the audio, NeedMoreData means that the first frame wants the
     *    bytes after it (a file of one frame, say), or that it failed the
     *    probe although a decode would go on: its main data lies in frames
     *    before it (a file cut in the middle of a song) or its CRC is wrong.
     *    So the buffer grows while it can, then the probe moves on to the
     *    next sync word: the next frame, whose main data libmad has kept. */
    const long audio = LeadingTags(in);
    rewind(in);
    long at = 0; /* file offset of the next byte read */
    int32_t rate = 0, channels = 0, bitRate = 0, r;
    uint16_t title[VORLIX_TEXT_UNITS] = {0}, artist[VORLIX_TEXT_UNITS] = {0}, album[VORLIX_TEXT_UNITS] = {0};
    size_t length = 0;
    int padded = 0, onward = 0;
    for (;;) {
        const long before = at;
        size_t filled = Fill(in, length, at < audio ? (size_t)(audio - at) : CHUNK, &padded);
        at += (long)(filled - length);
        if (filled == 0 || (filled == length && !onward)) {
            fprintf(stderr, "no MPEG audio found\n");
            return 2;
        }
        r = GetHeaderInfo(buffer, (int32_t)filled, &rate, &channels, &bitRate, title, artist, album);
        if (r == 0)
            break;
        onward = 0;
        if (before < audio)
            length = r == NeedMoreData || at == audio ? 0 : (size_t)r; /* tags */
        else if (r != NeedMoreData)
            length = (size_t)r;
        else if (!padded && filled < sizeof buffer)
            length = filled; /* the same bytes, and more */
        else {
            size_t next = 1; /* on past the first frame: to the next sync word */
            while (next + 1 < filled && !(buffer[next] == 0xff && (buffer[next + 1] & 0xe0) == 0xe0))
                ++next;
            length = filled - next;
            onward = 1;
        }
        memmove(buffer, buffer + filled - length, length);
    }
    fprintf(stderr, "%d Hz, %d channel(s), %d bit/s\n", rate, channels, bitRate);

    /* 2. Open, equalizer off. */
    Init(0, NULL);

    /* 3. Decode from the first frame after the tags, one frame per call. */
    if (fseek(in, audio, SEEK_SET) != 0) {
        perror("seek");
        return 1;
    }
    padded = 0;
    length = 0;
    uint32_t base = 0; /* stream position of buffer[0] */
    for (;;) {
        size_t filled = Fill(in, length, CHUNK, &padded);
        if (filled == length)
            break; /* nothing new: the end */
        int32_t bytes = 0, position = (int32_t)base;
        r = DecompressAudio(buffer, (int32_t)filled, pcm, 0, &bytes, &position);
        while (r == 0) { /* bytes is 0 when a damaged frame was dropped */
            fwrite(pcm, 1, (size_t)bytes, out);
            r = DecompressAudio(NULL, (int32_t)filled, pcm, 0, &bytes, &position);
        }
        /* NeedMoreData or a count: keep what lies from the reported position on */
        size_t used = (uint32_t)position - base;
        length = filled - used;
        memmove(buffer, buffer + used, length);
        base = (uint32_t)position;
    }

    /* 5. Close. */
    Exit();
    fclose(in);
    return fclose(out) == 0 ? 0 : 1;
}
