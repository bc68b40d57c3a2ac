// brennickd's command line.
#pragma once

#include <string>
#include <vector>

struct Options {
    std::string address = "127.0.0.1";
    unsigned short port = 8439;
    bool allowRemote = false;
    std::string brennick;        // default: Brennick beside brennickd
    std::string tokenFile;
    std::string stateFolder;
    std::vector<std::string> allowedOrigins;
    int maxConnections = 64;
    int readTimeoutSeconds = 30;
    int waitSeconds = 90;          // then a request gets 202 "running"
    int stopTimeoutSeconds = 180;  // how long a stop waits for running payments
    int keepDays = 90;             // answers older than that go at compaction
    std::vector<std::string> allowedHosts;   // Host names besides the service's own
    bool installService = false;     // Windows
    bool uninstallService = false;   // Windows
    bool runAsService = false;       // Windows: started by the service manager
};

// False with a message for anything that cannot be used; an address other
// than loopback needs allowRemote.
bool ParseOptions(const std::vector<std::string>& args, Options* options, std::string* message);

extern const char* const kUsage;
