// SPDX-License-Identifier: GPL-2.0-or-later
// vorlix-decode with several inputs at once (--jobs): the outputs, messages
// and exit status of one input at a time, each input decoded as it is alone
// in a process of its own.
#include <dirent.h>

#include <algorithm>
#include <map>

#include "cli/HostSupport.h"

namespace {

const std::string host = VORLIX_DECODE;
const std::string data = VORLIX_TEST_DATA;

// What a run leaves: its exit status, what it printed, the files of its folder.
struct Outcome {
    int status = -1;
    std::string out, err;
    std::map<std::string, Bytes> files;
};

std::string Text(const Bytes &b)
{
    return std::string(b.begin(), b.end());
}

class Jobs : public HostFixture {
protected:
    // A folder of inputs: fixtures under short names, a file that is not
    // MPEG audio, and an input whose output would overwrite an MP3.
    std::string Inputs(const std::string &name)
    {
        const std::string folder = dir + "/" + name;
        const std::pair<const char *, const char *> fixtures[] = {
            {"a.mp3", "mpeg1-44100-stereo.mp3"}, {"b.mp3", "format-change.mp3"},  {"c.mp3", "mpeg2-22050-mono.mp3"},
            {"d.mp3", "tag-v24.mp3"},            {"e.mp3", "damaged-frame.mp3"},   {"f.mp3", "mpeg25-8000-stereo.mp3"},
            {"loud.mp3", "loud-clipping.mp3"},   {"held.mp3", "tag-v1.mp3"},       {"held.wav", "tag-v24.mp3"},
            {"a.mp2", "mpeg1-44100-mono.mp3"},   {"sub/a.mp3", "mpeg1-48000-stereo.mp3"}};
        EXPECT_EQ(Shell("mkdir -p " + folder + "/sub"), 0);
        for (const auto &[as, fixture] : fixtures)
            WriteFile(folder + "/" + as, ReadFixture(fixture));
        WriteFile(folder + "/notes.mp3", Bytes(3000, 'x'));
        return folder;
    }

    // Runs vorlix-decode in a fresh folder of inputs: `before` first, then
    // the program with args, its standard input what `feed` writes.
    Outcome RunIn(const std::string &name, const std::string &args, const std::string &before = "",
                  const std::string &feed = "")
    {
        const std::string folder = Inputs(name);
        Outcome r;
        r.status = Shell("cd " + folder + " && " + (before.empty() ? "" : before + " && ") +
                         (feed.empty() ? "" : "(" + feed + ") | ") + host + " " + args + " > ../" + name +
                         ".out 2> ../" + name + ".err");
        r.out = Text(ReadFile(dir + "/" + name + ".out"));
        r.err = Text(ReadFile(dir + "/" + name + ".err"));
        for (const std::string sub : {"", "sub/"}) {
            DIR *d = opendir((folder + "/" + sub).c_str());
            for (dirent *e; d != nullptr && (e = readdir(d)) != nullptr;)
                if (e->d_name[0] != '.' && std::string(e->d_name) != "sub")
                    r.files[sub + e->d_name] = ReadFile(folder + "/" + sub + e->d_name);
            if (d != nullptr)
                closedir(d);
        }
        return r;
    }

    void ExpectSame(const Outcome &got, const Outcome &want)
    {
        EXPECT_EQ(got.status, want.status);
        EXPECT_EQ(got.out, want.out);
        EXPECT_EQ(got.err, want.err);
        EXPECT_EQ(got.files.size(), want.files.size());
        for (const auto &[name, bytes] : want.files) {
            const auto it = got.files.find(name);
            ASSERT_NE(it, got.files.end()) << name;
            EXPECT_TRUE(it->second == bytes) << name << " differs";
        }
    }
};

struct Case {
    const char *name;
    std::string args;
    std::string before = "";     // a shell command run in the folder first
    std::string feed = "";       // a shell command that writes standard input
};

// Every run of a case with several jobs equals the run with one: the same
// files, the same bytes on standard output and standard error, the same
// exit status.
TEST_F(Jobs, SeveralAtOnceWriteWhatOneAtATimeWrites)
{
    const std::string mixed = "a.mp3 notes.mp3 b.mp3 missing.mp3 c.mp3 held.mp3 d.mp3 e.mp3 f.mp3";
    const Case cases[] = {
        {"to_files", mixed},
        {"raw_start_and_duration", "-r -s 0.4 -t 0.6 " + mixed},
        {"equalizer_and_rate", "-E bass -R 48000 loud.mp3 " + mixed},
        {"start_past_the_end", "-s 1.49 " + mixed},
        {"info", "--info " + mixed},
        {"json", "--json " + mixed},
        // the first - reads all of standard input, which comes slowly; the second finds its end
        {"standard_input_to_standard_output", "-r - - a.mp3 - c.mp3", "",
         "head -c 5000 b.mp3; sleep 0.3; tail -c +5001 b.mp3"},
        {"outputs_written_for_earlier_inputs", "a.mp3 c.mp3 a.mp3 ./a.mp3 sub/a.mp3 a.mp2 sub/../a.mp3"},
        {"no_clobber", "-n a.mp3 c.mp3 d.mp3 f.mp3", ": > c.wav && : > f.wav"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome one = RunIn(std::string(c.name) + "-1", "-j 1 " + c.args, c.before, c.feed);
        EXPECT_FALSE(one.err.empty());
        int k = 2;
        for (const std::string jobs : {"-j 2", "-j 0", "--jobs 8", "-j3"}) {
            SCOPED_TRACE(jobs);
            const std::string name = std::string(c.name) + "-" + std::to_string(k++);
            ExpectSame(RunIn(name, jobs + " " + c.args, c.before, c.feed), one);
        }
    }
}

// The exit status of several inputs is the highest of theirs, whichever
// input fails and in whatever order they end.
TEST_F(Jobs, TheExitStatusIsTheWorst)
{
    const struct {
        const char *inputs;
        int status;
    } cases[] = {
        {"a.mp3 c.mp3 f.mp3", 0},
        {"a.mp3 notes.mp3 c.mp3", 2},
        {"notes.mp3 a.mp3 c.mp3", 2},
        {"held.mp3 notes.mp3 a.mp3", 3},
        {"a.mp3 notes.mp3 held.mp3", 3},
        {"notes.mp3 held.mp3 missing.mp3 f.mp3", 3},
        {"missing.mp3 a.mp3", 2},
    };
    int k = 0;
    for (const auto &c : cases)
        for (const char *jobs : {"-j 1", "-j 2", "-j 0"}) {
            SCOPED_TRACE(std::string(jobs) + " " + c.inputs);
            EXPECT_EQ(RunIn("status" + std::to_string(k++), std::string(jobs) + " -q " + c.inputs).status, c.status);
        }
}

// Each input of a run decodes to the bytes it decodes to alone, in a
// process of its own: nothing of one input's decode carries into the next
// (the output stage's error feedback, the equalizer's gain reduction).
TEST_F(Jobs, EachInputDecodesAsItDoesAlone)
{
    const std::string inputs[] = {"loud.mp3", "a.mp3", "b.mp3", "c.mp3", "e.mp3", "f.mp3", "d.mp3"};
    for (const std::string options : {"", "-E loudness", "-R 48000", "-G -r"}) {
        SCOPED_TRACE(options);
        std::map<std::string, Bytes> alone;
        for (size_t i = 0; i < std::size(inputs); ++i) {
            const std::string name = "alone" + std::to_string(i);
            const Outcome r = RunIn(name, "-q " + options + " " + inputs[i]);
            ASSERT_EQ(r.status, 0);
            for (const auto &[file, bytes] : r.files)
                if (file.find(".mp3") == std::string::npos && file.find(".mp2") == std::string::npos &&
                    file != "held.wav")
                    alone[file] = bytes;
        }
        for (const std::string jobs : {"-j 1", "-j 2"}) {
            SCOPED_TRACE(jobs);
            // the loud one first, with the equalizer: its gain reduction at work
            std::string list;
            for (const std::string &in : inputs)
                list += " " + in;
            const Outcome r = RunIn("together" + jobs.substr(3), "-q " + options + " " + jobs + list);
            EXPECT_EQ(r.status, 0);
            for (const auto &[file, bytes] : alone) {
                ASSERT_TRUE(r.files.count(file)) << file;
                EXPECT_TRUE(r.files.at(file) == bytes) << file << " differs from its decode alone";
            }
        }
    }
}

// SIGTERM while several inputs are being written removes every partial output.
TEST_F(Jobs, ASignalRemovesEveryPartialOutput)
{
    const std::string in = data + "/mpeg1-44100-stereo.mp3";
    // two inputs that are pipes, which stay open after some seconds of audio
    const std::string command =
        "cd " + dir + " && mkfifo one.mp3 two.mp3; " + host + " -q -j 2 one.mp3 two.mp3 & pid=$!; "
        "for f in one two; do (for i in 1 2 3 4 5 6 7 8; do cat " + in + "; done; sleep 10) > $f.mp3 2>/dev/null & done; "
        "while [ ! -s one.wav ] || [ ! -s two.wav ]; do sleep 0.05; done; sleep 0.2; kill -TERM $pid; wait $pid";
    EXPECT_EQ(Shell(command), 143);
    EXPECT_FALSE(Exists(dir + "/one.wav"));
    EXPECT_FALSE(Exists(dir + "/two.wav"));
}

// A closed pipe on standard output ends the run quietly, as ever, and
// removes the partial output of an input decoded meanwhile.
TEST_F(Jobs, AClosedPipeRemovesThePartialOutputsOfTheOthers)
{
    const std::string in = data + "/mpeg1-44100-stereo.mp3";
    // standard input comes after half a second; the other input, a pipe,
    // is still being written then
    const std::string command = "cd " + dir + " && mkfifo slow.mp3; (for i in 1 2 3 4 5 6 7 8; do cat " + in +
                                "; done; sleep 3; cat " + in + ") > slow.mp3 2>/dev/null & cd " + dir +
                                " && ((sleep 0.5; cat " + in + ") | " + host +
                                " -q -j 2 - slow.mp3 2> err.txt; echo $? > status.txt) | head -c 100 > /dev/null";
    EXPECT_EQ(Shell(command), 0);
    EXPECT_EQ(ReadFile(dir + "/status.txt"), Bytes({'1', '4', '1', '\n'}));  // SIGPIPE's
    EXPECT_TRUE(ReadFile(dir + "/err.txt").empty());
    EXPECT_FALSE(Exists(dir + "/slow.wav"));
}

// -j was the short form of --json before it gave the number of jobs: where
// no number follows it, it still is.
TEST_F(Jobs, JWithoutANumberIsStillJson)
{
    const Outcome json = RunIn("json", "--json a.mp3 c.mp3");
    ASSERT_EQ(json.status, 0);
    const Outcome plain = RunIn("plain", "a.mp3 c.mp3");
    const struct {
        const char *name;
        const char *args;
        const Outcome *same;  // null: a usage error
    } cases[] = {
        {"j_then_file", "-j a.mp3 c.mp3", &json},
        {"j_last", "a.mp3 c.mp3 -j", &json},
        {"j_in_a_cluster", "-qj a.mp3 c.mp3", nullptr},
        {"j_before_option", "-j -q a.mp3 c.mp3", nullptr},
        {"j_number", "-j 2 a.mp3 c.mp3", &plain},
        {"j_glued_number", "-j2 a.mp3 c.mp3", &plain},
        {"jobs_not_a_number", "--jobs x a.mp3 c.mp3", nullptr},
        {"jobs_too_many", "--jobs 65 a.mp3 c.mp3", nullptr},
        {"j_negative", "-j -1 a.mp3", nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome r = RunIn(c.name, c.args);
        if (c.same == &json) {
            ExpectSame(r, json);
        } else if (c.same == &plain) {
            ExpectSame(r, plain);
        } else if (std::string(c.name).rfind("jobs", 0) == 0) {
            EXPECT_EQ(r.status, 1);
            EXPECT_NE(r.err.find("invalid number of jobs"), std::string::npos) << r.err;
        } else if (std::string(c.name) == "j_negative") {
            EXPECT_EQ(r.status, 1);  // -1 is no option
        } else {
            // JSON, quiet: the same objects
            EXPECT_EQ(r.status, 0);
            EXPECT_EQ(r.out, json.out);
        }
    }
}

} // namespace
