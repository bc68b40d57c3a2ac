// What a register may rely on after one run of Brennick: only what that run
// reported through its report channel, never a shared file read by path,
// never a guess from the exit code alone.
#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <vector>

// The operation as it was asked for, carried into every answer so that a
// register can match it to its sale.
struct OperationInfo {
    std::string key;
    nlohmann::json operation;
    std::string lane;
    std::string traceId;
    std::string currency;   // the request's, where the terminal names none
    std::string started;    // when brennickd started the run, local ISO 8601
    std::string owner;      // the credential that started it; "" before owners were kept
    std::string run;        // the id brennickd gave the run, before it started it
};

// What brennickd saw of one run it started.
struct RunReport {
    bool started = false;
    std::string startError;          // why it could not be started
    std::optional<int> exitCode;     // none: killed by a signal, or not started
    std::string diagnostics;         // Brennick's output (its boxes), bounded
    nlohmann::json call;             // the reported "call" line; null when none came
    nlohmann::json end;              // the reported "end" line; null when none came
};

// How the library's answers are read: the code page of its texts (POSIX: an
// iconv name; Windows: the system's ANSI code page in any case) and the
// response codes that mean approved. Set at start and at a reload.
struct AnswerRules {
    std::string codePage = "windows-1252";
    std::vector<std::string> approvedCodes = {"00"};
};
void SetAnswerRules(const AnswerRules& rules);

// The answer: {"key", "state", "exit", "outcome", "rc", "text", "rrn",
// "auth_code", "amount", "currency", "card", "card_type", "slip",
// "library_fault", "operation", "lane", "trace_id", "run", "started"}; state
// is "approved" or "declined" from an end line with the terminal's RC,
// "not-started" where the run certainly never reached the library,
// "unknown" otherwise (a call line and no end, a run killed). Texts are
// UTF-8, read from the library's code page.
nlohmann::json MakeAnswer(const OperationInfo& op, const RunReport& run);

// Masks every card number in every text of value: whatever a library put in
// a field, brennickd writes no card number anywhere.
void MaskCardData(nlohmann::json* value);
