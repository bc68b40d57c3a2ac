#include "platform/process.h"

#include <windows.h>

namespace platform {

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                      std::size_t outputLimit)
{
    ProgramRun run;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        run.error = "CreatePipe failed";
        return run;
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    // The values are checked words: no blank, no quote, so the command line
    // is the words joined with blanks, the program's path quoted.
    std::string line = "\"" + program + "\"";
    for (const std::string& a : arguments) line += " " + a;
    std::vector<char> mutableLine(line.begin(), line.end());
    mutableLine.push_back('\0');
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = nullptr;
    si.hStdOutput = writeEnd;
    si.hStdError = writeEnd;
    PROCESS_INFORMATION pi = {};
    BOOL ok = CreateProcessA(program.c_str(), mutableLine.data(), nullptr, nullptr, TRUE,
                             CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi);
    CloseHandle(writeEnd);
    if (!ok) {
        run.error = "CreateProcess failed with " + std::to_string(GetLastError());
        CloseHandle(readEnd);
        return run;
    }
    run.started = true;
    run.processId = pi.dwProcessId;
    char buffer[4096];
    DWORD n = 0;
    while (ReadFile(readEnd, buffer, sizeof buffer, &n, nullptr) && n > 0) {
        std::size_t keep = outputLimit > run.output.size() ? outputLimit - run.output.size() : 0;
        run.output.append(buffer, n < keep ? n : keep);
    }
    CloseHandle(readEnd);
    WaitForSingleObject(pi.hProcess, INFINITE);
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
