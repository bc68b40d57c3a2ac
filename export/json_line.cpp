#include "export/json_line.h"

#include <cstring>

namespace {

void Put(JsonLine* j, const char* bytes, std::size_t n)
{
    if (j->overflow || n > j->capacity - j->size) {
        j->overflow = true;
        return;
    }
    std::memcpy(j->out + j->size, bytes, n);
    j->size += n;
}

void PutChar(JsonLine* j, char c)
{
    Put(j, &c, 1);
}

void PutEscaped(JsonLine* j, const char* bytes, std::size_t n)
{
    static const char hex[] = "0123456789abcdef";
    PutChar(j, '"');
    for (std::size_t i = 0; i < n; ++i) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c == '"' || c == '\\') {
            const char pair[2] = {'\\', static_cast<char>(c)};
            Put(j, pair, 2);
        } else if (c >= 0x20 && c < 0x7f) {
            PutChar(j, static_cast<char>(c));
        } else {
            const char code[6] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 15]};
            Put(j, code, 6);
        }
    }
    PutChar(j, '"');
}

// The separator before a member and its key.
void PutKey(JsonLine* j, const char* key)
{
    if (!j->first[j->depth]) PutChar(j, ',');
    j->first[j->depth] = false;
    if (key == nullptr) return;
    PutEscaped(j, key, std::strlen(key));
    PutChar(j, ':');
}

}  // namespace

void JsonBegin(JsonLine* j, char* out, std::size_t capacity)
{
    j->out = out;
    j->capacity = capacity;
    j->size = 0;
    j->overflow = false;
    j->depth = 0;
    j->first[0] = true;
    PutChar(j, '{');
}

void JsonText(JsonLine* j, const char* key, const char* bytes, std::size_t size)
{
    PutKey(j, key);
    PutEscaped(j, bytes, size);
}

void JsonText(JsonLine* j, const char* key, const char* text)
{
    JsonText(j, key, text, std::strlen(text));
}

void JsonNumber(JsonLine* j, const char* key, long long value)
{
    PutKey(j, key);
    char digits[24];
    std::size_t n = 0;
    unsigned long long magnitude =
        value < 0 ? 0ULL - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
    do {
        digits[n++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) PutChar(j, '-');
    while (n > 0) PutChar(j, digits[--n]);
}

void JsonFalse(JsonLine* j, const char* key)
{
    PutKey(j, key);
    Put(j, "false", 5);
}

void JsonTrue(JsonLine* j, const char* key)
{
    PutKey(j, key);
    Put(j, "true", 4);
}

void JsonOpen(JsonLine* j, const char* key, char bracket)
{
    PutKey(j, key);
    PutChar(j, bracket);
    if (j->depth + 1 >= static_cast<int>(sizeof j->first)) {
        j->overflow = true;
        return;
    }
    j->first[++j->depth] = true;
}

void JsonClose(JsonLine* j, char bracket)
{
    PutChar(j, bracket);
    if (j->depth > 0) --j->depth;
}

std::size_t JsonEnd(JsonLine* j)
{
    Put(j, "}\n", 2);
    return j->overflow ? 0 : j->size;
}
