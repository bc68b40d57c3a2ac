#include "paylib/binding.h"

#include <cstdio>

#include "paylib/process_state.h"
#include "paylib/settings.h"
#include "platform/platform.h"

namespace {

typedef int(BRN_CDECL* ProcessOwFullFn)(void* record, std::uint32_t size);
typedef int(BRN_CDECL* ProcessOwIdFullFn)(const char* instanceId, void* record,
                                          std::uint32_t size);

struct Binding {
    void* library;
    void* processOw;        // required, never called
    void* processOwFull;
    void* processOwId;      // required, never called
    void* processOwIdFull;
};

Binding g_binding;

// Looks one entry point up; on failure shows the lookup message.
bool Resolve(const char* name, void** address)
{
    unsigned long code = 0;
    *address = platform::FindEntryPoint(g_binding.library, name, &code);
    if (*address != nullptr) return true;
    std::snprintf(g_errorText, kErrorTextSize, "Unable to load %s function! %lx (%lu)",
                  name, code, code);
    platform::ShowErrorBox(g_errorText);
    return false;
}

void CallLibrary(void* context)
{
    UserAuthInt* record = static_cast<UserAuthInt*>(context);
    if (g_instanceId[0] == '\0')
        reinterpret_cast<ProcessOwFullFn>(g_binding.processOwFull)(record, kRecordSize);
    else
        reinterpret_cast<ProcessOwIdFullFn>(g_binding.processOwIdFull)(g_instanceId, record,
                                                                       kRecordSize);
}

}  // namespace

int BindLibrary()
{
    g_binding.library = platform::LoadDynamicLibrary(g_libraryPath);
    if (g_binding.library == nullptr) {
        platform::ShowErrorBox("Unable to load library!");
        return -1;
    }
    if (!Resolve("ProcessOw", &g_binding.processOw)) return -1;
    if (!Resolve("ProcessOwFull", &g_binding.processOwFull)) return -1;
    return 0;
}

int BindIdEntryPoints()
{
    if (g_binding.library == nullptr) {
        platform::ShowErrorBox("Unable to load library ex!");
        return -1;
    }
    if (!Resolve("ProcessOwId", &g_binding.processOwId)) return -1;
    if (!Resolve("ProcessOwIdFull", &g_binding.processOwIdFull)) return -1;
    return 0;
}

bool ProcessRecord(UserAuthInt* record)
{
    return platform::RunGuarded(CallLibrary, record);
}

void UnloadLibrary()
{
    if (g_binding.library != nullptr) platform::UnloadDynamicLibrary(g_binding.library);
    g_binding.library = nullptr;
}
