#include "app/run_flow.h"

#include <cstdio>
#include <cstring>

#include "app/switch_check.h"
#include "app/switches.h"
#include "export/journal.h"
#include "export/record_dump.h"
#include "export/result_files.h"
#include "export/result_lists.h"
#include "paylib/binding.h"
#include "paylib/process_state.h"
#include "paylib/settings.h"
#include "platform/platform.h"

namespace {

// What the journal's "end" line tells; static, as the end after the call
// allocates nothing.
RunEnd g_end;
char g_errorDetail[256];

int End(const char* outcome, int exitCode)
{
    g_end.outcome = outcome;
    g_end.exitCode = exitCode;
    JournalEnd(g_end);
    g_end.record = nullptr;   // it lives in the run's frame
    return exitCode;
}

void NoteError(unsigned long code, const char* detail)
{
    g_end.hasError = true;
    g_end.errorCode = code;
    g_end.errorDetail = detail;
}

void NoteFileError(const ResultFiles& files)
{
    g_end.box = g_errorText;
    platform::DescribeError(files.errorCode, g_errorDetail, sizeof g_errorDetail);
    NoteError(files.errorCode, g_errorDetail);
}

// What the run needs after the call, also from the exit handler, which
// runs deep inside the library's own call of exit().
UserAuthInt* g_record;
ResultFiles g_files;
unsigned long long g_callStart;

// Writes the result files from the record as it stands and the journal's end
// line; returns the exit code.
int WriteOutcome(const CallOutcome& call, bool libraryExited)
{
    ExportResults(g_record, &g_files);
    WriteRecordDump(g_record, &g_files);
    int written = CloseResultFiles(&g_files);
    g_end.flushUnsupported = g_end.flushUnsupported || g_files.flushUnsupported;

    g_end.called = true;
    g_end.returnedNormally = call.clean;
    g_end.returned = call.returned;
    g_end.milliseconds = call.milliseconds;
    g_end.fault = call.fault;
    g_end.record = g_record;
    g_end.files = &g_files;
    if (written != 0) {
        // The box waits for a click: the outcome is on disk before it shows.
        NoteFileError(g_files);
        int code = End("files-incomplete", kExitNotWritten);
        platform::ShowErrorBox(g_errorText);
        return code;
    }
    if (libraryExited) return End("library-exit", kExitLibraryFault);
    return End(call.clean ? "completed" : "library-fault",
               call.clean ? kExitCompleted : kExitLibraryFault);
}

// The library called exit() during the call: its code would be read as
// Brennick's, and the files would stay empty. The run ends as after an
// absorbed fault, without returning to the library.
void OnLibraryExit(int status)
{
    static char fault[32];
    if (status < 0)
        std::snprintf(fault, sizeof fault, "exit()");
    else
        std::snprintf(fault, sizeof fault, "exit(%d)", status);
    CallOutcome call = {};
    call.clean = false;
    call.fault = fault;
    call.milliseconds = platform::MonotonicMilliseconds() - g_callStart;
    platform::EndProcessNow(WriteOutcome(call, true));
}

}  // namespace

int RunBrennick(const char* argumentText)
{
    BeginJournalRun();
    int settings = ReadInstallationSettings();
    // Nobody to click a box or press a key: nothing may wait for them.
    g_end.unattended = g_unattendedSetting || !platform::DesktopVisible();
    platform::SetUnattended(g_end.unattended);
    OpenJournal();
    if (settings != 0) {
        platform::ShowErrorBox(g_errorText);
        g_end.box = g_errorText;
        platform::DescribeError(g_settingFailure.code, g_errorDetail, sizeof g_errorDetail);
        NoteError(g_settingFailure.code, g_errorDetail);
        return End("setting-unreadable", kExitNotStarted);
    }

    // The box has been shown; result files of an earlier run stay as they are.
    if (BindLibrary() != 0) {
        g_end.box = g_bindingFailure.box;
        NoteError(g_bindingFailure.code, g_bindingFailure.detail);
        return End(g_bindingFailure.loaded ? "entry-point-missing" : "library-not-loaded",
                   kExitNotStarted);
    }

    UserAuthInt record;
    std::memset(&record, 0, sizeof record);

    int parsed = ParseSwitches(&record, argumentText);
    if (parsed == kParseUsageShown) return End("usage", kExitCompleted);
    if (parsed < 0) {
        platform::ShowErrorBox(g_errorText);
        g_end.box = g_errorText;
        return End("no-operation", kExitNoOperation);
    }

    // Everything that can stop the run does so before the library is called
    // and before any result file changes.
    const char* inner = nullptr;
    const char* outer = nullptr;
    if (FindSwitchInsideValue(argumentText, &inner, &outer)) {
        std::snprintf(g_errorText, kErrorTextSize, "Switch %s inside the value of %s!", inner, outer);
        platform::ShowErrorBox(g_errorText);
        g_end.box = g_errorText;
        return End("ambiguous-command-line", kExitNotStarted);
    }
    if (g_instanceIdUnusable) {
        g_end.box = "Invalid instance id!";
        platform::ShowErrorBox(g_end.box);
        return End("invalid-instance-id", kExitNotStarted);
    }
    if (g_instanceId[0] != '\0') {
        if (BindIdEntryPoints() != 0) {
            g_end.box = g_bindingFailure.box;
            NoteError(g_bindingFailure.code, g_bindingFailure.detail);
            return End("entry-point-missing", kExitNotStarted);
        }
        AppendInstanceSuffix();
    }
    int created = CreateResultFiles(&g_files);
    if (created == kLaneBusy) {
        g_end.box = g_errorText;
        return End("lane-busy", kExitNotStarted);
    }
    if (created != kFilesCreated) {
        NoteFileError(g_files);
        return End(created == kFilesNotDurable ? "not-durable" : "files-not-created", kExitNotStarted);
    }
    g_end.flushUnsupported = g_files.flushUnsupported;

    // From the call to the last line of the journal nothing is allocated: a
    // library that faulted may have left the heap locked or broken.
    TextSpan spans[kSwitchSpanCount];
    int spanCount = FindSwitchSpans(argumentText, spans);
    unsigned long journalCode = 0;
    if (!JournalCall(argumentText, spans, spanCount, record.TraceID, sizeof record.TraceID, &journalCode,
                     &g_end.flushUnsupported)) {
        // Without its call line on disk a run cannot be found again after a
        // crash: the terminal is not asked.
        AbandonResultFiles(&g_files);
        std::snprintf(g_errorText, kErrorTextSize, "Unable to write file %s! %lx (%lu)", JournalFilePath(),
                      journalCode, journalCode);
        platform::ShowErrorBox(g_errorText);
        g_end.box = g_errorText;
        platform::DescribeError(journalCode, g_errorDetail, sizeof g_errorDetail);
        NoteError(journalCode, g_errorDetail);
        return End("not-durable", kExitNotStarted);
    }
    g_record = &record;
    g_callStart = platform::MonotonicMilliseconds();
    platform::CatchExit(OnLibraryExit);
    CallOutcome call = ProcessRecord(&record);
    platform::CatchExit(nullptr);
    int exitCode = WriteOutcome(call, false);
    g_record = nullptr;   // it lives in this frame

    // After a fault none of the library's code may run again, not even its
    // unload: it could wait forever on a lock the fault left held.
    if (!call.clean) platform::EndProcessNow(exitCode);
    // The outcome is written: nothing the unload does can change the code.
    platform::HoldExitCode(exitCode);
    UnloadLibrary();
    platform::EndProcessNow(exitCode);
}
