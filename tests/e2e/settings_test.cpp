// Where the library and the result files come from: the settings key in the
// platform's own store, read as raw bytes with the cut at byte n-1.
#include "e2e/e2e_fixture.h"

namespace {
const std::vector<std::string> kResultFiles = {"output.dat", "output_ex.dat", "output_ex.txt"};
const char kSeparator = kWindows ? '\\' : '/';
}

TEST_F(EndToEnd, ExchangeFolderWithOrWithoutTrailingSeparator)
{
    for (std::string folder : {exchange.string(), exchange.string() + kSeparator}) {
        fs::remove_all(exchange);
        fs::create_directories(exchange);
        SetSetting("ExchangePath", folder + '\0');
        Run("/o1");
        EXPECT_EQ(Files(exchange), kResultFiles) << folder;
    }
}

TEST_F(EndToEnd, WithoutExchangeFolderFilesGoToWorkingFolder)
{
    ResetSettings();
    UseLibrary("full");
    Run("/o1");
    EXPECT_EQ(Files(work), kResultFiles);

    // An empty folder means "./".
    fs::remove_all(work);
    fs::create_directories(work);
    SetSetting("ExchangePath", std::string(1, '\0'));
    Run("/o1 /quarnid5");
    EXPECT_EQ(Files(work),
              (std::vector<std::string>{"output.dat", "output_ex.dat-5", "output_ex.txt-5"}));
}

TEST_F(EndToEnd, WithoutSettingsTheDefaultLibraryIsLoaded)
{
    ResetSettings();
    RunResult r = Run("/o1");
    ASSERT_EQ(r.boxes.size(), 1u);   // no "dovrex.dll" on this machine
    EXPECT_EQ(r.boxes[0].text, "Unable to load library!");
    EXPECT_TRUE(Files(work).empty());
}

TEST_F(EndToEnd, WithoutLocationPathDovrexDllIsFoundByTheSystemSearch)
{
    // Both searches take a folder from the environment: Windows PATH, the
    // dynamic loader LD_LIBRARY_PATH.
    ResetSettings();
    SetSetting("ExchangePath", exchange.string() + '\0');
    fs::path folder = base / "libraries";
    fs::create_directories(folder);
    fs::copy_file(FixtureLibrary("full"), folder / "dovrex.dll");
    if (kWindows) {
        const char* path = std::getenv("PATH");
        SetTestEnv("PATH", folder.string() + ";" + (path ? path : ""));
    } else {
        SetTestEnv("LD_LIBRARY_PATH", folder.string());
    }
    RunResult r = Run("/o1 /a221");
    EXPECT_TRUE(r.boxes.empty());
    EXPECT_EQ(CallLine(), "ProcessOwFull 2939 -");
    EXPECT_EQ(Files(exchange), kResultFiles);
}

TEST_F(EndToEnd, ValueIsCutAtItsLastByte)
{
    // Stored without a terminating zero, the value loses its last character.
    SetSetting("LocationPath", FixtureLibrary("full") + "X", kTypeBinary);
    SetSetting("ExchangePath", exchange.string() + "Y", kTypeBinary);
    RunResult r = Run("/o1");
    EXPECT_TRUE(r.boxes.empty());
    EXPECT_EQ(Files(exchange), kResultFiles);
}

TEST_F(EndToEnd, ValueLongerThan260BytesStopsTheRun)
{
    // Neither the default library nor the current folder may stand in for
    // a configured one that could not be read.
    const std::string code = kWindows ? "ea (234)" : "4b (75)";
    for (std::string name : {"LocationPath", "ExchangePath"}) {
        std::string value = name == "LocationPath" ? FixtureLibrary("full") : exchange.string();
        value.resize(261, '\0');
        SetSetting(name, value);
        fs::remove(libraryLog / "call.txt");
        RunResult r = Run("/o1");
        EXPECT_EQ(r.exitCode, 2u) << name;
        ASSERT_EQ(r.boxes.size(), 1u) << name;
        EXPECT_EQ(r.boxes[0].text, "Unable to read setting " + name + "! " + code);
        EXPECT_FALSE(LibraryCalled());
        EXPECT_TRUE(Files(work).empty());

        value.resize(260);
        SetSetting(name, value);
        EXPECT_TRUE(Run("/o1").boxes.empty()) << name;
    }
}

TEST_F(EndToEnd, StoredTypeIsNotLookedAt)
{
    // REG_EXPAND_SZ stays unexpanded: a folder literally named so.
    fs::create_directories(work / "%BRENNICK_NOWHERE%");
    SetSetting("ExchangePath", std::string("%BRENNICK_NOWHERE%") + '\0', kTypeExpandSz);
    Run("/o1");
    EXPECT_EQ(Files(work / "%BRENNICK_NOWHERE%"), kResultFiles);

    // REG_DWORD 0x00003141 is the bytes "A1\0\0": the folder "A1".
    fs::create_directories(work / "A1");
    SetSetting("ExchangePath", std::string("A1\0\0", 4), kTypeDword);
    Run("/o1");
    EXPECT_EQ(Files(work / "A1"), kResultFiles);
}

TEST_F(EndToEnd, ValueNamesMatchWithoutRegardToCase)
{
    ResetSettings();
    SetSetting("locationpath", FixtureLibrary("full") + '\0');
    SetSetting("EXCHANGEPATH", exchange.string() + '\0');
    RunResult r = Run("/o1");
    EXPECT_TRUE(r.boxes.empty());
    EXPECT_EQ(Files(exchange), kResultFiles);
}

TEST_F(EndToEnd, ValueWrittenWithLineFeedKeepsItsText)
{
    if (kWindows) GTEST_SKIP() << "a text file with a line feed is the POSIX store's own form";
    SetSetting("LocationPath", FixtureLibrary("full") + "\n");
    SetSetting("ExchangePath", exchange.string() + "\n");
    RunResult r = Run("/o1");
    EXPECT_TRUE(r.boxes.empty());
    EXPECT_EQ(Files(exchange), kResultFiles);
}
