#include "platform/process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace platform {

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                      std::size_t outputLimit)
{
    ProgramRun run;
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        run.error = std::strerror(errno);
        return run;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, out[1], 2);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    int status = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (status != 0) {
        ::close(out[0]);
        run.error = std::strerror(status);
        return run;
    }
    run.started = true;
    run.processId = static_cast<unsigned long>(pid);
    char buffer[4096];
    for (;;) {
        ssize_t n = ::read(out[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        std::size_t keep = outputLimit > run.output.size() ? outputLimit - run.output.size() : 0;
        run.output.append(buffer, static_cast<std::size_t>(n) < keep ? static_cast<std::size_t>(n) : keep);
    }
    ::close(out[0]);
    int waited = 0;
    while (::waitpid(pid, &waited, 0) < 0 && errno == EINTR) {
    }
    run.exited = WIFEXITED(waited);
    if (run.exited) run.exitCode = WEXITSTATUS(waited);
    return run;
}

std::string OwnFolder()
{
    char path[4096];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return ".";
    std::string p(path, static_cast<std::size_t>(n));
    return p.substr(0, p.rfind('/'));
}

}  // namespace platform
