// One run of the program: one operation of the payment library.
#pragma once

// What the caller learns from the exit code; only 0 and 4 follow a call of
// the library, 3 follows one whose outcome did not reach the files.
constexpr int kExitCompleted = 0;
constexpr int kExitNoOperation = -1;
constexpr int kExitNotStarted = 2;       // the library was not called
constexpr int kExitNotWritten = 3;       // called; a result file is incomplete
constexpr int kExitLibraryFault = 4;     // called; it faulted or threw

// The whole run for one argument text. Returns the process exit code when
// the library was not called; after a call it ends the process itself, so
// that nothing the library left behind runs at the normal exit.
int RunBrennick(const char* argumentText);
