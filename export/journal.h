// The run journal: with JournalPath set, two JSON lines per run that calls
// the library ("call" before, "end" after) and one for every other run,
// appended to brennick-YYYYMMDD.jsonl in that folder. Nothing that fails in
// the journal changes the run. Card data never reaches it.
#pragma once

#include <cstddef>

#include "export/result_files.h"
#include "paylib/record.h"

// How a run ended, as the "end" line tells it. Members that do not apply
// stay null or false.
struct RunEnd {
    const char* outcome;
    int exitCode;
    const char* box;
    bool hasError;
    unsigned long errorCode;
    const char* errorDetail;
    bool called;
    bool returnedNormally;
    int returned;
    unsigned long long milliseconds;
    const char* fault;
    const UserAuthInt* record;
    const ResultFiles* files;
    bool unattended;
};

// Opens the day's journal file for appending; nothing without JournalPath.
void OpenJournal();
// The "call" line, right before the library's processing entry point.
void JournalCall(const char* argumentText);
// The "end" line; then the journal is closed. Allocates nothing.
void JournalEnd(const RunEnd& end);

// The argument text as the journal shows it: every value of "/t" and "/e"
// as '*' of the same length, cut at limit bytes. Returns the length.
std::size_t MaskArguments(const char* text, char* out, std::size_t limit, bool* truncated);
// A card number as the journal shows it: the first six and last four
// characters kept, the others '*'; shorter than 11 characters, all '*'.
void MaskPan(const char* pan, std::size_t size, char* out);
