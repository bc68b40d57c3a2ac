// What a register may rely on after one run of Brennick, by the exit-code
// rules of the README: the exit code first, then the result files.
#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>

struct RunOutcome {
    std::optional<int> exitCode;   // none: ended by a signal or not started at all
    std::string outputExDat;       // the lane's output_ex.dat as read after the run
    bool outputExDatRead = false;
    std::string outputExTxt;       // the record dump, for the slip
    std::string diagnostics;       // what Brennick wrote to its output, bounded
};

// The answer: {"key", "state", "exit", "rc", "text", "rrn", "auth_code",
// "amount", "currency", "card", "card_type", "slip", "library_fault"}, state
// one of "approved", "declined", "not-started", "unknown".
nlohmann::json MakeAnswer(const std::string& key, const RunOutcome& run);
