// The two result lists and their files: output.dat (the twelve values, one
// per line) and output_ex.dat (KEY=VALUE for the values that are present).
// Everything lives in fixed storage: the export runs after the library call,
// when the heap may be locked or broken by a faulting library.
#pragma once

#include <cstddef>

#include "export/result_files.h"
#include "paylib/record.h"

// One export adds twelve entries; the rest is room for callers of AddResult.
constexpr std::size_t kResultListCapacity = 16;
// The longest key ("ORIGINAL_DATE_TIME"), "=" and the widest field (80).
constexpr std::size_t kResultEntrySize = 100;

// Entries are byte strings and may hold NUL bytes (only ENC_DATA does).
struct ResultEntry {
    std::size_t length;
    char bytes[kResultEntrySize];
};

struct ResultList {
    std::size_t count;
    ResultEntry entries[kResultListCapacity];
};

// A list as it goes to its file: every byte doubled (LF to CR LF) plus the
// separators.
constexpr std::size_t kResultListFileSize = kResultListCapacity * (2 * kResultEntrySize + 2);

// Process-wide; empty at start.
extern ResultList g_resultList;
extern ResultList g_keyedResultList;

// Adds the record's twelve values to the lists and writes output.dat and
// output_ex.dat through the files opened before the call.
void ExportResults(const UserAuthInt* record, ResultFiles* files);

// Appends a value (the first size bytes of value) to the result list and
// offers it to the keyed list. A full list or an over-long entry takes what
// fits; neither occurs in an export of a record.
void AddResult(const char* key, const char* value, std::size_t size);
// Adds "key=value" unless the key has an entry already or the value is empty.
void AddKeyedResult(const char* key, const char* value, std::size_t size);

// The AMOUNT value: the field's text after its leading '0' characters,
// never past the field. Returns its start; *size is its length.
const char* AmountWithoutLeadingZeros(const char* field, std::size_t width, std::size_t* size);

// The file form of a list: each entry up to its first NUL, a line break
// between entries and none at the end, every LF as CR LF. out must hold
// kResultListFileSize bytes; returns the number of bytes formed.
std::size_t FormatResultList(const ResultList& list, char* out);
