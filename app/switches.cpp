#include "app/switches.h"

#include <cstring>

#include "app/usage.h"
#include "paylib/process_state.h"

namespace {

// A switch's value: the characters after the switch up to the next blank or
// the end of the text. Only the blank ends a value.
struct Value {
    const char* text;
    std::size_t length;
};

// Finds the first occurrence of a switch; false when it does not occur or its
// value would not fit the value buffer.
bool FindSwitch(const char* argumentText, const char* name, bool* occurs, Value* value)
{
    const char* at = std::strstr(argumentText, name);
    if (occurs != nullptr) *occurs = (at != nullptr);
    if (at == nullptr) return false;
    const char* start = at + std::strlen(name);
    std::size_t length = std::strcspn(start, " ");
    if (length >= kValueBufferSize) return false;
    value->text = start;
    value->length = length;
    return true;
}

// Copies a value to the start of a field whose other bytes stay zero; a value
// longer than the field is dropped whole, never cut.
void StoreText(char* field, std::size_t width, const Value& value)
{
    if (value.length > width) return;
    std::memcpy(field, value.text, value.length);
}

bool IsCSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Every text field receives at most its width: a longer value is dropped,
// since a cut amount, currency or card number would change the payment.
void TakeText(const char* argumentText, const char* name, char* field, std::size_t width)
{
    Value value;
    if (!FindSwitch(argumentText, name, nullptr, &value)) return;
    StoreText(field, width, value);
}

// The id becomes part of two file names and selects a terminal: one that is
// cut, dropped or able to leave the exchange folder would send the outcome
// to another lane. A trailing dot is refused too, as Windows drops it from a
// file name, which would make "7." and "7" share their files.
bool IsUsableInstanceId(const Value& value)
{
    if (value.length > kInstanceIdSize - 1) return false;
    for (std::size_t i = 0; i < value.length; ++i) {
        unsigned char c = static_cast<unsigned char>(value.text[i]);
        if (c < 32 || std::strchr("\"*/:<>?\\|", c) != nullptr) return false;
    }
    return value.length == 0 || value.text[value.length - 1] != '.';
}

void TakeInstanceId(const char* argumentText)
{
    Value value;
    bool occurs = false;
    if (!FindSwitch(argumentText, "/quarnid", &occurs, &value)) {
        // Present but too long for the value buffer.
        if (occurs) g_instanceIdUnusable = true;
        return;
    }
    if (!IsUsableInstanceId(value)) {
        g_instanceIdUnusable = true;
        return;
    }
    std::memset(g_instanceId, 0, kInstanceIdSize);
    std::memcpy(g_instanceId, value.text, value.length);
}

void TakeAmount(UserAuthInt* record, const char* argumentText)
{
    Value value;
    if (!FindSwitch(argumentText, "/a", nullptr, &value)) return;
    // "/ar..." is not an amount, and no later "/a" is looked for.
    if (value.length > 0 && value.text[0] == 'r') return;
    StoreText(record->amount, sizeof record->amount, value);
}

void TakeCard(UserAuthInt* record, const char* argumentText)
{
    Value value;
    if (!FindSwitch(argumentText, "/t", nullptr, &value)) return;
    if (value.length > 0 && value.text[0] == 'D')
        StoreText(record->pan, sizeof record->pan, value);
    else
        StoreText(record->rfu, sizeof record->rfu, value);
}

}  // namespace

std::int32_t ConvertOperationCode(const char* value, std::size_t length)
{
    std::size_t i = 0;
    while (i < length && IsCSpace(value[i])) ++i;
    bool negative = false;
    if (i < length && (value[i] == '+' || value[i] == '-')) {
        negative = (value[i] == '-');
        ++i;
    }
    // Accumulate the magnitude and stop growing past the 32-bit range, so a
    // long run of digits neither overflows nor takes quadratic time.
    const std::int64_t limit = negative ? 2147483648LL : 2147483647LL;
    std::int64_t magnitude = 0;
    for (; i < length && value[i] >= '0' && value[i] <= '9'; ++i) {
        magnitude = magnitude * 10 + (value[i] - '0');
        if (magnitude > limit) magnitude = limit;
    }
    return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

int ParseSwitches(UserAuthInt* record, const char* argumentText)
{
    if (argumentText[0] == '\0' || std::strstr(argumentText, "/?") != nullptr) {
        ShowUsage();
        return kParseUsageShown;
    }

    bool hasOperation = false;
    Value value;
    if (FindSwitch(argumentText, "/o", &hasOperation, &value))
        SetU32(record->operType,
               static_cast<std::uint32_t>(ConvertOperationCode(value.text, value.length)));
    if (!hasOperation && std::strstr(argumentText, "/g") == nullptr) {
        std::strcpy(g_errorText, "No operation defined");
        return kParseNoOperation;
    }

    TakeAmount(record, argumentText);
    TakeText(argumentText, "/h", record->original_amount, sizeof record->original_amount);
    TakeText(argumentText, "/c", record->currency, sizeof record->currency);
    TakeCard(record, argumentText);
    TakeText(argumentText, "/i", record->terminalID, sizeof record->terminalID);
    TakeText(argumentText, "/e", record->enc_data, sizeof record->enc_data);
    TakeText(argumentText, "/v", record->authCode, sizeof record->authCode);
    TakeText(argumentText, "/r", record->rrn, sizeof record->rrn);
    TakeText(argumentText, "/f", record->OriginalDateTime, sizeof record->OriginalDateTime);
    TakeInstanceId(argumentText);
    TakeText(argumentText, "/b", record->TraceID, sizeof record->TraceID);
    return kParseOk;
}
