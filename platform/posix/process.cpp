#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "platform/platform.h"

extern char** environ;

namespace platform {

namespace {

// The descriptor the report channel has in the program.
constexpr int kReportDescriptor = 3;

// Reads what fd holds now; false once it is at its end or broken.
bool Drain(int fd, std::string* into, std::size_t limit)
{
    char buffer[4096];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
        if (n <= 0) return false;
        std::size_t keep = limit > into->size() ? limit - into->size() : 0;
        into->append(buffer, static_cast<std::size_t>(n) < keep ? static_cast<std::size_t>(n) : keep);
    }
}

}  // namespace

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const std::vector<std::string>& environment, std::size_t outputLimit,
                      const RunWatch& watch)
{
    ProgramRun run;
    int out[2], report[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        run.error = std::strerror(errno);
        return run;
    }
    if (::pipe2(report, O_CLOEXEC) != 0) {
        run.error = std::strerror(errno);
        ::close(out[0]);
        ::close(out[1]);
        return run;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, out[1], 2);
    posix_spawn_file_actions_adddup2(&actions, report[1], kReportDescriptor);
    // Whatever else is open here (sockets, the state file, a descriptor a
    // library of ours forgot to mark) stays here.
    posix_spawn_file_actions_addclosefrom_np(&actions, kReportDescriptor + 1);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<std::string> given = environment;
    given.push_back(std::string(kReportVariable) + "=" + std::to_string(kReportDescriptor));
    std::vector<char*> env;
    for (char** e = environ; *e != nullptr; ++e) {
        bool replaced = false;
        for (const std::string& g : given)
            replaced = replaced || std::strncmp(*e, g.c_str(), g.find('=') + 1) == 0;
        if (!replaced) env.push_back(*e);
    }
    for (std::string& g : given) env.push_back(g.data());
    env.push_back(nullptr);
    // Signals that this service ignores (a vanished reader of its output)
    // come to the program as they would to any.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    pid_t pid = 0;
    int status = ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), env.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(report[1]);
    if (status != 0) {
        ::close(out[0]);
        ::close(report[0]);
        run.error = std::strerror(status);
        return run;
    }
    run.started = true;
    run.processId = static_cast<unsigned long>(pid);
    if (watch.started) watch.started(run.processId);
    ::fcntl(out[0], F_SETFL, O_NONBLOCK);
    ::fcntl(report[0], F_SETFL, O_NONBLOCK);

    // Until the program has ended, not until the pipes close: a process it
    // left behind may hold them for ever.
    std::string reported;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {report[0], POLLIN, 0}};
    int waited = 0;
    bool ended = false;
    while (!ended) {
        // With both pipes at their end only the exit is left to wait for.
        bool open = fds[0].fd >= 0 || fds[1].fd >= 0;
        if (open) ::poll(fds, 2, 50);
        pid_t done = ::waitpid(pid, &waited, open ? WNOHANG : 0);
        ended = done == pid || (done < 0 && errno != EINTR);
        // After the end, what is left in the pipes is read once more.
        if (fds[0].fd >= 0 && !Drain(fds[0].fd, &run.output, outputLimit)) fds[0].fd = -1;
        if (fds[1].fd >= 0) {
            reported.clear();
            if (!Drain(fds[1].fd, &reported, 1 << 20)) fds[1].fd = -1;
            if (!reported.empty() && watch.reported) watch.reported(reported.data(), reported.size());
        }
    }
    ::close(out[0]);
    ::close(report[0]);
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
