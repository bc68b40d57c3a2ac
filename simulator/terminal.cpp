#include "simulator/terminal.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "simulator/card.h"
#include "simulator/field_text.h"
#include "simulator/slip.h"

namespace {

struct Reply {
    const char* code;
    const char* text;
};

const Reply kApproved = {"00", "APPROVED"};
const Reply kInvalidAmount = {"13", "INVALID AMOUNT"};
const Reply kInvalidCard = {"14", "INVALID CARD NUMBER"};
const Reply kExpiredCard = {"54", "EXPIRED CARD"};
const Reply kOriginalNotFound = {"25", "ORIGINAL NOT FOUND"};
const Reply kAlreadyCancelled = {"12", "ALREADY CANCELLED"};
const Reply kRefundedPurchase = {"12", "INVALID TRANSACTION"};
const Reply kNotSupported = {"40", "FUNCTION NOT SUPPORTED"};
const Reply kNoLastOperation = {"25", "NO LAST OPERATION"};

const char* DeclineText(int code)
{
    switch (code) {
    case 5: return "DO NOT HONOR";
    case 51: return "INSUFFICIENT FUNDS";
    case 54: return "EXPIRED CARD";
    case 55: return "INCORRECT PIN";
    case 61: return "EXCEEDS AMOUNT LIMIT";
    case 65: return "EXCEEDS FREQUENCY LIMIT";
    case 91: return "ISSUER UNAVAILABLE";
    default: return "DECLINED";
    }
}

// Minor units; false for an empty, non-numeric, zero or absurd amount.
bool ParseAmount(const std::string& text, std::uint64_t* amount)
{
    if (text.empty() || text.size() > 12) return false;
    std::uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<std::uint64_t>(c - '0');
    }
    *amount = v;
    return v > 0;
}

int DayOfYear(const Clock& c)
{
    static const int before[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    bool leap = (c.year % 4 == 0 && c.year % 100 != 0) || c.year % 400 == 0;
    return before[(c.month - 1) % 12] + c.day + (leap && c.month > 2 ? 1 : 0);
}

// Y DDD HH and six digits of the sequence: unique while the counter grows.
std::string MakeRrn(const Clock& c, std::uint64_t sequence)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%01d%03d%02d%06u", c.year % 10, DayOfYear(c), c.hour,
                  static_cast<unsigned>(sequence % 1000000));
    return buf;
}

// A bijection of the counter onto six base-36 characters, so codes do not
// repeat for 36^6 operations and do not look sequential.
std::string MakeAuthCode(std::uint64_t sequence)
{
    const std::uint64_t space = 2176782336ULL;   // 36^6
    // The multiplier is prime to 2 and 3, so this is a permutation of [0, 36^6).
    std::uint64_t v = ((sequence % space) * 1103515247ULL + 12345ULL) % space;
    const char* digits = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    std::string code(6, '0');
    for (int i = 5; i >= 0; --i, v /= 36) code[i] = digits[v % 36];
    return code;
}

bool ExpiryHasPassed(const std::string& yymm, const Clock& now)
{
    if (yymm.size() != 4) return false;
    for (char c : yymm)
        if (c < '0' || c > '9') return true;
    int yy = (yymm[0] - '0') * 10 + (yymm[1] - '0');
    int mm = (yymm[2] - '0') * 10 + (yymm[3] - '0');
    if (mm < 1 || mm > 12) return true;
    return yy * 100 + mm < (now.year % 100) * 100 + now.month;
}

// Response codes are two decimal digits.
int CodeNumber(const char* code)
{
    return (code[0] - '0') * 10 + (code[1] - '0');
}

void SetReply(UserAuthInt* r, const Reply& reply)
{
    Put(r->responseCode, reply.code);
    Put(r->text_msg, reply.text);
    SetU32(r->system_res, static_cast<std::uint32_t>(CodeNumber(reply.code)));
}

// Checks the card and fills what the terminal shows of it.
bool TakeCard(UserAuthInt* r, const Clock& now, Reply* refusal)
{
    Card card = ReadCard(Text(r->rfu), Text(r->pan));
    if (!PassesLuhn(card.number)) {
        *refusal = kInvalidCard;
        return false;
    }
    CardBrand brand = BrandOf(card.number);
    Put(r->pan, MaskCardNumber(card.number));
    Put(r->cardType, brand.cardType);
    Put(r->ApplicationLabel, brand.applicationLabel);
    Put(r->AID, brand.aid);
    Put(r->TVR, "0000000000");
    if (!card.expiry.empty()) Put(r->expiry, card.expiry);
    if (ExpiryHasPassed(card.expiry, now)) {
        *refusal = kExpiredCard;
        return false;
    }
    return true;
}

JournalEntry* FindByRrn(TerminalState* state, const std::string& rrn)
{
    for (JournalEntry& e : state->journal)
        if (e.rrn == rrn) return &e;
    return nullptr;
}

int Finish(UserAuthInt* r, const Reply& reply)
{
    SetReply(r, reply);
    return CodeNumber(reply.code);
}

int CardOperation(UserAuthInt* r, TerminalState* state, const Clock& now, int operation)
{
    std::uint64_t amount = 0;
    if (!ParseAmount(Text(r->amount), &amount)) return Finish(r, kInvalidAmount);
    Reply refusal;
    if (!TakeCard(r, now, &refusal)) return Finish(r, refusal);

    // Amounts 10001 to 10099 decline with the last two digits as the code.
    if (amount > 10000 && amount < 10100) {
        char code[3];
        std::snprintf(code, sizeof code, "%02u", static_cast<unsigned>(amount % 100));
        return Finish(r, {code, DeclineText(static_cast<int>(amount % 100))});
    }
    std::string originalRrn = "-";
    if (operation == kOpRefund && r->rrn[0] != '\0') {
        JournalEntry* original = FindByRrn(state, Text(r->rrn));
        if (original == nullptr || original->operation != static_cast<int>(kOpPurchase) || original->cancelled)
            return Finish(r, kOriginalNotFound);
        // The refunds of a purchase never add up to more than it.
        if (amount > original->amount - original->refunded) return Finish(r, kInvalidAmount);
        original->refunded += amount;
        originalRrn = original->rrn;
    }

    JournalEntry entry;
    entry.original = originalRrn;
    entry.rrn = MakeRrn(now, state->sequence);
    entry.operation = operation;
    entry.amount = amount;
    entry.currency = r->currency[0] ? Text(r->currency) : kDefaultCurrency;
    entry.authCode = MakeAuthCode(state->sequence);
    state->journal.push_back(entry);
    Put(r->rrn, entry.rrn);
    Put(r->authCode, entry.authCode);
    return Finish(r, kApproved);
}

int Cancel(UserAuthInt* r, TerminalState* state, const Clock& now)
{
    JournalEntry* original = FindByRrn(state, Text(r->rrn));
    if (original == nullptr) return Finish(r, kOriginalNotFound);
    if (original->cancelled) return Finish(r, kAlreadyCancelled);
    // A purchase with a refund can no longer be cancelled as a whole.
    if (original->refunded > 0) return Finish(r, kRefundedPurchase);
    original->cancelled = true;
    // A cancelled refund gives its amount back to its purchase.
    if (JournalEntry* purchase = FindByRrn(state, original->original))
        purchase->refunded -= purchase->refunded < original->amount ? purchase->refunded : original->amount;
    Put(r->amount, std::to_string(original->amount));
    Put(r->currency, original->currency);
    Put(r->authCode, original->authCode);
    Put(r->rrn, MakeRrn(now, state->sequence));
    return Finish(r, kApproved);
}

int EndOfDay(UserAuthInt* r, TerminalState* state)
{
    unsigned sales = 0, refunds = 0, cancels = 0;
    std::uint64_t salesSum = 0, refundsSum = 0;
    for (const JournalEntry& e : state->journal) {
        if (e.cancelled) {
            ++cancels;
        } else if (e.operation == kOpPurchase) {
            ++sales;
            salesSum += e.amount;
        } else {
            ++refunds;
            refundsSum += e.amount;
        }
    }
    char totals[64];
    std::snprintf(totals, sizeof totals, "SALES %u/%llu REFUNDS %u/%llu VOIDS %u", sales,
                  static_cast<unsigned long long>(salesSum), refunds,
                  static_cast<unsigned long long>(refundsSum), cancels);
    Put(r->data_to_print, totals);
    state->journal.clear();
    return Finish(r, {"00", "END OF DAY OK"});
}

// Card operations hand the register a slip to print, whatever their answer,
// and are what the terminal tells again when asked for its last operation.
int WithSlip(UserAuthInt* r, TerminalState* state, int operation, const char* name,
             const Clock& now, int result)
{
    Put(r->data_to_print, MakeSlip(*r, name, now));
    LastOperation& last = state->last;
    last.present = true;
    last.operation = operation;
    last.responseCode = Text(r->responseCode);
    last.text = Text(r->text_msg);
    last.amount = Text(r->amount);
    last.currency = Text(r->currency);
    last.rrn = Text(r->rrn);
    last.authCode = Text(r->authCode);
    last.traceId = Text(r->TraceID);
    last.slip = Text(r->data_to_print);
    return result;
}

// The last card operation again, for a register that lost its answer; the
// state does not change.
int TellLastOperation(UserAuthInt* r, const TerminalState& state)
{
    const LastOperation& last = state.last;
    if (!last.present) return Finish(r, kNoLastOperation);
    static const char* const kNames[] = {"", "SALE", "REFUND", "CANCEL"};
    Put(r->payment_data, kNames[last.operation]);
    Put(r->amount, last.amount);
    Put(r->currency, last.currency);
    Put(r->rrn, last.rrn);
    Put(r->authCode, last.authCode);
    Put(r->TraceID, last.traceId);
    Put(r->data_to_print, last.slip);
    Put(r->responseCode, last.responseCode);
    Put(r->text_msg, last.text);
    return CodeNumber(last.responseCode.size() == 2 ? last.responseCode.c_str() : "96");
}

}  // namespace

// Reads "YYYY-MM-DDTHH:MM:SS" exactly; false for anything else.
bool ParseFixedClock(const char* text, Clock* c)
{
    static const char kShape[] = "dddd-dd-ddTdd:dd:dd";
    for (std::size_t i = 0; i < sizeof kShape - 1; ++i) {
        bool digit = text[i] >= '0' && text[i] <= '9';
        if (kShape[i] == 'd' ? !digit : text[i] != kShape[i]) return false;
    }
    if (text[sizeof kShape - 1] != '\0') return false;
    auto number = [text](int at, int digits) {
        int v = 0;
        for (int i = 0; i < digits; ++i) v = v * 10 + (text[at + i] - '0');
        return v;
    };
    *c = {number(0, 4), number(5, 2), number(8, 2), number(11, 2), number(14, 2), number(17, 2)};
    return c->month >= 1 && c->month <= 12 && c->day >= 1 && c->day <= 31 && c->hour < 24 &&
           c->minute < 60 && c->second < 61;
}

bool ReadClock(Clock* c)
{
    const char* fixed = std::getenv("PAYSIM_NOW");
    if (fixed != nullptr) return ParseFixedClock(fixed, c);
    std::time_t t = std::time(nullptr);
    std::tm* tm = std::localtime(&t);
    *c = {tm->tm_year + 1900, tm->tm_mon + 1, tm->tm_mday, tm->tm_hour, tm->tm_min, tm->tm_sec};
    return true;
}

int AnswerMalfunction(UserAuthInt* r)
{
    return Finish(r, {"96", "SYSTEM MALFUNCTION"});
}

int AnswerOperation(UserAuthInt* r, TerminalState* state, const Clock& now)
{
    if (GetU32(r->operType) == kOpLastOperation) return TellLastOperation(r, *state);
    ++state->sequence;
    char stamp[16];
    std::snprintf(stamp, sizeof stamp, "%02d%02d%02d", now.year % 100, now.month, now.day);
    Put(r->date, stamp);
    std::snprintf(stamp, sizeof stamp, "%02d%02d%02d", now.hour, now.minute, now.second);
    Put(r->time, stamp);
    SetU32(r->handle, static_cast<std::uint32_t>(state->sequence));
    if (r->terminalID[0] == '\0') Put(r->terminalID, "PSIM0001");

    switch (GetU32(r->operType)) {
    case kOpGet:
        Put(r->payment_data, "PS0000000001");
        return Finish(r, {"00", "SERIAL PS0000000001"});
    case kOpPurchase:
        return WithSlip(r, state, kOpPurchase, "SALE", now, CardOperation(r, state, now, kOpPurchase));
    case kOpRefund:
        return WithSlip(r, state, kOpRefund, "REFUND", now, CardOperation(r, state, now, kOpRefund));
    case kOpCancel: return WithSlip(r, state, kOpCancel, "CANCEL", now, Cancel(r, state, now));
    case kOpEndOfDay: return EndOfDay(r, state);
    case kOpAdminMenu: return Finish(r, {"00", "ADMIN MENU CLOSED"});
    default: return Finish(r, kNotSupported);
    }
}
