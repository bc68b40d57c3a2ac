// A record field's text as the simulator reads and writes it.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>

#include "paylib/record.h"

// The field's bytes up to its first NUL, or all of them.
template <std::size_t N>
std::string Text(const char (&field)[N])
{
    return std::string(field, FieldTextLength(field, N));
}

// Zero-filled, then as much of the value as fits.
template <std::size_t N>
void Put(char (&field)[N], const std::string& value)
{
    std::memset(field, 0, N);
    std::memcpy(field, value.data(), value.size() < N ? value.size() : N);
}
