// The API: what each request gets, whatever carries it.
#pragma once

#include <boost/beast/http.hpp>

#include <functional>
#include <string>

#include "brennickd/options.h"
#include "brennickd/store.h"

namespace http = boost::beast::http;

using Request = http::request<http::string_body>;
using Response = http::response<http::string_body>;
using Respond = std::function<void(Response)>;

class PaymentService {
public:
    PaymentService(const Options& options, std::string token, std::string brennick,
                   std::string exchangeDat, std::string exchangeTxt, OperationStore* store);

    // Answers request through respond, at once or when its run has ended
    // (from another thread).
    void Handle(const Request& request, const Respond& respond);

private:
    Response Json(const Request& request, http::status status, const nlohmann::json& body) const;
    void AddCors(const Request& request, Response* response) const;
    bool Authorized(const Request& request) const;
    void Post(const Request& request, const Respond& respond);
    void Run(const std::string& key, const std::vector<std::string>& switches, const std::string& lane);

    const Options& options_;
    std::string token_;
    std::string brennick_;
    std::string exchangeDat_;   // output_ex.dat of the plain lane
    std::string exchangeTxt_;
    OperationStore* store_;
};
