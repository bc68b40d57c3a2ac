#include "export/record_dump.h"

#include "paylib/settings.h"

namespace {

struct DumpLine {
    const char* name;
    std::size_t offset;
    int width;          // 0 for an unsigned 32-bit number
};

#define TEXT(name) {#name, offsetof(UserAuthInt, name), sizeof(UserAuthInt::name)}
#define NUMBER(name) {#name, offsetof(UserAuthInt, name), 0}

const DumpLine kDumpLines[] = {
    NUMBER(handle),        NUMBER(operType),         TEXT(rfu),
    TEXT(pan),             TEXT(expiry),             TEXT(pay_acc),
    TEXT(additional_payment_data),                   TEXT(amount),
    TEXT(original_amount), TEXT(currency),           TEXT(terminalID),
    TEXT(rrn),             TEXT(authCode),           TEXT(responseCode),
    TEXT(cardType),        TEXT(date),               TEXT(time),
    TEXT(payment_data),    TEXT(data_to_print),      TEXT(home_operator),
    TEXT(AID),             TEXT(ApplicationLabel),   TEXT(TVR),
    NUMBER(system_res),    TEXT(enc_data),           TEXT(TraceID),
};

#undef TEXT
#undef NUMBER

static_assert(sizeof kDumpLines / sizeof kDumpLines[0] == 26, "26 dump lines");

}  // namespace

void DumpRecord(const UserAuthInt* record, std::FILE* stream)
{
    if (record == nullptr || stream == nullptr) return;
    const unsigned char* base = reinterpret_cast<const unsigned char*>(record);
    for (const DumpLine& line : kDumpLines) {
        const unsigned char* field = base + line.offset;
        int written;
        if (line.width == 0) {
            written = std::fprintf(stream, "%s =%u\n", line.name,
                                   static_cast<unsigned>(GetU32(field)));
        } else {
            written = std::fprintf(stream, "%s =%.*s\n", line.name, line.width,
                                   reinterpret_cast<const char*>(field));
        }
        if (written < 0) return;
    }
}

void WriteRecordDump(const UserAuthInt* record)
{
    std::FILE* file = std::fopen(g_outputExTxtPath, "wb");
    if (file == nullptr) return;
    DumpRecord(record, file);
    std::fclose(file);
}
