// Brennick's own journal as the last word on a run that brennickd started
// and lost sight of (killed, or stopped before the run ended).
#pragma once

#include <nlohmann/json.hpp>

#include <string>

// The end line of the run in the journal files of folder from the day the
// run started to today: found by its run id, or where the run never told it,
// by its process id and a time at or after started (the journal's own
// format). Null when there is none (no journal, not ended, not found).
nlohmann::json FindRunEnd(const std::string& folder, const std::string& run, unsigned long pid,
                          const std::string& started);

// The local time now as the journal writes it: 2026-12-08T14:30:05.123+01:00.
std::string JournalTimeNow();
