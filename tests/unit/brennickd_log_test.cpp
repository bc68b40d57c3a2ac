#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include "brennickd/log.h"
#include "support/scratch.h"

#ifndef _WIN32
// A log that grows past its bound starts anew, the last one kept beside it;
// never more than one old file.
TEST(Log, AFileGrownPastItsBoundIsKeptAsOneOldFile)
{
    const std::string path = (ScratchFolder("log") / "brennickd.log").string();
    int saved = ::dup(2), null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 2);
    bool opened = LogToFile(path);
    const std::string text(200, 'x');
    for (unsigned long long n = 0; opened && n < 2 * kLogFileBytes / 200 + 100; ++n) LogLine(text);
    ::dup2(saved, 2);
    ::close(saved);
    ::close(null);
    ASSERT_TRUE(opened);
    EXPECT_LE(std::filesystem::file_size(path), kLogFileBytes);
    EXPECT_GT(std::filesystem::file_size(path + ".1"), kLogFileBytes - 1024);
    EXPECT_FALSE(std::filesystem::exists(path + ".2"));
}
#endif
