// The operations by idempotency key, the lanes they hold, and the state file
// that keeps both across a restart. A run starts only once its start line is
// on disk; its end line follows before the answer leaves. Finished answers
// stay in the file, found by their place in it, so that a large state costs
// little memory; answers older than the days kept go when it is compacted.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "brennickd/answer.h"
#include "platform/platform.h"

class OperationStore {
public:
    using Waiter = std::function<void(const nlohmann::json& answer)>;
    // Looks a run up in Brennick's journal by the id brennickd gave it: its
    // end line, or null. Called without the store's lock held.
    using RunEndSearch = std::function<nlohmann::json(const std::string& run, const std::string& started)>;

    enum class Begin { kStarted, kRunning, kDone, kOtherBody, kLaneBusy, kNotRecorded };

    // Reads the state file back and compacts it where answers have expired
    // or lines can be merged. A key that started and never ended is looked
    // up in the journal; without its end there it is answered "unknown" and
    // never run again. False with a reason when the file cannot be used.
    bool Open(const std::string& folder, int keepDays, RunEndSearch search, std::string* reason);
    // Looks up in the journal the keys that a stop cut off (after Open).
    void SettleCutOff();
    // Writes the state anew without expired answers (new file, flushed,
    // renamed over the old one, folder flushed). False when that failed;
    // the old file then stays in use.
    bool Compact();
    // True when compacting would drop an answer or merge lines.
    bool WantsCompaction();

    // For a key never seen: records its start with the run id that op
    // carries (on disk; kNotRecorded when that failed, and nothing is held)
    // and holds its lane. For a key seen:
    // kRunning (waiter is called with the answer later), kDone (answer
    // filled), kOtherBody; kLaneBusy when another key holds the lane.
    Begin Start(const OperationInfo& op, const std::string& canonical, const Waiter& waiter,
                nlohmann::json* answer);
    // Records the end, frees the lane and answers every waiter; the answer
    // goes out also when the end line could not be written.
    void Finish(const std::string& key, const nlohmann::json& answer);

    // "running", the stored answer, or null for a key never seen.
    nlohmann::json Lookup(const std::string& key);
    // False for a key never seen; else the credential that started it.
    bool OwnerOf(const std::string& key, std::string* owner);
    std::vector<std::string> BusyLanes();
    // The key that holds lane and when it started; false when it is free.
    bool LaneHolder(const std::string& lane, std::string* key, std::string* started);
    // The keys whose operation carried this trace id, oldest first.
    std::vector<std::string> KeysWithTrace(const std::string& traceId);
    // The terminal's last operation on lane, asked by key lastKey, named
    // traceId: the one unknown key of that lane and trace id that started
    // before it takes the terminal's answer from it (state, RC, amount...),
    // kept as its answer from then on. Nothing changes where no key or more
    // than one fits. The key settled, or "".
    std::string Resolve(const std::string& lane, const std::string& traceId, const std::string& lastKey,
                        const nlohmann::json& lastAnswer);
    std::size_t Running();
    // False once a line could not be written or flushed.
    bool Healthy();

private:
    struct Live {
        OperationInfo op;       // op.run: the run's id, "" for a start of an older brennickd
        std::vector<Waiter> waiters;
        bool running = false;   // false: started before a restart, end unknown
    };
    struct Entry {
        std::uint64_t bodyHash = 0;
        std::int64_t endedAt = 0;        // seconds since 1970; 0 while not done
        std::uint64_t offset = 0;        // of the answer in the state file
        std::uint32_t length = 0;
        std::string owner;
        std::string lane, traceId;       // as the answer names them, for lookups
        bool unknown = false;            // its answer is "unknown": a recovery may settle it
        std::unique_ptr<Live> live;      // while not done
    };
    // Records a settled answer for a key in place of what it had.
    bool Record(const std::string& key, Entry* e, const nlohmann::json& answer);

    Begin StartLocked(const OperationInfo& op, const std::string& canonical, const Waiter& waiter,
                      nlohmann::json* answer);
    bool Append(const std::string& line, std::uint64_t* answerAt = nullptr, std::size_t answerFrom = 0,
                bool flush = true);
    nlohmann::json StoredAnswer(const Entry& e);
    nlohmann::json Unknown(const std::string& key, const Live& live);
    // The answer of a key whose run was cut off: from the journal's end line
    // of its run where there is one (then kept), else "unknown".
    nlohmann::json Settle(const std::string& key);
    void Settled(const std::string& key, Entry* e, const nlohmann::json& end, nlohmann::json* answer);
    void Load(std::istream& in);
    void LoadLine(std::string_view line, std::uint64_t lineAt);
    std::string DoneLine(const std::string& key, const Entry& e, const std::string& answer, std::size_t* answerFrom);
    std::string StartLines(const std::string& key, const Entry& e);

    std::mutex mutex_;
    std::unordered_map<std::string, Entry> entries_;
    std::map<std::string, std::string> lanes_;   // lane -> key
    platform::FileHandle file_ = platform::kNoFile;
    std::string path_;
    std::uint64_t size_ = 0;
    std::size_t lines_ = 0;
    bool endsInLineFeed_ = true;
    bool healthy_ = true;
    int keepDays_ = 90;
    RunEndSearch search_;
};
