// The settings value cut and path composition on arbitrary values, folders
// and instance ids: every path stays terminated inside its buffer and is
// made of the folder, one separator at most, the file name and the suffix.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "paylib/settings.h"

namespace {
void Check(bool ok)
{
    if (!ok) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 3) return 0;
    // Byte 0: the length the store reports; byte 1: the instance id's length;
    // then the id, then the value's bytes.
    std::uint32_t n = data[0] + (data[0] & 1) * 100u;
    std::size_t idLength = data[1] % kInstanceIdSize;
    bool configured = (data[0] & 2) == 0;
    data += 2;
    size -= 2;
    if (idLength > size) idLength = size;
    std::string id(reinterpret_cast<const char*>(data), idLength);
    data += idLength;
    size -= idLength;

    char value[kSettingValueSize];
    std::memset(value, 'V', sizeof value);
    std::memcpy(value, data, size < sizeof value ? size : sizeof value);
    CutSettingValue(value, n);
    Check(std::memchr(value, '\0', sizeof value) != nullptr);
    std::string folder(value);

    std::memset(g_instanceId, 0, sizeof g_instanceId);
    std::memcpy(g_instanceId, id.data(), id.size());
    std::string suffix = "-" + std::string(g_instanceId);

    for (char separator : {'\\', '/'}) {
        ComposeResultPath(g_outputDatPath, folder.c_str(), kOutputDatName, separator);
        ComposeResultPath(g_outputExDatPath, folder.c_str(), kOutputExDatName, separator);
        ComposeResultPath(g_outputExTxtPath, configured ? folder.c_str() : nullptr,
                          kOutputExTxtName, separator);
        AppendInstanceSuffix();
        for (const char* p : {g_outputDatPath, g_outputExDatPath, g_outputExTxtPath})
            Check(std::memchr(p, '\0', kResultPathSize) != nullptr);
        std::string dat = g_outputDatPath, exDat = g_outputExDatPath;
        std::string prefix = folder.empty() ? std::string("./") : folder;
        Check(dat.compare(0, prefix.size(), prefix) == 0);
        Check(dat.size() - prefix.size() <= 1 + std::strlen(kOutputDatName));
        Check(exDat.size() >= suffix.size() &&
              exDat.compare(exDat.size() - suffix.size(), suffix.size(), suffix) == 0);
        Check(exDat.size() == dat.size() + 3 + suffix.size());
    }
    return 0;
}
