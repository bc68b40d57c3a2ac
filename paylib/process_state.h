// Process-wide buffers shared between the stages of one run.
#pragma once

#include <cstddef>

constexpr std::size_t kInstanceIdSize = 20;   // at most 19 characters and a NUL
constexpr std::size_t kErrorTextSize = 1024;

// Set only by the switch parser; empty means that no instance id was given.
extern char g_instanceId[kInstanceIdSize];

// Set by the switch parser when "/quarnid" carries a value that cannot name
// an instance: too long, or with a byte that no file name may hold. The run
// then stops before the library is called.
extern bool g_instanceIdUnusable;

// One zero-terminated message, written by the failing step and shown in the
// "ERROR" box.
extern char g_errorText[kErrorTextSize];
