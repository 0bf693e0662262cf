// SPDX-License-Identifier: GPL-2.0-or-later
// A file of vorlix-play made ready to play: opened on a handle of its own,
// described, and its first frame's worth read. The next file is made ready
// in a thread of its own while the current one plays, so that it starts
// without a wait.
#ifndef VORLIX_CLI_TRACK_H
#define VORLIX_CLI_TRACK_H

#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "vorlixfile.h"

/** What a file's playing starts from. */
struct TrackSettings {
    int32_t rate = 0;       // the output rate asked for, 0: the file's own
    bool gapless = true;
    bool eqOn = false;
    int8_t bands[11] = {};  // while eqOn

    bool operator==(const TrackSettings &) const = default;
};

struct Track {
    /** The samples per channel of a read: a frame's worth, so that keys are
     *  read between frames. */
    static constexpr int chunk = 1152;

    std::string name;
    std::unique_ptr<VorlixFile, decltype(&vf_free)> f{nullptr, vf_free};
    int code = 0;       // 0, or why it cannot be played (VF_E...)
    int openErrno = 0;  // what VF_EOPEN means
    std::string title, artist;  // Printable
    int32_t rate = 0, channels = 0;
    int64_t length = -1;
    TrackSettings settings;
    std::vector<int16_t> first;  // the first read's samples, until played
    int firstCount = 0;          // the first read's result: samples, 0 at the end, or VF_E...
};

/** Opens, describes and reads the first samples of a file. */
std::unique_ptr<Track> PrepareTrack(const std::string &name, const TrackSettings &settings);

/** The file after the one playing, made ready in a thread. */
class NextTrack {
public:
    NextTrack() = default;
    NextTrack(const NextTrack &) = delete;
    NextTrack &operator=(const NextTrack &) = delete;
    ~NextTrack();

    /** Starts making the file at index ready, when it is a regular file
     *  (standard input and pipes are opened when their turn comes). */
    void Start(size_t index, const std::string &name, const TrackSettings &settings);
    /** The file at index: the one made ready when it was that file, with
     *  these settings; otherwise made ready now. */
    std::unique_ptr<Track> Take(size_t index, const std::string &name, const TrackSettings &settings);

private:
    void Wait();

    std::thread thread_;
    size_t index_ = SIZE_MAX;
    std::unique_ptr<Track> track_;
};

#endif
