#include <windows.h>

#include "platform/platform.h"

namespace platform {

ValueStatus QueryMachineValue(const char* keyPath, const char* valueName,
                              unsigned char* buffer, std::uint32_t* length,
                              unsigned long* errorCode)
{
    HKEY key;
    LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key);
    if (status == ERROR_SUCCESS) {
        // The stored type is not looked at: whatever bytes come back are text.
        DWORD size = *length;
        DWORD type = 0;
        status = RegQueryValueExA(key, valueName, nullptr, &type, buffer, &size);
        RegCloseKey(key);
        if (status == ERROR_SUCCESS) {
            *length = size;
            return ValueStatus::kRead;
        }
    }
    *errorCode = static_cast<unsigned long>(status);
    return status == ERROR_FILE_NOT_FOUND ? ValueStatus::kMissing : ValueStatus::kUnreadable;
}

}  // namespace platform
