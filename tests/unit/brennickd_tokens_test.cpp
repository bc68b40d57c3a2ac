#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "brennickd/tokens.h"
#include "support/scratch.h"

namespace {

struct StateFolder {
    std::filesystem::path path =
        ScratchFolder(std::string("tokens-") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    ~StateFolder() { std::filesystem::remove_all(path); }
};

}  // namespace

// A code pairs once, within its five minutes; the token is kept hashed and
// read back bound to its origin; revoking it closes it.
TEST(TokenBook, CodesPairOnceInTimeAndTokensOutliveARestart)
{
    StateFolder state;
    std::string reason, token;
    Credential made, found;
    TokenBook book;
    ASSERT_TRUE(book.Open(state.path.string(), &reason)) << reason;
    auto now = TokenBook::Clock::now();
    std::string late = book.NewCode(false, now);
    std::string code = book.NewCode(false, now + std::chrono::seconds(10));
    ASSERT_EQ(code.size(), 6u);
    const std::string page = "https://pos.example";
    EXPECT_EQ(book.Pair(late, page, &token, &made, now + std::chrono::seconds(301)), TokenBook::Paired::kBadCode);
    ASSERT_EQ(book.Pair(code, page, &token, &made, now + std::chrono::seconds(300)), TokenBook::Paired::kDone);
    EXPECT_EQ(book.Pair(code, page, &token, &made, now), TokenBook::Paired::kBadCode);   // used
    EXPECT_FALSE(made.admin);

    {
        std::ifstream in(state.path / "brennickd-tokens.json");
        std::stringstream kept;
        kept << in.rdbuf();
        EXPECT_EQ(kept.str().find(token), std::string::npos);
    }

    TokenBook again;
    ASSERT_TRUE(again.Open(state.path.string(), &reason)) << reason;
    ASSERT_TRUE(again.Find(token, &found));
    EXPECT_EQ(found.id, made.id);
    EXPECT_EQ(found.origin, page);
    EXPECT_FALSE(again.Find(token + "0", &found));
    bool recorded = false;
    EXPECT_TRUE(again.Revoke(made.id, &recorded));
    EXPECT_TRUE(recorded);
    TokenBook third;
    ASSERT_TRUE(third.Open(state.path.string(), &reason));
    EXPECT_FALSE(third.Find(token, &found));
}

// Six digits are guessed in a million tries: five wrong ones void them all.
TEST(TokenBook, WrongCodesVoidThePendingOnes)
{
    StateFolder state;
    std::string reason, token;
    Credential made;
    TokenBook book;
    ASSERT_TRUE(book.Open(state.path.string(), &reason));
    std::string code = book.NewCode(true);
    std::string wrong = code == "000000" ? "000001" : "000000";
    for (int i = 0; i < TokenBook::kWrongCodes; ++i)
        EXPECT_EQ(book.Pair(wrong, "https://a.example", &token, &made), TokenBook::Paired::kBadCode);
    EXPECT_EQ(book.Pair(code, "https://a.example", &token, &made), TokenBook::Paired::kTooManyTries);
    code = book.NewCode(true);
    EXPECT_EQ(book.Pair(code, "https://a.example", &token, &made), TokenBook::Paired::kDone);
    EXPECT_TRUE(made.admin);
}
