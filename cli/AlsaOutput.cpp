// SPDX-License-Identifier: GPL-2.0-or-later
#include "AlsaOutput.h"

#include <alsa/asoundlib.h>
#include <unistd.h>

namespace {

constexpr unsigned latencyMicroseconds = 200000;
constexpr int64_t aheadMs = 200;  // queued at most, by the pacing clock

} // namespace

AlsaOutput::~AlsaOutput()
{
    Close(false);
}

bool AlsaOutput::Open(const std::string &device, int32_t rate, int32_t channels, std::string &error)
{
    Close(false);
    int err = snd_pcm_open(&pcm_, device.c_str(), SND_PCM_STREAM_PLAYBACK, 0);
    if (err < 0) {
        pcm_ = nullptr;
        error = "cannot open audio device '" + device + "': " + snd_strerror(err);
        return false;
    }
    err = snd_pcm_set_params(pcm_, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED,
                             static_cast<unsigned>(channels), static_cast<unsigned>(rate), 1, latencyMicroseconds);
    if (err < 0) {
        error = "audio device '" + device + "' refuses " + std::to_string(rate) + " Hz, " +
                std::to_string(channels) + " channel(s): " + snd_strerror(err);
        Close(false);
        return false;
    }
    rate_ = rate;
    channels_ = channels;
    clockStart_ = std::chrono::steady_clock::now();
    clockFrames_ = 0;
    paused_ = false;
    return true;
}

void AlsaOutput::Close(bool drain)
{
    if (pcm_ == nullptr)
        return;
    if (drain) {
        // the pacing clock keeps what a fast device would take at once
        const auto wait = std::chrono::milliseconds(clockFrames_ * 1000 / rate_) -
                          std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - clockStart_);
        if (wait.count() > 0)
            usleep(static_cast<useconds_t>(wait.count()) * 1000);
        snd_pcm_drain(pcm_);
    }
    snd_pcm_close(pcm_);
    pcm_ = nullptr;
}

bool AlsaOutput::Write(const uint8_t *pcm, size_t frames, std::string &error)
{
    const size_t frameBytes = 2 * static_cast<size_t>(channels_);
    while (frames > 0) {
        snd_pcm_sframes_t n = snd_pcm_writei(pcm_, pcm, frames);
        if (n == -EAGAIN)
            continue;
        if (n < 0) {
            // an underrun or a suspend: recover and go on
            n = snd_pcm_recover(pcm_, static_cast<int>(n), 1);
            if (n < 0) {
                error = std::string("audio device failed: ") + snd_strerror(static_cast<int>(n));
                return false;
            }
            continue;
        }
        pcm += static_cast<size_t>(n) * frameBytes;
        frames -= static_cast<size_t>(n);
        clockFrames_ += n;
    }
    return true;
}

void AlsaOutput::Drop()
{
    if (pcm_ == nullptr)
        return;
    snd_pcm_drop(pcm_);
    snd_pcm_prepare(pcm_);
    clockStart_ = std::chrono::steady_clock::now();
    clockFrames_ = 0;
}

void AlsaOutput::Pause(bool paused)
{
    if (pcm_ == nullptr || paused == paused_)
        return;
    paused_ = paused;
    if (paused) {
        pausedAt_ = std::chrono::steady_clock::now();
        if (snd_pcm_pause(pcm_, 1) < 0)
            snd_pcm_drop(pcm_), snd_pcm_prepare(pcm_);  // devices that cannot pause start again
    } else {
        clockStart_ += std::chrono::steady_clock::now() - pausedAt_;
        if (snd_pcm_state(pcm_) == SND_PCM_STATE_PAUSED)
            snd_pcm_pause(pcm_, 0);
    }
}

int64_t AlsaOutput::Queued()
{
    if (pcm_ == nullptr)
        return 0;
    // by the pacing clock, or by the device where it holds more
    const auto elapsed = (paused_ ? pausedAt_ : std::chrono::steady_clock::now()) - clockStart_;
    const int64_t played = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count() * rate_ / 1000;
    int64_t queued = clockFrames_ > played ? clockFrames_ - played : 0;
    snd_pcm_sframes_t delay = 0;
    if (snd_pcm_delay(pcm_, &delay) == 0 && delay > queued)
        queued = delay;
    return queued;
}

std::chrono::milliseconds AlsaOutput::WaitBeforeWrite()
{
    const int64_t aheadFrames = aheadMs * rate_ / 1000;
    const int64_t over = Queued() - aheadFrames;
    return std::chrono::milliseconds(over > 0 ? over * 1000 / rate_ : 0);
}
