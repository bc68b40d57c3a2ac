// Keeps a faulting payment library from taking the run down: C++ exceptions
// are caught, and SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT (abort(), an
// uncaught throw, the C library's heap checks) and SIGTRAP (a breakpoint left
// in the library) raised on the calling thread during the call jump back
// here, so the result files are still written.
//
// Everything the handler touches is static: a library that scribbles over
// the stack cannot reach the jump target. The handler runs at most once per
// call and only for the calling thread of this process; any other fault, a
// fault of another thread, of a process the library forked, or a second one,
// ends that process as it would without the guard.
#include <pthread.h>
#include <unistd.h>

#include <csetjmp>
#include <csignal>
#include <cstdlib>

#include "platform/platform.h"

namespace {

const int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP};
constexpr int kFaultSignalCount = sizeof kFaultSignals / sizeof kFaultSignals[0];

// The handler runs on its own stack so that a stack overflow in the library
// can be absorbed too.
alignas(16) char g_alternateStack[64 * 1024];
sigjmp_buf g_faultReturn;
pthread_t g_callingThread;
pid_t g_callingProcess;
// A fork keeps the thread's identity: only the process tells the two apart.
constexpr int kForkedChildExit = 4;
volatile std::sig_atomic_t g_jumpArmed = 0;
volatile std::sig_atomic_t g_absorbedSignal = 0;
struct sigaction g_previous[kFaultSignalCount];
stack_t g_previousStack;

// The signal's default action, now: a synchronous fault would otherwise come
// back at once, and a raised one must not be lost.
void EndAsWithoutGuard(int signal)
{
    struct sigaction fallback = {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signal, &fallback, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    raise(signal);
}

void OnFault(int signal)
{
    if (g_jumpArmed && ::getpid() == g_callingProcess &&
        pthread_equal(pthread_self(), g_callingThread)) {
        g_jumpArmed = 0;
        g_absorbedSignal = signal;
        siglongjmp(g_faultReturn, 1);
    }
    EndAsWithoutGuard(signal);
}

// The process whose exit() is caught; 0 while nothing is.
pid_t g_exitProcess = 0;
void (*g_onExit)(int status) = nullptr;
volatile std::sig_atomic_t g_heldCode = 0;

void OnExit(int status, void*)
{
    if (g_onExit != nullptr && ::getpid() == g_exitProcess) g_onExit(status);
}

void EndWithHeldCode(int)
{
    ::_exit(g_heldCode);
}

void OnFaultAfterTheRun(int signal)
{
    if (::getpid() == g_exitProcess) ::_exit(g_heldCode);
    EndAsWithoutGuard(signal);
}

const char* SignalName(int signal)
{
    switch (signal) {
    case SIGSEGV: return "SIGSEGV";
    case SIGBUS: return "SIGBUS";
    case SIGILL: return "SIGILL";
    case SIGFPE: return "SIGFPE";
    case SIGABRT: return "SIGABRT";
    case SIGTRAP: return "SIGTRAP";
    default: return "signal";
    }
}

}  // namespace

namespace platform {

bool RunGuarded(void (*body)(void*), void* context, const char** fault)
{
    stack_t stack = {};
    stack.ss_sp = g_alternateStack;
    stack.ss_size = sizeof g_alternateStack;
    sigaltstack(&stack, &g_previousStack);

    // While the handler runs, every fault signal is blocked: one that comes
    // then ends the process instead of entering the handler again.
    struct sigaction action = {};
    action.sa_handler = OnFault;
    action.sa_flags = SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int signal : kFaultSignals) sigaddset(&action.sa_mask, signal);
    g_callingThread = pthread_self();
    g_callingProcess = ::getpid();
    for (int i = 0; i < kFaultSignalCount; ++i)
        sigaction(kFaultSignals[i], &action, &g_previous[i]);

    static const char* volatile absorbed;
    absorbed = nullptr;
    if (sigsetjmp(g_faultReturn, 1) == 0) {
        g_jumpArmed = 1;
        try {
            body(context);
        } catch (...) {
            absorbed = "C++ exception";
        }
    } else {
        absorbed = SignalName(g_absorbedSignal);
    }
    g_jumpArmed = 0;
    // The library forked and its child came back here: it is not the run.
    if (::getpid() != g_callingProcess) ::_exit(kForkedChildExit);

    for (int i = 0; i < kFaultSignalCount; ++i)
        sigaction(kFaultSignals[i], &g_previous[i], nullptr);
    sigaltstack(&g_previousStack, nullptr);
    *fault = absorbed;
    return absorbed == nullptr;
}

void CatchExit(void (*onExit)(int status))
{
    // Handlers cannot be removed: one is registered once, and does nothing
    // while no run waits for it.
    static bool registered = false;
#ifdef __GLIBC__
    if (!registered) registered = ::on_exit(OnExit, nullptr) == 0;
#else
    if (!registered) registered = std::atexit([] { OnExit(-1, nullptr); }) == 0;
#endif
    g_exitProcess = ::getpid();
    g_onExit = onExit;
}

void HoldExitCode(int code)
{
    g_heldCode = code;
    CatchExit(EndWithHeldCode);
    struct sigaction action = {};
    action.sa_handler = OnFaultAfterTheRun;
    sigemptyset(&action.sa_mask);
    for (int signal : kFaultSignals) sigaction(signal, &action, nullptr);
}

void EndProcessNow(int code)
{
    ::_exit(code);
}

}  // namespace platform
