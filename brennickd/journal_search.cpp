#include "brennickd/journal_search.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>

#include "platform/platform.h"

namespace {

// Days since 1970 of a civil date (Howard Hinnant's algorithm): the files
// are named by the local date, so days are counted on the calendar, never
// through a time zone.
long long DaysOf(int y, int m, int d)
{
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long yoe = y - era * 400;
    const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void DateOf(long long days, int* y, int* m, int* d)
{
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const long long doe = days - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    *d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    *m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    *y = static_cast<int>(yoe + era * 400 + (*m <= 2));
}

std::string FileOfDay(const std::string& folder, long long days)
{
    int y = 0, m = 0, d = 0;
    DateOf(days, &y, &m, &d);
    char name[80];
    std::snprintf(name, sizeof name, "brennick-%04d%02d%02d.jsonl", y, m, d);
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

nlohmann::json JournalSearch::FindRunEnd(const std::string& run, const std::string& started)
{
    if (folder_.empty() || run.empty() || started.size() < 10) return nullptr;
    const auto now = std::chrono::steady_clock::now();
    Progress from;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto [it, fresh] = runs_.try_emplace(run);
        if (fresh) {
            auto number = [&started](std::size_t at, std::size_t n) {
                return static_cast<int>(std::strtol(started.substr(at, n).c_str(), nullptr, 10));
            };
            it->second.day = DaysOf(number(0, 4), number(5, 2), number(8, 2));
        } else if (it->second.busy || now - it->second.last < std::chrono::seconds(1)) {
            return nullptr;
        }
        it->second.busy = true;
        from = it->second;
    }
    platform::LocalTime t = platform::LocalNow();
    const long long today = DaysOf(t.year, t.month, t.day);
    const std::string byRun = "\"run\":\"" + run + "\"";
    nlohmann::json found;
    Progress reached = from;
    // A run may end after midnight: up to the day after today's date.
    for (long long day = from.day; day <= today + 1 && found.is_null(); ++day) {
        std::ifstream in(FileOfDay(folder_, day), std::ios::binary);
        if (!in) continue;
        std::uint64_t at = day == from.day ? from.offset : 0;
        in.seekg(static_cast<std::streamoff>(at));
        for (std::string line; std::getline(in, line);) {
            if (in.eof()) break;   // a line still being written: read again next time
            at += line.size() + 1;
            if (line.find("\"event\":\"end\"") == std::string::npos || line.find(byRun) == std::string::npos)
                continue;
            // "run":"<id>" stands only as that field: in an escaped text
            // its quotes would carry backslashes.
            nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
            if (j.is_object()) {
                found = j;
                break;
            }
        }
        reached.day = day;
        reached.offset = at;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (found.is_object()) {
        runs_.erase(run);
    } else {
        Progress& p = runs_[run];
        p = reached;
        p.last = std::chrono::steady_clock::now();
        p.busy = false;
    }
    return found;
}
