// Result files on POSIX: plain descriptors, so that nothing is allocated
// between the library call and the last close.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/platform.h"

namespace platform {

bool OpenResultFile(const char* path, FileHandle* file, bool* created, unsigned long* errorCode)
{
    // O_NONBLOCK: a FIFO without a reader must not hang the run; O_NOFOLLOW:
    // a link planted in a shared folder must not redirect the write.
    const int flags = O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    int fd = ::open(path, flags);
    *created = false;
    if (fd < 0 && errno == ENOENT) {
        // The lane's group may read and write them, as far as the umask
        // lets it; in a folder whose set-group-ID bit says that it is shared
        // with its group, the group keeps both, whoever ran first.
        fd = ::open(path, flags | O_CREAT | O_EXCL, 0660);
        *created = fd >= 0;
        struct stat folder;
        char parent[kFullPathSize];
        const char* slash = std::strrchr(path, '/');
        std::size_t n = slash == nullptr ? 0 : static_cast<std::size_t>(slash - path);
        if (*created && n < sizeof parent) {
            std::memcpy(parent, path, n);
            parent[n] = '\0';
            if (::stat(n == 0 ? (slash ? "/" : ".") : parent, &folder) == 0 && (folder.st_mode & S_ISGID) != 0)
                ::fchmod(fd, 0660);
        }
        // Another run made it in between.
        if (fd < 0 && errno == EEXIST) fd = ::open(path, flags);
    }
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

bool ReplaceContent(FileHandle file, const char* bytes, std::size_t size,
                    unsigned long* errorCode)
{
    // Positioned writes: a library that moved the offset of the descriptor
    // cannot move the content.
    int fd = static_cast<int>(file);
    off_t at = 0;
    for (std::size_t left = size; left > 0;) {
        ssize_t n = ::pwrite(fd, bytes + at, left, at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            *errorCode = n < 0 ? static_cast<unsigned long>(errno) : EIO;
            return false;
        }
        at += n;
        left -= static_cast<std::size_t>(n);
    }
    if (::ftruncate(fd, at) == 0) return true;
    *errorCode = static_cast<unsigned long>(errno);
    return false;
}

bool MakeFullPath(const char* path, char* out, std::size_t size)
{
    std::size_t length = std::strlen(path);
    if (path[0] == '/') {
        if (length >= size) return false;
        std::memcpy(out, path, length + 1);
        return true;
    }
    if (::getcwd(out, size) == nullptr) return false;
    std::size_t used = std::strlen(out);
    if (used + 1 + length >= size) return false;
    out[used] = '/';
    std::memcpy(out + used + 1, path, length + 1);
    return true;
}

bool IsFileAtPath(FileHandle file, const char* path)
{
    struct stat open, named;
    return ::fstat(static_cast<int>(file), &open) == 0 && open.st_nlink == 1 &&
           ::stat(path, &named) == 0 && open.st_dev == named.st_dev &&
           open.st_ino == named.st_ino;
}

// Whole-file record locks: a child that the library forks does not inherit
// them, so a helper left behind cannot keep the lane.
bool SetRecordLock(int fd, short type)
{
    struct flock lock = {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;
    return ::fcntl(fd, F_SETLK, &lock) == 0;
}

LockStatus TryLockFile(FileHandle file)
{
    while (!SetRecordLock(static_cast<int>(file), F_WRLCK)) {
        if (errno == EINTR) continue;
        return errno == EACCES || errno == EAGAIN ? LockStatus::kBusy : LockStatus::kFailed;
    }
    return LockStatus::kLocked;
}

bool LockFileWaiting(FileHandle file, int maxMilliseconds)
{
    for (int waited = 0;; waited += 5) {
        LockStatus status = TryLockFile(file);
        if (status != LockStatus::kBusy) return status == LockStatus::kLocked;
        if (waited >= maxMilliseconds) return false;
        ::usleep(5000);
    }
}

void UnlockFile(FileHandle file)
{
    SetRecordLock(static_cast<int>(file), F_UNLCK);
}

bool FlushFile(FileHandle file)
{
    return ::fdatasync(static_cast<int>(file)) == 0;
}

namespace {

FlushResult Flushed(int status, unsigned long* errorCode)
{
    if (status == 0) return FlushResult::kFlushed;
    *errorCode = static_cast<unsigned long>(errno);
    // ENOTSUP and EOPNOTSUPP are one number on Linux.
    return errno == EINVAL || errno == ENOTSUP ? FlushResult::kUnsupported : FlushResult::kFailed;
}

// The folder of path, or false when it does not fit.
bool FolderOf(const char* path, char* folder, std::size_t size)
{
    const char* slash = std::strrchr(path, '/');
    std::size_t n = slash == nullptr ? 0 : static_cast<std::size_t>(slash - path);
    if (n >= size) return false;
    if (slash == nullptr) {
        folder[0] = '.';
        n = 1;
    } else if (n == 0) {
        folder[0] = '/';
        n = 1;
    } else {
        std::memcpy(folder, path, n);
    }
    folder[n] = '\0';
    return true;
}

}  // namespace

FlushResult FlushFileChecked(FileHandle file, unsigned long* errorCode)
{
    return Flushed(::fdatasync(static_cast<int>(file)), errorCode);
}

FlushResult FlushFolderEntryChecked(const char* path, unsigned long* errorCode)
{
    char folder[kFullPathSize];
    if (!FolderOf(path, folder, sizeof folder)) return FlushResult::kUnsupported;
    // A folder that may be written but not read cannot be flushed by us.
    int fd = ::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        *errorCode = static_cast<unsigned long>(errno);
        return FlushResult::kUnsupported;
    }
    FlushResult r = Flushed(::fsync(fd), errorCode);
    ::close(fd);
    return r;
}

unsigned long LastErrorCode()
{
    return static_cast<unsigned long>(errno);
}

void WriteStandardError(const char* line)
{
    std::size_t n = std::strlen(line);
    unsigned long ignored;
    WriteWholly(2, line, n, &ignored);
    WriteWholly(2, "\n", 1, &ignored);
}

void FlushFolderEntry(const char* path)
{
    unsigned long ignored;
    FlushFolderEntryChecked(path, &ignored);
}

bool CloseFlushed(FileHandle file, unsigned long* errorCode, bool* flushUnsupported)
{
    // The data must be on disk before the caller is told it may read it;
    // on a file system that cannot flush, it is as far as it can get.
    FlushResult flushed = Flushed(::fsync(static_cast<int>(file)), errorCode);
    if (flushed == FlushResult::kUnsupported) *flushUnsupported = true;
    bool ok = flushed != FlushResult::kFailed;
    if (::close(static_cast<int>(file)) != 0 && ok) {
        *errorCode = static_cast<unsigned long>(errno);
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
