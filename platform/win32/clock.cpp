// Time, process and error texts for the run journal.
#include <windows.h>

#include "platform/platform.h"

namespace platform {

LocalTime LocalNow()
{
    FILETIME utc, local;
    GetSystemTimeAsFileTime(&utc);
    FileTimeToLocalFileTime(&utc, &local);
    SYSTEMTIME s;
    FileTimeToSystemTime(&local, &s);
    ULARGE_INTEGER u, l;
    u.LowPart = utc.dwLowDateTime;
    u.HighPart = utc.dwHighDateTime;
    l.LowPart = local.dwLowDateTime;
    l.HighPart = local.dwHighDateTime;
    // 100-ns ticks; the difference is a whole number of minutes.
    long long offset = static_cast<long long>(l.QuadPart) - static_cast<long long>(u.QuadPart);
    LocalTime t;
    t.year = s.wYear;
    t.month = s.wMonth;
    t.day = s.wDay;
    t.hour = s.wHour;
    t.minute = s.wMinute;
    t.second = s.wSecond;
    t.millisecond = s.wMilliseconds;
    t.offsetMinutes = static_cast<int>(offset / 600000000LL);
    return t;
}

unsigned long ProcessId()
{
    return GetCurrentProcessId();
}

unsigned long long MonotonicMilliseconds()
{
    return GetTickCount64();
}

void DescribeError(unsigned long code, char* out, std::size_t size)
{
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             code, 0, out, static_cast<DWORD>(size), nullptr);
    // The system's text ends in CR LF.
    while (n > 0 && (out[n - 1] == '\r' || out[n - 1] == '\n' || out[n - 1] == ' ')) --n;
    out[n < size ? n : 0] = '\0';
}

bool OpenForAppend(const char* path, FileHandle* file)
{
    // Read access is what byte-range locks need, and tells the last byte;
    // write access lets a cut line be taken back.
    HANDLE h = CreateFileA(path, FILE_APPEND_DATA | FILE_WRITE_DATA | FILE_READ_DATA,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    if (GetFileType(h) != FILE_TYPE_DISK) {
        CloseHandle(h);
        return false;
    }
    *file = reinterpret_cast<FileHandle>(h);
    return true;
}

bool AppendLine(FileHandle file, const char* bytes, std::size_t size)
{
    // An append is one piece on a local NTFS volume, but not on every file
    // system (network shares, Wine): runs take turns. The run waits two
    // seconds at most for its turn (another run holds it for microseconds);
    // without it the line is still written.
    HANDLE h = reinterpret_cast<HANDLE>(file);
    bool locked = LockFileWaiting(file, 2000);
    LARGE_INTEGER before = {};
    bool known = GetFileSizeEx(h, &before) != 0;
    char last = '\n';
    if (known && before.QuadPart > 0) {
        OVERLAPPED at = {};
        LARGE_INTEGER where;
        where.QuadPart = before.QuadPart - 1;
        at.Offset = where.LowPart;
        at.OffsetHigh = static_cast<DWORD>(where.HighPart);
        DWORD got = 0;
        if (!ReadFile(h, &last, 1, &got, &at) || got != 1) last = '\n';
    }
    // Every write goes to the end, wherever the end is then.
    LARGE_INTEGER zero = {};
    unsigned long ignored;
    bool ok = SetFilePointerEx(h, zero, nullptr, FILE_END) &&
              (last == '\n' || WriteWholly(file, "\n", 1, &ignored)) &&
              WriteWholly(file, bytes, size, &ignored);
    // A full disk leaves part of the line: take it back, so that the next
    // line does not stick to it. Only in turn: another run's line may follow.
    if (!ok && known && locked && SetFilePointerEx(h, before, nullptr, FILE_BEGIN)) SetEndOfFile(h);
    if (locked) UnlockFile(file);
    return ok;
}

bool RandomBytes(void* buffer, std::size_t size)
{
    // RtlGenRandom, exported by ADVAPI32 under this name.
    typedef BOOLEAN(WINAPI * GenRandom)(PVOID, ULONG);
    HMODULE advapi = GetModuleHandleA("advapi32.dll");
    if (advapi == nullptr) advapi = LoadLibraryA("advapi32.dll");
    GenRandom generate = advapi ? reinterpret_cast<GenRandom>(reinterpret_cast<void*>(
                                      GetProcAddress(advapi, "SystemFunction036")))
                                : nullptr;
    return generate != nullptr && generate(buffer, static_cast<ULONG>(size));
}

}  // namespace platform
