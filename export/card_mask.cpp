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

// A library may hand back the number masked already: "411111******1111".
bool IsCardCharacter(char c)
{
    return IsDigit(c) || c == '*' || c == 'X' || c == 'x';
}

}  // namespace

void MaskCardNumbers(char* text, std::size_t size)
{
    constexpr std::size_t kLongest = 19;
    std::size_t i = 0;
    while (i < size) {
        if (!IsDigit(text[i])) {
            ++i;
            continue;
        }
        // The whole run: digits, and single separators between two digits.
        std::size_t digits[kLongest + 1];
        std::size_t count = 0;
        std::size_t end = i;
        while (end < size) {
            if (IsDigit(text[end])) {
                if (count <= kLongest) digits[count] = end;
                ++count;
                ++end;
            } else if ((text[end] == ' ' || text[end] == '-') && end + 1 < size && IsDigit(text[end + 1])) {
                ++end;
            } else {
                break;
            }
        }
        if (count >= 13 && count <= kLongest && PassesLuhn(text, digits, count))
            for (std::size_t k = 0; k < count; ++k) text[digits[k]] = '*';
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
