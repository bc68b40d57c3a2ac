// Loading the payment library, looking up its entry points, the instance id
// entry points, and surviving a library that throws or faults.
#include "e2e/e2e_fixture.h"
#include "paylib/record.h"

TEST_F(EndToEnd, UnloadableLibraryShowsOnlyItsBox)
{
    SetSetting("LocationPath", (base / "missing" / "nothing.lib").string() + '\0');
    Write(exchange / "output.dat", "earlier run");
    // Exit 0 would tell the caller that the files hold an answer.
    for (const char* text : {"/o1 /a221", "/?", "", "/a221"}) {
        RunResult r = Run(text);
        EXPECT_EQ(r.exitCode, 2u) << text;
        ASSERT_EQ(r.boxes.size(), 1u) << text;
        EXPECT_EQ(r.boxes[0].text, "Unable to load library!");
        EXPECT_EQ(r.boxes[0].caption, "ERROR");
        EXPECT_TRUE(r.standardOutput.empty()) << "no usage screen";
    }
    EXPECT_EQ(Files(exchange), std::vector<std::string>{"output.dat"});
    EXPECT_EQ(Read(exchange / "output.dat"), "earlier run");
}

TEST_F(EndToEnd, EmptyLibraryPathLoadsNothing)
{
    SetSetting("LocationPath", std::string(1, '\0'));
    RunResult r = Run("/o1");
    ASSERT_EQ(r.boxes.size(), 1u);
    EXPECT_EQ(r.boxes[0].text, "Unable to load library!");
}

TEST_F(EndToEnd, MissingBasicEntryPointIsNamedWithItsErrorCode)
{
    for (auto [library, entry] : {std::pair{"no_ow", "ProcessOw"},
                                  std::pair{"no_ow_full", "ProcessOwFull"}}) {
        UseLibrary(library);
        RunResult r = Run("/o1 /a221");
        EXPECT_EQ(r.exitCode, 2u);
        ASSERT_EQ(r.boxes.size(), 1u);
        EXPECT_EQ(r.boxes[0].text, std::string("Unable to load ") + entry + " function! 7f (127)");
        EXPECT_EQ(r.boxes[0].caption, "ERROR");
    }
    EXPECT_FALSE(LibraryCalled());
    EXPECT_TRUE(Files(exchange).empty());
}

TEST_F(EndToEnd, InstanceIdUsesIdEntryPointAndSuffixesTwoFiles)
{
    RunResult r = Run("/o1 /a221 /quarnid7");
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_TRUE(r.boxes.empty());
    EXPECT_EQ(CallLine(), "ProcessOwIdFull 2939 7");
    EXPECT_EQ(Files(exchange),
              (std::vector<std::string>{"output.dat", "output_ex.dat-7", "output_ex.txt-7"}));
    EXPECT_EQ(Read(exchange / "output_ex.dat-7"), "AMOUNT=221\r\nENC_DATA=");
}

TEST_F(EndToEnd, TooLongInstanceIdStopsTheRun)
{
    // Dropping it would run the operation on the default instance: another
    // lane's terminal.
    RunResult r = Run("/o1 /quarnid" + std::string(20, '1'));
    EXPECT_EQ(r.exitCode, 2u);
    ASSERT_EQ(r.boxes.size(), 1u);
    EXPECT_EQ(r.boxes[0].text, "Invalid instance id!");
    EXPECT_FALSE(LibraryCalled());
    EXPECT_TRUE(Files(exchange).empty());
}

TEST_F(EndToEnd, MissingIdEntryPointsStopTheRunWithoutTouchingAFile)
{
    UseLibrary("no_id");
    Write(exchange / "output_ex.dat", "RC=00");
    RunResult r = Run("/o1 /a221 /quarnid7");
    EXPECT_EQ(r.exitCode, 2u);
    ASSERT_EQ(r.boxes.size(), 1u);
    EXPECT_EQ(r.boxes[0].text, "Unable to load ProcessOwId function! 7f (127)");
    EXPECT_FALSE(LibraryCalled());
    EXPECT_EQ(Files(exchange), std::vector<std::string>{"output_ex.dat"});
    EXPECT_EQ(Read(exchange / "output_ex.dat"), "RC=00");
}

class LibraryFault : public EndToEnd, public ::testing::WithParamInterface<const char*> {};

TEST_P(LibraryFault, IsAbsorbedAndResultsAreWrittenAsLibraryLeftThem)
{
    SetEnv("BRENNICK_FIXTURE_FAULT", GetParam());
    Answer(offsetof(UserAuthInt, responseCode), "05");
    for (const char* id : {"", " /quarnid9"}) {
        RunResult r = Run(std::string("/o1 /a221") + id);
        EXPECT_EQ(r.exitCode, 4u) << id;   // the outcome is unknown: check the terminal
        EXPECT_TRUE(r.boxes.empty()) << id;
        EXPECT_TRUE(r.otherDiagnostics.empty()) << r.otherDiagnostics;
    }
    EXPECT_EQ(Read(exchange / "output_ex.dat"), "RC=05\r\nAMOUNT=221\r\nENC_DATA=");
    // The suffix applied before the call stays applied after a fault.
    EXPECT_EQ(Read(exchange / "output_ex.dat-9"), "RC=05\r\nAMOUNT=221\r\nENC_DATA=");
    EXPECT_TRUE(fs::exists(exchange / "output_ex.txt-9"));
}

INSTANTIATE_TEST_SUITE_P(Faults, LibraryFault,
                         ::testing::Values("crash", "raise", "exception"));

// abort() and a throw that ends in std::terminate inside the library are
// absorbed like faults. What the library's runtime prints on its way down is
// its own.
TEST_F(EndToEnd, AbortAndUncaughtThrowInTheLibraryAreAbsorbed)
{
    ExpectAbsorbedAfterAnswer({"abort", "throw-uncaught"});
}
