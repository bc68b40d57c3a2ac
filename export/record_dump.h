// The record dump, output_ex.txt: 26 fields of the record, one per line.
#pragma once

#include <cstddef>

#include "export/result_files.h"
#include "paylib/record.h"

// Room for the longest dump: every name, " =", the widest value and "\n".
constexpr std::size_t kRecordDumpSize = 1536;

// Writes the dump through the output_ex.txt file opened before the call.
void WriteRecordDump(const UserAuthInt* record, ResultFiles* files);

// Forms the dump lines in out (kRecordDumpSize bytes) and returns their
// length; a missing record or buffer forms nothing.
std::size_t FormatRecordDump(const UserAuthInt* record, char* out);
