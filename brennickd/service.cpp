#include "brennickd/service.h"

#include <fstream>
#include <sstream>
#include <thread>

#include "brennickd/answer.h"
#include "brennickd/request.h"
#include "platform/process.h"

#ifndef BRENNICK_VERSION
#define BRENNICK_VERSION "0.0.0"
#endif

namespace {

constexpr std::size_t kOutputLimit = 64 * 1024;

std::string Slurp(const std::string& path, bool* read)
{
    std::ifstream in(path, std::ios::binary);
    *read = static_cast<bool>(in);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Compares in time that does not depend on where the texts differ (the
// secret is never empty).
bool SameSecret(const std::string& given, const std::string& secret)
{
    std::size_t diff = given.size() ^ secret.size();
    for (std::size_t i = 0; i < given.size(); ++i)
        diff |= static_cast<unsigned char>(given[i] ^ secret[i % secret.size()]);
    return diff == 0;
}

}  // namespace

PaymentService::PaymentService(const Options& options, std::string token, std::string brennick,
                               std::string exchangeDat, std::string exchangeTxt, OperationStore* store)
    : options_(options), token_(std::move(token)), brennick_(std::move(brennick)),
      exchangeDat_(std::move(exchangeDat)), exchangeTxt_(std::move(exchangeTxt)), store_(store)
{
}

void PaymentService::AddCors(const Request& request, Response* response) const
{
    auto origin = request.find(http::field::origin);
    if (origin == request.end()) return;
    std::string value(origin->value());
    for (const std::string& allowed : options_.allowedOrigins) {
        if (allowed != value) continue;
        response->set(http::field::access_control_allow_origin, value);
        response->set(http::field::vary, "Origin");
        return;
    }
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

bool PaymentService::Authorized(const Request& request) const
{
    auto header = request.find(http::field::authorization);
    if (header == request.end()) return false;
    std::string value(header->value());
    const std::string scheme = "Bearer ";
    if (value.compare(0, scheme.size(), scheme) != 0) return false;
    return SameSecret(value.substr(scheme.size()), token_);
}

void PaymentService::Handle(const Request& request, const Respond& respond)
{
    std::string target(request.target());
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
    if (!Authorized(request))
        return respond(Json(request, http::status::unauthorized, {{"error", "a bearer token is required"}}));

    const std::string operations = "/v1/operations";
    if (target == operations && request.method() == http::verb::post) return Post(request, respond);
    if (target.compare(0, operations.size() + 1, operations + "/") == 0 &&
        request.method() == http::verb::get) {
        nlohmann::json found = store_->Lookup(target.substr(operations.size() + 1));
        if (found.is_null())
            return respond(Json(request, http::status::not_found, {{"error", "no such key"}}));
        return respond(Json(request, http::status::ok, found));
    }
    if (target == "/v1/status" && request.method() == http::verb::get) {
        std::string folder = exchangeDat_.substr(0, exchangeDat_.find_last_of("/\\") + 1);
        return respond(Json(request, http::status::ok,
                            {{"version", BRENNICK_VERSION}, {"brennick", brennick_},
                             {"exchange", folder}, {"busy_lanes", store_->BusyLanes()}}));
    }
    respond(Json(request, http::status::not_found, {{"error", "no such resource"}}));
}

void PaymentService::Post(const Request& request, const Respond& respond)
{
    auto keyHeader = request.find("Idempotency-Key");
    std::string key = keyHeader == request.end() ? "" : std::string(keyHeader->value());
    if (!IsValidKey(key))
        return respond(Json(request, http::status::bad_request,
                            {{"error", "1 to 64 letters, digits, '-' and '_'"}, {"field", "Idempotency-Key"}}));
    OperationRequest op;
    RequestError error;
    if (!ParseOperationRequest(request.body(), &op, &error)) {
        nlohmann::json body = {{"error", error.message}};
        if (!error.field.empty()) body["field"] = error.field;
        return respond(Json(request, http::status::bad_request, body));
    }
    // The answer goes out when the run ends, to every request with the key.
    Request copy = request;
    auto waiter = [this, copy, respond](const nlohmann::json& answer) {
        respond(Json(copy, http::status::ok, answer));
    };
    nlohmann::json answer;
    switch (store_->Start(key, op.canonical, op.lane, waiter, &answer)) {
    case OperationStore::Begin::kDone: return respond(Json(request, http::status::ok, answer));
    case OperationStore::Begin::kOtherBody:
        return respond(Json(request, http::status::unprocessable_entity,
                            {{"error", "this key was used with another body"}, {"field", "Idempotency-Key"}}));
    case OperationStore::Begin::kLaneBusy:
        return respond(Json(request, http::status::conflict,
                            {{"error", "the lane is busy with another operation"}, {"field", "lane"}}));
    case OperationStore::Begin::kRunning: return;
    case OperationStore::Begin::kStarted: break;
    }
    std::thread(&PaymentService::Run, this, key, op.switches, op.lane).detach();
}

void PaymentService::Run(const std::string& key, const std::vector<std::string>& switches,
                         const std::string& lane)
{
    std::string suffix = lane.empty() ? "" : "-" + lane;
    platform::ProgramRun run = platform::RunProgram(brennick_, switches, kOutputLimit);
    RunOutcome outcome;
    if (run.started && run.exited) outcome.exitCode = run.exitCode;
    outcome.diagnostics = run.output;
    outcome.outputExDat = Slurp(exchangeDat_ + suffix, &outcome.outputExDatRead);
    bool ignored = false;
    outcome.outputExTxt = Slurp(exchangeTxt_ + suffix, &ignored);
    nlohmann::json answer = MakeAnswer(key, outcome);
    if (!run.started) {
        answer["state"] = "not-started";
        answer["text"] = "Brennick could not be started: " + run.error;
    }
    store_->Finish(key, answer);
}
