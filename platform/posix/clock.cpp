// Time, process and error texts for the run journal.
#include <fcntl.h>
#include <sys/file.h>
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
    int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                    0644);
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
    bool locked = LockFileWaiting(file, 2000);
    unsigned long ignored;
    bool ok = WriteWholly(file, bytes, size, &ignored);
    if (locked) UnlockFile(file);
    return ok;
}

}  // namespace platform
