// Host terminal input: raw no-echo keys from standard input when it is a terminal.
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "host_internal.h"

namespace {

bool rawMode = false;
struct termios saved;

}  // namespace

void hostTerminalRestore() {
    if (!rawMode) return;
    tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    rawMode = false;
}

void hostTerminalInit() {
    if (rawMode || !isatty(STDIN_FILENO)) return;
    if (tcgetattr(STDIN_FILENO, &saved) != 0) return;
    struct termios raw = saved;
    // Keys arrive one at a time without echo; signals (Ctrl+C) stay with the terminal.
    raw.c_lflag &= ~tcflag_t(ICANON | ECHO);
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0) return;
    rawMode = true;
    // Any way out, even one that skips the host's own, puts the terminal back.
    static bool registered = false;
    if (!registered) {
        registered = true;
        std::atexit(hostTerminalRestore);
    }
}

void hostTerminalPoll() {
    if (!rawMode) return;
    // Everything the terminal holds is taken at once: a burst of keys cut at a buffer's end
    // would split an escape sequence into an Escape and two printable keys.
    std::vector<unsigned char> buffer;
    unsigned char chunk[256];
    ssize_t got;
    while ((got = read(STDIN_FILENO, chunk, sizeof chunk)) > 0)
        buffer.insert(buffer.end(), chunk, chunk + got);
    const ssize_t n = ssize_t(buffer.size());
    for (ssize_t i = 0; i < n; ++i) {
        const int c = buffer[i];
        // An escape sequence (cursor and function keys) is one key press, not an Escape.
        if (c == 27 && i + 1 < n && (buffer[i + 1] == '[' || buffer[i + 1] == 'O')) {
            i += 2;
            while (i < n && !(buffer[i] >= 0x40 && buffer[i] <= 0x7E)) ++i;
            continue;
        }
        if (c == '\n' || c == '\r')
            hostKeyFromDevice(13);
        else if (c == 127)
            hostKeyFromDevice(8);
        else if (c == 27 || c == 8 || c == 9 || (c >= 32 && c < 127))
            hostKeyFromDevice(c);
    }
}
