// Whether a window of the process can be seen, with the system's answer
// played by the test.
#include <gtest/gtest.h>

#include "platform/platform.h"
#include "platform/win32/desktop.h"

namespace {

DWORD g_flags;

BOOL WINAPI Answer(HANDLE, int index, PVOID info, DWORD size, LPDWORD needed)
{
    if (index != UOI_FLAGS || size < sizeof(USEROBJECTFLAGS)) return FALSE;
    static_cast<USEROBJECTFLAGS*>(info)->dwFlags = g_flags;
    *needed = sizeof(USEROBJECTFLAGS);
    return TRUE;
}

BOOL WINAPI Refuse(HANDLE, int, PVOID, DWORD, LPDWORD)
{
    return FALSE;
}

}  // namespace

TEST(Desktop, OnlyAWindowStationWithoutTheVisibleFlagIsUnattended)
{
    HWINSTA station = reinterpret_cast<HWINSTA>(static_cast<INT_PTR>(4));
    g_flags = WSF_VISIBLE;
    EXPECT_TRUE(WindowStationVisible(station, Answer));
    g_flags = 0;
    EXPECT_FALSE(WindowStationVisible(station, Answer));
    // Not known: a box, as always.
    EXPECT_TRUE(WindowStationVisible(station, Refuse));
    EXPECT_TRUE(WindowStationVisible(nullptr, Answer));
    // The tests run on Wine's interactive window station.
    EXPECT_TRUE(platform::DesktopVisible());
}
