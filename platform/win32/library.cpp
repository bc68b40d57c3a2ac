#include <windows.h>

#include "platform/platform.h"

namespace platform {

void* LoadDynamicLibrary(const char* path)
{
    return reinterpret_cast<void*>(LoadLibraryA(path));
}

void* FindEntryPoint(void* library, const char* name, unsigned long* errorCode)
{
    FARPROC address = GetProcAddress(static_cast<HMODULE>(library), name);
    *errorCode = address ? 0 : GetLastError();
    return reinterpret_cast<void*>(address);
}

void UnloadDynamicLibrary(void* library)
{
    FreeLibrary(static_cast<HMODULE>(library));
}

}  // namespace platform
