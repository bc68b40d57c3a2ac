// Result files on Windows: file handles shared for reading and writing, as
// the caller may read a file while it is written.
#include <windows.h>

#include "platform/platform.h"

namespace platform {

bool OpenResultFile(const char* path, FileHandle* file, bool* created, unsigned long* errorCode)
{
    // FILE_FLAG_OPEN_REPARSE_POINT opens a link itself instead of its target,
    // so that the check below can refuse it.
    HANDLE h = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        *errorCode = GetLastError();
        return false;
    }
    *created = GetLastError() != ERROR_ALREADY_EXISTS;
    BY_HANDLE_FILE_INFORMATION info;
    bool regular = GetFileType(h) == FILE_TYPE_DISK &&
                   GetFileInformationByHandle(h, &info) &&
                   (info.dwFileAttributes &
                    (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
    if (!regular) {
        CloseHandle(h);
        *errorCode = ERROR_INVALID_FUNCTION;
        return false;
    }
    *file = reinterpret_cast<FileHandle>(h);
    return true;
}

bool TruncateFile(FileHandle file, unsigned long* errorCode)
{
    HANDLE h = reinterpret_cast<HANDLE>(file);
    LARGE_INTEGER zero = {};
    if (SetFilePointerEx(h, zero, nullptr, FILE_BEGIN) && SetEndOfFile(h)) return true;
    *errorCode = GetLastError();
    return false;
}

bool WriteWholly(FileHandle file, const char* bytes, std::size_t size, unsigned long* errorCode)
{
    HANDLE h = reinterpret_cast<HANDLE>(file);
    while (size > 0) {
        DWORD written = 0;
        if (!WriteFile(h, bytes, static_cast<DWORD>(size), &written, nullptr) || written == 0) {
            *errorCode = GetLastError();
            if (*errorCode == 0) *errorCode = ERROR_WRITE_FAULT;
            return false;
        }
        bytes += written;
        size -= written;
    }
    return true;
}

bool ReplaceContent(FileHandle file, const char* bytes, std::size_t size,
                    unsigned long* errorCode)
{
    // The position is set here, not trusted: a library may have moved it.
    HANDLE h = reinterpret_cast<HANDLE>(file);
    LARGE_INTEGER zero = {};
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(size);
    if (!SetFilePointerEx(h, zero, nullptr, FILE_BEGIN)) {
        *errorCode = GetLastError();
        return false;
    }
    if (!WriteWholly(file, bytes, size, errorCode)) return false;
    if (SetFilePointerEx(h, end, nullptr, FILE_BEGIN) && SetEndOfFile(h)) return true;
    *errorCode = GetLastError();
    return false;
}

bool MakeFullPath(const char* path, char* out, std::size_t size)
{
    DWORD n = GetFullPathNameA(path, static_cast<DWORD>(size), out, nullptr);
    return n > 0 && n < size;
}

bool IsFileAtPath(FileHandle file, const char* path)
{
    BY_HANDLE_FILE_INFORMATION open, named;
    if (!GetFileInformationByHandle(reinterpret_cast<HANDLE>(file), &open) ||
        open.nNumberOfLinks != 1)
        return false;
    // No access asked for: it opens while others write, and changes nothing.
    HANDLE h = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    bool same = GetFileInformationByHandle(h, &named) &&
                open.dwVolumeSerialNumber == named.dwVolumeSerialNumber &&
                open.nFileIndexHigh == named.nFileIndexHigh &&
                open.nFileIndexLow == named.nFileIndexLow;
    CloseHandle(h);
    return same;
}

namespace {

// One byte far beyond any end of file, which no write ever touches: a lock
// on it holds other runs off without keeping readers from the data.
OVERLAPPED LockPlace()
{
    OVERLAPPED at = {};
    at.OffsetHigh = 0x7FFFFFFF;
    return at;
}

}  // namespace

LockStatus TryLockFile(FileHandle file)
{
    OVERLAPPED at = LockPlace();
    if (LockFileEx(reinterpret_cast<HANDLE>(file),
                   LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at))
        return LockStatus::kLocked;
    return GetLastError() == ERROR_LOCK_VIOLATION ? LockStatus::kBusy : LockStatus::kFailed;
}

bool LockFileWaiting(FileHandle file, int maxMilliseconds)
{
    for (int waited = 0;; waited += 5) {
        LockStatus status = TryLockFile(file);
        if (status != LockStatus::kBusy) return status == LockStatus::kLocked;
        if (waited >= maxMilliseconds) return false;
        Sleep(5);
    }
}

void UnlockFile(FileHandle file)
{
    OVERLAPPED at = LockPlace();
    UnlockFileEx(reinterpret_cast<HANDLE>(file), 0, 1, 0, &at);
}

bool FlushFile(FileHandle file)
{
    return FlushFileBuffers(reinterpret_cast<HANDLE>(file)) != 0;
}

void FlushFolderEntry(const char*)
{
}

FlushResult FlushFileChecked(FileHandle file, unsigned long* errorCode)
{
    if (FlushFileBuffers(reinterpret_cast<HANDLE>(file))) return FlushResult::kFlushed;
    *errorCode = GetLastError();
    return *errorCode == ERROR_INVALID_FUNCTION || *errorCode == ERROR_NOT_SUPPORTED ? FlushResult::kUnsupported
                                                                                      : FlushResult::kFailed;
}

FlushResult FlushFolderEntryChecked(const char*, unsigned long*)
{
    return FlushResult::kFlushed;
}

unsigned long LastErrorCode()
{
    return GetLastError();
}

void WriteStandardError(const char* line)
{
    // A program of the GUI subsystem has a standard error only where its
    // caller gave it one.
    HANDLE h = GetStdHandle(STD_ERROR_HANDLE);
    if (h == nullptr || h == INVALID_HANDLE_VALUE) return;
    DWORD n = 0;
    WriteFile(h, line, static_cast<DWORD>(lstrlenA(line)), &n, nullptr);
    WriteFile(h, "\r\n", 2, &n, nullptr);
}

bool CloseFlushed(FileHandle file, unsigned long* errorCode, bool* flushUnsupported)
{
    // The data must be on disk before the caller is told it may read it;
    // on a file system that cannot flush, it is as far as it can get.
    FlushResult flushed = FlushFileChecked(file, errorCode);
    if (flushed == FlushResult::kUnsupported) *flushUnsupported = true;
    bool ok = flushed != FlushResult::kFailed;
    if (!CloseHandle(reinterpret_cast<HANDLE>(file)) && ok) {
        *errorCode = GetLastError();
        ok = false;
    }
    return ok;
}

bool CloseFile(FileHandle file, unsigned long* errorCode)
{
    bool ignored = false;
    return CloseFlushed(file, errorCode, &ignored);
}

}  // namespace platform
