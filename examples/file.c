/* SPDX-License-Identifier: GPL-2.0-or-later */
/* A libvorlixfile host: file INPUT [START] describes INPUT on standard
 * error, seeks to sample START when given, and writes raw little-endian
 * 16-bit PCM to standard output. */
#include <stdio.h>
#include <stdlib.h>
#include <vorlixfile.h>

int main(int argc, char **argv)
{
    int error, n;
    VorlixFile *f = argc >= 2 ? vf_open_file(argv[1], &error) : NULL;
    VorlixFileInfo info = VF_INFO_INIT;
    if (f == NULL || vf_info(f, &info) != 0) {
        fprintf(stderr, "%s\n", argc < 2 ? "usage: file INPUT [START]" : vf_strerror(f ? VF_ENOTAUDIO : error));
        return 2;
    }
    fprintf(stderr, "%d Hz, %d channel(s), %lld samples, %s\n", vf_rate(f), vf_channels(f),
            (long long)vf_length(f), vf_tag(f, "TITLE") ? vf_tag(f, "TITLE") : "(no title)");
    if (argc >= 3 && (error = vf_seek(f, atoll(argv[2]))) != 0) {
        fprintf(stderr, "%s\n", vf_strerror(error));
        return 1;
    }
    int16_t pcm[4096 * 2];
    unsigned char bytes[sizeof pcm];
    while ((n = vf_read(f, pcm, 4096)) > 0) {
        for (int i = 0; i < n * vf_channels(f); ++i) {
            bytes[2 * i] = (unsigned char)(pcm[i] & 0xff);
            bytes[2 * i + 1] = (unsigned char)((pcm[i] >> 8) & 0xff);
        }
        fwrite(bytes, 2, (size_t)(n * vf_channels(f)), stdout);
    }
    vf_free(f);
    return n < 0 ? 1 : 0;
}
