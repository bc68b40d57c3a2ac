#include "simulator/slip.h"

#include <cstdio>

#include "simulator/field_text.h"

namespace {

bool AllDigits(const std::string& s)
{
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

// Minor units as "units.cents": "221" is "2.21", "5" is "0.05".
std::string Money(std::string minor)
{
    std::size_t lead = minor.find_first_not_of('0');
    minor = lead == std::string::npos ? "" : minor.substr(lead);
    if (minor.size() < 3) minor.insert(0, 3 - minor.size(), '0');
    return minor.substr(0, minor.size() - 2) + "." + minor.substr(minor.size() - 2);
}

// Only a card number the terminal masked itself goes on paper; what the
// register sent in may be a whole card number.
std::string LastFour(const std::string& pan)
{
    if (pan.find('*') == std::string::npos || pan.size() < 4) return "";
    return "*" + pan.substr(pan.size() - 4);
}

}  // namespace

std::string MakeSlip(const UserAuthInt& r, const char* operation, const Clock& now)
{
    const std::size_t width = sizeof r.data_to_print;
    bool approved = Text(r.responseCode) == "00";
    std::string amount = Text(r.amount);
    std::string currency = r.currency[0] ? Text(r.currency) : kDefaultCurrency;

    std::string lines[7];
    // First, on every slip: no real terminal prints it, so a register that
    // was left on the simulator shows that no money moved.
    lines[0] = kSimulatorSlipMark;
    lines[1] = operation;
    if (AllDigits(amount)) lines[1] += " " + Money(amount) + (AllDigits(currency) ? " " + currency : "");
    std::string card = LastFour(Text(r.pan));
    lines[2] = (card.empty() ? "" : card + " ") + Text(r.responseCode) + " " + Text(r.text_msg);
    if (approved && r.authCode[0] != '\0') lines[3] = "AC " + Text(r.authCode);
    if (approved && r.rrn[0] != '\0') lines[4] = "RRN " + Text(r.rrn);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%02d.%02d.%02d %02d:%02d", now.day, now.month, now.year % 100,
                  now.hour, now.minute);
    lines[5] = stamp;
    lines[6] = "PAYSIM";

    std::string slip;
    for (const std::string& line : lines) {
        if (line.empty()) continue;
        std::size_t grown = slip.size() + (slip.empty() ? 0 : 1) + line.size();
        if (grown > width) break;
        if (!slip.empty()) slip += '\n';
        slip += line;
    }
    return slip;
}
