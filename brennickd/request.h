// An operation as a web register asks for it: checked field by field before
// anything runs, and turned into Brennick's switches, one word each.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

struct OperationRequest {
    std::vector<std::string> switches;   // "/o1", "/a221", ...
    std::string lane;                    // the instance id, "" for none
    std::string canonical;               // the body as compared for a repeated key
    nlohmann::json operation;            // as the register named it
    std::string traceId;                 // "" for none
    std::string currency;                // "" for none
};

struct RequestError {
    std::string message;
    std::string field;   // empty when the body as a whole is wrong
};

// Fills request from a JSON body; false with error for anything Brennick
// would not take as it stands: unknown fields, wrong types, a value too long
// for its field, a character that could end a value or start a switch, a
// key given twice (which of the two would count is anybody's guess).
bool ParseOperationRequest(const std::string& body, OperationRequest* request, RequestError* error);

// An idempotency key: 1 to 64 letters, digits, '-' and '_'.
bool IsValidKey(const std::string& key);
