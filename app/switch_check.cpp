#include "app/switch_check.h"

#include <cstring>

namespace {

// The switches whose first occurrence the parser looks at; "/g" only counts
// where no "/o" names the operation.
const char* const kSwitches[] = {"/o", "/a", "/h", "/c", "/t", "/i", "/e",
                                 "/v", "/r", "/f", "/b", "/quarnid", "/g"};
constexpr int kSwitchCount = sizeof kSwitches / sizeof kSwitches[0];

struct Occurrence {
    const char* name;
    const char* at;           // null: the switch does not occur
    const char* valueStart;
    const char* valueEnd;     // the next blank or the end of the text
};

// The first occurrences; "/o" gets its value only when asked for, since it
// is read as a number and holds no switch.
void FindOccurrences(const char* argumentText, bool withOperationValue, Occurrence* found)
{
    bool hasOperation = std::strstr(argumentText, "/o") != nullptr;
    for (int i = 0; i < kSwitchCount; ++i) {
        Occurrence& o = found[i];
        o.name = kSwitches[i];
        o.at = (o.name[1] == 'g' && hasOperation) ? nullptr : std::strstr(argumentText, o.name);
        o.valueStart = o.valueEnd = nullptr;
        if (o.at == nullptr || (o.name[1] == 'o' && !withOperationValue)) continue;
        o.valueStart = o.at + std::strlen(o.name);
        o.valueEnd = o.valueStart + std::strcspn(o.valueStart, " ");
    }
}

}  // namespace

int FindSwitchSpans(const char* argumentText, TextSpan* spans)
{
    Occurrence found[kSwitchCount];
    FindOccurrences(argumentText, true, found);
    int count = 0;
    for (const Occurrence& o : found) {
        if (o.at == nullptr) continue;
        spans[count].start = static_cast<std::size_t>(o.at - argumentText);
        spans[count].end = static_cast<std::size_t>(o.valueEnd - argumentText);
        ++count;
    }
    return count;
}

bool FindSwitchInsideValue(const char* argumentText, const char** inner, const char** outer)
{
    Occurrence found[kSwitchCount];
    FindOccurrences(argumentText, false, found);

    const Occurrence* bestInner = nullptr;
    const Occurrence* bestOuter = nullptr;
    for (const Occurrence& in : found) {
        if (in.at == nullptr || (bestInner != nullptr && in.at >= bestInner->at)) continue;
        const Occurrence* holder = nullptr;
        for (const Occurrence& out : found) {
            if (out.valueStart == nullptr || in.at < out.valueStart || in.at >= out.valueEnd) continue;
            if (holder == nullptr || out.at < holder->at) holder = &out;
        }
        if (holder == nullptr) continue;
        bestInner = &in;
        bestOuter = holder;
    }
    if (bestInner == nullptr) return false;
    *inner = bestInner->name;
    *outer = bestOuter->name;
    return true;
}
