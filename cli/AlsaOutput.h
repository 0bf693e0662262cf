// SPDX-License-Identifier: GPL-2.0-or-later
// 16-bit PCM to an ALSA playback device, paced in real time even where the
// device itself would take data at any speed (ALSA's null plugin).
#ifndef VORLIX_CLI_ALSAOUTPUT_H
#define VORLIX_CLI_ALSAOUTPUT_H

#include <chrono>
#include <cstdint>
#include <string>

typedef struct _snd_pcm snd_pcm_t;

class AlsaOutput {
public:
    ~AlsaOutput();

    /** Opens the device for rate and channels (the plug layer converts where
     *  the hardware cannot); false with error set. */
    bool Open(const std::string &device, int32_t rate, int32_t channels, std::string &error);
    bool IsOpen() const { return pcm_ != nullptr; }
    bool Matches(int32_t rate, int32_t channels) const { return rate == rate_ && channels == channels_; }
    /** Lets what is queued play out (drain), or not, and closes. */
    void Close(bool drain);

    /** Writes interleaved frames, recovering from underruns; false with
     *  error set when the device is gone. */
    bool Write(const uint8_t *pcm, size_t frames, std::string &error);
    /** Throws away what is queued (a seek, the next file). */
    void Drop();
    /** Stops and resumes the clock and the device. */
    void Pause(bool paused);

    /** Frames written but not yet heard. */
    int64_t Queued();
    /** How long to wait before the next write keeps no more than the
     *  device's latency queued; zero when writing may go on. */
    std::chrono::milliseconds WaitBeforeWrite();

private:
    snd_pcm_t *pcm_ = nullptr;
    int32_t rate_ = 0, channels_ = 0;
    // the pacing clock: frames written since it started
    std::chrono::steady_clock::time_point clockStart_;
    int64_t clockFrames_ = 0;
    bool paused_ = false;
    std::chrono::steady_clock::time_point pausedAt_;
};

#endif
