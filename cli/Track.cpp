// SPDX-License-Identifier: GPL-2.0-or-later
#include "Track.h"

#include <cerrno>
#include <sys/stat.h>
#include <system_error>

#include "Display.h"

std::unique_ptr<Track> PrepareTrack(const std::string &name, const TrackSettings &settings)
{
    auto t = std::make_unique<Track>();
    t->name = name;
    t->settings = settings;
    t->f.reset(vf_open_file(name.c_str(), &t->code));
    t->openErrno = errno;
    VorlixFileInfo info = VF_INFO_INIT;
    if (t->f != nullptr)
        t->code = vf_info(t->f.get(), &info);
    if (t->code != 0)
        return t;
    VorlixFile *f = t->f.get();
    // shown without anything that steers the terminal
    const auto tag = [f](const char *key) {
        const char *v = vf_tag(f, key);
        return Printable(v != nullptr ? v : "");
    };
    t->title = tag("TITLE");
    t->artist = tag("ARTIST");
    vf_set_gapless(f, settings.gapless);
    if (settings.rate != 0)
        vf_set_output(f, settings.rate, 0);
    t->rate = vf_rate(f);
    t->channels = vf_channels(f);
    vf_set_equalizer(f, settings.eqOn ? settings.bands : nullptr);
    t->length = vf_length(f);
    t->first.resize(static_cast<size_t>(Track::chunk) * static_cast<size_t>(t->channels));
    t->firstCount = vf_read(f, t->first.data(), Track::chunk);
    return t;
}

NextTrack::~NextTrack()
{
    Wait();
}

void NextTrack::Wait()
{
    if (thread_.joinable())
        thread_.join();
}

void NextTrack::Start(size_t index, const std::string &name, const TrackSettings &settings)
{
    Wait();
    track_.reset();
    index_ = SIZE_MAX;
    struct stat st;
    if (stat(name.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return;
    try {
        thread_ = std::thread([this, name, settings] { track_ = PrepareTrack(name, settings); });
        index_ = index;
    } catch (const std::system_error &) {
        // no thread to be had: the file is made ready when its turn comes
    }
}

std::unique_ptr<Track> NextTrack::Take(size_t index, const std::string &name, const TrackSettings &settings)
{
    Wait();
    std::unique_ptr<Track> t = std::move(track_);
    const bool ready = index == index_ && t != nullptr && t->settings == settings;
    index_ = SIZE_MAX;
    if (ready)
        return t;
    t.reset();  // its handle closed before another is opened
    return PrepareTrack(name, settings);
}
