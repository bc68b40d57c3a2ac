#include "simulator/card.h"

namespace {

bool AllDigits(const std::string& s)
{
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

// "<card>=<yymm>..." up to the closing '?'.
Card SplitCardAndExpiry(const std::string& body)
{
    Card card;
    std::string text = body.substr(0, body.find('?'));
    std::size_t eq = text.find('=');
    card.number = text.substr(0, eq);
    if (eq != std::string::npos) card.expiry = text.substr(eq + 1, 4);
    card.present = true;
    return card;
}

}  // namespace

Card ReadCard(const std::string& rfu, const std::string& pan)
{
    if (!pan.empty() && pan[0] == 'D') {
        Card card;
        card.number = pan.substr(1);
        card.present = true;
        return card;
    }
    if (!rfu.empty() && (rfu[0] == 'M' || rfu[0] == ';')) return SplitCardAndExpiry(rfu.substr(1));
    if (!rfu.empty()) return SplitCardAndExpiry(rfu);
    // No card data: the customer taps the simulator's own test card.
    Card card;
    card.number = "4111111111111111";
    card.expiry = "4912";
    card.present = false;
    return card;
}

bool PassesLuhn(const std::string& digits)
{
    if (!AllDigits(digits) || digits.size() < 12 || digits.size() > 19) return false;
    int sum = 0;
    bool twice = false;
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
        int d = *it - '0';
        if (twice) {
            d *= 2;
            if (d > 9) d -= 9;
        }
        sum += d;
        twice = !twice;
    }
    return sum % 10 == 0;
}

std::string MaskCardNumber(const std::string& digits)
{
    if (digits.size() <= 10) return std::string(digits.size(), '*');
    return digits.substr(0, 6) + std::string(digits.size() - 10, '*') +
           digits.substr(digits.size() - 4);
}

CardBrand BrandOf(const std::string& digits)
{
    int prefix4 = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        if (i >= digits.size() || digits[i] < '0' || digits[i] > '9') {
            prefix4 = 0;
            break;
        }
        prefix4 = prefix4 * 10 + (digits[i] - '0');
    }
    if (prefix4 >= 2200 && prefix4 <= 2204) return {"MIR", "MIR", "A0000006581010"};
    if (!digits.empty() && digits[0] == '4') return {"VISA", "VISA CREDIT", "A0000000031010"};
    if ((prefix4 >= 5100 && prefix4 <= 5599) || (prefix4 >= 2221 && prefix4 <= 2720))
        return {"MASTERCARD", "MASTERCARD", "A0000000041010"};
    if (!digits.empty() && (digits[0] == '5' || digits[0] == '6'))
        return {"MAESTRO", "MAESTRO", "A0000000043060"};
    return {"UNKNOWN", "CARD", "A0000000000000"};
}
