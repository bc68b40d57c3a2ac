#include "export/result_lists.h"

#include <cstring>

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

static_assert(sizeof kExportKeys / sizeof kExportKeys[0] <= kResultListCapacity,
              "one export fits the lists");
static_assert(sizeof("ORIGINAL_DATE_TIME=") - 1 + sizeof(UserAuthInt::cardType) <=
                  kResultEntrySize,
              "the longest keyed entry fits");

// Appends an entry made of up to two pieces; what does not fit is left out.
void Append(ResultList* list, const char* head, std::size_t headSize, const char* tail,
            std::size_t tailSize)
{
    if (list->count == kResultListCapacity) return;
    ResultEntry& e = list->entries[list->count++];
    if (headSize > kResultEntrySize) headSize = kResultEntrySize;
    if (tailSize > kResultEntrySize - headSize) tailSize = kResultEntrySize - headSize;
    std::memcpy(e.bytes, head, headSize);
    if (tailSize > 0) std::memcpy(e.bytes + headSize, tail, tailSize);
    e.length = headSize + tailSize;
}

// The value of one key: its start and length within the record.
void TakeValue(const UserAuthInt* record, const ExportKey& k, const char** value,
               std::size_t* size)
{
    const char* field = reinterpret_cast<const char*>(record) + k.offset;
    if (k.taking == Taking::TextWithoutLeadingZeros)
        *value = AmountWithoutLeadingZeros(field, k.width, size);
    else {
        *value = field;
        *size = k.taking == Taking::AllBytes ? k.width : FieldTextLength(field, k.width);
    }
}

}  // namespace

const char* AmountWithoutLeadingZeros(const char* field, std::size_t width, std::size_t* size)
{
    while (width > 0 && *field == '0') {
        ++field;
        --width;
    }
    *size = FieldTextLength(field, width);
    return field;
}

void AddResult(const char* key, const char* value, std::size_t size)
{
    Append(&g_resultList, value, size, nullptr, 0);
    AddKeyedResult(key, value, size);
}

void AddKeyedResult(const char* key, const char* value, std::size_t size)
{
    // The prefix is the key and "=": a longer key sharing its start is another key.
    char prefix[kResultEntrySize];
    std::size_t keySize = std::strlen(key);
    if (keySize + 1 > sizeof prefix) return;
    std::memcpy(prefix, key, keySize);
    prefix[keySize] = '=';
    for (std::size_t i = 0; i < g_keyedResultList.count; ++i) {
        const ResultEntry& e = g_keyedResultList.entries[i];
        if (e.length >= keySize + 1 && std::memcmp(e.bytes, prefix, keySize + 1) == 0) return;
    }
    if (size == 0) return;
    Append(&g_keyedResultList, prefix, keySize + 1, value, size);
}

std::size_t FormatResultList(const ResultList& list, char* out)
{
    std::size_t n = 0;
    for (std::size_t i = 0; i < list.count; ++i) {
        if (i > 0) {
            out[n++] = '\r';
            out[n++] = '\n';
        }
        const ResultEntry& e = list.entries[i];
        for (std::size_t j = 0; j < e.length && e.bytes[j] != '\0'; ++j) {
            if (e.bytes[j] == '\n') out[n++] = '\r';
            out[n++] = e.bytes[j];
        }
    }
    return n;
}

void ExportResults(const UserAuthInt* record, ResultFiles* files)
{
    for (const ExportKey& k : kExportKeys) {
        const char* value;
        std::size_t size;
        TakeValue(record, k, &value, &size);
        AddResult(k.key, value, size);
    }
    static char content[kResultListFileSize];
    WriteResultFile(files, kOutputDatFile, content, FormatResultList(g_resultList, content));
    WriteResultFile(files, kOutputExDatFile, content,
                    FormatResultList(g_keyedResultList, content));
}
