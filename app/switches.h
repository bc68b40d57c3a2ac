// The command-line switches: fills the transaction record and the instance
// id from the argument text.
#pragma once

#include <cstdint>

#include "paylib/record.h"

constexpr int kParseOk = 0;
constexpr int kParseNoOperation = -1;
constexpr int kParseUsageShown = -2;

// A value this long or longer is dropped, whatever its switch.
constexpr std::size_t kValueBufferSize = 1024;

// record must be all zero on entry. Returns kParseOk, kParseNoOperation (the
// message stands in g_errorText) or kParseUsageShown.
int ParseSwitches(UserAuthInt* record, const char* argumentText);

// The operation code's conversion: decimal, optional sign after leading
// white space, saturated to the 32-bit range.
std::int32_t ConvertOperationCode(const char* value, std::size_t length);
