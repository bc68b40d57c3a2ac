// The terminal simulator's library entry points, in the payment library's
// place: the record is worked on in place and the answer left in it.
//
// PAYSIM_DELAY_MS  wait this long before answering (a slow terminal)
// PAYSIM_FAULT     "crash", "raise", "exception", "abort", "exit" (exit(2)) or
//                  "vanish" (_Exit(2), the process gone at once): fail instead of
//                  answering; with "-after" ("crash-after", ...) fail once
//                  the full answer stands in the record and the journal
// PAYSIM_HELPER    start a process that lives this many seconds beyond the run
//                  (POSIX), its process id in the state folder's
//                  "paysim-helper.pid": a library's background agent
// PAYSIM_NOW       a fixed clock, "YYYY-MM-DDTHH:MM:SS"; any other value
//                  makes every operation answer 96 SYSTEM MALFUNCTION
// PAYSIM_STATE_DIR where the state files live (default: a folder of the user's
//                  own: $XDG_STATE_HOME/paysim, ~/.local/state/paysim or the
//                  temporary folder's paysim-UID; on Windows the user's
//                  temporary folder)
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "paylib/record.h"
#include "simulator/fault.h"
#include "simulator/journal.h"
#include "simulator/lock.h"
#include "simulator/terminal.h"

namespace {

void Delay()
{
    const char* ms = std::getenv("PAYSIM_DELAY_MS");
    if (ms == nullptr) return;
    long wait = std::strtol(ms, nullptr, 10);
    if (wait > 0) std::this_thread::sleep_for(std::chrono::milliseconds(wait < 600000 ? wait : 600000));
}

// The fault asked for, and whether it comes after the answer.
const char* FaultRequested(bool* afterAnswer)
{
    static char how[32];
    const char* fault = std::getenv("PAYSIM_FAULT");
    *afterAnswer = false;
    if (fault == nullptr) return nullptr;
    std::size_t n = strnlen(fault, sizeof how);
    if (n >= sizeof how) return nullptr;
    std::memcpy(how, fault, n + 1);
    if (n > 6 && std::strcmp(how + n - 6, "-after") == 0) {
        how[n - 6] = '\0';
        *afterAnswer = true;
    }
    return how;
}

int Process(const char* instanceId, void* record, unsigned size)
{
    if (record == nullptr || size < kRecordSize) return -1;
    Delay();
    bool afterAnswer = false;
    const char* fault = FaultRequested(&afterAnswer);
    if (fault != nullptr && !afterAnswer) FailAs(fault);
    int result = -1;
    long lock = -1;
    try {
        std::string id = instanceId ? std::string(instanceId, strnlen(instanceId, 19)) : "";
        Clock now;
        if (!ReadClock(&now)) {
            // A mistyped fixed clock must show, not silently become local time.
            result = AnswerMalfunction(static_cast<UserAuthInt*>(record));
        } else {
            std::string path = StateFilePath(id);
            // A lost state restarts the counter from the real clock in
            // milliseconds: ahead of every number handed out before, unless
            // more than one operation a millisecond was made.
            std::uint64_t fresh = static_cast<std::uint64_t>(
                std::chrono::duration_cast<std::chrono::milliseconds>(
                    std::chrono::system_clock::now().time_since_epoch()).count());
            // Read, answer and write back as one step: parallel runs on any
            // instance id queue here instead of losing each other's work.
            lock = LockStateFolder(path);
            if (lock == -1) return AnswerMalfunction(static_cast<UserAuthInt*>(record));
            TerminalState state = LoadState(path, fresh);
            std::string counterPath = CounterFilePath(path);
            std::uint64_t shared = LoadCounter(counterPath, fresh);
            if (state.sequence < shared) state.sequence = shared;
            result = AnswerOperation(static_cast<UserAuthInt*>(record), &state, now);
            SaveState(path, state);
            SaveCounter(counterPath, state.sequence);
            if (const char* helper = std::getenv("PAYSIM_HELPER")) {
                long seconds = std::strtol(helper, nullptr, 10);
                long pid = seconds > 0 ? StartHelper(seconds < 3600 ? seconds : 3600) : -1;
                if (pid > 0)
                    ReplaceStateFile((std::filesystem::path(path).parent_path() / "paysim-helper.pid").string(),
                                     std::to_string(pid) + "\n");
            }
            UnlockStateFolder(lock);
        }
    } catch (...) {
        // Nothing of the simulator's own may escape into the caller.
        UnlockStateFolder(lock);
        return -1;
    }
    // The dangerous case for a register: approved, money moved, then the
    // library died.
    if (fault != nullptr) FailAs(fault);
    return result;
}

}  // namespace

extern "C" {

// The short entry points take no size, so the record's extent is unknown:
// they decline rather than write past what the caller may have.
PAYSIM_EXPORT int PAYSIM_CDECL ProcessOw(void*)
{
    return -1;
}

PAYSIM_EXPORT int PAYSIM_CDECL ProcessOwId(const char*, void*)
{
    return -1;
}

PAYSIM_EXPORT int PAYSIM_CDECL ProcessOwFull(void* record, unsigned size)
{
    return Process(nullptr, record, size);
}

PAYSIM_EXPORT int PAYSIM_CDECL ProcessOwIdFull(const char* instanceId, void* record, unsigned size)
{
    return Process(instanceId, record, size);
}

}  // extern "C"
