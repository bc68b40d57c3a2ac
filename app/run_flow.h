// One run of the program: one operation of the payment library.
#pragma once

constexpr int kExitCompleted = 0;
constexpr int kExitNoOperation = -1;

// The whole run for one argument text; returns the process exit code.
int RunBrennick(const char* argumentText);
