// Installation settings read from the local machine's registry, and the
// library and result file paths derived from them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "paylib/process_state.h"

constexpr const char* kSettingsKey = "software\\Merot\\Dovrex Auth Library";
constexpr const char* kDefaultLibraryPath = "dovrex.dll";
constexpr const char* kOutputDatName = "output.dat";
constexpr const char* kOutputExDatName = "output_ex.dat";
constexpr const char* kOutputExTxtName = "output_ex.txt";

// Size offered to the registry for each value, and of the library path.
constexpr std::size_t kSettingValueSize = 260;
constexpr std::size_t kLibraryPathSize = 260;

// A result path holds the longest folder (259), a separator, the longest file
// name, "-" and the longest instance id, so composing one never cuts it.
constexpr std::size_t kResultPathSize =
    (kSettingValueSize - 1) + 1 + 13 + 1 + (kInstanceIdSize - 1) + 1;

extern char g_libraryPath[kLibraryPathSize];
extern char g_outputDatPath[kResultPathSize];
extern char g_outputExDatPath[kResultPathSize];
extern char g_outputExTxtPath[kResultPathSize];

// The run journal's folder from JournalPath; empty when there is none.
extern char g_journalFolder[kSettingValueSize];

// Unattended is "1": nobody sits at the machine, so no box is shown and no
// key waited for.
extern bool g_unattendedSetting;

// The first of LocationPath and ExchangePath that is there but cannot be
// read; name is null when both could be read or are missing.
struct SettingFailure {
    const char* name;
    unsigned long code;
};
extern SettingFailure g_settingFailure;

// Fills the paths from the settings; a missing value takes its default.
// Returns -1, with "Unable to read setting %s! %x (%lu)" in g_errorText, when
// LocationPath or ExchangePath is there but cannot be read; the journal's
// folder is filled all the same.
int ReadInstallationSettings();
void AppendInstanceSuffix();

// Turns the raw bytes of a value read with length n into a text: byte n-1 is
// the string's end, as the registry counts the terminating NUL in n. A value
// of zero bytes gives an empty text. buffer must hold kSettingValueSize bytes.
void CutSettingValue(char* buffer, std::uint32_t n);

// Forms one result path from the exchange folder and a file name. A null
// folder means no folder was configured: the bare file name.
void ComposeResultPath(char* out, const char* folder, const char* fileName,
                       char separator);
