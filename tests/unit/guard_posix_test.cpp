// The guard lends its fault handlers and signal stack to the call only: what
// the process had in force before is back afterwards.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>

#include "platform/platform.h"

namespace {

void OwnHandler(int) {}

void Nothing(void*) {}

void Throws(void*)
{
    throw 1;
}

const int kSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP};
constexpr int kCount = sizeof kSignals / sizeof kSignals[0];

}  // namespace

TEST(Guard, GivesBackTheHandlersAndStackInForceBefore)
{
    alignas(16) static char ownStack[64 * 1024];
    stack_t own = {};
    own.ss_sp = ownStack;
    own.ss_size = sizeof ownStack;
    stack_t before;
    ASSERT_EQ(sigaltstack(&own, &before), 0);
    struct sigaction mine = {};
    mine.sa_handler = OwnHandler;
    sigemptyset(&mine.sa_mask);
    struct sigaction saved[kCount];
    for (int i = 0; i < kCount; ++i) ASSERT_EQ(sigaction(kSignals[i], &mine, &saved[i]), 0);

    const char* fault = "untouched";
    EXPECT_TRUE(platform::RunGuarded(Nothing, nullptr, &fault));
    EXPECT_EQ(fault, nullptr);
    EXPECT_FALSE(platform::RunGuarded(Throws, nullptr, &fault));
    EXPECT_STREQ(fault, "C++ exception");

    stack_t now;
    sigaltstack(nullptr, &now);
    EXPECT_EQ(now.ss_sp, static_cast<void*>(ownStack));
    EXPECT_EQ(now.ss_size, sizeof ownStack);
    for (int i = 0; i < kCount; ++i) {
        struct sigaction current;
        sigaction(kSignals[i], &saved[i], &current);
        EXPECT_EQ(current.sa_handler, &OwnHandler) << "signal " << kSignals[i];
    }
    sigaltstack(&before, nullptr);
}
