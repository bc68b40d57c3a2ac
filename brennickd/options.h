// brennickd's command line.
#pragma once

#include <string>
#include <vector>

struct Options {
    std::string address = "127.0.0.1";
    unsigned short port = 8439;
    bool allowRemote = false;
    std::string brennick;        // default: Brennick beside brennickd
    std::string tokenFile;       // admin: every operation and every key
    std::string payTokenFile;    // pay: purchases only
    std::string makeToken;       // --make-token PATH: write a new token there and end
    std::string configFile;      // --config-file PATH with --make-token: the configuration naming it
    std::string stateFolder;
    std::string configRead;      // the configuration file the settings came from, if any
    std::vector<std::string> allowedOrigins;
    int maxConnections = 64;
    int readTimeoutSeconds = 30;
    int waitSeconds = 90;          // then a request gets 202 "running"
    int stopTimeoutSeconds = 180;  // how long a stop waits for running payments
    int keepDays = 90;             // answers older than that go at compaction
    std::vector<std::string> allowedHosts;   // Host names besides the service's own
    std::string codePage = "windows-1252";   // of the library's texts (POSIX)
    std::vector<std::string> approvedCodes = {"00"};
    std::string command;             // "pair" or "tokens": asks the running service
    std::string scope = "pay";       // of a pairing code
    std::string revoke;              // tokens --revoke ID
    std::string logFile;             // besides standard error
    std::string account = "NT SERVICE\\brennickd";   // Windows: who runs the service
    bool keepRegistered = false;     // --install-service: a registered service keeps its account and arguments
    bool reload = false;             // Windows: ask the running service to reload
    bool installService = false;     // Windows
    bool startService = false;       // Windows: --install-service --start
    bool uninstallService = false;   // Windows
    bool runAsService = false;       // Windows: started by the service manager
};

// False with a message for anything that cannot be used; an address other
// than loopback needs allowRemote.
bool ParseOptions(const std::vector<std::string>& args, Options* options, std::string* message);

// The configuration file's settings, then the command line's, which win (a
// list option given there replaces the file's list). The file is --config
// PATH, else defaultConfig where it exists. Lines "name = value", names as
// the long options without "--", "#" starts a comment.
bool LoadOptions(const std::vector<std::string>& commandLine, const std::string& defaultConfig,
                 Options* options, std::string* message);

extern const char* const kUsage;

// One argument as Windows programs read their command line back
// (CommandLineToArgvW): quoted, a quote and the backslashes before a quote
// or the end escaped, so that "C:\State\" stays one argument.
std::string QuoteArgument(const std::string& argument);

// The service's arguments: these, less the request to register, after the
// mark that the service manager started it. False with a message for a
// relative path: a service starts in the system's folder.
bool ServiceArguments(const std::vector<std::string>& args, std::string* line, std::string* message);
