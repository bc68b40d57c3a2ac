#include "simulator/journal.h"
#include "simulator/lock.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

// Version 3 adds the last operation; a version 2 file still reads.
const char* kHeader = "PAYSIM-STATE 3";
const char* kHeaderWithoutLast = "PAYSIM-STATE 2";

bool ValidToken(const std::string& s, std::size_t maxLength)
{
    if (s.empty() || s.size() > maxLength) return false;
    for (char c : s)
        if (c <= ' ' || c > '~') return false;
    return true;
}

// Texts that may hold anything go as hex digits, "-" when empty.
std::string ToHex(const std::string& text)
{
    if (text.empty()) return "-";
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : text) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

bool FromHex(const std::string& hex, std::string* text, std::size_t maxLength)
{
    text->clear();
    if (hex == "-") return true;
    if (hex.size() % 2 != 0 || hex.size() / 2 > maxLength) return false;
    auto value = [](char c) {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    };
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        int high = value(hex[i]), low = value(hex[i + 1]);
        if (high < 0 || low < 0) return false;
        *text += static_cast<char>(high * 16 + low);
    }
    return true;
}

bool ReadLast(std::istringstream& s, LastOperation* last)
{
    std::string code, text, amount, currency, rrn, auth, trace, slip;
    if (!(s >> last->operation >> code >> text >> amount >> currency >> rrn >> auth >> trace >> slip))
        return false;
    last->present = last->operation >= 1 && last->operation <= 3 &&
                    FromHex(code, &last->responseCode, 2) && FromHex(text, &last->text, 80) &&
                    FromHex(amount, &last->amount, 13) && FromHex(currency, &last->currency, 4) &&
                    FromHex(rrn, &last->rrn, 13) && FromHex(auth, &last->authCode, 9) &&
                    FromHex(trace, &last->traceId, 61) && FromHex(slip, &last->slip, 50);
    return last->present;
}

}  // namespace

std::string StateFilePath(const std::string& instanceId)
{
    const char* dir = std::getenv("PAYSIM_STATE_DIR");
    fs::path folder = (dir && *dir) ? fs::path(dir) : fs::path(DefaultStateFolder());
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

    std::string content;
    std::istringstream in(ReadStateFile(path, &content) ? content : std::string());
    std::string line;
    if (!std::getline(in, line) || (line != kHeader && line != kHeaderWithoutLast))
        return fresh;

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
        if (line.compare(0, 5, "last ") == 0) {
            std::string word;
            s >> word;
            if (!ReadLast(s, &state.last)) return fresh;
            continue;
        }
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


void SaveState(const std::string& path, const TerminalState& state)
{
    std::ostringstream out;
    out << kHeader << "\nsequence " << state.sequence << "\n";
    if (state.last.present) {
        const LastOperation& l = state.last;
        out << "last " << l.operation << ' ' << ToHex(l.responseCode) << ' ' << ToHex(l.text) << ' '
            << ToHex(l.amount) << ' ' << ToHex(l.currency) << ' ' << ToHex(l.rrn) << ' '
            << ToHex(l.authCode) << ' ' << ToHex(l.traceId) << ' ' << ToHex(l.slip) << "\n";
    }
    for (const JournalEntry& e : state.journal)
        out << e.rrn << ' ' << e.operation << ' ' << e.amount << ' ' << e.currency << ' '
            << e.authCode << ' ' << (e.cancelled ? 1 : 0) << ' ' << e.refunded << ' '
            << (e.original.empty() ? "-" : e.original) << "\n";
    ReplaceStateFile(path, out.str());
}

std::string CounterFilePath(const std::string& statePath)
{
    return (fs::path(statePath).parent_path() / "paysim-counter").string();
}

std::uint64_t LoadCounter(const std::string& path, std::uint64_t fresh)
{
    std::string content;
    std::istringstream in(ReadStateFile(path, &content) ? content : std::string());
    std::string word;
    std::uint64_t counter = 0;
    if (in >> word >> counter && word == "PAYSIM-COUNTER") return counter;
    return fresh;
}

void SaveCounter(const std::string& path, std::uint64_t counter)
{
    ReplaceStateFile(path, "PAYSIM-COUNTER " + std::to_string(counter) + "\n");
}
