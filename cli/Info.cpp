// SPDX-License-Identifier: GPL-2.0-or-later
#include "Info.h"

#include <cstdio>
#include <utility>

#include "Display.h"
#include "Messages.h"

namespace {

const char *ModeText(int mode)
{
    switch (mode) {
    case VF_BITRATE_CBR:
        return "CBR";
    case VF_BITRATE_ABR:
        return "ABR";
    case VF_BITRATE_VBR:
        return "VBR";
    default:
        return "unknown";
    }
}

const char *VersionText(int version)
{
    return version == 10 ? "MPEG-1" : version == 20 ? "MPEG-2" : "MPEG-2.5";
}

const char *LayerText(int layer)
{
    return layer == 1 ? "Layer I" : layer == 2 ? "Layer II" : "Layer III";
}

const char *ChannelModeText(int mode)
{
    switch (mode) {
    case VF_MODE_STEREO:
        return "stereo";
    case VF_MODE_JOINT:
        return "joint stereo";
    case VF_MODE_DUAL:
        return "dual channel";
    default:
        return "mono";
    }
}

// The tags: lines of text, or the "tags" member of the JSON object.
std::string TagsText(const TagInfo &tags, bool json)
{
    const std::pair<const char *, const std::string *> fields[] = {
        {"title", &tags.title}, {"artist", &tags.artist}, {"album", &tags.album}, {"year", &tags.year},
        {"track", &tags.track}, {"genre", &tags.genre},   {"comment", &tags.comment}};
    std::string text = json ? "\"tags\": {" : "";
    const char *separator = "";
    for (const auto &[name, value] : fields) {
        if (value->empty())
            continue;
        if (json) {
            text += Printf("%s\"%s\": %s", separator, name, JsonString(*value).c_str());
            separator = ", ";
            continue;
        }
        char label[16];
        std::snprintf(label, sizeof label, "%c%s:", name[0] - 'a' + 'A', name + 1);
        text += Printf("%-9s %s\n", label, Printable(*value).c_str());
    }
    if (json)
        text += "}";
    return text;
}

std::string JsonInfo(const std::string &name, const VorlixFileInfo &f, const TagInfo &tags)
{
    std::string text = Printf(
        "{\"input\": %s, \"version\": %s, \"layer\": %d, \"sample_rate\": %d, \"channels\": %d, "
        "\"mode\": %s, \"bitrate_mode\": %s, \"bitrate\": %d, ",
        JsonString(name).c_str(), JsonString(VersionText(f.version)).c_str(), f.layer, f.rate, f.channels,
        JsonString(ChannelModeText(f.mode)).c_str(), JsonString(ModeText(f.bitrate_mode)).c_str(), f.bitrate);
    if (f.frames >= 0)
        text += Printf("\"frames\": %llu, \"samples\": %llu, \"duration\": %.3f, ",
                       static_cast<unsigned long long>(f.frames), static_cast<unsigned long long>(f.samples),
                       static_cast<double>(f.samples) / f.rate);
    else
        text += "\"frames\": null, \"samples\": null, \"duration\": null, ";
    text += Printf("\"encoder\": %s, ", f.encoder[0] == 0 ? "null" : JsonString(f.encoder).c_str());
    if (f.delay >= 0)
        text += Printf("\"encoder_delay\": %d, \"encoder_padding\": %d, \"trim_start\": %llu, \"trim_end\": %llu, ",
                       f.delay, f.padding, static_cast<unsigned long long>(f.trim_start),
                       static_cast<unsigned long long>(f.trim_end));
    else
        text += "\"encoder_delay\": null, \"encoder_padding\": null, \"trim_start\": 0, \"trim_end\": 0, ";
    return text + TagsText(tags, true) + "}\n";
}

} // namespace

TagInfo Tags(VorlixFile *f)
{
    const auto get = [f](const char *key) {
        const char *v = vf_tag(f, key);
        return std::string(v != nullptr ? v : "");
    };
    return {get("TITLE"), get("ARTIST"), get("ALBUM"), get("DATE"), get("TRACKNUMBER"), get("GENRE"), get("COMMENT")};
}

std::string InfoText(const std::string &name, const VorlixFileInfo &f, const TagInfo &tags, bool json)
{
    if (json)
        return JsonInfo(name, f, tags);
    std::string text = Printf("Input:    %s\n", Printable(name).c_str());
    text += Printf("Format:   %s %s, %d Hz, %s\n", VersionText(f.version), LayerText(f.layer), f.rate,
                   ChannelModeText(f.mode));
    text += Printf("Bit rate: %s, %d kbit/s%s\n", ModeText(f.bitrate_mode), f.bitrate / 1000,
                   f.bitrate_mode == VF_BITRATE_VBR || f.bitrate_mode == VF_BITRATE_ABR ? " average" : "");
    if (f.frames >= 0) {
        text += Printf("Frames:   %llu\n", static_cast<unsigned long long>(f.frames));
        text += Printf("Duration: %s (%llu samples)\n", Clock(static_cast<uint64_t>(f.samples), f.rate).c_str(),
                       static_cast<unsigned long long>(f.samples));
    }
    if (f.encoder[0] != 0)
        text += Printf("Encoder:  %s\n", f.encoder);
    if (f.delay >= 0)
        text += Printf("Gapless:  delay %d, padding %d samples; trims %llu at the start, %llu at the end\n", f.delay,
                       f.padding, static_cast<unsigned long long>(f.trim_start),
                       static_cast<unsigned long long>(f.trim_end));
    return text + TagsText(tags, false);
}

std::string NoAudioText(const std::string &name, const TagInfo &tags, bool json)
{
    if (json)
        return Printf("{\"input\": %s, \"audio\": false, ", JsonString(name).c_str()) + TagsText(tags, true) + "}\n";
    return Printf("Input:    %s\nAudio:    none\n", Printable(name).c_str()) + TagsText(tags, false);
}
