#include "brennickd/log.h"

#include <cstdio>
#include <mutex>

#include "brennickd/journal_search.h"

void LogLine(const std::string& text)
{
    static std::mutex lines;
    std::lock_guard<std::mutex> lock(lines);
    std::fprintf(stderr, "%s brennickd: %s\n", JournalTimeNow().c_str(), text.c_str());
    std::fflush(stderr);
}
