// The simulator's memory between runs: a counter that keeps reference
// numbers unique and the journal of operations since the last end of day.
// One small text file per instance id.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct JournalEntry {
    std::string rrn;
    int operation = 0;          // 1 purchase, 2 refund
    std::uint64_t amount = 0;   // minor units
    std::string currency;
    std::string authCode;
    bool cancelled = false;
    std::uint64_t refunded = 0;   // purchase: the sum of its refunds not cancelled
    std::string original;         // refund: the purchase's RRN, "-" when none
};

// The last purchase, refund or cancel, whatever its answer, as the terminal
// tells it again when a register lost it; end of day keeps it.
struct LastOperation {
    bool present = false;
    int operation = 0;            // 1 purchase, 2 refund, 3 cancel
    std::string responseCode;
    std::string text;
    std::string amount;
    std::string currency;
    std::string rrn;
    std::string authCode;
    std::string traceId;
    std::string slip;
};

struct TerminalState {
    std::uint64_t sequence = 0;
    std::vector<JournalEntry> journal;
    LastOperation last;
};

// The state file for an instance id ("" for none), in PAYSIM_STATE_DIR or
// else the temporary folder. Characters outside [A-Za-z0-9_-] in the id are
// replaced, so an id never leads out of that folder.
std::string StateFilePath(const std::string& instanceId);

// A missing or damaged file gives a fresh state whose counter starts from
// the given value, which the caller takes from the real clock so that
// numbers handed out before are not handed out again.
TerminalState LoadState(const std::string& path, std::uint64_t freshSequence);

// Writes to a temporary file and renames it over the old one.
void SaveState(const std::string& path, const TerminalState& state);

// The counter shared by every instance id of a state folder, so that
// reference numbers and authorization codes never repeat across instances:
// its file beside the state files, and reading (fresh when missing or
// damaged) and writing it, under the folder's lock.
std::string CounterFilePath(const std::string& statePath);
std::uint64_t LoadCounter(const std::string& path, std::uint64_t fresh);
void SaveCounter(const std::string& path, std::uint64_t counter);
