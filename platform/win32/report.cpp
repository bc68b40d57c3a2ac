#include "platform/platform.h"

#include <windows.h>

#include <cstdlib>

namespace platform {

FileHandle OpenReportChannel()
{
    char named[32];
    DWORD n = GetEnvironmentVariableA(kReportVariable, named, sizeof named);
    if (n == 0 || n >= sizeof named) return kNoFile;
    char* end = nullptr;
    unsigned long long value = std::strtoull(named, &end, 10);
    if (*end != '\0' || value == 0) return kNoFile;
    HANDLE h = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(value));
    if (h == GetStdHandle(STD_OUTPUT_HANDLE) || h == GetStdHandle(STD_ERROR_HANDLE)) return kNoFile;
    DWORD flags = 0;
    if (!GetHandleInformation(h, &flags) || GetFileType(h) == FILE_TYPE_UNKNOWN) return kNoFile;
    // Ours alone: a process that the library starts must not hold it open.
    SetHandleInformation(h, HANDLE_FLAG_INHERIT, 0);
    return reinterpret_cast<FileHandle>(h);
}

bool WriteReport(FileHandle channel, const char* bytes, std::size_t size)
{
    HANDLE h = reinterpret_cast<HANDLE>(channel);
    // A reader that does not read must not hold the run: the pipe is written
    // without waiting where it allows that, and waited for only so long.
    DWORD mode = PIPE_READMODE_BYTE | PIPE_NOWAIT;
    if (!SetNamedPipeHandleState(h, &mode, nullptr, nullptr)) {
        unsigned long error = 0;
        return WriteWholly(channel, bytes, size, &error);
    }
    const unsigned long long deadline = MonotonicMilliseconds() + kReportWaitMilliseconds;
    while (size > 0) {
        DWORD chunk = size > 65536 ? 65536 : static_cast<DWORD>(size), n = 0;
        if (!WriteFile(h, bytes, chunk, &n, nullptr)) return false;
        if (n == 0) {
            if (MonotonicMilliseconds() >= deadline) return false;
            Sleep(5);
            continue;
        }
        bytes += n;
        size -= n;
    }
    return true;
}

bool EnvironmentValue(const char* name, char* out, std::size_t size)
{
    DWORD n = GetEnvironmentVariableA(name, out, static_cast<DWORD>(size));
    return n > 0 && n < size;
}

}  // namespace platform
