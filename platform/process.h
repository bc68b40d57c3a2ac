// Starting another program and waiting for it, for brennickd: the one
// place where it starts Brennick. Each side implements it.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace platform {

struct ProgramRun {
    bool started = false;       // false: it could not be started; error says why
    bool exited = false;        // false: ended by a signal or killed
    int exitCode = 0;           // as the caller of a run sees it (-1 may read 255)
    unsigned long processId = 0;
    std::string output;         // standard output and error, at most the bound given
    std::string error;
};

// What the caller hears while the program runs: its process id once it has
// started, and what it writes to its report channel as it comes (the
// variable kReportVariable of platform.h names the channel to it).
struct RunWatch {
    std::function<void(unsigned long processId)> started;
    std::function<void(const char* bytes, std::size_t size)> reported;
};

// Runs program with these arguments, each passed as one word (on Windows one
// word of a command line; none may hold a blank or a quote), the caller's
// environment with the variables of environment ("NAME=VALUE") in place of
// any of those names, with standard
// input closed, standard output and error read (at most outputLimit bytes
// kept) and a report channel. The program inherits these and nothing else
// of the caller. Returns when the program has ended, whatever a process it
// left behind still holds open.
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const std::vector<std::string>& environment, std::size_t outputLimit,
                      const RunWatch& watch);

// The folder of the running program.
std::string OwnFolder();

}  // namespace platform
