// brennickd's log: one line per request, start, stop and failed check, on
// standard error (systemd's journal takes it from there). Never a token,
// never card data.
#pragma once

#include <string>

void LogLine(const std::string& text);
