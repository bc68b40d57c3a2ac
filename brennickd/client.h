// The administrator's commands (pair, tokens) as requests to the running
// service: it alone holds the codes and the paired tokens.
#pragma once

#include <boost/beast/http/verb.hpp>
#include <nlohmann/json.hpp>

#include <string>

#include "brennickd/options.h"

// How long a command waits for a service that does not listen yet.
constexpr int kWaitSeconds = 10;

// Sends one request with the admin token to the service on the options'
// address, waiting up to kWaitSeconds for it to listen; false with a
// message when no answer came.
bool AskService(const Options& options, boost::beast::http::verb verb, const std::string& target,
                const std::string& body, const std::string& token, int* status, nlohmann::json* answer,
                std::string* message);
