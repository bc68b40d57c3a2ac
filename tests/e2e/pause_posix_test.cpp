// On a terminal the usage screen waits for one key, in raw mode, and gives
// the terminal back as it found it.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "support/harness.h"

namespace {

// Reads from the terminal until text has appeared or time runs out.
bool ReadUntil(int fd, const std::string& text, std::string* seen, int timeoutMs)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (seen->find(text) == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        end - std::chrono::steady_clock::now()).count();
        if (left <= 0) return false;
        pollfd p = {fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
        char buf[4096];
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) return false;
        seen->append(buf, static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

TEST(UsagePause, ReturnsAfterOneKeyOnATerminal)
{
    ResetSettings();
    SetSetting("LocationPath", FixtureLibrary("full") + '\0');
    std::string program = ProgramDirectory() + "/brennick";

    int master = -1;
    pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::execl(program.c_str(), program.c_str(), "/?", static_cast<char*>(nullptr));
        ::_exit(122);
    }
    std::string seen;
    ASSERT_TRUE(ReadUntil(master, "Press any key to continue . . . ", &seen, 10000)) << seen;
    EXPECT_NE(seen.find("Example of usage:"), std::string::npos);

    // No line is needed: one key ends the wait.
    ASSERT_EQ(::write(master, "x", 1), 1);
    int status = -1;
    for (int i = 0; i < 100 && ::waitpid(pid, &status, WNOHANG) == 0; ++i) ::usleep(50000);
    if (!WIFEXITED(status)) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        FAIL() << "the pause did not return after one key";
    }
    EXPECT_EQ(WEXITSTATUS(status), 0);
    std::string after;
    ReadUntil(master, "\n", &after, 2000);
    EXPECT_EQ(after.find('x'), std::string::npos) << "the key is not echoed: " << after;
    ::close(master);
}
