#include <windows.h>

#include "platform/platform.h"

namespace platform {

void* LoadDynamicLibrary(const char* path, unsigned long* errorCode, char* detail,
                         std::size_t detailSize)
{
    HMODULE library = LoadLibraryA(path);
    *errorCode = library ? 0 : GetLastError();
    detail[0] = '\0';
    if (library == nullptr) DescribeError(*errorCode, detail, detailSize);
    return reinterpret_cast<void*>(library);
}

void* FindEntryPoint(void* library, const char* name, unsigned long* errorCode, char* detail,
                     std::size_t detailSize)
{
    FARPROC address = GetProcAddress(static_cast<HMODULE>(library), name);
    *errorCode = address ? 0 : GetLastError();
    detail[0] = '\0';
    if (address == nullptr) DescribeError(*errorCode, detail, detailSize);
    return reinterpret_cast<void*>(address);
}

void UnloadDynamicLibrary(void* library)
{
    FreeLibrary(static_cast<HMODULE>(library));
}

}  // namespace platform
