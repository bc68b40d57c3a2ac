#include "brennickd/log.h"

#include <cstdio>
#include <filesystem>
#include <mutex>

#include "brennickd/journal_search.h"
#include "platform/platform.h"

namespace {
std::mutex g_lines;
platform::FileHandle g_file = platform::kNoFile;
std::string g_path;
unsigned long long g_size = 0;
unsigned long long g_lost = 0;

// Under g_lines.
void Rotate()
{
    unsigned long ignored;
    platform::CloseFile(g_file, &ignored);
    g_file = platform::kNoFile;
    std::error_code ec;
    std::filesystem::remove(g_path + ".1", ec);
    std::filesystem::rename(g_path, g_path + ".1", ec);
    if (!platform::OpenForAppend(g_path.c_str(), &g_file)) g_file = platform::kNoFile;
    g_size = 0;
}
}  // namespace

unsigned long long LogLinesLost()
{
    std::lock_guard<std::mutex> lock(g_lines);
    return g_lost;
}

bool LogToFile(const std::string& path)
{
    std::lock_guard<std::mutex> lock(g_lines);
    g_path = path;
    std::error_code ec;
    g_size = std::filesystem::exists(path, ec) ? std::filesystem::file_size(path, ec) : 0;
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
    if (g_file == platform::kNoFile) return;
    if (!platform::AppendLine(g_file, line.data(), line.size())) {
        ++g_lost;
        return;
    }
    g_size += line.size();
    if (g_size > kLogFileBytes) Rotate();
}
