// Starting another program and waiting for it, for brennickd: the one
// place where it starts Brennick. Each side implements it.
#pragma once

#include <cstddef>
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

// Runs program with these arguments, each passed as one word (on Windows one
// word of a command line; none may hold a blank or a quote), with standard
// input closed and standard output and error read, keeping at most
// outputLimit bytes. Returns when the program has ended.
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                      std::size_t outputLimit);

// The folder of the running program.
std::string OwnFolder();

}  // namespace platform
