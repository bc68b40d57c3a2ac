#include "brennickd/log.h"

#include <cstdio>
#include <mutex>

#include "brennickd/journal_search.h"
#include "platform/platform.h"

namespace {
std::mutex g_lines;
platform::FileHandle g_file = platform::kNoFile;
}  // namespace

bool LogToFile(const std::string& path)
{
    std::lock_guard<std::mutex> lock(g_lines);
    return platform::OpenForAppend(path.c_str(), &g_file);
}

void LogLine(const std::string& text)
{
    std::lock_guard<std::mutex> lock(g_lines);
    std::string line = JournalTimeNow() + " brennickd: " + text + "\n";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    // A log that cannot be written loses its line, never a payment.
    if (g_file != platform::kNoFile) platform::AppendLine(g_file, line.data(), line.size());
}
