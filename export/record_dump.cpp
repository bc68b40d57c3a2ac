#include "export/record_dump.h"

#include <cstring>

namespace {

struct DumpLine {
    const char* name;
    std::size_t offset;
    std::size_t width;   // 0 for an unsigned 32-bit number
};

#define TEXT(name) {#name, offsetof(UserAuthInt, name), sizeof(UserAuthInt::name)}
#define NUMBER(name) {#name, offsetof(UserAuthInt, name), 0}

constexpr DumpLine kDumpLines[] = {
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

constexpr std::size_t LongestDump()
{
    std::size_t n = 0;
    for (const DumpLine& line : kDumpLines) {
        for (const char* c = line.name; *c != '\0'; ++c) ++n;
        n += 2 + (line.width ? line.width : 10) + 1;   // " =", value, "\n"
    }
    return n;
}
static_assert(LongestDump() <= kRecordDumpSize, "the dump buffer holds every record");

std::size_t PutNumber(char* out, std::uint32_t value)
{
    char digits[10];
    std::size_t n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    for (std::size_t i = 0; i < n; ++i) out[i] = digits[n - 1 - i];
    return n;
}

}  // namespace

std::size_t FormatRecordDump(const UserAuthInt* record, char* out)
{
    if (record == nullptr || out == nullptr) return 0;
    const unsigned char* base = reinterpret_cast<const unsigned char*>(record);
    std::size_t n = 0;
    for (const DumpLine& line : kDumpLines) {
        const unsigned char* field = base + line.offset;
        std::size_t nameSize = std::strlen(line.name);
        std::memcpy(out + n, line.name, nameSize);
        n += nameSize;
        out[n++] = ' ';
        out[n++] = '=';
        if (line.width == 0) {
            n += PutNumber(out + n, GetU32(field));
        } else {
            const char* text = reinterpret_cast<const char*>(field);
            std::size_t size = FieldTextLength(text, line.width);
            std::memcpy(out + n, text, size);
            n += size;
        }
        out[n++] = '\n';
    }
    return n;
}

void WriteRecordDump(const UserAuthInt* record, ResultFiles* files)
{
    static char content[kRecordDumpSize];
    WriteResultFile(files, kOutputExTxtFile, content, FormatRecordDump(record, content));
}
