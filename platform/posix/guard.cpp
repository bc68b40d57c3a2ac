// Keeps a faulting payment library from taking the run down: C++ exceptions
// are caught, and SIGSEGV, SIGBUS, SIGILL and SIGFPE raised during the call
// jump back here, so the result files are still written.
#include <csetjmp>
#include <csignal>

#include "platform/platform.h"

namespace {

const int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE};
constexpr int kFaultSignalCount = sizeof kFaultSignals / sizeof kFaultSignals[0];

// The handler runs on its own stack so that a stack overflow in the library
// can be absorbed too.
alignas(16) char g_alternateStack[64 * 1024];
sigjmp_buf* volatile g_faultReturn = nullptr;

void OnFault(int)
{
    siglongjmp(*g_faultReturn, 1);
}

}  // namespace

namespace platform {

bool RunGuarded(void (*body)(void*), void* context)
{
    stack_t stack = {};
    stack.ss_sp = g_alternateStack;
    stack.ss_size = sizeof g_alternateStack;
    stack_t previousStack;
    sigaltstack(&stack, &previousStack);

    struct sigaction action = {};
    action.sa_handler = OnFault;
    action.sa_flags = SA_ONSTACK | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    struct sigaction previous[kFaultSignalCount];
    for (int i = 0; i < kFaultSignalCount; ++i)
        sigaction(kFaultSignals[i], &action, &previous[i]);

    sigjmp_buf faultReturn;
    g_faultReturn = &faultReturn;
    volatile bool absorbed = false;
    if (sigsetjmp(faultReturn, 1) == 0) {
        try {
            body(context);
        } catch (...) {
            absorbed = true;
        }
    } else {
        absorbed = true;
    }
    g_faultReturn = nullptr;

    for (int i = 0; i < kFaultSignalCount; ++i)
        sigaction(kFaultSignals[i], &previous[i], nullptr);
    sigaltstack(&previousStack, nullptr);
    return !absorbed;
}

}  // namespace platform
