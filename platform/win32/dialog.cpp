#include <windows.h>

#include <cstring>

#include "platform/platform.h"
#include "platform/win32/desktop.h"

namespace {

bool g_unattended = false;

}  // namespace

bool WindowStationVisible(HWINSTA station, QueryObjectInformation query)
{
    USEROBJECTFLAGS flags = {};
    DWORD needed = 0;
    if (station == nullptr || !query(reinterpret_cast<HANDLE>(station), UOI_FLAGS, &flags, sizeof flags, &needed)) return true;
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}

namespace platform {

void ShowErrorBox(const char* text)
{
    if (!g_unattended) {
        MessageBoxA(nullptr, text, "ERROR", MB_OK);
        return;
    }
    // A GUI program has a standard error only where the caller redirected it.
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    if (err == nullptr || err == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(err, "ERROR: ", 7, &written, nullptr);
    WriteFile(err, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
    WriteFile(err, "\r\n", 2, &written, nullptr);
}

void SetUnattended(bool unattended)
{
    g_unattended = unattended;
}

bool IsUnattended()
{
    return g_unattended;
}

bool DesktopVisible()
{
    return WindowStationVisible(GetProcessWindowStation(), GetUserObjectInformationA);
}

}  // namespace platform
