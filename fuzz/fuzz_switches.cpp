// ParseSwitches on arbitrary argument texts: memory safety, and no byte of
// the record outside the switch fields ever changes, and every stored text
// is a piece of the argument text that fits its field.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/switches.h"
#include "paylib/process_state.h"

namespace {

struct Field {
    std::size_t offset, width;
};

#define F(name) {offsetof(UserAuthInt, name), sizeof(UserAuthInt::name)}
const Field kTextFields[] = {F(rfu),      F(pan),      F(amount),          F(original_amount),
                             F(currency), F(terminalID), F(rrn),           F(authCode),
                             F(enc_data), F(TraceID),  F(OriginalDateTime)};
const Field kOperType = F(operType);
#undef F

void Check(bool ok)
{
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    text = text.substr(0, text.find('\0'));
    // The usage screen writes to the terminal and waits; it touches nothing.
    if (text.empty() || text.find("/?") != std::string::npos) return 0;

    static UserAuthInt record;
    std::memset(&record, 0, sizeof record);
    std::memset(g_instanceId, 0, sizeof g_instanceId);
    std::memset(g_errorText, 0, sizeof g_errorText);

    int result = ParseSwitches(&record, text.c_str());
    Check(result == kParseOk || result == kParseNoOperation);

    unsigned char allowed[sizeof record] = {};
    for (const Field& f : kTextFields) std::memset(allowed + f.offset, 1, f.width);
    std::memset(allowed + kOperType.offset, 1, kOperType.width);
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&record);
    for (std::size_t i = 0; i < sizeof record; ++i) Check(allowed[i] || bytes[i] == 0);

    for (const Field& f : kTextFields) {
        const char* field = reinterpret_cast<const char*>(bytes + f.offset);
        std::size_t n = FieldTextLength(field, f.width);
        Check(text.find(std::string(field, n)) != std::string::npos);
        for (std::size_t i = n; i < f.width; ++i) Check(field[i] == '\0');
    }
    Check(std::memchr(g_instanceId, '\0', sizeof g_instanceId) != nullptr);
    if (result == kParseNoOperation) {
        Check(std::strcmp(g_errorText, "No operation defined") == 0);
        for (std::size_t i = 0; i < sizeof record; ++i) Check(bytes[i] == 0);
        Check(g_instanceId[0] == '\0');
    }
    return 0;
}
