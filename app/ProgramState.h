// The variables where the application's parts meet: the last finished
// download, the archive opened on it, the entry count the main window listed
// and the extraction's destination. One set for the process.
//
// The state has no lock: it is read and written on the GUI thread only. The
// watchers' workers hand finished paths to the GUI thread instead of writing
// here themselves.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "archive/Archive.h"

struct ProgramState {
    std::wstring lastArchivePath;          // full path of the most recent finished download
    // The archive opened on it, whatever its format; null while it is being
    // checked and when it could not be opened. Each finished download gets a
    // new object, so a window that lists the previous one keeps it (and its
    // open file) by holding a reference of its own.
    std::shared_ptr<Archive> zipArchive;
    int32_t listedEntryCount = 0;          // entries listed when the main window was created
    std::wstring destinationFolder;        // ends in "\" once a destination was chosen
};

// Makes the process-wide state with its initial values: texts empty, count 0,
// no archive. Called once at start-up; a second call
// returns the existing state.
ProgramState& createProgramState();

// The process-wide state; made on first use if start-up has not made it yet.
ProgramState& programState();

// Releases the state in order: lastArchivePath, then zipArchive (closed when
// no window or run holds it any more), then destinationFolder. Harmless when there is none.
void destroyProgramState();

// The destination buttons' actions on programState().destinationFolder; a
// failed lookup or a cancelled browser leaves it as it was.
void useDesktopDestination();
void chooseCustomDestination();
