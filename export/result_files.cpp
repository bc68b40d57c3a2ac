#include "export/result_files.h"

#include <cstdio>
#include <initializer_list>

#include "paylib/process_state.h"
#include "paylib/settings.h"

namespace {

// Another lane holds output.dat for the microseconds of its write.
constexpr int kSharedFileWait = 2000;
// ENOENT and ERROR_FILE_NOT_FOUND alike.
constexpr unsigned long kFileGone = 2;

void Remember(ResultFiles* files, int which, unsigned long code)
{
    if (files->fileError[which] == 0) files->fileError[which] = code;
    if (files->firstFailed >= 0) return;
    files->firstFailed = which;
    files->errorCode = code;
}

void ShowFileBox(const char* format, const char* path, unsigned long code)
{
    std::snprintf(g_errorText, kErrorTextSize, format, path, code, code);
    platform::ShowErrorBox(g_errorText);
}

}  // namespace

int CreateResultFiles(ResultFiles* files)
{
    files->path[kOutputDatFile] = g_outputDatPath;
    files->path[kOutputExDatFile] = g_outputExDatPath;
    files->path[kOutputExTxtFile] = g_outputExTxtPath;
    files->firstFailed = -1;
    files->errorCode = 0;
    for (platform::FileHandle& h : files->handle) h = platform::kNoFile;
    for (unsigned long& e : files->fileError) e = 0;
    files->flushUnsupported = false;

    // All three are opened before any is emptied: a run that cannot start
    // leaves the last run's results as they were.
    int failed = -1;
    unsigned long code = 0;
    for (int i = 0; i < kResultFileCount; ++i)
        if (!platform::MakeFullPath(files->path[i], files->fullPath[i], platform::kFullPathSize))
            std::snprintf(files->fullPath[i], platform::kFullPathSize, "%s", files->path[i]);
    bool created[kResultFileCount] = {};
    for (int i = 0; i < kResultFileCount && failed < 0; ++i)
        if (!platform::OpenResultFile(files->path[i], &files->handle[i], &created[i], &code))
            failed = i;
    // A second name planted on a result file would receive the answer too.
    bool secondName = false;
    for (int i = 0; i < kResultFileCount && failed < 0; ++i)
        if (!platform::IsFileAtPath(files->handle[i], files->fullPath[i])) {
            failed = i;
            code = kFileGone;
            secondName = true;
        }
    // One run per lane: a second run would empty the first one's answer or
    // mix its own into it. A file system without locks cannot tell; the run
    // goes on there as it always has.
    bool busy = failed < 0 &&
                platform::TryLockFile(files->handle[kOutputExDatFile]) == platform::LockStatus::kBusy;
    for (int i = 0; i < kResultFileCount && failed < 0 && !busy; ++i) {
        bool shared = i == kOutputDatFile;
        bool locked = shared && platform::LockFileWaiting(files->handle[i], kSharedFileWait);
        if (!platform::TruncateFile(files->handle[i], &code)) failed = i;
        if (locked) platform::UnlockFile(files->handle[i]);
    }
    int unflushed = -1;
    if (failed < 0 && !busy) {
        // On disk before the library is called: after a power cut during the
        // call an old answer must not come back, nor a new file vanish.
        int firstCreated = -1;
        for (int i = 0; i < kResultFileCount; ++i) {
            unsigned long flushCode = 0;
            platform::FlushResult r = platform::FlushFileChecked(files->handle[i], &flushCode);
            if (r == platform::FlushResult::kUnsupported) files->flushUnsupported = true;
            if (r == platform::FlushResult::kFailed && unflushed < 0) {
                unflushed = i;
                code = flushCode;
            }
            if (created[i] && firstCreated < 0) firstCreated = i;
        }
        // The three share their folder.
        if (firstCreated >= 0 && unflushed < 0) {
            platform::FlushResult r = platform::FlushFolderEntryChecked(files->fullPath[kOutputExDatFile], &code);
            if (r == platform::FlushResult::kUnsupported) files->flushUnsupported = true;
            if (r == platform::FlushResult::kFailed) unflushed = firstCreated;
        }
        if (unflushed < 0) return kFilesCreated;
        failed = unflushed;
    }

    if (failed >= 0) Remember(files, failed, code);
    for (platform::FileHandle& h : files->handle) {
        unsigned long ignored;
        if (h != platform::kNoFile) platform::CloseFile(h, &ignored);
        h = platform::kNoFile;
    }
    if (busy) {
        std::snprintf(g_errorText, kErrorTextSize, "Another run is using %s!",
                      files->path[kOutputExDatFile]);
        platform::ShowErrorBox(g_errorText);
        return kLaneBusy;
    }
    if (unflushed >= 0 || secondName) {
        ShowFileBox("Unable to write file %s! %lx (%lu)", files->path[failed], code);
        return secondName ? kFilesNotCreated : kFilesNotDurable;
    }
    ShowFileBox("Unable to create file %s! %lx (%lu)", files->path[failed], code);
    return kFilesNotCreated;
}

void AbandonResultFiles(ResultFiles* files)
{
    for (platform::FileHandle& h : files->handle) {
        unsigned long ignored;
        if (h != platform::kNoFile) platform::CloseFile(h, &ignored);
        h = platform::kNoFile;
    }
}

void WriteResultFile(ResultFiles* files, ResultFile which, const char* bytes, std::size_t size)
{
    unsigned long code = 0;
    platform::FileHandle h = files->handle[which];
    if (h == platform::kNoFile) return;
    // output.dat is every lane's: written whole under a short lock, it holds
    // one complete answer, that of the lane that wrote last.
    bool locked = which == kOutputDatFile && platform::LockFileWaiting(h, kSharedFileWait);
    if (!platform::ReplaceContent(h, bytes, size, &code)) Remember(files, which, code);
    if (locked) platform::UnlockFile(h);
}

int CloseResultFiles(ResultFiles* files)
{
    // The lane's own file last: its lock holds the lane until all is written.
    for (int i : {kOutputDatFile, kOutputExTxtFile, kOutputExDatFile}) {
        unsigned long code = 0;
        if (files->handle[i] == platform::kNoFile) continue;
        // Bytes written into a file that was removed or replaced during the
        // call reach nobody: the caller would find no answer, or another one.
        if (!platform::IsFileAtPath(files->handle[i], files->fullPath[i]))
            Remember(files, i, kFileGone);
        // A file system that cannot flush keeps the run going, as at the
        // start, and the run says that its answer is not known to be kept.
        if (!platform::CloseFlushed(files->handle[i], &code, &files->flushUnsupported)) Remember(files, i, code);
        files->handle[i] = platform::kNoFile;
    }
    if (files->firstFailed < 0) return 0;
    std::snprintf(g_errorText, kErrorTextSize, "Unable to write file %s! %lx (%lu)",
                  files->path[files->firstFailed], files->errorCode, files->errorCode);
    return -1;
}
