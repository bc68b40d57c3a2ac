#include "brennickd/answer.h"

#include <map>

namespace {

// KEY=VALUE lines between CR LF; the first value of a key counts.
std::map<std::string, std::string> ReadValues(const std::string& text)
{
    std::map<std::string, std::string> values;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find("\r\n", start);
        std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        std::size_t eq = line.find('=');
        if (eq != std::string::npos) values.emplace(line.substr(0, eq), line.substr(eq + 1));
        if (end == std::string::npos) break;
        start = end + 2;
    }
    return values;
}

// The slip in the dump: from "data_to_print =" to the next field's line.
std::string ReadSlip(const std::string& dump)
{
    const std::string marker = "\ndata_to_print =";
    std::size_t at = dump.find(marker);
    if (at == std::string::npos) return "";
    at += marker.size();
    std::size_t end = dump.find("\nhome_operator =", at);
    return dump.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

// Bytes of the ANSI code page as JSON text: each byte one code point.
nlohmann::json Text(const std::string& bytes)
{
    std::string utf8;
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

}  // namespace

nlohmann::json MakeAnswer(const std::string& key, const RunOutcome& run)
{
    nlohmann::json a = {{"key", key}, {"state", "unknown"}, {"exit", nullptr}, {"rc", nullptr},
                        {"text", nullptr}, {"rrn", nullptr}, {"auth_code", nullptr},
                        {"amount", nullptr}, {"currency", nullptr}, {"card", nullptr},
                        {"card_type", nullptr}, {"slip", nullptr}, {"library_fault", false}};
    if (!run.exitCode) return a;   // killed, or never started: nobody can say
    int code = *run.exitCode;
    a["exit"] = code;
    if (code == 2 || code == 255 || code == -1) {
        a["state"] = "not-started";
        // The box's words, for the register's screen.
        std::size_t at = run.diagnostics.rfind("ERROR: ");
        if (at != std::string::npos) {
            std::size_t end = run.diagnostics.find_first_of("\r\n", at);
            a["text"] = Text(run.diagnostics.substr(at + 7, end == std::string::npos ? end : end - at - 7));
        }
        return a;
    }
    if ((code != 0 && code != 4) || !run.outputExDatRead) return a;
    a["library_fault"] = code == 4;
    auto values = ReadValues(run.outputExDat);
    auto put = [&](const char* field, const char* key) {
        auto it = values.find(key);
        if (it != values.end()) a[field] = Text(it->second);
    };
    put("rc", "RC");
    put("text", "TEXT_MSG");
    put("rrn", "RRN");
    put("auth_code", "AUTH_CODE");
    put("amount", "AMOUNT");
    put("currency", "CURRENCY");
    put("card", "PAN");
    put("card_type", "CARD_TYPE");
    std::string slip = ReadSlip(run.outputExTxt);
    if (!slip.empty()) a["slip"] = Text(slip);
    // Without RC the file does not hold the terminal's answer.
    if (values.count("RC") != 0) a["state"] = values["RC"] == "00" ? "approved" : "declined";
    return a;
}
