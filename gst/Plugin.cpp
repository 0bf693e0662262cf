// SPDX-License-Identifier: GPL-2.0-or-later
// The GStreamer plugin "vorlix": its one element, vorlixdec.
#include "VorlixDec.h"

#ifndef PACKAGE
#define PACKAGE "vorlix"
#endif

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, vorlix, "MP3 decoding with Vorlix", gst_vorlix_plugin_init,
                  VORLIX_VERSION, "GPL", "Vorlix", "https://example.org/vorlix")
