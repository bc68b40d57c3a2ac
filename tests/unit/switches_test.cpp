// The switch parser on records in memory. "/?" is left to the end-to-end
// tests, since it opens the usage screen.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/switch_check.h"
#include "app/switches.h"
#include "paylib/process_state.h"

namespace {

class Switches : public ::testing::Test {
protected:
    UserAuthInt rec;
    void SetUp() override
    {
        std::memset(&rec, 0, sizeof rec);
        std::memset(g_instanceId, 0, sizeof g_instanceId);
        std::memset(g_errorText, 0, sizeof g_errorText);
    }
    int Parse(const std::string& text) { return ParseSwitches(&rec, text.c_str()); }
    std::string Field(const char* f, std::size_t width) { return std::string(f, FieldTextLength(f, width)); }
#define TEXT(name) Field(rec.name, sizeof rec.name)

    // True when every byte outside the named fields is still zero.
    bool OnlyFieldsSet(std::initializer_list<std::pair<const void*, std::size_t>> fields)
    {
        UserAuthInt copy = rec;
        for (const auto& f : fields)
            std::memset(reinterpret_cast<char*>(&copy) +
                            (static_cast<const char*>(f.first) - reinterpret_cast<char*>(&rec)),
                        0, f.second);
        static const UserAuthInt zero = {};
        return std::memcmp(&copy, &zero, sizeof copy) == 0;
    }
#define F(name) std::make_pair(static_cast<const void*>(rec.name), sizeof rec.name)
};

TEST_F(Switches, OperationCode)
{
    EXPECT_EQ(Parse("/o99"), kParseOk);
    EXPECT_EQ(GetU32(rec.operType), 99u);
    EXPECT_TRUE(OnlyFieldsSet({F(operType)}));
    EXPECT_EQ(g_instanceId[0], '\0');

    const std::pair<const char*, std::uint32_t> cases[] = {
        {"/o ", 0},          {"/oabc", 0},        {"/o", 0},
        {"/o+7", 7},         {"/o-1", 4294967295u}, {"/o12x4", 12},
        {"/o\t\t42", 42},    {"/o--1", 0},        {"/o 5", 0},
        {"/o99999999999", 2147483647u},
        {"/o-99999999999", 2147483648u},
        {"/o2147483647", 2147483647u},
        {"/o-2147483648", 2147483648u},
    };
    for (const auto& c : cases) {
        SetUp();
        EXPECT_EQ(Parse(c.first), kParseOk) << c.first;
        EXPECT_EQ(GetU32(rec.operType), c.second) << c.first;
    }
}

TEST_F(Switches, GetSwitchNamesOperationWithoutStoringIt)
{
    EXPECT_EQ(Parse("/gs"), kParseOk);
    EXPECT_TRUE(OnlyFieldsSet({}));
    EXPECT_EQ(Parse("x/gzz /a1"), kParseOk);
    EXPECT_EQ(TEXT(amount), "1");
}

TEST_F(Switches, MissingOperationFailsBeforeAnyOtherSwitch)
{
    for (const char* text : {"/a221", "/O1 /a221", "/G1", " ", "/quarnid7 /a1"}) {
        SetUp();
        EXPECT_EQ(Parse(text), kParseNoOperation) << text;
        EXPECT_STREQ(g_errorText, "No operation defined");
        EXPECT_TRUE(OnlyFieldsSet({})) << text;
        EXPECT_EQ(g_instanceId[0], '\0');
    }
}

TEST_F(Switches, ValuesRunToTheNextBlankOnly)
{
    EXPECT_EQ(Parse("/o1  /a221 /c643 /bA\tB\"C\" /i/r1"), kParseOk);
    EXPECT_EQ(TEXT(amount), "221");
    EXPECT_EQ(TEXT(currency), "643");
    EXPECT_EQ(TEXT(TraceID), "A\tB\"C\"");
    EXPECT_EQ(TEXT(terminalID), "/r1");
    // A switch inside another value counts as that switch.
    EXPECT_EQ(TEXT(rrn), "1");
}

TEST_F(Switches, OnlyFirstOccurrenceCounts)
{
    EXPECT_EQ(Parse("/o1 /t;123=45? /tD4000"), kParseOk);
    EXPECT_EQ(TEXT(rfu), ";123=45?");
    EXPECT_EQ(TEXT(pan), "");

    SetUp();
    EXPECT_EQ(Parse("/o1 /iT/c99 /c643"), kParseOk);
    EXPECT_EQ(TEXT(terminalID), "T/c99");
    EXPECT_EQ(TEXT(currency), "99");
}

TEST_F(Switches, AmountFollowedByRIsNoAmount)
{
    EXPECT_EQ(Parse("/o1 /ar /a221"), kParseOk);
    EXPECT_EQ(TEXT(amount), "");
    SetUp();
    EXPECT_EQ(Parse("/o1 /a"), kParseOk);
    EXPECT_EQ(TEXT(amount), "");
    EXPECT_TRUE(OnlyFieldsSet({F(operType)}));
}

TEST_F(Switches, CardValueGoesToPanOrTrackData)
{
    EXPECT_EQ(Parse("/o1 /a221 /c643 /tM1000023000000034=1106?"), kParseOk);
    EXPECT_EQ(TEXT(rfu), "M1000023000000034=1106?");
    EXPECT_EQ(TEXT(pan), "");

    SetUp();
    Parse("/o1 /t;1000023000000034=06062011021300000641?");
    EXPECT_EQ(TEXT(rfu), ";1000023000000034=06062011021300000641?");

    SetUp();
    Parse("/o1 /tD1000023000000034");
    EXPECT_EQ(TEXT(pan), "D1000023000000034");
    EXPECT_TRUE(OnlyFieldsSet({F(operType), F(pan)}));

    SetUp();
    Parse("/o1 /td1000");
    EXPECT_EQ(TEXT(rfu), "d1000");
    EXPECT_EQ(TEXT(pan), "");
}

TEST_F(Switches, ValuesUpToFieldWidthAreStoredWholeLongerOnesDropped)
{
    struct Limit {
        const char* name;
        char* field;
        std::size_t width;
    } limits[] = {
        {"/a", rec.amount, 13},     {"/h", rec.original_amount, 13},
        {"/c", rec.currency, 4},    {"/i", rec.terminalID, 9},
        {"/e", rec.enc_data, 64},   {"/v", rec.authCode, 9},
        {"/r", rec.rrn, 13},        {"/f", rec.OriginalDateTime, 13},
        {"/b", rec.TraceID, 61},
    };
    for (const Limit& l : limits) {
        SetUp();
        std::string fits(l.width, '7');
        Parse(std::string("/o1 ") + l.name + fits);
        EXPECT_EQ(std::string(l.field, l.width), fits) << l.name;
        EXPECT_TRUE(OnlyFieldsSet({F(operType), {l.field, l.width}})) << l.name;

        SetUp();
        Parse(std::string("/o1 ") + l.name + fits + "7");
        EXPECT_TRUE(OnlyFieldsSet({F(operType)})) << l.name << " too long";
    }

    SetUp();
    Parse("/o1 /t" + std::string(60, '1'));
    EXPECT_EQ(std::string(rec.rfu, 60), std::string(60, '1'));
    SetUp();
    Parse("/o1 /t" + std::string(61, '1'));
    Parse("/o1 /tD" + std::string(20, '1'));
    EXPECT_TRUE(OnlyFieldsSet({F(operType)}));
}

TEST_F(Switches, FullWidthNeighboursKeepTheirValues)
{
    Parse("/o1 /r1234567890123 /vABCDEFGHI /b" + std::string(61, 'T') + " /f" +
          std::string(13, 'F'));
    EXPECT_EQ(std::string(rec.rrn, 13), "1234567890123");
    EXPECT_EQ(std::string(rec.authCode, 9), "ABCDEFGHI");
    EXPECT_EQ(std::string(rec.TraceID, 61), std::string(61, 'T'));
    EXPECT_EQ(std::string(rec.OriginalDateTime, 13), std::string(13, 'F'));
}

TEST_F(Switches, InstanceId)
{
    Parse("/o1 /quarnid" + std::string(19, '9'));
    EXPECT_EQ(std::string(g_instanceId), std::string(19, '9'));
    EXPECT_TRUE(OnlyFieldsSet({F(operType)}));

    SetUp();
    Parse("/o1 /quarnid" + std::string(20, '9'));
    EXPECT_EQ(g_instanceId[0], '\0');
}

TEST_F(Switches, ValuesOfValueBufferSizeAreDropped)
{
    std::string fill(kValueBufferSize - 1, 'x');
    EXPECT_EQ(Parse("/o" + std::string(kValueBufferSize, '1') + " /a1"), kParseOk);
    EXPECT_EQ(GetU32(rec.operType), 0u);
    EXPECT_EQ(TEXT(amount), "1");

    SetUp();
    EXPECT_EQ(Parse("/o" + std::string(kValueBufferSize - 1, '1')), kParseOk);
    EXPECT_EQ(GetU32(rec.operType), 2147483647u);
}

TEST(OperationCode, ConvertsLikeStrtolButSaturates)
{
    EXPECT_EQ(ConvertOperationCode("  -12ab", 7), -12);
    EXPECT_EQ(ConvertOperationCode("42", 1), 4);   // only the given length is read
    EXPECT_EQ(ConvertOperationCode("", 0), 0);
    EXPECT_EQ(ConvertOperationCode("-", 1), 0);
    EXPECT_EQ(ConvertOperationCode("2147483648", 10), 2147483647);
}

}  // namespace

TEST(SwitchInsideValue, NamesTheLeftmostOccurrenceAndItsLeftmostHolder)
{
    struct Case {
        const char* text;
        const char* inner;   // nullptr: the command line is unambiguous
        const char* outer;
    };
    for (const Case& c : std::initializer_list<Case>{
             {"/o1 /a221 /c643", nullptr, nullptr},
             {"/o1/a221", nullptr, nullptr},                       // "/o" holds no value
             {"/o1 /a221 /bINV/a5", nullptr, nullptr},             // a later "/a" is text
             {"/o1 /c643 /bX/a999999 /a221", "/a", "/b"},
             {"/o1 /bSHOP/item42", "/i", "/b"},
             {"/o1 /eAb/cD==", "/c", "/e"},
             {"/bX/o1", "/o", "/b"},
             {"/gs/a5", "/a", "/g"},                              // "/g" names the operation
             {"/o1 /gs/a5", nullptr, nullptr},                     // "/g" is not looked at
             {"/o1 /bX/iY/aZ", "/i", "/b"},                        // leftmost occurrence
             {"/o1 /quarnid7/b", "/b", "/quarnid"},
             {"/o1 /ar/h5", "/h", "/a"},                           // "/ar" is still looked at
         }) {
        const char* inner = nullptr;
        const char* outer = nullptr;
        bool found = FindSwitchInsideValue(c.text, &inner, &outer);
        if (c.inner == nullptr || c.outer == nullptr) {
            EXPECT_EQ(found, c.inner != nullptr) << c.text;
            continue;
        }
        ASSERT_TRUE(found) << c.text;
        EXPECT_STREQ(inner, c.inner) << c.text;
        EXPECT_STREQ(outer, c.outer) << c.text;
    }
}
