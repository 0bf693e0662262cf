// SPDX-License-Identifier: GPL-2.0-or-later
#include "Messages.h"

#include <cstdarg>
#include <cstdio>

void Messages::Write(const Piece &piece)
{
    // standard output is flushed at once, so that it keeps its place
    // among the messages on standard error where both go to one file
    if (piece.err) {
        std::fputs(piece.text.c_str(), stderr);
    } else {
        std::fputs(piece.text.c_str(), stdout);
        std::fflush(stdout);
    }
}

void Messages::Out(const std::string &text)
{
    const std::lock_guard<std::mutex> hold(lock_);
    if (live_)
        Write({false, text});
    else
        kept_.push_back({false, text});
}

void Messages::Err(const std::string &text)
{
    const std::lock_guard<std::mutex> hold(lock_);
    if (live_)
        Write({true, text});
    else
        kept_.push_back({true, text});
}

int Messages::Error(int code, const std::string &message)
{
    Err("vorlix-decode: " + message + "\n");
    return code;
}

bool Messages::Live() const
{
    const std::lock_guard<std::mutex> hold(lock_);
    return live_;
}

void Messages::GoLive()
{
    const std::lock_guard<std::mutex> hold(lock_);
    for (const Piece &piece : kept_)
        Write(piece);
    kept_.clear();
    live_ = true;
}

std::string Printf(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text(n > 0 ? static_cast<size_t>(n) : 0, '\0');
    if (n > 0)
        std::vsnprintf(text.data(), text.size() + 1, format, again);
    va_end(again);
    return text;
}
