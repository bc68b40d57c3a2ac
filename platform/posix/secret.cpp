#include "platform/secret.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/evp.h>

#include <cerrno>
#include <cstring>

namespace platform {

bool WriteSecretFile(const std::string& path, const std::string& text, std::string* message)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0640);
    if (fd < 0) {
        *message = path + ": " + std::strerror(errno);
        return false;
    }
    ::fchmod(fd, 0640);
    if (const group* g = ::getgrnam("brennick")) {
        if (::fchown(fd, static_cast<uid_t>(-1), g->gr_gid) != 0) {
            // Not a member, not root: the owner alone reads it, still private.
        }
    }
    bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (!ok) *message = path + ": " + std::strerror(errno);
    ok = ::fsync(fd) == 0 && ok;
    ::close(fd);
    if (!ok) ::unlink(path.c_str());
    return ok;
}

bool SecretFileIsPrivate(const std::string& path, std::string* reason)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return true;   // its reading says why
    if ((st.st_mode & S_IWOTH) != 0) {
        *reason = "the token file " + path + " may be written by anybody: chmod o-w " + path;
        return false;
    }
    if ((st.st_mode & S_IROTH) == 0) return true;
    *reason = "the token file " + path + " may be read by anybody: chmod o-r " + path;
    return false;
}

bool OthersMayWrite(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && (st.st_mode & S_IWOTH) != 0;
}

std::string Sha256Hex(const std::string& text)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(text.data(), text.size(), digest, &size, EVP_sha256(), nullptr) != 1) return "";
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < size; ++i) out += {hex[digest[i] >> 4], hex[digest[i] & 15]};
    return out;
}

}  // namespace platform
