// Who a request speaks for: the administrator's token file, the pay token
// file, or a token that a page got by pairing. Paired tokens are kept as
// their SHA-256 only, each bound to the origin of the page that paired.
#pragma once

#include <nlohmann/json.hpp>

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <vector>

// bytes from the system's random source as lower-case hex; empty where
// there is none.
std::string RandomHex(std::size_t bytes);

struct Credential {
    bool admin = false;
    std::string id;       // "admin", "pay", or a paired token's id
    std::string origin;   // a paired token's page; "" for a token file's
};

class TokenBook {
public:
    using Clock = std::chrono::steady_clock;
    enum class Paired { kDone, kBadCode, kTooManyTries, kNotRecorded };

    // Reads the paired tokens kept in the state folder; false with a reason.
    bool Open(const std::string& folder, std::string* reason);
    // A new one-time code for a token of that scope: six digits, valid five
    // minutes, good for one pairing. Empty when the system gives no random.
    std::string NewCode(bool admin, Clock::time_point now = Clock::now());
    // Exchanges a code for a new token bound to origin. After five wrong
    // codes every pending code is void: six digits are no password.
    Paired Pair(const std::string& code, const std::string& origin, std::string* token, Credential* made,
                Clock::time_point now = Clock::now());
    bool Find(const std::string& token, Credential* found);
    nlohmann::json List();
    // False when no token has that id; *recorded false when the change could
    // not be written (the token is then kept: nothing changed). A revoked
    // token opens nothing; its id and origin stay known.
    bool Revoke(const std::string& id, bool* recorded);
    // The origin of a revoked token; "" for any other id. A page that paired
    // again finds what its revoked token left pending.
    std::string RevokedOrigin(const std::string& id);

    static constexpr int kCodeSeconds = 300;
    static constexpr int kWrongCodes = 5;

private:
    struct Record {
        std::string id, scope, origin, created;
        bool revoked = false;
    };
    struct Code {
        std::string digits;
        bool admin;
        Clock::time_point expires;
    };
    bool Save(const std::map<std::string, Record>& byHash);

    std::mutex mutex_;
    std::string path_;
    std::map<std::string, Record> byHash_;
    std::vector<Code> codes_;
    int wrong_ = 0;
};
