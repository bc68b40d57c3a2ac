// Result files on Windows: file handles shared for reading and writing, as
// the caller may read a file while it is written.
#include <windows.h>

#include "platform/platform.h"

namespace platform {

bool OpenResultFile(const char* path, FileHandle* file, unsigned long* errorCode)
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

bool CloseFile(FileHandle file, unsigned long* errorCode)
{
    HANDLE h = reinterpret_cast<HANDLE>(file);
    // The data must be on disk before the caller is told it may read it.
    bool ok = FlushFileBuffers(h) != 0;
    if (!ok) *errorCode = GetLastError();
    if (!CloseHandle(h) && ok) {
        *errorCode = GetLastError();
        ok = false;
    }
    return ok;
}

}  // namespace platform
