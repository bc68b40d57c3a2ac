// Failing on request, so that integrators can rehearse how the program
// survives a library that crashes. One implementation per platform.
#pragma once

// "crash": a processor fault (access violation, SIGSEGV);
// "raise": a system exception (RaiseException) or signal (SIGBUS);
// "exception": a C++ exception leaving the library, as a library built with
// another compiler raises it on Windows;
// "abort": abort(), as the runtime ends a library that cannot go on.
// Anything else returns normally.
void FailAs(const char* how);
