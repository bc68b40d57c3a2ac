#include "brennickd/tokens.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "brennickd/journal_search.h"
#include "platform/platform.h"
#include "platform/secret.h"

std::string RandomHex(std::size_t bytes)
{
    std::vector<unsigned char> random(bytes);
    if (!platform::RandomBytes(random.data(), random.size())) return "";
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char b : random) out += {hex[b >> 4], hex[b & 15]};
    return out;
}

namespace {

const char kFileName[] = "brennickd-tokens.json";

// Six digits, each of the million equally likely.
std::string RandomDigits()
{
    for (;;) {
        std::uint32_t n = 0;
        if (!platform::RandomBytes(&n, sizeof n)) return "";
        if (n >= 4294000000U) continue;
        char s[8];
        std::snprintf(s, sizeof s, "%06u", static_cast<unsigned>(n % 1000000U));
        return s;
    }
}

}  // namespace

bool TokenBook::Open(const std::string& folder, std::string* reason)
{
    std::lock_guard<std::mutex> lock(mutex_);
    path_ = folder + platform::kPathSeparator + kFileName;
    std::ifstream in(path_, std::ios::binary);
    if (!in) return true;   // none paired yet
    std::stringstream text;
    text << in.rdbuf();
    nlohmann::json all = nlohmann::json::parse(text.str(), nullptr, false);
    if (!all.is_array()) {
        *reason = "the paired tokens in " + path_ + " cannot be read: not what brennickd writes";
        return false;
    }
    for (const nlohmann::json& t : all) {
        if (!t.is_object() || !t.contains("hash") || !t["hash"].is_string()) continue;
        byHash_[t["hash"]] = {t.value("id", ""), t.value("scope", "pay"), t.value("origin", ""),
                              t.value("created", ""), t.value("revoked", false)};
    }
    return true;
}

bool TokenBook::Save(const std::map<std::string, Record>& byHash)
{
    nlohmann::json all = nlohmann::json::array();
    for (const auto& [hash, r] : byHash) {
        all.push_back({{"id", r.id}, {"scope", r.scope}, {"origin", r.origin}, {"created", r.created},
                       {"hash", hash}});
        if (r.revoked) all.back()["revoked"] = true;
    }
    // A new file, on disk, then renamed over the old one: a crash leaves
    // the one or the other, never half of each.
    std::string fresh = path_ + ".new";
    {
        std::ofstream out(fresh, std::ios::binary | std::ios::trunc);
        out << all.dump(1) << "\n";
        if (!out) {
            std::remove(fresh.c_str());
            return false;
        }
    }
    platform::FileHandle file = platform::kNoFile;
    bool durable = platform::OpenForAppend(fresh.c_str(), &file) && platform::FlushFile(file);
    unsigned long ignored = 0;
    if (file != platform::kNoFile) platform::CloseFile(file, &ignored);
    std::error_code ec;
    if (durable) std::filesystem::rename(fresh, path_, ec);
    if (!durable || ec) {
        std::remove(fresh.c_str());
        return false;
    }
    unsigned long error = 0;
    return platform::FlushFolderEntryChecked(path_.c_str(), &error) != platform::FlushResult::kFailed;
}

std::string TokenBook::NewCode(bool admin, Clock::time_point now)
{
    std::string digits = RandomDigits();
    if (digits.empty()) return "";
    std::lock_guard<std::mutex> lock(mutex_);
    codes_.push_back({digits, admin, now + std::chrono::seconds(kCodeSeconds)});
    wrong_ = 0;
    return digits;
}

TokenBook::Paired TokenBook::Pair(const std::string& code, const std::string& origin, std::string* token,
                                  Credential* made, Clock::time_point now)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (wrong_ >= kWrongCodes) return Paired::kTooManyTries;
    auto it = codes_.begin();
    while (it != codes_.end() && !(it->digits == code && it->expires > now)) ++it;
    if (it == codes_.end()) {
        if (++wrong_ >= kWrongCodes) codes_.clear();
        return Paired::kBadCode;
    }
    bool admin = it->admin;
    codes_.erase(it);   // one use, whatever follows
    *token = RandomHex(32);
    std::string id = "t-" + RandomHex(4);
    if (token->empty() || id.size() != 10) return Paired::kNotRecorded;
    auto all = byHash_;
    Record record{id, admin ? "admin" : "pay", origin, JournalTimeNow()};
    all[platform::Sha256Hex(*token)] = record;
    if (!Save(all)) return Paired::kNotRecorded;
    byHash_.swap(all);
    *made = {admin, id, origin};
    return Paired::kDone;
}

bool TokenBook::Find(const std::string& token, Credential* found)
{
    std::string hash = platform::Sha256Hex(token);
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = byHash_.find(hash);
    if (hash.empty() || it == byHash_.end() || it->second.revoked) return false;
    *found = {it->second.scope == "admin", it->second.id, it->second.origin};
    return true;
}

nlohmann::json TokenBook::List()
{
    std::lock_guard<std::mutex> lock(mutex_);
    nlohmann::json all = nlohmann::json::array();
    for (const auto& [hash, r] : byHash_)
        if (!r.revoked)
            all.push_back({{"id", r.id}, {"scope", r.scope}, {"origin", r.origin}, {"created", r.created}});
    return all;
}

bool TokenBook::Revoke(const std::string& id, bool* recorded)
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto all = byHash_;
    bool found = false;
    for (auto& [hash, r] : all) {
        if (r.id != id || r.revoked) continue;
        r.revoked = true;
        found = true;
    }
    *recorded = !found || Save(all);
    if (found && *recorded) byHash_.swap(all);
    return found;
}

std::string TokenBook::RevokedOrigin(const std::string& id)
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [hash, r] : byHash_)
        if (r.revoked && r.id == id) return r.origin;
    return "";
}
