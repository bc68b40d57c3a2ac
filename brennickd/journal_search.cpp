#include "brennickd/journal_search.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>

#include "platform/platform.h"

namespace {

// brennick-YYYYMMDD.jsonl of the day that t falls on, in local time.
std::string FileOfDay(const std::string& folder, std::time_t t)
{
    // Called under the store's lock, the only caller of localtime here.
    std::tm local = *std::localtime(&t);
    char name[80];
    std::snprintf(name, sizeof name, "brennick-%04d%02d%02d.jsonl", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday);
    return folder + platform::kPathSeparator + name;
}

}  // namespace

std::string JournalTimeNow()
{
    platform::LocalTime t = platform::LocalNow();
    int offset = t.offsetMinutes < 0 ? -t.offsetMinutes : t.offsetMinutes;
    char s[80];
    std::snprintf(s, sizeof s, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", t.year, t.month, t.day, t.hour,
                  t.minute, t.second, t.millisecond, t.offsetMinutes < 0 ? '-' : '+', offset / 60, offset % 60);
    return s;
}

nlohmann::json FindRunEnd(const std::string& folder, const std::string& run, unsigned long pid,
                          const std::string& started)
{
    if (folder.empty() || (run.empty() && pid == 0) || started.size() < 10) return nullptr;
    std::tm day = {};
    day.tm_year = std::stoi(started.substr(0, 4)) - 1900;
    day.tm_mon = std::stoi(started.substr(5, 2)) - 1;
    day.tm_mday = std::stoi(started.substr(8, 2));
    day.tm_hour = 12;
    day.tm_isdst = -1;
    std::time_t from = std::mktime(&day);
    std::time_t now = std::time(nullptr);
    const std::string byRun = "\"run\":\"" + run + "\"";
    const std::string byPid = "\"pid\":" + std::to_string(pid) + ",";
    for (std::time_t t = from; t <= now + 86400; t += 86400) {
        std::ifstream in(FileOfDay(folder, t), std::ios::binary);
        for (std::string line; std::getline(in, line);) {
            if (line.find("\"event\":\"end\"") == std::string::npos) continue;
            if (!run.empty() ? line.find(byRun) == std::string::npos : line.find(byPid) == std::string::npos)
                continue;
            nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
            if (!j.is_object()) continue;
            if (run.empty() && j.value("time", "") < started) continue;
            return j;
        }
    }
    return nullptr;
}
