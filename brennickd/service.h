// The API: what each request gets, whatever carries it.
#pragma once

#include <boost/beast/http.hpp>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "brennickd/options.h"
#include "brennickd/store.h"
#include "brennickd/tokens.h"

namespace http = boost::beast::http;

using Request = http::request<http::string_body>;
using Response = http::response<http::string_body>;
using Respond = std::function<void(Response)>;

// What a reload (SIGHUP) may change while payments run.
struct ServiceSettings {
    std::string token;      // opens everything
    std::string payToken;   // purchases and their keys only; empty: none
    std::vector<std::string> allowedOrigins;
    std::vector<std::string> allowedHosts;
    int waitSeconds = 90;
};

class PaymentService {
public:
    PaymentService(const Options& options, ServiceSettings settings, std::string brennick, OperationStore* store,
                   TokenBook* tokens);
    // Takes new settings for the requests that come from now on.
    void Reload(ServiceSettings settings);

    // The port the server took: a Host header must name it.
    void SetPort(unsigned short port) { port_ = port; }
    // From now on no new operation starts (503); running ones go on.
    void BeginStop() { stopping_ = true; }

    // Answers request through respond, at once or when its run has ended
    // (from another thread).
    void Handle(const Request& request, const Respond& respond);
    void Serve(const Request& request, const Respond& respond);
    // An answer to a request that could not be read whole (too large), with
    // the CORS headers its origin gets, so that a page can read the error.
    Response Refusal(const Request& partial, http::status status, const std::string& error) const;

private:
    Response Json(const Request& request, http::status status, const nlohmann::json& body) const;
    void AddCors(const Request& request, Response* response) const;
    // OK with who the request speaks for, else the status and the words.
    http::status Authenticate(const Request& request, Credential* who, std::string* refused) const;
    bool HostAllowed(const Request& request) const;
    bool OriginAllowed(const Request& request, std::string* origin) const;
    bool Owns(const Credential& who, const std::string& owner) const;
    void Post(const Request& request, const Respond& respond, const Credential& who);
    void Pair(const Request& request, const Respond& respond);
    void Admin(const Request& request, const Respond& respond);
    void Run(const OperationInfo& op, const std::vector<std::string>& switches);

    const Options& options_;
    std::shared_ptr<const ServiceSettings> Settings() const;

    mutable std::mutex settingsMutex_;
    std::shared_ptr<const ServiceSettings> settings_;
    std::string brennick_;
    OperationStore* store_;
    TokenBook* tokens_;
    unsigned short port_ = 0;
    std::atomic<bool> stopping_{false};
};
