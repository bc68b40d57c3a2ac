#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "support/harness.h"
#include "support/scratch.h"

namespace fs = std::filesystem;

const unsigned long kExitMinusOne = 255;
const bool kWindows = false;

namespace {

const char* kSettingsFolder = "software/Merot/Dovrex Auth Library";

fs::path RegistryRoot()
{
    static const fs::path root = [] {
        fs::path p = ScratchRoot() / "registry";
        ::setenv("BRENNICK_REGISTRY", p.c_str(), 1);
        return p;
    }();
    return root;
}

std::string Slurp(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

std::string ProgramDirectory()
{
    return fs::canonical("/proc/self/exe").parent_path().string();
}

std::string FixtureLibrary(const std::string& name)
{
    return ProgramDirectory() + "/fixture_" + name + ".so";
}

void SetEnv(const std::string& name, const std::string& value)
{
    ::setenv(name.c_str(), value.c_str(), 1);
}

void UnsetEnv(const std::string& name)
{
    ::unsetenv(name.c_str());
}

void ResetSettings()
{
    fs::remove_all(RegistryRoot());
    fs::create_directories(RegistryRoot() / kSettingsFolder);
}

void SetSetting(const std::string& name, const std::string& bytes, unsigned long)
{
    std::ofstream out(RegistryRoot() / kSettingsFolder / name, std::ios::binary);
    out << bytes;
}

RunResult RunProgram(const std::string& argumentText, const std::string& workDir)
{
    // The whole text as one argument reaches the program unchanged.
    if (argumentText.empty()) return RunProgramWithArguments({}, workDir);
    return RunProgramWithArguments({argumentText}, workDir);
}

RunResult RunProgramWithArguments(const std::vector<std::string>& arguments,
                                  const std::string& workDir,
                                  const std::function<void()>& inChild)
{
    RegistryRoot();
    fs::path outPath = ScratchRoot() / "run-stdout";
    fs::path errPath = ScratchRoot() / "run-stderr";
    std::string program = ProgramDirectory() + "/brennick";
    std::vector<char*> argv = {program.data()};
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    pid_t pid = ::fork();
    if (pid == 0) {
        if (inChild) inChild();
        if (::chdir(workDir.c_str()) != 0) ::_exit(121);
        int in = ::open("/dev/null", O_RDONLY);
        int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::execv(program.c_str(), argv.data());
        ::_exit(122);
    }
    // A run that hangs is killed after a minute and reported as kTimedOut.
    int status = 0;
    bool ended = false;
    for (int waited = 0; waited < 60000 && !ended; waited += 10) {
        ended = ::waitpid(pid, &status, WNOHANG) == pid;
        if (!ended) ::usleep(10000);
    }
    if (!ended) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }

    RunResult r;
    r.exitCode = !ended ? kTimedOut
                 : WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
    r.standardOutput = Slurp(outPath);
    std::istringstream err(Slurp(errPath));
    for (std::string line; std::getline(err, line);) {
        if (line.rfind("ERROR: ", 0) == 0)
            r.boxes.push_back({0, line.substr(7), "ERROR", 0});
        else
            r.otherDiagnostics += line + "\n";
    }
    fs::remove(outPath);
    fs::remove(errPath);
    return r;
}

bool MakeReadOnly(const std::string& path)
{
    if (::chmod(path.c_str(), 0444) != 0) return false;
    if (::geteuid() != 0) return true;
    // Root writes through any mode: only the immutable flag stops it.
    int fd = ::open(path.c_str(), O_RDONLY);
    int flags = 0;
    bool ok = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 &&
              (flags |= FS_IMMUTABLE_FL, ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0);
    if (fd >= 0) ::close(fd);
    return ok;
}

void MakeWritable(const std::string& path)
{
    int fd = ::open(path.c_str(), O_RDONLY);
    int flags = 0;
    if (fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_IMMUTABLE_FL)) {
        flags &= ~FS_IMMUTABLE_FL;
        ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
    }
    if (fd >= 0) ::close(fd);
    ::chmod(path.c_str(), 0644);
}

std::vector<unsigned long> RunProgramsAtOnce(const std::vector<std::string>& argumentTexts,
                                             const std::string& workDir)
{
    RegistryRoot();
    std::string program = ProgramDirectory() + "/brennick";
    std::vector<pid_t> pids;
    for (const std::string& text : argumentTexts) {
        pid_t pid = ::fork();
        if (pid == 0) {
            int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, 0);
            ::dup2(null, 1);
            ::dup2(null, 2);
            if (::chdir(workDir.c_str()) != 0) ::_exit(121);
            ::execl(program.c_str(), program.c_str(), text.c_str(), static_cast<char*>(nullptr));
            ::_exit(122);
        }
        pids.push_back(pid);
    }
    std::vector<unsigned long> codes;
    for (pid_t pid : pids) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        codes.push_back(WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status));
    }
    return codes;
}
