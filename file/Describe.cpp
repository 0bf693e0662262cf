// SPDX-License-Identifier: GPL-2.0-or-later
// What a handle says of its input: the stream found and described, its
// length, the tags, ReplayGain and picture.
#include "vorlixfile.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <strings.h>
#include <string>
#include <utility>

#include "Handle.h"
#include "HostDecoder.h"
#include "Input.h"
#include "SizedRecord.h"
#include "Source.h"
#include "StreamFacts.h"
#include "TagInfo.h"
#include "format/Timeline.h"

namespace {

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

FrameClock Clock(VorlixFile *f, int32_t rate)
{
    if (f->facts.scanned && f->index.Frames() > 0)
        return FrameClock(rate, f->index);
    const FrameHeader &first = f->decoder.AudioFirst();
    return FrameClock(rate, first.sampleRate, first.SamplesPerFrame());
}

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

extern "C" {

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
