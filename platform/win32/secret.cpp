#include "platform/secret.h"

#include <windows.h>
#include <sddl.h>
#include <wincrypt.h>

#include <cstdio>

namespace platform {

namespace {

// A digest by the system's own provider; empty when it has none.
std::string Digest(ALG_ID algorithm, const void* bytes, DWORD size)
{
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    std::string out;
    if (CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) {
        BYTE value[64];
        DWORD length = sizeof value;
        if (CryptCreateHash(provider, algorithm, 0, 0, &hash) &&
            CryptHashData(hash, static_cast<const BYTE*>(bytes), size, 0) &&
            CryptGetHashParam(hash, HP_HASHVAL, value, &length, 0))
            out.assign(reinterpret_cast<const char*>(value), length);
        if (hash != 0) CryptDestroyHash(hash);
        CryptReleaseContext(provider, 0);
    }
    return out;
}

// The virtual account NT SERVICE\brennickd: S-1-5-80- and the SHA-1 of the
// service's name in capitals (UTF-16LE) as five numbers, the same on every
// machine, so that the access list names it before the service exists.
std::string ServiceAccountSid()
{
    const wchar_t name[] = L"BRENNICKD";
    std::string digest = Digest(CALG_SHA1, name, sizeof name - sizeof name[0]);
    if (digest.size() != 20) return "";
    std::string sid = "S-1-5-80";
    for (int i = 0; i < 5; ++i) {
        unsigned long part = 0;
        for (int b = 3; b >= 0; --b) part = (part << 8) | static_cast<unsigned char>(digest[i * 4 + b]);
        sid += "-" + std::to_string(part);
    }
    return sid;
}

}  // namespace

std::string Sha256Hex(const std::string& text)
{
    std::string digest = Digest(CALG_SHA_256, text.data(), static_cast<DWORD>(text.size()));
    std::string out;
    char pair[3];
    for (unsigned char b : digest) {
        std::snprintf(pair, sizeof pair, "%02x", b);
        out += pair;
    }
    return out;
}

bool WriteSecretFile(const std::string& path, const std::string& text, std::string* message)
{
    // Full access for Administrators and the system, reading for the
    // service's own account, nothing inherited, nobody else.
    std::string sddl = "D:P(A;;FA;;;BA)(A;;FA;;;SY)";
    std::string service = ServiceAccountSid();
    if (!service.empty()) sddl += "(A;;FR;;;" + service + ")";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
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

bool OthersMayWrite(const std::string&)
{
    return false;
}

bool SecretFileIsPrivate(const std::string&, std::string*)
{
    return true;
}

}  // namespace platform
