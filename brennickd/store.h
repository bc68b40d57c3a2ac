// The operations by idempotency key, the lanes they hold, and the state file
// that keeps both across a restart: one JSON line when a run starts and one
// when it ends, each on disk before Brennick starts or the answer leaves.
#pragma once

#include <nlohmann/json.hpp>

#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"

class OperationStore {
public:
    using Waiter = std::function<void(const nlohmann::json& answer)>;

    enum class Begin { kStarted, kRunning, kDone, kOtherBody, kLaneBusy };

    // Reads the state file back; a key that started and never ended is
    // answered as unknown and never run again. False when the file cannot
    // be opened for appending.
    bool Open(const std::string& folder);

    // For a key never seen: records its start (on disk) and holds its lane.
    // For a key seen: kRunning (waiter is called with the answer later),
    // kDone (answer filled), kOtherBody; kLaneBusy when another key holds
    // the lane.
    Begin Start(const std::string& key, const std::string& canonical, const std::string& lane,
                const Waiter& waiter, nlohmann::json* answer);
    // Records the end (on disk), frees the lane and answers every waiter.
    void Finish(const std::string& key, const nlohmann::json& answer);

    // "running", the stored answer, or null for a key never seen.
    nlohmann::json Lookup(const std::string& key);
    std::vector<std::string> BusyLanes();

private:
    struct Entry {
        std::string canonical;
        std::string lane;
        bool done = false;
        nlohmann::json answer;
        std::vector<Waiter> waiters;
    };
    void Append(const nlohmann::json& line);

    std::mutex mutex_;
    std::map<std::string, Entry> entries_;
    std::map<std::string, std::string> lanes_;   // lane -> key
    platform::FileHandle file_ = platform::kNoFile;
};
