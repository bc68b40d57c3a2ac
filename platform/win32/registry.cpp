#include <windows.h>

#include "platform/platform.h"

namespace platform {

bool QueryMachineValue(const char* keyPath, const char* valueName,
                       unsigned char* buffer, std::uint32_t* length)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    // The stored type is not looked at: whatever bytes come back are text.
    DWORD size = *length;
    DWORD type = 0;
    LONG status = RegQueryValueExA(key, valueName, nullptr, &type, buffer, &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return false;
    *length = size;
    return true;
}

}  // namespace platform
