#include "export/result_files.h"

#include <cstdio>

#include "paylib/process_state.h"
#include "paylib/settings.h"

namespace {

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

    // All three are opened before any is emptied: a run that cannot start
    // leaves the last run's results as they were.
    int failed = -1;
    unsigned long code = 0;
    for (int i = 0; i < kResultFileCount && failed < 0; ++i)
        if (!platform::OpenResultFile(files->path[i], &files->handle[i], &code)) failed = i;
    for (int i = 0; i < kResultFileCount && failed < 0; ++i)
        if (!platform::TruncateFile(files->handle[i], &code)) failed = i;
    if (failed < 0) return 0;

    Remember(files, failed, code);
    for (platform::FileHandle& h : files->handle) {
        unsigned long ignored;
        if (h != platform::kNoFile) platform::CloseFile(h, &ignored);
        h = platform::kNoFile;
    }
    ShowFileBox("Unable to create file %s! %lx (%lu)", files->path[failed], code);
    return -1;
}

void WriteResultFile(ResultFiles* files, ResultFile which, const char* bytes, std::size_t size)
{
    unsigned long code = 0;
    if (files->handle[which] == platform::kNoFile) return;
    if (!platform::WriteWholly(files->handle[which], bytes, size, &code))
        Remember(files, which, code);
}

int CloseResultFiles(ResultFiles* files)
{
    for (int i = 0; i < kResultFileCount; ++i) {
        unsigned long code = 0;
        if (files->handle[i] == platform::kNoFile) continue;
        if (!platform::CloseFile(files->handle[i], &code)) Remember(files, i, code);
        files->handle[i] = platform::kNoFile;
    }
    if (files->firstFailed < 0) return 0;
    ShowFileBox("Unable to write file %s! %lx (%lu)", files->path[files->firstFailed],
                files->errorCode);
    return -1;
}
