#include <windows.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "simulator/lock.h"

long LockStateFolder(const std::string& path)
{
    std::string lock = (std::filesystem::path(path).parent_path() / "paysim.lock").string();
    HANDLE h = CreateFileA(lock.c_str(), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return -1;
    OVERLAPPED whole = {};
    if (!LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &whole)) {
        CloseHandle(h);
        return -1;
    }
    return reinterpret_cast<long>(h);
}

std::string DefaultStateFolder()
{
    // The temporary folder of Windows is the user's own.
    std::error_code ec;
    return std::filesystem::temp_directory_path(ec).string();
}

bool ReadStateFile(const std::string& path, std::string* content)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::stringstream s;
    s << in.rdbuf();
    *content = s.str();
    return true;
}

void ReplaceStateFile(const std::string& path, const std::string& content)
{
    std::string temporary = path + ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) return;
        out << content;
        if (!out) return;
    }
    std::error_code ec;
    std::filesystem::rename(temporary, path, ec);
    if (ec) {
        std::filesystem::remove(path, ec);
        std::filesystem::rename(temporary, path, ec);
    }
}

void UnlockStateFolder(long lock)
{
    if (lock == -1) return;
    HANDLE h = reinterpret_cast<HANDLE>(lock);
    OVERLAPPED whole = {};
    UnlockFileEx(h, 0, 1, 0, &whole);
    CloseHandle(h);
}
