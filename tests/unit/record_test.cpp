// The record's integers: little-endian bytes at any offset.
#include <gtest/gtest.h>

#include <cstring>

#include "paylib/record.h"

TEST(Record, IntegersAreLittleEndianAtUnalignedOffsets)
{
    UserAuthInt rec;
    std::memset(&rec, 0, sizeof rec);
    SetU32(rec.system_res, 0x11223344u);
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&rec);
    EXPECT_EQ(bytes[906], 0x44);
    EXPECT_EQ(bytes[909], 0x11);
    EXPECT_EQ(bytes[905], 0);
    EXPECT_EQ(bytes[910], 0);
    EXPECT_EQ(GetU32(rec.system_res), 0x11223344u);
    std::memset(rec.handle, 0xff, 4);
    EXPECT_EQ(GetU32(rec.handle), 4294967295u);
}

TEST(Record, FieldTextLengthNeverPassesTheWidth)
{
    const char full[4] = {'0', '0', '0', '5'};
    EXPECT_EQ(FieldTextLength(full, 4), 4u);
    EXPECT_EQ(FieldTextLength("ab\0cd", 5), 2u);
    EXPECT_EQ(FieldTextLength("", 0), 0u);
}
