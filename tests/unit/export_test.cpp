// The result lists, output.dat, output_ex.dat and the record dump, from
// records built in memory.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "export/card_mask.h"
#include "export/record_dump.h"
#include "export/result_files.h"
#include "export/result_lists.h"
#include "paylib/settings.h"
#include "support/scratch.h"

namespace {

std::string Slurp(const char* path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> Entries(const ResultList& list)
{
    std::vector<std::string> v;
    for (std::size_t i = 0; i < list.count; ++i)
        v.emplace_back(list.entries[i].bytes, list.entries[i].length);
    return v;
}

ResultList ListOf(std::initializer_list<std::string> entries)
{
    ResultList list = {};
    for (const std::string& e : entries) {
        std::memcpy(list.entries[list.count].bytes, e.data(), e.size());
        list.entries[list.count++].length = e.size();
    }
    return list;
}

std::string Formatted(const ResultList& list)
{
    static char out[kResultListFileSize];
    return std::string(out, FormatResultList(list, out));
}

class Export : public ::testing::Test {
protected:
    UserAuthInt rec;
    void SetUp() override
    {
        std::memset(&rec, 0, sizeof rec);
        g_resultList.count = 0;
        g_keyedResultList.count = 0;
        // Tests may run in parallel processes: names of their own.
        std::string name = (ScratchRoot() / ::testing::UnitTest::GetInstance()->current_test_info()->name()).string();
        std::snprintf(g_outputDatPath, kResultPathSize, "%s-output.dat", name.c_str());
        std::snprintf(g_outputExDatPath, kResultPathSize, "%s-output_ex.dat", name.c_str());
        std::snprintf(g_outputExTxtPath, kResultPathSize, "%s-output_ex.txt", name.c_str());
    }
    void TearDown() override
    {
        std::remove(g_outputDatPath);
        std::remove(g_outputExDatPath);
        std::remove(g_outputExTxtPath);
    }
    // One export as a run makes it: the files opened, written and closed.
    void Export_()
    {
        ResultFiles files;
        ASSERT_EQ(CreateResultFiles(&files), 0);
        ::ExportResults(&rec, &files);
        WriteRecordDump(&rec, &files);
        ASSERT_EQ(CloseResultFiles(&files), 0);
    }
    void ExportResults(const UserAuthInt*) { Export_(); }
    std::string OutputDat() { Export_(); return Slurp(g_outputDatPath); }
    std::string OutputExDat() { return Slurp(g_outputExDatPath); }
    std::string Dump() { Export_(); return Slurp(g_outputExTxtPath); }
    std::string AmountValue(const char* bytes, std::size_t n)
    {
        std::memset(rec.amount, 0, sizeof rec.amount);
        std::memcpy(rec.amount, bytes, n);
        g_resultList.count = 0;
        g_keyedResultList.count = 0;
        Export_();
        return Entries(g_resultList)[9];
    }
};

TEST_F(Export, EmptyRecordGivesElevenLineBreaksAndTheEncDataKey)
{
    std::string dat = OutputDat();
    std::string expected;
    for (int i = 0; i < 11; ++i) expected += "\r\n";
    EXPECT_EQ(dat, expected);
    EXPECT_EQ(OutputExDat(), "ENC_DATA=");
    ASSERT_EQ(g_resultList.count, 12u);
    EXPECT_EQ(Entries(g_resultList)[10], std::string(64, '\0'));
}

TEST_F(Export, TextValuesEndAtNulOrFieldWidth)
{
    std::memcpy(rec.responseCode, "0000", 4);
    std::memcpy(rec.cardType, "MIR", 3);
    std::memcpy(rec.rrn, "1234567890123", 13);
    std::memcpy(rec.authCode, "AUTH", 4);
    std::memcpy(rec.terminalID, "123456789", 9);
    std::memcpy(rec.OriginalDateTime, "2612081700001", 13);
    std::memcpy(rec.text_msg, "OK", 2);
    ExportResults(&rec);
    std::vector<std::string> values = Entries(g_resultList);
    EXPECT_EQ(values[0], "0000");
    EXPECT_EQ(values[2], "123456789");
    EXPECT_EQ(values[3], "AUTH");
    EXPECT_EQ(values[7], "2612081700001");
    EXPECT_EQ(values[11], "1234567890123");
    EXPECT_EQ(OutputExDat(),
              "RC=0000\r\nTID=123456789\r\nAUTH_CODE=AUTH\r\nTEXT_MSG=OK\r\n"
              "ORIGINAL_DATE_TIME=2612081700001\r\nCARD_TYPE=MIR\r\nENC_DATA=\r\n"
              "RRN=1234567890123");
}

TEST_F(Export, AmountWithoutLeadingZeros)
{
    EXPECT_EQ(AmountValue("000000000221", 12), "221");
    EXPECT_EQ(AmountValue("000000000000", 12), "");
    EXPECT_EQ(AmountValue("0000000000000", 13), "");
    EXPECT_EQ(AmountValue("0012a", 5), "12a");
    EXPECT_EQ(AmountValue(" 0012", 5), " 0012");
    EXPECT_EQ(AmountValue("-01", 3), "-01");
    EXPECT_EQ(AmountValue("0000000000009", 13), "9");
    EXPECT_EQ(OutputExDat(), "AMOUNT=9\r\nENC_DATA=");
}

TEST_F(Export, EncDataIsAllSixtyFourBytesWrittenUpToNul)
{
    std::memcpy(rec.enc_data, "A1B2", 4);
    std::memset(rec.original_amount, 'x', 13);   // neighbours stay out
    ExportResults(&rec);
    EXPECT_EQ(Entries(g_resultList)[10].size(), 64u);
    EXPECT_EQ(OutputExDat(), "ENC_DATA=A1B2");

    SetUp();
    std::memset(rec.enc_data, 'E', 64);
    std::memset(rec.enc_data + 64, 'R', 20);   // reserved bytes after it
    std::string dat = OutputDat();
    std::string expected;
    for (int i = 0; i < 10; ++i) expected += "\r\n";
    EXPECT_EQ(dat, expected + std::string(64, 'E') + "\r\n");
}

TEST_F(Export, LineFeedInsideValueBecomesCrLfAndHighBytesPass)
{
    std::memcpy(rec.text_msg, "ONE\nTWO\xff", 8);
    std::memcpy(rec.enc_data, "\n", 1);
    ExportResults(&rec);
    EXPECT_EQ(OutputExDat(), "TEXT_MSG=ONE\r\nTWO\xff\r\nENC_DATA=\r\n");
}

TEST_F(Export, KeyedListKeepsFirstValueAndNoEmptyOnes)
{
    AddResult("RC", "00", 2);
    AddResult("RC", "05", 2);
    AddResult("RCX", "1", 1);
    AddResult("EMPTY", "", 0);
    EXPECT_EQ(Entries(g_resultList), (std::vector<std::string>{"00", "05", "1", ""}));
    EXPECT_EQ(Entries(g_keyedResultList), (std::vector<std::string>{"RC=00", "RCX=1"}));
}

TEST_F(Export, ListFileHasSeparatorsOnlyBetweenEntries)
{
    EXPECT_EQ(Formatted(ListOf({})), "");
    EXPECT_EQ(Formatted(ListOf({std::string("\0x", 2), "a", std::string("\0b", 2)})), "\r\na\r\n");
}

TEST_F(Export, FullListsTakeWhatFitsAndNoMore)
{
    for (std::size_t i = 0; i < kResultListCapacity + 3; ++i)
        AddResult(("K" + std::to_string(i)).c_str(), std::string(300, '\n').c_str(), 300);
    ASSERT_EQ(g_resultList.count, kResultListCapacity);
    EXPECT_EQ(Entries(g_keyedResultList)[0], "K0=" + std::string(kResultEntrySize - 3, '\n'));
    // Every byte a line feed: the largest file a list can give.
    EXPECT_EQ(Formatted(g_resultList).size(), kResultListFileSize - 2);
}

TEST_F(Export, DumpOfEmptyRecordIsThreeHundredBytes)
{
    std::string dump = Dump();
    EXPECT_EQ(dump.size(), 300u);
    EXPECT_EQ(dump.substr(0, 22), "handle =0\noperType =0\n");
    EXPECT_EQ(dump.substr(dump.size() - 35), "system_res =0\nenc_data =\nTraceID =\n");
}

TEST_F(Export, DumpPrintsNumbersUnsignedAndTextsWithinTheirWidth)
{
    std::memset(rec.handle, 0xff, 4);
    SetU32(rec.operType, 4294967295u);
    SetU32(rec.system_res, 123456789u);
    std::memcpy(rec.rrn, "1234567890123", 13);
    std::memcpy(rec.authCode, "AUTH", 4);
    std::memcpy(rec.amount, "000000000221", 12);
    std::memcpy(rec.enc_data, "a\nb", 3);
    std::memset(rec.TraceID, 'T', 61);
    std::memset(rec.OriginalDateTime, 'O', 13);   // not part of the dump
    std::memset(rec.text_msg, 'M', 80);           // not part of the dump
    std::string dump = Dump();
    EXPECT_NE(dump.find("handle =4294967295\noperType =4294967295\n"), std::string::npos);
    EXPECT_NE(dump.find("\namount =000000000221\n"), std::string::npos);
    EXPECT_NE(dump.find("\nrrn =1234567890123\nauthCode =AUTH\n"), std::string::npos);
    EXPECT_NE(dump.find("\nsystem_res =123456789\nenc_data =a\nb\n"), std::string::npos);
    EXPECT_EQ(dump.substr(dump.size() - 72), "\nTraceID =" + std::string(61, 'T') + "\n");
    EXPECT_EQ(dump.find('M'), std::string::npos);
    EXPECT_EQ(dump.find('O'), std::string::npos);
}

TEST_F(Export, DumpWithoutRecordOrBufferFormsNothing)
{
    char out[kRecordDumpSize];
    EXPECT_EQ(FormatRecordDump(nullptr, out), 0u);
    EXPECT_EQ(FormatRecordDump(&rec, nullptr), 0u);
}

}  // namespace

TEST(CardMask, EveryLuhnWindowOfThirteenToNineteenDigitsKeepsSixAndFour)
{
    for (auto [text, masked] : std::initializer_list<std::pair<std::string, std::string>>{
             {"4111 1111 1111 1111", "4111 11** **** 1111"},
             {"INV-4111-1111-1111-1111", "INV-4111-11**-****-1111"},
             {"CARD 4111111111111111=2812 OK", "CARD 411111******1111=2812 OK"},
             {"4012888888881881", "401288******1881"},
             {"378282246310005", "378282*****0005"},                      // 15 digits
             {"4222222222222", "422222***2222"},                          // 13 digits
             {"6011000990139424", "601100******9424"},
             {"4111111111111111110", "411111*********1110"},              // 19 digits
             {"634221831690 / 221 / 643", "634221831690 / 221 / 643"},    // RRN, amount, currency
             {"4111111111110000", "4111111111110000"},                    // fails the check everywhere
             // A neighbouring digit or any separator hides nothing.
             {"1-4111-1111-1111-1111", "1-4111-11**-****-1111"},
             {"QTY1-4111-1111-1111-1111", "QTY1-4111-11**-****-1111"},
             {"4111111111111111-2", "411111*******111-2"},
             {"4111.1111.1111.1111", "4111.11**.****.1111"},
             {"4111_1111_1111_1111", "4111_11**_****_1111"},
             {"4111,1111,1111,1111", "4111,11**,****,1111"},
             {"4111\t1111\t1111\t1111", "4111\t11**\t****\t1111"},
             {"4111--1111--1111--1111", "4111--11**--****--1111"},
             {"4111:1111:1111:1111", "4111:11**:****:1111"},
             {"4111  1111 1111 1111", "4111  11** **** 1111"},
             {"41111111111111111111", "411111******11111111"},            // 20 digits
             // What must stay: an RRN, a 12-digit amount, a date-time, a
             // 19-digit run failing the check everywhere, a phone number.
             {"RRN 634304089947", "RRN 634304089947"},
             {"000000022100", "000000022100"},
             {"2026-12-09 10:35:07", "2026-12-09 10:35:07"},
             {"9032892184011070434", "9032892184011070434"},
             {"+7 495 123-45-67", "+7 495 123-45-67"},
         }) {
        std::string t = text;
        MaskCardNumbers(t.data(), t.size());
        EXPECT_EQ(t, masked) << text;
    }
    // Over 64 characters: nothing past the first six digits.
    std::string run = "1234-" + std::string(70, '5');
    MaskCardNumbers(run.data(), run.size());
    EXPECT_EQ(run, "1234-55" + std::string(68, '*'));
}

TEST(CardMask, PanKeepsSixAndFourOfItsLeadingRunOnly)
{
    for (auto [pan, masked] : std::initializer_list<std::pair<std::string, std::string>>{
             {"4111111111111111=2812101", "411111******1111********"},
             {"D4111111111111111", "D411111******1111"},
             {"1234567890", "**********"},
             {"411111******1111", "411111******1111"},                    // masked by the library
         }) {
        std::string out(pan.size(), '?');
        MaskPan(pan.data(), pan.size(), out.data());
        EXPECT_EQ(out, masked) << pan;
    }
}
