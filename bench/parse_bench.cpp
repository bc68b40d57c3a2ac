// Time of ParseSwitches on argument texts up to the 32767 characters that a
// Windows command line allows: prints "length nanoseconds" per size.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/switches.h"
#include "paylib/process_state.h"

int main()
{
    // Every switch once, then filler that no switch matches, with a value
    // of the switch searched last far at the end.
    const std::string head = "/o1 /a221 /c643 /tM4111111111111111=2812? /iT1 /r123 /v9 /e1 /f2 /h3 ";
    for (std::size_t length : {2048u, 4096u, 8192u, 16384u, 32767u}) {
        std::string text = head;
        while (text.size() + 12 < length) text += "x/y z-q w/p ";
        text += "/b" + std::string(length - text.size() - 2, 'b');
        text.resize(length);
        UserAuthInt record;
        const int rounds = 2000;
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < rounds; ++i) {
            std::memset(&record, 0, sizeof record);
            ParseSwitches(&record, text.c_str());
        }
        auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                      std::chrono::steady_clock::now() - start).count() / rounds;
        std::printf("%zu %lld\n", text.size(), static_cast<long long>(ns));
    }
    return 0;
}
