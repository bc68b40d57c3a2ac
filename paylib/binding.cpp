#include "paylib/binding.h"

#include <cstdio>
#include <cstring>

#include "paylib/process_state.h"
#include "paylib/settings.h"
#include "platform/platform.h"

BindingFailure g_bindingFailure;

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

struct Call {
    UserAuthInt* record;
    int returned;
};

// Looks one entry point up; on failure shows the lookup message.
bool Resolve(const char* name, void** address)
{
    unsigned long code = 0;
    *address = platform::FindEntryPoint(g_binding.library, name, &code, g_bindingFailure.detail,
                                        sizeof g_bindingFailure.detail);
    if (*address != nullptr) return true;
    std::snprintf(g_errorText, kErrorTextSize, "Unable to load %s function! %lx (%lu)",
                  name, code, code);
    g_bindingFailure.loaded = true;
    g_bindingFailure.code = code;
    g_bindingFailure.box = g_errorText;
    platform::ShowErrorBox(g_errorText);
    return false;
}

// The library gets a copy of the instance id: one that overwrites it cannot
// make the journal and the messages name another lane.
char g_instanceIdHandedOver[kInstanceIdSize];

void CallLibrary(void* context)
{
    Call* call = static_cast<Call*>(context);
    if (g_instanceId[0] == '\0') {
        call->returned = reinterpret_cast<ProcessOwFullFn>(g_binding.processOwFull)(
            call->record, kRecordSize);
        return;
    }
    std::memcpy(g_instanceIdHandedOver, g_instanceId, kInstanceIdSize);
    call->returned = reinterpret_cast<ProcessOwIdFullFn>(g_binding.processOwIdFull)(
        g_instanceIdHandedOver, call->record, kRecordSize);
}

}  // namespace

int BindLibrary()
{
    unsigned long code = 0;
    g_binding.library = platform::LoadDynamicLibrary(
        g_libraryPath, &code, g_bindingFailure.detail, sizeof g_bindingFailure.detail);
    if (g_binding.library == nullptr) {
        g_bindingFailure.code = code;
        g_bindingFailure.box = "Unable to load library!";
        platform::ShowErrorBox(g_bindingFailure.box);
        return -1;
    }
    if (!Resolve("ProcessOw", &g_binding.processOw)) return -1;
    if (!Resolve("ProcessOwFull", &g_binding.processOwFull)) return -1;
    return 0;
}

int BindIdEntryPoints()
{
    if (g_binding.library == nullptr) {
        g_bindingFailure.box = "Unable to load library ex!";
        platform::ShowErrorBox(g_bindingFailure.box);
        return -1;
    }
    if (!Resolve("ProcessOwId", &g_binding.processOwId)) return -1;
    if (!Resolve("ProcessOwIdFull", &g_binding.processOwIdFull)) return -1;
    return 0;
}

CallOutcome ProcessRecord(UserAuthInt* record)
{
    static Call call;
    call.record = record;
    call.returned = 0;
    CallOutcome outcome;
    unsigned long long start = platform::MonotonicMilliseconds();
    outcome.clean = platform::RunGuarded(CallLibrary, &call, &outcome.fault);
    outcome.milliseconds = platform::MonotonicMilliseconds() - start;
    outcome.returned = outcome.clean ? call.returned : 0;
    return outcome;
}

void UnloadLibrary()
{
    if (g_binding.library != nullptr) platform::UnloadDynamicLibrary(g_binding.library);
    g_binding.library = nullptr;
}
