#include "paylib/settings.h"

#include <cstdio>
#include <cstring>

#include "platform/platform.h"

char g_libraryPath[kLibraryPathSize];
char g_outputDatPath[kResultPathSize];
char g_outputExDatPath[kResultPathSize];
char g_outputExTxtPath[kResultPathSize];
char g_journalFolder[kSettingValueSize];
SettingFailure g_settingFailure;
bool g_unattendedSetting;

namespace {

// Copies src to dst, bounded by dstSize and always terminated.
void CopyText(char* dst, std::size_t dstSize, const char* src)
{
    std::size_t n = std::strlen(src);
    if (n >= dstSize) n = dstSize - 1;
    std::memcpy(dst, src, n);
    dst[n] = '\0';
}

void AppendText(char* dst, std::size_t dstSize, const char* src)
{
    std::size_t used = std::strlen(dst);
    CopyText(dst + used, dstSize - used, src);
}

// Reads one settings value into buffer as a text; empty when missing. An
// unreadable one is remembered, the first of the run's.
bool ReadSettingText(const char* valueName, char* buffer)
{
    std::uint32_t n = kSettingValueSize;
    std::memset(buffer, 0, kSettingValueSize);
    unsigned long code = 0;
    platform::ValueStatus status = platform::QueryMachineValue(
        kSettingsKey, valueName, reinterpret_cast<unsigned char*>(buffer), &n, &code);
    if (status == platform::ValueStatus::kRead) {
        CutSettingValue(buffer, n);
        return true;
    }
    buffer[0] = '\0';
    if (status == platform::ValueStatus::kUnreadable && g_settingFailure.name == nullptr) {
        g_settingFailure.name = valueName;
        g_settingFailure.code = code;
    }
    return false;
}

}  // namespace

void CutSettingValue(char* buffer, std::uint32_t n)
{
    if (n == 0 || n > kSettingValueSize) {
        buffer[0] = '\0';
        return;
    }
    buffer[n - 1] = '\0';
}

void ComposeResultPath(char* out, const char* folder, const char* fileName,
                       char separator)
{
    out[0] = '\0';
    if (folder != nullptr) {
        std::size_t len = std::strlen(folder);
        if (len == 0) {
            CopyText(out, kResultPathSize, "./");
        } else {
            CopyText(out, kResultPathSize, folder);
            if (folder[len - 1] != separator) {
                const char sep[2] = {separator, '\0'};
                AppendText(out, kResultPathSize, sep);
            }
        }
    }
    AppendText(out, kResultPathSize, fileName);
}

int ReadInstallationSettings()
{
    char value[kSettingValueSize];

    if (ReadSettingText("LocationPath", value))
        CopyText(g_libraryPath, sizeof g_libraryPath, value);
    else
        CopyText(g_libraryPath, sizeof g_libraryPath, kDefaultLibraryPath);

    const char* folder = ReadSettingText("ExchangePath", value) ? value : nullptr;
    ComposeResultPath(g_outputDatPath, folder, kOutputDatName, platform::kPathSeparator);
    ComposeResultPath(g_outputExDatPath, folder, kOutputExDatName, platform::kPathSeparator);
    ComposeResultPath(g_outputExTxtPath, folder, kOutputExTxtName, platform::kPathSeparator);
    // A setting that is there but cannot be used must not fall back to a
    // default: another library could take the payment, or the files could
    // land where the caller never looks.
    bool unusable = g_settingFailure.name != nullptr;

    // The journal and the mode are optional: unreadable, they are not set.
    if (!ReadSettingText("JournalPath", value)) value[0] = '\0';
    CopyText(g_journalFolder, sizeof g_journalFolder, value);
    g_unattendedSetting = ReadSettingText("Unattended", value) && std::strcmp(value, "1") == 0;
    if (!unusable) {
        g_settingFailure.name = nullptr;
        return 0;
    }
    std::snprintf(g_errorText, kErrorTextSize, "Unable to read setting %s! %lx (%lu)",
                  g_settingFailure.name, g_settingFailure.code, g_settingFailure.code);
    return -1;
}

void AppendInstanceSuffix()
{
    AppendText(g_outputExDatPath, kResultPathSize, "-");
    AppendText(g_outputExDatPath, kResultPathSize, g_instanceId);
    AppendText(g_outputExTxtPath, kResultPathSize, "-");
    AppendText(g_outputExTxtPath, kResultPathSize, g_instanceId);
}
