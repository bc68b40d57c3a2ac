#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"

namespace platform {

bool OpenUsageConsole()
{
    // Unattended, the text goes to the standard output the caller gave, if any.
    if (IsUnattended()) return true;
    FreeConsole();
    if (!AllocConsole()) return false;
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    // Text mode, so that each LF reaches the console as CR LF.
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(output), _O_TEXT);
    if (fd < 0) return false;
    std::FILE* out = _fdopen(fd, "w");
    std::FILE* err = _fdopen(fd, "w");
    if (out == nullptr || err == nullptr) return false;
    *stdout = *out;
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    *stderr = *err;
    std::setvbuf(stderr, nullptr, _IONBF, 0);
    return true;
}

void PauseForKey()
{
    if (IsUnattended()) return;
    // The command interpreter named by COMSPEC shares the new console.
    std::system("pause");
}

}  // namespace platform
