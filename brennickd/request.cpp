#include "brennickd/request.h"

#include <cctype>
#include <map>
#include <set>

namespace {

enum class Kind { kDigits, kCode, kText, kLane };

struct Field {
    const char* name;
    const char* switchName;
    Kind kind;
    std::size_t maxLength;   // the record field's width, as Brennick takes it
};

const Field kFields[] = {
    {"amount", "/a", Kind::kDigits, 13},
    {"original_amount", "/h", Kind::kDigits, 13},
    {"currency", "/c", Kind::kDigits, 4},
    {"rrn", "/r", Kind::kCode, 13},
    {"auth_code", "/v", Kind::kCode, 9},
    {"original_date_time", "/f", Kind::kDigits, 13},
    {"terminal_id", "/i", Kind::kCode, 9},
    {"trace_id", "/b", Kind::kText, 61},
    {"lane", "/quarnid", Kind::kLane, 19},
};

const std::map<std::string, int> kOperations = {
    {"purchase", 1}, {"refund", 2}, {"cancel", 3}, {"end-of-day", 7}, {"last", 8}};

bool Fits(const std::string& v, Kind kind, std::size_t maxLength)
{
    if (v.empty() || v.size() > maxLength) return false;
    for (unsigned char c : v) {
        bool ok = false;
        switch (kind) {
        case Kind::kDigits: ok = std::isdigit(c) != 0; break;
        case Kind::kCode: ok = std::isalnum(c) != 0; break;
        case Kind::kLane: ok = std::isalnum(c) != 0 || c == '-' || c == '_'; break;
        // No blank (it ends a value), no '/' (it starts a switch), no quote.
        case Kind::kText: ok = c > 0x20 && c < 0x7f && c != '/' && c != '"'; break;
        }
        if (!ok) return false;
    }
    return true;
}

// Finds a key that an object of the text holds twice.
class DuplicateKeys : public nlohmann::json_sax<nlohmann::json> {
public:
    bool found = false;
    bool null() override { return true; }
    bool boolean(bool) override { return true; }
    bool number_integer(number_integer_t) override { return true; }
    bool number_unsigned(number_unsigned_t) override { return true; }
    bool number_float(number_float_t, const string_t&) override { return true; }
    bool string(string_t&) override { return true; }
    bool binary(binary_t&) override { return true; }
    bool start_object(std::size_t) override
    {
        keys_.emplace_back();
        return true;
    }
    bool key(string_t& k) override
    {
        found = found || !keys_.back().insert(k).second;
        return !found;
    }
    bool end_object() override
    {
        keys_.pop_back();
        return true;
    }
    bool start_array(std::size_t) override { return true; }
    bool end_array() override { return true; }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override
    {
        return false;
    }

private:
    std::vector<std::set<std::string>> keys_;
};

bool Fail(RequestError* error, const std::string& message, const std::string& field)
{
    error->message = message;
    error->field = field;
    return false;
}

}  // namespace

bool IsValidKey(const std::string& key)
{
    return Fits(key, Kind::kLane, 64);
}

bool ParseOperationRequest(const std::string& body, OperationRequest* request, RequestError* error)
{
    nlohmann::json j = nlohmann::json::parse(body, nullptr, false);
    if (j.is_discarded() || !j.is_object()) return Fail(error, "the body is not a JSON object", "");
    DuplicateKeys duplicates;
    nlohmann::json::sax_parse(body, &duplicates);
    if (duplicates.found) return Fail(error, "a field is given twice", "");

    for (const auto& item : j.items()) {
        bool known = item.key() == "operation";
        for (const Field& f : kFields) known = known || item.key() == f.name;
        if (!known) return Fail(error, "unknown field", item.key());
    }

    request->switches.clear();
    request->lane.clear();
    request->traceId.clear();
    request->currency.clear();
    if (!j.contains("operation")) return Fail(error, "an operation is required", "operation");
    const nlohmann::json& op = j["operation"];
    long long code = -1;
    if (op.is_string() && kOperations.count(op.get<std::string>()) != 0)
        code = kOperations.at(op.get<std::string>());
    else if (op.is_number_unsigned() && op.get<unsigned long long>() <= 2147483647ULL)
        code = static_cast<long long>(op.get<unsigned long long>());
    if (code < 0)
        return Fail(error, "purchase, refund, cancel, end-of-day or an operation code", "operation");
    request->switches.push_back("/o" + std::to_string(code));
    request->operation = op;

    for (const Field& f : kFields) {
        if (!j.contains(f.name)) continue;
        const nlohmann::json& v = j[f.name];
        std::string text;
        if (v.is_number_unsigned() && f.kind == Kind::kDigits)
            text = std::to_string(v.get<unsigned long long>());
        else if (v.is_string())
            text = v.get<std::string>();
        else
            return Fail(error, f.kind == Kind::kDigits ? "a whole number or a string of digits" : "a string",
                        f.name);
        if (!Fits(text, f.kind, f.maxLength)) {
            const char* what = f.kind == Kind::kDigits ? "digits"
                               : f.kind == Kind::kCode ? "letters and digits"
                               : f.kind == Kind::kLane ? "letters, digits, '-' and '_'"
                                                       : "printable characters without blank, '/' or '\"'";
            return Fail(error, "1 to " + std::to_string(f.maxLength) + " " + what, f.name);
        }
        request->switches.push_back(f.switchName + text);
        if (f.kind == Kind::kLane) request->lane = text;
        if (std::string(f.name) == "trace_id") request->traceId = text;
        if (std::string(f.name) == "currency") request->currency = text;
    }
    request->canonical = j.dump();
    return true;
}
