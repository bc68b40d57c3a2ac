// End-to-end test support: starting the built program as a process with an
// exact argument text, setting its registry values, and reading its boxes.
// One implementation per platform; the tests themselves are shared.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct Box {
    unsigned long owner;
    std::string text;
    std::string caption;
    unsigned long flags;
};

struct RunResult {
    unsigned long exitCode;
    std::vector<Box> boxes;
    std::string standardOutput;
    std::string otherDiagnostics;   // standard error beyond the boxes (POSIX)
};

// The exit code of a run that did not end within a minute (POSIX); a run
// ended by a signal reports 1000 plus the signal's number.
constexpr unsigned long kTimedOut = 2000;

// The exit code -1 as the platform's process status shows it.
extern const unsigned long kExitMinusOne;
extern const bool kWindows;

// Registry value types, as the Windows registry numbers them.
constexpr unsigned long kTypeSz = 1;
constexpr unsigned long kTypeExpandSz = 2;
constexpr unsigned long kTypeBinary = 3;
constexpr unsigned long kTypeDword = 4;

std::string ProgramDirectory();
// Full path of a test library built beside the program ("full", "no_ow", ...).
std::string FixtureLibrary(const std::string& name);

void SetEnv(const std::string& name, const std::string& value);
void UnsetEnv(const std::string& name);

// Removes the settings key with its values, then sets values in it.
void ResetSettings();
void SetSetting(const std::string& name, const std::string& bytes,
                unsigned long type = kTypeSz);

// Starts the program with exactly this argument text in workDir, with no
// standard input, and waits for it.
RunResult RunProgram(const std::string& argumentText, const std::string& workDir);

// Starts the program once per argument text, all at the same time, with no
// standard input or output, and waits for every one; the exit codes in order.
std::vector<unsigned long> RunProgramsAtOnce(const std::vector<std::string>& argumentTexts,
                                             const std::string& workDir);

// POSIX only: starts the program with these arguments as separate words;
// inChild runs in the new process before the program starts (exit code 77
// from it means "not possible here").
RunResult RunProgramWithArguments(const std::vector<std::string>& arguments,
                                  const std::string& workDir,
                                  const std::function<void()>& inChild = {});

// Makes a file read-only the way the platform's users do it, also against
// an administrator where the platform allows; false when it cannot.
bool MakeReadOnly(const std::string& path);
void MakeWritable(const std::string& path);
