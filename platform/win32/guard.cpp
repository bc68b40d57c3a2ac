// Keeps a faulting payment library from taking the run down. GCC on 32-bit
// Windows has no __try, so the guard registers an exception frame of its own
// on the thread's exception list (FS:[0]) for the length of the call. Its
// handler catches every structured exception that the library does not handle
// itself: access violations, RaiseException, and C++ exceptions of other
// compilers (code 0xE06D7363). It unwinds the frames above it and resumes
// after the call. A vectored handler would also see the exceptions that the
// library raises and handles on its own, so none is used.
//
// abort() does not raise a structured exception: the runtime calls the
// SIGABRT handler and then ends the process. An uncaught throw of a MinGW
// library ends there too, as its unwinder cannot see past its own module. For
// the length of the call the handler turns abort() into a structured
// exception that the frame catches, and the runtime writes its abort message
// to standard error, not to a message box that would hold the run up.
#include <windows.h>

#include <csignal>
#include <cstdlib>

#include "platform/platform.h"

namespace {

// Laid out as the system's EXCEPTION_REGISTRATION_RECORD, followed by the
// place to resume at.
struct GuardFrame {
    GuardFrame* previous;
    void* handler;
    void* resume[5];   // __builtin_setjmp buffer
    DWORD code;        // the exception absorbed
};

constexpr DWORD kUnwindFlags = 0x2 | 0x4;   // EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND
constexpr DWORD kAbortException = 0xE0424B41;   // "BKA": abort() during the call
constexpr DWORD kCppException = 0xE0434347;     // "CCG": a throw of this compiler
constexpr DWORD kMsvcCppException = 0xE06D7363; // "msc": a throw of Microsoft's compiler

void __cdecl OnAbort(int)
{
    RaiseException(kAbortException, EXCEPTION_NONCONTINUABLE, 0, nullptr);
}

// Runs the handlers of the frames registered after ours, removing them, as
// RtlUnwind does. RtlUnwind may change every register, so the call is made
// from assembly with all of them declared lost.
void UnwindTo(void* frame, EXCEPTION_RECORD* record)
{
    void* f = frame;
    void* r = record;
    __asm__ __volatile__(
        "pushl $0\n\t"
        "pushl %1\n\t"
        "pushl $0\n\t"
        "pushl %0\n\t"
        "call _RtlUnwind@16"
        : "+a"(f), "+d"(r)
        :
        : "ebx", "ecx", "esi", "edi", "memory", "cc");
}

extern "C" EXCEPTION_DISPOSITION __cdecl GuardHandler(EXCEPTION_RECORD* record,
                                                      void* establisherFrame,
                                                      CONTEXT*, void*)
{
    if (record->ExceptionFlags & kUnwindFlags) return ExceptionContinueSearch;
    GuardFrame* frame = static_cast<GuardFrame*>(establisherFrame);
    frame->code = record->ExceptionCode;
    UnwindTo(frame, record);
    __writefsdword(0, reinterpret_cast<DWORD>(frame->previous));
    __builtin_longjmp(frame->resume, 1);
}

// Kept out of line so that the frame and the resume point live in a
// function of their own.
__attribute__((noinline)) bool CallWithFrame(void (*body)(void*), void* context, DWORD* code)
{
    volatile GuardFrame frame;
    frame.previous = reinterpret_cast<GuardFrame*>(__readfsdword(0));
    frame.handler = reinterpret_cast<void*>(&GuardHandler);
    frame.code = 0;
    if (__builtin_setjmp(const_cast<void**>(frame.resume)) != 0) {
        *code = frame.code;
        return false;
    }
    __writefsdword(0, reinterpret_cast<DWORD>(&frame));
    bool completed = true;
    try {
        body(context);
    } catch (...) {
        completed = false;
        *code = kCppException;
    }
    __writefsdword(0, reinterpret_cast<DWORD>(frame.previous));
    return completed;
}

const char* ExceptionName(DWORD code)
{
    switch (code) {
    case EXCEPTION_ACCESS_VIOLATION: return "access violation";
    case EXCEPTION_STACK_OVERFLOW: return "stack overflow";
    case EXCEPTION_INT_DIVIDE_BY_ZERO: return "integer division by zero";
    case EXCEPTION_ILLEGAL_INSTRUCTION: return "illegal instruction";
    case EXCEPTION_BREAKPOINT: return "breakpoint";
    case kAbortException: return "abort";
    case kCppException: return "C++ exception";
    case kMsvcCppException: return "C++ exception";
    default: return "structured exception";
    }
}

void (*g_onExit)(int status) = nullptr;
UINT g_heldCode = 0;

// msvcrt's exit() runs the handlers that the program registered with atexit,
// whichever module called it; it does not tell its status.
void __cdecl OnExit()
{
    if (g_onExit != nullptr) g_onExit(-1);
}

[[noreturn]] void EndWithHeldCode()
{
    TerminateProcess(GetCurrentProcess(), g_heldCode);
    ExitProcess(g_heldCode);
}

void EndWithHeldCode(int)
{
    EndWithHeldCode();
}

LONG WINAPI OnUnhandledAfterTheRun(EXCEPTION_POINTERS*)
{
    EndWithHeldCode();
}

void __cdecl OnAbortAfterTheRun(int)
{
    EndWithHeldCode();
}

}  // namespace

namespace platform {

void CatchExit(void (*onExit)(int status))
{
    // Handlers cannot be removed: one is registered once, and does nothing
    // while no run waits for it.
    static bool registered = false;
    if (!registered) registered = std::atexit(OnExit) == 0;
    g_onExit = onExit;
}

void HoldExitCode(int code)
{
    g_heldCode = static_cast<UINT>(code);
    CatchExit(EndWithHeldCode);
    _set_error_mode(_OUT_TO_STDERR);
    std::signal(SIGABRT, OnAbortAfterTheRun);
    SetUnhandledExceptionFilter(OnUnhandledAfterTheRun);
}

void EndProcessNow(int code)
{
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(code));
    ExitProcess(static_cast<UINT>(code));
}

bool RunGuarded(void (*body)(void*), void* context, const char** fault)
{
    int previousMode = _set_error_mode(_OUT_TO_STDERR);
    void(__cdecl * previousAbort)(int) = std::signal(SIGABRT, OnAbort);
    DWORD code = 0;
    bool completed = CallWithFrame(body, context, &code);
    *fault = completed ? nullptr : ExceptionName(code);
    std::signal(SIGABRT, previousAbort == SIG_ERR ? SIG_DFL : previousAbort);
    _set_error_mode(previousMode);
    return completed;
}

}  // namespace platform
