/* SPDX-License-Identifier: GPL-2.0-or-later */
/* vorlixdec: a GstAudioDecoder that decodes parsed MPEG audio frames to
 * 16-bit PCM through libvorlixfile's push mode for whole frames. */
#ifndef VORLIX_GST_VORLIXDEC_H
#define VORLIX_GST_VORLIXDEC_H

#include <gst/audio/gstaudiodecoder.h>
#include <gst/gst.h>

G_BEGIN_DECLS

#define GST_TYPE_VORLIX_DEC (gst_vorlix_dec_get_type())
G_DECLARE_FINAL_TYPE(GstVorlixDec, gst_vorlix_dec, GST, VORLIX_DEC, GstAudioDecoder)

#define GST_TYPE_VORLIX_DEC_EQ_PRESET (gst_vorlix_dec_eq_preset_get_type())
GType gst_vorlix_dec_eq_preset_get_type(void);

/** Registers vorlixdec (rank MARGINAL) in a plugin: the plugin's entry, and
 *  for a program that registers the plugin statically. */
gboolean gst_vorlix_plugin_init(GstPlugin *plugin);

G_END_DECLS

#endif
