// The transaction record exchanged in place with the payment library.
// Its layout is the library's binary interface: every offset is fixed and
// checked below, integers are little-endian and may lie at odd offsets.
#pragma once

#include <cstddef>
#include <cstdint>

// A 32-bit little-endian unsigned integer stored as raw bytes, so that no
// access depends on alignment or on the host's byte order.
typedef unsigned char U32LE[4];

#pragma pack(push, 1)
struct UserAuthInt {
    U32LE handle;                        // 0
    unsigned char reserved0[4];          // 4
    U32LE operType;                      // 8
    char rfu[60];                        // 12
    char pan[20];                        // 72
    char expiry[5];                      // 92
    char pay_acc[20];                    // 97
    char additional_payment_data[80];    // 117
    char amount[13];                     // 197
    char original_amount[13];            // 210
    char currency[4];                    // 223
    char terminalID[9];                  // 227
    char rrn[13];                        // 236
    char authCode[9];                    // 249
    char responseCode[4];                // 258
    char cardType[80];                   // 262
    char date[7];                        // 342
    char time[7];                        // 349
    char payment_data[50];               // 356
    char data_to_print[50];              // 406
    char home_operator[50];              // 456
    unsigned char reserved1[80];         // 506
    char text_msg[80];                   // 586
    char AID[80];                        // 666
    char ApplicationLabel[80];           // 746
    char TVR[80];                        // 826
    U32LE system_res;                    // 906
    unsigned char reserved2[257];        // 910
    char enc_data[64];                   // 1167
    unsigned char reserved3[239];        // 1231
    char TraceID[61];                    // 1470
    char OriginalDateTime[13];           // 1531
    unsigned char reserved4[1395];       // 1544
};
#pragma pack(pop)

constexpr std::uint32_t kRecordSize = 2939;

static_assert(sizeof(UserAuthInt) == kRecordSize, "record size");
static_assert(alignof(UserAuthInt) == 1, "record must be byte-packed");
static_assert(offsetof(UserAuthInt, handle) == 0, "handle");
static_assert(offsetof(UserAuthInt, reserved0) == 4, "reserved0");
static_assert(offsetof(UserAuthInt, operType) == 8, "operType");
static_assert(offsetof(UserAuthInt, rfu) == 12, "rfu");
static_assert(offsetof(UserAuthInt, pan) == 72, "pan");
static_assert(offsetof(UserAuthInt, expiry) == 92, "expiry");
static_assert(offsetof(UserAuthInt, pay_acc) == 97, "pay_acc");
static_assert(offsetof(UserAuthInt, additional_payment_data) == 117, "additional_payment_data");
static_assert(offsetof(UserAuthInt, amount) == 197, "amount");
static_assert(offsetof(UserAuthInt, original_amount) == 210, "original_amount");
static_assert(offsetof(UserAuthInt, currency) == 223, "currency");
static_assert(offsetof(UserAuthInt, terminalID) == 227, "terminalID");
static_assert(offsetof(UserAuthInt, rrn) == 236, "rrn");
static_assert(offsetof(UserAuthInt, authCode) == 249, "authCode");
static_assert(offsetof(UserAuthInt, responseCode) == 258, "responseCode");
static_assert(offsetof(UserAuthInt, cardType) == 262, "cardType");
static_assert(offsetof(UserAuthInt, date) == 342, "date");
static_assert(offsetof(UserAuthInt, time) == 349, "time");
static_assert(offsetof(UserAuthInt, payment_data) == 356, "payment_data");
static_assert(offsetof(UserAuthInt, data_to_print) == 406, "data_to_print");
static_assert(offsetof(UserAuthInt, home_operator) == 456, "home_operator");
static_assert(offsetof(UserAuthInt, reserved1) == 506, "reserved1");
static_assert(offsetof(UserAuthInt, text_msg) == 586, "text_msg");
static_assert(offsetof(UserAuthInt, AID) == 666, "AID");
static_assert(offsetof(UserAuthInt, ApplicationLabel) == 746, "ApplicationLabel");
static_assert(offsetof(UserAuthInt, TVR) == 826, "TVR");
static_assert(offsetof(UserAuthInt, system_res) == 906, "system_res");
static_assert(offsetof(UserAuthInt, reserved2) == 910, "reserved2");
static_assert(offsetof(UserAuthInt, enc_data) == 1167, "enc_data");
static_assert(offsetof(UserAuthInt, reserved3) == 1231, "reserved3");
static_assert(offsetof(UserAuthInt, TraceID) == 1470, "TraceID");
static_assert(offsetof(UserAuthInt, OriginalDateTime) == 1531, "OriginalDateTime");
static_assert(offsetof(UserAuthInt, reserved4) == 1544, "reserved4");

inline std::uint32_t GetU32(const U32LE field)
{
    return static_cast<std::uint32_t>(field[0]) |
           static_cast<std::uint32_t>(field[1]) << 8 |
           static_cast<std::uint32_t>(field[2]) << 16 |
           static_cast<std::uint32_t>(field[3]) << 24;
}

inline void SetU32(U32LE field, std::uint32_t value)
{
    field[0] = static_cast<unsigned char>(value);
    field[1] = static_cast<unsigned char>(value >> 8);
    field[2] = static_cast<unsigned char>(value >> 16);
    field[3] = static_cast<unsigned char>(value >> 24);
}

// Length of a fixed-width text field: up to its first NUL, never past its end.
inline std::size_t FieldTextLength(const char* field, std::size_t width)
{
    std::size_t n = 0;
    while (n < width && field[n] != '\0') ++n;
    return n;
}
