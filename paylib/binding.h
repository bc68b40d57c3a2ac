// The link to the payment library: loading, entry-point lookup, the guarded
// processing call and the unload.
#pragma once

#include "paylib/record.h"

// Why the last binding step failed: the box it showed and the platform's
// code and words behind it.
struct BindingFailure {
    bool loaded;          // the library loaded; an entry point was missing
    const char* box;
    unsigned long code;
    char detail[256];
};
extern BindingFailure g_bindingFailure;

// What became of the call: returned is the library's value when it
// returned; fault names what the guard absorbed otherwise.
struct CallOutcome {
    bool clean;
    int returned;
    const char* fault;
    unsigned long long milliseconds;
};

// Loads the library from g_libraryPath and resolves "ProcessOw" and
// "ProcessOwFull". 0 on success; -1 after its own "ERROR" box.
int BindLibrary();

// Resolves "ProcessOwId" and "ProcessOwIdFull". 0 on success; -1 after its
// own "ERROR" box.
int BindIdEntryPoints();

// Hands the record to the library: ProcessOwFull without an instance id,
// ProcessOwIdFull (bound before) with one. Whatever the library throws or
// faults with is absorbed without a message.
CallOutcome ProcessRecord(UserAuthInt* record);

void UnloadLibrary();
