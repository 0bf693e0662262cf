// SPDX-License-Identifier: GPL-2.0-or-later
#include "Jobs.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "Decode.h"
#include "Messages.h"
#include "OutputChoice.h"

namespace {

struct Input {
    std::string name, output;
    std::vector<size_t> after;  // earlier inputs that must be done before this one starts
    Messages say;
    bool done = false;
    int status = 0;
};

// The inputs and where they stand, shared by the threads.
class Run {
public:
    explicit Run(const Options &o);
    /** Decodes the inputs not yet taken, in order, until none is left. */
    void Work();
    int Status() const;

private:
    void Decode(size_t k);
    void Done(size_t k, int status);

    const Options &o_;
    std::vector<std::unique_ptr<Input>> inputs_;
    std::atomic<size_t> next_{0};
    std::mutex lock_;
    std::condition_variable changed_;
    size_t live_ = 0;                  // the first input not done: its messages are written as they come
    std::vector<size_t> succeeded_;    // the inputs done that succeeded, with an output
};

// An input waits for each earlier one that shares its source or its output:
// standard input is read, and a file or standard output written, in the
// order of the inputs, as one at a time would; whether an output was
// written for an earlier input is known before it is refused.
Run::Run(const Options &o) : o_(o)
{
    for (size_t k = 0; k < o.inputs.size(); ++k) {
        auto in = std::make_unique<Input>();
        in->name = o.inputs[k];
        in->output = OutputPath(o, in->name);
        for (size_t j = 0; j < k; ++j) {
            const Input &earlier = *inputs_[j];
            if ((in->name == "-" && earlier.name == "-") ||
                (!o.info && MayBeOneOutput(in->output, earlier.output)))
                in->after.push_back(j);
        }
        inputs_.push_back(std::move(in));
    }
    if (!inputs_.empty())
        inputs_[0]->say.GoLive();
}

void Run::Work()
{
    for (size_t k; (k = next_.fetch_add(1)) < inputs_.size();)
        Decode(k);
}

void Run::Decode(size_t k)
{
    Input &in = *inputs_[k];
    std::vector<std::string> written;
    {
        std::unique_lock<std::mutex> hold(lock_);
        changed_.wait(hold, [&] {
            return std::all_of(in.after.begin(), in.after.end(), [&](size_t j) { return inputs_[j]->done; });
        });
        for (size_t j : succeeded_)
            if (j < k)
                written.push_back(inputs_[j]->output);
    }
    Done(k, DecodeInput(o_, in.name, written, in.say));
}

void Run::Done(size_t k, int status)
{
    const std::lock_guard<std::mutex> hold(lock_);
    Input &in = *inputs_[k];
    in.status = status;
    in.done = true;
    if (status == exitOk && !o_.info)
        succeeded_.push_back(k);
    // the next inputs speak once those before them are done
    while (live_ < inputs_.size() && inputs_[live_]->done)
        if (++live_ < inputs_.size())
            inputs_[live_]->say.GoLive();
    changed_.notify_all();
}

int Run::Status() const
{
    int status = exitOk;
    for (const auto &in : inputs_)
        status = std::max(status, in->status);
    return status;
}

} // namespace

int DecodeAll(const Options &o)
{
    Run run(o);
    const size_t threads = std::min<size_t>(static_cast<size_t>(std::max(o.jobs, 1)), o.inputs.size());
    std::vector<std::thread> helpers;
    for (size_t t = 1; t < threads; ++t) {
        try {
            helpers.emplace_back([&run] { run.Work(); });
        } catch (const std::system_error &) {
            break;  // no more threads to be had: those there are do the work
        }
    }
    run.Work();  // the main thread is one of them
    for (std::thread &t : helpers)
        t.join();
    return run.Status();
}
