// SPDX-License-Identifier: GPL-2.0-or-later
#include "Player.h"

#include <algorithm>
#include <cstring>

#include "Display.h"
#include "Pcm.h"
#include "SeekGrid.h"

int CurveCount()
{
    return vf_eq_preset_count() + 1;
}

const char *CurveName(int curve)
{
    return curve == 0 ? "off" : vf_eq_preset_name(curve % vf_eq_preset_count());
}

namespace {

std::string QuotedName(const std::string &name)
{
    std::string quoted = "'";
    quoted += Printable(name);
    quoted += '\'';
    return quoted;
}

} // namespace

// One file as it plays: where it stands, the status line, the keys.
class Playback {
public:
    Playback(Player &player, Track &track) : p_(player), t_(track), f_(track.f.get()) {}

    Outcome Run();

private:
    enum class Go { On, Write, Stop };

    uint64_t Total() const { return t_.length > 0 ? static_cast<uint64_t>(t_.length) : 0; }
    uint64_t Position();
    void ShowStatus(bool now);
    void SeekTo(int64_t target);
    Go OnKey(Key key, Outcome &outcome);
    Go ReadChunk(Outcome &outcome);
    bool WriteChunk();

    Player &p_;
    Track &t_;
    VorlixFile *f_;
    uint64_t base_ = 0;     // output position where the timeline starts
    uint64_t written_ = 0;  // samples written since
    bool paused_ = false, clipping_ = false;
    std::string message_;
    std::vector<int16_t> pcm_;
    int count_ = 0;  // samples per channel in pcm_
    std::vector<uint8_t> ready_;
    std::chrono::steady_clock::time_point lastStatus_ = std::chrono::steady_clock::now() - std::chrono::seconds(1);
};

uint64_t Playback::Position()
{
    const int64_t heard = static_cast<int64_t>(base_ + written_) - p_.audio.Queued();
    return static_cast<uint64_t>(std::max<int64_t>(heard, static_cast<int64_t>(base_)));
}

void Playback::ShowStatus(bool now)
{
    const auto t = std::chrono::steady_clock::now();
    if (p_.options.quiet || (!now && t - lastStatus_ < std::chrono::milliseconds(100)))
        return;
    lastStatus_ = t;
    // what plays, then where and how: where the line is wider than the
    // terminal, the title (or the file's name, without its folders)
    // gives way, cut with an ellipsis
    std::string what = t_.title.empty() ? Printable(BaseName(t_.name)) : t_.title;
    if (!t_.artist.empty())
        what += " - " + t_.artist;
    std::string line = "  " + Clock(Position(), t_.rate);
    if (Total() > 0)
        line += " / " + Clock(Total(), t_.rate);
    line += std::string("  [") + CurveName(p_.curve);
    if (p_.EqOn() && p_.preamp_ != 0)
        line += (p_.preamp_ > 0 ? " +" : " ") + std::to_string(p_.preamp_) + " dB";
    line += "]";
    if (clipping_)
        line += "  CLIP";
    if (!message_.empty())
        line += "  " + message_;
    const std::string mark = paused_ ? "|| " : "> ";
    // a few columns of it stay; past them the terminal's edge cuts the rest
    const size_t width = p_.terminal.Width(), rest = Columns(mark) + Columns(line);
    what = Fit(what, width > rest + 8 ? width - rest : 8);
    p_.terminal.Status(mark + what + line);
}

void Playback::SeekTo(int64_t target)
{
    const int32_t rate = t_.rate;
    const uint64_t total = Total();
    const uint64_t to = std::min(OnGrid(target, rate), total > 0 ? OnGrid(static_cast<int64_t>(total) - rate / 25, rate) : 0);
    if (vf_seek(f_, static_cast<int64_t>(to)) != 0)
        return;  // a stream: no seeking
    p_.audio.Drop();
    count_ = 0;  // samples read before the seek are not played
    base_ = to;
    written_ = 0;
    message_ = "seek to " + Clock(to, rate);
}

Playback::Go Playback::OnKey(Key key, Outcome &outcome)
{
    const int64_t rate = t_.rate;
    const auto from = [this](int64_t step) { SeekTo(static_cast<int64_t>(Position()) + step); };
    switch (key) {
    case Key::Space:
        paused_ = !paused_;
        p_.audio.Pause(paused_);
        break;
    case Key::Left:
        from(-10 * rate);
        break;
    case Key::Right:
        from(10 * rate);
        break;
    case Key::Down:
        from(-60 * rate);
        break;
    case Key::Up:
        from(60 * rate);
        break;
    case Key::Equalizer:
        p_.curve = (p_.curve + 1) % CurveCount();
        p_.ApplyEqualizer(f_);
        break;
    case Key::Louder:
    case Key::Softer:
        // the preamp works through the equalizer: switched on flat if it was off
        p_.preamp_ = std::clamp(p_.preamp_ + (key == Key::Louder ? 1 : -1), -30, 18);
        if (p_.curve == 0)
            p_.curve = CurveCount() - 1;  // flat
        p_.ApplyEqualizer(f_);
        break;
    case Key::Next:
    case Key::Previous:
    case Key::Quit:
        p_.audio.Drop();
        outcome = key == Key::Next ? Outcome::Next : key == Key::Previous ? Outcome::Previous : Outcome::Quit;
        return Go::Stop;
    case Key::None:
        break;
    }
    return Go::On;
}

// The next samples: those read before (the first read, made ready with the
// file), or a new read.
Playback::Go Playback::ReadChunk(Outcome &outcome)
{
    if (count_ == 0 && (count_ = vf_read(f_, pcm_.data(), Track::chunk)) == 0) {
        outcome = Outcome::Ended;
        return Go::Stop;
    }
    if (count_ < 0) {
        // a failed read is not the end of the file: said, and the file counts as not played
        p_.terminal.EndStatus();
        std::fprintf(stderr, "vorlix-play: %s after %s\n", InputFailure(QuotedName(t_.name), count_, 0).c_str(),
                     Clock(base_ + written_, t_.rate).c_str());
        outcome = Outcome::Unplayable;
        return Go::Stop;
    }
    return Go::Write;
}

bool Playback::WriteChunk()
{
    const size_t values = static_cast<size_t>(count_) * static_cast<size_t>(t_.channels);
    // full scale with the equalizer on: the automatic gain reduction is at work
    clipping_ = false;
    for (size_t i = 0; p_.EqOn() && i < values; ++i)
        clipping_ = clipping_ || pcm_[i] == INT16_MAX || pcm_[i] == INT16_MIN;
    LittleEndian(pcm_.data(), values, ready_);
    if (!p_.audio.Write(ready_.data(), static_cast<size_t>(count_), p_.error))
        return false;
    written_ += static_cast<uint64_t>(count_);
    count_ = 0;
    return true;
}

Outcome Playback::Run()
{
    pcm_ = std::move(t_.first);
    pcm_.resize(static_cast<size_t>(Track::chunk) * static_cast<size_t>(t_.channels));
    count_ = t_.firstCount;  // a failed first read is said when its turn comes, as any
    for (;;) {
        const auto wait = paused_ ? std::chrono::milliseconds(100) : p_.audio.WaitBeforeWrite();
        Outcome outcome = Outcome::Ended;
        if (OnKey(p_.terminal.Read(wait), outcome) == Go::Stop)
            return outcome;
        ShowStatus(false);
        if (paused_ || p_.audio.WaitBeforeWrite().count() > 0)
            continue;
        if (ReadChunk(outcome) == Go::Stop)
            return outcome;
        if (!WriteChunk())
            return Outcome::DeviceFailed;
    }
}

void Player::SetBands()
{
    vf_eq_preset(CurveName(curve == 0 ? CurveCount() - 1 : curve), bands_);
    bands_[10] = static_cast<int8_t>(std::clamp(bands_[10] + preamp_, -128, 127));
}

void Player::ApplyEqualizer(VorlixFile *current)
{
    SetBands();
    if (current != nullptr)
        vf_set_equalizer(current, EqOn() ? bands_ : nullptr);
}

TrackSettings Player::Settings()
{
    SetBands();
    TrackSettings s;
    s.rate = options.rate;
    s.gapless = options.gapless;
    s.eqOn = EqOn();
    if (s.eqOn)
        std::memcpy(s.bands, bands_, sizeof bands_);
    return s;
}

bool Player::OpenDevice(const Track &track)
{
    if (audio.IsOpen() && audio.Matches(track.rate, track.channels))
        return true;
    audio.Close(true);
    return audio.Open(options.device, track.rate, track.channels, error);
}

Outcome Player::Play(size_t index)
{
    const std::vector<std::string> &files = options.files;
    const TrackSettings settings = Settings();
    std::unique_ptr<Track> track = next_.Take(index, files[index], settings);
    if (index + 1 < files.size())
        next_.Start(index + 1, files[index + 1], settings);
    if (track->code != 0) {
        // on a line of its own, which the next file's status line leaves be
        terminal.EndStatus();
        std::fprintf(stderr, "vorlix-play: %s\n",
                     InputFailure(QuotedName(track->name), track->code, track->openErrno).c_str());
        return Outcome::Unplayable;
    }
    if (!OpenDevice(*track))
        return Outcome::DeviceFailed;
    return Playback(*this, *track).Run();
}
