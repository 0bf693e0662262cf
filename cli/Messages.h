// SPDX-License-Identifier: GPL-2.0-or-later
// What one input of vorlix-decode has to say, on standard output (--info)
// and standard error. Written as it comes while the input is live (the first
// of the inputs not yet done), kept until then otherwise: inputs decoded at
// once speak one after another, in the order they were given.
#ifndef VORLIX_CLI_MESSAGES_H
#define VORLIX_CLI_MESSAGES_H

#include <mutex>
#include <string>
#include <vector>

class Messages {
public:
    explicit Messages(bool live = false) : live_(live) {}
    Messages(const Messages &) = delete;
    Messages &operator=(const Messages &) = delete;

    void Out(const std::string &text);  // to standard output
    void Err(const std::string &text);  // to standard error
    /** "vorlix-decode: message" on standard error; returns code. */
    int Error(int code, const std::string &message);

    bool Live() const;
    /** Writes what was kept; from now on text is written as it comes. */
    void GoLive();

private:
    struct Piece {
        bool err;
        std::string text;
    };
    static void Write(const Piece &piece);

    mutable std::mutex lock_;
    bool live_;
    std::vector<Piece> kept_;
};

/** printf's formatting into a string. */
std::string Printf(const char *format, ...) __attribute__((format(printf, 1, 2)));

#endif
