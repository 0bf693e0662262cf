// SPDX-License-Identifier: GPL-2.0-or-later
#include "Decode.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <memory>
#include <sys/stat.h>

#include "Display.h"
#include "Info.h"
#include "Io.h"
#include "OutputChoice.h"
#include "Pcm.h"
#include "Progress.h"
#include "vorlixfile.h"

namespace {

// An input's steps return this to go on, an exit status to end there.
constexpr int goOn = -1;

std::string Format(int32_t rate, int32_t channels)
{
    return std::to_string(rate) + " Hz " + (channels == 1 ? "mono" : "stereo");
}

uint64_t Samples(double seconds, int32_t rate)
{
    return static_cast<uint64_t>(std::llround(seconds * rate));
}

// The warnings of a format change, three at the most.
struct FormatWarnings {
    std::string name;
    int32_t rate = 0, channels = 0;
    int count = 0;
    Messages *say = nullptr;
};

void WarnFormat(void *user, int64_t sample, int rate, int channels)
{
    auto *w = static_cast<FormatWarnings *>(user);
    if (++w->count <= 3)
        w->say->Err(Printf("vorlix-decode: warning: %s changes format at %s to %s; the output stays %s\n",
                           Quoted(w->name).c_str(), Clock(static_cast<uint64_t>(sample), w->rate).c_str(),
                           Format(rate, channels).c_str(), Format(w->rate, w->channels).c_str()));
}

// One input on its way through the steps below.
struct Work {
    Work(const Options &options, const std::string &input, Messages &messages)
        : o(options), name(input), say(messages)
    {
    }
    const Options &o;
    const std::string &name;
    Messages &say;
    std::unique_ptr<VorlixFile, decltype(&vf_free)> f{nullptr, vf_free};
    VorlixFileInfo info = VF_INFO_INIT;
    std::string outPath;
    int32_t rate = 0, channels = 0;
    uint64_t skip = 0;  // samples to read past: a start on an input that cannot seek
    FormatWarnings warnings;
    Output out;
};

int OpenInput(Work &w)
{
    int error = 0;
    w.f.reset(vf_open_file(w.name.c_str(), &error));
    const int openErrno = errno;  // what VF_EOPEN means; nothing else is told by errno
    if (w.f == nullptr)
        return w.say.Error(exitInput, InputFailure(Quoted(w.name), error, openErrno));
    vf_set_gapless(w.f.get(), w.o.gapless);
    return goOn;
}

// The stream's description; with --info, printed, and the input is done.
int Describe(Work &w)
{
    if (const int r = vf_info(w.f.get(), &w.info); r != 0) {
        // a file of tags without audio: what it says of itself, then the error
        if (w.o.info)
            w.say.Out(NoAudioText(w.name, Tags(w.f.get()), w.o.json));
        return w.say.Error(exitInput, InputFailure(Quoted(w.name), r, 0));
    }
    if (!w.o.info)
        return goOn;
    // a stream without a frame count in its header frame: count them
    if (w.info.frames < 0) {
        if (const int r = vf_scan_stream(w.f.get()); r < 0)
            return w.say.Error(exitInput, InputFailure(Quoted(w.name), r, 0));
        vf_info(w.f.get(), &w.info);
    }
    w.say.Out(InfoText(w.name, w.info, Tags(w.f.get()), w.o.json));
    return exitOk;
}

// The output's name, or why the input is skipped or refused.
int ChooseOutput(Work &w, const std::vector<std::string> &written)
{
    w.outPath = OutputPath(w.o, w.name);
    struct stat st;
    if (w.o.noClobber && w.outPath != "-" && stat(w.outPath.c_str(), &st) == 0) {
        if (!w.o.quiet)
            w.say.Err(Printable(w.name) + ": " + Quoted(w.outPath) + " exists; skipped\n");
        return exitOk;
    }
    if (const std::string why = Refusal(w.outPath, w.o, written); !why.empty())
        return w.say.Error(w.outPath == "-" ? exitUsage : exitOutput, why);
    return goOn;
}

// Rate, equalizer and the warnings of a format change, and a start that the
// stream holds.
int Configure(Work &w)
{
    VorlixFile *f = w.f.get();
    if (w.o.rate != 0)
        vf_set_output(f, w.o.rate, 0);
    if (w.o.eq)
        vf_set_equalizer(f, w.o.bands);
    w.rate = vf_rate(f);
    w.channels = vf_channels(f);
    const int32_t streamRate = w.info.rate;
    if (w.o.start > 0 && w.info.samples >= 0 &&
        Samples(w.o.start, streamRate) >= static_cast<uint64_t>(w.info.samples))
        return w.say.Error(exitUsage, "start " + Clock(Samples(w.o.start, streamRate), streamRate) +
                                          " is past the end (duration " +
                                          Clock(static_cast<uint64_t>(w.info.samples), streamRate) + ")");
    w.warnings = {w.name, w.rate, w.channels, 0, &w.say};
    vf_set_format_callback(f, WarnFormat, &w.warnings);
    return goOn;
}

// The start: sought to the sample where the input can seek, read past on a stream.
int SeekToStart(Work &w)
{
    if (w.o.start <= 0)
        return goOn;
    const int r = vf_seek(w.f.get(), static_cast<int64_t>(Samples(w.o.start, w.rate)));
    if (r == VF_ENOSEEK)
        w.skip = Samples(w.o.start, w.rate);
    else if (r == VF_EREAD)
        return w.say.Error(exitInput, InputFailure(Quoted(w.name), r, 0));
    else if (r != 0)
        return w.say.Error(exitInput, "cannot seek in " + Quoted(w.name));
    return goOn;
}

int CannotWrite(Work &w)
{
    const int saved = errno;
    w.out.Abandon();
    return w.say.Error(exitOutput, "cannot write " + Quoted(w.outPath) + ": " + SystemError(saved));
}

int OpenOutput(Work &w)
{
    return w.out.Open(w.outPath, w.o.raw, w.channels, w.rate) ? goOn : CannotWrite(w);
}

uint64_t Written(const Work &w)
{
    return w.out.DataBytes() / (2u * static_cast<unsigned>(w.channels));
}

// Reads the handle and writes its samples, up to the duration asked for;
// the handle is closed at the end. A read's error code, or 0.
int Transfer(Work &w, bool &writeFailed)
{
    const uint64_t start = Samples(w.o.start, w.rate);
    const int64_t length = vf_length(w.f.get());
    const uint64_t total = length >= 0 ? static_cast<uint64_t>(length) : 0;
    Progress progress(!w.o.quiet, w.o.duration ? Samples(*w.o.duration, w.rate) : total > start ? total - start : 0,
                      w.rate, w.say);
    uint64_t left = w.o.duration ? Samples(*w.o.duration, w.rate) : UINT64_MAX;
    constexpr int chunk = 4096;
    std::vector<int16_t> pcm(static_cast<size_t>(chunk) * static_cast<size_t>(w.channels));
    std::vector<uint8_t> bytes;
    int readError = 0;
    while (left > 0) {
        const uint64_t want = std::min<uint64_t>(w.skip > 0 ? w.skip : left, chunk);
        const int n = vf_read(w.f.get(), pcm.data(), static_cast<int>(want));
        if (n <= 0) {
            readError = n;
            break;
        }
        if (w.skip > 0) {
            w.skip -= static_cast<uint64_t>(n);
            continue;
        }
        LittleEndian(pcm.data(), static_cast<size_t>(n) * static_cast<size_t>(w.channels), bytes);
        if (!w.out.Write(bytes.data(), bytes.size())) {
            writeFailed = true;
            break;
        }
        left -= static_cast<uint64_t>(n);
        progress.Update(Written(w));
    }
    w.f.reset();
    progress.Update(Written(w), true);
    return readError;
}

// The output completed, or abandoned after a failure, and said so.
int Conclude(Work &w, int readError, bool writeFailed)
{
    if (readError < 0) {
        w.out.Abandon();
        return w.say.Error(exitInput, InputFailure(Quoted(w.name), readError, 0));
    }
    if (writeFailed || !w.out.Finish())
        return CannotWrite(w);
    if (!w.o.quiet)
        w.say.Err(Printf("%s: %s, %s -> %s\n", Printable(w.name).c_str(), Format(w.rate, w.channels).c_str(),
                         Clock(Written(w), w.rate).c_str(),
                         w.outPath == "-" ? "standard output" : Printable(w.outPath).c_str()));
    return exitOk;
}

} // namespace

int DecodeInput(const Options &o, const std::string &name, const std::vector<std::string> &written, Messages &say)
{
    Work w{o, name, say};
    for (int (*step)(Work &) : {OpenInput, Describe})
        if (const int status = step(w); status != goOn)
            return status;
    if (const int status = ChooseOutput(w, written); status != goOn)
        return status;
    for (int (*step)(Work &) : {Configure, SeekToStart, OpenOutput})
        if (const int status = step(w); status != goOn)
            return status;
    bool writeFailed = false;
    const int readError = Transfer(w, writeFailed);
    return Conclude(w, readError, writeFailed);
}
