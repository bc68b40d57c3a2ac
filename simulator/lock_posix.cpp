#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "simulator/lock.h"

namespace {

// Whether the folder is the user's to keep a state in; else why not.
const char* Untrusted(const std::string& folder)
{
    struct stat st;
    if (::lstat(folder.c_str(), &st) != 0) return nullptr;   // the lock's open says why
    if (!S_ISDIR(st.st_mode)) return "it is not a folder";
    if ((st.st_mode & S_IWOTH) != 0) return "others may write to it";
    if (st.st_uid != ::geteuid() && st.st_uid != 0) return "it belongs to another user";
    return nullptr;
}

}  // namespace

long LockStateFolder(const std::string& path)
{
    std::string folder = std::filesystem::path(path).parent_path().string();
    if (const char* why = Untrusted(folder)) {
        std::fprintf(stderr, "paysim: the state folder %s is refused: %s\n", folder.c_str(), why);
        return -1;
    }
    std::string lock = folder + "/paysim.lock";
    int fd = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0660);
    if (fd < 0) {
        std::fprintf(stderr, "paysim: the state folder %s cannot be used: %s\n", folder.c_str(), std::strerror(errno));
        return -1;
    }
    // In a folder shared with its group (set-group-ID), the group's other
    // users must take the lock too, whatever this user's umask.
    struct stat shared;
    if (::stat(folder.c_str(), &shared) == 0 && (shared.st_mode & S_ISGID) != 0) ::fchmod(fd, 0660);
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

bool ReadStateFile(const std::string& path, std::string* content)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    char buffer[65536];
    for (ssize_t n; ok && (n = ::read(fd, buffer, sizeof buffer)) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        else content->append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return ok;
}

void ReplaceStateFile(const std::string& path, const std::string& content)
{
    std::string temporary = path + ".new";
    // Made anew: a link or file planted under the temporary name is removed,
    // never written through.
    ::unlink(temporary.c_str());
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0660);
    if (fd < 0) return;
    const char* at = content.data();
    std::size_t left = content.size();
    while (left > 0) {
        ssize_t n = ::write(fd, at, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        at += n;
        left -= static_cast<std::size_t>(n);
    }
    ::close(fd);
    if (left > 0 || ::rename(temporary.c_str(), path.c_str()) != 0) ::unlink(temporary.c_str());
}

void UnlockStateFolder(long lock)
{
    if (lock < 0) return;
    ::flock(static_cast<int>(lock), LOCK_UN);
    ::close(static_cast<int>(lock));
}
