#include "platform/platform.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace platform {

FileHandle OpenReportChannel()
{
    const char* named = std::getenv(kReportVariable);
    if (named == nullptr || *named == '\0') return kNoFile;
    char* end = nullptr;
    long fd = std::strtol(named, &end, 10);
    // Standard input, output and error are no channel: a line there would
    // mix with the words of a box.
    if (*end != '\0' || fd <= 2 || fd > 65535) return kNoFile;
    int flags = ::fcntl(static_cast<int>(fd), F_GETFD);
    if (flags < 0) return kNoFile;
    // Ours alone: a helper that the library starts must not hold it open.
    ::fcntl(static_cast<int>(fd), F_SETFD, flags | FD_CLOEXEC);
    return fd;
}

bool WriteReport(FileHandle channel, const char* bytes, std::size_t size)
{
    // A reader that has gone away must not end the run: SIGPIPE is held for
    // the write and taken back if it came.
    sigset_t pipeOnly, before;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeOnly, &before);
    // A reader that does not read must not hold the run: the pipe is written
    // without blocking, and waited for only so long.
    const int fd = static_cast<int>(channel);
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0 && (flags & O_NONBLOCK) == 0) ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    const unsigned long long deadline = MonotonicMilliseconds() + kReportWaitMilliseconds;
    int error = 0;
    while (size > 0 && error == 0) {
        ssize_t n = ::write(fd, bytes, size);
        if (n > 0) {
            bytes += n;
            size -= static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EAGAIN) {
            unsigned long long now = MonotonicMilliseconds();
            if (now >= deadline) error = EAGAIN;
            pollfd ready = {fd, POLLOUT, 0};
            if (error == 0) ::poll(&ready, 1, static_cast<int>(deadline - now));
        } else if (n < 0 && errno != EINTR) {
            error = errno;
        }
    }
    bool ok = error == 0;
    if (!ok && error == EPIPE && !sigismember(&before, SIGPIPE)) {
        const timespec none = {0, 0};
        while (sigtimedwait(&pipeOnly, nullptr, &none) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return ok;
}

bool EnvironmentValue(const char* name, char* out, std::size_t size)
{
    const char* value = std::getenv(name);
    std::size_t n = value == nullptr ? 0 : std::strlen(value);
    if (value == nullptr || n >= size) return false;
    std::memcpy(out, value, n + 1);
    return true;
}

}  // namespace platform
