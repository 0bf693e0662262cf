/* SPDX-License-Identifier: GPL-2.0-or-later */
/*
 * libvorlixfile: MP3 files in a few calls, on top of libvorlix.
 *
 * A handle opens a file, a descriptor, a memory block, the host's callbacks
 * or bytes pushed in as they come; it finds the audio among the tags and
 * junk around it, describes the stream (format, exact length, encoder,
 * gapless trims, tags, ReplayGain, front cover) and reads interleaved 16-bit
 * samples with the encoder's delay and padding trimmed, seeking to the
 * sample where the source can seek.
 *
 *   VorlixFile *f = vf_open_file("song.mp3", &error);
 *   VorlixFileInfo info = VF_INFO_INIT;
 *   vf_info(f, &info);
 *   int16_t pcm[4096 * 2];
 *   int n;
 *   while ((n = vf_read(f, pcm, 4096)) > 0)
 *       play(pcm, n * vf_channels(f));  // n samples per channel
 *   vf_free(f);
 *
 * Units: samples are counted per channel ("sample" 10 of a stereo stream is
 * the pair of values 20 and 21), at the handle's output rate, from the first
 * sample after the start trim.
 *
 * Any number of handles may be open at once, and used from any threads (one
 * handle from one thread at a time). When a handle first decodes, it loads
 * a private copy of libvorlix (the library keeps one decoder per loaded
 * copy), released by vf_free: handles decode in parallel, with no lock
 * between them, and each one's output is bit for bit its decode alone in a
 * process of its own. Handles that only describe never load one. Where no
 * private copy can be had (the limit of vf_set_instance_limit reached, or a
 * system that refuses executable anonymous memory files or has no /proc),
 * a handle shares the process's decoder with the others like it, in turn: a
 * handle that reads while the decoder last served another takes it over,
 * restarting it and decoding again the frames before its position that the
 * bit reservoir and the synthesis need. Its output then equals its decode
 * alone within 1 LSB: the output stage's error feedback, and with the
 * equalizer on its gain reduction after clipping, start afresh at a
 * takeover. Do not call libvorlix's own functions while sharing handles
 * read.
 *
 * Errors are negative VF_E... codes; vf_strerror() names them. Each
 * function's comment lists every code it returns.
 *
 * Records that can grow: VorlixFileInfo, VorlixFileReplayGain and
 * VorlixFileCallbacks begin with a size field that the host sets to the
 * sizeof of its record, so that later versions can add fields at their end
 * without breaking hosts built before. Start each from its VF_..._INIT macro
 * (C99 and C++), which zeroes it and sets the size:
 *
 *   VorlixFileInfo info = VF_INFO_INIT;
 *   VorlixFileCallbacks io = VF_CALLBACKS_INIT;
 *   io.read = my_read;
 *
 * The library reads or fills only the size bytes the host gave (and no more
 * than it knows). A size of 0, or one smaller than the records of version
 * 2.0 (the first with a size field), is refused with VF_EINVAL.
 */
#ifndef VORLIXFILE_H
#define VORLIXFILE_H

#include <stddef.h>
#include <stdint.h>

/* The version of this header. vf_version() gives the library's, as
 * VORLIXFILE_VERSION gives the header's: MAJOR * 10000 + MINOR * 100 +
 * PATCH. The major version changes with the binary interface (the soname
 * libvorlixfile.so.MAJOR), a minor version adds calls or fields. */
#define VORLIXFILE_VERSION_MAJOR 2
#define VORLIXFILE_VERSION_MINOR 0
#define VORLIXFILE_VERSION_PATCH 0
#define VORLIXFILE_VERSION \
    (VORLIXFILE_VERSION_MAJOR * 10000 + VORLIXFILE_VERSION_MINOR * 100 + VORLIXFILE_VERSION_PATCH)

/* A record of the given type, zeroed, its size field set (VF_INFO_INIT and
 * the others below): an expression, usable to initialise or to assign. */
#ifdef __cplusplus
#  define VF_SIZED_RECORD(type) ([] { type record_{}; record_.size = sizeof record_; return record_; }())
#else
#  define VF_SIZED_RECORD(type) ((type){ .size = sizeof(type) })
#endif

#if defined(_WIN32)
#  define VORLIXFILE_API
#else
#  define VORLIXFILE_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/** Result codes: 0 or a count on success, these on failure. */
enum {
    VF_EREAD = -1,      /**< the source failed to read (or seek while reading):
                             never taken for the end of its bytes */
    VF_EFAULT = -2,     /**< out of memory, or an internal inconsistency */
    VF_EINVAL = -3,     /**< a null handle or pointer, or a value out of range */
    VF_ENOTAUDIO = -4,  /**< no MPEG audio in the input (tags aside) */
    VF_ENOSEEK = -5,    /**< the source cannot seek (a stream or push mode) */
    VF_EBADPOS = -6,    /**< a position past the end of the stream */
    VF_EOPEN = -7,      /**< the file cannot be opened (errno says why) */
    VF_ENEEDMORE = -8,  /**< push mode: feed more bytes (or vf_feed_end) */
    VF_ELATE = -9,      /**< only before the first read: the output format */
    VF_ENOPICTURE = -10 /**< the tags hold no picture */
};

/** A short English text for a result code ("unknown error" for any other
 *  value); never NULL. */
VORLIXFILE_API const char *vf_strerror(int error);

/** The library's version, as VORLIXFILE_VERSION: 20000 for 2.0.0. A host
 *  built against a later header can compare the two before it counts on a
 *  call or field that the header's minor version added. */
VORLIXFILE_API int vf_version(void);

typedef struct VorlixFile VorlixFile;

/** The host's source: read is required; seek and tell make it seekable.
 *  Start from VF_CALLBACKS_INIT: callbacks past the host's size count as
 *  NULL, and those past this version's layout are not read. */
typedef struct VorlixFileCallbacks {
    size_t size;  /**< sizeof(VorlixFileCallbacks), as the host was built */
    /** Up to n bytes into buffer: returns how many, 0 at the end, < 0 on a
     *  failure. May return fewer than n before the end. */
    long (*read)(void *source, unsigned char *buffer, size_t n);
    /** To offset bytes from whence (SEEK_SET, SEEK_CUR, SEEK_END): 0 on
     *  success, nonzero on failure. NULL for a stream. */
    int (*seek)(void *source, int64_t offset, int whence);
    /** The current offset, or < 0 on failure. NULL for a stream. */
    int64_t (*tell)(void *source);
    /** Called by vf_free, and only there: an open that fails leaves the
     *  source to the host. NULL when the host closes the source itself. */
    int (*close)(void *source);
} VorlixFileCallbacks;
#define VF_CALLBACKS_INIT VF_SIZED_RECORD(VorlixFileCallbacks)

/* Opening. Each returns a handle, or NULL with *error (when error is not
 * NULL) set to a VF_E... code (0 on success). The handle reads the input's
 * start to find the audio and its header frame, and reads the tags; a
 * seekable source is also scanned frame by frame for its exact length
 * (header parsing only). Where the source fails to read during all this, the
 * open fails with VF_EREAD, whatever the bytes before said. VF_EFAULT: out
 * of memory. */

/** A file by path; "-" is standard input (a stream). An input that holds
 *  tags but no audio opens for its tags (vf_info then says VF_ENOTAUDIO);
 *  one with neither fails with VF_ENOTAUDIO. VF_EINVAL: path is NULL;
 *  VF_EOPEN: it cannot be opened, or is a directory (errno says why);
 *  VF_EREAD, VF_ENOTAUDIO, VF_EFAULT. */
VORLIXFILE_API VorlixFile *vf_open_file(const char *path, int *error);
/** An open descriptor, read from its current offset when it cannot seek and
 *  from offset 0 when it can; vf_free does not close it. VF_EINVAL: fd < 0;
 *  VF_EREAD (a descriptor not open for reading, a directory's), VF_ENOTAUDIO,
 *  VF_EFAULT. */
VORLIXFILE_API VorlixFile *vf_open_fd(int fd, int *error);
/** size bytes at data, not copied: keep them in place until vf_free.
 *  VF_EINVAL: data NULL with size > 0; VF_ENOTAUDIO, VF_EFAULT. */
VORLIXFILE_API VorlixFile *vf_open_memory(const unsigned char *data, size_t size, int *error);
/** The host's callbacks on source. Without seek or tell the source is a
 *  stream: everything works but seeking, and the length comes from the
 *  header frame or is unknown. A source whose seek to its end fails at the
 *  open is taken for a stream. The handle keeps its own copy of callbacks.
 *  VF_EINVAL: callbacks or its read NULL, or its size 0 or too small;
 *  VF_EREAD, VF_ENOTAUDIO, VF_EFAULT; the host's close is not called. */
VORLIXFILE_API VorlixFile *vf_open_callbacks(void *source, const VorlixFileCallbacks *callbacks, int *error);
/** Push mode: a handle fed by vf_feed. It describes the stream and reads
 *  once enough bytes have come; until then vf_info and vf_read return
 *  VF_ENEEDMORE. Never fails but for memory (VF_EFAULT). */
VORLIXFILE_API VorlixFile *vf_open_push(int *error);
/** Push mode for a parser's output (GStreamer's mpegaudioparse, a demuxer):
 *  as vf_open_push, but each vf_feed holds whole frames (one or more) and
 *  nothing between them, so that a frame is read as soon as the next feed
 *  has come (or vf_feed_end): one frame of latency instead of the 12 KiB
 *  lookahead that a stream of arbitrary bytes needs. Bytes that are not
 *  frames are still passed over safely; the stream is then judged on what
 *  has come, as a parser would. */
VORLIXFILE_API VorlixFile *vf_open_frames(int *error);
/** Push mode: hands the handle n more bytes (copied). 0, or VF_EINVAL: a
 *  NULL handle, one not in push mode, data NULL with n > 0, or a feed after
 *  vf_feed_end. */
VORLIXFILE_API int vf_feed(VorlixFile *f, const unsigned char *data, size_t n);
/** Push mode: no more bytes follow, so that the last frame comes out. 0, or
 *  VF_EINVAL: a NULL handle or one not in push mode. */
VORLIXFILE_API int vf_feed_end(VorlixFile *f);

/** Closes the handle and frees everything it holds; NULL is harmless. */
VORLIXFILE_API void vf_free(VorlixFile *f);

/* Description. */

enum { VF_MODE_STEREO, VF_MODE_JOINT, VF_MODE_DUAL, VF_MODE_MONO };
enum { VF_BITRATE_UNKNOWN, VF_BITRATE_CBR, VF_BITRATE_ABR, VF_BITRATE_VBR };
enum { VF_HEADER_NONE, VF_HEADER_XING, VF_HEADER_INFO, VF_HEADER_VBRI };

/* The stream's description. Start from VF_INFO_INIT; vf_info and vf_test
 * fill the fields the host's size holds, and set size to how many bytes
 * they filled (fewer than the host's size when the host knows fields this
 * library does not: those are left as they were). */
typedef struct VorlixFileInfo {
    size_t size;          /**< set by the host: sizeof(VorlixFileInfo) */
    int version;          /**< 10 MPEG-1, 20 MPEG-2, 25 MPEG-2.5 */
    int layer;            /**< 1, 2 or 3 */
    int rate;             /**< Hz: the stream's, as coded */
    int channels;         /**< 1 or 2: the first frame's */
    int mode;             /**< VF_MODE_... of the first audio frame */
    int bitrate_mode;     /**< VF_BITRATE_... */
    int bitrate;          /**< bits per second; the average for ABR and VBR */
    int64_t frames;       /**< audio frames (header frame not counted); -1 unknown */
    int64_t samples;      /**< per channel at the stream's rate after the trims; -1 unknown */
    char encoder[16];     /**< "LAME3.100", "Lavc60.31", ... or "" */
    int delay, padding;   /**< the encoder's, in samples; -1 unknown */
    int trim_start, trim_end; /**< samples trimmed at the stream's rate (0 without gapless) */
    int header;           /**< VF_HEADER_...: the header frame's kind */
    int gapless_source;   /**< where delay and padding come from: 0 none, 1 LAME's extension
                               (also ffmpeg's), 2 iTunes' iTunSMPB comment (its skip less
                               529 as delay, so that the trims are exactly iTunes') */
    int64_t audio_offset; /**< byte offset of the first frame (the header frame, if any) */
    int64_t reserved[4];  /**< 0: room for later fields at an unchanged sizeof */
} VorlixFileInfo;
#define VF_INFO_INIT VF_SIZED_RECORD(VorlixFileInfo)

/** Fills *info. 0, VF_EINVAL (f or info NULL, info->size 0 or too small),
 *  VF_ENEEDMORE (push mode,
 *  not yet open), or VF_ENOTAUDIO (an input of tags alone: it opens for its
 *  tags; in push mode, bytes that ended without audio). */
VORLIXFILE_API int vf_info(VorlixFile *f, VorlixFileInfo *info);

/** Tags as UTF-8 key/value pairs under the names players use: TITLE,
 *  ARTIST, ALBUM, ALBUMARTIST, DATE, TRACKNUMBER, DISCNUMBER, GENRE,
 *  COMMENT, COMPOSER, ... (from ID3v2, APEv2 and ID3v1; several values of
 *  one field joined by " / "). vf_tag_count is the number of pairs; key and
 *  value of pair i stay valid until vf_free. vf_tag gives the value of a key
 *  (ASCII, any case), or NULL. A NULL handle, an index out of range or a
 *  push handle still waiting for bytes: 0 pairs, NULL. */
VORLIXFILE_API int vf_tag_count(VorlixFile *f);
VORLIXFILE_API const char *vf_tag_key(VorlixFile *f, int i);
VORLIXFILE_API const char *vf_tag_value(VorlixFile *f, int i);
VORLIXFILE_API const char *vf_tag(VorlixFile *f, const char *key);

/** ReplayGain: gains in dB, peaks as linear full scale (0 when not given:
 *  lame writes its peak only when it decodes to measure it); 0 for the "has"
 *  flags when absent. From ID3v2 TXXX, APEv2 or LAME's extension, in that
 *  order of preference. Start from VF_REPLAYGAIN_INIT; filled as vf_info
 *  fills VorlixFileInfo. 0 (also for an input of tags alone), VF_EINVAL (f
 *  or gain NULL, gain->size 0 or too small), VF_ENEEDMORE (push mode, not
 *  yet open). */
typedef struct VorlixFileReplayGain {
    size_t size;  /**< set by the host: sizeof(VorlixFileReplayGain) */
    int has_track, has_album;
    double track_gain, track_peak, album_gain, album_peak;
    double reserved[2];  /**< 0: room for later fields at an unchanged sizeof */
} VorlixFileReplayGain;
#define VF_REPLAYGAIN_INIT VF_SIZED_RECORD(VorlixFileReplayGain)
VORLIXFILE_API int vf_replaygain(VorlixFile *f, VorlixFileReplayGain *gain);

/** The front cover (or else the first picture) of the ID3v2 tag: its MIME
 *  type and bytes, valid until vf_free. 0, VF_ENOPICTURE when there is none
 *  (also in an input of tags alone; earlier versions said VF_ENOTAUDIO),
 *  VF_EINVAL (a NULL argument), VF_ENEEDMORE (push mode, not yet open). */
VORLIXFILE_API int vf_picture(VorlixFile *f, const char **mime, const unsigned char **data, size_t *size);

/* Output and options. */

/** The output: 0 for the first frame's rate, or one of the nine MPEG rates
 *  of vf_rate_at (the library's converter); stereo nonzero makes a mono
 *  stream stereo.
 *  Only before the first read or seek (VF_ELATE after; a read of 0 samples
 *  does not count). 0, VF_EINVAL (a NULL handle or another rate), VF_ELATE. */
VORLIXFILE_API int vf_set_output(VorlixFile *f, int rate, int stereo);
/** Output rate and channels (after vf_set_output): a positive number, or a
 *  negative code that no rate or channel count can be taken for: VF_EINVAL
 *  (a NULL handle), VF_ENEEDMORE (push mode, not yet open), VF_ENOTAUDIO (an
 *  input of tags alone). Earlier versions gave 0 for all of these. */
VORLIXFILE_API int vf_rate(VorlixFile *f);
VORLIXFILE_API int vf_channels(VorlixFile *f);
/** Gapless trims on (the default) or off; only before the first read.
 *  0, VF_EINVAL (a NULL handle), VF_ELATE. */
VORLIXFILE_API int vf_set_gapless(VorlixFile *f, int on);
/** The equalizer: 11 signed dB values (ten bands low to high, then a preamp
 *  added to each), or NULL to switch it off. May change between reads.
 *  0, or VF_EINVAL (a NULL handle). */
VORLIXFILE_API int vf_set_equalizer(VorlixFile *f, const int8_t *bands);

/** The output rates vf_set_output converts to, lowest first: vf_rate_count()
 *  of them (9: 8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100 and
 *  48000 Hz); vf_rate_at(i) is the i-th, or 0 for i out of range. */
VORLIXFILE_API int vf_rate_count(void);
VORLIXFILE_API int vf_rate_at(int i);

/** The named equalizer curves the programs and the GStreamer element offer:
 *  vf_eq_preset_count() of them (5), named by vf_eq_preset_name(i) ("flat",
 *  "bass", "treble", "voice", "loudness"; NULL for i out of range).
 *  vf_eq_preset fills bands with the eleven values of the curve of that
 *  name (exact, lower case), for vf_set_equalizer: 0, or VF_EINVAL (an
 *  unknown name, name or bands NULL; bands is then left alone). */
VORLIXFILE_API int vf_eq_preset_count(void);
VORLIXFILE_API const char *vf_eq_preset_name(int i);
VORLIXFILE_API int vf_eq_preset(const char *name, int8_t bands[11]);

enum { VF_REPLAYGAIN_OFF, VF_REPLAYGAIN_TRACK, VF_REPLAYGAIN_ALBUM };
/** ReplayGain through the library's preamp: the gain (and extra_db) rounded
 *  to the nearest whole dB, halves away from zero, added to the preamp, so
 *  that the gain reduction after clipping guards the peaks (the equalizer
 *  stays on, flat unless set). Album falls back to track and track to album.
 *  0, or VF_EINVAL (a NULL handle, an unknown mode, extra_db outside
 *  -60..60). */
VORLIXFILE_API int vf_set_replaygain(VorlixFile *f, int mode, int extra_db);

/* Reading and seeking. */

/** Reads up to samples samples per channel into pcm (room for samples ×
 *  vf_channels values). Returns how many per channel (fewer only at the end
 *  or, in push mode, when the bytes run out), 0 at the end, or a code:
 *  VF_EINVAL (f or pcm NULL, samples < 0); VF_ENEEDMORE (push mode: feed
 *  more bytes); VF_EREAD (the source failed, after the samples before the
 *  failure; also when it cannot go back to the audio's start);
 *  VF_ENOTAUDIO (an input of tags alone, or no frame of the stream
 *  decodes). samples 0 returns 0 and is not a read (vf_set_output still
 *  works after it). A code stays: the calls after it return it again. */
VORLIXFILE_API int vf_read(VorlixFile *f, int16_t *pcm, int samples);

/** As vf_read, but stops at the end of one frame's samples, for hosts that
 *  keep their own frame timing (a GStreamer decoder): each call gives the
 *  rest of the frame read last, or the next frame that has samples. A frame
 *  that cannot decode (its bit reservoir is missing after a jump, or it is
 *  damaged) gives none and is passed over. *offset (when not NULL) gets the
 *  input offset of the frame's first byte: in push mode, bytes counted from
 *  the first fed. With the gapless trims on, the end trim holds samples back
 *  until the stream's end is known, so they come with a later frame's
 *  offset: switch the trims off (vf_set_gapless) to keep frames whole.
 *  Returns and codes as vf_read. */
VORLIXFILE_API int vf_read_frame(VorlixFile *f, int16_t *pcm, int samples, int64_t *offset);

/** Goes to a sample, exactly: the next read starts there. Fixes the output
 *  as a read does. 0, VF_EINVAL (a NULL handle, sample < 0), VF_ENOSEEK (a
 *  stream or push mode), VF_EBADPOS (past the end), VF_EREAD (the source
 *  failed to seek), VF_ENOTAUDIO (an input of tags alone), VF_ENEEDMORE
 *  (push mode, not yet open). */
VORLIXFILE_API int vf_seek(VorlixFile *f, int64_t sample);
/** The sample the next read starts with (0 or more), or VF_EINVAL for a
 *  NULL handle. */
VORLIXFILE_API int64_t vf_tell(VorlixFile *f);
/** Samples per channel at the output rate after the trims; -1 when unknown
 *  (a stream without a count, no stream yet or at all); VF_EINVAL for a
 *  NULL handle. */
VORLIXFILE_API int64_t vf_length(VorlixFile *f);

/** Called for each frame whose rate or channels differ from the frame
 *  before: at the output sample where it starts, with its own format. The
 *  output stays the first frame's (converted, mixed or doubled). 0, or
 *  VF_EINVAL (a NULL handle). */
typedef void (*VorlixFileFormatCallback)(void *user, int64_t sample, int rate, int channels);
VORLIXFILE_API int vf_set_format_callback(VorlixFile *f, VorlixFileFormatCallback callback, void *user);

/** A stream (no seek) whose header frame gives no length: reads it to its
 *  end, counting its frames, so that vf_info and vf_length give the exact
 *  length. The handle then only describes (reads return 0). 0 (nothing to
 *  do on a seekable input), VF_EINVAL (a NULL handle), VF_ELATE (after
 *  reading began), VF_EREAD (the source failed during the count: the
 *  length stays the header frame's, reads return VF_EREAD), VF_ENOTAUDIO
 *  (an input of tags alone), VF_ENEEDMORE (push mode, not yet open). */
VORLIXFILE_API int vf_scan_stream(VorlixFile *f);

/** The most private decoder copies alive at once, for the whole process
 *  (n >= 0; 0: every handle shares the process's decoder). Each copy costs
 *  about 100 kB (the library's code and tables, and its decoder's state).
 *  Until set, the number in the environment variable VORLIX_INSTANCES, or
 *  64. Handles past the limit share; the limit counts copies loaded from
 *  now on. Returns the limit before, or VF_EINVAL (n < 0). */
VORLIXFILE_API int vf_set_instance_limit(int n);

/** Describes the start of an input without a handle and without touching
 *  the decoder: 0 and *info (filled as by vf_info) when the size bytes at
 *  data (all there is, as far as the test knows) hold MPEG audio after any
 *  tags, VF_ENOTAUDIO when they do not; VF_EINVAL (info NULL, info->size 0
 *  or too small, or data NULL with size > 0). The length fields come from
 *  the header frame. */
VORLIXFILE_API int vf_test(VorlixFileInfo *info, const unsigned char *data, size_t size);

#ifdef __cplusplus
}
#endif

#endif
