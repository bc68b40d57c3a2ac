// Whether anybody can see a window of this process, with the system call
// passed in, so that a test can answer for the system.
#pragma once

#include <windows.h>

typedef BOOL(WINAPI* QueryObjectInformation)(HANDLE object, int index, PVOID info, DWORD size,
                                             LPDWORD needed);

// False when the process's window station lacks WSF_VISIBLE; true when it
// has it or cannot be asked (a box is what the program always showed).
bool WindowStationVisible(HWINSTA station, QueryObjectInformation query);
