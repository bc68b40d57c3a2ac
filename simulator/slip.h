// The customer slip that the terminal hands the register to print, in
// data_to_print.
#pragma once

#include <string>

#include "paylib/record.h"
#include "simulator/terminal.h"

// The slip for the answered operation in the record, from what the record
// holds after the answer. The field has room for 50 bytes, far less than a
// printed slip, so the slip is a list of short LF-separated lines in order of
// importance: the simulator's mark; operation, amount and currency; card,
// response code and text;
// authorization code; RRN; date and time; merchant. It ends with the last
// whole line that fits, so a register never prints half a line.
std::string MakeSlip(const UserAuthInt& record, const char* operation, const Clock& now);

// The first line of every slip of the simulator, which no real slip carries.
constexpr const char* kSimulatorSlipMark = "** SIMULATOR **";
