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

// The program at its pause on a pseudo-terminal of the test's.
class UsagePause : public ::testing::Test {
protected:
    int master = -1;
    pid_t pid = -1;
    std::string seen;

    void SetUp() override
    {
        ResetSettings();
        SetSetting("LocationPath", FixtureLibrary("full") + '\0');
        std::string program = ProgramDirectory() + "/brennick";
        pid = ::forkpty(&master, nullptr, nullptr, nullptr);
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::execl(program.c_str(), program.c_str(), "/?", static_cast<char*>(nullptr));
            ::_exit(122);
        }
        ASSERT_TRUE(ReadUntil(master, "Press any key to continue . . . ", &seen, 10000)) << seen;
    }

    void TearDown() override
    {
        if (pid > 0 && ::waitpid(pid, nullptr, WNOHANG) == 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        if (master >= 0) ::close(master);
    }

    // Waits up to five seconds for the program to end.
    bool Ended(int* status)
    {
        for (int i = 0; i < 100; ++i, ::usleep(50000))
            if (::waitpid(pid, status, WNOHANG) == pid) {
                pid = -1;
                return true;
            }
        return false;
    }

    // The line discipline's modes, read through the master side.
    tcflag_t LocalModes()
    {
        struct termios t;
        return ::tcgetattr(master, &t) == 0 ? t.c_lflag : 0;
    }
    bool EchoAndCanonical() { return (LocalModes() & (ECHO | ICANON)) == (ECHO | ICANON); }
};

TEST_F(UsagePause, ReturnsAfterOneKeyOnATerminal)
{
    EXPECT_NE(seen.find("Example of usage:"), std::string::npos);
    // Raw before the prompt: a key pressed as soon as it shows is not echoed.
    EXPECT_EQ(LocalModes() & (ECHO | ICANON), 0u) << "raw mode when the prompt shows";

    // No line is needed: one key ends the wait.
    ASSERT_EQ(::write(master, "x", 1), 1);
    int status = -1;
    ASSERT_TRUE(Ended(&status)) << "the pause did not return after one key";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    std::string after;
    ReadUntil(master, "\n", &after, 2000);
    EXPECT_EQ(after.find('x'), std::string::npos) << "the key is not echoed: " << after;
    EXPECT_TRUE(EchoAndCanonical()) << "the terminal is given back";
}

TEST_F(UsagePause, GivesTheTerminalBackWhenEndedBySignal)
{
    ASSERT_EQ(::kill(pid, SIGTERM), 0);
    int status = -1;
    ASSERT_TRUE(Ended(&status));
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    EXPECT_TRUE(EchoAndCanonical());
}

TEST(UnattendedUsage, EndsAtOnceOnATerminal)
{
    ResetSettings();
    SetSetting("LocationPath", FixtureLibrary("full") + '\0');
    SetSetting("Unattended", std::string("1") + '\0');
    std::string program = ProgramDirectory() + "/brennick";
    int master = -1;
    pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::execl(program.c_str(), program.c_str(), "/?", static_cast<char*>(nullptr));
        ::_exit(122);
    }
    std::string seen;
    ReadUntil(master, "Brennick /gs", &seen, 10000);
    int status = -1;
    bool ended = false;
    for (int i = 0; i < 100 && !ended; ++i, ::usleep(50000)) ended = ::waitpid(pid, &status, WNOHANG) == pid;
    if (!ended) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    ::close(master);
    EXPECT_TRUE(ended) << "it waited for a key";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(seen.find("Press any key"), std::string::npos);
    ResetSettings();
}
