/* SPDX-License-Identifier: GPL-2.0-or-later */
/*
 * Vorlix: MPEG-1, MPEG-2 and MPEG-2.5 Layer III (MP3) to 16-bit PCM.
 *
 * The library keeps one process-wide decoder: no handles, no threads, not
 * re-entrant. A host makes one call at a time, in this order:
 *
 *   1. Probe:  GetHeaderInfo() on the first buffer of a stream, from its
 *              first byte: the probe reads the title, artist and album of a
 *              leading ID3 tag. Again with more bytes while it returns
 *              NeedMoreData or a count n (pass a buffer that starts with the
 *              n unused bytes).
 *   2. Open:   Init(eqEnabled, bandSettings).
 *   3. Decode: DecompressAudio() with a new buffer, then with data == NULL as
 *              long as it returns 0: one MP3 frame of PCM per call. After
 *              NeedMoreData or a count n, pass a new buffer that begins at the
 *              stream position last reported (the n unused bytes first).
 *              Decode from the first frame, after any leading ID3v2 tag:
 *              decoding does not skip tags, and a picture in a tag can hold
 *              bytes that pass for frames. Tags between frames or at the end
 *              (ID3v2, APEv2, Lyrics3, ID3v1) are the host's to leave out too.
 *   4. Seek:   SeekStart(), reposition the input, SeekEnd(), then
 *              DecompressAudio() with a buffer from the new position.
 *   5. Close:  Exit().
 *
 * The last frame of a stream decodes only when at least 8 bytes follow it in
 * the buffer: append 8 zero bytes after the end of the input.
 */
#ifndef VORLIX_H
#define VORLIX_H

#include <stdint.h>

#if defined(_WIN32)
#  if defined(VORLIX_BUILD)
#    define VORLIX_API __declspec(dllexport)
#  else
#    define VORLIX_API __declspec(dllimport)
#  endif
#else
#  define VORLIX_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

enum {
    /** Result: supply more input (or, as a count, exactly 32768 unused bytes). */
    NeedMoreData = 0x8000,
    /** Largest number of bytes one DecompressAudio call writes to outBuffer:
     *  6912 samples per channel (a frame of 1152 samples converted up
     *  sixfold, 8000 to 48000 Hz), two channels, two bytes each. */
    VORLIX_MAX_OUTPUT_BYTES = 27648,
    /** Room, in 16-bit units, of each text buffer of GetHeaderInfo. */
    VORLIX_TEXT_UNITS = 200
};

/**
 * Opens the decoder. When it is idle (after load, Exit, SeekStart or a
 * successful probe) the decoder objects are initialised and stream positions
 * restart at 0; during decoding only the equalizer changes.
 *
 * eqEnabled:    nonzero switches on the gain stage, the equalizer and the gain
 *               reduction after clipping; zero leaves the signal untouched.
 * bandSettings: NULL keeps the equalizer gains as they are; otherwise 11
 *               signed dB values: bands 0..9 (low to high), then a preamp
 *               added to every band. Gains are capped at +18 dB.
 */
VORLIX_API void Init(int32_t eqEnabled, const int8_t *bandSettings);

/** Closes the decoder and releases its memory. Harmless when already closed. */
VORLIX_API void Exit(void);

/** Before repositioning the input: the same as Exit(). */
VORLIX_API void SeekStart(void);

/** After repositioning the input: Init() with the current equalizer switch
 *  and gains; positions reported afterwards count from the next buffer. */
VORLIX_API void SeekEnd(void);

/**
 * Decodes one frame.
 *
 * data:           a new buffer of stream bytes, or NULL to go on in the buffer
 *                 passed last. The library reads it, without copying, until
 *                 the next buffer is passed: keep it in place and unchanged.
 * length:         bytes at data (also compared with the unused rest when data
 *                 is NULL).
 * outBuffer:      receives interleaved little-endian signed 16-bit samples,
 *                 left first; give it VORLIX_MAX_OUTPUT_BYTES bytes.
 * reserved:       ignored.
 * outBytes:       receives the number of bytes written to outBuffer.
 * streamPosition: receives the stream position (bytes) of the frame, counted
 *                 from the first buffer after Init/SeekEnd; not written when
 *                 the call returns NeedMoreData for want of any buffer.
 *
 * Returns 0: a frame was decoded and written (outBytes > 0), or a damaged
 *            frame was dropped (outBytes == 0); call again with data == NULL.
 * Returns NeedMoreData: pass the next buffer.
 * Returns n > 0: the last n bytes of the buffer hold no whole frame; pass a
 *            buffer that starts with them.
 */
VORLIX_API int32_t DecompressAudio(const uint8_t *data, int32_t length,
                                   uint8_t *outBuffer, uint32_t reserved,
                                   int32_t *outBytes, int32_t *streamPosition);

/**
 * Probes the start of a stream: decodes its first frame and reports it.
 *
 * data, length: the host's buffer of stream bytes.
 * sampleRate:   in: 0 to ask for the stream's rate, or an output rate in Hz to
 *               convert every frame to (48000, 44100, 32000, 24000, 22050,
 *               16000, 12000, 11025 or 8000; other rates leave frames
 *               unconverted). Out, on success with 0 on entry: the rate in Hz.
 * channels:     out, on success: 1 or 2.
 * bitRate:      out, on success: bits per second of the first frame.
 * title, artist, album: VORLIX_TEXT_UNITS 16-bit units each; receive the
 *               zero-terminated text of an ID3 tag in front of the audio
 *               (Latin-1 code points) when it has them, and are otherwise left
 *               alone. One tag is read per load of the library.
 *
 * Returns 0 on success (the decoder is then reset for DecompressAudio),
 * NeedMoreData when more bytes are needed, or a count n of unused bytes at
 * the end of the buffer: probe again with a buffer that starts with them.
 */
VORLIX_API int32_t GetHeaderInfo(const uint8_t *data, int32_t length,
                                 int32_t *sampleRate, int32_t *channels,
                                 int32_t *bitRate, uint16_t *title,
                                 uint16_t *artist, uint16_t *album);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
/** An empty class, kept for hosts that link against it; it does nothing. */
class VORLIX_API CVorlix {
public:
    CVorlix();
    CVorlix &operator=(const CVorlix &);
};
#endif

#endif /* VORLIX_H */
