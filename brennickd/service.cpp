#include "brennickd/service.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "brennickd/answer.h"
#include "brennickd/checks.h"
#include "brennickd/journal_search.h"
#include "brennickd/log.h"
#include "brennickd/request.h"
#include "export/card_mask.h"
#include "export/journal.h"
#include "platform/platform.h"
#include "platform/process.h"

#ifndef BRENNICK_VERSION
#define BRENNICK_VERSION "0.0.0"
#endif

namespace {

constexpr std::size_t kOutputLimit = 64 * 1024;

// Compares in time that does not depend on where the texts differ (the
// secret is never empty).
bool SameSecret(const std::string& given, const std::string& secret)
{
    std::size_t diff = given.size() ^ secret.size();
    for (std::size_t i = 0; i < given.size(); ++i)
        diff |= static_cast<unsigned char>(given[i] ^ secret[i % secret.size()]);
    return diff == 0;
}

// 16 hex digits, as Brennick draws its own, with a letter among them: an id
// of digits alone could pass for a card number and be masked.
std::string NewRunId()
{
    for (int attempt = 0; attempt < 64; ++attempt) {
        std::string id = RandomHex(8);
        if (id.empty()) return id;
        if (id.find_first_of("abcdef") != std::string::npos) return id;
    }
    return "";
}

// %XX in a query's value as the bytes they stand for.
std::string Unescaped(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += text[i] == '+' ? ' ' : text[i];
        }
    }
    return out;
}

std::string Masked(std::string text)
{
    MaskCardNumbers(text.data(), text.size());
    return text;
}

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// One answer per request: the run's, or "running" once the wait is over,
// whichever comes first.
class Reply {
public:
    explicit Reply(Respond respond) : respond_(std::move(respond)) {}

    void Send(Response response)
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (sent_) return;
            sent_ = true;
        }
        done_.notify_all();
        respond_(std::move(response));
    }

    // True when an answer went out within the time.
    bool WaitFor(int seconds)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return done_.wait_for(lock, std::chrono::seconds(seconds), [this] { return sent_; });
    }

private:
    Respond respond_;
    std::mutex mutex_;
    std::condition_variable done_;
    bool sent_ = false;
};

}  // namespace

PaymentService::PaymentService(const Options& options, ServiceSettings settings, std::string brennick,
                               OperationStore* store, TokenBook* tokens)
    : options_(options), settings_(std::make_shared<const ServiceSettings>(std::move(settings))),
      brennick_(std::move(brennick)), store_(store), tokens_(tokens)
{
}

void PaymentService::Reload(ServiceSettings settings)
{
    auto fresh = std::make_shared<const ServiceSettings>(std::move(settings));
    std::lock_guard<std::mutex> lock(settingsMutex_);
    settings_ = fresh;
}

std::shared_ptr<const ServiceSettings> PaymentService::Settings() const
{
    std::lock_guard<std::mutex> lock(settingsMutex_);
    return settings_;
}

void PaymentService::AddCors(const Request& request, Response* response) const
{
    std::string origin;
    if (!OriginAllowed(request, &origin)) return;
    response->set(http::field::access_control_allow_origin, origin);
    response->set(http::field::vary, "Origin");
}

Response PaymentService::Json(const Request& request, http::status status,
                              const nlohmann::json& body) const
{
    Response r(status, request.version());
    r.set(http::field::content_type, "application/json");
    r.set(http::field::cache_control, "no-store");
    r.keep_alive(request.keep_alive());
    r.body() = body.dump() + "\n";
    AddCors(request, &r);
    r.prepare_payload();
    return r;
}

Response PaymentService::Refusal(const Request& partial, http::status status, const std::string& error) const
{
    Response r = Json(partial, status, {{"error", error}});
    r.version(11);
    r.keep_alive(false);
    return r;
}

http::status PaymentService::Authenticate(const Request& request, Credential* who, std::string* refused) const
{
    *refused = "a bearer token is required";
    auto header = request.find(http::field::authorization);
    if (header == request.end()) return http::status::unauthorized;
    std::string value(header->value());
    // The scheme's name is matched without regard to case.
    std::size_t blank = value.find(' ');
    if (blank == std::string::npos || Lower(value.substr(0, blank)) != "bearer") return http::status::unauthorized;
    std::size_t from = value.find_first_not_of(' ', blank);
    std::string token = from == std::string::npos ? "" : value.substr(from);
    if (token.empty()) return http::status::unauthorized;
    auto settings = Settings();
    if (SameSecret(token, settings->token)) {
        *who = {true, "admin", ""};
        return http::status::ok;
    }
    if (!settings->payToken.empty() && SameSecret(token, settings->payToken)) {
        *who = {false, "pay", ""};
        return http::status::ok;
    }
    if (!tokens_->Find(token, who)) {
        *refused = "the token is not valid";
        return http::status::unauthorized;
    }
    // A paired token is its page's: from another origin it opens nothing.
    auto origin = request.find(http::field::origin);
    if (origin == request.end() || origin->value() != who->origin) {
        *refused = "this token belongs to the page of another origin";
        return http::status::forbidden;
    }
    return http::status::ok;
}

// A page sees the keys it started, also those its revoked token left
// pending once it has paired again; keys from before owners were kept are
// the admin's.
bool PaymentService::Owns(const Credential& who, const std::string& owner) const
{
    if (who.admin || (!owner.empty() && owner == who.id)) return true;
    return !owner.empty() && !who.origin.empty() && tokens_->RevokedOrigin(owner) == who.origin;
}

bool PaymentService::OriginAllowed(const Request& request, std::string* origin) const
{
    auto header = request.find(http::field::origin);
    if (header == request.end()) return false;
    *origin = std::string(header->value());
    for (const std::string& allowed : Settings()->allowedOrigins)
        if (allowed == *origin) return true;
    return false;
}

// A page of a name that its owner points at 127.0.0.1 (DNS rebinding) is no
// page of ours: only the names of this service are served.
bool PaymentService::HostAllowed(const Request& request) const
{
    auto header = request.find(http::field::host);
    if (header == request.end()) return false;
    std::string host = Lower(std::string(header->value()));
    std::string address = options_.address.find(':') != std::string::npos ? "[" + options_.address + "]"
                                                                           : options_.address;
    std::vector<std::string> names = {address, "localhost", "127.0.0.1", "[::1]"};
    for (const std::string& allowed : Settings()->allowedHosts) {
        if (host == Lower(allowed)) return true;
        names.push_back(Lower(allowed));
    }
    const std::string port = ":" + std::to_string(port_);
    for (const std::string& name : names)
        if (host == name + port || (port_ == 80 && host == name)) return true;
    return false;
}

// One line per request for the administrator: no token, no card data.
void PaymentService::Handle(const Request& request, const Respond& respond)
{
    auto began = std::chrono::steady_clock::now();
    std::string method(request.method_string());
    std::string target = Masked(std::string(request.target()));
    auto keyHeader = request.find("Idempotency-Key");
    std::string key = keyHeader == request.end() ? "" : Masked(std::string(keyHeader->value()));
    // Whether the page may read the answer is decided as the request comes
    // in: a reload while its payment runs must not hide a charged answer.
    std::string origin;
    bool allowed = OriginAllowed(request, &origin);
    Serve(request, [respond, began, method, target, key, allowed, origin](Response response) {
        if (allowed) {
            response.set(http::field::access_control_allow_origin, origin);
            response.set(http::field::vary, "Origin");
        } else {
            response.erase(http::field::access_control_allow_origin);
        }
        nlohmann::json body = nlohmann::json::parse(response.body(), nullptr, false);
        std::string state = body.is_object() ? body.value("state", "") : "";
        std::string lane = body.is_object() && body.contains("lane") && body["lane"].is_string()
                               ? body["lane"].get<std::string>()
                               : "";
        long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - began)
                           .count();
        LogLine(method + " " + target.substr(0, 200) + " " + std::to_string(response.result_int()) +
                (key.empty() ? "" : " key=" + key.substr(0, 64)) + (lane.empty() ? "" : " lane=" + lane) +
                " ms=" + std::to_string(ms) + (state.empty() ? "" : " outcome=" + state));
        respond(std::move(response));
    });
}

void PaymentService::Serve(const Request& request, const Respond& respond)
{
    std::string target(request.target());
    if (!HostAllowed(request))
        return respond(Json(request, http::status::misdirected_request,
                            {{"error", "this service does not answer to that Host"}}));
    if (request.method() == http::verb::options) {
        // A preflight: CORS headers for allowed origins only, and the
        // browser's question about the private network answered.
        Response r(http::status::no_content, request.version());
        r.keep_alive(request.keep_alive());
        AddCors(request, &r);
        if (r.find(http::field::access_control_allow_origin) != r.end()) {
            r.set(http::field::access_control_allow_methods, "GET, POST, OPTIONS");
            r.set(http::field::access_control_allow_headers,
                  "Authorization, Content-Type, Idempotency-Key");
            r.set(http::field::access_control_max_age, "600");
            r.set("Access-Control-Allow-Private-Network", "true");
        }
        r.prepare_payload();
        return respond(std::move(r));
    }
    if (target == "/v1/health" && request.method() == http::verb::get) {
        // For a monitor without the token: healthy or not, no details.
        bool ok = store_->Healthy();
        std::string library;
        for (const Check& c : CheckInstallation(brennick_, &library)) ok = ok && c.ok;
        nlohmann::json health = {{"ok", ok}};
        // Healthy, but no money moves: a fleet's monitoring finds it.
        if (IsSimulator(library)) health["simulator"] = true;
        return respond(Json(request, ok ? http::status::ok : http::status::service_unavailable, health));
    }
    if (target == "/v1/pair" && request.method() == http::verb::post) return Pair(request, respond);
    Credential who;
    std::string refused;
    http::status status = Authenticate(request, &who, &refused);
    if (status != http::status::ok) return respond(Json(request, status, {{"error", refused}}));

    const std::string operations = "/v1/operations";
    if (target == operations && request.method() == http::verb::post) return Post(request, respond, who);
    const std::string byTrace = operations + "?trace_id=";
    if (target.compare(0, byTrace.size(), byTrace) == 0 && request.method() == http::verb::get) {
        // The keys that carried a trace id, with their answers: how a page
        // finds a sale whose key it lost. A page sees its own only.
        std::string trace = Unescaped(target.substr(byTrace.size()));
        nlohmann::json found = nlohmann::json::array();
        std::string owner;
        for (const std::string& key : store_->KeysWithTrace(trace))
            if (store_->OwnerOf(key, &owner) && Owns(who, owner)) found.push_back(store_->Lookup(key));
        return respond(Json(request, http::status::ok, {{"operations", found}}));
    }
    if (target.compare(0, operations.size() + 1, operations + "/") == 0 &&
        request.method() == http::verb::get) {
        std::string key = target.substr(operations.size() + 1), owner;
        // A page sees the keys it started; whether others exist is not its
        // business. Keys from before owners were kept are the admin's.
        bool seen = store_->OwnerOf(key, &owner) && Owns(who, owner);
        nlohmann::json found = seen ? store_->Lookup(key) : nlohmann::json();
        if (found.is_null())
            return respond(Json(request, http::status::not_found, {{"error", "no such key"}}));
        // Still running: as the POST said it, with when to ask again.
        if (found.value("state", "") == "running") {
            Response r = Json(request, http::status::accepted, found);
            r.set(http::field::retry_after, "2");
            return respond(std::move(r));
        }
        return respond(Json(request, http::status::ok, found));
    }
    if (!who.admin)
        return respond(Json(request, http::status::forbidden, {{"error", "this token may only pay"}}));
    if (target == "/v1/pairing-codes" || target.compare(0, 10, "/v1/tokens") == 0)
        return Admin(request, respond);
    if (target == "/v1/status" && request.method() == http::verb::get) {
        nlohmann::json checks = nlohmann::json::object();
        std::string library;
        for (const Check& c : CheckInstallation(brennick_, &library))
            checks[c.name] = c.ok ? nlohmann::json("ok") : nlohmann::json(c.problem);
        checks["state"] = store_->Healthy() ? "ok" : "the state file cannot be written";
        return respond(Json(request, http::status::ok,
                            {{"version", BRENNICK_VERSION}, {"brennick", brennick_}, {"library", library},
                             {"simulator", IsSimulator(library)},
                             {"busy_lanes", store_->BusyLanes()}, {"log_lines_lost", LogLinesLost()},
                             {"state_file", store_->Healthy() ? "ok" : "failing"},
                             {"stopping", stopping_.load()}, {"checks", checks}}));
    }
    respond(Json(request, http::status::not_found, {{"error", "no such resource"}}));
}

void PaymentService::Post(const Request& request, const Respond& respond, const Credential& who)
{
    if (stopping_)
        return respond(Json(request, http::status::service_unavailable,
                            {{"error", "brennickd is stopping: no new operations"}}));
    auto keyHeader = request.find("Idempotency-Key");
    std::string key = keyHeader == request.end() ? "" : std::string(keyHeader->value());
    if (!IsValidKey(key))
        return respond(Json(request, http::status::bad_request,
                            {{"error", "1 to 64 letters, digits, '-' and '_'"}, {"field", "Idempotency-Key"}}));
    OperationRequest parsed;
    RequestError error;
    if (!ParseOperationRequest(request.body(), &parsed, &error)) {
        nlohmann::json body = {{"error", error.message}};
        if (!error.field.empty()) body["field"] = error.field;
        return respond(Json(request, http::status::bad_request, body));
    }
    // A page's token pays, and asks the terminal for its last operation (no
    // money moves) to settle an unknown one; refunds, cancels, end of day and
    // codes of any kind need the administrator's.
    if (!who.admin && parsed.operation != "purchase" && parsed.operation != "last")
        return respond(Json(request, http::status::forbidden,
                            {{"error", "this token may only pay: " + parsed.operation.dump() + " needs the admin token"},
                             {"field", "operation"}}));
    std::string owner;
    if (store_->OwnerOf(key, &owner) && !Owns(who, owner))
        return respond(Json(request, http::status::unprocessable_entity,
                            {{"error", "this key was used by another token"}, {"field", "Idempotency-Key"}}));
    // The run's id is made here and written with the start, before the run
    // exists: after a restart the key is matched to its run by it alone.
    OperationInfo op{key, parsed.operation, parsed.lane, parsed.traceId, parsed.currency, JournalTimeNow(), who.id,
                     NewRunId()};
    if (op.run.empty())
        return respond(Json(request, http::status::service_unavailable,
                            {{"error", "the system has no random source: nothing was run"}}));
    // The answer goes out when the run ends, to every request with the key,
    // or as "running" once the request has waited long enough.
    Request copy = request;
    auto reply = std::make_shared<Reply>(respond);
    auto waiter = [this, copy, reply](const nlohmann::json& answer) {
        reply->Send(Json(copy, http::status::ok, answer));
    };
    nlohmann::json answer;
    switch (store_->Start(op, parsed.canonical, waiter, &answer)) {
    case OperationStore::Begin::kDone: return respond(Json(request, http::status::ok, answer));
    case OperationStore::Begin::kOtherBody:
        return respond(Json(request, http::status::unprocessable_entity,
                            {{"error", "this key was used with another body"}, {"field", "Idempotency-Key"}}));
    case OperationStore::Begin::kLaneBusy: {
        // Who holds the lane, to a token that may see that key; to others
        // only since when.
        nlohmann::json busy = {{"error", "the lane is busy with another operation"}, {"field", "lane"}};
        std::string holder, since, holderOwner;
        if (store_->LaneHolder(parsed.lane, &holder, &since)) {
            busy["since"] = since;
            if (store_->OwnerOf(holder, &holderOwner) && Owns(who, holderOwner)) busy["held_by"] = holder;
        }
        return respond(Json(request, http::status::conflict, busy));
    }
    case OperationStore::Begin::kNotRecorded:
        return respond(Json(request, http::status::service_unavailable,
                            {{"error", "the state file cannot be written: nothing was run"}}));
    case OperationStore::Begin::kRunning: break;
    case OperationStore::Begin::kStarted:
        std::thread(&PaymentService::Run, this, op, parsed.switches).detach();
        break;
    }
    int wait = Settings()->waitSeconds;
    std::thread([this, copy, reply, key, wait] {
        if (reply->WaitFor(wait)) return;
        nlohmann::json running = store_->Lookup(key);
        if (running.value("state", "") != "running") return;   // the answer is on its way
        reply->Send(Json(copy, http::status::accepted, running));
    }).detach();
}

// A page of an allowed origin trades a one-time code for its own token.
void PaymentService::Pair(const Request& request, const Respond& respond)
{
    std::string origin;
    if (!OriginAllowed(request, &origin))
        return respond(Json(request, http::status::forbidden,
                            {{"error", "pairing needs a page of an allowed origin"}}));
    nlohmann::json body = nlohmann::json::parse(request.body(), nullptr, false);
    std::string code = body.is_object() && body.contains("code") && body["code"].is_string()
                           ? body["code"].get<std::string>()
                           : "";
    std::string token;
    Credential made;
    switch (tokens_->Pair(code, origin, &token, &made)) {
    case TokenBook::Paired::kDone:
        LogLine("paired " + made.id + " (" + (made.admin ? "admin" : "pay") + ") with " + origin);
        return respond(Json(request, http::status::ok,
                            {{"token", token}, {"id", made.id}, {"scope", made.admin ? "admin" : "pay"}}));
    case TokenBook::Paired::kBadCode:
        return respond(Json(request, http::status::forbidden, {{"error", "the pairing code is not valid"}}));
    case TokenBook::Paired::kTooManyTries:
        return respond(Json(request, http::status::too_many_requests,
                            {{"error", "too many wrong pairing codes: ask the administrator for a new one"}}));
    case TokenBook::Paired::kNotRecorded: break;
    }
    respond(Json(request, http::status::service_unavailable,
                 {{"error", "the paired token cannot be recorded: nothing was paired"}}));
}

// The administrator's side of pairing: codes, the list, revoking.
void PaymentService::Admin(const Request& request, const Respond& respond)
{
    std::string target(request.target());
    if (target == "/v1/pairing-codes" && request.method() == http::verb::post) {
        nlohmann::json body = nlohmann::json::parse(request.body().empty() ? "{}" : request.body(), nullptr, false);
        std::string scope = body.is_object() ? body.value("scope", "pay") : "";
        if (scope != "pay" && scope != "admin")
            return respond(Json(request, http::status::bad_request,
                                {{"error", "the scope is pay or admin"}, {"field", "scope"}}));
        std::string code = tokens_->NewCode(scope == "admin");
        if (code.empty())
            return respond(Json(request, http::status::service_unavailable, {{"error", "no random source"}}));
        return respond(Json(request, http::status::created,
                            {{"code", code}, {"scope", scope}, {"expires_in", TokenBook::kCodeSeconds}}));
    }
    if (target == "/v1/tokens" && request.method() == http::verb::get)
        return respond(Json(request, http::status::ok, {{"tokens", tokens_->List()}}));
    if (target.compare(0, 11, "/v1/tokens/") == 0 && request.method() == http::verb::delete_) {
        std::string id = target.substr(11);
        bool recorded = true;
        if (!tokens_->Revoke(id, &recorded))
            return respond(Json(request, http::status::not_found, {{"error", "no such token"}}));
        if (!recorded)
            return respond(Json(request, http::status::service_unavailable,
                                {{"error", "the change cannot be recorded: the token still opens"}}));
        LogLine("revoked " + id);
        return respond(Json(request, http::status::ok, {{"revoked", id}}));
    }
    respond(Json(request, http::status::not_found, {{"error", "no such resource"}}));
}

void PaymentService::Run(const OperationInfo& op, const std::vector<std::string>& switches)
{
    RunReport report;
    std::string pending;
    bool overflowed = false;
    platform::RunWatch watch;
    watch.reported = [&](const char* bytes, std::size_t size) {
        if (overflowed) return;
        pending.append(bytes, size);
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
            nlohmann::json line = nlohmann::json::parse(pending.substr(0, end), nullptr, false);
            pending.erase(0, end + 1);
            // Only the lines of the run that this key started count.
            if (!line.is_object() || line.value("run", "") != op.run) continue;
            std::string event = line.value("event", "");
            if (event == "call" && report.call.is_null()) report.call = line;
            else if (event == "end" && report.end.is_null()) report.end = line;
        }
        // Longer than any line Brennick writes: not Brennick's report. What
        // the run did is then unknown, and the bytes are not kept.
        if (pending.size() > JournalLineLimit()) {
            overflowed = true;
            report.call = nullptr;
            report.end = nullptr;
            std::string().swap(pending);
        }
    };
    const std::vector<std::string> environment = {std::string(platform::kRunIdVariable) + "=" + op.run};
    platform::ProgramRun run = platform::RunProgram(brennick_, switches, environment, kOutputLimit, watch);
    report.started = run.started;
    report.startError = run.error;
    if (run.started && run.exited) report.exitCode = run.exitCode;
    report.diagnostics = run.output;
    if (overflowed) {
        // Unknown, whatever the exit code says: the run may have charged.
        report.call = {{"run", op.run}};
        report.diagnostics.clear();
    }
    nlohmann::json answer = MakeAnswer(op, report);
    MaskCardData(&answer);
    store_->Finish(op.key, answer);
    // The terminal told its last operation: an unknown sale of that lane and
    // trace id is unknown no more.
    if (op.operation == "last" && answer.value("state", "") != "unknown" && answer["trace_id"].is_string()) {
        std::string settled = store_->Resolve(op.lane, answer["trace_id"], op.key, answer);
        if (!settled.empty()) LogLine("settled " + Masked(settled) + " from the last operation " + Masked(op.key));
    }
}
