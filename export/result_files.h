// The three result files of a run. They are opened before the library is
// called, so that a folder that cannot take them stops the run before any
// money moves, an earlier result can never pass for this run's, and a
// library that changes the current folder cannot move them.
#pragma once

#include <cstddef>

#include "platform/platform.h"

enum ResultFile { kOutputDatFile, kOutputExDatFile, kOutputExTxtFile, kResultFileCount };

struct ResultFiles {
    platform::FileHandle handle[kResultFileCount];
    const char* path[kResultFileCount];
    // Each path as the current folder made it when the file was opened.
    char fullPath[kResultFileCount][platform::kFullPathSize];
    int firstFailed;              // -1 while every open, write and close succeeded
    unsigned long errorCode;      // the platform's code of that failure
    unsigned long fileError[kResultFileCount];   // per file, 0 for none
    bool flushUnsupported;        // a file system could not flush them
};

constexpr int kFilesCreated = 0;
constexpr int kFilesNotCreated = -1;
constexpr int kLaneBusy = -2;
constexpr int kFilesNotDurable = -3;

// Opens the three files at the paths prepared for this run, takes the lane's
// lock on output_ex.dat, then empties them. If one cannot be opened, the
// others are closed with their bytes left as they were, the box "Unable to
// create file %s! %x (%lu)" is shown and kFilesNotCreated returned; if another
// run holds the lane, nothing is emptied, the box "Another run is using %s!"
// is shown and kLaneBusy returned. A file with a second name (a hard link)
// counts as "Unable to write file %s! 2 (2)" (kFilesNotCreated, nothing
// emptied). The emptied files and the folder's entries are flushed; where a
// flush fails, "Unable to write file %s! %x (%lu)" is shown and
// kFilesNotDurable returned, the library must not be called.
int CreateResultFiles(ResultFiles* files);

// Closes the files of a run that stops before the call; what they hold is
// left as it is.
void AbandonResultFiles(ResultFiles* files);

// Writes one file's whole content from its start and cuts it there. A
// failure is remembered, not shown, so that the other files are still
// written.
void WriteResultFile(ResultFiles* files, ResultFile which, const char* bytes, std::size_t size);

// Closes the three files. 0 when every write and close succeeded and each
// file is still the one its path names; otherwise -1 with "Unable to write
// file %s! %x (%lu)" for the first file that failed (code 2 for a file that
// was removed or replaced) in g_errorText, for a box that the caller shows
// once the outcome is safe.
int CloseResultFiles(ResultFiles* files);
