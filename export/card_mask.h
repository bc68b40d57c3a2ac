// Card numbers kept out of the journal, wherever they turn up: in loose
// text of the command line, in a trace id, in what a library answered.
#pragma once

#include <cstddef>

// In every run of digits and separators (blank, '-', '.', '_', ',', ':',
// tab, repeated or not), every window of 13 to 19 digits that passes the
// Luhn check keeps its first six and last four digits and has the others
// replaced by '*' in place, also where more digits stand around it. A run of
// more than 64 characters keeps only its first six digits. Shorter numbers
// (an RRN, an authorization code, an amount) and digits of no passing
// window stay as they are.
void MaskCardNumbers(char* text, std::size_t size);

// A card number field: the first six and last four characters of its
// leading run of digits (and of the '*' or 'X' of a number that the library
// masked already) kept, a run shorter than 11: none; the rest of the run and
// everything after it (a track-2 separator, an expiry) as '*'. What stands
// before the run (the "D" of a keyed number) is kept.
void MaskPan(const char* pan, std::size_t size, char* out);
