#include "export/card_mask.h"

namespace {

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool PassesLuhn(const char* text, const std::size_t* digits, std::size_t count)
{
    int sum = 0;
    for (std::size_t i = 0; i < count; ++i) {
        int d = text[digits[count - 1 - i]] - '0';
        if (i % 2 == 1) d = d * 2 > 9 ? d * 2 - 9 : d * 2;
        sum += d;
    }
    return sum % 10 == 0;
}

// What may stand between the groups of a written card number.
bool IsSeparator(char c)
{
    return c == ' ' || c == '-' || c == '.' || c == '_' || c == ',' || c == ':' || c == '\t';
}

// A library may hand back the number masked already: "411111******1111".
bool IsCardCharacter(char c)
{
    return IsDigit(c) || c == '*' || c == 'X' || c == 'x';
}

}  // namespace

void MaskCardNumbers(char* text, std::size_t size)
{
    constexpr std::size_t kShortest = 13, kLongest = 19, kLongestRun = 64;
    std::size_t i = 0;
    while (i < size) {
        if (!IsDigit(text[i])) {
            ++i;
            continue;
        }
        // The whole run: digits with separators between them, as many as
        // stand there; a neighbouring digit must not hide a number.
        std::size_t digits[kLongestRun];
        std::size_t count = 0;
        std::size_t end = i, last = i;
        while (end < size && (IsDigit(text[end]) || IsSeparator(text[end]))) {
            if (IsDigit(text[end])) {
                if (count < kLongestRun) digits[count] = end;
                ++count;
                last = end;
            }
            ++end;
        }
        end = last + 1;
        if (end - i > kLongestRun) {
            // Too long to search: nothing of it past the first six digits.
            for (std::size_t k = i, seen = 0; k < end; ++k)
                if (IsDigit(text[k]) && ++seen > 6) text[k] = '*';
            i = end;
            continue;
        }
        // Every window of 13 to 19 digits that passes the check keeps its
        // first six and last four; marks first, so that one masked window
        // cannot hide or fake another.
        bool masked[kLongestRun] = {};
        for (std::size_t from = 0; from + kShortest <= count; ++from)
            for (std::size_t n = kShortest; n <= kLongest && from + n <= count; ++n)
                if (PassesLuhn(text, digits + from, n))
                    for (std::size_t k = from + 6; k < from + n - 4; ++k) masked[k] = true;
        for (std::size_t k = 0; k < count; ++k)
            if (masked[k]) text[digits[k]] = '*';
        i = end;
    }
}

void MaskPan(const char* pan, std::size_t size, char* out)
{
    std::size_t start = 0;
    while (start < size && !IsDigit(pan[start])) ++start;
    std::size_t end = start;
    while (end < size && IsCardCharacter(pan[end])) ++end;
    std::size_t run = end - start;
    for (std::size_t i = 0; i < size; ++i) {
        bool kept = i < start ||
                    (i < end && run >= 11 && (i - start < 6 || i >= end - 4));
        out[i] = kept ? pan[i] : '*';
    }
}
