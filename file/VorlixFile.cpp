// SPDX-License-Identifier: GPL-2.0-or-later
// The handle of libvorlixfile: an input, the stream found in it, what it
// says of itself, and the samples that go out (trimmed, sought, buffered).
#include "vorlixfile.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <new>
#include <strings.h>
#include <sys/stat.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "HostDecoder.h"
#include "Input.h"
#include "SizedRecord.h"
#include "Source.h"
#include "StreamFacts.h"
#include "TagInfo.h"
#include "format/Timeline.h"

struct VorlixFile {
    std::unique_ptr<Input> in;
    PushSource *push = nullptr;  // the input's source in push mode
    HostDecoder decoder;
    bool open = false;           // the stream is found and described
    bool described = false;      // open, or known to hold no stream
    bool smpb = false;           // the gapless trims come from iTunes' comment
    int describeError = 0;
    int64_t retryAt = 0;         // push mode: bytes to have before looking again

    FrameIndex index;            // of a seekable input
    StreamFacts facts;
    TagInfo tags;
    std::vector<std::pair<std::string, std::string>> pairs;

    int rateRequest = 0;
    bool stereo = false, gapless = true;
    bool eq = false;
    int8_t bands[11] = {};
    int gainMode = VF_REPLAYGAIN_OFF, gainExtra = 0;
    VorlixFileFormatCallback formatCallback = nullptr;
    void *formatUser = nullptr;

    bool started = false;  // decoding has begun: the output is fixed
    bool ended = false;
    int error = 0;         // what stops reading, once the samples before it are out
    GaplessTrim trim;
    Timeline timeline{0, UINT64_MAX, 0, 1};
    FrameClock clock;            // where each frame starts in the output
    std::vector<uint8_t> ready;  // samples out of the timeline, not yet read
    size_t readyFrom = 0;
    int64_t position = 0;        // of the next sample read
    int64_t readyOffset = -1;    // input offset of the frame pushed last
    DecodedFrame frame;
};

namespace {

void SetError(int *error, int code)
{
    if (error != nullptr)
        *error = code;
}

void ListTags(VorlixFile *f)
{
    const std::pair<const char *, const std::string *> fields[] = {
        {"TITLE", &f->tags.title}, {"ARTIST", &f->tags.artist}, {"ALBUM", &f->tags.album},
        {"DATE", &f->tags.year},   {"TRACKNUMBER", &f->tags.track}, {"GENRE", &f->tags.genre},
        {"COMMENT", &f->tags.comment}};
    for (const auto &[key, value] : fields)
        if (!value->empty())
            f->pairs.emplace_back(key, *value);
    for (const auto &pair : f->tags.extra)
        f->pairs.push_back(pair);
}

// iTunes' gapless comment: " 00000000 SSSSSSSS PPPPPPPP LLLLLLLLLLLLLLLL ...",
// hexadecimal: the decoded samples to drop at the start (S), the padding,
// and the samples that remain (L). In LAME's terms, which trim delay + 529
// at the start and padding - 529 at the end: delay S - 529, padding
// T - S - L + 529, T the samples of all frames.
void ItunesGapless(VorlixFile *f, bool scanned)
{
    unsigned long long zero = 0, skip = 0, pad = 0, length = 0;
    if (std::sscanf(f->tags.itunesSmpb.c_str(), "%llx %llx %llx %llx", &zero, &skip, &pad, &length) != 4)
        return;
    const uint64_t all = f->facts.frames * static_cast<uint64_t>(f->facts.samplesPerFrame);
    if (skip < 529 || skip >= 4096 + 529 || length == 0 || skip + length > all || all - skip - length >= 4096)
        return;
    f->decoder.SetGapless(static_cast<int32_t>(skip - 529), static_cast<int32_t>(all - skip - length + 529));
    f->facts = ::Describe(f->decoder, scanned ? &f->index : nullptr, f->gapless);
    f->smpb = true;
}

// Finds and describes the stream; VF_ENEEDMORE while pushed bytes are
// awaited. An input without audio still gives its tags.
int Describe(VorlixFile *f)
{
    if (f->described)
        return f->describeError;
    if (f->push != nullptr && !f->push->Ended() && f->push->Received() < f->retryAt)
        return VF_ENEEDMORE;
    switch (f->decoder.Open(*f->in, f->rateRequest, f->stereo)) {
    case HostDecoder::Status::ReadError:
        f->described = true;
        return f->describeError = VF_EREAD;
    case HostDecoder::Status::NeedInput:
        // look again once the bytes have grown by a share, so that finding
        // stays near linear: doubled, or with whole frames (the next one
        // decides) by a quarter
        if (f->push != nullptr && !f->push->Ended()) {
            f->retryAt = f->push->Framed() ? f->push->Received() + f->push->Received() / 4 + 1
                                           : std::max<int64_t>(2 * f->push->Received(), f->push->Received() + 4096);
            return VF_ENEEDMORE;
        }
        // an input that waits for nothing and still wants more has no stream
        [[fallthrough]];
    case HostDecoder::Status::NoAudio:
        f->described = true;
        if (f->in->Failed())
            return f->describeError = VF_EREAD;
        f->tags = ReadTags(*f->in, f->decoder);
        ListTags(f);
        return f->describeError = VF_ENOTAUDIO;
    case HostDecoder::Status::Ok:
        break;
    }
    f->tags = ReadTags(*f->in, f->decoder);
    const bool scan = f->in->Seekable();
    if (scan)
        f->decoder.Scan(f->index);
    // a read that failed in the tags or the scan leaves nothing to trust
    if (f->in->Failed()) {
        f->described = true;
        return f->describeError = VF_EREAD;
    }
    f->facts = ::Describe(f->decoder, scan ? &f->index : nullptr, f->gapless);
    if (!f->decoder.Header().Gapless() && !f->tags.itunesSmpb.empty() && f->facts.known)
        ItunesGapless(f, scan);
    ListTags(f);
    f->open = f->described = true;
    return 0;
}

// Out of memory anywhere in the open is VF_EFAULT: no exception crosses the
// C interface.
VorlixFile *Opened(std::unique_ptr<ByteSource> source, std::string name, int *error)
try {
    auto f = std::make_unique<VorlixFile>();
    f->push = dynamic_cast<PushSource *>(source.get());
    f->in = std::make_unique<Input>(std::move(source), std::move(name));
    const int r = f->push != nullptr ? 0 : Describe(f.get());
    // a file of tags alone opens, for its tags
    if (r < 0 && !(r == VF_ENOTAUDIO && !f->pairs.empty())) {
        SetError(error, r);
        return nullptr;
    }
    SetError(error, 0);
    return f.release();
} catch (const std::bad_alloc &) {
    SetError(error, VF_EFAULT);
    return nullptr;
}

// Where each frame starts at an output rate: by the scan, or every frame
// as long as the first audio frame.
FrameClock Clock(VorlixFile *f, int32_t rate)
{
    if (f->facts.scanned && f->index.Frames() > 0)
        return FrameClock(rate, f->index);
    const FrameHeader &first = f->decoder.AudioFirst();
    return FrameClock(rate, first.sampleRate, first.SamplesPerFrame());
}

// The samples per channel that reads give at an output rate, from the
// frames counted and the gapless trims; -1 when the count is unknown. Every
// frame counted comes out (a dropped one as silence) at the length the
// converter makes of its format.
int64_t Length(VorlixFile *f, int32_t rate)
{
    if (!f->facts.known)
        return -1;
    const HeaderFrame &h = f->decoder.Header();
    GaplessTrim trim = f->gapless && h.Gapless() ? Trim(h.delay, h.padding, f->facts.rate, rate) : GaplessTrim{};
    // a stream cut short of its header frame's count keeps its end
    if (f->facts.trim.end == 0)
        trim.end = 0;
    const uint64_t all = Clock(f, rate).Start(f->facts.frames);
    return all > trim.start + trim.end ? static_cast<int64_t>(all - trim.start - trim.end) : 0;
}

// The ReplayGain the tags and the header frame give, into a zeroed record:
// 0, or the code that keeps the input from being described.
int ReplayGainOf(VorlixFile *f, VorlixFileReplayGain &gain)
{
    if (const int r = Describe(f); r < 0 && r != VF_ENOTAUDIO)
        return r;
    const auto number = [&](const char *key, int &has, double &value) {
        const char *text = vf_tag(f, key);
        char *end = nullptr;
        if (text == nullptr)
            return;
        const double v = std::strtod(text, &end);
        if (end != text && std::isfinite(v)) {
            value = v;
            has = 1;
        }
    };
    int peak = 0;
    number("REPLAYGAIN_TRACK_GAIN", gain.has_track, gain.track_gain);
    number("REPLAYGAIN_TRACK_PEAK", peak, gain.track_peak);
    number("REPLAYGAIN_ALBUM_GAIN", gain.has_album, gain.album_gain);
    number("REPLAYGAIN_ALBUM_PEAK", peak, gain.album_peak);
    const HeaderFrame &h = f->decoder.Header();
    if (!gain.has_track && h.hasTrackGain) {
        gain.has_track = 1;
        gain.track_gain = h.trackGain;
        gain.track_peak = h.peak;
    }
    if (!gain.has_album && h.hasAlbumGain) {
        gain.has_album = 1;
        gain.album_gain = h.albumGain;
        gain.album_peak = h.peak;
    }
    return 0;
}

// The ReplayGain of the mode, in whole dB (halves away from zero); 0 when
// there is none.
int GainDb(VorlixFile *f)
{
    if (f->gainMode == VF_REPLAYGAIN_OFF)
        return 0;
    VorlixFileReplayGain g{};
    ReplayGainOf(f, g);
    double db = 0;
    if (f->gainMode == VF_REPLAYGAIN_ALBUM)
        db = g.has_album ? g.album_gain : g.has_track ? g.track_gain : 0;
    else
        db = g.has_track ? g.track_gain : g.has_album ? g.album_gain : 0;
    return static_cast<int>(std::lround(db));
}

// The equalizer as the handle has it, ReplayGain added to the preamp.
void ApplyEqualizer(VorlixFile *f)
{
    const int gain = GainDb(f) + (f->gainMode != VF_REPLAYGAIN_OFF ? f->gainExtra : 0);
    if (gain == 0) {
        f->decoder.SetEqualizer(f->eq, f->eq ? f->bands : nullptr);
        return;
    }
    int8_t bands[11] = {};
    if (f->eq)
        std::memcpy(bands, f->bands, sizeof bands);
    bands[10] = static_cast<int8_t>(std::clamp(bands[10] + gain, -128, 127));
    f->decoder.SetEqualizer(true, bands);
}

int StartDecoding(VorlixFile *f)
{
    if (f->started)
        return 0;
    const int r = Describe(f);
    if (r < 0)
        return r;
    f->decoder.SetOutput(f->rateRequest, f->stereo);
    if (!f->decoder.Start(false, nullptr))
        return VF_EREAD;
    ApplyEqualizer(f);
    const HeaderFrame &h = f->decoder.Header();
    f->trim = f->gapless && h.Gapless() ? Trim(h.delay, h.padding, f->facts.rate, f->decoder.Rate()) : GaplessTrim{};
    f->timeline = Timeline(f->trim.start, UINT64_MAX, f->trim.end, f->decoder.Channels());
    f->clock = Clock(f, f->decoder.Rate());
    f->started = true;
    return 0;
}

// Decodes until `want` bytes are ready or the stream ends; a code when it
// cannot go on.
int Decode(VorlixFile *f, size_t want)
{
    while (f->ready.size() - f->readyFrom < want && !f->ended) {
        switch (f->decoder.Next(f->frame)) {
        case HostDecoder::Step::NeedInput:
            return VF_ENEEDMORE;
        case HostDecoder::Step::NoAudio:
            f->ended = true;
            f->error = VF_ENOTAUDIO;
            return 0;
        case HostDecoder::Step::End:
            f->ended = true;
            if (f->in->Failed())
                f->error = VF_EREAD;
            else
                f->timeline.Finish(f->decoder.ReachedEnd(), f->ready);
            return 0;
        case HostDecoder::Step::Frame:
            break;
        }
        if (f->readyFrom > (1u << 16)) {
            f->ready.erase(f->ready.begin(), f->ready.begin() + static_cast<long>(f->readyFrom));
            f->readyFrom = 0;
        }
        if (f->frame.formatChanged && f->formatCallback != nullptr) {
            const uint64_t at = f->timeline.Position();
            f->formatCallback(f->formatUser, static_cast<int64_t>(at > f->trim.start ? at - f->trim.start : 0),
                              f->frame.header.sampleRate, f->frame.header.Channels());
        }
        f->timeline.Push(f->frame.number, f->clock.Start(f->frame.number), f->frame.pcm.data(), f->frame.pcm.size(), f->ready);
        f->readyOffset = f->frame.offset;
    }
    return 0;
}

// Hands out `have` samples per channel of the ready ones.
void Take(VorlixFile *f, int16_t *pcm, size_t have)
{
    // little-endian bytes to native samples
    const size_t values = have * static_cast<size_t>(f->decoder.Channels());
    const uint8_t *p = f->ready.data() + f->readyFrom;
    for (size_t i = 0; i < values; ++i)
        pcm[i] = static_cast<int16_t>(p[2 * i] | (p[2 * i + 1] << 8));
    f->readyFrom += 2 * values;
    f->position += static_cast<int64_t>(have);
}

int ModeOf(ChannelMode m)
{
    switch (m) {
    case ChannelMode::Stereo:
        return VF_MODE_STEREO;
    case ChannelMode::Joint:
        return VF_MODE_JOINT;
    case ChannelMode::Dual:
        return VF_MODE_DUAL;
    default:
        return VF_MODE_MONO;
    }
}

// Fills the host's record, as far as its size reaches.
void FillInfo(VorlixFile *f, VorlixFileInfo *host)
{
    VorlixFileInfo full{};
    VorlixFileInfo *info = &full;
    const FrameHeader &first = f->decoder.First();
    const HeaderFrame &h = f->decoder.Header();
    info->version = first.version == MpegVersion::Mpeg1 ? 10 : first.version == MpegVersion::Mpeg2 ? 20 : 25;
    info->layer = first.layer;
    info->rate = first.sampleRate;
    info->channels = first.Channels();
    info->mode = ModeOf(f->decoder.AudioFirst().mode);
    info->bitrate_mode = static_cast<int>(f->facts.mode);
    info->bitrate = f->facts.bitrate;
    info->frames = f->facts.known ? static_cast<int64_t>(f->facts.frames) : -1;
    info->samples = Length(f, f->facts.rate);
    std::snprintf(info->encoder, sizeof info->encoder, "%s", h.encoder.c_str());
    info->delay = h.Gapless() ? h.delay : -1;
    info->padding = h.Gapless() ? h.padding : -1;
    info->trim_start = static_cast<int>(f->facts.trim.start);
    info->trim_end = static_cast<int>(f->facts.trim.end);
    info->header = static_cast<int>(h.kind);
    info->gapless_source = f->smpb ? 2 : h.Gapless() ? 1 : 0;
    info->audio_offset = f->decoder.Reader().FirstFrame();
    CopyOut(host, full);
}

} // namespace

// Each call that may allocate turns out of memory into VF_EFAULT (a null
// handle for the openings): no exception crosses the C interface.
extern "C" {

VORLIXFILE_API const char *vf_strerror(int error)
{
    switch (error) {
    case 0:
        return "success";
    case VF_EREAD:
        return "the input cannot be read";
    case VF_EFAULT:
        return "out of memory";
    case VF_EINVAL:
        return "invalid argument";
    case VF_ENOTAUDIO:
        return "no MPEG audio frames found";
    case VF_ENOSEEK:
        return "the input cannot seek";
    case VF_EBADPOS:
        return "position past the end of the stream";
    case VF_EOPEN:
        return "the file cannot be opened";
    case VF_ENEEDMORE:
        return "more input is needed";
    case VF_ELATE:
        return "the output is fixed once reading has begun";
    case VF_ENOPICTURE:
        return "the tags hold no picture";
    default:
        return "unknown error";
    }
}

VORLIXFILE_API VorlixFile *vf_open_file(const char *path, int *error)
try {
    if (path == nullptr) {
        SetError(error, VF_EINVAL);
        return nullptr;
    }
    if (std::strcmp(path, "-") == 0)
        return Opened(std::make_unique<FdSource>(STDIN_FILENO, false), path, error);
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        SetError(error, VF_EOPEN);
        return nullptr;
    }
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        close(fd);
        errno = EISDIR;
        SetError(error, VF_EOPEN);
        return nullptr;
    }
    return Opened(std::make_unique<FdSource>(fd, true), path, error);
} catch (const std::bad_alloc &) {
    SetError(error, VF_EFAULT);
    return nullptr;
}

VORLIXFILE_API VorlixFile *vf_open_fd(int fd, int *error)
try {
    if (fd < 0) {
        SetError(error, VF_EINVAL);
        return nullptr;
    }
    return Opened(std::make_unique<FdSource>(fd, false), "", error);
} catch (const std::bad_alloc &) {
    SetError(error, VF_EFAULT);
    return nullptr;
}

VORLIXFILE_API VorlixFile *vf_open_memory(const unsigned char *data, size_t size, int *error)
try {
    if (data == nullptr && size != 0) {
        SetError(error, VF_EINVAL);
        return nullptr;
    }
    static const unsigned char none = 0;
    return Opened(std::make_unique<MemorySource>(data != nullptr ? data : &none, size), "", error);
} catch (const std::bad_alloc &) {
    SetError(error, VF_EFAULT);
    return nullptr;
}

VORLIXFILE_API VorlixFile *vf_open_callbacks(void *source, const VorlixFileCallbacks *callbacks, int *error)
try {
    if (callbacks == nullptr || !SizeAccepted(callbacks, firstCallbacksSize)) {
        SetError(error, VF_EINVAL);
        return nullptr;
    }
    const auto own = CopyIn<VorlixFileCallbacks>(callbacks);
    if (own.read == nullptr) {
        SetError(error, VF_EINVAL);
        return nullptr;
    }
    auto callbackSource = std::make_unique<CallbackSource>(source, own);
    CallbackSource *opened = callbackSource.get();
    VorlixFile *f = Opened(std::move(callbackSource), "", error);
    // a handle that failed to open leaves the host's source to the host
    if (f != nullptr)
        opened->CloseAtEnd();
    return f;
} catch (const std::bad_alloc &) {
    SetError(error, VF_EFAULT);
    return nullptr;
}

VORLIXFILE_API VorlixFile *vf_open_push(int *error)
try {
    return Opened(std::make_unique<PushSource>(), "", error);
} catch (const std::bad_alloc &) {
    SetError(error, VF_EFAULT);
    return nullptr;
}

VORLIXFILE_API VorlixFile *vf_open_frames(int *error)
try {
    return Opened(std::make_unique<PushSource>(true), "", error);
} catch (const std::bad_alloc &) {
    SetError(error, VF_EFAULT);
    return nullptr;
}

VORLIXFILE_API int vf_feed(VorlixFile *f, const unsigned char *data, size_t n)
try {
    if (f == nullptr || f->push == nullptr || (data == nullptr && n != 0) || f->push->Ended())
        return VF_EINVAL;
    f->push->Feed(data, n);
    return 0;
} catch (const std::bad_alloc &) {
    return VF_EFAULT;
}

VORLIXFILE_API int vf_feed_end(VorlixFile *f)
{
    if (f == nullptr || f->push == nullptr)
        return VF_EINVAL;
    f->push->End();
    return 0;
}

VORLIXFILE_API void vf_free(VorlixFile *f)
{
    delete f;
}

VORLIXFILE_API int vf_info(VorlixFile *f, VorlixFileInfo *info)
try {
    if (f == nullptr || info == nullptr || !SizeAccepted(info, firstInfoSize))
        return VF_EINVAL;
    if (const int r = Describe(f); r < 0)
        return r;
    FillInfo(f, info);
    return 0;
} catch (const std::bad_alloc &) {
    return VF_EFAULT;
}

VORLIXFILE_API int vf_tag_count(VorlixFile *f)
try {
    if (f == nullptr)
        return 0;
    Describe(f);
    return static_cast<int>(f->pairs.size());
} catch (const std::bad_alloc &) {
    return 0;
}

VORLIXFILE_API const char *vf_tag_key(VorlixFile *f, int i)
{
    if (f == nullptr || i < 0 || static_cast<size_t>(i) >= f->pairs.size())
        return nullptr;
    return f->pairs[static_cast<size_t>(i)].first.c_str();
}

VORLIXFILE_API const char *vf_tag_value(VorlixFile *f, int i)
{
    if (f == nullptr || i < 0 || static_cast<size_t>(i) >= f->pairs.size())
        return nullptr;
    return f->pairs[static_cast<size_t>(i)].second.c_str();
}

VORLIXFILE_API const char *vf_tag(VorlixFile *f, const char *key)
try {
    if (f == nullptr || key == nullptr)
        return nullptr;
    Describe(f);
    for (const auto &[k, v] : f->pairs)
        if (strcasecmp(k.c_str(), key) == 0)
            return v.c_str();
    return nullptr;
} catch (const std::bad_alloc &) {
    return nullptr;
}

VORLIXFILE_API int vf_replaygain(VorlixFile *f, VorlixFileReplayGain *gain)
try {
    if (f == nullptr || gain == nullptr || !SizeAccepted(gain, firstGainSize))
        return VF_EINVAL;
    VorlixFileReplayGain g{};
    const int r = ReplayGainOf(f, g);
    CopyOut(gain, g);
    return r;
} catch (const std::bad_alloc &) {
    return VF_EFAULT;
}

VORLIXFILE_API int vf_picture(VorlixFile *f, const char **mime, const unsigned char **data, size_t *size)
try {
    if (f == nullptr || mime == nullptr || data == nullptr || size == nullptr)
        return VF_EINVAL;
    if (const int r = Describe(f); r < 0 && r != VF_ENOTAUDIO)
        return r;
    if (f->tags.picture.empty())
        return VF_ENOPICTURE;
    *mime = f->tags.pictureMime.c_str();
    *data = f->tags.picture.data();
    *size = f->tags.picture.size();
    return 0;
} catch (const std::bad_alloc &) {
    return VF_EFAULT;
}

VORLIXFILE_API int vf_set_output(VorlixFile *f, int rate, int stereo)
{
    if (f == nullptr)
        return VF_EINVAL;
    bool offered = rate == 0;
    for (int i = 0; i < vf_rate_count() && !offered; ++i)
        offered = vf_rate_at(i) == rate;
    if (!offered)
        return VF_EINVAL;
    if (f->started)
        return VF_ELATE;
    f->rateRequest = rate;
    f->stereo = stereo != 0;
    return 0;
}

VORLIXFILE_API int vf_rate(VorlixFile *f)
try {
    if (f == nullptr)
        return VF_EINVAL;
    if (const int r = Describe(f); r < 0)
        return r;
    return f->rateRequest != 0 ? f->rateRequest : f->decoder.First().sampleRate;
} catch (const std::bad_alloc &) {
    return VF_EFAULT;
}

VORLIXFILE_API int vf_channels(VorlixFile *f)
try {
    if (f == nullptr)
        return VF_EINVAL;
    if (const int r = Describe(f); r < 0)
        return r;
    return f->stereo ? 2 : f->decoder.First().Channels();
} catch (const std::bad_alloc &) {
    return VF_EFAULT;
}

VORLIXFILE_API int vf_set_gapless(VorlixFile *f, int on)
try {
    if (f == nullptr)
        return VF_EINVAL;
    if (f->started)
        return VF_ELATE;
    f->gapless = on != 0;
    if (f->open)
        f->facts = ::Describe(f->decoder, f->in->Seekable() ? &f->index : nullptr, f->gapless);
    return 0;
} catch (const std::bad_alloc &) {
    return VF_EFAULT;
}

VORLIXFILE_API int vf_set_equalizer(VorlixFile *f, const int8_t *bands)
{
    if (f == nullptr)
        return VF_EINVAL;
    f->eq = bands != nullptr;
    if (bands != nullptr)
        std::memcpy(f->bands, bands, sizeof f->bands);
    if (f->started)
        ApplyEqualizer(f);
    return 0;
}

VORLIXFILE_API int vf_set_replaygain(VorlixFile *f, int mode, int extra_db)
{
    if (f == nullptr || mode < VF_REPLAYGAIN_OFF || mode > VF_REPLAYGAIN_ALBUM || extra_db < -60 || extra_db > 60)
        return VF_EINVAL;
    f->gainMode = mode;
    f->gainExtra = extra_db;
    if (f->started)
        ApplyEqualizer(f);
    return 0;
}

VORLIXFILE_API int vf_set_format_callback(VorlixFile *f, VorlixFileFormatCallback callback, void *user)
{
    if (f == nullptr)
        return VF_EINVAL;
    f->formatCallback = callback;
    f->formatUser = user;
    return 0;
}

VORLIXFILE_API int vf_read(VorlixFile *f, int16_t *pcm, int samples)
try {
    if (f == nullptr || pcm == nullptr || samples < 0)
        return VF_EINVAL;
    // nothing asked: not a read, so the output can still be chosen
    if (samples == 0)
        return 0;
    if (const int r = StartDecoding(f); r < 0)
        return r;
    const size_t frameBytes = 2 * static_cast<size_t>(f->decoder.Channels());
    const size_t want = static_cast<size_t>(samples) * frameBytes;
    const int r = Decode(f, want);
    const size_t have = std::min(want, f->ready.size() - f->readyFrom) / frameBytes;
    if (have == 0)
        return r < 0 ? r : f->error;
    Take(f, pcm, have);
    return static_cast<int>(have);
} catch (const std::bad_alloc &) {
    return VF_EFAULT;
}

VORLIXFILE_API int vf_read_frame(VorlixFile *f, int16_t *pcm, int samples, int64_t *offset)
try {
    if (f == nullptr || pcm == nullptr || samples < 0)
        return VF_EINVAL;
    if (samples == 0)
        return 0;
    if (const int r = StartDecoding(f); r < 0)
        return r;
    const size_t frameBytes = 2 * static_cast<size_t>(f->decoder.Channels());
    // the rest of the frame read last, or the next frame with samples
    const int r = f->ready.size() == f->readyFrom ? Decode(f, 1) : 0;
    const size_t have = std::min(static_cast<size_t>(samples) * frameBytes, f->ready.size() - f->readyFrom) / frameBytes;
    if (have == 0)
        return r < 0 ? r : f->error;
    if (offset != nullptr)
        *offset = f->readyOffset;
    Take(f, pcm, have);
    return static_cast<int>(have);
} catch (const std::bad_alloc &) {
    return VF_EFAULT;
}

VORLIXFILE_API int vf_seek(VorlixFile *f, int64_t sample)
try {
    if (f == nullptr || sample < 0)
        return VF_EINVAL;
    if (const int r = StartDecoding(f); r < 0)
        return r;
    if (!f->in->Seekable() || f->index.Frames() == 0)
        return VF_ENOSEEK;
    const int64_t length = vf_length(f);
    if (length >= 0 && sample > length)
        return VF_EBADPOS;
    const uint64_t target = f->trim.start + static_cast<uint64_t>(sample);
    if (!f->decoder.SeekToFrame(f->index, f->clock.FrameAt(target)))
        return VF_EREAD;
    f->timeline = Timeline(target, UINT64_MAX, f->trim.end, f->decoder.Channels());
    f->ready.clear();
    f->readyFrom = 0;
    f->ended = false;
    f->error = 0;
    f->position = sample;
    return 0;
} catch (const std::bad_alloc &) {
    return VF_EFAULT;
}

VORLIXFILE_API int64_t vf_tell(VorlixFile *f)
{
    return f != nullptr ? f->position : int64_t{VF_EINVAL};
}

VORLIXFILE_API int64_t vf_length(VorlixFile *f)
try {
    if (f == nullptr)
        return VF_EINVAL;
    if (Describe(f) != 0)
        return -1;
    return Length(f, vf_rate(f));
} catch (const std::bad_alloc &) {
    return VF_EFAULT;
}

VORLIXFILE_API int vf_scan_stream(VorlixFile *f)
try {
    if (f == nullptr)
        return VF_EINVAL;
    if (const int r = Describe(f); r < 0)
        return r;
    if (f->started)
        return VF_ELATE;
    if (!f->in->Seekable() && !f->facts.scanned) {
        f->decoder.Scan(f->index);
        f->started = true;  // the stream is read: only describing is left
        f->ended = true;
        // a count cut short by a failed read is no length
        if (f->in->Failed())
            return f->error = VF_EREAD;
        f->facts = ::Describe(f->decoder, &f->index, f->gapless);
    }
    return 0;
} catch (const std::bad_alloc &) {
    return VF_EFAULT;
}

VORLIXFILE_API int vf_test(VorlixFileInfo *info, const unsigned char *data, size_t size)
try {
    if (info == nullptr || !SizeAccepted(info, firstInfoSize) || (data == nullptr && size != 0))
        return VF_EINVAL;
    auto source = std::make_unique<PushSource>();
    source->Feed(data, size);
    source->End();
    Input in(std::move(source));
    VorlixFile f;
    switch (f.decoder.Open(in, 0)) {
    case HostDecoder::Status::Ok:
        break;
    case HostDecoder::Status::ReadError:
        return VF_EREAD;
    default:
        return VF_ENOTAUDIO;
    }
    f.facts = ::Describe(f.decoder, nullptr, true);
    FillInfo(&f, info);
    return 0;
} catch (const std::bad_alloc &) {
    return VF_EFAULT;
}

} // extern "C"
