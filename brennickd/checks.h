// What brennickd needs to pay, checked at start (a failure ends the start)
// and at every health request: Brennick and the library present, the
// exchange and journal folders writable by this service.
#pragma once

#include <string>
#include <vector>

struct Check {
    std::string name;     // "brennick", "library", "exchange", "journal"
    bool ok = true;
    std::string problem;  // a sentence naming the setting and the reason
};

// Reads Brennick's settings afresh: a change of them shows at once. library,
// where given, gets the payment library that the settings name.
std::vector<Check> CheckInstallation(const std::string& brennick, std::string* library = nullptr);

// True for the terminal simulator that ships with Brennick (paysim.dll,
// libpaysim.so): it approves without moving money, and a fleet's
// monitoring must be able to find a register left on it.
bool IsSimulator(const std::string& library);
