// SPDX-License-Identifier: GPL-2.0-or-later
#include "Terminal.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "Display.h"

namespace {

termios saved;
volatile sig_atomic_t savedValid = 0;
void (*signalCleanup)() = nullptr;
volatile sig_atomic_t resized = 0;

extern "C" void NoteResize(int)
{
    resized = 1;
}

extern "C" void RestoreAndExit(int signal)
{
    if (savedValid)
        tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    if (signalCleanup != nullptr)
        signalCleanup();
    static const char newline = '\n';
    if (write(STDERR_FILENO, &newline, 1) < 0) {
    }
    _exit(128 + signal);
}

void RestoreAtExit()
{
    if (savedValid)
        tcsetattr(STDIN_FILENO, TCSANOW, &saved);
}

// One byte from standard input, waiting at most ms; -1 when there is none.
int ReadByte(int ms)
{
    pollfd p = {STDIN_FILENO, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0 || !(p.revents & POLLIN))
        return -1;
    unsigned char c;
    return read(STDIN_FILENO, &c, 1) == 1 ? c : -1;
}

} // namespace

void Terminal::Start()
{
    // the status line follows the width; poll and sleeps end early on a
    // resize, which the loop around them takes for a wait without a key
    struct sigaction action = {};
    action.sa_handler = NoteResize;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGWINCH, &action, nullptr);
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &saved) != 0)
        return;
    savedValid = 1;
    std::atexit(RestoreAtExit);
    termios raw = saved;
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    raw_ = tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
}

void Terminal::Restore()
{
    EndStatus();
    if (savedValid)
        tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    raw_ = false;
}

Key Terminal::Read(std::chrono::milliseconds wait)
{
    if (!raw_) {
        if (wait.count() > 0)
            usleep(static_cast<useconds_t>(wait.count()) * 1000);
        return Key::None;
    }
    const int c = ReadByte(static_cast<int>(wait.count()));
    switch (c) {
    case ' ':
        return Key::Space;
    case 'n':
        return Key::Next;
    case 'p':
        return Key::Previous;
    case 'e':
        return Key::Equalizer;
    case '+':
    case '=':
        return Key::Louder;
    case '-':
        return Key::Softer;
    case 'q':
        return Key::Quit;
    case 0x1b: {
        // arrows: ESC [ A..D (or ESC O A..D)
        const int b = ReadByte(50);
        if (b != '[' && b != 'O')
            return Key::None;
        switch (ReadByte(50)) {
        case 'A':
            return Key::Up;
        case 'B':
            return Key::Down;
        case 'C':
            return Key::Right;
        case 'D':
            return Key::Left;
        default:
            return Key::None;
        }
    }
    default:
        return Key::None;
    }
}

size_t Terminal::Width()
{
    if (resized || width_ == 0) {
        resized = 0;
        winsize size = {};
        width_ = ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1 ? size.ws_col - 1u : 79u;
    }
    return width_;
}

void Terminal::Status(const std::string &line)
{
    if (!isatty(STDERR_FILENO))
        return;
    std::fprintf(stderr, "\r%s\033[K", Fit(line, Width()).c_str());
    std::fflush(stderr);
    statusShown_ = true;
}

void Terminal::EndStatus()
{
    if (statusShown_)
        std::fputc('\n', stderr);
    statusShown_ = false;
}

void OnSignalRestore(Terminal *, void (*cleanup)())
{
    signalCleanup = cleanup;
    struct sigaction action = {};
    action.sa_handler = RestoreAndExit;
    sigemptyset(&action.sa_mask);
    for (int s : {SIGINT, SIGTERM, SIGHUP})
        sigaction(s, &action, nullptr);
}
