// Brennick's own journal as the last word on a run that brennickd started
// and lost sight of (killed, or stopped before the run ended).
#pragma once

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

// Finds the end lines of runs in the journal files of a folder, by the run
// id that brennickd gave the run and by nothing else: a process id comes
// back, a time is shared, an id is the run's own. Each run is read on from
// where its last look stopped, and looked for at most once a second, so
// that pollers of an unknown key neither rescan the journal nor hold up
// anything else. Safe to call from any thread, without any lock held.
class JournalSearch {
public:
    explicit JournalSearch(std::string folder) : folder_(std::move(folder)) {}

    // The end line of run, which started at started (the journal's time
    // format, local time); null when there is none yet, no journal, or the
    // run was looked for less than a second ago.
    nlohmann::json FindRunEnd(const std::string& run, const std::string& started);

private:
    struct Progress {
        long long day = 0;               // days since 1970 of the file read last
        std::uint64_t offset = 0;        // how far that file was read, whole lines
        std::chrono::steady_clock::time_point last{};
        bool busy = false;
    };
    std::string folder_;
    std::mutex mutex_;
    std::map<std::string, Progress> runs_;
};

// The local time now as the journal writes it: 2026-12-08T14:30:05.123+01:00.
std::string JournalTimeNow();
