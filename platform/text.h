// Texts of the payment library, bytes of its code page, as UTF-8 for
// brennickd's answers. Each side implements it.
#pragma once

#include <string>

namespace platform {

// bytes from codePage (POSIX: an iconv name such as "windows-1251"; Windows:
// ignored, the system's ANSI code page is the library's) to UTF-8. A byte
// that the code page does not map becomes U+FFFD; a code page that does
// not exist returns false.
bool CodePageToUtf8(const std::string& bytes, const std::string& codePage, std::string* utf8);

}  // namespace platform
