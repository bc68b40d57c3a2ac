// The usage screen: shown for "/?" anywhere or an empty command line, after
// which nothing else happens.
#include "e2e/e2e_fixture.h"
#include "support/expected_usage.h"

TEST_F(EndToEnd, UsageRequestShowsScreenAndTouchesNothing)
{
    Write(exchange / "output.dat", "earlier run");
    for (const char* text : {"/?", "/o99 /?", "", "/o1 /a221/?"}) {
        RunResult r = Run(text);
        EXPECT_EQ(r.exitCode, 0u) << text;
        EXPECT_TRUE(r.boxes.empty()) << text;
        if (!kWindows) {
            EXPECT_EQ(r.standardOutput, kExpectedUsage) << text;
        }
    }
    EXPECT_FALSE(LibraryCalled());
    EXPECT_EQ(Files(exchange), std::vector<std::string>{"output.dat"});
    EXPECT_EQ(Read(exchange / "output.dat"), "earlier run");
}

TEST_F(EndToEnd, UsagePauseGoesThroughTheInterpreterNamedByComspec)
{
    if (!kWindows) GTEST_SKIP() << "COMSPEC names the Windows command interpreter";
    SetEnv("COMSPEC", ProgramDirectory() + "\\fake_shell.exe");
    RunResult r = Run("/?");
    UnsetEnv("COMSPEC");
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(Read(libraryLog / "shell.txt"), "/c pause");
}

TEST_F(EndToEnd, UnattendedUsageScreenOnlyPrintsItsText)
{
    SetSetting("Unattended", std::string("1") + '\0');
    SetTestEnv("COMSPEC", ProgramDirectory() + (kWindows ? "\\fake_shell.exe" : "/none"));
    RunResult r = Run("/?");
    EXPECT_EQ(r.exitCode, 0u);
    std::string out = r.standardOutput;
    out.erase(std::remove(out.begin(), out.end(), '\r'), out.end());   // msvcrt's text mode
    EXPECT_EQ(out, kExpectedUsage);
    EXPECT_FALSE(fs::exists(libraryLog / "shell.txt")) << "no pause";
}
