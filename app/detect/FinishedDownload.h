// Noticing finished downloads: the change records the watchers report become
// one event per finished download, handed to the GUI thread.
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

// What is done with each finished download, on the GUI thread.
void setFinishedDownloadHandler(void (*handler)(const std::wstring& path));

// How many change records were taken for a ZIP written or renamed into
// place (for the load tests).
uint64_t acceptedDownloadRecords();
