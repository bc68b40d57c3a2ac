#include <windows.h>

#include "platform/platform.h"

namespace platform {

void ShowErrorBox(const char* text)
{
    MessageBoxA(nullptr, text, "ERROR", MB_OK);
}

}  // namespace platform
