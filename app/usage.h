// The usage screen shown for "/?" or an empty command line.
#pragma once

#include <cstddef>

constexpr std::size_t kUsageEntryCount = 10;
extern const char* const kUsageText[kUsageEntryCount];

// Opens the program's console, writes the usage text and waits for a key.
void ShowUsage();
