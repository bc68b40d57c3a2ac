#include "brennickd/store.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace {

const char kFileName[] = "brennickd-state.jsonl";
// A finished operation's line begins so; the rest up to the last brace is
// its answer. Read without a JSON parser, a large state starts quickly.
const char kDonePrefix[] = "{\"event\":\"done\",\"key\":\"";

std::int64_t Now()
{
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::uint64_t HashOf(const std::string& text)
{
    std::uint64_t h = 1469598103934665603ULL;   // FNV-1a
    for (unsigned char c : text) h = (h ^ c) * 1099511628211ULL;
    return h;
}

std::string Hex(std::uint64_t v)
{
    char s[17];
    std::snprintf(s, sizeof s, "%016llx", static_cast<unsigned long long>(v));
    return s;
}

nlohmann::json InfoJson(const OperationInfo& op)
{
    nlohmann::json j = {{"operation", op.operation}, {"lane", op.lane}, {"trace_id", op.traceId},
                        {"currency", op.currency}, {"started", op.started}};
    if (!op.owner.empty()) j["owner"] = op.owner;
    if (!op.run.empty()) j["run"] = op.run;
    // A trace id is the register's text: it may hold a card number.
    MaskCardData(&j);
    return j;
}

OperationInfo InfoOf(const std::string& key, const nlohmann::json& j)
{
    OperationInfo op;
    op.key = key;
    if (!j.is_object()) return op;
    op.operation = j.value("operation", nlohmann::json());
    op.lane = j.value("lane", "");
    op.traceId = j.value("trace_id", "");
    op.currency = j.value("currency", "");
    op.started = j.value("started", "");
    op.owner = j.value("owner", "");
    op.run = j.value("run", "");
    return op;
}

// Where the answer stands in a line written by a JSON library: its dump is
// the very text there.
bool FindAnswer(const std::string& line, const nlohmann::json& answer, std::size_t* from, std::size_t* length)
{
    std::string text = answer.dump();
    std::size_t at = line.find("\"answer\":");
    if (at == std::string::npos || line.compare(at + 9, text.size(), text) != 0) return false;
    *from = at + 9;
    *length = text.size();
    return true;
}

// A text of the answer's own level as a JSON library writes it: its keys
// sorted, none of the nested objects holding these names.
std::string TopText(std::string_view answer, const char* name)
{
    std::string key = std::string("\"") + name + "\":\"";
    std::size_t at = answer.find(key);
    if (at == std::string_view::npos) return "";
    std::size_t from = at + key.size(), end = answer.find('"', from);
    return end == std::string_view::npos ? "" : std::string(answer.substr(from, end - from));
}

}  // namespace

bool OperationStore::Open(const std::string& folder, int keepDays, RunEndSearch search, std::string* reason)
{
    std::lock_guard<std::mutex> lock(mutex_);
    keepDays_ = keepDays;
    search_ = std::move(search);
    path_ = folder + platform::kPathSeparator + kFileName;
    {
        std::ifstream in(path_, std::ios::binary);
        if (in) Load(in);
    }
    std::error_code ec;
    size_ = std::filesystem::exists(path_, ec) ? std::filesystem::file_size(path_, ec) : 0;
    if (!platform::OpenForAppend(path_.c_str(), &file_)) {
        *reason = "the state file " + path_ + " cannot be opened for appending";
        return false;
    }
    return true;
}

void OperationStore::SettleCutOff()
{
    // Keys whose runs were cut off by a stop: their end may be in the journal.
    std::vector<std::string> keys;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& [key, e] : entries_)
            if (e.live && !e.live->running) keys.push_back(key);
    }
    for (const std::string& key : keys) Settle(key);
}

void OperationStore::Load(std::istream& in)
{
    // In large pieces, not line by line: a state of many answers starts fast.
    std::vector<char> buffer(1 << 20);
    std::string carried;
    std::uint64_t at = 0;
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        std::size_t got = static_cast<std::size_t>(in.gcount());
        std::size_t from = 0;
        for (std::size_t i = 0; i < got; ++i) {
            if (buffer[i] != '\n') continue;
            std::size_t length = carried.size() + (i - from);
            if (carried.empty()) {
                LoadLine(std::string_view(buffer.data() + from, i - from), at);
            } else {
                carried.append(buffer.data() + from, i - from);
                LoadLine(carried, at);
                carried.clear();
            }
            at += length + 1;
            from = i + 1;
        }
        carried.append(buffer.data() + from, got - from);
    }
    // A last line without its line feed: cut off by a crash, taken as it is.
    endsInLineFeed_ = carried.empty();
    if (!carried.empty()) LoadLine(carried, at);
}

void OperationStore::LoadLine(std::string_view line, std::uint64_t lineAt)
{
    ++lines_;
    const std::size_t prefix = sizeof kDonePrefix - 1;
    if (line.compare(0, prefix, kDonePrefix) == 0) {
        // {"event":"done","key":"K","hash":"H","at":N[,"owner":"O"],"answer":{...}}
        std::size_t q = line.find('"', prefix);
        std::size_t h = line.find("\"hash\":\"", q);
        std::size_t t = line.find("\"at\":", h);
        std::size_t a = line.find(",\"answer\":", t);
        if (q == std::string_view::npos || h == std::string_view::npos || t == std::string_view::npos ||
            a == std::string_view::npos || line.back() != '}')
            return;
        Entry& e = entries_[std::string(line.substr(prefix, q - prefix))];
        e.bodyHash = std::strtoull(std::string(line.substr(h + 8, 16)).c_str(), nullptr, 16);
        e.endedAt = std::strtoll(std::string(line.substr(t + 5, a - t - 5)).c_str(), nullptr, 10);
        e.offset = lineAt + a + 10;
        e.length = static_cast<std::uint32_t>(line.size() - 1 - (a + 10));
        std::size_t o = line.substr(0, a).find(",\"owner\":\"", t);
        if (o != std::string_view::npos) e.owner = std::string(line.substr(o + 10, a - 1 - (o + 10)));
        std::string_view answer = line.substr(a + 10);
        e.lane = TopText(answer, "lane");
        e.traceId = TopText(answer, "trace_id");
        e.unknown = TopText(answer, "state") == "unknown";
        e.live.reset();
        return;
    }
    nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
    if (j.is_discarded() || !j.is_object() || !j.contains("key") || !j["key"].is_string()) return;
    std::string key = j["key"];
    std::string event = j.value("event", "");
    Entry& e = entries_[key];
    if (event == "start") {
        e.bodyHash = j.contains("hash") ? std::strtoull(j.value("hash", "").c_str(), nullptr, 16)
                                        : HashOf(j.value("body", ""));
        e.live = std::make_unique<Live>();
        e.live->op = InfoOf(key, j.contains("op") ? j["op"] : nlohmann::json{{"lane", j.value("lane", "")}});
        e.owner = e.live->op.owner;
        e.lane = e.live->op.lane;
        e.traceId = e.live->op.traceId;
        e.unknown = true;
    } else if (event == "run" && e.live && e.live->op.run.empty()) {
        // An older brennickd heard the run's id from its call line.
        e.live->op.run = j.value("run", "");
    } else if ((event == "end" || event == "done") && j.contains("answer")) {
        std::size_t from = 0, length = 0;
        if (!FindAnswer(std::string(line), j["answer"], &from, &length)) return;
        e.offset = lineAt + from;
        e.length = static_cast<std::uint32_t>(length);
        e.unknown = j["answer"].value("state", "") == "unknown";
        e.endedAt = j.value("at", Now());   // a line of an older brennickd has no time
        e.live.reset();
    }
}

bool OperationStore::Append(const std::string& line, std::uint64_t* answerAt, std::size_t answerFrom,
                            bool flush)
{
    std::string text = line + "\n";
    if (!platform::AppendLine(file_, text.data(), text.size())) {
        healthy_ = false;
        return false;
    }
    if (!endsInLineFeed_) ++size_;   // the append put a line feed first
    if (answerAt != nullptr) *answerAt = size_ + answerFrom;
    size_ += text.size();
    lines_ += static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    endsInLineFeed_ = true;
    if (flush && !platform::FlushFile(file_)) {
        healthy_ = false;
        return false;
    }
    return true;
}

std::string OperationStore::DoneLine(const std::string& key, const Entry& e, const std::string& answer,
                                     std::size_t* answerFrom)
{
    std::string line = kDonePrefix + key + "\",\"hash\":\"" + Hex(e.bodyHash) + "\",\"at\":" +
                       std::to_string(e.endedAt) + (e.owner.empty() ? "" : ",\"owner\":\"" + e.owner + "\"") +
                       ",\"answer\":";
    *answerFrom = line.size();
    return line + answer + "}";
}

std::string OperationStore::StartLines(const std::string& key, const Entry& e)
{
    return nlohmann::json{{"event", "start"}, {"key", key}, {"hash", Hex(e.bodyHash)}, {"op", InfoJson(e.live->op)}}
        .dump();
}

nlohmann::json OperationStore::StoredAnswer(const Entry& e)
{
    std::ifstream in(path_, std::ios::binary);
    std::string text(e.length, '\0');
    in.seekg(static_cast<std::streamoff>(e.offset));
    if (!in.read(text.data(), static_cast<std::streamsize>(text.size()))) return nullptr;
    return nlohmann::json::parse(text, nullptr, false);
}

nlohmann::json OperationStore::Unknown(const std::string& key, const Live& live)
{
    RunReport report;
    report.started = true;
    report.call = {{"run", live.op.run.empty() ? nlohmann::json() : nlohmann::json(live.op.run)}};
    nlohmann::json a = MakeAnswer(live.op, report);
    a["key"] = key;
    a["text"] = "brennickd stopped during the run and its journal holds no end of it: check the terminal";
    MaskCardData(&a);
    return a;
}

void OperationStore::Settled(const std::string& key, Entry* e, const nlohmann::json& end, nlohmann::json* answer)
{
    RunReport report;
    report.started = true;
    report.end = end;
    *answer = MakeAnswer(e->live->op, report);
    MaskCardData(answer);
    Record(key, e, *answer);   // answered also when not recorded, kept for the next start
}

bool OperationStore::Record(const std::string& key, Entry* e, const nlohmann::json& answer)
{
    e->endedAt = Now();
    std::size_t from = 0;
    std::uint64_t offset = 0;
    std::string line = DoneLine(key, *e, answer.dump(), &from);
    if (!Append(line, &offset, from)) return false;
    e->offset = offset;
    e->length = static_cast<std::uint32_t>(line.size() - 1 - from);
    e->unknown = answer.value("state", "") == "unknown";
    e->live.reset();
    return true;
}

nlohmann::json OperationStore::Settle(const std::string& key)
{
    OperationInfo op;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = entries_.find(key);
        if (it == entries_.end()) return nullptr;
        if (!it->second.live) return StoredAnswer(it->second);
        op = it->second.live->op;
    }
    // The journal is read without the lock: payments go on meanwhile.
    nlohmann::json end = search_ && !op.run.empty() ? search_(op.run, op.started) : nlohmann::json();
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = entries_.find(key);
    if (it == entries_.end()) return nullptr;
    Entry& e = it->second;
    if (!e.live) return StoredAnswer(e);
    nlohmann::json answer;
    if (end.is_object())
        Settled(key, &e, end, &answer);
    else
        answer = Unknown(key, *e.live);
    return answer;
}

bool OperationStore::Compact()
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::int64_t cutoff = Now() - static_cast<std::int64_t>(keepDays_) * 86400;
    std::string fresh = path_ + ".new";
    std::ifstream old(path_, std::ios::binary);
    std::ofstream out(fresh, std::ios::binary | std::ios::trunc);
    std::uint64_t written = 0;
    std::unordered_map<std::string, std::uint64_t> moved;
    for (const auto& [key, e] : entries_) {
        std::string line;
        std::size_t from = 0;
        if (e.live) {
            line = StartLines(key, e);
        } else if (e.endedAt >= cutoff) {
            std::string answer(e.length, '\0');
            old.seekg(static_cast<std::streamoff>(e.offset));
            if (!old.read(answer.data(), static_cast<std::streamsize>(answer.size()))) return false;
            line = DoneLine(key, e, answer, &from);
            moved[key] = written + from;
        } else {
            continue;
        }
        out << line << '\n';
        written += line.size() + 1;
    }
    out.close();
    if (!out) {
        std::remove(fresh.c_str());
        return false;
    }
    // On disk before it replaces the old file, and the new name after.
    platform::FileHandle flushed = platform::kNoFile;
    bool durable = platform::OpenForAppend(fresh.c_str(), &flushed) && platform::FlushFile(flushed);
    unsigned long ignored;
    if (flushed != platform::kNoFile) platform::CloseFile(flushed, &ignored);
    if (!durable) {
        std::remove(fresh.c_str());
        return false;
    }
    platform::CloseFile(file_, &ignored);
    file_ = platform::kNoFile;
    std::error_code ec;
    std::filesystem::rename(fresh, path_, ec);
    if (!platform::OpenForAppend(path_.c_str(), &file_)) {
        healthy_ = false;
        return false;
    }
    if (ec) {
        std::remove(fresh.c_str());
        return false;
    }
    platform::FlushFolderEntry(path_.c_str());
    for (auto it = entries_.begin(); it != entries_.end();) {
        auto m = moved.find(it->first);
        if (it->second.live) {
            ++it;
        } else if (m == moved.end()) {
            it = entries_.erase(it);
        } else {
            it->second.offset = m->second;
            ++it;
        }
    }
    size_ = written;
    lines_ = entries_.size();
    endsInLineFeed_ = true;
    return true;
}

bool OperationStore::WantsCompaction()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (lines_ > entries_.size()) return true;
    std::int64_t cutoff = Now() - static_cast<std::int64_t>(keepDays_) * 86400;
    for (const auto& [key, e] : entries_)
        if (!e.live && e.endedAt < cutoff) return true;
    return false;
}

OperationStore::Begin OperationStore::Start(const OperationInfo& op, const std::string& canonical,
                                            const Waiter& waiter, nlohmann::json* answer)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Begin begun = StartLocked(op, canonical, waiter, answer);
        if (begun != Begin::kDone || !answer->is_null()) return begun;
    }
    *answer = Settle(op.key);
    return Begin::kDone;
}

OperationStore::Begin OperationStore::StartLocked(const OperationInfo& op, const std::string& canonical,
                                                  const Waiter& waiter, nlohmann::json* answer)
{
    std::uint64_t hash = HashOf(canonical);
    auto it = entries_.find(op.key);
    if (it != entries_.end()) {
        const Entry& e = it->second;
        if (e.bodyHash != hash) return Begin::kOtherBody;
        if (e.live && e.live->running) {
            e.live->waiters.push_back(waiter);
            return Begin::kRunning;
        }
        // Cut off: settled from the journal without the lock.
        *answer = e.live ? nlohmann::json() : StoredAnswer(e);
        return Begin::kDone;
    }
    if (lanes_.count(op.lane) != 0) return Begin::kLaneBusy;
    Entry e;
    e.bodyHash = hash;
    e.owner = op.owner;
    e.lane = op.lane;
    e.traceId = op.traceId;
    e.live = std::make_unique<Live>();
    e.live->op = op;
    e.live->running = true;
    // Nothing runs that a restart could not find again.
    if (!Append(StartLines(op.key, e))) return Begin::kNotRecorded;
    e.live->waiters.push_back(waiter);
    entries_.emplace(op.key, std::move(e));
    lanes_[op.lane] = op.key;
    return Begin::kStarted;
}

void OperationStore::Finish(const std::string& key, const nlohmann::json& answer)
{
    std::vector<Waiter> waiters;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Entry& e = entries_[key];
        if (!e.live) return;
        waiters.swap(e.live->waiters);
        lanes_.erase(e.live->op.lane);
        e.endedAt = Now();
        // Not on disk: after a restart the key is unknown, never run again.
        if (!Record(key, &e, answer)) e.live->running = false;
    }
    for (const Waiter& w : waiters) w(answer);
}

nlohmann::json OperationStore::Lookup(const std::string& key)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = entries_.find(key);
        if (it == entries_.end()) return nullptr;
        Entry& e = it->second;
        if (e.live && e.live->running) {
            nlohmann::json a = {{"key", key}, {"state", "running"}, {"started", e.live->op.started},
                                {"lane", e.live->op.lane.empty() ? nlohmann::json() : nlohmann::json(e.live->op.lane)}};
            if (!e.live->op.run.empty()) a["run"] = e.live->op.run;
            return a;
        }
        if (!e.live) return StoredAnswer(e);
    }
    return Settle(key);
}

bool OperationStore::OwnerOf(const std::string& key, std::string* owner)
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = entries_.find(key);
    if (it == entries_.end()) return false;
    *owner = it->second.owner;
    return true;
}

std::vector<std::string> OperationStore::BusyLanes()
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> lanes;
    for (const auto& [lane, key] : lanes_) lanes.push_back(lane);
    return lanes;
}

bool OperationStore::LaneHolder(const std::string& lane, std::string* key, std::string* started)
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = lanes_.find(lane);
    if (it == lanes_.end()) return false;
    *key = it->second;
    auto e = entries_.find(it->second);
    *started = e != entries_.end() && e->second.live ? e->second.live->op.started : "";
    return true;
}

std::vector<std::string> OperationStore::KeysWithTrace(const std::string& traceId)
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> keys;
    for (const auto& [key, e] : entries_)
        if (!traceId.empty() && e.traceId == traceId) keys.push_back(key);
    return keys;
}

std::string OperationStore::Resolve(const std::string& lane, const std::string& traceId,
                                    const std::string& lastKey, const nlohmann::json& lastAnswer)
{
    std::lock_guard<std::mutex> lock(mutex_);
    // The trace id, never the amount or the time: another sale may share
    // those, a register's trace id is its sale's own.
    std::string found;
    nlohmann::json was;
    std::string lastStarted = lastAnswer.value("started", "");
    for (auto& [key, e] : entries_) {
        if (key == lastKey || !e.unknown || e.lane != lane || traceId.empty() || e.traceId != traceId) continue;
        if (e.live && e.live->running) continue;
        nlohmann::json answer = e.live ? Unknown(key, *e.live) : StoredAnswer(e);
        if (answer.value("started", "") >= lastStarted) continue;
        if (!found.empty()) return "";   // two sales of one trace id: the terminal cannot tell which
        found = key;
        was = answer;
    }
    if (found.empty()) return "";
    nlohmann::json settled = was;
    for (const char* field : {"state", "rc", "text", "rrn", "auth_code", "amount", "currency", "card", "card_type",
                              "slip", "terminal_date", "terminal_time"})
        if (lastAnswer.contains(field)) settled[field] = lastAnswer[field];
    settled["resolved_by"] = {{"key", lastKey}, {"run", lastAnswer.value("run", "")}};
    settled.erase("resolve");
    Entry& e = entries_[found];
    return Record(found, &e, settled) ? found : "";
}

std::size_t OperationStore::Running()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return lanes_.size();
}

bool OperationStore::Healthy()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return healthy_;
}
