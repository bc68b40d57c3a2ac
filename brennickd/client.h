// The administrator's commands (pair, tokens) as requests to the running
// service: it alone holds the codes and the paired tokens.
#pragma once

#include <boost/beast/http/verb.hpp>
#include <nlohmann/json.hpp>

#include <string>

#include "brennickd/options.h"

// Sends one request with the admin token to the service on the options'
// address; false with a message when no answer came.
bool AskService(const Options& options, boost::beast::http::verb verb, const std::string& target,
                const std::string& body, const std::string& token, int* status, nlohmann::json* answer,
                std::string* message);
