// The record dump, output_ex.txt: 26 fields of the record, one per line.
#pragma once

#include <cstdio>

#include "paylib/record.h"

void WriteRecordDump(const UserAuthInt* record);

// Writes the dump lines to an open stream; stops at the first failed write.
void DumpRecord(const UserAuthInt* record, std::FILE* stream);
