#include <dlfcn.h>

#include "platform/platform.h"

namespace platform {

void* LoadDynamicLibrary(const char* path)
{
    // dlopen("") would hand back the program itself; like the Windows loader,
    // an empty path loads nothing.
    if (path[0] == '\0') return nullptr;
    return ::dlopen(path, RTLD_NOW | RTLD_LOCAL);
}

void* FindEntryPoint(void* library, const char* name, unsigned long* errorCode)
{
    void* address = ::dlsym(library, name);
    // dlsym has no error number; report the Windows code for a missing
    // procedure so that both builds show the same message.
    *errorCode = address ? 0 : 127;
    return address;
}

void UnloadDynamicLibrary(void* library)
{
    ::dlclose(library);
}

}  // namespace platform
