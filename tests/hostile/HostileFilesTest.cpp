// SPDX-License-Identifier: GPL-2.0-or-later
// Hostile variants of the fixtures through every way of opening a handle
// and through vorlix-decode as a user runs it: no crash, no sanitizer
// report, no hang; a handle answers with documented codes only, and push
// mode's "feed more" never reaches another handle; the program exits 0, 1
// or 2, says why when it fails and leaves no output behind.
//
// VORLIX_HOSTILE_COUNT  variants in the run (default 320)
// VORLIX_HOSTILE_SEED   the run's seed (default fixed)
// VORLIX_HOSTILE_VARIANT="seed=… fixture=… structure=… mutation=…"
//                       runs that one variant (HostileFiles.OneVariant)
// VORLIX_HOSTILE_DUMP   a folder: each variant run is written there too
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "hostile/Variants.h"
#include "vorlixfile.h"
#include "file/MemoryCallbacks.h"

// A sanitizer report ends the process at once with a status of its own.
#if defined(__SANITIZE_ADDRESS__)
extern "C" const char *__asan_default_options()
{
    return "halt_on_error=1:exitcode=99";
}
extern "C" const char *__ubsan_default_options()
{
    return "halt_on_error=1:exitcode=99:print_stacktrace=1";
}
#endif

namespace {

using hostile::Bytes;
using hostile::Variant;

const std::string data = VORLIX_TEST_DATA;
const std::string program = VORLIX_DECODE;
// the same for the program; its stderr is searched for reports as well
const std::string sanitizerEnv =
    "ASAN_OPTIONS=halt_on_error=1:exitcode=99 UBSAN_OPTIONS=halt_on_error=1:exitcode=99:print_stacktrace=1 ";
constexpr int sanitizerExit = 99;
constexpr unsigned handleSeconds = 120;  // every handle of one variant, in the sanitizer build
constexpr unsigned programSeconds = 60;  // one run of the program

size_t EnvNumber(const char *name, size_t fallback)
{
    const char *v = std::getenv(name);
    return v != nullptr && *v != '\0' ? std::strtoul(v, nullptr, 10) : fallback;
}

const std::vector<hostile::Fixture> &Fixtures()
{
    static const std::vector<hostile::Fixture> fixtures = hostile::LoadFixtures(data);
    return fixtures;
}

std::string Reproduce(const Variant &v)
{
    return "reproduce: VORLIX_HOSTILE_VARIANT='" + v.Name() +
           "' VORLIX_HOSTILE_DUMP=/tmp vorlix_hostile_tests --gtest_filter=HostileFiles.OneVariant";
}

void WriteBytes(const std::string &path, const Bytes &bytes)
{
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadText(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool Exists(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// --- Handles, in a child process --------------------------------------------

// splitmix64, as the generator: choices that follow from the variant's seed
struct Choice {
    uint64_t s;
    uint64_t Next()
    {
        uint64_t z = (s += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }
    size_t Below(size_t n) { return n == 0 ? 0 : static_cast<size_t>(Next() % n); }
};

bool Documented(int code)
{
    return code < 0 && std::strcmp(vf_strerror(code), vf_strerror(-1000)) != 0;
}

// What a child finds wrong, one line each, sent to the parent through a pipe.
struct Findings {
    int fd;
    void Note(const std::string &mode, const std::string &what) const
    {
        const std::string line = mode + ": " + what + "\n";
        if (write(fd, line.data(), line.size()) < 0)
            _exit(4);
    }
};

enum class Mode { File, Fd, Memory, Seekable, Stream, Push, Frames };
const char *const modeNames[] = {"vf_open_file", "vf_open_fd", "vf_open_memory", "vf_open_callbacks seekable",
                                 "vf_open_callbacks stream", "vf_open_push", "vf_open_frames"};

// Everything a host does with a handle, each answer checked. Push modes
// are fed pieces of 1 to `piece` bytes whenever they ask.
void Examine(VorlixFile *f, Mode mode, const Bytes &bytes, Choice &c, const Findings &out)
{
    const std::string name = modeNames[static_cast<int>(mode)];
    const bool push = mode == Mode::Push || mode == Mode::Frames;
    const bool seekable = mode == Mode::File || mode == Mode::Fd || mode == Mode::Memory || mode == Mode::Seekable;
    const size_t piece = 1 + c.Below(c.Below(2) ? 64 : 20000);
    size_t fed = 0;
    const auto feed = [&] {
        if (fed == bytes.size())
            return vf_feed_end(f);
        const size_t n = std::min(bytes.size() - fed, 1 + c.Below(piece));
        const int r = vf_feed(f, bytes.data() + fed, n);
        fed += n;
        return r;
    };
    const auto code = [&](const char *call, int r) {
        if (r < 0 && !Documented(r))
            out.Note(name, std::string(call) + " returned undocumented code " + std::to_string(r));
        if (r == VF_ENEEDMORE && !push)
            out.Note(name, std::string(call) + " asked for more input on a handle that is not in push mode");
    };

    // describe: push handles are fed until they can
    int info = 0;
    VorlixFileInfo fi = VF_INFO_INIT;
    for (int rounds = 0;; ++rounds) {
        info = vf_info(f, &fi);
        if (info != VF_ENEEDMORE || !push || rounds > 10000000)
            break;
        if (fed == bytes.size() && rounds > 0 && feed() != 0) {
            out.Note(name, "vf_feed_end failed");
            break;
        }
        if (fed < bytes.size())
            feed();
    }
    code("vf_info", info);
    if (info == VF_ENEEDMORE)
        out.Note(name, "vf_info still asks for input after vf_feed_end");
    if (info == 0 && (fi.channels < 1 || fi.channels > 2 || fi.rate <= 0))
        out.Note(name, "vf_info gives " + std::to_string(fi.channels) + " channels at " + std::to_string(fi.rate) + " Hz");

    // tags, ReplayGain, picture: every byte they point to is touched
    const int tags = vf_tag_count(f);
    code("vf_tag_count", tags);
    size_t sum = 0;
    for (int i = 0; i < tags; ++i) {
        const char *k = vf_tag_key(f, i), *v = vf_tag_value(f, i);
        if (k == nullptr || v == nullptr)
            out.Note(name, "tag " + std::to_string(i) + " has a null key or value");
        else
            sum += std::strlen(k) + std::strlen(v);
    }
    if (const char *title = vf_tag(f, "title"))
        sum += std::strlen(title);
    VorlixFileReplayGain gain = VF_REPLAYGAIN_INIT;
    code("vf_replaygain", vf_replaygain(f, &gain));
    const char *mime = nullptr;
    const unsigned char *picture = nullptr;
    size_t size = 0;
    if (vf_picture(f, &mime, &picture, &size) == 0) {
        if (mime != nullptr)
            sum += std::strlen(mime);
        for (size_t i = 0; picture != nullptr && i < size; ++i)
            sum += picture[i];
    }
    (void)sum;

    // the output: another rate, stereo, the equalizer, no trims, for some
    const int choice = static_cast<int>(c.Below(6));
    if (choice == 0)
        code("vf_set_output", vf_set_output(f, static_cast<int>(std::vector<int>{8000, 22050, 44100, 48000}[c.Below(4)]), 1));
    if (choice == 1) {
        const int8_t bands[11] = {12, 9, 6, 0, -3, -6, 0, 6, 12, 18, 3};
        code("vf_set_equalizer", vf_set_equalizer(f, bands));
    }
    if (choice == 2)
        code("vf_set_gapless", vf_set_gapless(f, 0));
    if (choice == 3 && mode == Mode::Stream)
        code("vf_scan_stream", vf_scan_stream(f));
    const int64_t length = vf_length(f);
    if (length < -1)
        out.Note(name, "vf_length " + std::to_string(length));

    // read to the end, in reads of random sizes; frames by vf_read_frame
    std::vector<int16_t> pcm(2 * 20000);
    const auto readToEnd = [&](int64_t most) {
        int64_t got = 0;
        for (long rounds = 0; rounds < 5000000 && got < most; ++rounds) {
            const int want = 1 + static_cast<int>(c.Below(c.Below(3) == 0 ? 20000 : 1152));
            int64_t offset = 0;
            const int n = mode == Mode::Frames ? vf_read_frame(f, pcm.data(), want, &offset) : vf_read(f, pcm.data(), want);
            if (n == VF_ENEEDMORE && push) {
                if (fed == bytes.size() && vf_feed_end(f) != 0) {
                    out.Note(name, "vf_feed_end failed while reading");
                    return got;
                }
                if (fed < bytes.size())
                    feed();
                continue;
            }
            code("vf_read", n);
            if (n > want)
                out.Note(name, "vf_read gave " + std::to_string(n) + " samples for " + std::to_string(want));
            if (n <= 0)
                return got;
            got += n;
        }
        if (got < most)
            out.Note(name, "reading never ends");
        return got;
    };
    const int64_t total = readToEnd(INT64_MAX);

    // seeks: to the middle and the start, past the end; a stream cannot seek
    if (!seekable) {
        const int r = vf_seek(f, 0);
        code("vf_seek", r);
        if (r == 0)
            out.Note(name, "vf_seek succeeded on a stream");
    } else if (info == 0) {
        for (const int64_t to : {total / 2, int64_t{0}, static_cast<int64_t>(c.Below(static_cast<size_t>(total) + 1))}) {
            const int r = vf_seek(f, to);
            code("vf_seek", r);
            if (r == 0 && vf_tell(f) != to)
                out.Note(name, "vf_tell " + std::to_string(vf_tell(f)) + " after vf_seek to " + std::to_string(to));
            if (r == 0)
                readToEnd(1 + static_cast<int64_t>(c.Below(30000)));
        }
        code("vf_seek", vf_seek(f, INT64_MAX / 4));
    }
}

// Opens the variant every way and examines each handle.
void ExerciseHandles(const Bytes &bytes, const std::string &path, uint32_t seed, const Findings &out)
{
    Choice c{seed * 0x2545f4914f6cdd1dull + 17};
    for (int m = 0; m <= static_cast<int>(Mode::Frames); ++m) {
        const Mode mode = static_cast<Mode>(m);
        const std::string name = modeNames[m];
        // an exact copy per handle, so that a read past the input is caught
        const Bytes copy = bytes;
        Memory source{&copy, 0, 1 + c.Below(c.Below(2) ? 100 : 70000)};
        const VorlixFileCallbacks seekable = {sizeof(VorlixFileCallbacks), MemoryRead, MemorySeek, MemoryTell, nullptr};
        const VorlixFileCallbacks stream = {sizeof(VorlixFileCallbacks), MemoryRead, nullptr, nullptr, nullptr};
        int error = 0;
        int fd = -1;
        VorlixFile *f = nullptr;
        switch (mode) {
        case Mode::File:
            f = vf_open_file(path.c_str(), &error);
            break;
        case Mode::Fd:
            fd = open(path.c_str(), O_RDONLY);
            f = vf_open_fd(fd, &error);
            break;
        case Mode::Memory: {
            VorlixFileInfo info = VF_INFO_INIT;
            const int r = vf_test(&info, copy.data(), copy.size());
            if (r != 0 && r != VF_ENOTAUDIO)
                out.Note("vf_test", "returned " + std::to_string(r));
            f = vf_open_memory(copy.data(), copy.size(), &error);
            break;
        }
        case Mode::Seekable:
            f = vf_open_callbacks(&source, &seekable, &error);
            break;
        case Mode::Stream:
            f = vf_open_callbacks(&source, &stream, &error);
            break;
        case Mode::Push:
            f = vf_open_push(&error);
            break;
        case Mode::Frames:
            f = vf_open_frames(&error);
            break;
        }
        if (f == nullptr) {
            if (!Documented(error))
                out.Note(name, "failed with undocumented code " + std::to_string(error));
            if (error == VF_ENEEDMORE)
                out.Note(name, "failed asking for more input");
        } else {
            Examine(f, mode, copy, c, out);
            vf_free(f);
        }
        if (fd >= 0)
            close(fd);
    }
}

// Runs the handles in a child: a crash, a sanitizer report or a hang there
// is a finding here, and the next variant runs on.
std::vector<std::string> HandlesInChild(const Variant &v, const std::string &path)
{
    std::vector<std::string> found;
    int fds[2];
    if (pipe(fds) != 0)
        return {"pipe failed"};
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        alarm(handleSeconds);
        ExerciseHandles(v.bytes, path, v.seed, Findings{fds[1]});
        _exit(0);
    }
    close(fds[1]);
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        found.push_back(line);
    if (WIFSIGNALED(status))
        found.push_back(WTERMSIG(status) == SIGALRM
                            ? "handles: no end after " + std::to_string(handleSeconds) + " s (hang)"
                            : "handles: crashed with signal " + std::to_string(WTERMSIG(status)) + " (" +
                                  strsignal(WTERMSIG(status)) + ")");
    else if (WEXITSTATUS(status) == sanitizerExit)
        found.push_back("handles: sanitizer report (on stderr above)");
    else if (WEXITSTATUS(status) != 0)
        found.push_back("handles: child exited " + std::to_string(WEXITSTATUS(status)));
    return found;
}

// --- The program ---------------------------------------------------------------

struct ProgramRun {
    const char *name;
    std::string arguments;  // IN and OUT stand for the variant and the output
    bool pipe = false;      // the variant through cat into standard input
    bool writes = true;     // an output file on success
};

std::vector<ProgramRun> ProgramRuns()
{
    return {
        {"file", "-q IN -o OUT"},
        {"pipe", "-q - -o OUT", true},
        {"--info", "--info IN", false, false},
        {"--json pipe", "--json -", true, false},
        {"-s -t", "-q -s 0.3 -t 0:00.7 IN -o OUT"},
        {"--rate", "-q --rate 48000 IN -o OUT"},
        {"--rate pipe", "-q --raw -R 8000 - -o OUT", true},
        {"--eq", "-q --eq 12,6,0,-6,3,9,18,-12,0,6,3 IN -o OUT"},
        {"-E pipe -s", "-q -E loudness -s 1 - -o OUT", true},
    };
}

std::string Replace(std::string text, const std::string &from, const std::string &to)
{
    for (size_t at; (at = text.find(from)) != std::string::npos;)
        text.replace(at, from.size(), to);
    return text;
}

std::vector<std::string> RunProgram(const ProgramRun &run, const std::string &dir, const std::string &input)
{
    std::vector<std::string> found;
    const std::string out = dir + "/out.wav", err = dir + "/stderr", stdoutFile = dir + "/stdout";
    std::remove(out.c_str());
    const std::string args = Replace(Replace(run.arguments, "OUT", out), "IN", input);
    const std::string command = (run.pipe ? "cat " + input + " | " : "") + sanitizerEnv + "timeout -k 5 " +
                                std::to_string(programSeconds) + " " + program + " " + args + " >" + stdoutFile +
                                " 2>" + err;
    const int status = std::system(command.c_str());
    const std::string what = std::string("vorlix-decode ") + run.name + " (" + args + "): ";
    const std::string stderrText = ReadText(err);
    const std::string firstLines = stderrText.substr(0, 600);
    if (!WIFEXITED(status))
        return {what + "the shell was killed"};
    const int code = WEXITSTATUS(status);
    if (code == 124 || code == 137)
        found.push_back(what + "no end after " + std::to_string(programSeconds) + " s (hang)");
    else if (code == sanitizerExit || stderrText.find("Sanitizer") != std::string::npos ||
             stderrText.find("runtime error") != std::string::npos)
        found.push_back(what + "sanitizer report, exit " + std::to_string(code) + ":\n" + firstLines);
    else if (code > 128)
        found.push_back(what + "killed by signal " + std::to_string(code - 128) + "\n" + firstLines);
    else if (code > 2)
        found.push_back(what + "exit " + std::to_string(code) + "\n" + firstLines);
    if (code != 0 && stderrText.empty())
        found.push_back(what + "exit " + std::to_string(code) + " without a message");
    if (code != 0 && run.writes && Exists(out))
        found.push_back(what + "exit " + std::to_string(code) + " but the output file is left behind");
    if (code == 0 && run.writes && !Exists(out))
        found.push_back(what + "exit 0 without an output file");
    return found;
}

// --- The runs ----------------------------------------------------------------

class Scratch {
public:
    Scratch()
    {
        std::string pattern = (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + std::string("/hostile-XXXXXX");
        if (mkdtemp(pattern.data()) != nullptr)
            dir_ = pattern;
    }
    ~Scratch()
    {
        if (!dir_.empty())
            (void)std::system(("rm -rf " + dir_).c_str());
    }
    const std::string &Dir() const { return dir_; }

private:
    std::string dir_;
};

// Everything on one variant; the program on `programs` of its runs (chosen
// by the seed), all of them when programs is 0.
std::vector<std::string> Check(const Variant &v, const std::string &dir, size_t programs)
{
    if (const char *dump = std::getenv("VORLIX_HOSTILE_DUMP"))
        WriteBytes(std::string(dump) + "/" + std::to_string(v.seed) + "-" + v.fixture + "-" + v.structure + "-" +
                       v.mutation + ".bin",
                   v.bytes);
    const std::string input = dir + "/variant.mp3";
    WriteBytes(input, v.bytes);
    std::vector<std::string> found = HandlesInChild(v, input);
    std::vector<ProgramRun> runs = ProgramRuns();
    Choice c{v.seed};
    for (size_t i = 0; programs != 0 && i < runs.size() && runs.size() > programs; ++i)
        std::swap(runs[i], runs[i + c.Below(runs.size() - i)]);
    if (programs != 0 && runs.size() > programs)
        runs.resize(programs);
    for (const ProgramRun &run : runs)
        for (const std::string &f : RunProgram(run, dir, input))
            found.push_back(f);
    return found;
}

void Report(const Variant &v, const std::vector<std::string> &found)
{
    if (found.empty())
        return;
    std::string text = v.Name() + " (" + v.detail + ", " + std::to_string(v.bytes.size()) + " bytes)\n";
    for (const std::string &f : found)
        text += "  " + f + "\n";
    ADD_FAILURE() << text << "  " << Reproduce(v);
}

const char *const structures[] = {"lead", "riff", "id3v2", "ape", "lyrics3", "id3v1", "xing", "lame", "vbri", "frame"};

// The crash that pointed here: a RIFF/WAVE file whose chunks before `data`
// run past the reader's lookahead, opened from a seekable source. The
// chunks are read on: the file decodes as the one without them.
TEST(HostileFiles, RiffChunksPastTheLookaheadDecodeEveryWay)
{
    Scratch scratch;
    ASSERT_FALSE(scratch.Dir().empty());
    const auto fixture = std::find_if(Fixtures().begin(), Fixtures().end(),
                                      [](const hostile::Fixture &f) { return f.name == "riff-mpeg2-22050-mono.wav"; });
    ASSERT_NE(fixture, Fixtures().end());
    const std::string plain = scratch.Dir() + "/plain.pcm";
    ASSERT_EQ(std::system((program + " -q --raw " + data + "/" + fixture->name + " -o " + plain).c_str()), 0);
    const std::string expected = ReadText(plain);
    ASSERT_FALSE(expected.empty());
    for (const size_t chunk : {9000, 20000, 70000, 300000}) {
        // LIST chunk of `chunk` bytes right after the RIFF header
        Bytes wav = fixture->bytes;
        Bytes list = {'L', 'I', 'S', 'T', 0, 0, 0, 0};
        for (int i = 0; i < 4; ++i)
            list[4 + static_cast<size_t>(i)] = static_cast<uint8_t>(chunk >> (8 * i));
        list.resize(8 + chunk, 0);
        wav.insert(wav.begin() + 12, list.begin(), list.end());
        const uint32_t riffSize = static_cast<uint32_t>(wav.size() - 8);
        for (int i = 0; i < 4; ++i)
            wav[4 + static_cast<size_t>(i)] = static_cast<uint8_t>(riffSize >> (8 * i));
        Variant v;
        v.seed = static_cast<uint32_t>(chunk);
        v.fixture = fixture->name;
        v.structure = "riff";
        v.mutation = "list-" + std::to_string(chunk);
        v.detail = "LIST chunk of " + std::to_string(chunk) + " bytes before fmt";
        v.bytes = wav;
        SCOPED_TRACE(v.detail);
        Report(v, Check(v, scratch.Dir(), 0));
        // and the same samples as without the chunk, from a file and a pipe
        const std::string input = scratch.Dir() + "/variant.wav", out = scratch.Dir() + "/out.pcm";
        WriteBytes(input, wav);
        EXPECT_EQ(std::system((program + " -q --raw " + input + " -o " + out).c_str()), 0);
        EXPECT_TRUE(ReadText(out) == expected) << "file";
        EXPECT_EQ(std::system(("cat " + input + " | " + program + " -q --raw - -o " + out).c_str()), 0);
        EXPECT_TRUE(ReadText(out) == expected) << "pipe";
    }
}

class HostileStructure : public ::testing::TestWithParam<const char *> {};

// The run's variants of one structure: every mutation in turn, on fixtures
// and with seeds that follow from the run's seed.
TEST_P(HostileStructure, NoCrashNoHangNoUndocumentedAnswer)
{
    const size_t count = EnvNumber("VORLIX_HOSTILE_COUNT", 320);
    const uint32_t seed = static_cast<uint32_t>(EnvNumber("VORLIX_HOSTILE_SEED", 20261211));
    // the program on two of its nine runs per variant in the everyday run,
    // on all of them in a long one
    const size_t programs = EnvNumber("VORLIX_HOSTILE_PROGRAMS", 2);
    Scratch scratch;
    ASSERT_FALSE(scratch.Dir().empty());
    ASSERT_EQ(std::system((program + " --version >/dev/null").c_str()), 0) << program << " does not run";
    size_t ran = 0;
    for (size_t i = 0; i < count; ++i) {
        if (hostile::Mutations()[i % hostile::Mutations().size()].structure != std::string(GetParam()))
            continue;
        const Variant v = hostile::RunVariant(seed, i, Fixtures());
        Report(v, Check(v, scratch.Dir(), programs));
        ++ran;
    }
    std::printf("%zu variants of %s (run seed %u)\n", ran, GetParam(), seed);
}

INSTANTIATE_TEST_SUITE_P(HostileFiles, HostileStructure, ::testing::ValuesIn(structures),
                         [](const ::testing::TestParamInfo<const char *> &info) { return std::string(info.param); });

// One variant by its name, every run of the program: what a failure's
// reproduction line runs.
TEST(HostileFiles, OneVariant)
{
    const char *name = std::getenv("VORLIX_HOSTILE_VARIANT");
    if (name == nullptr)
        GTEST_SKIP() << "VORLIX_HOSTILE_VARIANT names no variant";
    uint32_t seed = 0;
    std::string fixture, structure, mutation;
    ASSERT_TRUE(hostile::ParseName(name, seed, fixture, structure, mutation)) << name;
    const auto f = std::find_if(Fixtures().begin(), Fixtures().end(),
                                [&](const hostile::Fixture &x) { return x.name == fixture; });
    ASSERT_NE(f, Fixtures().end()) << fixture;
    const Variant v = hostile::MakeVariant(seed, *f, structure, mutation);
    ASSERT_NE(v.detail, "unknown") << structure << " " << mutation;
    std::printf("%s: %s, %zu bytes\n", v.Name().c_str(), v.detail.c_str(), v.bytes.size());
    Scratch scratch;
    Report(v, Check(v, scratch.Dir(), 0));
}

// The generator itself: the same name gives the same bytes, and every
// mutation changes its fixture on one of a few seeds at least (a value the
// seed picks may be the one the fixture has).
TEST(HostileFiles, VariantsFollowFromTheirNames)
{
    for (size_t i = 0; i < hostile::Mutations().size(); ++i) {
        bool changed = false;
        for (const uint32_t run : {7u, 8u, 9u}) {
            const Variant v = hostile::RunVariant(run, i, Fixtures());
            uint32_t seed = 0;
            std::string fixture, structure, mutation;
            ASSERT_TRUE(hostile::ParseName(v.Name(), seed, fixture, structure, mutation)) << v.Name();
            const auto f = std::find_if(Fixtures().begin(), Fixtures().end(),
                                        [&](const hostile::Fixture &x) { return x.name == fixture; });
            ASSERT_NE(f, Fixtures().end());
            EXPECT_TRUE(hostile::MakeVariant(seed, *f, structure, mutation).bytes == v.bytes) << v.Name();
            EXPECT_EQ(structure, hostile::Mutations()[i].structure);
            EXPECT_EQ(mutation, hostile::Mutations()[i].name);
            changed = changed || v.bytes != f->bytes;
        }
        EXPECT_TRUE(changed) << hostile::Mutations()[i].structure << " " << hostile::Mutations()[i].name
                             << " leaves its fixtures as they are";
    }
}

} // namespace
