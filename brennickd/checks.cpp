#include "brennickd/checks.h"

#include <cctype>
#include <cstdio>
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

// A file that a run writes, where it exists already: opened for writing as
// the run would, not emptied. A file left by another user of the folder
// that this service cannot write stops every payment of the lane.
void FileWritable(Check* c, const std::string& what, const std::string& path)
{
    std::error_code ec;
    if (!c->ok || !fs::exists(path, ec)) return;
    platform::FileHandle file = platform::kNoFile;
    bool created = false;
    unsigned long code = 0;
    bool opened = what == "journal file" ? platform::OpenForAppend(path.c_str(), &file)
                                         : platform::OpenResultFile(path.c_str(), &file, &created, &code);
    if (opened) {
        platform::CloseFile(file, &code);
        return;
    }
    if (code == 0) code = platform::LastErrorCode();
    char words[256];
    platform::DescribeError(code, words, sizeof words);
    c->ok = false;
    c->problem = "the " + what + " " + path + " cannot be opened for writing by this service: " + words;
}

}  // namespace

bool IsSimulator(const std::string& library)
{
    std::string name = fs::path(library).filename().string();
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name.rfind("paysim", 0) == 0 || name.rfind("libpaysim", 0) == 0;
}

std::vector<Check> CheckInstallation(const std::string& brennick, std::string* library)
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
    if (library != nullptr) *library = g_libraryPath;
    std::string exchange = g_outputExDatPath;
    std::size_t separator = exchange.find_last_of(platform::kPathSeparator);
    exchange.resize(separator == std::string::npos ? 0 : separator);
    checks.push_back(FolderWritable("exchange", "the exchange folder (ExchangePath)", exchange.empty() ? "." : exchange));
    for (const char* file : {g_outputDatPath, g_outputExDatPath, g_outputExTxtPath})
        FileWritable(&checks.back(), "result file", file);
    if (g_journalFolder[0] != '\0') {
        checks.push_back(FolderWritable("journal", "the journal folder (JournalPath)", g_journalFolder));
        platform::LocalTime t = platform::LocalNow();
        char name[40];
        std::snprintf(name, sizeof name, "brennick-%04d%02d%02d.jsonl", t.year, t.month, t.day);
        FileWritable(&checks.back(), "journal file",
                     std::string(g_journalFolder) + platform::kPathSeparator + name);
    }
    return checks;
}
