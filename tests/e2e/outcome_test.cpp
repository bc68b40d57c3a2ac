// A payment's outcome is never lost, stale or misdirected: whatever stops a
// run does so before the library is called, and the exit code tells what a
// caller may trust.
#include <thread>

#include "e2e/e2e_fixture.h"
#include "paylib/record.h"

namespace {

const std::vector<std::string> kResultFiles = {"output.dat", "output_ex.dat", "output_ex.txt"};
constexpr unsigned long kNotStarted = 2;

std::string Joined(const fs::path& folder, const char* name)
{
    return (folder / name).string();
}

bool AppearsWithin(const fs::path& p, int seconds)
{
    for (int i = 0; i < seconds * 100 && !fs::exists(p); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return fs::exists(p);
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
    for (const std::string& id : std::vector<std::string>{"a\"b", "a*b", "a/x", "a:b", "a<b", "a>b", "a?b", "a\\b", "a|b",
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

TEST_F(EndToEnd, ValueThatHoldsASwitchStopsTheRun)
{
    Write(exchange / "output.dat", "earlier run");
    for (auto [text, box] : {std::pair{"/o1 /c643 /bX/a999999 /a221", "Switch /a inside the value of /b!"},
                             {"/o1 /a221 /bSHOP/item42", "Switch /i inside the value of /b!"},
                             {"/o1 /a221 /bINV/quarnid7", "Switch /quarnid inside the value of /b!"},
                             {"/o1 /a221 /eAb/cD==", "Switch /c inside the value of /e!"},
                             {"/a221 /bX/o1", "Switch /o inside the value of /b!"},
                             {"/o1 /b/a5", "Switch /a inside the value of /b!"},
                             {"/o1 /quarnid/b", "Switch /b inside the value of /quarnid!"}}) {
        RunResult r = Run(text);
        EXPECT_EQ(r.exitCode, kNotStarted) << text;
        ASSERT_EQ(r.boxes.size(), 1u) << text;
        EXPECT_EQ(r.boxes[0].text, box);
    }
    EXPECT_FALSE(LibraryCalled());
    EXPECT_EQ(Files(exchange), std::vector<std::string>{"output.dat"});
    EXPECT_EQ(Read(exchange / "output.dat"), "earlier run");

    // Behind its own first occurrence a switch's characters are only text.
    for (const char* text : {"/o1 /a221 /bINV/a5", "/o1/a221 /bINV/a5"}) {
        ASSERT_EQ(Run(text).exitCode, 0u) << text;
        std::string received = Received();
        const auto* record = reinterpret_cast<const UserAuthInt*>(received.data());
        EXPECT_STREQ(record->amount, "221") << text;
        EXPECT_STREQ(record->TraceID, "INV/a5") << text;
    }
}

TEST_F(EndToEnd, SecondRunOnABusyLaneStopsBeforeTheCall)
{
    fs::create_directories(base / "hold");
    SetTestEnv("BRENNICK_FIXTURE_HOLD", (base / "hold").string());
    for (std::string id : {"", "3"}) {
        std::string suffix = id.empty() ? "" : "-" + id;
        std::string lane = id.empty() ? "" : " /quarnid" + id;
        std::vector<unsigned long> first;
        std::thread inside([&] { first = RunProgramsAtOnce({"/o1 /a221" + lane}, work.string()); });
        ASSERT_TRUE(AppearsWithin(base / "hold" / ("inside-" + (id.empty() ? "-" : id)), 20));
        RunResult second = Run("/o1 /a500" + lane);
        Write(base / "hold" / ("release-" + (id.empty() ? "-" : id)), "");
        inside.join();
        EXPECT_EQ(second.exitCode, kNotStarted);
        ASSERT_EQ(second.boxes.size(), 1u);
        EXPECT_EQ(second.boxes[0].text, "Another run is using " + Joined(exchange, ("output_ex.dat" + suffix).c_str()) + "!");
        EXPECT_EQ(first, std::vector<unsigned long>{0});
        EXPECT_EQ(Read(exchange / ("output_ex.dat" + suffix)), "AMOUNT=221\r\nENC_DATA=");
        EXPECT_EQ(Read(exchange / "output.dat"), OutputDatWithAmount("221"));
    }
}

TEST_F(EndToEnd, LanesThatWriteOneAfterTheOtherLeaveOneWholeOutputDat)
{
    fs::create_directories(base / "hold");
    SetTestEnv("BRENNICK_FIXTURE_HOLD", (base / "hold").string());
    // The longer answer first: a shorter one written over it must not keep its tail.
    std::thread a([&] { RunProgramsAtOnce({"/o1 /a1234567890123 /quarnidA"}, work.string()); });
    std::thread b([&] { RunProgramsAtOnce({"/o1 /a1 /quarnidB"}, work.string()); });
    bool inside = AppearsWithin(base / "hold" / "inside-A", 20) && AppearsWithin(base / "hold" / "inside-B", 20);
    Write(base / "hold" / "release-A", "");
    a.join();
    Write(base / "hold" / "release-B", "");
    b.join();
    ASSERT_TRUE(inside);
    EXPECT_EQ(Read(exchange / "output.dat"), OutputDatWithAmount("1"));
}

TEST_F(EndToEnd, ResultFileRemovedDuringTheCallIsReportedNotWritten)
{
    const fs::path target = exchange / "output_ex.dat";
    SetTestEnv("BRENNICK_FIXTURE_TARGET", target.string());
    SetTestEnv("BRENNICK_FIXTURE_TAMPER", "unlink");
    for (auto [how, first] : {std::pair{"unlink", "output_ex.dat"}, {"rename-folder", "output.dat"}}) {
        fs::remove_all(exchange.string() + ".moved");
        fs::remove_all(exchange);
        fs::create_directories(exchange);
        SetEnv("BRENNICK_FIXTURE_TAMPER", how);
        RunResult r = Run("/o1 /a221");
        // Windows refuses to remove a file or folder that is open.
        if (kWindows && Read(target) == "AMOUNT=221\r\nENC_DATA=") {
            EXPECT_EQ(r.exitCode, 0u) << how;
            continue;
        }
        EXPECT_EQ(r.exitCode, 3u) << how;
        ASSERT_EQ(r.boxes.size(), 1u) << how;
        EXPECT_EQ(r.boxes[0].text, "Unable to write file " + Joined(exchange, first) + "! 2 (2)");
    }
    fs::remove_all(exchange.string() + ".moved");
}
