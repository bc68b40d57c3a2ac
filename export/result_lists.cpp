#include "export/result_lists.h"

#include <cstdio>
#include <cstring>

#include "paylib/settings.h"

// Defined together, in this order, so that the result list is constructed
// first and the keyed list released first.
ResultList g_resultList;
ResultList g_keyedResultList;

namespace {

enum class Taking { Text, TextWithoutLeadingZeros, AllBytes };

struct ExportKey {
    const char* key;
    std::size_t offset;
    std::size_t width;
    Taking taking;
};

#define FIELD(name) offsetof(UserAuthInt, name), sizeof(UserAuthInt::name)

const ExportKey kExportKeys[] = {
    {"RC", FIELD(responseCode), Taking::Text},
    {"PAN", FIELD(pan), Taking::Text},
    {"TID", FIELD(terminalID), Taking::Text},
    {"AUTH_CODE", FIELD(authCode), Taking::Text},
    {"APP_LABLE", FIELD(ApplicationLabel), Taking::Text},
    {"TEXT_MSG", FIELD(text_msg), Taking::Text},
    {"TRACE_ID", FIELD(TraceID), Taking::Text},
    {"ORIGINAL_DATE_TIME", FIELD(OriginalDateTime), Taking::Text},
    {"CARD_TYPE", FIELD(cardType), Taking::Text},
    {"AMOUNT", FIELD(amount), Taking::TextWithoutLeadingZeros},
    {"ENC_DATA", FIELD(enc_data), Taking::AllBytes},
    {"RRN", FIELD(rrn), Taking::Text},
};

#undef FIELD

std::string TakeValue(const UserAuthInt* record, const ExportKey& k)
{
    const char* field = reinterpret_cast<const char*>(record) + k.offset;
    std::size_t width = k.width;
    if (k.taking == Taking::AllBytes) return std::string(field, width);
    if (k.taking == Taking::TextWithoutLeadingZeros) {
        while (width > 0 && *field == '0') {
            ++field;
            --width;
        }
    }
    return std::string(field, FieldTextLength(field, width));
}

// Writes bytes up to the first NUL, with each LF as CR LF.
void WriteLine(std::FILE* file, const std::string& bytes)
{
    const char* p = bytes.data();
    const char* end = p + FieldTextLength(p, bytes.size());
    while (p < end) {
        const char* lf = static_cast<const char*>(std::memchr(p, '\n', end - p));
        const char* stop = lf ? lf : end;
        std::fwrite(p, 1, stop - p, file);
        if (lf == nullptr) break;
        std::fwrite("\r\n", 1, 2, file);
        p = lf + 1;
    }
}

}  // namespace

void ExportResults(const UserAuthInt* record)
{
    for (const ExportKey& k : kExportKeys) AddResult(k.key, TakeValue(record, k));
    WriteResultFiles();
}

void AddResult(const std::string& key, const std::string& value)
{
    g_resultList.push_back(value);
    AddKeyedResult(key, value);
}

void AddKeyedResult(const std::string& key, const std::string& value)
{
    const std::string prefix = key + "=";
    for (const std::string& entry : g_keyedResultList)
        if (entry.compare(0, prefix.size(), prefix) == 0) return;
    if (value.empty()) return;
    g_keyedResultList.push_back(prefix + value);
}

void WriteResultFiles()
{
    WriteResultList(g_resultList, g_outputDatPath);
    WriteResultList(g_keyedResultList, g_outputExDatPath);
}

void WriteResultList(const ResultList& list, const char* path)
{
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) return;
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (i > 0) std::fwrite("\r\n", 1, 2, file);
        WriteLine(file, list[i]);
    }
    std::fclose(file);
}
