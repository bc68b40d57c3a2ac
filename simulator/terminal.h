// The simulated terminal: answers one operation on the record the way a
// card terminal would, deterministically for a given clock and state.
#pragma once

#include <string>

#include "paylib/record.h"
#include "simulator/journal.h"

struct Clock {
    int year, month, day, hour, minute, second;
};

// PAYSIM_NOW ("YYYY-MM-DDTHH:MM:SS") when set, else local time; false when
// PAYSIM_NOW is set but malformed.
bool ParseFixedClock(const char* text, Clock* clock);
bool ReadClock(Clock* clock);

// Operation codes the simulator knows (operType).
enum : std::uint32_t {
    kOpGet = 0,
    kOpPurchase = 1,
    kOpRefund = 2,
    kOpCancel = 3,
    kOpEndOfDay = 7,
    kOpLastOperation = 8,
    kOpAdminMenu = 99,
};

// The terminal's currency when the register names none.
constexpr const char* kDefaultCurrency = "643";

// Answers the operation in the record, updating the state. Returns 0 when
// approved, otherwise the numeric response code.
int AnswerOperation(UserAuthInt* record, TerminalState* state, const Clock& now);

// The answer when the simulator itself cannot work: 96 SYSTEM MALFUNCTION.
int AnswerMalfunction(UserAuthInt* record);
