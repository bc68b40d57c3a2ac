// The folder of this test process: made once under the system's temporary
// folder with a name no other process has (two checkouts, or the native and
// the sanitizer build, may test at once on one machine), and removed with
// everything in it when the process's tests have run, passed or not. A test
// keeps its files below it and never removes a path it did not make.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

inline const std::filesystem::path& ScratchRoot()
{
    static const std::filesystem::path root = [] {
        std::random_device random;
        const auto base = std::filesystem::temp_directory_path();
        for (int attempt = 0; attempt < 1000; ++attempt) {
            unsigned long long salt =
                (static_cast<unsigned long long>(random()) << 32) ^ static_cast<unsigned long long>(random()) ^
                static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
            auto p = base / ("brennick-test-" + std::to_string(salt % 1000000000000ULL));
            std::error_code ec;
            // Made here or not ours: create_directory is false for a folder
            // that was there already.
            if (std::filesystem::create_directory(p, ec)) return p;
        }
        std::fprintf(stderr, "no folder of its own can be made in %s\n", base.string().c_str());
        std::abort();
    }();
    return root;
}

// A folder of its own for one test: below the process's, by name.
inline std::filesystem::path ScratchFolder(const std::string& name)
{
    auto p = ScratchRoot() / name;
    std::filesystem::create_directories(p);
    return p;
}

class ScratchCleanup : public ::testing::Environment {
public:
#ifndef _WIN32
    // What a test or a program it starts keeps in a home (the simulator's
    // state, for one) lands in the process's folder, not the tester's home.
    void SetUp() override
    {
        std::string home = ScratchFolder("home").string();
        ::setenv("HOME", home.c_str(), 1);
        ::setenv("XDG_STATE_HOME", (home + "/.local/state").c_str(), 1);
    }
#endif
    void TearDown() override
    {
        std::error_code ec;
        std::filesystem::remove_all(ScratchRoot(), ec);
    }
};

inline ::testing::Environment* const g_scratchCleanup = ::testing::AddGlobalTestEnvironment(new ScratchCleanup);
