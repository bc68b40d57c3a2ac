// The usage screen on a terminal: the text goes to standard output as it is,
// and the pause waits for one key only when someone sits at a terminal.
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/platform.h"

namespace platform {

bool OpenUsageConsole()
{
    return true;
}

void PauseForKey()
{
    if (!::isatty(STDIN_FILENO)) return;
    std::fputs("Press any key to continue . . . ", stdout);
    std::fflush(stdout);

    struct termios saved;
    bool raw = ::tcgetattr(STDIN_FILENO, &saved) == 0;
    if (raw) {
        struct termios t = saved;
        t.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 0;
        ::tcsetattr(STDIN_FILENO, TCSANOW, &t);
    }
    char key;
    while (::read(STDIN_FILENO, &key, 1) < 0 && errno == EINTR) {
    }
    if (raw) ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    std::fputs("\n", stdout);
    std::fflush(stdout);
}

}  // namespace platform
