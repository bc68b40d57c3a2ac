#include "platform/secret.h"

#include <windows.h>
#include <sddl.h>

namespace platform {

bool WriteSecretFile(const std::string& path, const std::string& text, std::string* message)
{
    // Full access for Administrators and the system (LocalSystem runs the
    // service), nothing inherited, nobody else.
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;;FA;;;BA)(A;;FA;;;SY)", SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
        *message = "the token's access list cannot be made (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, &attributes, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    LocalFree(descriptor);
    if (h == INVALID_HANDLE_VALUE) {
        *message = path + " cannot be made (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    DWORD written = 0;
    bool ok = WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
              written == text.size() && FlushFileBuffers(h);
    CloseHandle(h);
    if (!ok) {
        *message = path + " cannot be written";
        DeleteFileA(path.c_str());
    }
    return ok;
}

bool SecretFileIsPrivate(const std::string&, std::string*)
{
    return true;
}

}  // namespace platform
