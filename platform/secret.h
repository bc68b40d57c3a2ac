// brennickd's token files: made readable by their owner and the service
// only, and refused where anybody may read them. Each side implements it.
#pragma once

#include <string>

namespace platform {

// Writes text to a new file at path (an existing one is not replaced):
// POSIX mode 0640 and the group "brennick" where it exists; Windows only
// Administrators and the system (the service's account) may read it.
bool WriteSecretFile(const std::string& path, const std::string& text, std::string* message);
// False with a reason when others than the owner and its group may read
// the file (POSIX); Windows leaves that to the file's ACL.
bool SecretFileIsPrivate(const std::string& path, std::string* reason);
// True where anybody may write the file or folder (POSIX): what it says
// could be changed by any user of the machine. False on Windows, which
// leaves that to the ACL.
bool OthersMayWrite(const std::string& path);
// SHA-256 of text in lower-case hex: what is kept of a paired token, so
// that the state folder never holds one that opens anything.
std::string Sha256Hex(const std::string& text);

}  // namespace platform
