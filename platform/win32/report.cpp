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
    unsigned long error = 0;
    return WriteWholly(channel, bytes, size, &error);
}

bool EnvironmentValue(const char* name, char* out, std::size_t size)
{
    DWORD n = GetEnvironmentVariableA(name, out, static_cast<DWORD>(size));
    return n > 0 && n < size;
}

}  // namespace platform
