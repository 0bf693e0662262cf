// SPDX-License-Identifier: GPL-2.0-or-later
// The binary interface of libvorlixfile as hosts built against other
// versions of its header meet it: the records that grow, read and filled
// only as far as the host's size says; the version; the public tables of
// output rates and equalizer curves, as the programs document them.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "vorlixfile.h"

namespace {

// The records as version 2.0 laid them out, the first with a size field: a
// host built against that header holds exactly these, whatever the header
// of the library it runs with has added since.
struct InfoV2 {
    size_t size;
    int version, layer, rate, channels, mode, bitrate_mode, bitrate;
    int64_t frames, samples;
    char encoder[16];
    int delay, padding, trim_start, trim_end, header, gapless_source;
    int64_t audio_offset;
    int64_t reserved[4];
};

struct GainV2 {
    size_t size;
    int has_track, has_album;
    double track_gain, track_peak, album_gain, album_peak;
    double reserved[2];
};

struct CallbacksV2 {
    size_t size;
    long (*read)(void *source, unsigned char *buffer, size_t n);
    int (*seek)(void *source, int64_t offset, int whence);
    int64_t (*tell)(void *source);
    int (*close)(void *source);
};

static_assert(sizeof(InfoV2) <= sizeof(VorlixFileInfo) && sizeof(GainV2) <= sizeof(VorlixFileReplayGain) &&
                  sizeof(CallbacksV2) <= sizeof(VorlixFileCallbacks),
              "the records only grow");

constexpr unsigned char guardByte = 0xA5;

// A host's record of `size` bytes, its size field set, followed by guard
// bytes; the rest of it holds the guard pattern too, so that what the
// library leaves alone can be told from what it fills.
struct Guarded {
    std::vector<unsigned char> bytes;
    size_t size;

    Guarded(size_t recordSize, size_t declared) : bytes(recordSize + 64, guardByte), size(recordSize)
    {
        std::memcpy(bytes.data(), &declared, sizeof declared);
    }
    void *Record() { return bytes.data(); }
    size_t Declared() const
    {
        size_t s;
        std::memcpy(&s, bytes.data(), sizeof s);
        return s;
    }
    // Whether every byte from `from` on still holds the guard.
    bool UntouchedFrom(size_t from) const
    {
        for (size_t i = from; i < bytes.size(); ++i)
            if (bytes[i] != guardByte)
                return false;
        return true;
    }
};

using File = std::unique_ptr<VorlixFile, void (*)(VorlixFile *)>;

File Open(const char *name)
{
    return File(vf_open_file((std::string(VORLIX_TEST_DATA) + "/" + name).c_str(), nullptr), vf_free);
}

std::vector<unsigned char> Bytes(const char *name)
{
    std::ifstream in(std::string(VORLIX_TEST_DATA) + "/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// A stream with a header frame, gapless trims and an encoder, behind an
// ID3v2.3 tag that gives its ReplayGain (TXXX frames): every field filled.
const std::vector<unsigned char> &Described()
{
    static const std::vector<unsigned char> bytes = [] {
        std::vector<unsigned char> body;
        for (const std::string &text : {std::string("\0REPLAYGAIN_TRACK_GAIN\0-6.40 dB", 31),
                                       std::string("\0REPLAYGAIN_ALBUM_GAIN\0-7.50 dB", 31),
                                       std::string("\0REPLAYGAIN_TRACK_PEAK\00.988", 28)}) {
            const unsigned char header[10] = {'T', 'X', 'X', 'X', 0, 0, 0, static_cast<unsigned char>(text.size()), 0, 0};
            body.insert(body.end(), header, header + 10);
            body.insert(body.end(), text.begin(), text.end());
        }
        std::vector<unsigned char> tagged = {'I', 'D', '3', 3, 0, 0, 0, 0, static_cast<unsigned char>(body.size() >> 7),
                                             static_cast<unsigned char>(body.size() & 0x7f)};
        tagged.insert(tagged.end(), body.begin(), body.end());
        const std::vector<unsigned char> audio = Bytes("mpeg1-44100-stereo.mp3");
        tagged.insert(tagged.end(), audio.begin(), audio.end());
        return tagged;
    }();
    return bytes;
}

File OpenDescribed()
{
    return File(vf_open_memory(Described().data(), Described().size(), nullptr), vf_free);
}

void ExpectSameInfo(const InfoV2 &old, const VorlixFileInfo &now)
{
    EXPECT_EQ(old.version, now.version);
    EXPECT_EQ(old.layer, now.layer);
    EXPECT_EQ(old.rate, now.rate);
    EXPECT_EQ(old.channels, now.channels);
    EXPECT_EQ(old.mode, now.mode);
    EXPECT_EQ(old.bitrate_mode, now.bitrate_mode);
    EXPECT_EQ(old.bitrate, now.bitrate);
    EXPECT_EQ(old.frames, now.frames);
    EXPECT_EQ(old.samples, now.samples);
    EXPECT_STREQ(old.encoder, now.encoder);
    EXPECT_EQ(old.delay, now.delay);
    EXPECT_EQ(old.padding, now.padding);
    EXPECT_EQ(old.trim_start, now.trim_start);
    EXPECT_EQ(old.trim_end, now.trim_end);
    EXPECT_EQ(old.header, now.header);
    EXPECT_EQ(old.gapless_source, now.gapless_source);
    EXPECT_EQ(old.audio_offset, now.audio_offset);
    for (int64_t r : old.reserved)
        EXPECT_EQ(r, 0);
}

// A host built against the 2.0 header gets every field of its record right
// and nothing written past it.
TEST(Abi, AHostWithTheFirstLayoutGetsItsFieldsAndNothingPast)
{
    File f = OpenDescribed();
    ASSERT_NE(f, nullptr);
    VorlixFileInfo now = VF_INFO_INIT;
    ASSERT_EQ(vf_info(f.get(), &now), 0);
    ASSERT_GT(now.delay, 0);  // the fixture fills the fields that matter
    ASSERT_STRNE(now.encoder, "");

    Guarded info(sizeof(InfoV2), sizeof(InfoV2));
    ASSERT_EQ(vf_info(f.get(), static_cast<VorlixFileInfo *>(info.Record())), 0);
    EXPECT_TRUE(info.UntouchedFrom(sizeof(InfoV2)));
    EXPECT_EQ(info.Declared(), sizeof(InfoV2));
    InfoV2 old;
    std::memcpy(&old, info.bytes.data(), sizeof old);
    ExpectSameInfo(old, now);

    const std::vector<unsigned char> &bytes = Described();
    Guarded tested(sizeof(InfoV2), sizeof(InfoV2));
    ASSERT_EQ(vf_test(static_cast<VorlixFileInfo *>(tested.Record()), bytes.data(), bytes.size()), 0);
    EXPECT_TRUE(tested.UntouchedFrom(sizeof(InfoV2)));
    VorlixFileInfo testedNow = VF_INFO_INIT;
    ASSERT_EQ(vf_test(&testedNow, bytes.data(), bytes.size()), 0);
    std::memcpy(&old, tested.bytes.data(), sizeof old);
    ExpectSameInfo(old, testedNow);

    VorlixFileReplayGain gainNow = VF_REPLAYGAIN_INIT;
    ASSERT_EQ(vf_replaygain(f.get(), &gainNow), 0);
    ASSERT_TRUE(gainNow.has_track && gainNow.has_album && gainNow.track_peak > 0);
    Guarded gain(sizeof(GainV2), sizeof(GainV2));
    ASSERT_EQ(vf_replaygain(f.get(), static_cast<VorlixFileReplayGain *>(gain.Record())), 0);
    EXPECT_TRUE(gain.UntouchedFrom(sizeof(GainV2)));
    GainV2 oldGain;
    std::memcpy(&oldGain, gain.bytes.data(), sizeof oldGain);
    EXPECT_EQ(oldGain.size, sizeof(GainV2));
    EXPECT_EQ(oldGain.has_track, gainNow.has_track);
    EXPECT_EQ(oldGain.has_album, gainNow.has_album);
    EXPECT_EQ(oldGain.track_gain, gainNow.track_gain);
    EXPECT_EQ(oldGain.track_peak, gainNow.track_peak);
    EXPECT_EQ(oldGain.album_gain, gainNow.album_gain);
    EXPECT_EQ(oldGain.album_peak, gainNow.album_peak);
}

// A host built against a later header, whose records have fields this
// library does not know: those are left as they were, and the size says how
// much was filled.
TEST(Abi, AHostWithALaterLayoutLearnsWhatWasFilled)
{
    File f = OpenDescribed();
    ASSERT_NE(f, nullptr);
    Guarded info(sizeof(VorlixFileInfo) + 32, sizeof(VorlixFileInfo) + 32);
    ASSERT_EQ(vf_info(f.get(), static_cast<VorlixFileInfo *>(info.Record())), 0);
    EXPECT_EQ(info.Declared(), sizeof(VorlixFileInfo));
    EXPECT_TRUE(info.UntouchedFrom(sizeof(VorlixFileInfo)));
    EXPECT_FALSE(info.UntouchedFrom(sizeof(VorlixFileInfo) - 8));  // its last fields were filled

    Guarded gain(sizeof(VorlixFileReplayGain) + 32, sizeof(VorlixFileReplayGain) + 32);
    ASSERT_EQ(vf_replaygain(f.get(), static_cast<VorlixFileReplayGain *>(gain.Record())), 0);
    EXPECT_EQ(gain.Declared(), sizeof(VorlixFileReplayGain));
    EXPECT_TRUE(gain.UntouchedFrom(sizeof(VorlixFileReplayGain)));
}

struct Memory {
    std::vector<unsigned char> bytes;
    size_t at = 0;
};

long MemoryRead(void *source, unsigned char *buffer, size_t n)
{
    auto *m = static_cast<Memory *>(source);
    const size_t take = std::min(n, m->bytes.size() - m->at);
    std::memcpy(buffer, m->bytes.data() + m->at, take);
    m->at += take;
    return static_cast<long>(take);
}

int MemorySeek(void *source, int64_t offset, int whence)
{
    auto *m = static_cast<Memory *>(source);
    const int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? static_cast<int64_t>(m->at)
                                                                     : static_cast<int64_t>(m->bytes.size());
    if (base + offset < 0 || base + offset > static_cast<int64_t>(m->bytes.size()))
        return -1;
    m->at = static_cast<size_t>(base + offset);
    return 0;
}

int64_t MemoryTell(void *source)
{
    return static_cast<int64_t>(static_cast<Memory *>(source)->at);
}

// The samples a handle reads to its end.
std::vector<int16_t> ReadAll(VorlixFile *f)
{
    std::vector<int16_t> pcm, block(4096 * 2);
    int n;
    while ((n = vf_read(f, block.data(), 4096)) > 0)
        pcm.insert(pcm.end(), block.begin(), block.begin() + n * vf_channels(f));
    EXPECT_EQ(n, 0);
    return pcm;
}

// Callbacks from a host of the first layout, and from one of a later layout
// with bytes past this library's fields, decode as a file does; the record
// may go away once the open returns (the handle keeps its own copy).
TEST(Abi, CallbacksOfEveryLayoutAreReadAsFarAsKnown)
{
    const char *name = "mpeg1-44100-stereo.mp3";
    File file = Open(name);
    ASSERT_NE(file, nullptr);
    const std::vector<int16_t> expected = ReadAll(file.get());
    ASSERT_FALSE(expected.empty());

    for (size_t size : {sizeof(CallbacksV2), sizeof(VorlixFileCallbacks) + 24}) {
        SCOPED_TRACE(size);
        auto record = std::make_unique<Guarded>(size, size);
        const CallbacksV2 callbacks = {size, MemoryRead, MemorySeek, MemoryTell, nullptr};
        std::memcpy(record->Record(), &callbacks, sizeof callbacks);
        Memory m{Bytes(name)};
        int error = -1;
        File f(vf_open_callbacks(&m, static_cast<VorlixFileCallbacks *>(record->Record()), &error), vf_free);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(error, 0);
        record.reset();
        EXPECT_EQ(vf_seek(f.get(), 0), 0);  // seekable: its seek and tell were taken
        EXPECT_EQ(ReadAll(f.get()), expected);
    }
}

// Each way a record reaches the library, with a size of the given bytes:
// the call's result.
struct SizedCall {
    const char *name;
    size_t first;  // the size of the 2.0 layout
    std::function<int(void *record)> call;
};

std::vector<SizedCall> SizedCalls()
{
    static const std::vector<unsigned char> &bytes = Described();
    return {
        {"Info", sizeof(InfoV2),
         [](void *r) {
             File f = OpenDescribed();
             return vf_info(f.get(), static_cast<VorlixFileInfo *>(r));
         }},
        {"Test", sizeof(InfoV2),
         [](void *r) { return vf_test(static_cast<VorlixFileInfo *>(r), bytes.data(), bytes.size()); }},
        {"ReplayGain", sizeof(GainV2),
         [](void *r) {
             File f = OpenDescribed();
             return vf_replaygain(f.get(), static_cast<VorlixFileReplayGain *>(r));
         }},
        {"Callbacks", sizeof(CallbacksV2),
         [](void *r) {
             CallbacksV2 c = {0, MemoryRead, MemorySeek, MemoryTell, nullptr};
             std::memcpy(&c.size, r, sizeof c.size);  // the size under test
             std::memcpy(r, &c, sizeof c);
             Memory m{bytes};
             int error = 1;
             File f(vf_open_callbacks(&m, static_cast<VorlixFileCallbacks *>(r), &error), vf_free);
             EXPECT_EQ(f == nullptr, error != 0);
             return error;
         }},
    };
}

struct SizeCase {
    const char *name;
    size_t (*size)(size_t first);
    bool accepted;
};

const SizeCase sizeCases[] = {
    {"Zero", [](size_t) -> size_t { return 0; }, false},
    {"OnlyTheSizeField", [](size_t) { return sizeof(size_t); }, false},
    {"OneByteShort", [](size_t first) { return first - 1; }, false},
    {"TheFirstLayout", [](size_t first) { return first; }, true},
};

class SizeField : public testing::TestWithParam<std::tuple<SizeCase, int>> {};

// A size of 0 (a record never set up) or one smaller than the first layout
// is refused, and the host's record is not written to.
TEST_P(SizeField, TooSmallIsRefusedUntouched)
{
    const auto &[c, which] = GetParam();
    const SizedCall call = SizedCalls()[static_cast<size_t>(which)];
    const size_t size = c.size(call.first);
    Guarded record(call.first, size);
    const int result = call.call(record.Record());
    if (c.accepted) {
        EXPECT_EQ(result, 0);
        EXPECT_TRUE(record.UntouchedFrom(call.first));
    } else {
        EXPECT_EQ(result, VF_EINVAL);
        EXPECT_EQ(record.Declared(), size);
        if (std::string(call.name) != "Callbacks") {  // a record the host filled in itself
            EXPECT_TRUE(record.UntouchedFrom(sizeof(size_t)));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Abi, SizeField, testing::Combine(testing::ValuesIn(sizeCases), testing::Range(0, 4)),
                         [](const testing::TestParamInfo<SizeField::ParamType> &info) {
                             const size_t which = static_cast<size_t>(std::get<1>(info.param));
                             return std::string(SizedCalls()[which].name) + std::get<0>(info.param).name;
                         });

// The header's version is the library's, and the major version is the one in
// the library's file name (its soname).
TEST(Abi, TheVersionIsTheHeadersAndTheSonames)
{
    EXPECT_EQ(vf_version(), VORLIXFILE_VERSION);
    EXPECT_EQ(VORLIXFILE_VERSION,
              VORLIXFILE_VERSION_MAJOR * 10000 + VORLIXFILE_VERSION_MINOR * 100 + VORLIXFILE_VERSION_PATCH);
    EXPECT_EQ(VORLIXFILE_VERSION_MAJOR, 2);
    const std::string library = VORLIXFILE_LIBRARY;
    const std::string file = library.substr(library.find_last_of('/') + 1);
    const std::string version = std::to_string(VORLIXFILE_VERSION_MAJOR) + "." +
                                std::to_string(VORLIXFILE_VERSION_MINOR) + "." +
                                std::to_string(VORLIXFILE_VERSION_PATCH);
    EXPECT_EQ(file, "libvorlixfile.so." + version);
}

// The output of a command.
std::string CommandOutput(const std::string &command)
{
    std::string out;
    FILE *p = popen(command.c_str(), "r");
    if (p == nullptr)
        return out;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0)
        out.append(buffer, n);
    pclose(p);
    return out;
}

std::string Readme()
{
    std::ifstream in(VORLIX_README);
    std::stringstream s;
    s << in.rdbuf();
    // the README writes minus signs as such
    return std::regex_replace(s.str(), std::regex("\xE2\x88\x92"), "-");
}

// The whole numbers in a text.
std::vector<int> Numbers(const std::string &text)
{
    std::vector<int> numbers;
    const std::regex number("-?[0-9]+");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), number); it != std::sregex_iterator(); ++it)
        numbers.push_back(std::stoi(it->str()));
    return numbers;
}

std::vector<int> TableRates()
{
    std::vector<int> rates;
    for (int i = 0; i < vf_rate_count(); ++i)
        rates.push_back(vf_rate_at(i));
    return rates;
}

std::vector<std::string> TablePresets()
{
    std::vector<std::string> names;
    for (int i = 0; i < vf_eq_preset_count(); ++i)
        names.push_back(vf_eq_preset_name(i));
    return names;
}

std::vector<std::string> Words(const std::string &text)
{
    std::vector<std::string> words;
    const std::regex word("[a-z]+");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), word); it != std::sregex_iterator(); ++it)
        words.push_back(it->str());
    return words;
}

// The rates and curves vorlix-decode --help and the README list are the
// library's tables, in their order.
TEST(Abi, TheTablesAreWhatTheProgramsDocument)
{
    const std::vector<int> rates = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
    EXPECT_EQ(TableRates(), rates);
    const std::string help = CommandOutput(std::string(VORLIX_DECODE) + " --help");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(help, m, std::regex("--rate HZ +convert to HZ:([^-]*)\n +-e")));
    EXPECT_EQ(Numbers(m[1].str()), rates);
    ASSERT_TRUE(std::regex_search(help, m, std::regex("--eq-preset NAME +equalizer curve:([^\n]*)")));
    EXPECT_EQ(Words(m[1].str()), TablePresets());

    const std::string readme = Readme();
    ASSERT_TRUE(std::regex_search(readme, m, std::regex("`--rate HZ` \\| convert to HZ, one of ([^;]*);")));
    EXPECT_EQ(Numbers(m[1].str()), rates);
    ASSERT_TRUE(std::regex_search(readme, m, std::regex("`--eq-preset NAME` \\| equalizer curve: ([^\n]*) \\|")));
    EXPECT_EQ(Words(m[1].str()), TablePresets());

    // each curve's values as the README gives them
    ASSERT_TRUE(std::regex_search(readme, m, std::regex("The presets, as `--eq` values[^:]*:\n([^.]*)\\.")));
    const std::string curves = m[1].str();
    for (const std::string &name : TablePresets()) {
        SCOPED_TRACE(name);
        std::smatch values;
        ASSERT_TRUE(std::regex_search(curves, values, std::regex("`" + name + "`\\s+([-0-9,\\s]*[0-9])")));
        int8_t bands[11] = {};
        ASSERT_EQ(vf_eq_preset(name.c_str(), bands), 0);
        EXPECT_EQ(Numbers(values[1].str()), std::vector<int>(bands, bands + 11));
    }
}

// The tables' edges: out of range gives 0 or NULL, an unknown curve is
// refused and leaves the bands alone.
struct EdgeCase {
    const char *name;
    std::function<bool()> holds;
};

const EdgeCase edgeCases[] = {
    {"RateBelow", [] { return vf_rate_at(-1) == 0; }},
    {"RatePast", [] { return vf_rate_at(vf_rate_count()) == 0; }},
    {"PresetNameBelow", [] { return vf_eq_preset_name(-1) == nullptr; }},
    {"PresetNamePast", [] { return vf_eq_preset_name(vf_eq_preset_count()) == nullptr; }},
    {"UnknownPreset",
     [] {
         int8_t bands[11] = {9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9};
         return vf_eq_preset("rock", bands) == VF_EINVAL && bands[0] == 9 && bands[10] == 9;
     }},
    {"PresetInCapitals",
     [] {
         int8_t bands[11] = {};
         return vf_eq_preset("BASS", bands) == VF_EINVAL;
     }},
    {"NullName",
     [] {
         int8_t bands[11] = {};
         return vf_eq_preset(nullptr, bands) == VF_EINVAL;
     }},
    {"NullBands", [] { return vf_eq_preset("bass", nullptr) == VF_EINVAL; }},
    {"OutputTakesEveryRate",
     [] {
         for (int i = 0; i < vf_rate_count(); ++i) {
             File f = Open("mpeg1-44100-stereo.mp3");
             if (vf_set_output(f.get(), vf_rate_at(i), 0) != 0 || vf_rate(f.get()) != vf_rate_at(i))
                 return false;
             if (vf_set_output(f.get(), vf_rate_at(i) + 1, 0) != VF_EINVAL)
                 return false;
         }
         return true;
     }},
};

class Tables : public testing::TestWithParam<EdgeCase> {};

TEST_P(Tables, Edge)
{
    EXPECT_TRUE(GetParam().holds());
}

INSTANTIATE_TEST_SUITE_P(Abi, Tables, testing::ValuesIn(edgeCases),
                         [](const testing::TestParamInfo<EdgeCase> &info) { return std::string(info.param.name); });

} // namespace
