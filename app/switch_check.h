// A value that carries a switch: the parser takes the first occurrence of
// each switch wherever it stands, so "/bX/a999999" would set the amount from
// inside a trace id. Such a command line is refused before the library is
// called, as nobody can tell which of the two readings the caller meant.
#pragma once

#include "export/journal.h"

// Looks at the first occurrence of each switch the parser looks at. When one
// begins inside the value of another, returns true with both names ("/a",
// "/quarnid") for the leftmost such occurrence and, of the switches whose
// values hold it, the leftmost. The value of "/o" is read as a number and
// holds nothing.
bool FindSwitchInsideValue(const char* argumentText, const char** inner, const char** outer);

// The first occurrence of each switch the parser looks at, with its value
// ("/o" with its number): at most kSwitchSpanCount spans, in no order.
constexpr int kSwitchSpanCount = 13;
int FindSwitchSpans(const char* argumentText, TextSpan* spans);
