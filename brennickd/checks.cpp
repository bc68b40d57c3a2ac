#include "brennickd/checks.h"

#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>

#include "paylib/settings.h"
#include "platform/platform.h"

namespace fs = std::filesystem;

namespace {

Check FilePresent(const std::string& name, const std::string& what, const std::string& path)
{
    Check c{name, true, ""};
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) {
        c.ok = false;
        c.problem = what + " " + path + (ec ? " cannot be reached: " + ec.message() : " is not there");
    }
    return c;
}

// Writable by this service: a file made and removed again.
Check FolderWritable(const std::string& name, const std::string& what, const std::string& folder)
{
    Check c{name, true, ""};
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        c.ok = false;
        c.problem = what + " " + folder + " is not a folder";
        return c;
    }
    fs::path probe = fs::path(folder) / ("brennickd-check-" + std::to_string(std::random_device{}()) + ".tmp");
    {
        std::ofstream out(probe, std::ios::binary);
        if (!out) {
            c.ok = false;
            c.problem = what + " " + folder + " cannot be written by this service (permission denied?)";
            return c;
        }
    }
    fs::remove(probe, ec);
    return c;
}

}  // namespace

std::vector<Check> CheckInstallation(const std::string& brennick)
{
    // Brennick's settings live in globals of its own.
    static std::mutex settings;
    std::lock_guard<std::mutex> lock(settings);
    std::vector<Check> checks;
    if (ReadInstallationSettings() != 0) {
        checks.push_back({"settings", false, std::string("Brennick's settings cannot be read: ") + g_errorText});
        return checks;
    }
    checks.push_back(FilePresent("brennick", "Brennick (--brennick)", brennick));
    checks.push_back(FilePresent("library", "the payment library (LocationPath)", g_libraryPath));
    std::string exchange = g_outputExDatPath;
    std::size_t separator = exchange.find_last_of(platform::kPathSeparator);
    exchange.resize(separator == std::string::npos ? 0 : separator);
    checks.push_back(FolderWritable("exchange", "the exchange folder (ExchangePath)", exchange.empty() ? "." : exchange));
    if (g_journalFolder[0] != '\0')
        checks.push_back(FolderWritable("journal", "the journal folder (JournalPath)", g_journalFolder));
    return checks;
}
