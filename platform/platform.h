// What the program needs from an operating system. Each side implements
// it: platform/win32 with the Win32 API, platform/posix with stand-ins.
// Nothing outside platform/ calls the OS directly.
#pragma once

#include <cstddef>
#include <cstdint>

#ifdef _WIN32
#define BRN_CDECL __cdecl
#else
#define BRN_CDECL
#endif

namespace platform {

// An open file: a descriptor on POSIX, a HANDLE on Windows.
typedef std::intptr_t FileHandle;
constexpr FileHandle kNoFile = -1;

// Separator placed between the exchange folder and a result file name.
#ifdef _WIN32
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

// The modal "ERROR" box; returns once the user has dismissed it. Unattended,
// it is the line "ERROR: <text>" on standard error instead (on Windows only
// where the caller gave the process one), and the usage screen opens no
// console and waits for no key.
void ShowErrorBox(const char* text);
void SetUnattended(bool unattended);
bool IsUnattended();
// False where nobody can see a window of the process: on Windows a window
// station that is not visible (a service, a task run whether a user is
// logged on or not). Always true on POSIX, whose box is a line anyway.
bool DesktopVisible();

// Reads one value of a key under the local machine's settings store. The key
// is opened afresh for every call. On entry *length is the buffer's size; on
// success it is the number of bytes stored. A key or value that does not
// exist is missing; one that exists but cannot be read (access denied, not a
// value, longer than the buffer) is unreadable, with the platform's code.
enum class ValueStatus { kRead, kMissing, kUnreadable };
ValueStatus QueryMachineValue(const char* keyPath, const char* valueName,
                              unsigned char* buffer, std::uint32_t* length,
                              unsigned long* errorCode);

// Dynamic libraries. A failure reports the platform's error code and, in
// detail (always terminated), the loader's own explanation where it has one.
void* LoadDynamicLibrary(const char* path, unsigned long* errorCode, char* detail,
                         std::size_t detailSize);
void* FindEntryPoint(void* library, const char* name, unsigned long* errorCode, char* detail,
                     std::size_t detailSize);
void UnloadDynamicLibrary(void* library);

// Runs body(context), absorbing every exception and processor fault that
// leaves it on the calling thread of this process. Returns false when
// something was absorbed; *fault then names it ("SIGSEGV", "C++ exception",
// "access violation", ...), a static text. A process that the library forked
// and that returns from body ends at once, touching nothing.
bool RunGuarded(void (*body)(void*), void* context, const char** fault);

// For the length of the library call: exit() called by the library, on any
// thread of this process, runs onExit, which must end the process itself.
// status is exit()'s argument, or -1 where the platform does not tell it.
// nullptr ends the catch.
void CatchExit(void (*onExit)(int status));
// Once a run's outcome is written: a fault or abort() on any thread, or
// exit(), ends the process at once with code, whatever the library does
// while it is unloaded or its threads still run.
void HoldExitCode(int code);
// Ends the process at once with code: no exit handlers, no destructors, and
// no code of the library runs any more.
[[noreturn]] void EndProcessNow(int code);

// The system's words for an error code of the calls below (errno or
// GetLastError), always terminated; allocates nothing.
void DescribeError(unsigned long code, char* out, std::size_t size);

// For the run journal: the local time, the process, a clock for durations,
// and a file opened for appending whole lines that concurrent processes may
// share. None of them allocates once the time zone has been read (the first
// call of LocalNow does that).
struct LocalTime {
    int year, month, day, hour, minute, second, millisecond;
    int offsetMinutes;   // east of UTC
};
LocalTime LocalNow();
unsigned long ProcessId();
unsigned long long MonotonicMilliseconds();
// Opens for appending, creating the file (and then putting its folder's entry
// on disk); on POSIX a new file is readable and writable by its owner and
// group only.
bool OpenForAppend(const char* path, FileHandle* file);
// Appends one line in one piece, also while other processes append to the
// same file. A file that does not end in a line feed gets one first; an
// append that fails or is short is undone, so no cut line stays behind.
bool AppendLine(FileHandle file, const char* bytes, std::size_t size);
// The report channel: a pipe that the program which started this one
// passes down and names in the environment variable kReportVariable (a
// descriptor number on POSIX, a handle value on Windows, in decimal). The
// journal's lines go there too. kNoFile without one, or when the name is not
// an open descriptor or handle; the channel is kept from the library's own
// children. WriteReport writes bytes whole; a reader that has gone away, or
// that has not read for kReportWaitMilliseconds, fails the write and ends
// nothing.
constexpr const char* kReportVariable = "BRENNICK_REPORT";
constexpr unsigned long long kReportWaitMilliseconds = 5000;
FileHandle OpenReportChannel();
bool WriteReport(FileHandle channel, const char* bytes, std::size_t size);
// The run id that the program which started this one may give beside the
// report channel, so that it knows the run's lines before the first comes.
constexpr const char* kRunIdVariable = "BRENNICK_RUN";
// The value of an environment variable, terminated, in out; false when it
// is not set or does not fit. Allocates nothing.
bool EnvironmentValue(const char* name, char* out, std::size_t size);
// Fills buffer from the system's random source; false when there is none.
bool RandomBytes(void* buffer, std::size_t size);

// Result files, held open by handle across the library call. OpenResultFile
// creates a missing file and leaves an existing one's bytes alone; it never
// follows a symbolic link and refuses anything but a regular file (a folder,
// a FIFO, a device). The other calls report the platform's error code of a
// failure. None of them allocates memory.
bool OpenResultFile(const char* path, FileHandle* file, bool* created, unsigned long* errorCode);
// Puts what was written to file on disk.
bool FlushFile(FileHandle file);
// Puts the entry of a file just created in its folder on disk (POSIX; the
// Windows file systems do this with the file).
void FlushFolderEntry(const char* path);
// The same, telling a file system that cannot flush (some network and
// virtual ones: EINVAL, ENOTSUP; ERROR_INVALID_FUNCTION, ERROR_NOT_SUPPORTED)
// from a flush that failed, with the platform's code of the failure.
enum class FlushResult { kFlushed, kUnsupported, kFailed };
FlushResult FlushFileChecked(FileHandle file, unsigned long* errorCode);
FlushResult FlushFolderEntryChecked(const char* path, unsigned long* errorCode);
// The platform's code of the last failed call (errno, GetLastError).
unsigned long LastErrorCode();
// One line on standard error, where the process has one.
void WriteStandardError(const char* line);
bool TruncateFile(FileHandle file, unsigned long* errorCode);
bool WriteWholly(FileHandle file, const char* bytes, std::size_t size,
                 unsigned long* errorCode);
// Writes bytes from offset 0, whatever the file's position, and cuts the
// file at their end: what is written is all the file holds.
bool ReplaceContent(FileHandle file, const char* bytes, std::size_t size,
                    unsigned long* errorCode);
// The path as the current folder makes it now, so that a later change of
// folder cannot change what it names; false when it does not fit.
constexpr std::size_t kFullPathSize = 4096 + 512;
bool MakeFullPath(const char* path, char* out, std::size_t size);
// True while file is still the file that path names: not removed, renamed
// or replaced since it was opened, and named by nothing else (a second hard
// link would let another name receive what is written).
bool IsFileAtPath(FileHandle file, const char* path);
// Flushes, then closes. A file system that cannot flush is no failure:
// CloseFlushed tells it in *flushUnsupported.
bool CloseFile(FileHandle file, unsigned long* errorCode);
bool CloseFlushed(FileHandle file, unsigned long* errorCode, bool* flushUnsupported);

// An exclusive lock of the whole process on a file, released by UnlockFile,
// by closing the file or by the process's end. A child process does not
// inherit it (on POSIX a record lock, which ends when the process closes
// any descriptor of the file: nothing may open and close a locked file a
// second time). Readers and writers that take
// no lock are not held up. TryLockFile never waits: kBusy when another
// process holds it, kFailed when the file system has no such locks.
enum class LockStatus { kLocked, kBusy, kFailed };
LockStatus TryLockFile(FileHandle file);
// Waits up to maxMilliseconds for the lock; false when it was not had.
bool LockFileWaiting(FileHandle file, int maxMilliseconds);
void UnlockFile(FileHandle file);

// Usage screen support: a console of the program's own bound to standard
// output and standard error, and a wait for one key press.
bool OpenUsageConsole();
void PauseForKey();

}  // namespace platform
