#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "support/harness.h"
#include "support/scratch.h"

namespace fs = std::filesystem;

const unsigned long kExitMinusOne = 4294967295UL;
const bool kWindows = true;

namespace {

const char* kSettingsKey = "software\\Merot\\Dovrex Auth Library";

// Wine writes the relay trace of the programs we start to its standard
// error, which the test's launcher sends to this file (a Unix path).
std::string TraceFile()
{
    const char* unixPath = std::getenv("BRENNICK_WINE_STDERR");
    if (unixPath == nullptr) return std::string();
    std::string p = std::string("Z:") + unixPath;
    for (char& c : p)
        if (c == '/') c = '\\';
    return p;
}

std::string ReadFrom(const std::string& path, std::streamoff offset)
{
    std::ifstream in(path, std::ios::binary);
    in.seekg(offset);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::streamoff SizeOf(const std::string& path)
{
    std::error_code ec;
    auto n = fs::file_size(path, ec);
    return ec ? 0 : static_cast<std::streamoff>(n);
}

// Reads a string as Wine's trace quotes it.
std::string Unquote(const std::string& s, std::size_t* pos)
{
    std::string out;
    if (s[*pos] != '"') return out;
    for (++*pos; *pos < s.size() && s[*pos] != '"'; ++*pos) {
        char c = s[*pos];
        if (c == '\\' && *pos + 1 < s.size()) {
            char e = s[++*pos];
            if (e == 'n') c = '\n';
            else if (e == 't') c = '\t';
            else if (e == 'r') c = '\r';
            else if (e == 'x' && *pos + 2 < s.size()) {
                c = static_cast<char>(std::stoi(s.substr(*pos + 1, 2), nullptr, 16));
                *pos += 2;
            } else c = e;
        }
        out += c;
    }
    ++*pos;
    return out;
}

// "Call user32.MessageBoxA(00000000,00d20d98 "text",00404044 "ERROR",00000000) ret=..."
void ParseBoxes(const std::string& trace, std::vector<Box>* boxes)
{
    const std::string marker = "Call user32.MessageBoxA(";
    for (std::size_t at = trace.find(marker); at != std::string::npos;
         at = trace.find(marker, at + 1)) {
        std::size_t p = at + marker.size();
        Box box;
        box.owner = std::stoul(trace.substr(p, 8), nullptr, 16);
        p = trace.find(' ', p) + 1;
        box.text = Unquote(trace, &p);
        p = trace.find(' ', p) + 1;
        box.caption = Unquote(trace, &p);
        box.flags = std::stoul(trace.substr(p + 1, 8), nullptr, 16);
        boxes->push_back(box);
    }
}

void EnableBoxTrace()
{
    static bool done = false;
    if (done) return;
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\Debug", 0, nullptr, 0,
                        KEY_ALL_ACCESS, nullptr, &key, nullptr) == ERROR_SUCCESS) {
        const char value[] = "user32.MessageBoxA";
        RegSetValueExA(key, "RelayInclude", 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(value), sizeof value);
        RegCloseKey(key);
    }
    done = true;
}

}  // namespace

std::string ProgramDirectory()
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    return fs::path(std::string(path, n)).parent_path().string();
}

std::string FixtureLibrary(const std::string& name)
{
    return ProgramDirectory() + "\\fixture_" + name + ".dll";
}

void SetEnv(const std::string& name, const std::string& value)
{
    SetEnvironmentVariableA(name.c_str(), value.c_str());
    _putenv((name + "=" + value).c_str());
}

void UnsetEnv(const std::string& name)
{
    SetEnvironmentVariableA(name.c_str(), nullptr);
    _putenv((name + "=").c_str());
}

void ResetSettings()
{
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSettingsKey);
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr) == ERROR_SUCCESS)
        RegCloseKey(key);
}

void SetSetting(const std::string& name, const std::string& bytes, unsigned long type)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                   static_cast<DWORD>(bytes.size()));
    RegCloseKey(key);
}

RunResult RunProgram(const std::string& argumentText, const std::string& workDir)
{
    EnableBoxTrace();
    std::string trace = TraceFile();
    std::streamoff traceStart = SizeOf(trace);

    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    std::string outPath = (ScratchRoot() / "run-output.txt").string();
    HANDLE out = CreateFileA(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             &inherit, CREATE_ALWAYS, 0, nullptr);
    HANDLE in = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                            OPEN_EXISTING, 0, nullptr);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in;
    si.hStdOutput = out;
    si.hStdError = out;

    std::string program = ProgramDirectory() + "\\Brennick.exe";
    std::string commandLine = "\"" + program + "\" " + argumentText;
    std::vector<char> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back('\0');

    SetEnv("WINEDEBUG", "-all,+relay");
    PROCESS_INFORMATION pi = {};
    RunResult r = {};
    r.exitCode = 1000;
    if (CreateProcessA(program.c_str(), mutableLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                       workDir.c_str(), &si, &pi)) {
        WaitForSingleObject(pi.hProcess, INFINITE);
        DWORD code = 0;
        GetExitCodeProcess(pi.hProcess, &code);
        r.exitCode = code;
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    SetEnv("WINEDEBUG", "-all");
    CloseHandle(out);
    CloseHandle(in);

    {
        std::ifstream o(outPath, std::ios::binary);
        std::stringstream s;
        s << o.rdbuf();
        r.standardOutput = s.str();
    }
    DeleteFileA(outPath.c_str());
    if (!trace.empty()) ParseBoxes(ReadFrom(trace, traceStart), &r.boxes);
    return r;
}

bool MakeReadOnly(const std::string& path)
{
    if (!SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY)) return false;
    // Wine run by root may let the write through: then the attribute holds nothing.
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return true;
    CloseHandle(h);
    // It may still refuse deletion, so the clean-up needs it writable again.
    MakeWritable(path);
    return false;
}

void MakeWritable(const std::string& path)
{
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
}

std::vector<unsigned long> RunProgramsAtOnce(const std::vector<std::string>& argumentTexts,
                                             const std::string& workDir)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE null = CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              &inherit, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = si.hStdOutput = si.hStdError = null;
    std::string program = ProgramDirectory() + "\\Brennick.exe";
    std::vector<HANDLE> processes;
    for (const std::string& text : argumentTexts) {
        std::string line = "\"" + program + "\" " + text;
        std::vector<char> mutableLine(line.begin(), line.end());
        mutableLine.push_back('\0');
        PROCESS_INFORMATION pi = {};
        if (CreateProcessA(program.c_str(), mutableLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                           workDir.c_str(), &si, &pi)) {
            CloseHandle(pi.hThread);
            processes.push_back(pi.hProcess);
        } else {
            processes.push_back(nullptr);
        }
    }
    std::vector<unsigned long> codes;
    for (HANDLE p : processes) {
        DWORD code = 1000;
        if (p != nullptr) {
            WaitForSingleObject(p, INFINITE);
            GetExitCodeProcess(p, &code);
            CloseHandle(p);
        }
        codes.push_back(code);
    }
    CloseHandle(null);
    return codes;
}
