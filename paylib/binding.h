// The link to the payment library: loading, entry-point lookup, the guarded
// processing call and the unload.
#pragma once

#include "paylib/record.h"

// Loads the library from g_libraryPath and resolves "ProcessOw" and
// "ProcessOwFull". 0 on success; -1 after its own "ERROR" box.
int BindLibrary();

// Resolves "ProcessOwId" and "ProcessOwIdFull". 0 on success; -1 after its
// own "ERROR" box.
int BindIdEntryPoints();

// Hands the record to the library: ProcessOwFull without an instance id,
// ProcessOwIdFull (bound before) with one. Whatever the library throws or
// faults with is absorbed without a message; returns false when something
// was.
bool ProcessRecord(UserAuthInt* record);

void UnloadLibrary();
