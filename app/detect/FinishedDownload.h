// The reaction to a finished ZIP download: remember it, open it, and show the
// reminder in the bottom-right corner with its title and the verdict.
//
// Worker threads turn change records into download events (see
// DownloadRecordFilter) and queue them for the GUI thread, which judges each
// one against the file as it is now (see DownloadJudge): a renamed download
// is reminded at once, a file written in place once its writer has closed it,
// and each download once.
#pragma once

#include <cstdint>
#include <string>

// The watchers' callback, run on a worker thread for every change record.
// It copies the path (wide, as the watcher reports it), keeps the records
// that can mean a finished download and hands them to the GUI thread; it
// never waits for that thread.
void checkFinishedDownload(int action, const wchar_t* path, int length);

// Steps run on the GUI thread for one finished download: lastArchivePath,
// the reminder shown and placed, its title and marker, the archive opened
// (in a new archive object), the verdict.
void onFinishedDownload(const std::wstring& path);

// Shows the "..." marker after the reminder's title when the title is wider
// than 16 (see titleWidth).
void updateTitleMarker(const std::wstring& title);

// Parks the reminder beside the taskbar: bottom-right in the work area of the
// primary monitor.
void placeReminder();

// "安全打开": hides the reminder and opens the main window on the archive.
void onSafeOpen();

// The reminder's close box: hides it; watching goes on.
void onReminderCloseBox();

// How many change records were taken for a ZIP written or renamed into
// place (for the load tests).
uint64_t acceptedDownloadRecords();
