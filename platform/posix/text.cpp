#include "platform/text.h"

#include <iconv.h>

#include <cerrno>

namespace platform {

bool CodePageToUtf8(const std::string& bytes, const std::string& codePage, std::string* utf8)
{
    iconv_t cd = ::iconv_open("UTF-8", codePage.c_str());
    // iconv_open fails with the value (iconv_t)-1.
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;  // NOLINT(performance-no-int-to-ptr)
    utf8->clear();
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    char buffer[1024];
    while (inLeft > 0) {
        char* out = buffer;
        std::size_t outLeft = sizeof buffer;
        std::size_t done = ::iconv(cd, &in, &inLeft, &out, &outLeft);
        utf8->append(buffer, static_cast<std::size_t>(out - buffer));
        if (done == static_cast<std::size_t>(-1) && errno != E2BIG) {
            // A byte the code page has no letter for.
            utf8->append("\xEF\xBF\xBD");
            ++in;
            --inLeft;
        }
    }
    ::iconv_close(cd);
    return true;
}

}  // namespace platform
