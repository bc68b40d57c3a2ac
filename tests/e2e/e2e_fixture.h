// Shared set-up of the end-to-end tests: a fresh settings key pointing at a
// test library and an exchange folder, a working folder, and helpers to read
// what the run left behind.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "paylib/record.h"
#include "support/harness.h"
#include "support/scratch.h"

namespace fs = std::filesystem;

class EndToEnd : public ::testing::Test {
protected:
    fs::path base, work, exchange, libraryLog;
    std::vector<std::pair<std::string, std::optional<std::string>>> savedEnv;

    void SetUp() override
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        // Parameterised names hold '/': one folder level, so that it all goes.
        std::string name = std::string("e2e-") + info->test_suite_name() + "-" + info->name();
        std::replace(name.begin(), name.end(), '/', '_');
        base = ScratchRoot() / name;
        RemoveTree(base);
        work = base / "work";
        exchange = base / "exchange";
        libraryLog = base / "library";
        for (const fs::path& p : {work, exchange, libraryLog}) fs::create_directories(p);

        ResetSettings();
        UseLibrary("full");
        SetSetting("ExchangePath", exchange.string() + '\0');
        SetEnv("BRENNICK_FIXTURE_DIR", libraryLog.string());
        UnsetEnv("BRENNICK_FIXTURE_FAULT");
        UnsetEnv("BRENNICK_FIXTURE_RETURN");
    }

    void TearDown() override
    {
        // Latest first, so that a variable set twice gets its first value back.
        for (auto it = savedEnv.rbegin(); it != savedEnv.rend(); ++it) {
            if (it->second.has_value()) SetEnv(it->first, *it->second);
            else UnsetEnv(it->first);
        }
        RemoveTree(base);
    }

    // Windows refuses to delete a read-only file, which a test may have left,
    // and for a moment a folder that an ended program's console still holds.
    static void RemoveTree(const fs::path& root)
    {
        for (int attempt = 0; attempt < 30; ++attempt) {
            std::error_code ec;
            for (auto it = fs::recursive_directory_iterator(root, ec);
                 !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
                fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ec);
            fs::remove_all(root, ec);
            if (!fs::exists(root, ec)) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }

    // Sets a variable for the program's runs; the fixture puts it back.
    void SetTestEnv(const std::string& name, const std::string& value)
    {
        const char* old = std::getenv(name.c_str());
        savedEnv.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        SetEnv(name, value);
    }

    void UseLibrary(const std::string& name)
    {
        SetSetting("LocationPath", FixtureLibrary(name) + '\0');
    }

    RunResult Run(const std::string& argumentText) { return RunProgram(argumentText, work.string()); }

    // Asks the test library to write bytes at an offset of the record.
    void Answer(std::size_t offset, const std::string& bytes)
    {
        std::ofstream out(libraryLog / "answer.txt", std::ios::binary | std::ios::app);
        out << offset << ' ';
        static const char* hex = "0123456789abcdef";
        for (unsigned char c : bytes) out << hex[c >> 4] << hex[c & 15];
        out << '\n';
    }

    // Runs a purchase with a library that answers 05 and then fails as asked:
    // the failure is absorbed, the answer reaches the files, the exit code is 4.
    void ExpectAbsorbedAfterAnswer(std::initializer_list<const char*> faults)
    {
        Answer(offsetof(UserAuthInt, responseCode), "05");
        for (const char* fault : faults) {
            SetEnv("BRENNICK_FIXTURE_FAULT", fault);
            fs::remove_all(exchange);
            fs::create_directories(exchange);
            RunResult r = Run("/o1 /a221");
            EXPECT_EQ(r.exitCode, 4u) << fault;
            EXPECT_TRUE(r.boxes.empty()) << fault;
            EXPECT_EQ(Read(exchange / "output_ex.dat"), "RC=05\r\nAMOUNT=221\r\nENC_DATA=") << fault;
            EXPECT_TRUE(fs::exists(exchange / "output_ex.txt")) << fault;
        }
    }

    bool LibraryCalled() const { return fs::exists(libraryLog / "call.txt"); }
    std::string CallLine() const { return Read(libraryLog / "call.txt"); }
    std::string Received() const { return Read(libraryLog / "received.bin"); }

    static std::string Read(const fs::path& p)
    {
        std::ifstream in(p, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    static void Write(const fs::path& p, const std::string& bytes)
    {
        std::ofstream out(p, std::ios::binary);
        out << bytes;
    }

    // The file names of one run in the exchange folder, sorted.
    std::vector<std::string> Files(const fs::path& folder) const
    {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(folder))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

// Lines of output.dat for a record whose only exported value is the amount.
inline std::string OutputDatWithAmount(const std::string& amount)
{
    std::vector<std::string> v(12);
    v[9] = amount;
    std::string s;
    for (std::size_t i = 0; i < v.size(); ++i) s += (i ? "\r\n" : "") + v[i];
    return s;
}
