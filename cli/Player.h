// SPDX-License-Identifier: GPL-2.0-or-later
// vorlix-play's player: plays one file after another through the device,
// with keys for pause, seeking, the equalizer and the next or previous file.
#ifndef VORLIX_CLI_PLAYER_H
#define VORLIX_CLI_PLAYER_H

#include <cstdint>
#include <string>
#include <vector>

#include "AlsaOutput.h"
#include "Terminal.h"
#include "Track.h"

struct PlayOptions {
    std::vector<std::string> files;
    std::string device = "default";
    int32_t rate = 0;
    bool quiet = false;
    bool gapless = true;
    int curve = 0;
};

/** The equalizer curves that `e` goes through: "off", then libvorlixfile's
 *  presets from the second on, then its first ("flat"). */
int CurveCount();
const char *CurveName(int curve);

enum class Outcome { Ended, Next, Previous, Quit, Unplayable, DeviceFailed };

// The player's state across files: the device, the terminal, the equalizer.
class Player {
public:
    PlayOptions options;
    Terminal terminal;
    AlsaOutput audio;
    int curve = 0;
    std::string error;  // why the device failed

    /** Plays the file at index of options.files; the file after it is made
     *  ready meanwhile. */
    Outcome Play(size_t index);

private:
    friend class Playback;

    bool EqOn() const { return curve != 0; }
    /** The curve's bands with the preamp on top. */
    void SetBands();
    /** During decoding the equalizer changes from the next frame on. */
    void ApplyEqualizer(VorlixFile *current);
    TrackSettings Settings();
    bool OpenDevice(const Track &track);

    int8_t bands_[11] = {};
    int preamp_ = 0;  // dB added to the curve's own preamp
    NextTrack next_;
};

#endif
