#include <dlfcn.h>

#include <cstdio>

#include "platform/platform.h"

namespace platform {

namespace {

void TakeLoaderError(char* detail, std::size_t size)
{
    const char* text = ::dlerror();
    std::snprintf(detail, size, "%s", text ? text : "");
}

}  // namespace

void* LoadDynamicLibrary(const char* path, unsigned long* errorCode, char* detail,
                         std::size_t detailSize)
{
    *errorCode = 0;
    detail[0] = '\0';
    // dlopen("") would hand back the program itself; like the Windows loader,
    // an empty path loads nothing.
    if (path[0] == '\0') return nullptr;
    void* library = ::dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) TakeLoaderError(detail, detailSize);
    return library;
}

void* FindEntryPoint(void* library, const char* name, unsigned long* errorCode, char* detail,
                     std::size_t detailSize)
{
    ::dlerror();
    void* address = ::dlsym(library, name);
    // dlsym has no error number; report the Windows code for a missing
    // procedure so that both builds show the same message.
    *errorCode = address ? 0 : 127;
    detail[0] = '\0';
    if (address == nullptr) TakeLoaderError(detail, detailSize);
    return address;
}

void UnloadDynamicLibrary(void* library)
{
    ::dlclose(library);
}

}  // namespace platform
