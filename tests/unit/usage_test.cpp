// The usage table joined is exactly the text a user reads; on both builds.
#include <gtest/gtest.h>

#include <string>

#include "app/usage.h"
#include "support/expected_usage.h"

TEST(UsageText, IsTheFixedScreen)
{
    std::string joined;
    for (const char* entry : kUsageText) joined += entry;
    EXPECT_EQ(joined, kExpectedUsage);
}
