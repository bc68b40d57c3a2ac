// The usage screen on a terminal: the text goes to standard output as it is,
// and the pause waits for one key only when someone sits at a terminal.
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>

#include "platform/platform.h"

namespace {

// The terminal as the pause found it, for the signal handlers below.
struct termios g_savedTerminal;

const int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int kEndingSignalCount = sizeof kEndingSignals / sizeof kEndingSignals[0];

// A key like Ctrl-C still ends the run during the pause: give the terminal
// back first, then end as the signal would have.
void RestoreAndReraise(int signal)
{
    ::tcsetattr(STDIN_FILENO, TCSANOW, &g_savedTerminal);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

}  // namespace

namespace platform {

bool OpenUsageConsole()
{
    return true;
}

void PauseForKey()
{
    if (IsUnattended() || !::isatty(STDIN_FILENO)) return;

    // Raw mode comes before the prompt: a key pressed as soon as the prompt
    // shows must neither echo nor wait for a line end.
    bool raw = ::tcgetattr(STDIN_FILENO, &g_savedTerminal) == 0;
    struct sigaction previous[kEndingSignalCount];
    if (raw) {
        struct sigaction action = {};
        action.sa_handler = RestoreAndReraise;
        sigemptyset(&action.sa_mask);
        for (int i = 0; i < kEndingSignalCount; ++i)
            ::sigaction(kEndingSignals[i], &action, &previous[i]);
        struct termios t = g_savedTerminal;
        t.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 0;
        ::tcsetattr(STDIN_FILENO, TCSANOW, &t);
    }

    std::fputs("Press any key to continue . . . ", stdout);
    std::fflush(stdout);
    char key;
    while (::read(STDIN_FILENO, &key, 1) < 0 && errno == EINTR) {
    }

    if (raw) {
        ::tcsetattr(STDIN_FILENO, TCSANOW, &g_savedTerminal);
        for (int i = 0; i < kEndingSignalCount; ++i)
            ::sigaction(kEndingSignals[i], &previous[i], nullptr);
    }
    std::fputs("\n", stdout);
    std::fflush(stdout);
}

}  // namespace platform
