// The run as a whole: exit codes, the "ERROR" box, which runs reach the
// library and which leave the result files alone.
#include <cstring>
#include <functional>

#include "e2e/e2e_fixture.h"
#include "paylib/record.h"

namespace {

const std::vector<std::string> kResultFiles = {"output.dat", "output_ex.dat", "output_ex.txt"};

UserAuthInt AsRecord(const std::string& bytes)
{
    UserAuthInt r;
    std::memset(&r, 0xEE, sizeof r);
    if (bytes.size() == sizeof r) std::memcpy(&r, bytes.data(), sizeof r);
    return r;
}

// The record as the library received it, with the given fields cleared again.
bool ZeroOutside(UserAuthInt r, std::initializer_list<std::pair<std::size_t, std::size_t>> set)
{
    auto* bytes = reinterpret_cast<unsigned char*>(&r);
    for (const auto& f : set) std::memset(bytes + f.first, 0, f.second);
    for (std::size_t i = 0; i < sizeof r; ++i)
        if (bytes[i] != 0) return false;
    return true;
}

#define FIELD(name) std::make_pair(offsetof(UserAuthInt, name), sizeof(UserAuthInt::name))

}  // namespace

TEST_F(EndToEnd, CommandLineWithoutOperationShowsBoxAndLeavesFilesAlone)
{
    Write(exchange / "output.dat", "earlier run");
    for (const char* text : {"/a221", "/O1 /a221", "/G", "o1 g"}) {
        RunResult r = Run(text);
        EXPECT_EQ(r.exitCode, kExitMinusOne) << text;
        ASSERT_EQ(r.boxes.size(), 1u) << text;
        EXPECT_EQ(r.boxes[0].text, "No operation defined");
        EXPECT_EQ(r.boxes[0].caption, "ERROR");
        EXPECT_EQ(r.boxes[0].owner, 0u);
        EXPECT_EQ(r.boxes[0].flags, 0u);   // MB_OK, no icon
        EXPECT_TRUE(r.otherDiagnostics.empty()) << r.otherDiagnostics;
    }
    EXPECT_FALSE(LibraryCalled());
    EXPECT_EQ(Files(exchange), std::vector<std::string>{"output.dat"});
    EXPECT_EQ(Read(exchange / "output.dat"), "earlier run");
}

TEST_F(EndToEnd, PurchaseReachesLibraryWithOnlyItsFieldsSet)
{
    RunResult r = Run("/o1 /a221 /c643");
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_TRUE(r.boxes.empty());
    EXPECT_EQ(CallLine(), "ProcessOwFull 2939 -");
    UserAuthInt rec = AsRecord(Received());
    EXPECT_EQ(GetU32(rec.operType), 1u);
    EXPECT_STREQ(rec.amount, "221");
    EXPECT_EQ(std::string(rec.currency, 4), std::string("643\0", 4));
    EXPECT_TRUE(ZeroOutside(rec, {FIELD(operType), FIELD(amount), FIELD(currency)}));
    EXPECT_EQ(Files(exchange), kResultFiles);
    EXPECT_EQ(Read(exchange / "output.dat"), OutputDatWithAmount("221"));
    EXPECT_EQ(Read(exchange / "output_ex.dat"), "AMOUNT=221\r\nENC_DATA=");
}

TEST_F(EndToEnd, GetSwitchNamesAnOperationWithoutCode)
{
    RunResult r = Run("/gs");
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_TRUE(r.boxes.empty());
    EXPECT_TRUE(ZeroOutside(AsRecord(Received()), {}));
    EXPECT_EQ(Files(exchange), kResultFiles);
}

TEST_F(EndToEnd, ExitCodeIgnoresWhatTheLibraryReturns)
{
    for (const char* value : {"-7", "0", "12345"}) {
        SetEnv("BRENNICK_FIXTURE_RETURN", value);
        fs::remove_all(exchange);
        fs::create_directories(exchange);
        RunResult r = Run("/o1");
        EXPECT_EQ(r.exitCode, 0u) << value;
        EXPECT_EQ(Files(exchange), kResultFiles) << value;
    }
}

TEST_F(EndToEnd, ArgumentTextReachesParserExactly)
{
    // Tabs and quotes belong to values; only blanks end them.
    RunResult r = Run("/o2  /b\"a\tb\" /iT-1\t/x /r\"q\"");
    EXPECT_EQ(r.exitCode, 0u);
    UserAuthInt rec = AsRecord(Received());
    EXPECT_EQ(GetU32(rec.operType), 2u);
    EXPECT_STREQ(rec.TraceID, "\"a\tb\"");
    EXPECT_STREQ(rec.terminalID, "T-1\t/x");
    EXPECT_STREQ(rec.rrn, "\"q\"");
}

TEST_F(EndToEnd, LongArgumentTextIsParsedSafely)
{
    // Near the 32767 characters that a Windows command line allows.
    std::string text = "/o3 /a" + std::string(30000, '9') + " /c643 /b" + std::string(1023, 'x');
    RunResult r = Run(text);
    EXPECT_EQ(r.exitCode, 0u);
    UserAuthInt rec = AsRecord(Received());
    EXPECT_EQ(GetU32(rec.operType), 3u);
    EXPECT_TRUE(ZeroOutside(rec, {FIELD(operType), FIELD(currency)}));
}

TEST_F(EndToEnd, OperationCodeFillsTheValueBufferToItsLastByte)
{
    // 1023 characters fit the value buffer and saturate; 1024 are dropped,
    // and the run still counts as naming an operation.
    Run("/o" + std::string(1023, '7'));
    EXPECT_EQ(GetU32(AsRecord(Received()).operType), 2147483647u);
    fs::remove(libraryLog / "received.bin");

    RunResult r = Run("/o" + std::string(1024, '7') + " /a5");
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_TRUE(r.boxes.empty());
    UserAuthInt rec = AsRecord(Received());
    EXPECT_EQ(GetU32(rec.operType), 0u);
    EXPECT_STREQ(rec.amount, "5");
}

TEST_F(EndToEnd, UnattendedRunsShowNoBoxButTellStandardError)
{
    SetSetting("Unattended", std::string("1") + '\0');
    fs::create_directories(base / "journal");
    SetTestEnv("BRENNICK_FIXTURE_TARGET", (exchange / "output_ex.dat").string());
    struct Case {
        std::string text;
        std::function<void()> prepare;
        unsigned long exitCode;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"/o1", [this] { SetSetting("LocationPath", (base / "none.lib").string() + '\0'); }, 2,
         "Unable to load library!"},
        {"/o1 /quarnid*", [] {}, 2, "Invalid instance id!"},
        {"/o1 /a221", [] { SetEnv("BRENNICK_FIXTURE_TAMPER", "rename-folder"); }, 3,
         "Unable to write file " + (exchange / "output.dat").string() + "! 2 (2)"},
    };
    for (const Case& c : cases) {
        UseLibrary("full");
        SetSetting("JournalPath", (base / "journal").string() + '\0');
        c.prepare();
        RunResult r = Run(c.text);
        UnsetEnv("BRENNICK_FIXTURE_TAMPER");
        fs::remove_all(exchange.string() + ".moved");
        fs::create_directories(exchange);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.text;
        if (kWindows) {
            EXPECT_TRUE(r.boxes.empty()) << c.text;   // no MessageBoxA at all
            EXPECT_NE(r.standardOutput.find("ERROR: " + c.message + "\r\n"), std::string::npos)
                << r.standardOutput;
        } else {
            ASSERT_EQ(r.boxes.size(), 1u) << c.text;   // the line on standard error
            EXPECT_EQ(r.boxes[0].text, c.message);
        }
    }
    std::string journal = Read(fs::directory_iterator(base / "journal")->path());
    auto count = [&journal](const std::string& part) {
        std::size_t n = 0;
        for (std::size_t at = journal.find(part); at != std::string::npos; at = journal.find(part, at + 1)) ++n;
        return n;
    };
    EXPECT_EQ(count("\"event\":\"end\""), cases.size());
    EXPECT_EQ(count("\"unattended\":true"), cases.size());
}
