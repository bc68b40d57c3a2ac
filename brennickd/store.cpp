#include "brennickd/store.h"

#include <fstream>
#include <sstream>

bool OperationStore::Open(const std::string& folder)
{
    std::string path = folder + platform::kPathSeparator + "brennickd-state.jsonl";
    std::ifstream in(path, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
        if (j.is_discarded() || !j.is_object() || !j.contains("key")) continue;
        std::string key = j.value("key", "");
        Entry& e = entries_[key];
        if (j.value("event", "") == "start") {
            e.canonical = j.value("body", "");
            e.lane = j.value("lane", "");
            e.done = true;
            // Started and never ended: the terminal may have charged.
            e.answer = {{"key", key}, {"state", "unknown"}, {"exit", nullptr},
                        {"text", "brennickd stopped during the run: check the terminal"}};
        } else if (j.value("event", "") == "end" && j.contains("answer")) {
            e.done = true;
            e.answer = j["answer"];
        }
    }
    return platform::OpenForAppend(path.c_str(), &file_);
}

void OperationStore::Append(const nlohmann::json& line)
{
    std::string text = line.dump() + "\n";
    platform::AppendLine(file_, text.data(), text.size());
    platform::FlushFile(file_);
}

OperationStore::Begin OperationStore::Start(const std::string& key, const std::string& canonical,
                                            const std::string& lane, const Waiter& waiter,
                                            nlohmann::json* answer)
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = entries_.find(key);
    if (it != entries_.end()) {
        Entry& e = it->second;
        if (e.canonical != canonical) return Begin::kOtherBody;
        if (e.done) {
            *answer = e.answer;
            return Begin::kDone;
        }
        e.waiters.push_back(waiter);
        return Begin::kRunning;
    }
    if (lanes_.count(lane) != 0) return Begin::kLaneBusy;
    Entry& e = entries_[key];
    e.canonical = canonical;
    e.lane = lane;
    e.waiters.push_back(waiter);
    lanes_[lane] = key;
    Append({{"event", "start"}, {"key", key}, {"lane", lane}, {"body", canonical}});
    return Begin::kStarted;
}

void OperationStore::Finish(const std::string& key, const nlohmann::json& answer)
{
    std::vector<Waiter> waiters;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Entry& e = entries_[key];
        Append({{"event", "end"}, {"key", key}, {"answer", answer}});
        e.done = true;
        e.answer = answer;
        waiters.swap(e.waiters);
        lanes_.erase(e.lane);
    }
    for (const Waiter& w : waiters) w(answer);
}

nlohmann::json OperationStore::Lookup(const std::string& key)
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = entries_.find(key);
    if (it == entries_.end()) return nullptr;
    if (!it->second.done) return {{"key", key}, {"state", "running"}};
    return it->second.answer;
}

std::vector<std::string> OperationStore::BusyLanes()
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> lanes;
    for (const auto& [lane, key] : lanes_) lanes.push_back(lane);
    return lanes;
}
