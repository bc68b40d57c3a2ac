// Turning raw registry bytes into texts, and composing the result paths.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "paylib/settings.h"

namespace {

std::string Cut(const std::string& bytes, std::uint32_t n)
{
    char buffer[kSettingValueSize];
    std::memset(buffer, 'Z', sizeof buffer);
    std::memcpy(buffer, bytes.data(), bytes.size());
    CutSettingValue(buffer, n);
    return std::string(buffer, strnlen(buffer, sizeof buffer));
}

std::string Compose(const char* folder, const char* name, char separator)
{
    char out[kResultPathSize];
    std::memset(out, 'Z', sizeof out);
    ComposeResultPath(out, folder, name, separator);
    return out;
}

TEST(SettingValue, IsCutAtItsLastByte)
{
    EXPECT_EQ(Cut(std::string("C:\\Exchange\0", 12), 12), "C:\\Exchange");
    EXPECT_EQ(Cut("C:\\Exchange", 11), "C:\\Exchang");
    EXPECT_EQ(Cut(std::string("ab\0cd\0", 6), 6), "ab");
    EXPECT_EQ(Cut(std::string(1, '\0'), 1), "");
    EXPECT_EQ(Cut("", 0), "");
    EXPECT_EQ(Cut(std::string(259, 'a') + '\0', 260), std::string(259, 'a'));
    EXPECT_EQ(Cut(std::string(260, 'a'), 260), std::string(259, 'a'));
    EXPECT_EQ(Cut(std::string(258, 'a') + '\0', 259), std::string(258, 'a'));
    EXPECT_EQ(Cut(std::string(260, 'a'), 261), "");   // never past the buffer
}

TEST(ResultPath, BackslashRule)
{
    EXPECT_EQ(Compose("C:\\Exchange", "output.dat", '\\'), "C:\\Exchange\\output.dat");
    EXPECT_EQ(Compose("C:\\Exchange\\", "output.dat", '\\'), "C:\\Exchange\\output.dat");
    EXPECT_EQ(Compose("C:/Exchange/", "output_ex.dat", '\\'), "C:/Exchange/\\output_ex.dat");
    EXPECT_EQ(Compose("", "output_ex.txt", '\\'), "./output_ex.txt");
    EXPECT_EQ(Compose(nullptr, "output.dat", '\\'), "output.dat");
}

TEST(ResultPath, SlashRule)
{
    EXPECT_EQ(Compose("/srv/pos", "output.dat", '/'), "/srv/pos/output.dat");
    EXPECT_EQ(Compose("/srv/pos/", "output.dat", '/'), "/srv/pos/output.dat");
    EXPECT_EQ(Compose("C:\\x\\", "output.dat", '/'), "C:\\x\\/output.dat");
    EXPECT_EQ(Compose("", "output.dat", '/'), "./output.dat");
}

TEST(ResultPath, LongestFolderAndSuffixAreNeverCut)
{
    std::string folder(259, 'f');
    std::memcpy(g_instanceId, "1234567890123456789", 20);
    ComposeResultPath(g_outputExDatPath, folder.c_str(), kOutputExDatName, '/');
    ComposeResultPath(g_outputExTxtPath, folder.c_str(), kOutputExTxtName, '/');
    AppendInstanceSuffix();
    EXPECT_EQ(std::string(g_outputExDatPath), folder + "/output_ex.dat-1234567890123456789");
    EXPECT_EQ(std::string(g_outputExTxtPath), folder + "/output_ex.txt-1234567890123456789");
    std::memset(g_instanceId, 0, sizeof g_instanceId);
}

}  // namespace
