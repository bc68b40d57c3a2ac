// One JSON object on one line, formed in a caller's fixed buffer. Texts are
// bytes of the ANSI code page: printable ASCII goes as it is, every other
// byte as \u00XX, so that nothing is lost and every line parses as UTF-8.
#pragma once

#include <cstddef>

struct JsonLine {
    char* out;
    std::size_t capacity;
    std::size_t size;
    bool overflow;        // something did not fit: the line is not to be written
    int depth;
    bool first[4];        // no member written yet, per open object or array
};

void JsonBegin(JsonLine* j, char* out, std::size_t capacity);
void JsonText(JsonLine* j, const char* key, const char* bytes, std::size_t size);
void JsonText(JsonLine* j, const char* key, const char* text);
void JsonNumber(JsonLine* j, const char* key, long long value);
void JsonTrue(JsonLine* j, const char* key);
void JsonFalse(JsonLine* j, const char* key);
// Opens a nested object or array under key (null key: an element of an array).
void JsonOpen(JsonLine* j, const char* key, char bracket);
void JsonClose(JsonLine* j, char bracket);
// Closes the object and adds the LF; the line's length, or 0 if it overflowed.
std::size_t JsonEnd(JsonLine* j);
