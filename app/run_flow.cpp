#include "app/run_flow.h"

#include <cstring>

#include "app/switches.h"
#include "export/record_dump.h"
#include "export/result_files.h"
#include "export/result_lists.h"
#include "paylib/binding.h"
#include "paylib/process_state.h"
#include "paylib/settings.h"
#include "platform/platform.h"

int RunBrennick(const char* argumentText)
{
    ReadInstallationSettings();

    // The box has been shown; result files of an earlier run stay as they are.
    if (BindLibrary() != 0) return kExitCompleted;

    UserAuthInt record;
    std::memset(&record, 0, sizeof record);

    int parsed = ParseSwitches(&record, argumentText);
    if (parsed == kParseUsageShown) return kExitCompleted;
    if (parsed < 0) {
        platform::ShowErrorBox(g_errorText);
        return kExitNoOperation;
    }

    // Everything that can stop the run does so before the library is called
    // and before any result file changes.
    if (g_instanceIdUnusable) {
        platform::ShowErrorBox("Invalid instance id!");
        return kExitNotStarted;
    }
    if (g_instanceId[0] != '\0') {
        if (BindIdEntryPoints() != 0) return kExitNotStarted;
        AppendInstanceSuffix();
    }
    ResultFiles files;
    if (CreateResultFiles(&files) != 0) return kExitNotStarted;

    // From the call to the last close nothing is allocated: a library that
    // faulted may have left the heap locked or broken.
    bool clean = ProcessRecord(&record);
    ExportResults(&record, &files);
    WriteRecordDump(&record, &files);
    int written = CloseResultFiles(&files);
    UnloadLibrary();
    if (written != 0) return kExitNotWritten;
    return clean ? kExitCompleted : kExitLibraryFault;
}
