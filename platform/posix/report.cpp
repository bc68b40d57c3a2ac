#include "platform/platform.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
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
    unsigned long error = 0;
    bool ok = WriteWholly(channel, bytes, size, &error);
    if (!ok && error == EPIPE && !sigismember(&before, SIGPIPE)) {
        const timespec none = {0, 0};
        while (sigtimedwait(&pipeOnly, nullptr, &none) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return ok;
}

}  // namespace platform
