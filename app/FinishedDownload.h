// The reaction to a finished ZIP download: remember it, open it, and show the
// reminder in the bottom-right corner with its title and the verdict.
#pragma once

#include <cstdint>
#include <string>

// The watchers' callback, run on a worker thread for every change record.
// It copies the path, keeps only finished ZIP downloads and hands them to the
// GUI thread; it never waits for that thread. Records arriving faster than
// the GUI takes them are merged: the GUI handles the newest path.
void checkFinishedDownload(int action, const char* path, int length);

// Steps run on the GUI thread for one finished download: lastArchivePath,
// the reminder shown and placed, its title and marker, the archive opened,
// the verdict.
void onFinishedDownload(const std::string& path);

// Counts every finished download handled so far; the main window compares it
// with the one it listed to see whether zipArchive still holds its archive.
uint64_t finishedDownloadCount();

// Shows the "..." marker after the reminder's title when the title is longer
// than 16 ANSI bytes.
void updateTitleMarker(const std::string& title);

// Parks the reminder beside the taskbar: bottom-right in the work area of the
// primary monitor.
void placeReminder();

// "安全打开": hides the reminder and opens the main window on the archive.
void onSafeOpen();

// How many accepted records reached checkFinishedDownload (for load tests).
uint64_t acceptedDownloadRecords();
