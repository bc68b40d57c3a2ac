// The card as the simulator reads it from the record: a keyed-in card, track
// 2 data, a card number given with "D", or the built-in contactless card.
#pragma once

#include <string>

struct Card {
    std::string number;   // digits only
    std::string expiry;   // "yymm", empty when none was given
    bool present = false;
};

// rfu holds "M<card>=<yymm>?" or ";<card>=<yymm>...?"; pan holds "D<card>".
Card ReadCard(const std::string& rfu, const std::string& pan);

bool PassesLuhn(const std::string& digits);

// First six and last four digits, the rest as '*'.
std::string MaskCardNumber(const std::string& digits);

struct CardBrand {
    const char* cardType;
    const char* applicationLabel;
    const char* aid;
};
CardBrand BrandOf(const std::string& digits);
