// SPDX-License-Identifier: GPL-2.0-or-later
// vorlix-decode: decodes MP3 files to WAV or raw PCM through the public
// calling protocol of the library.
#include "Io.h"
#include "Jobs.h"
#include "Options.h"

int main(int argc, char **argv)
{
    const Options options = ParseOptions(argc, argv);
    InstallSignalCleanup();
    return DecodeAll(options);
}
