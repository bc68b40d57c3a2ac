#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "simulator/lock.h"

long LockStateFolder(const std::string& path)
{
    std::string lock = (std::filesystem::path(path).parent_path() / "paysim.lock").string();
    int fd = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (fd < 0) return -1;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    while (::flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            ::close(fd);
            return -1;
        }
    }
    return fd;
}

std::string DefaultStateFolder()
{
    namespace fs = std::filesystem;
    std::error_code ec;
    const char* state = std::getenv("XDG_STATE_HOME");
    const char* home = std::getenv("HOME");
    fs::path folder;
    if (state != nullptr && *state == '/')
        folder = fs::path(state) / "paysim";
    else if (home != nullptr && *home == '/' && fs::is_directory(home, ec))
        folder = fs::path(home) / ".local" / "state" / "paysim";
    else
        folder = fs::temp_directory_path(ec) / ("paysim-" + std::to_string(::getuid()));
    fs::create_directories(folder.parent_path(), ec);
    // One that somebody else made is not ours to write: its lock cannot be
    // had, and every operation says so instead of losing its state.
    ::mkdir(folder.c_str(), 0700);
    return folder.string();
}

void UnlockStateFolder(long lock)
{
    if (lock < 0) return;
    ::flock(static_cast<int>(lock), LOCK_UN);
    ::close(static_cast<int>(lock));
}
