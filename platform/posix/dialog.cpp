// Without a desktop the "ERROR" box is one line on standard error, attended
// or not.
#include <cstdio>

#include "platform/platform.h"

namespace {

bool g_unattended = false;

}  // namespace

namespace platform {

void ShowErrorBox(const char* text)
{
    std::fprintf(stderr, "ERROR: %s\n", text);
    std::fflush(stderr);
}

void SetUnattended(bool unattended)
{
    g_unattended = unattended;
}

bool IsUnattended()
{
    return g_unattended;
}

bool DesktopVisible()
{
    return true;
}

}  // namespace platform
