// One operation at a time per state folder: every run of the simulator, on
// any instance id, holds the folder's lock from reading its state to writing
// it back. One implementation per platform.
#pragma once

#include <string>

// Waits for the lock of the folder that holds path; the returned value
// releases it in UnlockStateFolder. -1 when no lock could be had (the
// operation then goes on unlocked rather than not at all).
long LockStateFolder(const std::string& path);
void UnlockStateFolder(long lock);
