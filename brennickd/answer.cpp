#include "brennickd/answer.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "export/card_mask.h"
#include "platform/text.h"

namespace {

AnswerRules g_rules;
std::mutex g_rulesMutex;

AnswerRules Rules()
{
    std::lock_guard<std::mutex> lock(g_rulesMutex);
    return g_rules;
}

// Bytes of the library's code page as UTF-8 text.
std::string FromCodePage(const std::string& bytes)
{
    std::string utf8;
    if (platform::CodePageToUtf8(bytes, Rules().codePage, &utf8)) return utf8;
    // A code page that does not exist: each byte the letter of its value.
    utf8.clear();
    for (unsigned char c : bytes) {
        if (c < 0x80) {
            utf8 += static_cast<char>(c);
        } else {
            utf8 += static_cast<char>(0xC0 | (c >> 6));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return utf8;
}

// The journal's JSON carries each byte above 127 as \u00XX: its bytes again,
// then read from the code page.
nlohmann::json Decoded(const nlohmann::json& text)
{
    if (!text.is_string()) return text;
    const std::string& s = text.get_ref<const std::string&>();
    std::string bytes;
    for (std::size_t i = 0; i < s.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            bytes += static_cast<char>(c);
        } else if ((c & 0xE0) == 0xC0 && i + 1 < s.size()) {
            bytes += static_cast<char>(((c & 0x1F) << 6) | (static_cast<unsigned char>(s[++i]) & 0x3F));
        } else {
            return text;   // not what the journal writes: left as it is
        }
    }
    return FromCodePage(bytes);
}

nlohmann::json TextOf(const nlohmann::json& object, const char* key)
{
    if (!object.is_object()) return nullptr;
    auto it = object.find(key);
    if (it == object.end() || !it->is_string()) return nullptr;
    return *it;
}

// The box's last words on Brennick's output, for a run that reported nothing.
nlohmann::json BoxWords(const std::string& diagnostics)
{
    std::size_t at = diagnostics.rfind("ERROR: ");
    if (at == std::string::npos) return nullptr;
    std::size_t end = diagnostics.find_first_of("\r\n", at);
    return FromCodePage(diagnostics.substr(at + 7, end == std::string::npos ? end : end - at - 7));
}

// The amount as the register sent it: a whole number of minor units.
nlohmann::json Amount(const nlohmann::json& text)
{
    if (!text.is_string()) return nullptr;
    const std::string& s = text.get_ref<const std::string&>();
    if (s.empty() || s.size() > 15 || s.find_first_not_of("0123456789") != std::string::npos) return nullptr;
    return std::stoll(s);
}

}  // namespace

void SetAnswerRules(const AnswerRules& rules)
{
    std::lock_guard<std::mutex> lock(g_rulesMutex);
    g_rules = rules;
}

nlohmann::json MakeAnswer(const OperationInfo& op, const RunReport& run)
{
    nlohmann::json a = {{"key", op.key}, {"state", "unknown"}, {"exit", nullptr}, {"outcome", nullptr},
                        {"resolve", "ask the lane's last operation and compare trace_id"},
                        {"rc", nullptr}, {"text", nullptr}, {"rrn", nullptr}, {"auth_code", nullptr},
                        {"amount", nullptr}, {"currency", nullptr}, {"card", nullptr},
                        {"card_type", nullptr}, {"slip", nullptr}, {"library_fault", false},
                        {"operation", op.operation}, {"lane", op.lane.empty() ? nullptr : nlohmann::json(op.lane)},
                        {"trace_id", op.traceId.empty() ? nullptr : nlohmann::json(op.traceId)},
                        {"run", nullptr}, {"started", op.started}};
    if (!op.currency.empty()) a["currency"] = Amount(op.currency);
    if (!run.started) {
        a["state"] = "not-started";
        a.erase("resolve");
        a["text"] = "Brennick could not be started: " + run.startError;
        return a;
    }
    if (run.exitCode) a["exit"] = *run.exitCode;
    a["run"] = TextOf(run.call, "run");
    if (!run.end.is_object()) {
        // A call without an end: the terminal may have charged. Without a
        // call line only a run that said it stopped before it is certain.
        if (run.call.is_null() && run.exitCode && (*run.exitCode == 2 || *run.exitCode == 255)) {
            a["state"] = "not-started";
            a.erase("resolve");
            a["text"] = BoxWords(run.diagnostics);
        }
        return a;
    }
    const nlohmann::json& end = run.end;
    a["run"] = TextOf(end, "run");
    a["outcome"] = TextOf(end, "outcome");
    if (!run.exitCode && end.contains("exit") && end["exit"].is_number_integer()) a["exit"] = end["exit"];
    bool called = run.call.is_object() || end.contains("ms") || end.contains("result");
    if (!called) {
        a["state"] = "not-started";
        a.erase("resolve");
        a["text"] = Decoded(TextOf(end, "box"));
        return a;
    }
    std::string outcome = end.value("outcome", "");
    a["library_fault"] = outcome == "library-fault" || outcome == "library-exit";
    const nlohmann::json result = end.contains("result") ? end["result"] : nlohmann::json::object();
    a["rc"] = TextOf(result, "RC");
    a["text"] = Decoded(TextOf(result, "TEXT_MSG"));
    a["rrn"] = TextOf(result, "RRN");
    a["auth_code"] = TextOf(result, "AUTH_CODE");
    a["amount"] = Amount(TextOf(result, "AMOUNT"));
    if (!TextOf(result, "CURRENCY").is_null()) a["currency"] = Amount(TextOf(result, "CURRENCY"));
    // The terminal's own words on which operation this was: for the last
    // operation, the trace id of the sale it tells about.
    if (!TextOf(result, "TRACE_ID").is_null()) a["trace_id"] = Decoded(TextOf(result, "TRACE_ID"));
    a["terminal_date"] = TextOf(result, "DATE");
    a["terminal_time"] = TextOf(result, "TIME");
    a["card"] = TextOf(result, "PAN");
    a["card_type"] = Decoded(TextOf(result, "CARD_TYPE"));
    a["slip"] = Decoded(TextOf(end, "data_to_print"));
    // Without RC the record does not hold the terminal's answer.
    if (a["rc"].is_string()) {
        const auto codes = Rules().approvedCodes;
        bool approved = std::find(codes.begin(), codes.end(), a["rc"].get<std::string>()) != codes.end();
        a["state"] = approved ? "approved" : "declined";
    }
    if (a["state"] != "unknown") a.erase("resolve");
    return a;
}

void MaskCardData(nlohmann::json* value)
{
    if (value->is_string()) {
        std::string& s = value->get_ref<std::string&>();
        MaskCardNumbers(s.data(), s.size());
    } else if (value->is_structured()) {
        for (auto& item : *value) MaskCardData(&item);
    }
}
