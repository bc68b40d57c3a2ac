#include "app/run_flow.h"

#include <cstring>

#include "app/switches.h"
#include "export/record_dump.h"
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

    // From here on the run always ends with the result files, whatever the
    // library did with the record.
    ProcessRecord(&record);
    ExportResults(&record);
    WriteRecordDump(&record);
    UnloadLibrary();
    return kExitCompleted;
}
