#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "simulator/lock.h"

long LockStateFolder(const std::string& path)
{
    std::string lock = (std::filesystem::path(path).parent_path() / "paysim.lock").string();
    int fd = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return -1;
    while (::flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            ::close(fd);
            return -1;
        }
    }
    return fd;
}

void UnlockStateFolder(long lock)
{
    if (lock < 0) return;
    ::flock(static_cast<int>(lock), LOCK_UN);
    ::close(static_cast<int>(lock));
}
