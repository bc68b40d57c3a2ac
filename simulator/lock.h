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
// A folder that is not the user's to trust (POSIX: not a folder but a link,
// one that others may write, or one of another user but root) is refused
// the same way, with a line on standard error.
long LockStateFolder(const std::string& path);
void UnlockStateFolder(long lock);

// The state's files, read and replaced without following a link that
// somebody planted in their place: through a new file of a temporary name,
// renamed over the old one, so that a crash never leaves half a file.
bool ReadStateFile(const std::string& path, std::string* content);
void ReplaceStateFile(const std::string& path, const std::string& content);

// Where the state lives without PAYSIM_STATE_DIR: a folder of the user's
// own, so that two users' runs never share (or fail to save) one state.
std::string DefaultStateFolder();
