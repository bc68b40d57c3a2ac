#include "platform/text.h"

#include <windows.h>

#include <vector>

namespace platform {

bool CodePageToUtf8(const std::string& bytes, const std::string&, std::string* utf8)
{
    utf8->clear();
    if (bytes.empty()) return true;
    int wide = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (wide <= 0) return false;
    std::vector<wchar_t> w(static_cast<std::size_t>(wide));
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), w.data(), wide);
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return false;
    utf8->resize(static_cast<std::size_t>(n));
    WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, utf8->data(), n, nullptr, nullptr);
    return true;
}

}  // namespace platform
