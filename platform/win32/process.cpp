#include "platform/process.h"

#include <windows.h>

#include "platform/platform.h"

namespace platform {

namespace {

// Reads what the pipe holds now; false once it is broken (every writer gone).
bool Drain(HANDLE pipe, std::string* into, std::size_t limit)
{
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) return false;
        if (available == 0) return true;
        char buffer[4096];
        DWORD n = 0;
        if (!ReadFile(pipe, buffer, available < sizeof buffer ? available : sizeof buffer, &n, nullptr) ||
            n == 0)
            return false;
        std::size_t keep = limit > into->size() ? limit - into->size() : 0;
        into->append(buffer, n < keep ? n : keep);
    }
}

// The caller's environment with the given variables in place of theirs, as
// CreateProcess takes it: NAME=VALUE texts, each ended by a zero, and one
// more zero.
std::string EnvironmentWith(const std::vector<std::string>& given)
{
    std::string block;
    char* all = GetEnvironmentStringsA();
    for (const char* e = all; all != nullptr && *e != '\0'; e += lstrlenA(e) + 1) {
        bool replaced = false;
        for (const std::string& g : given) replaced = replaced || _strnicmp(e, g.c_str(), g.find('=') + 1) == 0;
        if (replaced) continue;
        block.append(e);
        block.push_back('\0');
    }
    if (all != nullptr) FreeEnvironmentStringsA(all);
    for (const std::string& g : given) {
        block.append(g);
        block.push_back('\0');
    }
    block.push_back('\0');
    return block;
}

}  // namespace

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const std::vector<std::string>& environment, std::size_t outputLimit,
                      const RunWatch& watch)
{
    ProgramRun run;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr, reportRead = nullptr, reportWrite = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        run.error = "CreatePipe failed";
        return run;
    }
    if (!CreatePipe(&reportRead, &reportWrite, &inherit, 0)) {
        run.error = "CreatePipe failed";
        CloseHandle(readEnd);
        CloseHandle(writeEnd);
        return run;
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(reportRead, HANDLE_FLAG_INHERIT, 0);
    // The values are checked words: no blank, no quote, so the command line
    // is the words joined with blanks, the program's path quoted.
    std::string line = "\"" + program + "\"";
    for (const std::string& a : arguments) line += " " + a;
    std::vector<char> mutableLine(line.begin(), line.end());
    mutableLine.push_back('\0');
    std::vector<std::string> given = environment;
    given.push_back(std::string(kReportVariable) + "=" +
                    std::to_string(static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(reportWrite))));
    std::string block = EnvironmentWith(given);

    // Only these two handles go to the program, whatever else of ours is
    // inheritable (sockets among them).
    HANDLE passed[2] = {writeEnd, reportWrite};
    STARTUPINFOEXA si = {};
    si.StartupInfo.cb = sizeof si;
    si.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    si.StartupInfo.hStdInput = nullptr;
    si.StartupInfo.hStdOutput = writeEnd;
    si.StartupInfo.hStdError = writeEnd;
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<char> attributes(size);
    si.lpAttributeList = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
    bool listed = size > 0 && InitializeProcThreadAttributeList(si.lpAttributeList, 1, 0, &size) &&
                  UpdateProcThreadAttribute(si.lpAttributeList, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                            passed, sizeof passed, nullptr, nullptr);
    PROCESS_INFORMATION pi = {};
    BOOL ok = CreateProcessA(program.c_str(), mutableLine.data(), nullptr, nullptr, TRUE,
                             CREATE_NO_WINDOW | (listed ? EXTENDED_STARTUPINFO_PRESENT : 0),
                             block.data(), nullptr, &si.StartupInfo, &pi);
    DWORD startError = ok ? 0 : GetLastError();
    if (listed) DeleteProcThreadAttributeList(si.lpAttributeList);
    CloseHandle(writeEnd);
    CloseHandle(reportWrite);
    if (!ok) {
        run.error = "CreateProcess failed with " + std::to_string(startError);
        CloseHandle(readEnd);
        CloseHandle(reportRead);
        return run;
    }
    run.started = true;
    run.processId = pi.dwProcessId;
    if (watch.started) watch.started(run.processId);

    // Until the program has ended, not until the pipes break: a process it
    // left behind may hold them for ever.
    std::string reported;
    bool outOpen = true, reportOpen = true, ended = false;
    while (!ended) {
        ended = WaitForSingleObject(pi.hProcess, 20) != WAIT_TIMEOUT;
        if (outOpen) outOpen = Drain(readEnd, &run.output, outputLimit);
        if (reportOpen) {
            reported.clear();
            reportOpen = Drain(reportRead, &reported, 1 << 20);
            if (!reported.empty() && watch.reported) watch.reported(reported.data(), reported.size());
        }
    }
    CloseHandle(readEnd);
    CloseHandle(reportRead);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    run.exited = true;
    run.exitCode = static_cast<int>(code);
    return run;
}

std::string OwnFolder()
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string p(path, n);
    std::size_t slash = p.find_last_of("\\/");
    return slash == std::string::npos ? "." : p.substr(0, slash);
}

}  // namespace platform
