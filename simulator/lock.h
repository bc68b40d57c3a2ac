// One operation at a time per state folder: every run of the simulator, on
// any instance id, holds the folder's lock from reading its state to writing
// it back. One implementation per platform.
#pragma once

#include <string>

// Waits for the lock of the folder that holds path; the returned value
// releases it in UnlockStateFolder. -1 when no lock could be had (the lock
// path is not a regular file, the folder cannot be written): the operation
// is then answered "system malfunction" and nothing changes, since unlocked
// runs would lose each other's operations.
long LockStateFolder(const std::string& path);
void UnlockStateFolder(long lock);

// Where the state lives without PAYSIM_STATE_DIR: a folder of the user's
// own, so that two users' runs never share (or fail to save) one state.
std::string DefaultStateFolder();
