// Without a desktop the "ERROR" box is one line on standard error.
#include <cstdio>

#include "platform/platform.h"

namespace platform {

void ShowErrorBox(const char* text)
{
    std::fprintf(stderr, "ERROR: %s\n", text);
    std::fflush(stderr);
}

}  // namespace platform
