// The two result lists and their files: output.dat (the twelve values, one
// per line) and output_ex.dat (KEY=VALUE for the values that are present).
#pragma once

#include <string>
#include <vector>

#include "paylib/record.h"

// Entries are byte strings and may hold NUL bytes (only ENC_DATA does).
typedef std::vector<std::string> ResultList;

// Process-wide; created empty before the entry runs, released after it.
extern ResultList g_resultList;
extern ResultList g_keyedResultList;

void ExportResults(const UserAuthInt* record);
void AddResult(const std::string& key, const std::string& value);
void AddKeyedResult(const std::string& key, const std::string& value);
void WriteResultFiles();

// Writes the entries, each up to its first NUL, with a line break between
// them and none at the end; every LF reaches the file as CR LF. A file that
// cannot be opened is skipped silently.
void WriteResultList(const ResultList& list, const char* path);
