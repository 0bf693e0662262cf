/* SPDX-License-Identifier: GPL-2.0-or-later */
/* A host with functions of its own under libvorlix's names, exported from
 * the program: the file library must decode all the same and never call
 * them. Writes the decode of argv[1] as little-endian samples to stdout. */
#include <stdint.h>
#include <stdio.h>

#include "vorlixfile.h"

static int ownCalls;

void Init(int32_t eqEnabled, const int8_t *bandSettings)
{
    (void)eqEnabled;
    (void)bandSettings;
    ++ownCalls;
}

void Exit(void) { ++ownCalls; }
void SeekStart(void) { ++ownCalls; }
void SeekEnd(void) { ++ownCalls; }

int main(int argc, char **argv)
{
    if (argc != 2)
        return 2;
    int error = 0;
    VorlixFile *f = vf_open_file(argv[1], &error);
    if (f == NULL) {
        fprintf(stderr, "%s: %s\n", argv[1], vf_strerror(error));
        return 1;
    }
    int16_t pcm[4096 * 2];
    unsigned char bytes[4096 * 2 * 2];
    int n;
    while ((n = vf_read(f, pcm, 4096)) > 0) {
        const int values = n * vf_channels(f);
        for (int i = 0; i < values; ++i) {
            bytes[2 * i] = (unsigned char)((uint16_t)pcm[i] & 0xff);
            bytes[2 * i + 1] = (unsigned char)((uint16_t)pcm[i] >> 8);
        }
        fwrite(bytes, 2, (size_t)values, stdout);
    }
    vf_free(f);
    if (ownCalls != 0) {
        fprintf(stderr, "the host's own functions were called %d times\n", ownCalls);
        return 3;
    }
    return n < 0 ? 1 : 0;
}
