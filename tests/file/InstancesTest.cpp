// SPDX-License-Identifier: GPL-2.0-or-later
// Several handles at once, read in turn and on several threads: on private
// decoders each comes out byte for byte as alone in a process of its own; on
// the shared decoder (no private one to be had) within 1 LSB.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "Instance.h"
#include "cli/HostSupport.h"
#include "vorlixfile.h"

namespace {

const std::string data = VORLIX_TEST_DATA;
const std::string host = VORLIX_DECODE;

using File = std::unique_ptr<VorlixFile, decltype(&vf_free)>;

const int8_t bass[11] = {6, 5, 4, 2, 0, 0, 0, 0, 0, 0, -4};

// What one handle does: its file and settings, then reads of random sizes,
// with a seek after every `seekEvery` reads to the next of `seeks`.
struct Part {
    std::string file;
    bool eq = false;
    int replayGain = VF_REPLAYGAIN_OFF;
    int rate = 0;
    bool stereo = false;
    std::vector<int64_t> seeks = {};
    size_t failAfter = 0;  // the source fails after this many bytes (0: never)
};

// A memory source that fails to read past a point, as a network does.
struct FailingSource {
    Bytes bytes;
    size_t at = 0, failAfter = 0;
    static long Read(void *s, unsigned char *buffer, size_t n)
    {
        auto *self = static_cast<FailingSource *>(s);
        if (self->at >= self->failAfter)
            return -1;
        n = std::min({n, self->bytes.size() - self->at, self->failAfter - self->at});
        std::memcpy(buffer, self->bytes.data() + self->at, n);
        self->at += n;
        return static_cast<long>(n);
    }
};

class Reader {
public:
    Reader(const Part &part, uint32_t seed) : part_(part), random_(seed), file_(nullptr, vf_free)
    {
        if (part.failAfter > 0) {
            source_.bytes = ReadFile(part.file);
            source_.failAfter = part.failAfter;
            VorlixFileCallbacks io = VF_CALLBACKS_INIT;
            io.read = FailingSource::Read;
            file_.reset(vf_open_callbacks(&source_, &io, nullptr));
        } else {
            file_.reset(vf_open_file(part.file.c_str(), nullptr));
        }
        if (file_ == nullptr) {
            done_ = true;
            return;
        }
        if (part.rate != 0 || part.stereo)
            vf_set_output(file_.get(), part.rate, part.stereo ? 1 : 0);
        if (part.eq)
            vf_set_equalizer(file_.get(), bass);
        if (part.replayGain != VF_REPLAYGAIN_OFF)
            vf_set_replaygain(file_.get(), part.replayGain, 3);
    }

    bool Done() const { return done_; }
    void SeekNow(int64_t sample) { EXPECT_EQ(vf_seek(file_.get(), sample), 0); }

    void Step()
    {
        if (done_)
            return;
        ++reads_;
        if (seek_ < part_.seeks.size() && reads_ % 5 == 0) {
            vf_seek(file_.get(), part_.seeks[seek_++]);
            return;
        }
        const int n = vf_read(file_.get(), pcm_.data(), static_cast<int>(1 + random_() % 3000));
        if (n <= 0) {
            done_ = true;
            return;
        }
        AppendLe(out, pcm_.data(), static_cast<size_t>(n * vf_channels(file_.get())));
    }

    Bytes out;

private:
    const Part &part_;
    std::mt19937 random_;
    FailingSource source_;
    File file_;
    std::vector<int16_t> pcm_ = std::vector<int16_t>(3000 * 2);
    size_t reads_ = 0, seek_ = 0;
    bool done_ = false;
};

// Steps the readers in random order until all are done.
void StepInTurn(std::vector<std::unique_ptr<Reader>> &readers, std::mt19937 &random)
{
    for (;;) {
        std::vector<size_t> left;
        for (size_t i = 0; i < readers.size(); ++i)
            if (!readers[i]->Done())
                left.push_back(i);
        if (left.empty())
            return;
        readers[left[random() % left.size()]]->Step();
    }
}

// The parts read in turn, in random order; each part's own read sizes come
// from its own seed, so that alone it does the same.
std::vector<Bytes> InTurn(const std::vector<Part> &parts, uint32_t seed)
{
    std::vector<std::unique_ptr<Reader>> readers;
    for (size_t i = 0; i < parts.size(); ++i)
        readers.push_back(std::make_unique<Reader>(parts[i], seed + static_cast<uint32_t>(i)));
    std::mt19937 random(seed);
    StepInTurn(readers, random);
    std::vector<Bytes> out;
    for (auto &r : readers)
        out.push_back(std::move(r->out));
    return out;
}

Bytes Alone(const Part &part, uint32_t seed)
{
    Reader r(part, seed);
    while (!r.Done())
        r.Step();
    return std::move(r.out);
}

struct Case {
    const char *name;
    std::vector<Part> parts;
    int threads;  // 0: all in turn on this thread; else that many threads, the parts dealt out
};

std::string Data(const char *name)
{
    return data + "/" + name;
}

const std::vector<Case> cases = {
    {"TwoFiles", {{Data("mpeg1-44100-stereo.mp3")}, {Data("mpeg2-22050-mono.mp3")}}, 0},
    {"ThreeFiles",
     {{Data("mpeg1-48000-stereo.mp3")}, {Data("mpeg25-8000-mono.mp3")}, {Data("mpeg2-24000-stereo.mp3")}},
     0},
    {"SixFilesDamagedAndJunk",
     {{Data("damaged-frame.mp3")},
      {Data("damaged-frame.mp3")},
      {Data("garbage-between-frames.mp3")},
      {Data("crc-44100-stereo.mp3")},
      {Data("tag-v24.mp3")},
      {Data("mpeg25-11025-stereo.mp3")}},
     0},
    {"EqualizerOnALoudFile", {{Data("loud-clipping.mp3"), true}, {Data("loud-clipping.mp3"), true}, {Data("mpeg1-44100-stereo.mp3")}}, 0},
    {"ReplayGain",
     {{Data("mpeg1-44100-stereo.mp3"), false, VF_REPLAYGAIN_TRACK}, {Data("loud-clipping.mp3"), false, VF_REPLAYGAIN_ALBUM}},
     0},
    {"ConvertedRates",
     {{Data("mpeg2-22050-mono.mp3"), false, VF_REPLAYGAIN_OFF, 48000},
      {Data("mpeg1-44100-stereo.mp3"), false, VF_REPLAYGAIN_OFF, 8000},
      {Data("mpeg25-12000-mono.mp3"), false, VF_REPLAYGAIN_OFF, 44100}},
     0},
    {"MonoMadeStereo",
     {{Data("mpeg1-44100-mono.mp3"), false, VF_REPLAYGAIN_OFF, 0, true}, {Data("mpeg2-22050-mono.mp3"), false, VF_REPLAYGAIN_OFF, 0, true}},
     0},
    {"SeeksInTurn",
     {{Data("mpeg1-44100-stereo.mp3"), false, VF_REPLAYGAIN_OFF, 0, false, {30000, 1000, 70000}},
      {Data("mpeg2-24000-stereo.mp3"), false, VF_REPLAYGAIN_OFF, 0, false, {20000, 500}},
      {Data("mpeg2-22050-mono.mp3"), false, VF_REPLAYGAIN_OFF, 0, false, {4000, 40000}}},
     0},
    {"AcrossAFormatChange", {{Data("format-change.mp3")}, {Data("format-change.mp3")}, {Data("mpeg1-48000-stereo.mp3")}}, 0},
    {"BesideAFailingSource",
     {{Data("mpeg1-44100-stereo.mp3"), false, VF_REPLAYGAIN_OFF, 0, false, {}, 9000},
      {Data("mpeg1-44100-stereo.mp3")},
      {Data("mpeg2-22050-stereo.mp3")}},
     0},
    {"TwoThreadsTwoHandlesEach",
     {{Data("mpeg1-44100-stereo.mp3")}, {Data("mpeg2-22050-mono.mp3")}, {Data("loud-clipping.mp3"), true}, {Data("mpeg25-8000-stereo.mp3")}},
     2},
    {"FourThreadsTwoHandlesEach",
     {{Data("mpeg1-44100-stereo.mp3")},
      {Data("mpeg2-22050-mono.mp3")},
      {Data("mpeg1-48000-stereo.mp3"), false, VF_REPLAYGAIN_OFF, 0, false, {50000, 2000}},
      {Data("mpeg25-8000-stereo.mp3")},
      {Data("damaged-frame.mp3")},
      {Data("format-change.mp3")},
      {Data("mpeg2-22050-mono.mp3"), false, VF_REPLAYGAIN_OFF, 16000},
      {Data("loud-clipping.mp3"), true}},
     4},
};

void PrintTo(const Case &c, std::ostream *os)
{
    *os << c.name;
}

std::vector<Bytes> RunCase(const Case &c, uint32_t seed)
{
    if (c.threads == 0)
        return InTurn(c.parts, seed);
    std::vector<std::vector<Bytes>> got(static_cast<size_t>(c.threads));
    std::vector<std::thread> threads;
    for (int t = 0; t < c.threads; ++t)
        threads.emplace_back([&, t] {
            std::vector<Part> mine;
            for (size_t i = static_cast<size_t>(t); i < c.parts.size(); i += static_cast<size_t>(c.threads))
                mine.push_back(c.parts[i]);
            // the seeds as InTurn gives them to the parts of the whole list
            std::vector<std::unique_ptr<Reader>> readers;
            for (size_t k = 0; k < mine.size(); ++k)
                readers.push_back(std::make_unique<Reader>(
                    c.parts[static_cast<size_t>(t) + k * static_cast<size_t>(c.threads)],
                    seed + static_cast<uint32_t>(static_cast<size_t>(t) + k * static_cast<size_t>(c.threads))));
            std::mt19937 random(seed + 1000 + static_cast<uint32_t>(t));
            StepInTurn(readers, random);
            for (auto &r : readers)
                got[static_cast<size_t>(t)].push_back(std::move(r->out));
        });
    for (std::thread &t : threads)
        t.join();
    std::vector<Bytes> out(c.parts.size());
    for (size_t i = 0; i < c.parts.size(); ++i)
        out[i] = std::move(got[i % static_cast<size_t>(c.threads)][i / static_cast<size_t>(c.threads)]);
    return out;
}

struct Path {
    const char *name;
    int limit;
};

void PrintTo(const Path &p, std::ostream *os)
{
    *os << p.name;
}

class Instances : public ::testing::TestWithParam<std::tuple<Case, Path>> {
protected:
    void SetUp() override { before_ = vf_set_instance_limit(64); }
    void TearDown() override { vf_set_instance_limit(before_); }
    int before_ = 0;
};

TEST_P(Instances, EachHandleDecodesAsAlone)
{
    const Case &c = std::get<0>(GetParam());
    const Path &path = std::get<1>(GetParam());
    const uint32_t seed = TestSeed();
    SCOPED_TRACE(SeedNote(seed));
    // alone: a fresh private decoder, as in a process of its own
    std::vector<Bytes> alone;
    for (size_t i = 0; i < c.parts.size(); ++i)
        alone.push_back(Alone(c.parts[i], seed + static_cast<uint32_t>(i)));
    vf_set_instance_limit(path.limit);
    const std::vector<Bytes> got = RunCase(c, seed);
    EXPECT_EQ(LiveInstances(), 0);  // each released with its handle
    for (size_t i = 0; i < c.parts.size(); ++i) {
        SCOPED_TRACE(c.parts[i].file + " (part " + std::to_string(i) + ")");
        ASSERT_EQ(got[i].size(), alone[i].size());
        if (path.limit > 0) {
            EXPECT_TRUE(got[i] == alone[i]) << "differs by up to " << MaxDifference(got[i], alone[i]);
        } else if (!c.parts[i].eq && c.parts[i].replayGain == VF_REPLAYGAIN_OFF) {
            // the gain stage's reduction after clipping (equalizer,
            // ReplayGain) starts afresh at each takeover: only the length
            // is the same
            EXPECT_LE(MaxDifference(got[i], alone[i]), 1);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(, Instances,
                         ::testing::Combine(::testing::ValuesIn(cases),
                                            ::testing::Values(Path{"Private", 64}, Path{"Shared", 0})),
                         [](const auto &info) {
                             return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
                         });

class PrivateDecoders : public HostFixture {
protected:
    void SetUp() override
    {
        HostFixture::SetUp();
        before_ = vf_set_instance_limit(64);
    }
    void TearDown() override
    {
        vf_set_instance_limit(before_);
        HostFixture::TearDown();
    }
    Bytes Program(const std::string &path, const std::string &options = "")
    {
        EXPECT_EQ(Shell(host + " -q --raw " + options + " " + path + " -o " + dir + "/out.pcm"), 0) << path;
        return ReadFile(dir + "/out.pcm");
    }
    int before_ = 0;
};

// Alone, a handle's decode is the program's in another process, byte for
// byte, however many decodes the process made before.
TEST_F(PrivateDecoders, EqualTheProgramsDecodeWhateverCameBefore)
{
    struct {
        const char *file, *options;
        Part part;
        int64_t start;
    } const table[] = {
        {"loud-clipping.mp3", "", {Data("loud-clipping.mp3")}, 0},
        {"loud-clipping.mp3", "-E bass", {Data("loud-clipping.mp3"), true}, 0},
        {"mpeg2-22050-mono.mp3", "--rate 48000", {Data("mpeg2-22050-mono.mp3"), false, VF_REPLAYGAIN_OFF, 48000}, 0},
        {"mpeg1-44100-stereo.mp3", "-s 0.5", {Data("mpeg1-44100-stereo.mp3")}, 22050},
    };
    for (const auto &row : table) {
        SCOPED_TRACE(std::string(row.file) + " " + row.options);
        const Bytes expected = Program(Data(row.file), row.options);
        for (int again = 0; again < 3; ++again) {
            Reader r(row.part, 7);
            if (row.start > 0)
                r.SeekNow(row.start);
            while (!r.Done())
                r.Step();
            EXPECT_TRUE(r.out == expected) << "decode " << again << " differs by up to "
                                           << MaxDifference(r.out, expected);
        }
    }
}

// The limit: handles past it share the process's decoder and still decode
// right; a handle that only describes loads none; each goes with its handle.
TEST_F(PrivateDecoders, LimitSharesThoseBeyondIt)
{
    const std::string path = Data("mpeg1-44100-stereo.mp3");
    const Bytes expected = Program(path);
    EXPECT_EQ(vf_set_instance_limit(-1), VF_EINVAL);
    vf_set_instance_limit(1);
    std::vector<std::unique_ptr<Reader>> readers;
    const Part part{path};
    for (uint32_t i = 0; i < 3; ++i)
        readers.push_back(std::make_unique<Reader>(part, i));
    {
        File describing(vf_open_file(path.c_str(), nullptr), vf_free);
        VorlixFileInfo info = VF_INFO_INIT;
        ASSERT_EQ(vf_info(describing.get(), &info), 0);
        EXPECT_EQ(LiveInstances(), 0);
    }
    for (int round = 0; round < 4; ++round)
        for (auto &r : readers)
            r->Step();
    EXPECT_EQ(LiveInstances(), 1);
    while (!readers[0]->Done() || !readers[1]->Done() || !readers[2]->Done())
        for (auto &r : readers)
            r->Step();
    EXPECT_TRUE(readers[0]->out == expected);
    for (auto &r : readers)
        EXPECT_LE(MaxDifference(r->out, expected), 1);
    readers.clear();
    EXPECT_EQ(LiveInstances(), 0);
}

// Descriptors and mappings in use by the process.
size_t Descriptors()
{
    size_t n = 0;
    for (const auto &entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        (void)entry;
        ++n;
    }
    return n;
}

// Copies come and go with their handles, leaving no descriptor behind; where
// a copy cannot be loaded (here: the library's file is no library), handles
// share the process's decoder and decode right, and the loader does not try
// again for each handle.
TEST_F(PrivateDecoders, CopiesLeaveNothingBehindAndRefusalsShare)
{
    const std::string path = Data("mpeg2-22050-mono.mp3");
    const Bytes expected = Program(path);
    const Part part{path};
    const size_t before = Descriptors();
    for (uint32_t round = 0; round < 40; ++round) {
        Reader r(part, round);
        for (int step = 0; step < 3; ++step)
            r.Step();
        EXPECT_EQ(LiveInstances(), 1);
    }
    EXPECT_EQ(Descriptors(), before);
    EXPECT_EQ(LiveInstances(), 0);

    UseLibraryFile(path.c_str());  // not a library: dlopen refuses it
    for (uint32_t round = 0; round < 2; ++round) {
        Reader r(part, round);
        while (!r.Done())
            r.Step();
        EXPECT_EQ(LiveInstances(), 0);
        EXPECT_LE(MaxDifference(r.out, expected), 1);
        EXPECT_EQ(r.out.size(), expected.size());
    }
    EXPECT_EQ(Descriptors(), before);
    UseLibraryFile(VORLIX_LIBRARY);
    Reader again(part, 1);
    while (!again.Done())
        again.Step();
    EXPECT_TRUE(again.out == expected);
}

// A host that exports functions of its own under libvorlix's names: the
// library's calls to its own functions, and the file library's calls into
// it, reach the library, on private decoders and on the shared one.
TEST_F(PrivateDecoders, AHostsOwnInitAndExitNeverStandIn)
{
    const std::string path = Data("loud-clipping.mp3");
    const Bytes expected = Program(path);
    for (const char *limit : {"64", "0"}) {
        SCOPED_TRACE(std::string("VORLIX_INSTANCES=") + limit);
        ASSERT_EQ(Shell(std::string("VORLIX_INSTANCES=") + limit + " " + VORLIX_OWN_INIT_HOST + " " + path + " > " +
                        dir + "/host.pcm"),
                  0);
        EXPECT_TRUE(ReadFile(dir + "/host.pcm") == expected);
    }
}

} // namespace
