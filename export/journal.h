// The run journal: with JournalPath set, two JSON lines per run that calls
// the library ("call" before, "end" after) and one for every other run,
// appended to brennick-YYYYMMDD.jsonl in that folder, both with the run's id.
// Nothing that fails in the journal changes the run. Card data never reaches
// it. The same lines go to the report channel of the program that started
// the run, whether or not a journal is kept; its end line adds the slip.
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
    bool flushUnsupported;   // a file system could not flush: "durable":false
};

// A stretch [start, end) of the argument text that belongs to a switch: its
// characters and its value. What lies outside every span is loose text.
struct TextSpan {
    std::size_t start;
    std::size_t end;
};

// The longest line the journal or the report channel carries, line feed
// included: a reader may take anything longer for a fault.
std::size_t JournalLineLimit();

// Draws the run's id; the first thing a run does, so that every line of the
// run carries it.
void BeginJournalRun();
// Opens the day's journal file for appending (nothing without JournalPath)
// and the report channel, where one is named. A journal that cannot be
// opened is said on standard error; the run goes on.
void OpenJournal();
// The "call" line, right before the library's processing entry point, on
// disk before it returns. spans are the switches of the text; traceId the
// trace id as the record holds it. False when the journal is kept and the
// line could not be appended or flushed (the platform's code in errorCode):
// the library must not be called then. A file system that cannot flush
// sets *flushUnsupported.
bool JournalCall(const char* argumentText, const TextSpan* spans, int spanCount,
                 const char* traceId, std::size_t traceSize, unsigned long* errorCode,
                 bool* flushUnsupported);
// The path of the day's journal file, "" without one.
const char* JournalFilePath();
// The "end" line; then the journal is closed. Allocates nothing.
void JournalEnd(const RunEnd& end);

// The argument text as the journal shows it, cut at limit bytes: every value
// of "/t" and "/e" as '*' of the same length, every digit of loose text (none
// without spans) as '*', and card numbers masked. Returns the length.
std::size_t MaskArguments(const char* text, const TextSpan* spans, int spanCount, char* out,
                          std::size_t limit, bool* truncated);
