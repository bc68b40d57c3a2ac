#include "simulator/journal.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

const char* kHeader = "PAYSIM-STATE 2";

bool ValidToken(const std::string& s, std::size_t maxLength)
{
    if (s.empty() || s.size() > maxLength) return false;
    for (char c : s)
        if (c <= ' ' || c > '~') return false;
    return true;
}

}  // namespace

std::string StateFilePath(const std::string& instanceId)
{
    const char* dir = std::getenv("PAYSIM_STATE_DIR");
    std::error_code ec;
    fs::path folder = (dir && *dir) ? fs::path(dir) : fs::temp_directory_path(ec);
    std::string name = "paysim-";
    if (instanceId.empty()) name += "default";
    for (char c : instanceId) {
        bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                     c == '_' || c == '-';
        name += plain ? c : '_';
    }
    return (folder / (name + ".state")).string();
}

TerminalState LoadState(const std::string& path, std::uint64_t freshSequence)
{
    TerminalState fresh;
    fresh.sequence = freshSequence;

    std::ifstream in(path, std::ios::binary);
    std::string line;
    if (!in || !std::getline(in, line) || line != kHeader) return fresh;

    TerminalState state;
    if (!std::getline(in, line)) return fresh;
    {
        std::istringstream s(line);
        std::string word;
        if (!(s >> word >> state.sequence) || word != "sequence") return fresh;
    }
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        std::istringstream s(line);
        JournalEntry e;
        int cancelled = 0;
        if (!(s >> e.rrn >> e.operation >> e.amount >> e.currency >> e.authCode >> cancelled >>
              e.refunded >> e.original))
            return fresh;
        if (!ValidToken(e.rrn, 12) || !ValidToken(e.currency, 4) || !ValidToken(e.authCode, 6) ||
            !ValidToken(e.original, 13) || (e.operation != 1 && e.operation != 2) ||
            (cancelled != 0 && cancelled != 1) || e.refunded > e.amount)
            return fresh;
        e.cancelled = cancelled == 1;
        state.journal.push_back(e);
        if (state.journal.size() > 100000) return fresh;
    }
    return state;
}

namespace {

// Through a temporary file and a rename: a crash never leaves half a file.
void Replace(const std::string& path, const std::string& content)
{
    std::string temporary = path + ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) return;
        out << content;
        if (!out) return;
    }
    std::error_code ec;
    fs::rename(temporary, path, ec);
    if (ec) {
        fs::remove(path, ec);
        fs::rename(temporary, path, ec);
    }
}

}  // namespace

void SaveState(const std::string& path, const TerminalState& state)
{
    std::ostringstream out;
    out << kHeader << "\nsequence " << state.sequence << "\n";
    for (const JournalEntry& e : state.journal)
        out << e.rrn << ' ' << e.operation << ' ' << e.amount << ' ' << e.currency << ' '
            << e.authCode << ' ' << (e.cancelled ? 1 : 0) << ' ' << e.refunded << ' '
            << (e.original.empty() ? "-" : e.original) << "\n";
    Replace(path, out.str());
}

std::string CounterFilePath(const std::string& statePath)
{
    return (fs::path(statePath).parent_path() / "paysim-counter").string();
}

std::uint64_t LoadCounter(const std::string& path, std::uint64_t fresh)
{
    std::ifstream in(path, std::ios::binary);
    std::string word;
    std::uint64_t counter = 0;
    if (in >> word >> counter && word == "PAYSIM-COUNTER") return counter;
    return fresh;
}

void SaveCounter(const std::string& path, std::uint64_t counter)
{
    Replace(path, "PAYSIM-COUNTER " + std::to_string(counter) + "\n");
}
