// SPDX-License-Identifier: GPL-2.0-or-later
// The player's terminal: keys one at a time without echo, restored on every
// way out (normal exit, SIGINT, SIGTERM, SIGHUP), and a status line that
// fits the terminal's width as it changes (SIGWINCH).
#ifndef VORLIX_CLI_TERMINAL_H
#define VORLIX_CLI_TERMINAL_H

#include <chrono>
#include <string>

enum class Key { None, Space, Left, Right, Up, Down, Next, Previous, Equalizer, Louder, Softer, Quit };

class Terminal {
public:
    /** Raw mode on standard input when it is a terminal; keys are off
     *  otherwise. Follows the width of the status line's terminal from here on. */
    void Start();
    /** Back to the settings found at Start. */
    void Restore();
    bool Keys() const { return raw_; }

    /** The next key, waiting at most `wait`; Key::None when there is none. */
    Key Read(std::chrono::milliseconds wait);

    /** Columns the status line may take: one less than the terminal's
     *  width (80 when unknown), so that writing its last column cannot wrap. */
    size_t Width();

    /** Rewrites the status line on standard error (when it is a terminal);
     *  Printable text, cut to Width() where it is wider: a line that wrapped
     *  would leave a copy of itself at every refresh. */
    void Status(const std::string &line);
    /** Ends the status line, so that other output starts on a line of its own. */
    void EndStatus();

private:
    bool raw_ = false;
    bool statusShown_ = false;
    size_t width_ = 0;  // 0: to be asked
};

/** On SIGINT, SIGTERM and SIGHUP: restore the terminal, run `cleanup` (which
 *  must be async-signal-safe) and end with 128 + the signal number. */
void OnSignalRestore(Terminal *terminal, void (*cleanup)());

#endif
