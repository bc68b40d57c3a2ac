// The simulator's pure parts: card data, the state file.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>

#include "simulator/card.h"
#include "simulator/journal.h"
#include "simulator/terminal.h"
#include "support/scratch.h"

TEST(SimulatorCard, ReadsEveryFormTheSwitchesGive)
{
    Card keyed = ReadCard("M1000023000000034=1106?", "");
    EXPECT_EQ(keyed.number, "1000023000000034");
    EXPECT_EQ(keyed.expiry, "1106");
    Card track = ReadCard(";1000023000000034=06062011021300000641?", "");
    EXPECT_EQ(track.number, "1000023000000034");
    EXPECT_EQ(track.expiry, "0606");
    Card pan = ReadCard("", "D5555555555554444");
    EXPECT_EQ(pan.number, "5555555555554444");
    EXPECT_EQ(pan.expiry, "");
    EXPECT_TRUE(ReadCard("", "").number.size() == 16);
    EXPECT_EQ(ReadCard("M=?", "").number, "");
}

TEST(SimulatorCard, CheckDigitMaskAndBrand)
{
    EXPECT_TRUE(PassesLuhn("4111111111111111"));
    EXPECT_FALSE(PassesLuhn("4111111111111112"));
    EXPECT_FALSE(PassesLuhn("41111111111a1111"));
    EXPECT_FALSE(PassesLuhn(""));
    EXPECT_EQ(MaskCardNumber("4111111111111111"), "411111******1111");
    EXPECT_EQ(MaskCardNumber("1234567890123456789"), "123456*********6789");
    EXPECT_EQ(MaskCardNumber("12345"), "*****");
    EXPECT_STREQ(BrandOf("2200000000000004").cardType, "MIR");
    EXPECT_STREQ(BrandOf("2221000000000009").cardType, "MASTERCARD");
    EXPECT_STREQ(BrandOf("4").cardType, "VISA");
    EXPECT_STREQ(BrandOf("x9").cardType, "UNKNOWN");
}

TEST(SimulatorState, RoundTripsAndRecreatesDamagedFiles)
{
    std::string path = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    path += ".state";
    TerminalState s;
    s.sequence = 41;
    s.journal.push_back({"634214000041", 1, 221, "643", "AB12CD", false, 0, "-"});
    s.journal.push_back({"634214000042", 2, 100, "643", "EF34GH", true, 0, "634214000041"});
    s.journal[0].refunded = 100;
    SaveState(path, s);
    TerminalState back = LoadState(path, 7);
    EXPECT_EQ(back.sequence, 41u);
    ASSERT_EQ(back.journal.size(), 2u);
    EXPECT_EQ(back.journal[1].authCode, "EF34GH");
    EXPECT_TRUE(back.journal[1].cancelled);
    EXPECT_EQ(back.journal[0].refunded, 100u);
    EXPECT_EQ(back.journal[1].original, "634214000041");

    for (const char* damaged : {"", "PAYSIM-STATE 2\n", "PAYSIM-STATE 2\nsequence 5\nx 9 1 643 A 0 0 -\n",
                                "PAYSIM-STATE 2\nsequence 5\n634214000041 1 221 643 AB12CD 7 0 -\n",
                                "PAYSIM-STATE 2\nsequence 5\n634214000041 1 221 643 AB12CD 0 300 -\n"}) {
        std::ofstream(path, std::ios::binary) << damaged;
        TerminalState fresh = LoadState(path, 7);
        EXPECT_EQ(fresh.sequence, 7u) << damaged;
        EXPECT_TRUE(fresh.journal.empty()) << damaged;
    }
    std::remove(path.c_str());
    EXPECT_EQ(LoadState(path, 9).sequence, 9u);
}

TEST(SimulatorState, InstanceIdStaysInsideTheStateFolder)
{
    std::string p = StateFilePath("../../etc/x");
    EXPECT_NE(p.find("paysim-______etc_x.state"), std::string::npos) << p;
    EXPECT_EQ(p.find("/../"), std::string::npos);
    EXPECT_NE(StateFilePath("").find("paysim-default.state"), std::string::npos);
}

TEST(SimulatorClock, FixedClockMustHaveTheExactShape)
{
    Clock c = {};
    EXPECT_TRUE(ParseFixedClock("2026-12-08T14:30:05", &c));
    EXPECT_EQ(c.year, 2026);
    EXPECT_EQ(c.day, 8);
    EXPECT_EQ(c.second, 5);
    for (const char* bad : {"", "2026-12-08", "2026-13-08T14:30:05", "2026-12-08T24:00:00",
                            "2026-12-08T14:30:05Z", "2026-12-08 14:30:05", "2026-1a-08T14:30:05"})
        EXPECT_FALSE(ParseFixedClock(bad, &c)) << bad;
}

namespace {

std::string Slip(std::uint32_t operation, const char* amount, const char* rrn = "")
{
    static TerminalState state;
    UserAuthInt r = {};
    SetU32(r.operType, operation);
    std::memcpy(r.amount, amount, strnlen(amount, sizeof r.amount));
    std::memcpy(r.rrn, rrn, strnlen(rrn, sizeof r.rrn));
    std::memcpy(r.pan, "D4111111111111111", 17);
    AnswerOperation(&r, &state, {2026, 12, 8, 14, 30, 5});
    std::string slip(r.data_to_print, FieldTextLength(r.data_to_print, sizeof r.data_to_print));
    // Whole lines only, never more than the field, and no card number in clear.
    EXPECT_LE(slip.size(), sizeof r.data_to_print);
    EXPECT_EQ(slip.find("4111111111111111"), std::string::npos) << slip;
    EXPECT_NE(slip.back(), '\n') << slip;
    return slip;
}

}  // namespace

TEST(SimulatorSlip, CardOperationsCarryTheirSlipInOrderOfImportance)
{
    // The simulator's mark first: no money moved, whatever follows.
    EXPECT_EQ(Slip(kOpPurchase, "221"), "** SIMULATOR **\nSALE 2.21 643\n*1111 00 APPROVED");   // AC would not fit
    EXPECT_EQ(Slip(kOpPurchase, "10051"), "** SIMULATOR **\nSALE 100.51 643");
    EXPECT_EQ(Slip(kOpPurchase, "000000000005").substr(0, 30), "** SIMULATOR **\nSALE 0.05 643\n");
    EXPECT_EQ(Slip(kOpRefund, "abc"), "** SIMULATOR **\nREFUND\n13 INVALID AMOUNT");
    EXPECT_EQ(Slip(kOpCancel, "", "000000000000"), "** SIMULATOR **\nCANCEL\n25 ORIGINAL NOT FOUND");
    EXPECT_EQ(Slip(kOpEndOfDay, "").rfind("SALES ", 0), 0u);
    EXPECT_EQ(Slip(kOpGet, ""), "");
}
