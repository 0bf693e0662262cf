// SPDX-License-Identifier: GPL-2.0-or-later
// Helpers for the tests that run the command-line host: files, the shell,
// WAV files taken apart, and a fixture with a scratch folder.
#ifndef VORLIX_TESTS_HOSTSUPPORT_H
#define VORLIX_TESTS_HOSTSUPPORT_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestSupport.h"

/** Runs a command with sh, standard error dropped unless the command sends
 *  it somewhere; its exit status. */
int Shell(const std::string &command);

Bytes ReadFile(const std::string &path);
void WriteFile(const std::string &path, const Bytes &bytes);
bool Exists(const std::string &path);

/** Largest difference between the 16-bit samples of two PCM byte strings
 *  (65536 when their lengths differ). */
int MaxDifference(const Bytes &a, const Bytes &b);

uint32_t Le32(const Bytes &b, size_t at);
uint16_t Le16(const Bytes &b, size_t at);

/** Noise and a sweep, different on each channel, so that correlation peaks
 *  sharply: `length` samples per channel. */
std::vector<std::vector<int16_t>> Signal(int32_t rate, int channels, size_t length);
/** A 16-bit PCM WAV file of a signal. */
Bytes Wav(const std::vector<std::vector<int16_t>> &s, int32_t rate);
/** Little-endian 16-bit samples. */
std::vector<int16_t> Samples(const Bytes &pcm);
/** Appends samples as little-endian bytes, as vorlix-decode writes them. */
void AppendLe(Bytes &out, const int16_t *pcm, size_t values);

/** An ID3v2.3 tag of Latin-1 text frames (id, text), or with utf8 an ID3v2.4
 *  tag of UTF-8 ones; 20 bytes of padding. */
Bytes Id3v2(const std::vector<std::pair<std::string, std::string>> &frames, bool utf8 = false);

/** An APEv2 tag of text items (key, value), with a header when asked. */
Bytes Ape(const std::vector<std::pair<std::string, std::string>> &items, bool header);

/** The parts of a WAV file that matter, found by walking its chunks. */
struct WavFile {
    std::string riff;                 // "RIFF" or "RF64"
    uint32_t riffSize = 0;
    std::vector<std::string> chunks;  // ids, up to and including "data"
    uint16_t format = 0, channels = 0, bits = 0;
    uint32_t rate = 0, byteRate = 0, dataSize = 0;
    Bytes data;                       // everything after the data chunk's header
};
WavFile ParseWav(const Bytes &wav);

/** A shell command that runs `command` (a shell command) with standard
 *  input a socket that gives the first `bytes` bytes of `file` and then
 *  fails to read (ECONNRESET: its peer closed with bytes of its own
 *  unread), as a network source fails. Its exit status is the command's.
 *  Writes its helper script in `dir`. */
std::string WithFailingInput(const std::string &dir, const std::string &command, const std::string &file,
                             size_t bytes);

/** A scratch folder per test and a clean decoder. */
class HostFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    /** What the library gives for the stream through the protocol. */
    Bytes LibraryPcm(const Bytes &stream);
    /** The same without a header frame's samples: what vorlix-decode
     *  --no-gapless writes. */
    Bytes UntrimmedPcm(const Bytes &stream);

    std::string dir;
};

#endif
