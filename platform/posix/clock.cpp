// Time, process and error texts for the run journal.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/platform.h"

namespace platform {

LocalTime LocalNow()
{
    struct timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    struct tm local;
    ::localtime_r(&now.tv_sec, &local);
    LocalTime t;
    t.year = local.tm_year + 1900;
    t.month = local.tm_mon + 1;
    t.day = local.tm_mday;
    t.hour = local.tm_hour;
    t.minute = local.tm_min;
    t.second = local.tm_sec;
    t.millisecond = static_cast<int>(now.tv_nsec / 1000000);
    t.offsetMinutes = static_cast<int>(local.tm_gmtoff / 60);
    return t;
}

unsigned long ProcessId()
{
    return static_cast<unsigned long>(::getpid());
}

unsigned long long MonotonicMilliseconds()
{
    struct timespec now;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<unsigned long long>(now.tv_sec) * 1000u +
           static_cast<unsigned long long>(now.tv_nsec / 1000000);
}

void DescribeError(unsigned long code, char* out, std::size_t size)
{
    // strerrordesc_np: the English text from a table, without locale or
    // allocation.
    const char* text = ::strerrordesc_np(static_cast<int>(code));
    std::snprintf(out, size, "%s", text ? text : "");
}

bool OpenForAppend(const char* path, FileHandle* file)
{
    // Read access: the last byte tells whether the file ends in a line feed.
    const int flags = O_RDWR | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    int fd = ::open(path, flags);
    if (fd < 0 && errno == ENOENT) {
        fd = ::open(path, flags | O_CREAT | O_EXCL, 0660);
        if (fd >= 0) {
            // The registers' users of the group share it; the umask must not
            // take the group's write away, and others get nothing.
            ::fchmod(fd, 0660);
            FlushFolderEntry(path);
        } else if (errno == EEXIST) {
            fd = ::open(path, flags);
        }
    }
    if (fd < 0) return false;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    *file = fd;
    return true;
}

bool AppendLine(FileHandle file, const char* bytes, std::size_t size)
{
    // O_APPEND makes one write one piece on a local file system, not on
    // NFS, and a short write would split the line: runs take turns. The run
    // waits two seconds at most for its turn (another run holds it for
    // microseconds); without it the line is still written.
    int fd = static_cast<int>(file);
    bool locked = LockFileWaiting(file, 2000);
    struct stat st;
    bool known = ::fstat(fd, &st) == 0;
    off_t before = known ? st.st_size : 0;
    char last = '\n';
    if (known && before > 0 && ::pread(fd, &last, 1, before - 1) != 1) last = '\n';
    unsigned long ignored;
    bool ok = last == '\n' || WriteWholly(file, "\n", 1, &ignored);
    if (ok) ok = WriteWholly(file, bytes, size, &ignored);
    // A full disk leaves part of the line: take it back, so that the next
    // line does not stick to it. Only in turn: another run's line may follow.
    if (!ok && known && locked) {
        int undone = ::ftruncate(fd, before);
        (void)undone;
    }
    if (locked) UnlockFile(file);
    return ok;
}

bool RandomBytes(void* buffer, std::size_t size)
{
    return ::getrandom(buffer, size, 0) == static_cast<ssize_t>(size);
}

}  // namespace platform
