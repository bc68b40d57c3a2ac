// The registry's stand-in: a folder tree. Keys are folders, values are files
// whose bytes are the value's data; names match case-insensitively, as in
// the registry.
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"

namespace {

const char* RegistryRoot()
{
    const char* root = std::getenv("BRENNICK_REGISTRY");
    return (root != nullptr && root[0] != '\0') ? root : "/etc/brennick/registry";
}

// Finds the entry of folder whose name matches name[0..length) ignoring case;
// an exact match wins over others. An entry that is not there is missing; a
// folder that cannot be searched is unreadable.
platform::ValueStatus FindEntry(const std::string& folder, const char* name, std::size_t length,
                                std::string* found, unsigned long* errorCode)
{
    std::string wanted(name, length);
    if (wanted.empty() || wanted == "." || wanted == "..") return platform::ValueStatus::kMissing;
    std::string exact = folder + "/" + wanted;
    struct stat st;
    if (::stat(exact.c_str(), &st) == 0) {
        *found = exact;
        return platform::ValueStatus::kRead;
    }
    if (errno != ENOENT && errno != ENOTDIR) {
        *errorCode = static_cast<unsigned long>(errno);
        return platform::ValueStatus::kUnreadable;
    }
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        if (errno == ENOENT || errno == ENOTDIR) return platform::ValueStatus::kMissing;
        *errorCode = static_cast<unsigned long>(errno);
        return platform::ValueStatus::kUnreadable;
    }
    platform::ValueStatus status = platform::ValueStatus::kMissing;
    while (struct dirent* e = ::readdir(dir)) {
        if (::strcasecmp(e->d_name, wanted.c_str()) == 0) {
            *found = folder + "/" + e->d_name;
            status = platform::ValueStatus::kRead;
            break;
        }
    }
    ::closedir(dir);
    return status;
}

platform::ValueStatus ReadWholeFile(const std::string& path, unsigned char* buffer,
                                    std::uint32_t* length, unsigned long* errorCode)
{
    // O_NONBLOCK: a FIFO or device in the store must not hold the run up
    // before it starts; only a regular file is a value.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        *errorCode = static_cast<unsigned long>(errno);
        return platform::ValueStatus::kUnreadable;
    }
    struct stat st;
    int error = 0;
    if (::fstat(fd, &st) != 0) error = errno;
    else if (S_ISDIR(st.st_mode)) error = EISDIR;
    else if (!S_ISREG(st.st_mode)) error = EINVAL;
    std::uint32_t total = 0;
    // Read one byte more than offered, to tell a value that is too long.
    unsigned char extra = 0;
    while (error == 0) {
        unsigned char* dst = total < *length ? buffer + total : &extra;
        std::size_t room = total < *length ? *length - total : 1;
        ssize_t n = ::read(fd, dst, room);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) error = errno;
        if (n <= 0) break;
        total += static_cast<std::uint32_t>(n);
        if (total > *length) error = EOVERFLOW;
    }
    ::close(fd);
    if (error != 0) {
        *errorCode = static_cast<unsigned long>(error);
        return platform::ValueStatus::kUnreadable;
    }
    *length = total;
    return platform::ValueStatus::kRead;
}

}  // namespace

namespace platform {

ValueStatus QueryMachineValue(const char* keyPath, const char* valueName,
                              unsigned char* buffer, std::uint32_t* length,
                              unsigned long* errorCode)
{
    std::string folder = RegistryRoot();
    for (const char* part = keyPath; *part != '\0';) {
        const char* end = std::strchr(part, '\\');
        std::size_t n = end ? static_cast<std::size_t>(end - part) : std::strlen(part);
        if (n > 0) {
            ValueStatus status = FindEntry(folder, part, n, &folder, errorCode);
            if (status != ValueStatus::kRead) return status;
        }
        part += n;
        if (*part == '\\') ++part;
    }
    std::string file;
    ValueStatus status = FindEntry(folder, valueName, std::strlen(valueName), &file, errorCode);
    if (status != ValueStatus::kRead) return status;
    return ReadWholeFile(file, buffer, length, errorCode);
}

}  // namespace platform
