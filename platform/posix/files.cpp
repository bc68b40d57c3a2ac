// Result files on POSIX: plain descriptors, so that nothing is allocated
// between the library call and the last close.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/platform.h"

namespace platform {

bool OpenResultFile(const char* path, FileHandle* file, unsigned long* errorCode)
{
    // O_NONBLOCK: a FIFO without a reader must not hang the run; O_NOFOLLOW:
    // a link planted in a shared folder must not redirect the write.
    int fd = ::open(path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0) {
        *errorCode = static_cast<unsigned long>(errno);
        return false;
    }
    struct stat st;
    int status = ::fstat(fd, &st);
    if (status != 0 || !S_ISREG(st.st_mode)) {
        *errorCode = status != 0 ? static_cast<unsigned long>(errno) : EINVAL;
        ::close(fd);
        return false;
    }
    *file = fd;
    return true;
}

bool TruncateFile(FileHandle file, unsigned long* errorCode)
{
    if (::ftruncate(static_cast<int>(file), 0) == 0) return true;
    *errorCode = static_cast<unsigned long>(errno);
    return false;
}

bool WriteWholly(FileHandle file, const char* bytes, std::size_t size, unsigned long* errorCode)
{
    while (size > 0) {
        ssize_t n = ::write(static_cast<int>(file), bytes, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            *errorCode = n < 0 ? static_cast<unsigned long>(errno) : EIO;
            return false;
        }
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool CloseFile(FileHandle file, unsigned long* errorCode)
{
    // The data must be on disk before the caller is told it may read it.
    bool ok = ::fsync(static_cast<int>(file)) == 0;
    if (!ok) *errorCode = static_cast<unsigned long>(errno);
    if (::close(static_cast<int>(file)) != 0 && ok) {
        *errorCode = static_cast<unsigned long>(errno);
        ok = false;
    }
    return ok;
}

}  // namespace platform
