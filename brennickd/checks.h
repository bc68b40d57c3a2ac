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

// Reads Brennick's settings afresh: a change of them shows at once.
std::vector<Check> CheckInstallation(const std::string& brennick);
