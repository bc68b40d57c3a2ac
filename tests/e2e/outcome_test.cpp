// A payment's outcome is never lost, stale or misdirected: whatever stops a
// run does so before the library is called, and the exit code tells what a
// caller may trust.
#include "e2e/e2e_fixture.h"
#include "paylib/record.h"

namespace {

const std::vector<std::string> kResultFiles = {"output.dat", "output_ex.dat", "output_ex.txt"};
constexpr unsigned long kNotStarted = 2;

std::string Joined(const fs::path& folder, const char* name)
{
    return (folder / name).string();
}

}  // namespace

TEST_F(EndToEnd, ReadOnlyResultFileStopsTheRunAndLeavesTheOthers)
{
    Write(exchange / "output.dat", "earlier run");
    Write(exchange / "output_ex.txt", "earlier dump");
    if (!MakeReadOnly((exchange / "output_ex.txt").string())) GTEST_SKIP() << "no read-only files here";
    RunResult r = Run("/o1 /a221");
    MakeWritable((exchange / "output_ex.txt").string());
    EXPECT_EQ(r.exitCode, kNotStarted);
    ASSERT_EQ(r.boxes.size(), 1u);
    EXPECT_EQ(r.boxes[0].text.rfind("Unable to create file " + Joined(exchange, "output_ex.txt") + "! ", 0), 0u)
        << r.boxes[0].text;
    EXPECT_FALSE(LibraryCalled());
    EXPECT_EQ(Read(exchange / "output.dat"), "earlier run");
    EXPECT_EQ(Read(exchange / "output_ex.txt"), "earlier dump");
}

TEST_F(EndToEnd, EarlierResultIsGoneBeforeTheLibraryRuns)
{
    Answer(offsetof(UserAuthInt, responseCode), "05");
    for (const std::string& name : kResultFiles) {
        for (const std::string& other : kResultFiles) Write(exchange / other, "RC=00\r\nAUTH_CODE=123456");
        SetTestEnv("BRENNICK_FIXTURE_PEEK", (exchange / name).string());
        RunResult r = Run("/o1 /a221");
        EXPECT_EQ(r.exitCode, 0u);
        EXPECT_EQ(Read(libraryLog / "peek.bin"), "") << name;
    }
    EXPECT_EQ(Read(exchange / "output_ex.dat"), "RC=05\r\nAMOUNT=221\r\nENC_DATA=");
}

TEST_F(EndToEnd, LibraryThatChangesTheCurrentFolderCannotMoveTheFiles)
{
    SetSetting("ExchangePath", std::string(1, '\0'));   // "./"
    fs::create_directories(base / "elsewhere");
    SetTestEnv("BRENNICK_FIXTURE_CHDIR", (base / "elsewhere").string());
    RunResult r = Run("/o1 /a221");
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(Files(work), kResultFiles);
    EXPECT_EQ(Read(work / "output.dat"), OutputDatWithAmount("221"));
    EXPECT_TRUE(Files(base / "elsewhere").empty());
}

TEST_F(EndToEnd, UnusableInstanceIdStopsTheRunBeforeTheCall)
{
    Write(exchange / "output.dat", "earlier run");
    for (const std::string& id : std::vector<std::string>{"a\"b", "a*b", "a/b", "a:b", "a<b", "a>b", "a?b", "a\\b", "a|b",
                           "a\tb", "a\x1f" "b", "..\\..\\victim.txt", "7.",
                           std::string(20, '1'), std::string(1030, '1')}) {
        RunResult r = Run("/o1 /a221 /quarnid" + id);
        EXPECT_EQ(r.exitCode, kNotStarted) << id;
        ASSERT_EQ(r.boxes.size(), 1u) << id;
        EXPECT_EQ(r.boxes[0].text, "Invalid instance id!");
    }
    EXPECT_FALSE(LibraryCalled());
    EXPECT_EQ(Files(exchange), std::vector<std::string>{"output.dat"});
    EXPECT_EQ(Read(exchange / "output.dat"), "earlier run");

    // The longest usable id, with every character a file name allows.
    RunResult r = Run("/o1 /quarnid" + std::string("A-z_0.9+#,;=[]{}~x"));
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_TRUE(fs::exists(exchange / "output_ex.dat-A-z_0.9+#,;=[]{}~x"));
}
