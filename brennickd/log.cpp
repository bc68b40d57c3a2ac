#include "brennickd/log.h"

#include <cstdio>
#include <mutex>

#include "brennickd/journal_search.h"
#include "platform/platform.h"

namespace {
std::mutex g_lines;
platform::FileHandle g_file = platform::kNoFile;
unsigned long long g_lost = 0;
}  // namespace

unsigned long long LogLinesLost()
{
    std::lock_guard<std::mutex> lock(g_lines);
    return g_lost;
}

bool LogToFile(const std::string& path)
{
    std::lock_guard<std::mutex> lock(g_lines);
    return platform::OpenForAppend(path.c_str(), &g_file);
}

void LogLine(const std::string& text)
{
    std::lock_guard<std::mutex> lock(g_lines);
    std::string line = JournalTimeNow() + " brennickd: " + text + "\n";
    // A reader of standard error that has gone away fails the write; the
    // signal it would raise is ignored (platform::IgnoreBrokenPipes).
    if (std::fputs(line.c_str(), stderr) < 0 || std::fflush(stderr) != 0) {
        ++g_lost;
        std::clearerr(stderr);
    }
    if (g_file != platform::kNoFile && !platform::AppendLine(g_file, line.data(), line.size())) ++g_lost;
}
