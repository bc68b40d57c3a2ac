#include "brennickd/state_lock.h"

#include <fstream>
#include <sstream>

#include "platform/platform.h"

namespace {
// Held open, never closed: on POSIX closing any descriptor of the file
// would end the lock.
platform::FileHandle g_held = platform::kNoFile;
}  // namespace

bool HoldStateFolder(const std::string& folder, std::string* reason)
{
    const std::string path = folder + platform::kPathSeparator + "brennickd.lock";
    bool created = false;
    unsigned long code = 0;
    platform::FileHandle file = platform::kNoFile;
    if (!platform::OpenResultFile(path.c_str(), &file, &created, &code)) {
        char words[256];
        platform::DescribeError(code, words, sizeof words);
        *reason = "the state folder's lock " + path + " cannot be opened: " + words;
        return false;
    }
    platform::LockStatus status = platform::TryLockFile(file);
    if (status != platform::LockStatus::kLocked) {
        unsigned long ignored;
        platform::CloseFile(file, &ignored);
        if (status == platform::LockStatus::kFailed) {
            *reason = "the state folder " + folder + " cannot be locked (its file system has no locks)";
            return false;
        }
        std::ifstream in(path, std::ios::binary);
        std::stringstream holder;
        holder << in.rdbuf();
        std::string pid = holder.str().substr(0, 20);
        pid.erase(pid.find_last_not_of("\r\n ") + 1);
        *reason = "another brennickd" + (pid.empty() ? std::string() : " (process " + pid + ")") +
                  " uses the state folder " + folder + ": one service per state folder";
        return false;
    }
    std::string pid = std::to_string(platform::ProcessId()) + "\n";
    platform::ReplaceContent(file, pid.data(), pid.size(), &code);
    g_held = file;
    return true;
}
