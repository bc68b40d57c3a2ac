// brennickd's log: one line per request, start, stop and failed check, on
// standard error (systemd's journal takes it from there) and, where asked,
// appended to a file. Never a token, never card data.
#pragma once

#include <string>

void LogLine(const std::string& text);
// Lines that standard error or the file did not take: a log that cannot be
// written loses its lines, never a payment, and says how many.
unsigned long long LogLinesLost();
// From now on every line goes to path too; false when it cannot be opened.
// A file grown past kLogFileBytes is renamed to path.1 (one old file kept,
// replacing an older one) and started anew.
constexpr unsigned long long kLogFileBytes = 10ULL * 1024 * 1024;
bool LogToFile(const std::string& path);
