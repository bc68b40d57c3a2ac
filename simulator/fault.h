// Failing on request, so that integrators can rehearse how the program
// survives a library that crashes. One implementation per platform.
#pragma once

// "crash": a processor fault (access violation, SIGSEGV);
// "raise": a system exception (RaiseException) or signal (SIGBUS);
// "exception": a C++ exception leaving the library, as a library built with
// another compiler raises it on Windows;
// "abort": abort(), as the runtime ends a library that cannot go on;
// "exit": exit(2), as a library that ends the process on its own;
// "vanish": _Exit(2), the process gone without a word.
// Anything else returns normally.
void FailAs(const char* how);

// Starts a process that outlives the run by `seconds`, as libraries that
// start a background agent do, and returns its process id (-1: none), so
// that whoever asked for it can end it. It gets the run's environment and
// every descriptor not marked close-on-exec, but not its standard streams.
// Windows: not started.
long StartHelper(long seconds);
